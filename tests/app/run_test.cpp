// Search runs started by dropping files on the window: what the user sees
// before, during and after, and what lands in the output file.
#include <QAction>
#include <QComboBox>
#include <QDropEvent>
#include <QLineEdit>
#include <QMenu>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTimer>
#include <QUrl>
#include <QWindow>
#include <climits>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <map>
#include <set>

#include "tests/app/fake_desktop.hpp"
#include "text/cp932.hpp"

namespace korvalen::test {
namespace {

// What the window showed at one moment of a run: which controls were usable,
// whether it was minimized, its caption and its icon text.
struct Snapshot {
    std::map<std::string, bool> usable;
    bool minimized;
    QString caption, iconText;
};

Snapshot Take(TMainForm& f) {
    return {{{"MFileExit", f.MFileExit->isEnabled()},
             {"MFileStop", f.MFileStop->isEnabled()},
             {"MFileOutDel", f.MFileOutDel->isEnabled()},
             {"MEdit", f.MEdit->menuAction()->isEnabled()},
             {"MFileRel", f.MFileRel->isEnabled()},
             {"MFileOut", f.MFileOut->isEnabled()},
             {"MSetting", f.MSetting->menuAction()->isEnabled()},
             {"DCRelStr", f.DCRelStr->isEnabled()},
             {"ERelFile", f.ERelFile->isEnabled()},
             {"EOutputFile", f.EOutputFile->isEnabled()},
             {"KS1", f.KS1->isEnabled()},
             {"MHelp", f.MHelp->menuAction()->isEnabled()},
             {"MSearchStr", f.MSearchStr->isEnabled()},
             {"progress", f.PFileCount->isVisible()},
             {"drop", f.DropTarget()}},
            f.isMinimized(),
            f.windowTitle(),
            f.windowIconText()};
}

class Run : public WindowTest {
  protected:
    // The window, shown, with `words` in the word box and `out` as output.
    TMainForm& Ready(const QString& words, const QString& out) {
        WriteIni("[File]\r\nOutputFile=" + QFile::encodeName(out).toStdString() + "\r\n");
        TMainForm& f = Start();
        f.MSearchStr->setPlainText(words);
        f.show();
        return f;
    }

