// The fast scanners inside a whole run: the same output file as the literal
// scanners for every option, read errors, Stop, and the file of held lines.
#include <gtest/gtest.h>

#include <array>
#include <random>

#include "fixture.hpp"
#include "run/fast_scan.hpp"
#include "run/scanner.hpp"
#include "text/lines.hpp"
#include "text/sjis.hpp"

namespace korvalen::test {
namespace {

// What the fast scanners share with the literal ones: they report progress
// per block, so only its last two steps.
auto Key(const Ran& r) {
    return std::tuple(r.outcome, r.output, r.hits, r.positions.end()[-2], r.positions.back());
}

// Random runs (code page 932 or UTF-8 files), every option the scanners read: each
// fast scanner writes its literal twin's bytes; the twins agree where meant to.
TEST(FastRun, SameOutputFileAsTheLiteralScanners) {
    std::mt19937 rng(61206);
    TempDir dir;
    for (int round = 0; round < 400; ++round) {
        iset o = Quiet();
        o.TagJump = (rng() & 1) != 0;
        o.FileSeparate = (rng() & 1) != 0;
        o.JapaneseWord = (rng() & 1) != 0;
        o.CRText = (rng() & 1) != 0;
        o.OutputStrLength = std::array{0, 78, 12, 30, -1}[rng() % 5];
        const bool utf8 = round % 6 == 5;
        o.InputEncoding = utf8 || rng() % 8 == 0 ? 1 : 0;
        // The literal twins differ on a previous line that ends in blanks.
        const bool twins = !utf8 && (!o.CRText || round % 2 == 0);
        std::vector<std::string> words =
            utf8 ? Utf8PieceWords(rng, rng() % 3 != 0) : std::vector<std::string>(1 + rng() % 4);
        if (!utf8) {
            for (std::string& w : words) {
                w = RandomSjis(rng, 4);
                std::erase_if(w, [](char c) { return c == '\r' || c == '\n'; });
            }
        }
        std::vector<std::string> names;
        for (unsigned f = 1 + rng() % 3; f > 0; --f) {
            std::string text = utf8 ? (round % 4 == 0 ? "\xEF\xBB\xBF" : "") +
                                          RandomUtf8(rng, 30 + rng() % 300) + "検"
                                    : RandomSjis(rng, 80);
            if (o.CRText && twins) {
                std::string fixed;
                ForEachLine(text, [&](std::string_view l) {
                    fixed += std::string(l) +
                             (TrimRightBlanksView(l).size() != l.size() ? "z" : "") + "\r\n";
                });
                text = fixed;
            }
            names.push_back(dir.File("f" + std::to_string(f) + ".txt", text));
        }
        if (rng() % 8 == 0) {
            names.push_back(dir / "missing.txt");  // an error block
        }
        Ran got[4];  // a hold bound so small that held lines go through the file
        for (const Scan scan : kScans) {
            got[static_cast<int>(scan)] = RunWords(scan, names, o, words, 32);
        }
        SCOPED_TRACE("round " + std::to_string(round));
        ASSERT_EQ(Key(got[2]), Key(got[0]));  // in memory
        ASSERT_EQ(Key(got[3]), Key(got[1]));  // by line
        if (twins) {
            ASSERT_EQ(got[0].output, got[1].output);
            ASSERT_EQ(got[0].positions, got[1].positions);
        } else if (utf8) {
            ASSERT_EQ(got[0].positions.end()[-2], got[1].positions.end()[-2]);
        }
    }
}

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

// Held hit lines beyond the bound go to a nameless file in the output's folder,
// else in $TMPDIR; its failed write or read fails the output, never a silent
// loss. And setting up a long word list lets Stop through before the first line.
TEST(FastRun, HeldLinesFileFailuresAndStopWhileTheWordsAreSetUp) {
    TempDir dir;
    const std::string name = dir.File("f.txt", "a\r\nab\r\nw7\r\n");
    for (const auto what :
         {FailingOps::Fail::Open, FailingOps::Fail::Write, FailingOps::Fail::Read}) {
        FailingOps ops(dir.Path(), what);
        ScopedFileOps scoped(ops);
        const Ran got = RunWords(Scan::FastInMemory, {name}, Quiet(), {"a"}, 32);
        if (what == FailingOps::Fail::Open) {
            EXPECT_EQ(got.outcome, RunOutcome::Finished);
            EXPECT_EQ(got.output, HitOf(name, 1, "a", "a") + HitOf(name, 2, "a", "ab"));
        } else {
            EXPECT_EQ(got.outcome, RunOutcome::OutputFailed);
        }
    }
    std::vector<std::string> words;
    for (int i = 0; i < 3000; ++i) {
        words.push_back("w" + std::to_string(i));
    }
    const Ran got = RunWords(Scan::FastInMemory, {name}, Quiet(), words, 32,
                             [](RecordingHost& h) { h.run->Stop(); });
    EXPECT_EQ(got.outcome, RunOutcome::Stopped);
    EXPECT_EQ(got.hits, 0);
    EXPECT_EQ(got.output, "");
}

}  // namespace
}  // namespace korvalen::test
