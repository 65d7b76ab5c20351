// The main window at rest: layout, start-up, the key list and the word box,
// the file commands and what the program leaves behind at exit.
#include <QAction>
#include <QComboBox>
#include <QDirIterator>
#include <QFrame>
#include <QInputMethodEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QTemporaryFile>
#include <QTest>

#include <QCheckBox>
#include <QPushButton>
#include "app/helpview.hpp"
#include "app/setting.hpp"
#include "platform/file.hpp"
#include "tests/app/fake_desktop.hpp"
#include "tests/support/jis_forms.hpp"
#include "tests/support/scoped_env.hpp"
#include "text/cp932.hpp"

namespace korvalen::test {
namespace {

std::string Sjis(std::string_view utf8) {
    return Utf8ToCp932(utf8);
}

QStringList Lines(const QPlainTextEdit* box) {
    QStringList lines = box->toPlainText().split(QLatin1Char('\n'));
    if (!lines.isEmpty() && lines.last().isEmpty()) {
        lines.removeLast();
    }
    return lines;
}

QStringList Items(const QComboBox* combo) {
    QStringList items;
    for (int i = 0; i < combo->count(); ++i) {
        items << combo->itemText(i);
    }
    return items;
}

// Every file now in the test trash folder.
QStringList Trashed() {
    QStringList names;
    QDirIterator it(qEnvironmentVariable("XDG_DATA_HOME") + QStringLiteral("/Trash/files"));
    while (it.hasNext()) {
        it.next();
        if (it.fileName() != QStringLiteral(".") && it.fileName() != QStringLiteral("..")) {
            names << it.fileName();
        }
    }
    return names;
}

using MainWindow = WindowTest;

TEST_F(MainWindow, FirstStartWithoutIniOrRelationFile) {
    TMainForm& f = Start();
    EXPECT_EQ(desktop.messages, std::vector<QString>{QStringLiteral("関連ファイルがありません")});
    EXPECT_EQ(f.DCRelStr->count(), 0);
    EXPECT_EQ(f.pos(), QPoint(0, 0));
    EXPECT_EQ(f.size(), QSize(465, 270));
    EXPECT_TRUE(f.DropTarget());
    EXPECT_FALSE(f.DCRelStr->isEditable());
    EXPECT_TRUE(f.ERelFile->isReadOnly() && f.EOutputFile->isReadOnly());
    EXPECT_FALSE(f.PFileCount->isVisible());
    EXPECT_TRUE(f.MSearchStr->isReadOnly());
    EXPECT_EQ(f.MSearchStr->palette().color(QPalette::Active, QPalette::Text),
              InactiveCaptionColour());
    // Every item usable but Stop, and the editor's output item without a path.
    for (QMenu* menu : {f.MFile, f.MEdit, f.MSetting, f.MHelp}) {
        EXPECT_TRUE(menu->menuAction()->isEnabled());
        for (QAction* a : menu->actions()) {
            EXPECT_EQ(a->isEnabled(), a != f.MFileStop && a != f.MEditOut)
                << a->text().toStdString();
        }
    }
    EXPECT_EQ(f.HelpFile(), QStringLiteral(KORVALEN_HELP_SOURCE));

    f.show();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&f));
    EXPECT_EQ(QApplication::focusWidget(), f.DCRelStr);
    EXPECT_FALSE(f.MEditRel->isEnabled());  // entering the key list with no relation file
}

