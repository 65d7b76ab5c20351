// The start-up: Qt's texts in Japanese, and file names on the command line
// searched as a drop, by this window or by the one already running.
#include <QLocale>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QTest>
#include <QTranslator>

#include "app/startup.hpp"
#include "tests/app/fake_desktop.hpp"

namespace korvalen::test {
namespace {

TEST(QtTranslation, JapaneseUnlessQtSpeaksTheLocaleAndInTheQuestionBox) {
    const std::pair<const char*, QString> rows[] = {
        {"en_US", "ja"}, {"C", "ja"}, {"de_DE", "de"}, {"ja_JP", "ja"}};
    QTranslator translator;
    for (const auto& [locale, language] : rows) {
        ASSERT_TRUE(LoadQtTranslation(translator, QLocale(QString::fromLatin1(locale)))) << locale;
        EXPECT_EQ(translator.language().left(2), language) << locale;
    }
    QCoreApplication::installTranslator(&translator);
    QMessageBox box(QMessageBox::Information, QStringLiteral("Korvalen"),
                    QStringLiteral("「/home/user/out.txt」をごみ箱に移動しますか？"),
                    QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
    JapaneseYesNo(box);
    box.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&box));
    EXPECT_EQ(box.button(QMessageBox::Yes)->text() + box.button(QMessageBox::No)->text() +
                  box.button(QMessageBox::Cancel)->text(),
              QStringLiteral("はいいいえキャンセル"));
    EXPECT_TRUE(box.grab().save(QStringLiteral(KORVALEN_SHOT_DIR "/question.png")));
    QCoreApplication::removeTranslator(&translator);
}

TEST(CommandLine, Parse) {
    using A = CommandLine::Action;
    const struct {
        std::vector<std::string> args;
        A action;
        std::vector<std::string> files;
    } rows[] = {
        {{"a.txt", "/x/b c.txt", "../d", "-"},
         A::Start,
         {"/w/a.txt", "/x/b c.txt", "/w/../d", "/w/-"}},
        {{"--", "-f", "--help"}, A::Start, {"/w/-f", "/w/--help"}},
        {{"-x", "a"}, A::Error, {"/w/a"}},
        {{"-x", "--help"}, A::Help, {}},
        {{"--help-path"}, A::HelpPath, {}},
    };
    for (const auto& row : rows) {
        const CommandLine line = ParseCommandLine(row.args, "/w");
        EXPECT_EQ(line.action, row.action) << row.args.front();
        EXPECT_EQ(line.files, row.files) << row.args.front();
    }
}

// Two real programs in a folder of their own: the first searches the file it
// was started with; the second hands its file to the first and ends.
TEST(CommandLine, FilesAreSearchedAsADropByTheRunningWindow) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const auto in = [&](const char* name) { return dir.filePath(QString::fromLatin1(name)); };
    ASSERT_TRUE(QFile::copy(QStringLiteral(KORVALEN_EXE), in("korvalen")));
    const std::string ini = "[File]\r\nRelFile=" + in("rel.kvl").toStdString() +
                            "\r\nOutputFile=" + in("out.txt").toStdString() + "\r\n";
    for (const auto& [name, text] : {std::pair{"rel.kvl", "zz=alpha\r\n"},
                                     {"a.txt", "one alpha\r\n"},
                                     {"b.txt", "two\r\nalpha two\r\n"},
                                     {"korvalen.INI", ini.c_str()}}) {
        WriteAll(in(name), text);
    }
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), dir.path());  // the socket's folder
    QProcess first, second;
    const auto start = [&](QProcess& process, const char* file) {
        process.setProcessEnvironment(env);
        process.setWorkingDirectory(dir.path());
        process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process.start(in("korvalen"), {QString::fromLatin1(file)});
    };
    const auto hits = [&](const char* line) {
        const auto found = [&] { return ReadAll(in("out.txt")).find(line) != std::string::npos; };
        return QTest::qWaitFor(found, 20000);
    };
    start(first, "a.txt");
    EXPECT_TRUE(hits("/a.txt(1) :(alpha)one alpha\r\n")) << ReadAll(in("out.txt"));
    start(second, "b.txt");
    ASSERT_TRUE(second.waitForFinished(20000));
    EXPECT_EQ(second.exitCode(), 0);
    EXPECT_TRUE(hits("/b.txt(2) :(alpha)alpha two\r\n")) << ReadAll(in("out.txt"));
    first.kill();
    first.waitForFinished();
}

}  // namespace
}  // namespace korvalen::test
