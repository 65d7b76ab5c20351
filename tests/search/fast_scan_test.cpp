// The fast scanners inside a whole run: the same output file as the literal
// scanners for every option, the hold-back of the in-memory twin, read errors,
// Stop, word edits, and the pieces they rest on (break counting, the matcher).
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <random>

#include "fixture.hpp"
#include "search/fast_scan.hpp"
#include "search/matcher.hpp"
#include "text/lines.hpp"

namespace korvalen::test {
namespace {

struct Outcome {
    std::string output;
    std::int64_t hits;
    std::int64_t progress;
    RunOutcome outcome;
    bool operator==(const Outcome&) const = default;
};

std::ostream& operator<<(std::ostream& os, const Outcome& o) {
    return os << "hits " << o.hits << " progress " << o.progress << " output [" << o.output << "]";
}

Outcome RunOnce(RecordingHost& host, const std::vector<std::string>& names, const std::string& out,
                const iset& options, bool literal) {
    SearchRun run(host);
    run.UseLiteralScanners(literal);
    run.SetHoldBound(32);  // held hit lines go through the temporary file too
    host.run = &run;
    std::string output = out;
    const RunOutcome outcome = run.Drop(names, output, options);
    host.run = nullptr;
    return {ReadBytes(out), run.State().HitCount, host.positions.back(), outcome};
}

// Whole runs over random files and words, every option that the scanners
// read, both twins: the output files are byte for byte the same.
TEST(FastRun, SameOutputFileAsTheLiteralScanners) {
    std::mt19937 rng(61206);
    const std::vector<std::string> pieces = {
        "a",    "b",  " ",  "\t",   "\x81\x40",           "\x82\xA0", "\x88", "\x41",    "\x40",
        "\xA0", "\r", "\n", "\r\n", std::string(1, '\0'), "\x1a",     "\x82", "\x83\x41"};
    auto text = [&](unsigned maxPieces) {
        std::string t;
        for (unsigned n = rng() % (maxPieces + 1); n > 0; --n) {
            t += pieces[rng() % pieces.size()];
        }
        return t;
    };
    TempDir dir;
    for (int round = 0; round < 400; ++round) {
        const std::int32_t widths[] = {0, 78, 12, 30, -1};
        const iset o = RandomOptions(rng, widths);
        std::vector<std::string> words;
        for (unsigned i = 1 + rng() % 4; i > 0; --i) {
            std::string w = text(3);
            std::erase_if(w, [](char c) { return c == '\r' || c == '\n'; });
            words.push_back(w);
        }
        std::vector<std::string> names;
        for (unsigned f = 1 + rng() % 3; f > 0; --f) {
            names.push_back(dir / ("f" + std::to_string(f) + ".txt"));
            WriteBytes(names.back(), text(80));
        }
        if (rng() % 8 == 0) {
            names.push_back(dir / "missing.txt");  // an error block
        }
        const bool byLine = (rng() & 1) != 0;
        RecordingHost a;
        RecordingHost b;
        a.words = b.words = words;
        a.shiftCtrl = b.shiftCtrl = byLine;
        const Outcome want = RunOnce(a, names, dir / "out1.txt", o, true);
        const Outcome got = RunOnce(b, names, dir / "out2.txt", o, false);
        ASSERT_EQ(got, want) << "round " << round << " by line " << byLine;
    }
}

// A file that cannot be read to its end: the in-memory twin writes no hit of
// it (as a load that failed), however many it held, the line-by-line twin
// keeps the hits before.
TEST(FastRun, ReadErrorInTheMiddleOfAFile) {
    std::string data;
    while (data.size() < 3 * FastScanner::kBlock) {
        data += "a line\r\n";
    }
    for (const bool byLine : {false, true}) {
        TempDir dir;
        RecordingHost host;
        host.words = {"a"};
        host.shiftCtrl = byLine;
        iset o;
        o.ErrorStop = false;
        o.SearchIconize = false;
        o.OutputStrLength = 0;
        const std::string a = dir / "a.txt";
        const std::string b = dir / "b.txt";
        WriteBytes(a, data);
        WriteBytes(b, "a\r\n");
        FailingOps ops(a, FailingOps::Fail::Read, /*okCalls=*/2);
        ScopedFileOps scoped(ops);
        const Outcome got = RunOnce(host, {a, b}, dir / "out.txt", o, false);
        const std::string block =
            "\r\n" + Sj("ファイルアクセスでエラーが生じました：") + a + "\r\n\r\n";
        const std::string last = b + "(1) :(a)a\r\n";
        if (byLine) {
            // Two reads of a block each went through: their whole lines were searched.
            const std::int64_t lines = 2 * FastScanner::kBlock / 8;
            std::string want;
            for (std::int64_t n = 1; n <= lines; ++n) {
                want += a + "(" + std::to_string(n) + ") :(a)a line\r\n";
            }
            EXPECT_EQ(got.output, want + block + last);
            EXPECT_EQ(got.hits, lines + 1);
        } else {
            EXPECT_EQ(got.output, block.substr(2) + last);
            EXPECT_EQ(got.hits, 1);
        }
    }
}

// Stop arrives while messages are processed, after a block: the file ends
// there, its separator line is still written, no further file is started.
TEST(FastRun, StopEndsTheFileAfterTheBlockInHand) {
    TempDir dir;
    std::string data;
    while (data.size() < 3 * FastScanner::kBlock) {
        data += "a\r\n";
    }
    std::vector<std::string> names;
    for (int i = 1; i <= 3; ++i) {
        names.push_back(dir / ("f" + std::to_string(i) + ".txt"));
        WriteBytes(names.back(), data);
    }
    RecordingHost host;
    host.words = {"a"};
    host.onProcess = [](RecordingHost& h) {
        if (h.status.rfind("検索中：2/3", 0) == 0) {
            h.run->Stop();
        }
    };
    iset o;
    o.SearchIconize = false;
    o.OutputStrLength = 0;
    const Outcome got = RunOnce(host, names, dir / "out.txt", o, false);
    EXPECT_EQ(got.outcome, RunOutcome::Stopped);
    const std::int64_t perFile = static_cast<std::int64_t>(data.size() / 3);
    // A block is the whole lines of what one read gave.
    const std::int64_t firstBlock = static_cast<std::int64_t>(FastScanner::kBlock / 3);
    // File 1 whole, its separator, then the first block of file 2 and its separator.
    EXPECT_EQ(got.hits, perFile + firstBlock);
    EXPECT_EQ(got.output.substr(got.output.size() - 2), "\r\n");
    EXPECT_EQ(got.output.find(names[2]), std::string::npos);
}

// The words may change while messages are processed; the next block uses them.
TEST(FastRun, WordsChangeBetweenBlocks) {
    TempDir dir;
    std::string data;
    while (data.size() < 2 * FastScanner::kBlock) {
        data += "ab\r\n";
    }
    RecordingHost host;
    host.words = {"a"};
    host.onProcess = [](RecordingHost& h) {
        h.words = {"", "b"};
        ++h.generation;
    };
    iset o;
    o.SearchIconize = false;
    o.OutputStrLength = 0;
    const std::string name = dir / "f.txt";
    WriteBytes(name, data);
    const Outcome got = RunOnce(host, {name}, dir / "out.txt", o, false);
    const std::size_t firstBlock = FastScanner::kBlock / 4;  // the lines of the first read
    EXPECT_EQ(got.hits, static_cast<std::int64_t>(data.size() / 4));
    const std::string n = std::to_string(firstBlock);
    const std::string m = std::to_string(firstBlock + 1);
    EXPECT_NE(got.output.find(name + "(" + n + ") :(a)ab\r\n" + name + "(" + m + ") :(b)ab"),
              std::string::npos);
}

// Held hit lines beyond the bound go to a file without a name in the output's
// folder; where none can be made there, in $TMPDIR. A failed write or read of
// it is the output's failure, never a silent loss.
TEST(FastRun, HeldLinesFileFailures) {
    TempDir dir;
    const std::string name = dir / "f.txt";
    WriteBytes(name, "a\r\nab\r\n");
    const std::string want = name + "(1) :(a)a\r\n" + name + "(2) :(a)ab\r\n";
    iset o;
    o.SearchIconize = false;
    for (const auto what :
         {FailingOps::Fail::Open, FailingOps::Fail::Write, FailingOps::Fail::Read}) {
        RecordingHost host;
        host.words = {"a"};
        FailingOps ops(dir.Path(), what);
        ScopedFileOps scoped(ops);
        const Outcome got = RunOnce(host, {name}, dir / "out.txt", o, false);
        if (what == FailingOps::Fail::Open) {
            EXPECT_EQ(got.outcome, RunOutcome::Finished);
            EXPECT_EQ(got.output, want);
        } else {
            EXPECT_EQ(got.outcome, RunOutcome::OutputFailed);
        }
    }
}

// Setting up a long word list lets Stop through: the run ends before the
// file's first line.
TEST(FastRun, StopWhileTheWordsAreSetUp) {
    TempDir dir;
    const std::string name = dir / "f.txt";
    WriteBytes(name, "w7\r\n");
    RecordingHost host;
    for (int i = 0; i < 3000; ++i) {
        host.words.push_back("w" + std::to_string(i));
    }
    host.onProcess = [](RecordingHost& h) { h.run->Stop(); };
    iset o;
    o.SearchIconize = false;
    const Outcome got = RunOnce(host, {name}, dir / "out.txt", o, false);
    EXPECT_EQ(got.outcome, RunOutcome::Stopped);
    EXPECT_EQ(got.hits, 0);
    EXPECT_EQ(got.output, "");
}

// Breaks found by the one line rule (the matcher marks them; see below).
TEST(FastParts, BreakBytesFound) {
    std::mt19937 rng(7);
    const char bytes[] = {'\r', '\n', 'a', '\x81', 'z'};
    for (int round = 0; round < 2000; ++round) {
        std::string s;
        for (unsigned n = rng() % 200; n > 0; --n) {
            s += bytes[rng() % sizeof bytes];
        }
        const std::size_t from = s.empty() ? 0 : rng() % s.size();
        EXPECT_EQ(FindBreakByte(s.data(), from, s.size()),
                  std::min(s.find_first_of("\r\n", from), s.size()));
    }
}

constexpr Matcher::Engine kEngines[] = {Matcher::Engine::Best, Matcher::Engine::Scalar,
                                        Matcher::Engine::Nibbles, Matcher::Engine::NibblesNarrow,
                                        Matcher::Engine::Hashed};

// The matcher finds every occurrence, overlapping ones too, by end, with
// every engine; the breaks and byte classes it marks on the way are those of
// the line rule and the sets.
TEST(FastParts, MatcherFindsEveryOccurrence) {
    std::mt19937 rng(11);
    const char bytes[] = {'a', 'b', '\x81', '\x40', '\x82', '\xA0', '\0', '\r', '\n'};
    auto random = [&](unsigned max, unsigned alphabet) {
        std::string s;
        for (unsigned n = rng() % (max + 1); n > 0; --n) {
            s += bytes[rng() % alphabet];
        }
        return s;
    };
    // Kept from round to round, as the scanners keep theirs from block to block.
    std::array<Matcher::Breaks, std::size(kEngines)> kept;
    for (int round = 0; round < 3000; ++round) {
        std::vector<std::string> words;
        // Up to 40 words: the nibbles with a bucket each and shared ones, the
        // hashed filter and the plain loop all have their turn.
        for (unsigned n = 1 + rng() % (round % 2 ? 6 : 40); n > 0; --n) {
            words.push_back(random(round % 3 == 0 ? 6 : 2 + rng() % 5, 7));
        }
        // Now and then longer than the stretch the vector loops hold.
        std::string text = random(round % 50 == 0 ? 20000 : 300, 9);
        if (round % 6 == 5) {
            // Many words under one head (looked up whole, by length), one
            // longer than that look-up takes; now and then thousands of them,
            // once enough for tables fetched ahead. Words ending inside the
            // long ones come out after many of them.
            const std::string head =
                "ab\x81"
                "a";
            for (unsigned n = round == 5         ? 40000
                              : round % 600 == 5 ? 5000
                                                 : 5 + rng() % 30;
                 n > 0; --n) {
                words.push_back(head + random(round % 12 == 5 && round != 5 ? 3 : 9, 3));
            }
            for (std::size_t k = round % 12 == 11 ? 40 : 70; k <= 70; ++k) {
                words.push_back(head + std::string(k, 'b'));
            }
            words.push_back("bb");
            text = random(300, 3) + head + std::string(70, 'b') + random(300, 3);
        }
        std::vector<bool> first(words.size());
        for (std::size_t j = 0; j < words.size(); ++j) {
            first[j] = std::find(words.begin(), words.begin() + static_cast<std::ptrdiff_t>(j),
                                 words[j]) == words.begin() + static_cast<std::ptrdiff_t>(j);
        }
        std::vector<Matcher::Match> want;
        for (std::size_t end = 1; end <= text.size(); ++end) {
            for (std::uint32_t j = 0; j < words.size(); ++j) {
                const std::string& w = words[j];
                if (first[j] && !w.empty() && w.size() <= end &&
                    text.compare(end - w.size(), w.size(), w) == 0) {
                    want.push_back({end, j});
                }
            }
        }
        std::array<std::uint64_t, 4> set{};
        for (int k = 0; k < 8; ++k) {
            const unsigned c = rng() % 256;
            set[c >> 6] |= std::uint64_t{1} << (c & 63);
        }
        const std::vector<std::string_view> lines = SplitLines(text);
        const bool open = !text.empty() && text.back() != '\n' && text.back() != '\r';
        for (std::size_t e = 0; e < std::size(kEngines); ++e) {
            const Matcher::Engine engine = kEngines[e];
            std::vector<Matcher::Match> got;
            Matcher::Breaks& breaks = kept[e];
            const bool before_break = round % 4 < 2;
            breaks.classes[round % 2].on = true;
            breaks.classes[round % 2].set = set;
            breaks.classes[round % 2].before_break = before_break;
            breaks.classes[1 - round % 2].on = false;
            Matcher(words, engine).FindAll(text, got, round % 5 == 0 ? nullptr : &breaks);
            auto key = [](const Matcher::Match& m) { return std::pair(m.end, m.word); };
            ASSERT_TRUE(std::is_sorted(got.begin(), got.end(),
                                       [](auto& x, auto& y) { return x.end < y.end; }));
            std::sort(got.begin(), got.end(), [&](auto& x, auto& y) { return key(x) < key(y); });
            ASSERT_EQ(got.size(), want.size()) << round;
            for (std::size_t i = 0; i < got.size(); ++i) {
                ASSERT_EQ(key(got[i]), key(want[i])) << round;
            }
            if (round % 5 == 0) {
                continue;
            }
            ASSERT_EQ(breaks.end_count + (open ? 1 : 0), lines.size()) << round;
            std::size_t break_bytes = 0;
            for (std::size_t i = 0; i < text.size(); ++i) {
                const bool is_break = text[i] == '\r' || text[i] == '\n';
                const bool ends =
                    text[i] == '\n' ||
                    (text[i] == '\r' && (i + 1 == text.size() || text[i + 1] != '\n'));
                const auto c = static_cast<unsigned char>(text[i]);
                const bool in_set = (set[c >> 6] >> (c & 63) & 1) != 0;
                ASSERT_EQ((breaks.any[i >> 6] >> (i & 63) & 1) != 0, is_break) << round << " " << i;
                ASSERT_EQ((breaks.ends[i >> 6] >> (i & 63) & 1) != 0, ends) << round << " " << i;
                const auto& bits = breaks.classes[round % 2].bits;
                const bool next_break =
                    i + 1 < text.size() && (text[i + 1] == '\r' || text[i + 1] == '\n');
                const bool marked = (bits[i >> 6] >> (i & 63) & 1) != 0;
                // A filter: more may be marked, none left out; but a byte
                // marked before a break is always before one.
                if (in_set && (next_break || !before_break)) {
                    ASSERT_TRUE(marked) << round << " " << i;
                }
                if (marked && before_break) {
                    ASSERT_TRUE(next_break) << round << " " << i;
                }
                break_bytes += is_break ? 1 : 0;
            }
            ASSERT_EQ(breaks.any_count, break_bytes) << round;
            for (std::size_t i = text.size(); i < breaks.any.size() * 64; ++i) {
                ASSERT_EQ(breaks.any[i >> 6] >> (i & 63) & 1, 0u) << round;
            }
        }
    }
}

}  // namespace
}  // namespace korvalen::test
