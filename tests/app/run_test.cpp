// Runs started by drops on the window: what the user sees before, during and
// after, and what lands in the output file (the run's own order is the core's).
#include <QAction>
#include <QComboBox>
#include <QDir>
#include <QDropEvent>
#include <QLineEdit>
#include <QMenu>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <QUrl>
#include <QWindow>
#include <climits>
#include <cstdio>
#include <fstream>
#include <iterator>

#include "tests/app/fake_desktop.hpp"
#include "text/cp932.hpp"

namespace korvalen::test {
namespace {

class Run : public WindowTest {
  protected:
    // The window, shown, with `words` in the word box and `out` as output.
    TMainForm& Ready(const QString& words, const QString& out) {
        WriteIni(FileIni("OutputFile", out));
        TMainForm& f = Start();
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

    // Runs `during` at the run's first chance for events, called after the drop.
    void During(std::function<void()> during) {
        QTimer::singleShot(0, form.get(), std::move(during));
    }

    // Lets the queued run start and end.
    RunOutcome Finish() {
        QSignalSpy ended(form.get(), &TMainForm::runEnded);
        for (int i = 0; i < 200 && ended.isEmpty(); ++i) {
            QCoreApplication::processEvents();
        }
        EXPECT_EQ(ended.size(), 1);
        return ended.isEmpty() ? RunOutcome::Aborted : ended.front().front().value<RunOutcome>();
    }

    QString Lines(const QString& name, int n, const std::string& line) {
        WriteAll(Path(name), QByteArray::fromStdString(line + "\r\n").repeated(n).toStdString());
        return Path(name);
    }
};

// The hit lines of lines `from` to `to` of `path`, each line `word`.
std::string Hits(const QString& path, int from, int to, const std::string& word) {
    std::string lines;
    for (int n = from; n <= to; ++n) {
        lines += Bytes(path) + "(" + std::to_string(n) + ") :(" + word + ")" + word + "\r\n";
    }
    return lines;
}

TEST_F(Run, DropLocksTheWindowAndShowsItsProgress) {
    const std::string word = Utf8ToCp932("検索語");
    const QString a = Lines("a.txt", 3, word), b = Lines("b.txt", 2, "nothing"),
                  out = Path("out.txt");
    TMainForm& f = Ready(QStringLiteral("検索語"), out);
    f.Options.SearchIconize = true;
    // Exit Stop Delete Edit Relation Output Settings Copy Help, the key list, both
    // paths, the words, the bar, the drop.
    const auto usable = [&] {
        std::vector<bool> on;
        for (const QAction* action :
             {f.MFileExit, f.MFileStop, f.MFileOutDel, f.MEdit->menuAction(), f.MFileRel,
              f.MFileOut, f.MSetting->menuAction(), f.KS1, f.MHelp->menuAction()}) {
            on.push_back(action->isEnabled());
        }
        for (const QWidget* w : std::initializer_list<const QWidget*>{
                 f.DCRelStr, f.ERelFile, f.EOutputFile, f.MSearchStr}) {
            on.push_back(w->isEnabled());
        }
        return on.insert(on.end(), {f.PFileCount->isVisible(), f.DropTarget()}), on;
    };
    const std::vector<bool> atRest = {1, 0, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 0, 1};
    EXPECT_EQ(usable(), atRest);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&f));
    Shot(f, "main.png");
    std::vector<bool> during;
    QString caption, iconText;
    bool minimized = false, handedOver = true;  // a second start's files are refused as a drop is
    ASSERT_TRUE(Drop(f, {a, b}));
    EXPECT_FALSE(f.close());  // refused from the drop on, before the run starts too
    During([&] {
        during = usable();
        Shot(f, "main_running.png");
        std::tie(minimized, caption, iconText) =
            std::tuple(f.isMinimized(), f.windowTitle(), f.windowIconText());
        handedOver = f.DropFiles({Bytes(b)});
    });
    EXPECT_EQ(Finish(), RunOutcome::Finished);
    EXPECT_FALSE(handedOver);
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
    EXPECT_EQ(f.windowTitle() + f.windowIconText(), QStringLiteral("KorvalenKorvalen"));
    EXPECT_EQ(f.StatusText(), QStringLiteral("検索を終了しました"));
    EXPECT_EQ(ReadAll(out), Hits(a, 1, 3, word) + "\r\n");
}

// The walk's order and output are the core's: here the window's option and status.
TEST_F(Run, FolderDropSearchesItsFiles) {
    ASSERT_TRUE(QDir(dir.path()).mkpath(QStringLiteral("corpus/sub")));
    const QString file = Lines("corpus/sub/c.txt", 1, "hit"), out = Path("out.txt");
    TMainForm& f = Ready(QStringLiteral("hit"), out);
    f.Options.SearchFolders = true;
    QString walking;
    ASSERT_TRUE(Drop(f, {Path("corpus")}));
    During([&] { walking = f.StatusText(); });  // the window answers during the walk
    EXPECT_EQ(Finish(), RunOutcome::Finished);
    EXPECT_EQ(walking, QStringLiteral("フォルダを調べています"));
    EXPECT_EQ(ReadAll(out), Hits(file, 1, 1, "hit"));
}

TEST_F(Run, NoOutputPathAsksFileErrorsAreShownAndOnlyLocalFilesAreTaken) {
    const QString a = Lines("a.txt", 1, "x");
    TMainForm& f = Start();
    f.MSearchStr->setPlainText("x");
    desktop.files = {"", Path("chosen.txt")};
    ASSERT_TRUE(Drop(f, {a}));  // a cancel starts nothing
    EXPECT_EQ(Finish(), RunOutcome::NoOutputPath);
    EXPECT_EQ(f.StatusText(), QStringLiteral("出力ファイルが指定されていません"));
    EXPECT_EQ(desktop.requests.back().title, QStringLiteral("出力ﾌｧｲﾙを指定"));
    EXPECT_EQ(desktop.requests.back().directory, QDir::currentPath());
    // Chosen: the output path, and the run goes ahead; a file error is shown in a box.
    const QString unreadable = QStringLiteral("/proc/self/mem");  // fails at the first read
    ASSERT_TRUE(Drop(f, {a, unreadable}));
    EXPECT_EQ(Finish(), RunOutcome::Finished);
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
    std::ofstream(rel, std::ios::binary) << "k=w\r\n";
    std::ofstream(in, std::ios::binary) << "w\r\n";
    WriteIni("[File]\r\nRelFile=" + rel + "\r\nOutputFile=" + out + "\r\n");
    TMainForm& f = Start();
    EXPECT_TRUE(desktop.messages.empty());
    EXPECT_EQ(f.DCRelStr->currentText(), QStringLiteral("k"));
    EXPECT_EQ(f.ERelFile->text(), dir.path() + QStringLiteral("/関連.kvl"));
    EXPECT_EQ(f.EOutputFile->text(), dir.path() + QStringLiteral("/出力.txt"));
    // As a file manager puts it: the name's bytes percent-encoded.
    ASSERT_TRUE(DropUrls(
        f, {QUrl::fromEncoded("file://" + QByteArray::fromStdString(in).toPercentEncoding("/"))}));
    EXPECT_EQ(Finish(), RunOutcome::Finished);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(std::ifstream(out).rdbuf()), {}),
              in + "(1) :(w)w\r\n");
    form.reset();
    EXPECT_NE(IniText().find("RelFile=" + rel + "\r\nOutputFile=" + out + "\r\n"),
              std::string::npos)
        << IniText();
    for (const std::string& path : {rel, out, in}) {
        std::remove(path.c_str());  // beyond QTemporaryDir: Qt has no name for them
    }
}