TEST_F(MainWindow, StartUpKeepsTheWindowOnThePrimaryScreen) {
    struct Case {
        int left, top, width, height;
        QPoint expected;
        bool second = false;  // a second screen right of the first
    };
    // Screen 1024 x 768; the second 1280 x 1024.
    const Case cases[] = {
        {900, 10, 465, 270, {559, 10}},            // off the right edge
        {-50, -20, 465, 270, {0, 0}},              // off the left and top
        {0, 0, 1200, 270, {-176, 0}},              // wider than the screen: stays negative
        {10, 700, 465, 270, {10, 498}},            // off the bottom
        {100, 100, 465, 270, {100, 100}},          // inside: untouched
        {2147483600, 10, 465, 270, {559, 10}},     // the int range's end, plus the width
        {10, 2147483600, 465, 270, {10, 498}},     // the same downwards
        {1500, 100, 465, 270, {1500, 100}, true},  // on the second screen: kept there
        {1000, 900, 465, 270, {1024, 754}, true},  // mostly on the second: pulled onto it
        {3000, -900, 465, 270, {559, 0}, true},    // off every screen: onto the primary
    };
    for (const Case& c : cases) {
        desktop.otherScreens.clear();
        if (c.second) {
            desktop.otherScreens.push_back(QRect(1024, 0, 1280, 1024));
        }
        WriteIni("[Position]\r\nTopPos=" + std::to_string(c.top) + "\r\nLeftPos=" +
                 std::to_string(c.left) + "\r\nHeight=" + std::to_string(c.height) +
                 "\r\nWidth=" + std::to_string(c.width) + "\r\n");
        desktop.screen = QRect(0, 0, 1024, 768);
        TMainForm& f = Start();
        EXPECT_EQ(f.pos(), c.expected) << c.left << "," << c.top << " " << c.width;
        EXPECT_EQ(f.size(), QSize(c.width, c.height));
        form.reset();
    }
}

TEST_F(MainWindow, KeyListAndWordsFromTheRelationFile) {
    const QString rel = Path(QStringLiteral("words.kvl"));
    // 0x81 0x20 is no character: it shows as marks and comes back as bytes.
    const std::string odd = std::string("a\x81 b", 4);
    WriteAll(rel, Sjis("色=赤, \"青,緑\" ,黄\r\nk=1\r\n\r\nK=2\r\nk =3\r\n色=白\r\n") + "k=" + odd);
    WriteIni("[File]\r\nRelFile=" + QFile::encodeName(rel).toStdString() + "\r\n");
    TMainForm& f = Start();
    EXPECT_TRUE(desktop.messages.empty());
    EXPECT_EQ(Items(f.DCRelStr), (QStringList{"（なし）", "色", "k", "k "}));
    EXPECT_EQ(f.DCRelStr->currentIndex(), 1);
    EXPECT_EQ(Lines(f.MSearchStr), (QStringList{"赤", "青,緑", "黄", "白"}));
    EXPECT_EQ(f.StatusText(), QStringLiteral("検索語 : 4語"));
    RunHost& host = f;

    // Choosing a key as the user does; the key itself first with AddSortWord.
    f.Options.AddSortWord = true;
    f.DCRelStr->setCurrentIndex(3);
    emit f.DCRelStr->activated(3);
    EXPECT_EQ(Lines(f.MSearchStr), (QStringList{"k ", "3"}));
    f.DCRelStr->setCurrentIndex(2);
    emit f.DCRelStr->activated(2);
    EXPECT_EQ(host.SearchWords(), (std::vector<std::string>{"k", "1", odd}));
    f.DCRelStr->setCurrentIndex(0);
    emit f.DCRelStr->activated(0);
    EXPECT_EQ(Lines(f.MSearchStr), (QStringList{"（なし）"}));
    EXPECT_EQ(f.StatusText(), QStringLiteral("検索語 : 1語"));

    // The file gone: a reload empties the key list and keeps the words.
    ASSERT_TRUE(QFile::remove(rel));
    f.MEditRelChg->trigger();
    EXPECT_EQ(desktop.messages.back(), QStringLiteral("関連ファイルがありません"));
    EXPECT_EQ(f.DCRelStr->count(), 0);
    EXPECT_EQ(Lines(f.MSearchStr), (QStringList{"（なし）"}));
}

