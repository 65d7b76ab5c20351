// The fast scanner against the word loop, on random inputs built for the awkward places.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "fast_oracle.hpp"
#include "fixture.hpp"
#include "text/encoding.hpp"

namespace korvalen::test {

std::ostream& operator<<(std::ostream& os, const Result& r) {
    return os << ::testing::PrintToString(r.hits) << " progress " << r.progress << " lines "
              << r.lines;
}

namespace {

// A run of one character, as rules of ーーー or ＝＝＝ in documents.
std::string RandomRun(std::mt19937& rng, std::size_t count) {
    static const char* const kRunPieces[] = {"a", "\x81", "\x81\x5B", "\x81\x40"};
    std::string run;
    for (const char* piece = kRunPieces[rng() % 4]; count > 0; --count) {
        run += piece;
    }
    return run;
}

std::vector<std::string> RandomWords(std::mt19937& rng, const std::string& text) {
    std::vector<std::string> words;
    for (std::size_t n = 1 + rng() % 6; n > 0; --n) {
        const unsigned roll = rng() % 10;
        if (roll < 5 && !text.empty()) {  // a piece of the text: it occurs
            std::string w = text.substr(rng() % text.size(), 1 + rng() % 4);
            w.resize(std::min(w.size(), w.find_first_of("\r\n")));
            words.push_back(w);
        } else if (roll == 5) {
            words.emplace_back();
        } else if (roll == 6 && !words.empty()) {  // a prefix or an extension of another
            std::string w = words[rng() % words.size()];
            if (w.size() > 1 && rng() % 2 == 0) {
                w.pop_back();
            } else {
                w += kSjisPieces[rng() % kSjisPieces.size()];
            }
            words.push_back(w);
        } else if (roll == 7) {
            words.push_back(rng() % 2 ? " " : "\x81\x40");
        } else if (roll == 8 && rng() % 2 == 0) {  // long, near a match in a run (RandomRun)
            words.push_back(RandomRun(rng, 8 + rng() % 30) + RandomSjis(rng, 2));
        } else {
            words.push_back(RandomSjis(rng, 4));
        }
    }
    if (rng() % 128 == 0 && !text.empty()) {
        // A large family: many words share heads and each line holds several,
        // so that a line's later words are passed over once an earlier one is in.
        std::vector<std::string> family;
        for (int i = 0; i < 600; ++i) {
            std::string w = text.substr(rng() % text.size(), 4 + rng() % 6);
            family.push_back(i % 2 == 0 ? w : w + RandomSjis(rng, 4));
        }
        words.insert(words.begin(), family.begin(), family.end());
    }
    return words;
}

// Bytes from `ok` on cannot be read (as a bad sector); read in order only,
// or by place too.
class FailingSource : public ByteSource {
  public:
    FailingSource(std::string_view data, std::size_t max_chunk, std::size_t ok, bool by_place)
        : inner_(data, max_chunk), ok_(ok), by_place_(by_place) {}
    std::size_t Read(char* buf, std::size_t n) override {
        const std::size_t got = ReadAt(buf, n, 0);
        inner_.Passed(got);
        done_ += got;
        return got;
    }
    bool CanReadAt() const noexcept override { return by_place_; }
    std::size_t ReadAt(char* buf, std::size_t n, std::uint64_t ahead) override {
        const std::uint64_t at = done_ + ahead;
        if (n > 0 && at >= ok_) {
            throw std::runtime_error("read");
        }
        return inner_.ReadAt(buf, std::min<std::uint64_t>(n, ok_ - at), ahead);
    }
    void Passed(std::size_t n) override {
        inner_.Passed(n);
        done_ += n;
    }

