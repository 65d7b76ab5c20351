// The main window at rest: layout, start-up, the key list and the word box,
// the file and editor commands and what the program leaves behind at exit.
#include "platform/editor.hpp"
#include "tests/app/fake_desktop.hpp"
#include "tests/search/fixture.hpp"
#include "tests/support/scoped_env.hpp"

namespace korvalen::test {
namespace {

QStringList Lines(const QPlainTextEdit* box) {
    return box->toPlainText().split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

qsizetype Trashed() {
    return QDir(qEnvironmentVariable("XDG_DATA_HOME") + "/Trash/files")
        .entryList(QDir::Files)
        .size();
}

class MainWindow : public WindowTest {
  protected:
    void Choose(int key) {
        form->DCRelStr->setCurrentIndex(key);
        emit form->DCRelStr->activated(key);
    }
};

TEST_F(MainWindow, FirstStartWithoutIniOrRelationFileAndTheWordEditMode) {
    TMainForm& f = Start();
    EXPECT_EQ(desktop.messages, std::vector<QString>{QStringLiteral("関連ファイルがありません")});
    EXPECT_EQ(f.DCRelStr->count(), 0);
    EXPECT_EQ(f.geometry(), QRect(0, 0, 465, 270));
    EXPECT_TRUE(f.ERelFile->isReadOnly() && f.EOutputFile->isReadOnly());
    EXPECT_FALSE(f.DCRelStr->isEditable());
    const auto editing = [&](bool on) {
        EXPECT_EQ(f.MEditWord->isChecked(), on);
        EXPECT_EQ(f.MSearchStr->isReadOnly(), !on);
        EXPECT_EQ(
            f.MSearchStr->palette().color(QPalette::Active, QPalette::Text),
            on ? QPalette().color(QPalette::Active, QPalette::Text) : InactiveCaptionColour());
    };
    editing(false);
    EXPECT_FALSE(f.MEditOut->isEnabled());  // no output path; the rest as the run test shows
    f.show();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&f));
    EXPECT_EQ(QApplication::focusWidget(), f.DCRelStr);
    EXPECT_FALSE(f.MEditRel->isEnabled());  // entering the key list with no relation file
    f.move(30, 40);                         // the frame's place, as the window manager keeps it
    f.resize(500, 300);
    f.MSettingPos->trigger();  // the place only
    EXPECT_EQ(IniText(), "[Position]\r\nTopPos=40\r\nLeftPos=30\r\nHeight=300\r\nWidth=500\r\n");

    f.MEditWord->trigger();
    editing(true);
    EXPECT_EQ(QApplication::focusWidget(), f.MSearchStr);
    QTest::keyClicks(f.MSearchStr, "a\r\r \rb");
    EXPECT_EQ(f.SearchWords(), (std::vector<std::string>{"a", "", " ", "b"}));

    // Insert, with a modifier too, ends the edit: empty lines go, blanks stay.
    QTest::keyClick(f.MSearchStr, Qt::Key_Insert, Qt::ControlModifier);
    editing(false);
    EXPECT_EQ(f.SearchWords(), (std::vector<std::string>{"a", " ", "b"}));
    EXPECT_EQ(f.StatusText(), QStringLiteral("検索語 : 3語"));

    // Insert starts an edit; leaving the box (Tab here) ends it; no tab in a word.
    QTest::keyClick(f.MSearchStr, Qt::Key_Insert);
    editing(true);
    QTest::keyClick(f.MSearchStr, Qt::Key_Tab);
    EXPECT_NE(QApplication::focusWidget(), f.MSearchStr);
    editing(false);
    EXPECT_EQ(f.SearchWords(), (std::vector<std::string>{"a", " ", "b"}));

