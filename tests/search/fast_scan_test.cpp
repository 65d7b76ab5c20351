// The fast scanners inside a whole run: read errors, large files in pieces,
// memory running short, Stop, and the file of held lines.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <new>
#include <random>

#include "fixture.hpp"
#include "run/fast_scan.hpp"
#include "run/scanner.hpp"
#include "tests/support/scoped_env.hpp"

namespace korvalen::test {
namespace {

// A file that cannot be read to its end: the in-memory twins write no hit of
// it (as a load that failed), however many they held, the line-by-line twins
// keep the hits of the reads that went through.
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

// A file of several windows of pieces, words cut by its breaks: every thread
// count writes what one thread writes, and more than one searches pieces at
// once (the bar moves a piece at a time).
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

// Memory running out in the fast scanners' blocks (the host's call after a
// block throws, as an allocation there would): the file is read a line at a
// time instead, its hit lines as ever; no error block.
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
        EXPECT_EQ(got.positions.back(), static_cast<std::int64_t>(ReadBytes(name).size()));
    }
}

// The in-memory scan holds no more than the size it was chosen for: beyond,
// its hits go out as the line-by-line scan's do. A line longer than the
// memory at hand ends the file with its error block, long before the machine
// runs short.
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
        RecordingHost host;
        host.words = {"a"};
        host.memory = std::int64_t{8} << 20;
        const Ran got = RunScan(host, scan, {name}, dir / "out.txt", Quiet());
        EXPECT_EQ(got.output, block);
        EXPECT_LT(ops.readBytes, std::size_t{16} << 20) << static_cast<int>(scan);
    }
}

// Held lines that cannot be held in a file: the file is searched again in a
// way that holds nothing, the user told why; the lines of the files before
// are in the output whatever fails. The held file is made off the output's disk.
TEST(FastRun, HeldLinesFileFailuresAndStopWhileTheWordsAreSetUp) {
    TempDir dir, tmp;
    ScopedEnv tmpdir("TMPDIR", tmp.Path().c_str());
    const std::string settled = dir.File("s.txt", "a\r\n");
    const std::string sjis = dir.File("f.txt", Times("a\r\nab\r\nw7\r\n", 100));
    const std::string utf8 = dir.File("u.txt", Times("\xE3\x81\x82"
                                                     "a\r\n",
                                                     300'000));
    iset detect = Quiet();
    detect.InputEncoding = 1;
    const struct {
        Scan scan;
        std::string name;
        iset options;
    } cases[] = {{Scan::FastInMemory, sjis, Quiet()},
                 {Scan::FastInMemory, utf8, detect},
                 {Scan::FastByLine, utf8, detect}};
    for (const auto& c : cases) {
        const std::string want = RunWords(c.scan, {settled, c.name}, c.options, {"a"}, 4096).output;
        for (const auto& [what, err] : {std::pair{FailingOps::Fail::Open, EMFILE},
                                        {FailingOps::Fail::Write, ENOSPC},
                                        {FailingOps::Fail::Read, EIO}}) {
            SCOPED_TRACE(c.name + " " + std::to_string(err));
            FailingOps ops(FailingOps::kTemporary, what, 0, err);
            ScopedFileOps scoped(ops);
            RecordingHost host;
            host.words = {"a"};
            SearchRun run(host);
            run.SetHoldBound(4096);  // the settled file's line is held in memory
            std::string out = dir / "out.txt";
            const RunOutcome outcome =
                run.Drop({{settled, c.name}, host.words, out, c.options, ByLine(c.scan)});
            const std::string got = ReadBytes(out);
            ASSERT_FALSE(ops.opened.empty());
            EXPECT_EQ(ops.opened.front(), tmp.Path());
            if (what == FailingOps::Fail::Read) {
                EXPECT_EQ(outcome, RunOutcome::OutputFailed);
                EXPECT_TRUE(got.starts_with(HitOf(settled, 1, "a", "a"))) << got.size();
                continue;
            }
            EXPECT_EQ(outcome, RunOutcome::Finished);
            EXPECT_EQ(got, want);
            const std::vector<std::string> messages = host.Only("message");
            ASSERT_EQ(messages.size(), 1u);
            EXPECT_NE(messages[0].find(std::strerror(err)), std::string::npos);
            EXPECT_TRUE(messages[0].ends_with(c.name));
        }
    }
    std::vector<std::string> words;
    for (int i = 0; i < 3000; ++i) {
        words.push_back("w" + std::to_string(i));
    }
    const Ran got = RunWords(Scan::FastInMemory, {sjis}, Quiet(), words, 32,
                             [](RecordingHost& h) { h.run->Stop(); });
    EXPECT_EQ(got.outcome, RunOutcome::Stopped);
    EXPECT_EQ(got.hits, 0);
    EXPECT_EQ(got.output, "");
}

}  // namespace
}  // namespace korvalen::test