TEST_F(MainWindow, WordEditModeAndItsColours) {
    TMainForm& f = Start();
    f.show();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&f));
    RunHost& host = f;
    const auto generation = host.WordsGeneration();

    f.MEditWord->trigger();
    EXPECT_TRUE(f.MEditWord->isChecked());
    EXPECT_FALSE(f.MSearchStr->isReadOnly());
    EXPECT_EQ(QApplication::focusWidget(), f.MSearchStr);
    EXPECT_EQ(f.MSearchStr->palette().color(QPalette::Active, QPalette::Text),
              QPalette().color(QPalette::Active, QPalette::Text));
    QTest::keyClicks(f.MSearchStr, QStringLiteral("a"));
    QTest::keyClick(f.MSearchStr, Qt::Key_Return);
    QTest::keyClick(f.MSearchStr, Qt::Key_Return);
    QTest::keyClicks(f.MSearchStr, QStringLiteral(" "));
    QTest::keyClick(f.MSearchStr, Qt::Key_Return);
    QTest::keyClicks(f.MSearchStr, QStringLiteral("b"));
    EXPECT_GT(host.WordsGeneration(), generation);
    EXPECT_EQ(host.SearchWords(), (std::vector<std::string>{"a", "", " ", "b"}));

    // Insert, with a modifier too, ends the edit: empty lines go, blanks stay.
    QTest::keyClick(f.MSearchStr, Qt::Key_Insert, Qt::ControlModifier);
    EXPECT_FALSE(f.MEditWord->isChecked());
    EXPECT_TRUE(f.MSearchStr->isReadOnly());
    EXPECT_EQ(f.MSearchStr->palette().color(QPalette::Active, QPalette::Text),
              InactiveCaptionColour());
    EXPECT_EQ(host.SearchWords(), (std::vector<std::string>{"a", " ", "b"}));
    EXPECT_EQ(f.StatusText(), QStringLiteral("検索語 : 3語"));

    // Tab leaves the box as for any control and ends the edit; no tab in a word.
    QTest::keyClick(f.MSearchStr, Qt::Key_Insert);
    QTest::keyClick(f.MSearchStr, Qt::Key_Tab);
    EXPECT_NE(QApplication::focusWidget(), f.MSearchStr);
    EXPECT_FALSE(f.MEditWord->isChecked());
    EXPECT_EQ(host.SearchWords(), (std::vector<std::string>{"a", " ", "b"}));

    // Leaving the box for another control ends an edit too.
    QTest::keyClick(f.MSearchStr, Qt::Key_Insert);
    EXPECT_TRUE(f.MEditWord->isChecked());
    f.DCRelStr->setFocus(Qt::TabFocusReason);
    EXPECT_FALSE(f.MEditWord->isChecked());
    EXPECT_TRUE(f.MSearchStr->isReadOnly());

    // Enter in the key list moves to the words, still read-only.
    QTest::keyClick(f.DCRelStr, Qt::Key_Return);
    EXPECT_EQ(QApplication::focusWidget(), f.MSearchStr);
    EXPECT_TRUE(f.MSearchStr->isReadOnly());
    EXPECT_FALSE(f.MEditWord->isChecked());
}

// What a Linux input method commits for ～－∥￠￡￢― is searched as the code
// page 932 character it stands for, not as the mark.
TEST_F(MainWindow, WordsTypedFromAnInputMethod) {
    TMainForm& f = Start();
    f.show();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&f));
    RunHost& host = f;
    for (const JisFormRow& r : kJisForms) {
        f.MSearchStr->clear();
        f.MEditWord->trigger();
        QInputMethodEvent commit;
        commit.setCommitString(QString::fromUtf8(r.typed.data(), r.typed.size()) +
                               QStringLiteral("a"));
        QApplication::sendEvent(f.MSearchStr, &commit);
        f.MEditWord->trigger();
        EXPECT_EQ(host.SearchWords(), std::vector<std::string>{std::string(r.cp932) + "a"})
            << r.typed;
    }
}

