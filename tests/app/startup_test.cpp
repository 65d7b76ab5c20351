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

using CommandLine = WindowTest;

TEST_F(CommandLine, Parse) {
    using A = korvalen::CommandLine::Action;
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
        const korvalen::CommandLine line = ParseCommandLine(row.args, "/w");
        EXPECT_EQ(line.action, row.action) << row.args.front();
        EXPECT_EQ(line.files, row.files) << row.args.front();
    }
}

// Two real programs in a folder of their own: the first searches the file it
// was started with; the second hands its file to the first and ends.
TEST_F(CommandLine, FilesAreSearchedAsADropByTheRunningWindow) {
    const QString out = Path("out.txt");
    ASSERT_TRUE(QFile::copy(QStringLiteral(KORVALEN_EXE), Path("korvalen")));
    WriteIni(FileIni("RelFile", Path("rel.kvl")) + "OutputFile=" + Bytes(out) + "\r\n");
    WriteAll(Path("rel.kvl"), "zz=alpha\r\n");
    WriteAll(Path("a.txt"), "one alpha\r\n");
    WriteAll(Path("b.txt"), "two\r\nalpha two\r\n");
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), dir.path());  // the socket's folder
    QProcess first, second;
    for (QProcess* process : {&first, &second}) {
        process->setProcessEnvironment(env);
        process->setWorkingDirectory(dir.path());
        process->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    }
    const auto hits = [&](const char* line) {
        return QTest::qWaitFor([&] { return ReadAll(out).find(line) != std::string::npos; }, 20000);
    };
    first.start(Path("korvalen"), {QStringLiteral("a.txt")});
    EXPECT_TRUE(hits("/a.txt(1) :(alpha)one alpha\r\n")) << ReadAll(out);
    second.start(Path("korvalen"), {QStringLiteral("b.txt")});
    ASSERT_TRUE(second.waitForFinished(20000));
    EXPECT_EQ(second.exitCode(), 0);
    EXPECT_TRUE(hits("/b.txt(2) :(alpha)alpha two\r\n")) << ReadAll(out);
    first.kill();
    first.waitForFinished();
}

}  // namespace
}  // namespace korvalen::test
