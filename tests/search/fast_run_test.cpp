// The fast scanners inside whole runs, on one thread and on several.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <new>
#include <random>

#include "fixture.hpp"
#include "run/fast_scan.hpp"
#include "run/scanner.hpp"
#include "tests/support/scoped_env.hpp"
#include "text/lines.hpp"
#include "text/sjis.hpp"

namespace korvalen::test {
namespace {

Ran RunOn(Scan scan, const std::vector<std::string>& names, const std::string& out, iset o,
          const std::vector<std::string>& words, std::int32_t threads = 1,
          std::size_t bound = HeldLines::kDefaultBound,
          const std::function<void(RecordingHost&)>& onProcess = {}) {
    o.Threads = threads;
    RecordingHost host;
    host.words = words;
    host.onProcess = onProcess;
    host.memory = 2 << 20;  // lines over a megabyte end their file with the error block
    return RunScan(host, scan, names, out, o, bound);
}

// Files of every kind a run meets, shared by the rounds.
struct Corpus {
    TempDir dir;
    std::string out = dir / "out.txt";
    // A UTF-8 start, code page 932 far on: read again as such once that is seen.
    std::string late =
        dir.File("late.txt", "検索\r\n" + Times("x\r\n", 200'000) + Sj("検索") + "\r\n");
    std::string longLine = dir.File("long.txt", "a\r\n" + std::string(1 << 20, 'b') + "\r\na\r\n");
    std::string utf8 = dir.File("utf8.txt", "検索 a\r\nb\r\n");
    std::string empty = dir.File("empty.txt", "");
    std::string missing = dir / "missing.txt";
    std::string folder = [this] {
        std::filesystem::create_directory(dir / "sub");
        return dir / "sub";
    }();
};

// The fast scanners report progress per block: only its last two steps are the literal ones'.
auto Key(const Ran& r) {
    return std::tuple(r.outcome, r.output, r.hits, r.positions.end()[-2], r.positions.back());
}

TEST(RandomRuns, EveryScannerAndThreadCountWritesTheSame) {
    std::mt19937 rng(61206);
    Corpus c;
    const std::string fixed[] = {c.late, c.longLine, c.utf8, c.empty, c.missing, c.folder};
    for (int round = 0; round < 400; ++round) {
        // Crew rounds: more files, on several threads; every other one drops
        // the round's folder in place of its files, walked beside the crew.
        const bool crew = round % 25 == 0, walk = round % 50 == 25;
        iset o = Quiet();
        o.TagJump = (rng() & 1) != 0;
        o.FileSeparate = (rng() & 1) != 0;
        o.JapaneseWord = (rng() & 1) != 0;
        o.CRText = (rng() & 1) != 0;
        o.ErrorStop = (rng() & 1) != 0;
        o.OutputStrLength = std::array{0, 78, 12, 30, -1}[rng() % 5];
        o.SearchFolders = walk;
        o.FolderFilter = "";
        const bool utf8 = round % 6 == 5 && !crew;
        o.InputEncoding = utf8 || rng() % 8 == 0 ? 1 : 0;
        // The literal twins differ on a previous line that ends in blanks.
        const bool twins = !utf8 && !crew && (!o.CRText || round % 2 == 0);
        std::vector<std::string> words =
            utf8 ? Utf8PieceWords(rng, rng() % 3 != 0) : std::vector<std::string>(1 + rng() % 4);
        if (!utf8) {
            for (std::string& w : words) {
                w = RandomSjis(rng, 4);
                std::erase_if(w, [](char ch) { return ch == '\r' || ch == '\n'; });
            }
        }
        // Words that hit often in crew rounds; a run of only empty words is refused.
        if (crew || std::all_of(words.begin(), words.end(),
                                [](const std::string& w) { return w.empty(); })) {
            words.insert(words.end(), {"a", Sj("検索")});
        }
        const std::string folder = c.dir / ("r" + std::to_string(round));
        std::filesystem::create_directory(folder);
        std::vector<std::string> names;
        for (unsigned f = crew ? 3 + rng() % 12 : 1 + rng() % 3; f > 0; --f) {
            if (crew && rng() % 3 == 0) {
                names.push_back(fixed[rng() % std::size(fixed)]);
                continue;
            }
            std::string text = utf8 ? (round % 4 == 0 ? "\xEF\xBB\xBF" : "") +
                                          RandomUtf8(rng, 30 + rng() % 300) + "検"
                                    : RandomSjis(rng, crew && rng() % 4 == 0 ? 20'000 : 80);
            if (o.CRText && twins) {
                std::string fixedUp;
                ForEachLine(text, [&](std::string_view l) {
                    fixedUp += std::string(l) +
                               (TrimRightBlanksView(l).size() != l.size() ? "z" : "") + "\r\n";
                });
                text = fixedUp;
            }
            names.push_back(c.dir.File(folder + "/f" + std::to_string(f), text));
            if (walk && names.size() > 1 && names[names.size() - 2].starts_with(folder)) {
                names.pop_back();
            } else if (walk) {
                names.back() = folder;
            }
        }
        if (rng() % 8 == 0) {
            names.push_back(c.missing);  // an error block
        }
        const auto trace = ::testing::PrintToString(std::tuple(round, names, words));
        // The literal scanners know no line limit: the long line's file is
        // the fast scanners' alone.
        const bool literal = std::find(names.begin(), names.end(), c.longLine) == names.end();
        Ran got[4];  // a hold bound so small that held lines go through the file
        for (const Scan scan : kScans) {
            if (literal || !IsLiteral(scan)) {
                got[static_cast<int>(scan)] = RunOn(scan, names, c.out, o, words, 1, 32);
            }
        }
        if (literal) {
            ASSERT_EQ(Key(got[2]), Key(got[0])) << trace;  // in memory
            ASSERT_EQ(Key(got[3]), Key(got[1])) << trace;  // by line
        }
        if (twins) {
            ASSERT_EQ(got[0].output, got[1].output);
            ASSERT_EQ(got[0].positions, got[1].positions);
        } else if (utf8) {
            ASSERT_EQ(got[0].positions.end()[-2], got[1].positions.end()[-2]);
        }
        if (!crew) {
            continue;
        }
        const Scan scan = rng() % 3 == 0 ? Scan::FastByLine : Scan::FastInMemory;
        const Ran& one = got[static_cast<int>(scan)];
        for (const std::int32_t threads : {2, 3, 4}) {
            const std::size_t bound = rng() % 2 == 0 ? 1 + rng() % 64 : HeldLines::kDefaultBound;
            const Ran many = RunOn(scan, names, c.out, o, words, threads, bound);
            ASSERT_EQ(many.output, one.output) << threads << " " << bound << trace;
            EXPECT_EQ(std::tie(many.hits, many.log, many.processCalls, many.positions),
                      std::tie(one.hits, one.log, one.processCalls, one.positions))
                << threads << " " << bound << trace;
        }
    }
}

// The first file's open waits (a few seconds at most) for the second's: only
// a run that searches files at once gets past it at once.
class WaitForSecond : public FileOps {
  public:
    WaitForSecond(std::string first, std::string second)
        : first_(std::move(first)), second_(std::move(second)) {}
    bool waited = false;  // the first open saw the second's

    int Open(const char* path, int flags, mode_t mode) override {
        std::unique_lock lock(mutex_);
        if (path == second_) {
            secondOpened_ = true;
            opened_.notify_all();
        } else if (path == first_) {
            waited = opened_.wait_for(lock, std::chrono::seconds(5), [&] { return secondOpened_; });
        }
        lock.unlock();
        return FileOps::Open(path, flags, mode);
    }

  private:
    std::string first_, second_;
    std::mutex mutex_;
    std::condition_variable opened_;
    bool secondOpened_ = false;
};

TEST(Crew, FilesAreSearchedAtOnce) {
    Corpus c;
    // Each a batch of its own.
    const std::string first = c.dir.File("1", Times("a line\r\n", 150'000));
    const std::string second = c.dir.File("2", Times("a line\r\n", 150'000));
    WaitForSecond ops(first, second);
    const ScopedFileOps scoped(ops);
    const Ran got = RunOn(Scan::FastInMemory, {first, second}, c.out, Quiet(), {"a"}, 2);
    EXPECT_EQ(got.hits, 300'000);
    EXPECT_TRUE(ops.waited);
}

// On one thread the file in hand is cut after the whole lines of one read.
TEST(Crew, StopEndsTheRunAtTheFileInHand) {
    Corpus c;
    const std::string data =
        Times("a" + std::string(61, 'x') + "\r\n", 3 * FastScanner::kBlock / 64);
    std::vector<std::string> names;
    std::filesystem::create_directory(c.dir / "stop");
    for (int i = 0; i < 8; ++i) {
        names.push_back(c.dir.File("stop/s" + std::to_string(i), data));
    }
    iset o = Quiet();
    o.OutputFileOpen = true;
    o.FolderFilter = "";
    const Ran full = RunOn(Scan::FastByLine, names, c.out, o, {"a"}, 1, 64);
    for (const auto& [scan, walk] : {std::pair{Scan::FastInMemory, false},
                                     {Scan::FastByLine, false},
                                     {Scan::FastInMemory, true}}) {
        o.SearchFolders = walk;  // the same files as a folder
        for (const std::int32_t threads : {1, 2, 4}) {
            for (const std::size_t k : {1, 3, 8}) {
                const std::string showing = "検索中：" + std::to_string(k) + "/";
                const Ran got = RunOn(scan, walk ? std::vector{c.dir / "stop"} : names, c.out, o,
                                      {"a"}, threads, 64, [&](RecordingHost& h) {
                                          if (h.status.starts_with(showing)) {
                                              h.run->Stop();
                                          }
                                      });
                SCOPED_TRACE(::testing::PrintToString(std::tuple(threads, k, walk)));
                EXPECT_EQ(got.outcome, RunOutcome::Stopped);
                std::string kept = got.output;
                if (k < names.size()) {
                    ASSERT_TRUE(kept.ends_with("\r\n\r\n"));  // the separator after the cut file
                    kept.resize(kept.size() - 2);
                    EXPECT_EQ(got.output.find(names[k]), std::string::npos);
                }
                EXPECT_TRUE(full.output.starts_with(kept));
                const std::size_t lines = std::count(kept.begin(), kept.end(), ':');
                const std::size_t cut = (3 * k - 2) * FastScanner::kBlock / 64;
                EXPECT_TRUE(threads == 1 ? lines == cut : lines >= cut) << lines;
                EXPECT_EQ(got.positions.back(), static_cast<std::int64_t>(k * data.size()));
                EXPECT_EQ(std::vector(got.log.end() - 5, got.log.end()),
                          (std::vector<std::string>{"status 検索を中止しました", "unlock",
                                                    "title Korvalen", "bar off", "drop on"}));
            }
        }
    }
}

// A read that fails mid-file: the in-memory twins write no hit of the file, as a
// load that failed; the line-by-line twins keep the hits of the reads that went through.
TEST(FastRun, ReadErrorInTheMiddleOfAFile) {
    TempDir dir;
    const std::string a = dir.File("a.txt", Times("a line\r\n", 3 * FastScanner::kBlock / 8));
    const std::string b = dir.File("b.txt", "a\r\n");
    for (const Scan scan : kScans) {
        FailingOps ops(a, FailingOps::Fail::Read);
        ops.okBytes = 2 * FastScanner::kBlock;
        ScopedFileOps scoped(ops);
        const Ran got = RunWords(scan, {a, b}, Quiet(), {"a"}, 32);
        std::string want;  // the hits of the two reads that went through
        for (std::size_t n = 1; ByLine(scan) && n <= 2 * FastScanner::kBlock / 8; ++n) {
            want += HitOf(a, static_cast<std::int64_t>(n), "a", "a line");
        }
        want +=
            (ByLine(scan) ? "\r\n" : "") + FileErrorText() + a + "\r\n\r\n" + HitOf(b, 1, "a", "a");
        EXPECT_EQ(got.output, want) << static_cast<int>(scan);
        EXPECT_EQ(got.hits, ByLine(scan) ? 2 * FastScanner::kBlock / 8 + 1 : 1);
    }
}

// Several windows of pieces; the bar moving a piece at a time shows them searched at once.
TEST(FastRun, ALargeFileInPiecesWritesWhatOneThreadWrites) {
    std::mt19937 rng(26);
    TempDir dir;
    std::string sample;
    for (int i = 0; i < 400; ++i) {
        sample += RandomSjis(rng, 40) + (i % 3 == 0 ? "\r\n" : "\n");
    }
    const std::string text = Times(sample, 5 * FastScanner::kPiece / sample.size());
    const std::string name = dir.File("big.txt", text);
    const std::vector<std::string> words = {sample.substr(100, 3), sample.substr(7, 2)};
    for (const bool crText : {false, true}) {
        iset o = Quiet();
        o.CRText = crText;
        for (const Scan scan : {Scan::FastInMemory, Scan::FastByLine}) {
            o.Threads = 1;
            const Ran one = RunWords(scan, {name}, o, words);
            ASSERT_GT(one.hits, 1000);
            for (const std::int32_t threads : {2, 3}) {
                o.Threads = threads;
                const Ran many = RunWords(scan, {name}, o, words);
                EXPECT_EQ(many.hits, one.hits);
                EXPECT_TRUE(many.output == one.output) << threads << " " << crText;
                std::int64_t step = 0;
                for (std::size_t i = 1; i < many.positions.size(); ++i) {
                    step = std::max(step, many.positions[i] - many.positions[i - 1]);
                }
                EXPECT_GT(step, static_cast<std::int64_t>(3 * FastScanner::kBlock / 2));
            }
        }
    }
}

// The host's call after a block throws, as an allocation there would.
TEST(FastRun, MemoryShortForBlocksReadsALineAtATime) {
    TempDir dir;
    const std::string name =
        dir.File("f.txt", Times("x line\r\n", FastScanner::kBlock / 4) + "a\r\nb a\r\n");
    for (const Scan scan : {Scan::FastInMemory, Scan::FastByLine}) {
        SCOPED_TRACE(static_cast<int>(scan));
        const std::string want = RunWords(Scan::LiteralByLine, {name}, Quiet(), {"a"}).output;
        int throws = ByLine(scan) ? 1 : 2;
        const Ran got =
            RunWords(scan, {name}, Quiet(), {"a"}, HeldLines::kDefaultBound, [&](RecordingHost&) {
                if (throws > 0) {
                    --throws;
                    throw std::bad_alloc();
                }
            });
        EXPECT_EQ(got.outcome, RunOutcome::Finished);
        EXPECT_EQ(got.output, want);
        EXPECT_EQ(got.hits, 2);
    }
}

// The in-memory scan holds no more than the size it was chosen for, and a
// line longer than the memory at hand ends the file long before the machine runs short.
TEST(FastRun, AFileThatNeverEnds) {
    TempDir dir;
    const std::string name = dir.File("proc", "");
    const std::string block = FileErrorText() + name + "\r\n\r\n";
    {
        FailingOps ops(name, FailingOps::Fail::Read);
        ops.endless = "a line\r\n";
        ops.okBytes = std::size_t{2} << 20;
        ScopedFileOps scoped(ops);
        const Ran got = RunWords(Scan::FastInMemory, {name}, Quiet(), {"a"});
        EXPECT_EQ(got.hits, (std::int64_t{2} << 20) / 8);
        EXPECT_TRUE(got.output.starts_with(HitOf(name, 1, "a", "a line")));
        EXPECT_TRUE(got.output.ends_with("\r\n" + block));
    }
    for (const Scan scan : {Scan::FastInMemory, Scan::FastByLine}) {
        FailingOps ops(name, FailingOps::Fail::Read);
        ops.endless = "x";
        ops.okBytes = std::size_t{64} << 20;
        ScopedFileOps scoped(ops);
        const Ran got = RunOn(scan, {name}, dir / "out.txt", Quiet(), {"a"});
        EXPECT_EQ(got.output, block);
        EXPECT_LT(ops.readBytes, std::size_t{4} << 20) << static_cast<int>(scan);
    }
}

// Held lines that cannot be held in a file: the file is searched again in a way
// that holds nothing, the user told why.
TEST(FastRun, HeldLinesFileFailuresAndStopWhileTheWordsAreSetUp) {
    TempDir dir, tmp;
    ScopedEnv tmpdir("TMPDIR", tmp.Path().c_str());
    const std::string settled = dir.File("s.txt", "a\r\n");
    const std::string sjis = dir.File("f.txt", Times("a\r\nab\r\nw7\r\n", 100));
    const std::string utf8 = dir.File("u.txt", Times("あa\r\n", 300'000));
    iset detect = Quiet();
    detect.InputEncoding = 1;
    const std::tuple<Scan, std::string, iset> cases[] = {{Scan::FastInMemory, sjis, Quiet()},
                                                         {Scan::FastInMemory, utf8, detect},
                                                         {Scan::FastByLine, utf8, detect}};
    for (const auto& [scan, name, options] : cases) {
        const std::string want = RunWords(scan, {settled, name}, options, {"a"}, 4096).output;
        for (const auto& [what, err] : {std::pair{FailingOps::Fail::Open, EMFILE},
                                        {FailingOps::Fail::Write, ENOSPC},
                                        {FailingOps::Fail::Read, EIO}}) {
            SCOPED_TRACE(name + " " + std::to_string(err));
            FailingOps ops(FailingOps::kTemporary, what, 0, err);
            ScopedFileOps scoped(ops);
            // The settled file's line is held in memory.
            const Ran got = RunWords(scan, {settled, name}, options, {"a"}, 4096);
            EXPECT_EQ(ops.opened.at(0), tmp.Path());
            if (what == FailingOps::Fail::Read) {
                EXPECT_EQ(got.outcome, RunOutcome::OutputFailed);
                EXPECT_TRUE(got.output.starts_with(HitOf(settled, 1, "a", "a")));
                continue;
            }
            EXPECT_EQ(got.outcome, RunOutcome::Finished);
            EXPECT_EQ(got.output, want);
            const std::vector<std::string> messages = Only(got.log, "message");
            ASSERT_EQ(messages.size(), 1u);
            EXPECT_NE(messages[0].find(std::strerror(err)), std::string::npos);
            EXPECT_TRUE(messages[0].ends_with(name));
        }
    }
    std::vector<std::string> words;
    for (int i = 0; i < 3000; ++i) {
        words.push_back("w" + std::to_string(i));
    }
    const Ran got = RunWords(Scan::FastInMemory, {sjis}, Quiet(), words, 32,
                             [](RecordingHost& h) { h.run->Stop(); });
    EXPECT_EQ(got.outcome, RunOutcome::Stopped);
    EXPECT_EQ(got.output, "");
}

}  // namespace
}  // namespace korvalen::test