TEST_F(MainWindow, RelationFileCommand) {
    const QString rel = Path(QStringLiteral("r.kvl"));
    WriteAll(rel, "a=1,2\r\n");
    TMainForm& f = Start();
    desktop.messages.clear();

    // Cancelled with no path: nothing at all.
    desktop.files = {std::nullopt};
    f.MFileRel->trigger();
    EXPECT_TRUE(desktop.messages.empty());
    EXPECT_EQ(desktop.requests.back().title, QStringLiteral("関連ﾌｧｲﾙを選択"));

    desktop.files = {rel};
    f.MFileRel->trigger();
    EXPECT_EQ(f.ERelFile->text(), rel);
    EXPECT_TRUE(f.MEditRel->isEnabled());
    EXPECT_EQ(Lines(f.MSearchStr), (QStringList{"1", "2"}));

    // Cancelled with a path: the key list is read again, hand edits go.
    f.MSearchStr->setPlainText(QStringLiteral("typed"));
    desktop.files = {std::nullopt};
    f.MFileRel->trigger();
    EXPECT_EQ(desktop.requests.back().directory, dir.path() + QLatin1Char('/'));
    EXPECT_EQ(Lines(f.MSearchStr), (QStringList{"1", "2"}));

    // A typed name of no file: shown, and reported by the key list.
    desktop.files = {Path(QStringLiteral("none.kvl"))};
    f.MFileRel->trigger();
    EXPECT_EQ(f.ERelFile->text(), Path(QStringLiteral("none.kvl")));
    EXPECT_EQ(desktop.messages, std::vector<QString>{QStringLiteral("関連ファイルがありません")});
    EXPECT_EQ(f.DCRelStr->count(), 0);
}

TEST_F(MainWindow, OutputFileCommandAndCopyUnderAnotherName) {
    const QString out = Path(QStringLiteral("out.txt"));
    WriteAll(out, "hits\r\n");
    TMainForm& f = Start();
    desktop.files = {out};
    f.MFileOut->trigger();
    EXPECT_EQ(f.EOutputFile->text(), out);
    EXPECT_TRUE(f.MEditOut->isEnabled());

    // KS1: the dialog starts at the output file; onto itself nothing happens.
    desktop.files = {out};
    f.KS1->trigger();
    const FileDialogRequest& asked = desktop.requests.back();
    EXPECT_EQ(asked.title, QStringLiteral("出力ﾌｧｲﾙを指定"));
    EXPECT_EQ(asked.directory, dir.path() + QLatin1Char('/'));
    EXPECT_EQ(asked.fileName, QStringLiteral("out.txt"));
    EXPECT_EQ(ReadAll(out), "hits\r\n");

    // Onto an existing file: overwritten without a question; the path stays.
    const QString copy = Path(QStringLiteral("copy.txt"));
    WriteAll(copy, "older and longer\r\n");
    desktop.files = {copy};
    f.KS1->trigger();
    EXPECT_EQ(ReadAll(copy), "hits\r\n");
    EXPECT_TRUE(desktop.questions.empty());
    EXPECT_EQ(f.EOutputFile->text(), out);

    // Another letter case is another name.
    const QString upper = Path(QStringLiteral("OUT.txt"));
    desktop.files = {upper};
    f.KS1->trigger();
    EXPECT_EQ(ReadAll(upper), "hits\r\n");
}

TEST_F(MainWindow, DeleteCommandByDeleteMode) {
    const QString out = Path(QStringLiteral("del.txt"));
    WriteIni("[File]\r\nOutputFile=" + QFile::encodeName(out).toStdString() + "\r\n");
    TMainForm& f = Start();
    struct Case {
        int mode;
        bool answer;
        bool asked, gone, trashed;
    };
    const Case cases[] = {
        {0, true, true, true, true},   {0, false, true, false, false},
        {2, true, true, true, true},   {1, true, false, true, false},
        {3, true, false, true, false}, {255, true, false, true, false},
    };
    for (const Case& c : cases) {
        WriteAll(out, "x");
        const qsizetype trashedBefore = Trashed().size();
        desktop.questions.clear();
        desktop.answer = c.answer;
        f.Options.Delete = static_cast<std::uint8_t>(c.mode);
        f.MFileOutDel->trigger();
        EXPECT_EQ(!desktop.questions.empty(), c.asked) << c.mode;
        EXPECT_EQ(!QFile::exists(out), c.gone) << c.mode;
        EXPECT_EQ(Trashed().size() - trashedBefore, c.trashed ? 1 : 0) << c.mode;
        EXPECT_EQ(f.EOutputFile->text(), out);
    }
    // No file: no question.
    desktop.questions.clear();
    f.Options.Delete = 0;
    f.MFileOutDel->trigger();
    EXPECT_TRUE(desktop.questions.empty());
}

