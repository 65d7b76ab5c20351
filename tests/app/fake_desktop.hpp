// A desktop that answers every box and dialog from the test and records what was asked.
#pragma once

#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>
#include <QWidget>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "app/desktop.hpp"
#include "app/relmain.hpp"

namespace korvalen::test {

class FakeDesktop : public Desktop {
  public:
    void Message(QWidget*, const QString& text) override { messages.push_back(text); }
    bool Question(QWidget*, const QString& text) override {
        questions.push_back(text);
        return answer;
    }
    std::optional<QString> ChooseFile(QWidget*, const FileDialogRequest& request) override {
        requests.push_back(request);
        EXPECT_FALSE(files.empty()) << "unexpected file dialog: " << request.title.toStdString();
        const QString name = files.empty() ? QString() : files.front();
        if (!files.empty()) {
            files.pop_front();
        }
        return name.isEmpty() ? std::nullopt : std::optional<QString>(name);
    }
    Qt::KeyboardModifiers KeyboardModifiers() override { return modifiers; }
    QRect PrimaryScreen() override { return screens.front(); }
    std::vector<QRect> Screens() override { return screens; }
    MemoryStatus Memory() override { return memory; }
    int StartProgram(const std::string& program, const std::vector<std::string>& args) override {
        QStringList list;
        for (const std::string& arg : args) {
            list << QFile::decodeName(arg.c_str());
        }
        started.emplace_back(QFile::decodeName(program.c_str()), list);
        return reallyStart ? RealDesktop().StartProgram(program, args) : startError;
    }
    bool OpenDocument(const std::string& path) override {
        opened.push_back(QFile::decodeName(path.c_str()));
        return documentOpens;
    }

    std::vector<QString> messages;
    std::vector<QString> questions;
    bool answer = true;
    std::deque<QString> files;  // the file dialogs' answers in order, empty for Cancel
    std::vector<FileDialogRequest> requests;
    Qt::KeyboardModifiers modifiers = Qt::NoModifier;
    std::vector<QRect> screens{{0, 0, 1920, 1080}};  // the primary first
    MemoryStatus memory{std::int64_t{8} << 30, std::int64_t{4} << 30};
    std::vector<std::pair<QString, QStringList>> started;
    bool reallyStart = false;  // also start the programs
    int startError = 0;        // what a start gives when not really started
    bool documentOpens = true;
    std::vector<QString> opened;
};

inline std::string Bytes(const QString& path) {
    return QFile::encodeName(path).toStdString();
}

inline std::string ReadAll(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        return "<missing>";
    }
    return file.readAll().toStdString();
}

inline void WriteAll(const QString& path, std::string_view bytes) {
    QFile file(path);
    const auto size = static_cast<qint64>(bytes.size());
    ASSERT_TRUE(file.open(QIODevice::WriteOnly) && file.write(bytes.data(), size) == size)
        << path.toStdString();
}

// Saves what the user sees as PNG in the build folder, for a person to look at.
inline void Shot(QWidget& widget, const char* name) {
    EXPECT_TRUE(widget.grab().save(QStringLiteral(KORVALEN_SHOT_DIR "/") + name)) << name;
}

// A folder of its own for each test, with the INI file and the help file in it.
class WindowTest : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(dir.isValid()); }

    QString Path(const QString& name) const { return dir.filePath(name); }
    static std::string FileIni(const QString& key, const QString& path) {
        return "[File]\r\n" + key.toStdString() + "=" + Bytes(path) + "\r\n";
    }
    std::string IniText() const { return ReadAll(Path(QStringLiteral("korvalen.INI"))); }
    void WriteIni(std::string_view text) { WriteAll(Path(QStringLiteral("korvalen.INI")), text); }

    TMainForm& Start() {
        const QString ini = Path(QStringLiteral("korvalen.INI"));
        form = CreateForms(desktop, {QFile::encodeName(ini).toStdString(), KORVALEN_HELP_SOURCE});
        form->SetMessageInterval(std::chrono::microseconds(0));
        return *form;
    }

    QTemporaryDir dir;
    FakeDesktop desktop;
    std::unique_ptr<TMainForm> form;
};

}  // namespace korvalen::test