    // Drops `paths` as a file manager would; true when the window took them.
    bool Drop(TMainForm& f, const QStringList& paths) {
        QList<QUrl> urls;
        for (const QString& p : paths) {
            urls << QUrl::fromLocalFile(p);
        }
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

    // Runs `during` at the first chance the run gives the window (after
    // its first line), when called after the drop.
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
        std::string text;
        for (int i = 0; i < n; ++i) {
            text += line + "\r\n";
        }
        WriteAll(Path(name), text);
        return Path(name);
    }
};

TEST_F(Run, DropSearchesAndShowsItsProgress) {
    const QString a = Lines("a.txt", 3, Utf8ToCp932("ここに検索語"));
    const QString b = Lines("b.txt", 2, "nothing");
    const QString out = Path("out.txt");
    TMainForm& f = Ready(QStringLiteral("検索語"), out);
    f.Options.SearchIconize = true;
    const Snapshot before = Take(f);

    QSignalSpy status(&f, &TMainForm::statusTextSet);
    std::vector<Snapshot> seen;
    bool handedOver = true;  // files from a second start are refused as a drop is
    ASSERT_TRUE(Drop(f, {a, b}));
    During([&] {
        seen.push_back(Take(f));
        handedOver = f.DropFiles({QFile::encodeName(b).toStdString()});
    });
    EXPECT_EQ(Finish(), RunOutcome::Finished);
    const Snapshot after = Take(f);
    EXPECT_FALSE(handedOver);

    // Idle, locked, idle again: the lock table element by element.
    ASSERT_EQ(seen.size(), 1u);
    const Snapshot& during = seen[0];
    const std::set<std::string> locked = {"MFileExit",   "MFileOutDel", "MEdit",    "MFileRel",
                                          "MFileOut",    "MSetting",    "DCRelStr", "ERelFile",
                                          "EOutputFile", "drop"};
    const std::set<std::string> runOnly = {"MFileStop", "progress"};
    for (const auto& [name, usable] : during.usable) {
        EXPECT_EQ(before.usable.at(name), !runOnly.contains(name)) << name;
        EXPECT_EQ(usable, !locked.contains(name)) << name;
        EXPECT_EQ(after.usable.at(name), before.usable.at(name)) << name;
    }
    EXPECT_TRUE(during.minimized);
    EXPECT_FALSE(after.minimized);
    EXPECT_EQ(during.caption, QStringLiteral("Korvalen+"));
    EXPECT_EQ(during.iconText, QStringLiteral("1/2検索中"));
    EXPECT_EQ(after.caption, QStringLiteral("Korvalen"));
    EXPECT_EQ(after.iconText, QStringLiteral("Korvalen"));

    // The status follows the files and the hits, in order, and ends with the outcome.
    QStringList texts;
    for (const auto& args : status) {
        texts << args.front().toString();
    }
    ASSERT_GE(texts.size(), 3);
    EXPECT_EQ(texts.front(), QStringLiteral("検索中：1/2  (0 Lines)"));
    EXPECT_EQ(texts[texts.size() - 2], QStringLiteral("検索中：2/2  (3 Lines)"));
    EXPECT_EQ(texts.back(), QStringLiteral("検索を終了しました"));
    const QRegularExpression progress(QStringLiteral("^検索中：([12])/2  \\((\\d+) Lines\\)$"));
    int file = 1, hits = 0;
    for (qsizetype i = 0; i + 1 < texts.size(); ++i) {
        const auto m = progress.match(texts[i]);
        ASSERT_TRUE(m.hasMatch()) << texts[i].toStdString();
        EXPECT_GE(m.captured(1).toInt(), file);
        EXPECT_GE(m.captured(2).toInt(), hits);
        file = m.captured(1).toInt();
        hits = m.captured(2).toInt();
    }
    EXPECT_EQ(f.StatusText(), QStringLiteral("検索を終了しました"));

    const std::string path = QFile::encodeName(a).toStdString();
    std::string expected;
    for (int n = 1; n <= 3; ++n) {
        expected += path + "(" + std::to_string(n) + ") :(" + Utf8ToCp932("検索語") + ")" +
                    Utf8ToCp932("ここに検索語") + "\r\n";
    }
    EXPECT_EQ(ReadAll(out), expected + "\r\n");
}

TEST_F(Run, RestoredAfterEveryShortRunWhateverTheWindowManagersTiming) {
    const QString a = Lines("a.txt", 1, "x");
    const QString out = Path("out.txt");
    TMainForm& f = Ready(QStringLiteral("x"), out);
    f.Options.SearchIconize = true;
    // The window manager reports the window minimised when it gets to it.
    auto reportMinimized = [&] {
        f.windowHandle()->setWindowStates(Qt::WindowMinimized);
        QWindowStateChangeEvent report(Qt::WindowNoState);
        QCoreApplication::sendEvent(f.windowHandle(), &report);
    };
    for (int i = 0; i < 30; ++i) {
        if (i % 2 == 1) {  // started from the save dialog
            f.EOutputFile->clear();
            desktop.files = {out};
        }
        ASSERT_TRUE(Drop(f, {a}));
        if (i % 3 == 1) {
            During(reportMinimized);
        }
        EXPECT_EQ(Finish(), RunOutcome::Finished);
        if (i % 3 == 2) {
            reportMinimized();
        }
        QCoreApplication::processEvents();
        EXPECT_FALSE(f.isMinimized()) << i;
    }
}

TEST_F(Run, RefusedRuns) {
    const QString a = Lines("a.txt", 1, "x");
    TMainForm& f = Ready(QString(), Path("out.txt"));
    ASSERT_TRUE(Drop(f, {a}));
    EXPECT_EQ(Finish(), RunOutcome::NoWords);
    EXPECT_EQ(f.StatusText(), QStringLiteral("検索語がありません"));
    EXPECT_EQ(ReadAll(Path("out.txt")), "<missing>");

    // No output path: the save dialog; a cancel starts nothing.
    WriteIni("");
    Start();
    form->MSearchStr->setPlainText("x");
    desktop.files = {std::nullopt};
    ASSERT_TRUE(Drop(*form, {a}));
    EXPECT_EQ(Finish(), RunOutcome::NoOutputPath);
    EXPECT_EQ(form->StatusText(), QStringLiteral("出力ファイルが指定されていません"));
    EXPECT_EQ(desktop.requests.back().title, QStringLiteral("出力ﾌｧｲﾙを指定"));
    EXPECT_EQ(desktop.requests.back().directory, QDir::currentPath());

    // Chosen there: it becomes the output path and the run goes ahead.
    desktop.files = {Path("chosen.txt")};
    ASSERT_TRUE(Drop(*form, {a}));
    EXPECT_EQ(Finish(), RunOutcome::Finished);
    EXPECT_EQ(form->EOutputFile->text(), Path("chosen.txt"));
    EXPECT_NE(ReadAll(Path("chosen.txt")).find(":(x)x\r\n"), std::string::npos);

    // Nothing but non-local URLs: the drop is not taken.
    QMimeData mime;
    mime.setUrls({QUrl(QStringLiteral("https://example.org/a.txt"))});
    QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(form.get(), &enter);
    EXPECT_FALSE(enter.isAccepted());
}

// Names that are not UTF-8 (Shift-JIS names copied from Windows) go from the
// INI file and from a drop to the run and back as the file system's bytes,
// shown decoded.
TEST_F(Run, NamesThatAreNotUtf8) {
    const std::string folder = QFile::encodeName(dir.path()).toStdString() + "/";
    const std::string rel = folder + "\x8A\xD6\x98\x41.kvl";  // 関連.kvl
    const std::string out = folder + "\x8F\x6F\x97\xCD.txt";  // 出力.txt
    const std::string in = folder + "\x93\xFC\x97\xCD.txt";   // 入力.txt
    std::ofstream(rel, std::ios::binary) << "k=w\r\n";
    std::ofstream(in, std::ios::binary) << "w\r\n";
    WriteIni("[File]\r\nRelFile=" + rel + "\r\nOutputFile=" + out + "\r\n");
    TMainForm& f = Start();
    f.show();
    EXPECT_TRUE(desktop.messages.empty());
    EXPECT_EQ(f.DCRelStr->currentText(), QStringLiteral("k"));
    EXPECT_EQ(f.ERelFile->text(), dir.path() + QStringLiteral("/関連.kvl"));
    EXPECT_EQ(f.EOutputFile->text(), dir.path() + QStringLiteral("/出力.txt"));

    // As a file manager puts it: the name's bytes percent-encoded.
    ASSERT_TRUE(DropUrls(
        f, {QUrl::fromEncoded("file://" + QByteArray::fromStdString(in).toPercentEncoding("/"))}));
    EXPECT_EQ(Finish(), RunOutcome::Finished);
    std::ifstream hits(out, std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(hits), {}), in + "(1) :(w)w\r\n");