TEST_F(MainWindow, TheUsersTrashOrNowhere) {
    const QString home = Path(QStringLiteral("home"));
    const QString work = Path(QStringLiteral("work"));
    ASSERT_TRUE(QDir().mkpath(home) && QDir().mkpath(work));
    const QString out = Path(QStringLiteral("out.txt"));
    WriteIni("[File]\r\nOutputFile=" + QFile::encodeName(out).toStdString() + "\r\n");
    TMainForm& f = Start();
    f.Options.Delete = 0;
    const QString cwd = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(work));
    {
        // No ~/.local/share yet: the trash is made there, not in the working folder.
        ScopedEnv data("XDG_DATA_HOME", nullptr);
        ScopedEnv user("HOME", QFile::encodeName(home).constData());
        WriteAll(out, "x");
        f.MFileOutDel->trigger();
        EXPECT_EQ(ReadAll(home + QStringLiteral("/.local/share/Trash/files/out.txt")), "x");
        EXPECT_TRUE(QDir(work).isEmpty());
    }
    {
        // No trash can be made: the file stays, and the user hears of it.
        ScopedEnv data("XDG_DATA_HOME",
                       QFile::encodeName(out + QStringLiteral("/share")).constData());
        WriteAll(out, "y");
        desktop.messages.clear();
        f.MFileOutDel->trigger();
        EXPECT_EQ(ReadAll(out), "y");
        EXPECT_EQ(desktop.messages,
                  std::vector<QString>{QStringLiteral("「%1」をごみ箱に移動できません").arg(out)});
    }
    QDir::setCurrent(cwd);
}

TEST_F(MainWindow, ExitWritesThePathsAndRemovesTheOutputByOption) {
    struct Case {
        bool closeFileDelete;
        int mode;
        bool gone, trashed;
    };
    const Case cases[] = {{false, 0, false, false},
                          {true, 0, true, true},
                          {true, 2, true, false},
                          {true, 1, true, false}};
    const QString out = Path(QStringLiteral("end.txt"));
    for (const Case& c : cases) {
        WriteAll(out, "x");
        WriteIni("; mine\r\n[File]\r\nOutputFile=" + QFile::encodeName(out).toStdString() +
                 "\r\nDelete=" + std::to_string(c.mode) +
                 "\r\n[Other]\r\nCloseFileDelete=" + (c.closeFileDelete ? "1" : "0") + "\r\n");
        const qsizetype trashedBefore = Trashed().size();
        Start();
        form->MFileExit->trigger();
        form.reset();
        EXPECT_EQ(!QFile::exists(out), c.gone) << c.mode;
        EXPECT_EQ(Trashed().size() - trashedBefore, c.trashed ? 1 : 0) << c.mode;
        const std::string ini = IniText();
        EXPECT_NE(ini.find("RelFile=\r\n"), std::string::npos) << ini;
        EXPECT_NE(ini.find("OutputFile=" + QFile::encodeName(out).toStdString()),
                  std::string::npos);
        EXPECT_EQ(ini.rfind("; mine\r\n", 0), 0u);
    }
    // An empty output path: nothing to remove, the paths are still written.
    WriteIni("[Other]\r\nCloseFileDelete=1\r\n");
    Start();
    form.reset();
    EXPECT_NE(IniText().find("OutputFile=\r\n"), std::string::npos);
    EXPECT_TRUE(desktop.questions.size() == 1);  // only the case with Delete 0 asked
}

TEST_F(MainWindow, SavePositionWritesOnlyThePlace) {
    WriteIni("[File]\r\nRelFile=/x/y.kvl\r\n");
    desktop.screen = QRect(0, 0, 1024, 768);
    TMainForm& f = Start();
    f.move(30, 40);
    f.resize(500, 300);
    f.MSettingPos->trigger();
    const std::string ini = IniText();
    EXPECT_NE(ini.find("[Position]\r\nTopPos=40\r\nLeftPos=30\r\nHeight=300\r\nWidth=500\r\n"),
              std::string::npos)
        << ini;
    EXPECT_EQ(ini.find("OutputFile"), std::string::npos);
    EXPECT_EQ(desktop.messages.size(), 1u);  // the missing relation file only
}

