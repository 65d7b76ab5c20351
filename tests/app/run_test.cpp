// Runs started by drops on the window or the command line: what the user sees
// before, during and after, and the results window. What the output file holds
// is the core's; here it only shows what the window handed the run.
#include <cstdint>
#include <cstdio>
#include <iterator>

#include "tests/app/fake_desktop.hpp"

namespace korvalen::test {
namespace {

class Run : public WindowTest {
  protected:
    // The window, shown, with `words` in the word box and `out` as output.
    TMainForm& Ready(const QString& words, const QString& out) {
        TMainForm& f = Start(FileIni("OutputFile", out));
        f.MSearchStr->setPlainText(words);
        f.show();
        return f;
    }

    // Drops as a file manager would; true when the window took them.
    bool Drop(TMainForm& f, const QStringList& paths) {
        QList<QUrl> urls;
        std::transform(paths.begin(), paths.end(), std::back_inserter(urls), QUrl::fromLocalFile);
        return DropUrls(f, urls);
    }
    bool DropUrls(TMainForm& f, const QList<QUrl>& urls) {
        QMimeData mime;
        mime.setUrls(urls);
        const QPoint at = f.MSearchStr->geometry().center();
        QDragEnterEvent enter(at, Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(&f, &enter);
        if (!enter.isAccepted()) {
            return false;
        }
        QDropEvent drop(QPointF(at), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(&f, &drop);
        return drop.isAccepted();
    }
    RunOutcome Search(TMainForm& f, const QStringList& paths) {
        EXPECT_TRUE(Drop(f, paths));
        return Finish();
    }
};

// The hit line of a file of one line, `word`.
std::string Hit(const QString& path, const std::string& word = "hit") {
    return Bytes(path) + "(1) :(" + word + ")" + word + "\r\n";
}

TEST_F(Run, DropLocksTheWindowAndShowsItsProgress) {
    const std::string word = Utf8ToCp932("検索語");
    const QString a = File("a.txt", word + "\r\n"), b = File("b.txt", "nothing\r\n"),
                  out = Path("out.txt");
    TMainForm& f = Ready(QStringLiteral("検索語"), out);
    f.Options.SearchIconize = true;
    // Exit Stop Delete Edit Relation Output Settings Copy Help, the key list, both
    // paths, the words, the bar, the drop.
    const auto usable = [&] {
        std::vector<bool> on;
        for (const QObject* item : std::initializer_list<const QObject*>{
                 f.MFileExit, f.MFileStop, f.MFileOutDel, f.MEdit->menuAction(), f.MFileRel,
                 f.MFileOut, f.MSetting->menuAction(), f.KS1, f.MHelp->menuAction(), f.DCRelStr,
                 f.ERelFile, f.EOutputFile, f.MSearchStr}) {
            on.push_back(item->property("enabled").toBool());
        }
        return on.insert(on.end(), {f.PFileCount->isVisible(), f.DropTarget()}), on;
    };
    const std::vector<bool> atRest = {1, 0, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 0, 1};
    EXPECT_EQ(usable(), atRest);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&f));
    Shot(f, "main.png");
    Gate gate(a);
    ASSERT_TRUE(Drop(f, {a, b}));
    desktop.answer = false;
    EXPECT_FALSE(f.close());  // asked from the drop on, before the run starts too
    EXPECT_EQ(desktop.questions, std::vector<QString>{"検索を中止して終了しますか？"});
    ASSERT_TRUE(gate.Reached());
    const std::vector<bool> during = usable();
    Shot(f, "main_running.png");
    const auto [minimized, caption, iconText] =
        std::tuple(f.isMinimized(), f.windowTitle(), f.windowIconText());
    EXPECT_FALSE(f.DropFiles({Bytes(b)}));  // a drop let in before the run began is refused
    gate.Release();
    EXPECT_EQ(Finish(), RunOutcome::Finished);
    EXPECT_EQ(during, (std::vector<bool>{0, 1, 0, 0, 0, 0, 0, 1, 1, 0, 0, 0, 1, 1, 0}));
    EXPECT_EQ(usable(), atRest);
    EXPECT_TRUE(minimized && !f.isMinimized());
    // The window manager may minimise only after a short run's restore: the restore holds.
    f.windowHandle()->setWindowStates(Qt::WindowMinimized);
    QWindowStateChangeEvent late(Qt::WindowNoState);
    QCoreApplication::sendEvent(f.windowHandle(), &late);
    QCoreApplication::processEvents();
    EXPECT_FALSE(f.isMinimized());
    EXPECT_EQ(caption + iconText, QStringLiteral("Korvalen+1/2検索中"));
    EXPECT_EQ(ReadAll(out), Hit(a, word) + "\r\n");
}

TEST_F(Run, NoOutputPathAsksFileErrorsAreShownAndOnlyLocalFilesAreTaken) {
    const QString a = File("a.txt", "x\r\n");
    TMainForm& f = Start();
    f.MSearchStr->setPlainText("x");
    desktop.files = {"", Path("chosen.txt")};
    EXPECT_EQ(Search(f, {a}), RunOutcome::NoOutputPath);  // a cancel starts nothing
    EXPECT_EQ(f.StatusText(), QStringLiteral("出力ファイルが指定されていません"));
    EXPECT_EQ(desktop.requests.back().title, QStringLiteral("出力ﾌｧｲﾙを指定"));
    EXPECT_EQ(desktop.requests.back().directory, QDir::currentPath());
    // Chosen: the output path, and the run goes ahead; a file error is shown in a box.
    const QString unreadable = QStringLiteral("/proc/self/mem");  // fails at the first read
    EXPECT_EQ(Search(f, {a, unreadable}), RunOutcome::Finished);
    EXPECT_EQ(f.EOutputFile->text(), Path("chosen.txt"));
    EXPECT_NE(ReadAll(Path("chosen.txt")).find(":(x)x\r\n"), std::string::npos);
    EXPECT_EQ(desktop.messages.back(), "ファイルアクセスでエラーが生じました：" + unreadable);
    EXPECT_FALSE(DropUrls(f, {QUrl(QStringLiteral("https://example.org/a.txt"))}));
}

// Shift-JIS names go from the INI file and a drop to the run and back as the
// file system's bytes, shown decoded.
TEST_F(Run, NamesThatAreNotUtf8) {
    const std::string folder = Bytes(dir.path()) + "/";
    const std::string rel = folder + "\x8A\xD6\x98\x41.kvl";  // 関連.kvl
    const std::string out = folder + "\x8F\x6F\x97\xCD.txt";  // 出力.txt
    const std::string in = folder + "\x93\xFC\x97\xCD.txt";   // 入力.txt
    TempDir::Write(rel, "k=w\r\n");
    TempDir::Write(in, "w\r\n");
    TMainForm& f = Start("[File]\r\nRelFile=" + rel + "\r\nOutputFile=" + out + "\r\n");
    EXPECT_EQ(f.DCRelStr->currentText(), QStringLiteral("k"));  // the relation file was read
    EXPECT_EQ(f.ERelFile->text(), dir.path() + QStringLiteral("/関連.kvl"));
    EXPECT_EQ(f.EOutputFile->text(), dir.path() + QStringLiteral("/出力.txt"));
    // As a file manager puts it: the name's bytes percent-encoded.
    ASSERT_TRUE(DropUrls(
        f, {QUrl::fromEncoded("file://" + QByteArray::fromStdString(in).toPercentEncoding("/"))}));
    EXPECT_EQ(Finish(), RunOutcome::Finished);
    EXPECT_EQ(TempDir::Read(out), in + "(1) :(w)w\r\n");
    form.reset();
    EXPECT_NE(IniText().find("RelFile=" + rel + "\r\nOutputFile=" + out + "\r\n"),
              std::string::npos)
        << IniText();
    for (const std::string& path : {rel, out, in}) {
        std::remove(path.c_str());  // beyond QTemporaryDir: Qt has no name for them
    }
}

// Esc stops a run and does nothing else.
TEST_F(Run, StopOrEscEndsTheRunAndCloseAsksFirst) {
    const QString big = File("big.txt", QByteArray("hit\r\n").repeated(200000).toStdString()),
                  out = Path("out.txt");
    TMainForm& f = Ready(QStringLiteral("hit"), out);
    f.Options.OutputFileOpen = true;
    ASSERT_TRUE(QTest::qWaitForWindowActive(&f));
    QTest::keyClick(&f, Qt::Key_Escape);  // no run: nothing happens
    EXPECT_TRUE(f.isVisible());
    // Stopped by Stop, by Esc, or by a close answered Yes: the window closes at the run's end.
    for (const int way : {0, 1, 2}) {
        Gate gate(big);
        ASSERT_TRUE(Drop(f, {big}));
        ASSERT_TRUE(gate.Reached());
        if (way < 2) {
            way == 1 ? QTest::keyClick(&f, Qt::Key_Escape) : f.MFileStop->trigger();
        }
        desktop.answer = way == 2;
        EXPECT_FALSE(f.close() || Drop(f, {big}));  // after a Stop too
        EXPECT_TRUE(f.isVisible());
        gate.Release();
        EXPECT_EQ(Finish(), RunOutcome::Stopped);
        EXPECT_EQ(f.isVisible(), way < 2);
    }
    EXPECT_TRUE(desktop.opened.empty() && desktop.started.empty());
    EXPECT_LT(QByteArray::fromStdString(ReadAll(out)).count(":(hit)"), 200000);
    EXPECT_EQ(desktop.questions.size(), 3u);
}

// The settings dialog, open when a second start hands a folder over, OK'd during
// the run: the run keeps what it started with, the next one takes the new settings.
TEST_F(Run, SettingsChangedDuringARunApplyToTheNext) {
    const QString txt = File("corpus/a.txt", "hit\r\n"), dat = File("corpus/b.dat", "hit\r\n");
    const QString out = Path("out.txt");
    TMainForm& f = Ready(QStringLiteral("hit"), out);
    f.Options.SearchFolders = true;
    f.Options.FolderFilter = "*.txt";
    f.Options.TagJump = true;
    TSettingForm* s = f.SettingForm();
    Gate gate(txt);
    QTimer::singleShot(0, s, [&] {
        ASSERT_TRUE(f.HandOver({Bytes(Path("corpus"))}));
        ASSERT_TRUE(gate.Reached());
        s->EFolderFilter->setText(QStringLiteral("*.dat"));
        s->CNewTag->setChecked(false);
        s->BOK->click();
        gate.Release();
    });
    s->Execute();
    EXPECT_EQ(Finish(), RunOutcome::Finished);
    EXPECT_EQ(ReadAll(out), Hit(txt));
    EXPECT_EQ(Search(f, {Path("corpus")}), RunOutcome::Finished);
    EXPECT_EQ(ReadAll(out), Bytes(dat) + " 1:(hit)hit\r\n");
}

TEST_F(Run, HandOversDuringARunFollowItInOrder) {
    const QString a = File("a.txt", "hit\r\n"), b = File("b.txt", "hit\r\n"),
                  c = File("c.txt", "hit\r\n"), out = Path("out.txt");
    TMainForm& f = Ready(QStringLiteral("hit"), out);
    f.Options.FileOverWrite = false;
    QLabel* waiting = f.findChild<QLabel*>(QStringLiteral("WaitingText"));
    ASSERT_NE(waiting, nullptr);
    QSignalSpy ended(&f, &TMainForm::runEnded);
    Gate gate(a);
    ASSERT_TRUE(f.HandOver({Bytes(a)}));
    ASSERT_TRUE(gate.Reached());
    EXPECT_TRUE(f.HandOver({Bytes(b)}));
    EXPECT_TRUE(f.HandOver({Bytes(c), Bytes(a)}));
    EXPECT_FALSE(Drop(f, {c}));
    EXPECT_TRUE(waiting->isVisible());
    EXPECT_EQ(waiting->text(), QStringLiteral("待機中：2件"));
    gate.Release();
    EXPECT_TRUE(QTest::qWaitFor([&] { return ended.size() == 3; }, 60000));
    EXPECT_FALSE(waiting->isVisible());
    // Runs apart by the line between appended runs, files of one run by the empty line.
    const std::string next = "----------\r\n";
    EXPECT_EQ(ReadAll(out), Hit(a) + next + Hit(b) + next + Hit(c) + "\r\n" + Hit(a));
}

// The screen follows the clock, not the files.
TEST_F(Run, ScreenUpdatesAreBoundedByTheRunsLengthNotItsFiles) {
    for (int i = 0; i < 10000; ++i) {
        File(QStringLiteral("many/%1.txt").arg(i), "x\r\n");
    }
    TMainForm& f = Ready(QStringLiteral("x"), Path("out.txt"));
    f.Options.SearchFolders = true;
    f.Runs().SetInterval(std::chrono::milliseconds(100));
    int changes = 0;
    const auto count = [&] { ++changes; };
    QObject::connect(&f, &QWidget::windowTitleChanged, &f, count);
    QObject::connect(&f, &QWidget::windowIconTextChanged, &f, count);
    QObject::connect(&f, &TMainForm::statusTextSet, &f, count);
    QElapsedTimer clock;
    clock.start();
    EXPECT_EQ(Search(f, {Path("many")}), RunOutcome::Finished);
    const qint64 ticks = clock.elapsed() / 100 + 2;
    EXPECT_LE(changes, 3 * ticks) << clock.elapsed() << " ms";
    EXPECT_EQ(f.windowTitle() + f.windowIconText(), QStringLiteral("KorvalenKorvalen"));
    EXPECT_EQ(f.StatusText(), QStringLiteral("検索を終了しました"));
}

TEST_F(Run, ShiftCtrlOrLittleMemoryReadByLineAndTheEditorOpensAtTheEnd) {
    const QString a = File("a.txt", "k\r\nk\r\n"), out = Path("out.txt");
    TMainForm& f = Ready(QStringLiteral("k"), out);
    f.Options.OutputFileOpen = true;
    f.Options.Editor = "/bin/ed";
    QStringList captions;
    QObject::connect(&f, &QWidget::windowTitleChanged, &f,
                     [&](const QString& t) { captions << t; });
    const std::pair<Qt::KeyboardModifiers, std::int64_t> runs[] = {
        {Qt::ShiftModifier, 1 << 30},
        {Qt::ShiftModifier | Qt::ControlModifier, 1 << 30},
        {Qt::NoModifier, 262144}};  // too little memory for the file
    for (const auto& [modifiers, memory] : runs) {
        desktop.modifiers = modifiers;
        desktop.memory.available = memory;
        EXPECT_EQ(Search(f, {a}), RunOutcome::Finished);
    }
    EXPECT_EQ(captions, (QStringList{"Korvalen+", "Korvalen", "Korvalen-", "Korvalen", "Korvalen-",
                                     "Korvalen"}));
    const std::vector<std::pair<QString, QStringList>> started(3, {"/bin/ed", {out}});
    EXPECT_EQ(desktop.started, started);
}

TEST_F(Run, ProgressBarScalesByteCountsBeyondItsRange) {
    TMainForm& f = Ready(QStringLiteral("x"), Path("out.txt"));
    RunHost& host = f;
    const std::tuple<std::int64_t, std::int64_t, double> cases[] = {
        {100, 50, 0.5}, {0, 0, 0.0}, {INT64_MAX, INT64_MAX / 4, 0.25}};
    for (const auto& [max, pos, fraction] : cases) {
        host.SetProgressMax(max);
        host.SetProgressPos(pos);
        host.SetProgressVisible(true);
        EXPECT_NEAR(static_cast<double>(f.PFileCount->value()) / f.PFileCount->maximum(), fraction,
                    1e-6)
            << max;
    }
}

// The results window, reached after a run (ShowResults) or from the menu.
class Results : public Run {
  protected:
    // The rows shown, or only the hits among them.
    static QStringList Rows(TResultsForm& r, bool hitsOnly = false) {
        QStringList rows;
        for (int i = 0; i < r.Model()->rowCount(); ++i) {
            const QModelIndex row = r.Model()->index(i);
            if (!hitsOnly ||
                row.data(ResultsModel::KindRole).toInt() == int(OutputIndex::RowKind::Hit)) {
                rows << row.data().toString();
            }
        }
        return rows;
    }
};

TEST_F(Results, GroupsCountsFilterEnterAndReload) {
    const QString a = File(QStringLiteral("日本語 (1).txt"),
                           Utf8ToCp932("検索の例\r\nなし\r\nまた検索(2) :(x)と検索\r\n"));
    const QString b = File("b.txt", Utf8ToCp932("探索する\r\n")), out = Path("out.txt");
    TMainForm& f = Ready(QStringLiteral("検索\n探索"), out);
    f.Options.ShowResults = true;
    f.Options.OutputStrLength = 0;
    f.Options.Editor = "/usr/bin/vim";
    EXPECT_EQ(Search(f, {a, b}), RunOutcome::Finished);
    TResultsForm& r = *f.ResultsForm();
    ASSERT_TRUE(r.isVisible());  // ShowResults after a run with hits
    const QStringList first = {a + "  (2件)", "1: 検索の例", "3: また検索(2) :(x)と検索", "",
                               b + "  (1件)", "1: 探索する"};
    EXPECT_EQ(Rows(r), first);
    EXPECT_EQ(r.LCount->text(), QStringLiteral("3件 / 2ファイル  表示 6 / 6行  ") + out);
    EXPECT_EQ(r.Model()->index(2).data(ResultsModel::WordRole).toString(), "検索");
    EXPECT_TRUE(r.LResults->hasFocus() || QApplication::focusWidget() == nullptr);
    EXPECT_TRUE(r.LResults->uniformItemSizes());  // scrolling a million rows stays quick

    // The marked word: the delegate paints it on a coloured ground.
    r.resize(500, 300);
    const QImage shot =
        r.LResults->viewport()->grab().toImage().convertToFormat(QImage::Format_RGB32);
    const auto* px = reinterpret_cast<const QRgb*>(shot.constBits());
    EXPECT_GT(std::count(px, px + shot.width() * shot.height(), qRgb(255, 220, 80)), 0);

    // Ctrl+F, then typing narrows to hits whose text, word or file name holds it.
    QTest::keyClick(r.LResults, Qt::Key_F, Qt::ControlModifier);
    EXPECT_TRUE(r.EFilter->hasFocus() || !r.isActiveWindow());
    r.EFilter->setText(QStringLiteral("日本語"));  // the file name
    EXPECT_EQ(Rows(r).size(), 3);
    r.EFilter->setText(QStringLiteral("(2)"));  // only in a text
    EXPECT_EQ(Rows(r), (QStringList{a + "  (2件)", "3: また検索(2) :(x)と検索"}));

    // Enter on a hit: the editor at its line and on its word, the path whole.
    r.LResults->setCurrentIndex(r.Model()->index(1));
    QTest::keyClick(r.LResults, Qt::Key_Return);
    ASSERT_EQ(desktop.started.size(), 1u);
    EXPECT_EQ(desktop.started[0], (std::pair<QString, QStringList>{
                                      "/usr/bin/vim", {"+call setcharpos('.',[0,3,3,0])", a}}));

    // The next run appends to the file: the window shows it as it is now.
    r.EFilter->clear();
    f.Options.FileOverWrite = false;
    f.MSearchStr->setPlainText(QStringLiteral("探索"));
    EXPECT_EQ(Search(f, {b}), RunOutcome::Finished);
    EXPECT_EQ(Rows(r), first + QStringList({"----------", b + "  (1件)", "1: 探索する"}));
    // Files, not file headings.
    EXPECT_EQ(r.LCount->text(), QStringLiteral("4件 / 2ファイル  表示 9 / 9行  ") + out);

    // Error blocks show as what they are, never as hits.
    WriteAll(out, Utf8ToCp932("\r\nファイルアクセスでエラーが生じました：e(12) :(f.txt\r\n\r\n"));
    r.ShowFile(Bytes(out));
    EXPECT_EQ(Rows(r),
              (QStringList{"", "ファイルアクセスでエラーが生じました：e(12) :(f.txt", ""}));
    EXPECT_EQ(r.Model()->index(1).data(ResultsModel::KindRole).toInt(),
              int(OutputIndex::RowKind::FileError));
    QTest::keyClick(r.LResults, Qt::Key_Escape);
    EXPECT_FALSE(r.isVisible());
    EXPECT_EQ(r.Model()->Index().Bytes(), 0u);  // nothing kept while closed
    f.MFileResults->trigger();
    EXPECT_TRUE(r.isVisible());
}

// The filter finds characters, letters in either case; a name written byte
// for byte shows as the file system's.
TEST_F(Results, FilterOnCharactersAndNamesAsTheyAreAndReadInSlices) {
    const QString out = Path(QStringLiteral("out.txt"));
    File(QStringLiteral("café.txt"), "x\n");
    WriteAll(out, "caf\xC3\xA9.txt" + Utf8ToCp932("(1) :(雨)Java 雨\r\nx.txt(2) :(雨)雨とアソ\r\n"
                                                  "x.txt(3) :(全)ＡＢＣ\r\n"));
    TMainForm& f = Start();
    TResultsForm& r = *f.ResultsForm();
    r.ShowFile(Bytes(out));
    EXPECT_EQ(r.Model()->index(0).data().toString(), QStringLiteral("café.txt  (1件)"));
    const std::pair<QString, QStringList> cases[] = {
        {"J", {"1: Java 雨"}},  // never the second byte of 雨 (0x89 0x4A)
        {"j", {"1: Java 雨"}},
        {"A", {"1: Java 雨"}},  // nor of ア (0x83 0x41)
        {"\\", {}},             // nor of ソ (0x83 0x5C)
        {"ａｂ", {"3: ＡＢＣ"}},
        {"雨", {"1: Java 雨", "2: 雨とアソ"}},
    };
    for (const auto& [filter, want] : cases) {
        r.EFilter->setText(filter);
        EXPECT_EQ(Rows(r, true), want) << filter.toStdString();
        EXPECT_TRUE(
            r.LCount->text().contains(QStringLiteral("表示 %1 / 5行").arg(r.Model()->rowCount())))
            << r.LCount->text().toStdString();
    }

    // A large output is read a slice at a time: the window answers meanwhile.
    std::string lines;
    for (int i = 1; i <= 20000; ++i) {
        lines += "a.txt(" + std::to_string(i) + ") :(w)" + std::to_string(i) + "x\r\n";
    }
    WriteAll(out, lines);
    r.EFilter->clear();
    r.SetSlice(std::chrono::milliseconds(0));
    r.ShowFile(Bytes(out));
    EXPECT_TRUE(r.Loading());
    EXPECT_EQ(r.cursor().shape(), Qt::BusyCursor);
    EXPECT_GT(r.Model()->rowCount(), 0);
    EXPECT_LT(r.Model()->rowCount(), 20001);
    // Filtered meanwhile: what comes later is filtered as it comes.
    r.EFilter->setText(QStringLiteral("1999"));
    QTRY_VERIFY(!r.Loading());
    EXPECT_EQ(r.cursor().shape(), Qt::ArrowCursor);
    EXPECT_EQ(r.LCount->text(), QStringLiteral("20000件 / 1ファイル  表示 13 / 20001行  ") + out);
    r.EFilter->clear();
    EXPECT_EQ(r.Model()->rowCount(), 20001);
}

// File names on the command line, made whole against the folder started in.
TEST(CommandLine, Parse) {
    using A = korvalen::CommandLine::Action;
    const struct {
        std::vector<std::string> args, files;
        A action = A::Start;
    } rows[] = {
        {{"a.txt", "/x/b c.txt", "../d", "-"}, {"/w/a.txt", "/x/b c.txt", "/w/../d", "/w/-"}},
        {{"--", "-f", "--help"}, {"/w/-f", "/w/--help"}},
        {{"-x", "a"}, {"/w/a"}, A::Error},
        {{"-x", "--help"}, {}, A::Help},
        {{"--help-path"}, {}, A::HelpPath},
    };
    for (const auto& row : rows) {
        const korvalen::CommandLine line = ParseCommandLine(row.args, "/w");
        EXPECT_EQ(line.action, row.action) << row.args.front();
        EXPECT_EQ(line.files, row.files) << row.args.front();
    }
}

}  // namespace
}  // namespace korvalen::test