  private:
    MemorySource inner_;
    std::size_t ok_;
    bool by_place_;
    std::size_t done_ = 0;
};

constexpr Matcher::Engine kEngines[] = {Matcher::Engine::Best, Matcher::Engine::Scalar,
                                        Matcher::Engine::Nibbles, Matcher::Engine::NibblesNarrow,
                                        Matcher::Engine::Hashed};

TEST(FastDiff, RandomInputsGiveTheLiteralHits) {
    std::mt19937 rng(20261206);
    for (int set = 0; set < 2500; ++set) {
        const std::string sample = RandomSjis(rng, 60);
        const std::vector<std::string> words = RandomWords(rng, sample);
        const std::vector<std::string> other = RandomWords(rng, sample);
        // Two of the matcher's engines for each word set, in turn.
        for (const std::size_t e : {set % std::size(kEngines), (set + 2) % std::size(kEngines)}) {
            FastScanner scanner({}, kEngines[e]);
            const unsigned threads = 1 + set % 4;
            for (int t = 0; t < 5; ++t) {
                // Some long enough for the vector loops of the matcher.
                std::string text = RandomSjis(rng, t == 0 ? 700 : 120);
                if (rng() % 3 == 0) {  // make words straddle lines more often
                    text = sample + kBreaks[rng() % 3] + text;
                }
                if (rng() % 4 == 0) {
                    text.insert(rng() % (text.size() + 1), RandomRun(rng, 20 + rng() % 100));
                }
                for (int opt = 0; opt < 8; ++opt) {
                    const FastScanner::Config c{(opt & 1) != 0, (opt & 2) != 0, (opt & 4) != 0};
                    scanner.SetConfig(c);
                    scanner.SetBlockSize(rng() % 2 == 0 ? 1 + rng() % 48 : 64 + rng() % 400);
                    // Pieces of a few lines or of one.
                    scanner.SetThreads(threads, 1 + rng() % 64);
                    // 0: in memory; 1: read in order; 2: read by place.
                    const unsigned by_source = rng() % 3;
                    scanner.SetWords(words);
                    scanner.Reset();
                    Recorder rec(scanner, other, rng() % 4 == 0 ? 1 + rng() % 3 : -1);
                    if (by_source > 0) {
                        FailingSource src(text, 1 + rng() % 20, std::string::npos, by_source == 2);
                        scanner.ScanSource(src, rec);
                    } else {
                        scanner.ScanBuffer(text, rec);
                    }
                    rec.result.lines = scanner.LinesDone();
                    ASSERT_EQ(rec.result, Literal(text, c, words, other, rec.switched_after))
                        << ::testing::PrintToString(
                               std::tuple(set, text, words, other, opt, by_source));
                }
            }
        }
    }
}

// Near matches at every byte, and matches of two lengths in runs of lead bytes
// whose starts go back and forth.
TEST(FastDiff, WorkIsLinearInTheTextWhateverTheWords) {
    const std::string near = Times("a", 3000) + "b";
    const std::string rule = Times("\x81\x81", 3000) + "x";  // ＝＝＝
    struct Case {
        std::vector<std::string> words;
        std::string line;
    } cases[] = {
        {{near}, Times("a", 20000)},
        {{"zz", near, "a"}, Times("a", 20000)},
        {{rule}, Times("\x81", 40000)},
        {{"\x81\x41", "\x81\x81\x81\x41\x81"}, Times(Times("\x81", 100) + "\x41", 400)},
    };
    for (const Case& c : cases) {
        for (int opt = 0; opt < 4; ++opt) {
            const FastScanner::Config config{(opt & 1) != 0, (opt & 2) != 0, true};
            FastScanner scanner(config);
            scanner.SetWords(c.words);
            const std::string text = c.line + "\r\n" + c.line + "\r\n" + c.line;
            Recorder rec(scanner, {}, -1);
            scanner.ScanBuffer(text, rec);
            EXPECT_LE(scanner.Work(), 8 * text.size()) << opt << " " << c.words.back().size();
        }
    }
}

TEST(FastDiff, AReadFailureInAnyPieceAsOnOneThread) {
    std::mt19937 rng(61207);
    for (int round = 0; round < 600; ++round) {
        const std::string text = RandomSjis(rng, 300);
        const std::vector<std::string> words = RandomWords(rng, text);
        const FastScanner::Config c{rng() % 2 == 0, rng() % 2 == 0, rng() % 2 == 0};
        const std::size_t block = 1 + rng() % 64;
        const std::size_t chunk = 1 + rng() % 20;
        const std::size_t ok = rng() % (text.size() + 1);
        Result got[3];
        // One thread, then pieces read in order and read by place.
        for (const int way : {0, 1, 2}) {
            FastScanner scanner(c);
            scanner.SetBlockSize(block);
            scanner.SetThreads(way == 0 ? 1 : 2 + round % 3, 1 + rng() % 32);
            scanner.SetWords(words);
            Recorder rec(scanner, {}, -1);
            FailingSource src(text, chunk, ok, way == 2);
            EXPECT_THROW(scanner.ScanSource(src, rec), std::runtime_error);
            rec.result.lines = scanner.LinesDone();
            got[way] = rec.result;
        }
        for (const int way : {1, 2}) {
            ASSERT_EQ(got[way], got[0])
                << way << ::testing::PrintToString(std::tuple(round, text, words, ok));
        }
    }
}

// Lines that cannot hold a hit are counted, not converted.
TEST(FastDiff, Utf8ScanGivesTheHitsOfTheConvertedText) {
    std::mt19937 rng(20261206);
    // Cut by breaks, lone continuation bytes, overlong forms, surrogates.
    const std::string bad[] = {"\xE3\x81",         "\xE3",     "\x80", "\xC0\xAF", "\xED\xA0\x80",
                               "\xF4\x90\x80\x80", "\xEF\xBD", "\xEF"};
    for (int round = 0; round < 1500; ++round) {
        std::string text = round % 7 == 0 ? "\xEF\xBB\xBF" : "";
        if (round % 10 == 9) {
            text += Times("ascii\r\n", 50);  // a first window of ASCII only
        }
        std::vector<std::size_t> blocks = {1 + rng() % 300};
        FastScanner::Config c{round % 5 != 1, round % 6 == 2, round % 2 == 0};
        if (round % 5 == 4) {
            // Invalid bytes, and lines far apart so that gaps are counted and
            // candidates grouped; the file ends inside a sequence.
            for (std::size_t i = 50 + rng() % 400; i > 0; --i) {
                text += rng() % 9 == 0 ? bad[rng() % 8] : "";
                text += RandomUtf8(rng, 1) + (rng() % 50 == 0 ? std::string(5000, 'z') : "");
                text += kBreaks[rng() % 3];
            }
            text += bad[rng() % 8];
            blocks = {64, 4096, FastScanner::kBlock};
            c = {};
        } else {
            text += RandomUtf8(rng, 1 + rng() % (round % 3 == 0 ? 200 : 40));
        }
        const std::vector<std::string> words = Utf8PieceWords(rng, round % 4 != 0);
        // Words that the filter can use or cannot, after the second block.
        const std::vector<std::string> other = Utf8PieceWords(rng, round % 2 == 0);
        const std::string converted = ToCp932(text, TextEncoding::Utf8);
        // A provisional scan (no word change then) stands on valid UTF-8; one that
        // settled on code page 932 reads the file as that from its start, mark dropped.
        const bool provisional = round % 3 == 1;
        const std::string as_cp932 = text.substr(text.starts_with("\xEF\xBB\xBF") ? 3 : 0);
        for (const std::size_t block : blocks) {
            // One thread, then pieces of a few bytes read in order and by place.
            for (const int way : {0, 1, 2}) {
                FastScanner fast(c);
                fast.SetBlockSize(block);
                fast.SetThreads(way == 0 ? 1 : 2 + round % 3, 1 + rng() % 64);
                fast.SetWords(words);
                Recorder rec(fast, other, round % 3 == 0 ? 2 : -1);
                FailingSource raw(text, 1 + block / 3, std::string::npos, way == 2);
                const bool stands = fast.ScanUtf8Source(raw, rec, provisional);
                rec.result.lines = fast.LinesDone();
                const auto where =
                    ::testing::PrintToString(std::tuple(round, block, way, text, words, other));
                if (!stands) {
                    ASSERT_TRUE(provisional && !SummarizeUtf8(text).valid) << where;
                    continue;
                }
                ASSERT_EQ(rec.result, Literal(rec.settled > 0 ? as_cp932 : converted, c, words,
                                              other, rec.switched_after))
                    << where;
            }
        }
    }
}

}  // namespace
}  // namespace korvalen::test