    form.reset();
    EXPECT_NE(IniText().find("RelFile=" + rel + "\r\nOutputFile=" + out + "\r\n"),
              std::string::npos)
        << IniText();
    for (const std::string& path : {rel, out, in}) {
        std::remove(path.c_str());  // beyond QTemporaryDir: Qt has no name for them
    }
}

// The hit lines of `path` in `out`: the numbers, in order, per word.
std::map<std::string, std::vector<int>> HitNumbers(const std::string& out, const QString& path) {
    std::map<std::string, std::vector<int>> hits;
    const std::string head = QFile::encodeName(path).toStdString() + "(";
    for (std::size_t at = out.find(head); at != std::string::npos; at = out.find(head, at + 1)) {
        const std::size_t close = out.find(") :(", at);
        const std::size_t wordEnd = out.find(')', close + 4);
        hits[out.substr(close + 4, wordEnd - close - 4)].push_back(
            std::stoi(out.substr(at + head.size(), close - at - head.size())));
    }
    return hits;
}

bool Prefix(const std::vector<int>& numbers, int first) {
    for (std::size_t i = 0; i < numbers.size(); ++i) {
        if (numbers[i] != first + static_cast<int>(i)) {
            return false;
        }
    }
    return true;
}

// Big enough that a scan gives the window its events before the file ends.
constexpr int kManyLines = 200000;

TEST_F(Run, StopEndsTheRunWithinTheFile) {
    QStringList files;
    for (int i = 0; i < 3; ++i) {
        files << Lines(QStringLiteral("f%1.txt").arg(i), kManyLines, "hit");
    }
    const QString out = Path("out.txt");
    TMainForm& f = Ready(QStringLiteral("hit"), out);
    f.Options.OutputFileOpen = true;
    f.Options.SearchIconize = false;
    bool closed = true, secondDropTaken = true;
    ASSERT_TRUE(Drop(f, files));
    During([&] {
        f.MFileStop->trigger();
        closed = f.close();  // refused during a run, after a Stop too
        secondDropTaken = Drop(f, files);
    });
    EXPECT_EQ(Finish(), RunOutcome::Stopped);
    EXPECT_FALSE(closed);
    EXPECT_FALSE(secondDropTaken);
    EXPECT_TRUE(f.isVisible());
    EXPECT_EQ(f.StatusText(), QStringLiteral("検索を中止しました"));
    EXPECT_FALSE(f.PFileCount->isVisible());
    EXPECT_TRUE(desktop.opened.empty() && desktop.started.empty());
    // Part of the first file, its separator line, nothing of the others.
    const std::string written = ReadAll(out);
    const auto first = HitNumbers(written, files[0]);
    ASSERT_EQ(first.size(), 1u);
    const std::vector<int>& numbers = first.at("hit");
    EXPECT_TRUE(Prefix(numbers, 1));
    EXPECT_FALSE(numbers.empty());
    EXPECT_LT(numbers.size(), static_cast<std::size_t>(kManyLines));
    EXPECT_TRUE(HitNumbers(written, files[1]).empty() && HitNumbers(written, files[2]).empty());
    EXPECT_EQ(written.substr(written.size() - 5), "t\r\n\r\n");
    EXPECT_TRUE(f.close());
}

TEST_F(Run, WordEditsDuringARunApplyToTheLinesAfter) {
    const QString ab = Path("ab.txt");
    WriteAll(ab, ReadAll(Lines("a.txt", kManyLines, "a")) + ReadAll(Lines("b.txt", 10, "b")));
    const QString out = Path("out.txt");
    TMainForm& f = Ready(QStringLiteral("a"), out);
    ASSERT_TRUE(Drop(f, {ab}));
    During([&] { f.MSearchStr->setPlainText(QStringLiteral("b")); });
    EXPECT_EQ(Finish(), RunOutcome::Finished);
    const auto hits = HitNumbers(ReadAll(out), ab);
    ASSERT_EQ(hits.size(), 2u);
    // "a" up to where the words changed, then "b" for every line after.
    EXPECT_TRUE(Prefix(hits.at("a"), 1));
    EXPECT_LT(hits.at("a").size(), static_cast<std::size_t>(kManyLines));
    EXPECT_EQ(hits.at("b").size(), 10u);
    EXPECT_TRUE(Prefix(hits.at("b"), kManyLines + 1));
}

TEST_F(Run, ShiftCtrlReadsByLineAndTheEditorOpensAtTheEnd) {
    const QString a = Lines("a.txt", 2, "k");
    const QString out = Path("out.txt");
    TMainForm& f = Ready(QStringLiteral("k"), out);
    f.Options.OutputFileOpen = true;
    f.Options.Editor = "/bin/ed";
    QStringList captions;
    QObject::connect(&f, &QWidget::windowTitleChanged, &f,
                     [&](const QString& t) { captions << t; });
    for (auto mods : {Qt::KeyboardModifiers(Qt::ShiftModifier),
                      Qt::KeyboardModifiers(Qt::ShiftModifier | Qt::ControlModifier)}) {
        desktop.modifiers = mods;
        ASSERT_TRUE(Drop(f, {a}));
        EXPECT_EQ(Finish(), RunOutcome::Finished);
    }
    EXPECT_EQ(captions, (QStringList{"Korvalen+", "Korvalen", "Korvalen-", "Korvalen"}));
    const std::vector<std::pair<QString, QString>> started = {{"/bin/ed", out}, {"/bin/ed", out}};
    EXPECT_EQ(desktop.started, started);

    // Too little memory for the file: read line by line as well.
    captions.clear();
    desktop.modifiers = Qt::NoModifier;
    desktop.memory.available = 262144;
    ASSERT_TRUE(Drop(f, {a}));
    Finish();
    EXPECT_EQ(captions.value(0), QStringLiteral("Korvalen-"));
}

TEST_F(Run, FileErrorsAreShownThroughTheBox) {
    const QString out = Path("out.txt");
    TMainForm& f = Ready(QStringLiteral("x"), out);
    // Opens for everyone, root included, and fails at the first read.
    const QString unreadable = QStringLiteral("/proc/self/mem");
    ASSERT_TRUE(Drop(f, {unreadable}));
    EXPECT_EQ(Finish(), RunOutcome::Finished);
    ASSERT_EQ(desktop.messages.size(), 2u);  // the missing relation file, then this
    EXPECT_EQ(desktop.messages[1], "ファイルアクセスでエラーが生じました：" + unreadable);
    EXPECT_NE(ReadAll(out).find("/proc/self/mem"), std::string::npos);
}

TEST_F(Run, ProgressBarScalesByteCountsBeyondItsRange) {
    TMainForm& f = Ready(QStringLiteral("x"), Path("out.txt"));
    RunHost& host = f;
    struct Case {
        std::int64_t max, pos;
        double fraction;
    };
    for (const Case& c : {Case{100, 50, 0.5}, Case{0, 0, 0.0},
                          Case{std::int64_t{6} << 30, std::int64_t{3} << 30, 0.5},
                          Case{INT64_MAX, INT64_MAX / 4, 0.25}}) {
        host.SetProgressMax(c.max);
        host.SetProgressPos(c.pos);
        host.SetProgressVisible(true);
        EXPECT_GT(f.PFileCount->maximum(), 0);
        EXPECT_NEAR(static_cast<double>(f.PFileCount->value()) / f.PFileCount->maximum(),
                    c.fraction, 1e-6)
            << c.max;
    }
}

}  // namespace
}  // namespace korvalen::test
