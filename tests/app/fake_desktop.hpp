// A desktop that answers every box and dialog from the test and records what was asked.
// The headers every window test needs come with it.
#pragma once

#include <gtest/gtest.h>

#include <QtTest>
#include <QtWidgets>
#include <atomic>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "app/about.hpp"
#include "app/desktop.hpp"
#include "app/helpview.hpp"
#include "app/relmain.hpp"
#include "app/results.hpp"
#include "app/run_thread.hpp"
#include "app/setting.hpp"
#include "app/startup.hpp"
#include "platform/file.hpp"
#include "tests/support/temp_dir.hpp"
#include "text/cp932.hpp"

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
    return TempDir::Read(Bytes(path));
}

inline void WriteAll(const QString& path, std::string_view bytes) {
    TempDir::Write(Bytes(path), bytes);
}

// Saves what the user sees as PNG in the build folder, for a person to look at.
inline void Shot(QWidget& widget, const char* name) {
    EXPECT_TRUE(widget.grab().save(QStringLiteral(KORVALEN_SHOT_DIR "/") + name)) << name;
}

// Holds the run's thread as it opens one file, until released: what the
// window shows during a run, seen at a known point.
class Gate : public FileOps {
  public:
    explicit Gate(const QString& path) : path_(Bytes(path)), scope_(*this) {}
    ~Gate() override { Release(); }

    int Open(const char* path, int flags, mode_t mode) override {
        Hold(path);
        return FileOps::Open(path, flags, mode);
    }
    int OpenIn(int folder, const char* path, std::size_t leaf, int flags, mode_t mode) override {
        Hold(path);
        return FileOps::OpenIn(folder, path, leaf, flags, mode);
    }

    // True once the run waits here and the window has shown all it said before.
    bool Reached() {
        const bool held = QTest::qWaitFor([&] { return held_.load(); }, 20000);
        QCoreApplication::processEvents();
        return held;
    }
    void Release() {
        open_ = true;
        open_.notify_all();
    }

  private:
    void Hold(const char* path) {
        if (path == path_) {
            held_ = true;
            open_.wait(false);
        }
    }

    std::string path_;
    std::atomic<bool> held_ = false, open_ = false;
    ScopedFileOps scope_;
};

// A folder of its own for each test, with the INI file and the help file in it.
class WindowTest : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(dir.isValid()); }

    QString Path(const QString& name) const { return dir.filePath(name); }
    // Writes `bytes` to `name` in the test's folder, its folders made, and gives its path.
    QString File(const QString& name, std::string_view bytes) const {
        const QString path = Path(name);
        EXPECT_TRUE(QDir().mkpath(QFileInfo(path).path()));
        WriteAll(path, bytes);
        return path;
    }
    static std::string FileIni(const QString& key, const QString& path) {
        return "[File]\r\n" + key.toStdString() + "=" + Bytes(path) + "\r\n";
    }
    std::string IniText() const { return ReadAll(Path(QStringLiteral("korvalen.INI"))); }
    void WriteIni(std::string_view text) { WriteAll(Path(QStringLiteral("korvalen.INI")), text); }

    TMainForm& Start(std::string_view ini) {
        WriteIni(ini);
        return Start();
    }
    TMainForm& Start() {
        form = CreateForms(desktop,
                           {Bytes(Path(QStringLiteral("korvalen.INI"))), KORVALEN_HELP_SOURCE});
        // Every call of the run shown as it comes, in order.
        form->Runs().SetInterval(std::chrono::milliseconds(0));
        return *form;
    }

    // Waits for the run under way (or just refused) to end.
    RunOutcome Finish() {
        QSignalSpy ended(form.get(), &TMainForm::runEnded);
        EXPECT_TRUE(QTest::qWaitFor([&] { return !ended.isEmpty(); }, 60000));
        QCoreApplication::processEvents();  // a second end would show now
        EXPECT_EQ(ended.size(), 1);
        return ended.isEmpty() ? RunOutcome::Aborted : ended.front().front().value<RunOutcome>();
    }

    QTemporaryDir dir;
    FakeDesktop desktop;
    std::unique_ptr<TMainForm> form;
};

}  // namespace korvalen::test