TEST_F(MainWindow, EditorCommandsAndDoubleClicks) {
    const QString out = Path(QStringLiteral("with blank.txt"));
    WriteIni("[File]\r\nRelFile=/r/rel file.kvl\r\nOutputFile=" +
             QFile::encodeName(out).toStdString() + "\r\n");
    TMainForm& f = Start();
    // The boxes show the end of a path, where the file name is; the whole path as a tooltip.
    for (QLineEdit* box : {f.ERelFile, f.EOutputFile}) {
        EXPECT_EQ(box->cursorPosition(), box->text().size());
        EXPECT_EQ(box->toolTip(), box->text());
    }
    f.MEditOut->trigger();
    EXPECT_EQ(desktop.opened, std::vector<QString>{out});
    f.Options.Editor = "/usr/bin/my editor";
    f.MEditRel->setEnabled(false);
    QTest::mouseDClick(f.ERelFile, Qt::LeftButton);  // works with the item disabled
    QTest::mouseDClick(f.EOutputFile, Qt::LeftButton);
    const std::vector<std::pair<QString, QString>> expected = {
        {"/usr/bin/my editor", "/r/rel file.kvl"}, {"/usr/bin/my editor", out}};
    EXPECT_EQ(desktop.started, expected);
}

TEST_F(MainWindow, HelpContentsAndMissingHelpFile) {
    TMainForm& f = Start();
    f.MHelpTopic->trigger();
    EXPECT_TRUE(f.HelpViewer()->isVisible());
    EXPECT_EQ(f.HelpViewer()->CurrentTopic(), 0);
    f.HelpViewer()->SetHelpFile(Path(QStringLiteral("none.HLP")));
    f.MHelpTopic->trigger();
    EXPECT_EQ(f.HelpViewer()->CurrentTopic(), -1);
    f.close();
    EXPECT_FALSE(f.HelpViewer()->isVisible());
}

}  // namespace
}  // namespace korvalen::test

namespace korvalen::test {
namespace {

TEST(UnwritableIni, SavesThatFailAreReported) {
    // The INI file's folder is a file: nothing can be written there.
    QTemporaryFile notAFolder;
    ASSERT_TRUE(notAFolder.open());
    FakeDesktop desktop;
    const auto form = CreateForms(
        desktop, {QFile::encodeName(notAFolder.fileName() + "/korvalen.INI").toStdString(), {}});
    desktop.messages.clear();
    form->MSettingPos->trigger();
    ASSERT_EQ(desktop.messages.size(), 1u);
    EXPECT_TRUE(desktop.messages[0].startsWith(QStringLiteral("設定ファイルに保存できません：")));
    TSettingForm& s = *form->SettingForm();
    s.Fill();
    s.CCRText->setChecked(true);
    s.BSaveSet->click();
    EXPECT_EQ(desktop.messages.size(), 2u);
    EXPECT_TRUE(form->Options.CRText);  // applied all the same, as OK would
}

// A file the user may not write (faked: these tests may run as root).
class ReadOnlyOps : public FileOps {
  public:
    int Access(const char*, int) override {
        errno = EACCES;
        return -1;
    }
};

TEST_F(MainWindow, ReadOnlyIniIsNotReplaced) {
    const std::string text = "[Position]\r\nWidth=500\r\n";
    WriteIni(text);
    ReadOnlyOps ops;
    ScopedFileOps scope(ops);
    TMainForm& f = Start();
    desktop.messages.clear();
    f.MSettingPos->trigger();
    f.SettingForm()->BSaveSet->click();
    const QString said = QStringLiteral("設定ファイルに保存できません：") + Path("korvalen.INI");
    EXPECT_EQ(desktop.messages, (std::vector<QString>{said, said}));
    form.reset();  // the paths written at exit
    EXPECT_EQ(IniText(), text);
}

}  // namespace
}  // namespace korvalen::test