    // Enter in the key list moves to the words, still read-only.
    QTest::keyClick(f.DCRelStr, Qt::Key_Return);
    EXPECT_EQ(QApplication::focusWidget(), f.MSearchStr);
    editing(false);
}

TEST_F(MainWindow, StartUpKeepsTheWindowOnTheScreens) {
    const QSize least = Start().minimumSizeHint();
    const QRect leastInTheCorner(QPoint(1024, 768) - QPoint(least.width(), least.height()), least);
    const struct {
        int left, top, width, height;
        QRect expected;
        bool second = false;
    } cases[] = {
        {-50, -20, 465, 270, {0, 0, 465, 270}},           // off the left and top
        {0, 0, 1200, 270, {0, 0, 1024, 270}},             // wider than the screen
        {2147483600, 10, 465, 270, {559, 10, 465, 270}},  // off the right, at the int range's end
        {10, 2147483600, 465, 270, {10, 498, 465, 270}},  // the same off the bottom
        {1500, 100, 465, 270, {1500, 100, 465, 270}, true},  // on the second screen: kept there
        {1000, 900, 465, 270, {1024, 754, 465, 270}, true},  // mostly on the second: pulled onto it
        {3000, -900, 465, 270, {559, 0, 465, 270}, true},    // off every screen: onto the primary
        {0, 0, 2147483647, 2147483647, {0, 0, 1024, 768}},   // no larger than the screen
        {1100, 0, 2147483647, 2147483647, {1024, 0, 1280, 1024}, true},
        {2147483600, 2147483600, -100, 0, leastInTheCorner},  // the least size, then placed
    };
    const QRect screens[] = {{0, 0, 1024, 768}, {1024, 0, 1280, 1024}};
    constexpr char kIni[] = "[Position]\r\nTopPos=%d\r\nLeftPos=%d\r\nHeight=%d\r\nWidth=%d";
    for (const auto& c : cases) {
        desktop.screens.assign(screens, screens + (c.second ? 2 : 1));
        WriteIni(QString::asprintf(kIni, c.top, c.left, c.height, c.width).toStdString());
        EXPECT_EQ(Start().geometry(), c.expected) << c.left << " " << c.top;
    }
}

TEST_F(MainWindow, KeyListAndWordsFromTheRelationFile) {
    // 0x81 0x20 is no character: it shows as marks and comes back as bytes.
    const std::string odd = std::string("a\x81 b", 4);
    const QString rel = File("words.kvl", Utf8ToCp932("色=赤,青\r\nk=1,") + odd);
    TMainForm& f = Start(FileIni("RelFile", rel));
    EXPECT_TRUE(desktop.messages.empty());
    QStringList keys;
    for (int i = 0; i < f.DCRelStr->count(); ++i) {
        keys << f.DCRelStr->itemText(i);
    }
    EXPECT_EQ(keys, (QStringList{"（なし）", "色", "k"}));
    EXPECT_EQ(f.DCRelStr->currentIndex(), 1);
    EXPECT_EQ(Lines(f.MSearchStr), (QStringList{"赤", "青"}));
    EXPECT_EQ(f.StatusText(), QStringLiteral("検索語 : 2語"));

    // Choosing a key as the user does; the key itself first with AddSortWord.
    f.Options.AddSortWord = true;
    Choose(2);
    EXPECT_EQ(f.SearchWords(), (std::vector<std::string>{"k", "1", odd}));
    Choose(0);
    EXPECT_EQ(Lines(f.MSearchStr), (QStringList{"（なし）"}));
    EXPECT_EQ(f.StatusText(), QStringLiteral("検索語 : 1語"));

    // The file gone: a reload empties the key list and keeps the words.
    ASSERT_TRUE(QFile::remove(rel));
    f.MEditRelChg->trigger();
    EXPECT_EQ(desktop.messages.back(), QStringLiteral("関連ファイルがありません"));
    EXPECT_EQ(f.DCRelStr->count(), 0);
    EXPECT_EQ(Lines(f.MSearchStr), (QStringList{"（なし）"}));
}

TEST_F(MainWindow, RelationAndOutputFileCommands) {
    const QString rel = File("r.kvl", "a=1,2\r\n"), out = File("out.txt", "hits\r\n");
    const QString none = Path("none.kvl");
    TMainForm& f = Start();
    desktop.messages.clear();
    // Cancelled with no path: nothing at all; with a path: the keys read again, hand edits gone.
    desktop.files = {"", rel, "", none};
    f.MFileRel->trigger();
    EXPECT_TRUE(desktop.messages.empty());
    EXPECT_EQ(desktop.requests.back().title, QStringLiteral("関連ﾌｧｲﾙを選択"));
    f.MFileRel->trigger();
    EXPECT_TRUE(f.MEditRel->isEnabled());
    f.MSearchStr->setPlainText(QStringLiteral("typed"));
    f.MFileRel->trigger();
    EXPECT_EQ(desktop.requests.back().directory, dir.path() + QLatin1Char('/'));
    EXPECT_EQ(Lines(f.MSearchStr), (QStringList{"1", "2"}));
    f.MFileRel->trigger();  // a typed name of no file: shown (the key list reports it)
    EXPECT_EQ(f.ERelFile->text(), none);

    // KS1 copies the output: the dialog starts at it; onto itself nothing happens;
    // an existing file is overwritten without a question; another letter case is another name.
    const QString copy = File("copy.txt", "older and longer\r\n"), upper = Path("OUT.txt");
    desktop.files = {out, out, copy, upper};
    f.MFileOut->trigger();
    EXPECT_TRUE(f.MEditOut->isEnabled());
    f.KS1->trigger();
    const FileDialogRequest& asked = desktop.requests.back();  // its title as a run's dialog
    EXPECT_EQ(asked.directory, dir.path() + QLatin1Char('/'));
    EXPECT_EQ(asked.fileName, QStringLiteral("out.txt"));
    EXPECT_EQ(ReadAll(out), "hits\r\n");
    f.KS1->trigger();
    f.KS1->trigger();
    EXPECT_EQ(ReadAll(copy) + ReadAll(upper), "hits\r\nhits\r\n");
    EXPECT_TRUE(desktop.questions.empty());
    EXPECT_EQ(f.EOutputFile->text(), out);
}

TEST_F(MainWindow, OutputRemovedByDeleteModeFromTheMenuAndAtExit) {
    const QString out = Path(QStringLiteral("del.txt"));
    const struct {
        int exit;  // 0 the menu's Delete, 1 exit with CloseFileDelete, 2 exit without
        int mode;
        bool asked, gone, trashed, answer = true;
    } cases[] = {{0, 0, true, true, true},   {0, 0, true, false, false, false},
                 {0, 2, true, true, true},   {0, 1, false, true, false},
                 {0, 3, false, true, false}, {0, 255, false, true, false},
                 {1, 0, true, true, true},   {1, 2, false, true, false},
                 {1, 1, false, true, false}, {2, 0, false, false, false}};
    for (const auto& c : cases) {
        WriteAll(out, "x");
        const qsizetype trashedBefore = Trashed();
        desktop.questions.clear();
        desktop.answer = c.answer;
        TMainForm& f =
            Start(FileIni("OutputFile", out) + "Delete=" + std::to_string(c.mode) +
                  "\r\n[Other]\r\nCloseFileDelete=" + (c.exit == 1 ? "1" : "0") + "\r\n");
        (c.exit == 0 ? f.MFileOutDel : f.MFileExit)->trigger();
        EXPECT_EQ(f.EOutputFile->text(), out);
        form.reset();
        EXPECT_EQ(!desktop.questions.empty(), c.asked) << c.exit << c.mode;
        EXPECT_EQ(!QFile::exists(out), c.gone) << c.exit << c.mode;
        EXPECT_EQ(Trashed() - trashedBefore, c.trashed ? 1 : 0) << c.exit << c.mode;
    }
    TMainForm& f = Start();  // Delete=0 from the last row
    desktop.questions.clear();
    ASSERT_TRUE(QFile::remove(out));
    f.MFileOutDel->trigger();  // no file: no question
    EXPECT_TRUE(desktop.questions.empty());

    // No trash can be made: the file stays, and the user hears of it.
    ScopedEnv data("XDG_DATA_HOME", QFile::encodeName(out + QStringLiteral("/share")).constData());
    WriteAll(out, "y");
    f.MFileOutDel->trigger();
    EXPECT_EQ(ReadAll(out), "y");
    EXPECT_EQ(desktop.messages.back(), QStringLiteral("「%1」をごみ箱に移動できません").arg(out));
}

TEST_F(MainWindow, EditorCommandsDoubleClicksAndHelp) {
    const QString out = Path(QStringLiteral("with blank.txt"));
    TMainForm& f =
        Start(FileIni("RelFile", "/r/rel file.kvl") + "OutputFile=" + Bytes(out) + "\r\n");
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
    const std::vector<std::pair<QString, QStringList>> expected = {
        {"/usr/bin/my editor", {"/r/rel file.kvl"}}, {"/usr/bin/my editor", {out}}};
    EXPECT_EQ(desktop.started, expected);

    f.MHelpTopic->trigger();
    EXPECT_TRUE(f.HelpViewer()->isVisible());
    EXPECT_EQ(f.HelpViewer()->CurrentTopic(), 0);
    f.HelpViewer()->SetHelpFile(Path(QStringLiteral("none.HLP")));
    f.MHelpTopic->trigger();
    EXPECT_EQ(f.HelpViewer()->CurrentTopic(), -1);
    f.close();
    EXPECT_FALSE(f.HelpViewer()->isVisible());
}

TEST_F(MainWindow, SavesThatFailAreReportedAndReplaceNothing) {
    const std::string text = "[Position]\r\nWidth=500\r\n";
    FailingOps ops("", FailingOps::Fail::Access, 0, EACCES);  // not writable, for root too
    ScopedFileOps scope(ops);
    TMainForm& f = Start(text);
    desktop.messages.clear();
    f.MSettingPos->trigger();
    TSettingForm& s = *f.SettingForm();
    s.Fill();
    s.CCRText->setChecked(true);
    s.BSaveSet->click();
    const QString said = QStringLiteral("設定ファイルに保存できません：") + Path("korvalen.INI");
    EXPECT_EQ(desktop.messages, (std::vector<QString>{said, said}));
    EXPECT_TRUE(f.Options.CRText);  // applied all the same, as OK would
    f.close();                      // the paths written at exit, said in the window
    EXPECT_EQ(desktop.messages, (std::vector<QString>{said, said, said}));
    form.reset();
    EXPECT_EQ(desktop.messages.size(), 3U);
    EXPECT_EQ(IniText(), text);
}

using Editor = WindowTest;

TEST_F(Editor, ArgumentsByEditorAndTemplate) {
    const std::string p = "/d/a b.txt", vimAt = "+call setcharpos('.',[0,7,3,0])";
    const struct {
        std::string name, line, path;
        int at, column;
        std::vector<std::string> want;
        int screen = 0;
    } cases[] = {
        {"vim", "", p, 7, 0, {"+7", p}},
        {"vim", "", p, 7, 3, {vimAt, p}},
        {"vim.gtk3", "", p, 7, 3, {vimAt, p}},  // recognised by the stem
        {"nvim-qt", "", p, 7, 0, {"+7", p}},
        {"emacs-gtk", "", p, 7, 3, {"+7:5", p}, 5},  // Emacs counts screen columns
        {"emacsclient", "", p, 7, 3, {"-n", "+7:5", p}, 5},
        {"emacsclient", "", p, 0, 0, {"-n", p}},  // never waits
        {"emacsclient", "+%l %f", p, 7, 0, {"-n", "+7", p}},
        {"gnome-text-editor", "", p, 7, 3, {"+7:3", p}},
        {"kwrite", "", p, 7, 3, {"--line", "7", "--column", "3", p}},
        {"mousepad", "", p, 7, 3, {"--line=7", p}},
        {"code", "", p, 7, 3, {"-g", p + ":7:3"}},
        {"vim", "", p, 0, 3, {p}},  // no line: the file's start
        {"other", "", p, 7, 3, {p}},
        {"other", "--line %l --col %c %f", p, 7, 3, {"--line", "7", "--col", "3", p}},
        {"other", "--col %c %f", p, 7, 0, {"--col", "1", p}},
        {"other", "%c %v %f", p, 7, 3, {"3", "5", p}, 5},
        {"vim", "\"-a b\" %f:%l 100%%", p, 7, 0, {"-a b", p + ":7", "100%"}},
        {"vim", "+%l 100%%f", p, 7, 0, {"+7", "100%f", p}},  // no %f: the path last
        {"vim", "  ", p, 7, 0, {"+7", p}},                   // blanks: as none
        {"vim", "+%l\" \"%f", p, 7, 0, {"+7", p}},        // "+%l" "%f" as the INI reader gives it
        {"vim", "\"+%l\" \"%f\"", p, 7, 0, {"+7", p}},    // as the dialog gives it
        {"vim", "", "-x.txt", 7, 0, {"+7", "./-x.txt"}},  // never an option
        {"vim", "", "+x.txt", 7, 0, {"+7", "./+x.txt"}},  // nor a command
    };
    for (const auto& c : cases) {
        EXPECT_EQ(EditorArguments("/bin/" + c.name, c.line, c.path, c.at, c.column, c.screen),
                  c.want)
            << c.name << " " << c.line;
    }
    TMainForm& f = Start();
    desktop.messages.clear();
    // A program that cannot start is named: the editor set, or the desktop's opener.
    desktop.startError = ENOENT;
    f.Options.Editor = "/no/such/vim";
    f.OpenWithEditor("/d/a.txt", 3);
    desktop.startError = 0;
    f.Options.Editor.clear();
    desktop.documentOpens = false;
    f.OpenWithEditor("/d/b.txt", 0);
    const QString cannot = QStringLiteral("エディタを起動できません：");
    EXPECT_EQ(
        desktop.messages,
        (std::vector<QString>{cannot + "/no/such/vim\n" +
                                  QString::fromLocal8Bit(std::strerror(ENOENT)) + "\n/d/a.txt",
                              cannot + "xdg-open\n既定のアプリケーションがありません\n/d/b.txt"}));
}

TEST_F(Editor, RealVimOpensAtTheLine) {
    const QString vim = QStandardPaths::findExecutable(QStringLiteral("vim"));
    if (vim.isEmpty()) {
        GTEST_SKIP() << "vim is not installed";
    }
    const QString file = File(QStringLiteral("日本語 'q' \"d\" $x;y (1).txt"), "1\n2\n3\n4\n5\n");
    const QString seen = Path(QStringLiteral("line")), script = Path(QStringLiteral("vim"));
    // Named vim for Vim's arguments; the real Vim writes the line it stands on.
    WriteAll(script, ("#!/bin/sh\nexec " + vim +
                      " -Es -N -u NONE -i NONE \"$@\" -c 'call writefile([line(\".\")], \"" + seen +
                      "\")' -c 'qa!'\n")
                         .toStdString());
    QFile::setPermissions(script, QFile::permissions(script) | QFile::ExeOwner);
    TMainForm& f = Start();
    desktop.reallyStart = true;
    f.Options.Editor = Bytes(script);
    f.OpenWithEditor(Bytes(file), 4);
    EXPECT_TRUE(QTest::qWaitFor([&] { return ReadAll(seen) == "4\n"; }, 10000)) << ReadAll(seen);
}

}  // namespace
}  // namespace korvalen::test