// What lands in the file and the words changed mid-run are the core's: here the window.
TEST_F(Run, StopEndsTheRunWithinTheFile) {
    const QString big = Lines("big.txt", 200000, "hit"), out = Path("out.txt");
    TMainForm& f = Ready(QStringLiteral("hit"), out);
    f.Options.OutputFileOpen = true;
    bool closedOrTaken = true;
    ASSERT_TRUE(Drop(f, {big}));
    During([&] {
        f.MFileStop->trigger();
        closedOrTaken = f.close() || Drop(f, {big});  // refused during a run, after a Stop too
    });
    EXPECT_EQ(Finish(), RunOutcome::Stopped);
    EXPECT_FALSE(closedOrTaken);
    EXPECT_EQ(f.StatusText(), QStringLiteral("検索を中止しました"));
    EXPECT_FALSE(f.PFileCount->isVisible());
    EXPECT_TRUE(desktop.opened.empty() && desktop.started.empty());
    EXPECT_LT(QByteArray::fromStdString(ReadAll(out)).count(":(hit)"), 200000);
    EXPECT_TRUE(f.close());
}

TEST_F(Run, ShiftCtrlOrLittleMemoryReadByLineAndTheEditorOpensAtTheEnd) {
    const QString a = Lines("a.txt", 2, "k");
    const QString out = Path("out.txt");
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
        ASSERT_TRUE(Drop(f, {a}));
        EXPECT_EQ(Finish(), RunOutcome::Finished);
    }
    EXPECT_EQ(captions, (QStringList{"Korvalen+", "Korvalen", "Korvalen-", "Korvalen", "Korvalen-",
                                     "Korvalen"}));
    const std::vector<std::pair<QString, QStringList>> started(3, {"/bin/ed", {out}});
    EXPECT_EQ(desktop.started, started);
}

TEST_F(Run, ProgressBarScalesByteCountsBeyondItsRange) {
    TMainForm& f = Ready(QStringLiteral("x"), Path("out.txt"));
    RunHost& host = f;
    const std::int64_t g = std::int64_t{1} << 30;
    const std::tuple<std::int64_t, std::int64_t, double> cases[] = {
        {100, 50, 0.5}, {0, 0, 0.0}, {6 * g, 3 * g, 0.5}, {INT64_MAX, INT64_MAX / 4, 0.25}};
    for (const auto& [max, pos, fraction] : cases) {
        host.SetProgressMax(max);
        host.SetProgressPos(pos);
        host.SetProgressVisible(true);
        EXPECT_GT(f.PFileCount->maximum(), 0);
        EXPECT_NEAR(static_cast<double>(f.PFileCount->value()) / f.PFileCount->maximum(), fraction,
                    1e-6)
            << max;
    }
}

}  // namespace
}  // namespace korvalen::test
