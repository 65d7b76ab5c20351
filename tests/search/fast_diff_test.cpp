// The fast scanner against the word loop written out line by line, on many
// random inputs built to hit the awkward places: words that straddle
// double-byte characters, every kind of line break, blanks and full-width
// spaces at the joins, empty words, words that are prefixes of each other,
// and words that change between two lines.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "search/fast_scan.hpp"
#include "text/lines.hpp"
#include "text/sjis.hpp"

namespace korvalen {
namespace {

struct Hit {
    std::int64_t number;
    std::uint32_t word;
    std::string text;
    bool operator==(const Hit&) const = default;
};

std::ostream& operator<<(std::ostream& os, const Hit& h) {
    os << h.number << ":" << h.word << ":";
    for (const unsigned char c : h.text) {
        os << std::hex << static_cast<int>(c) << std::dec << ' ';
    }
    return os;
}

struct Result {
    std::vector<Hit> hits;
    std::int64_t progress = 0;
    std::int64_t lines = 0;
};

// The word loop exactly as the scanners run it, one line at a time. The words
// switch from `second` on line `switch_after` + 1.
Result Literal(std::string_view data, const FastScanner::Config& c,
               const std::vector<std::string>& first, const std::vector<std::string>& second,
               std::int64_t switch_after) {
    Result r;
    std::string prev;
    std::int64_t number = 0;
    ForEachLine(data, [&](std::string_view line) {
        ++number;
        r.progress += static_cast<std::int64_t>(line.size()) + 2;
        const auto& words = number > switch_after ? second : first;
        if (line.empty()) {
            prev.clear();
            return;
        }
        std::string tight, spaced;
        const bool joined = c.cr_text && !prev.empty();
        if (joined) {
            const std::string left = c.trim_prev ? TrimRightBlanks(prev) : prev;
            tight = left + TrimLeftBlanks(line);
            spaced = left + " " + TrimLeftBlanks(line);
        }
        auto occurs = [&](const std::string& w, std::string_view in) {
            return !w.empty() && in.find(w) != std::string_view::npos;
        };
        bool matched = false;
        for (std::uint32_t j = 0; !matched && j < words.size(); ++j) {
            const std::string& w = words[j];
            if (occurs(w, line) && (!c.japanese_word || AlignedPos(w, line) != 0)) {
                r.hits.push_back({number, j, std::string(line)});
                matched = true;
            } else if (joined) {
                if (occurs(w, tight)) {
                    if (!c.japanese_word || AlignedPos(w, tight) != 0) {
                        r.hits.push_back({number - 1, j, prev});
                        matched = true;
                    }
                } else if (occurs(w, spaced) && (!c.japanese_word || AlignedPos(w, spaced) != 0)) {
                    r.hits.push_back({number - 1, j, prev});
                    matched = true;
                }
            }
        }
        if (c.cr_text) {
            prev = matched ? std::string() : std::string(line);
        }
    });
    r.lines = number;
    return r;
}

class Recorder : public FastScanner::Host {
  public:
    Recorder(FastScanner& scanner, std::vector<std::string> second, std::int64_t switch_at_block)
        : scanner_(scanner), second_(std::move(second)), switch_at_block_(switch_at_block) {}
    void Hit(std::int64_t number, std::uint32_t word, std::string_view text) override {
        result.hits.push_back({number, word, std::string(text)});
    }
    bool AfterBlock(std::int64_t progress) override {
        result.progress += progress;
        if (++blocks_ == switch_at_block_) {
            switched_after = scanner_.LinesDone();
            scanner_.SetWords(second_);
        }
        return true;
    }
    Result result;
    std::int64_t switched_after = INT64_MAX;

  private:
    FastScanner& scanner_;
    std::vector<std::string> second_;
    std::int64_t switch_at_block_;
    std::int64_t blocks_ = 0;
};

// Pieces chosen so that lead bytes, possible second bytes, blanks and breaks
// meet in every order.
const std::vector<std::string> kPieces = {
    "a",        "b",    "A",    "@",    " ",    "\t",       "\x81\x40", "\x81",
    "\x82",     "\x88", "\xE0", "\xFC", "\x40", "\x41",     "\x82\xA0", "\x88\x9F",
    "\x83\x41", "\xA0", "\xDF", "\x00", "\x1A", "\x81\x20", "\x83\x40"};
const std::vector<std::string> kBreaks = {"\r\n", "\n", "\r"};

std::string RandomText(std::mt19937& rng, std::size_t max_len) {
    std::string s;
    const std::size_t len = rng() % (max_len + 1);
    while (s.size() < len) {
        const unsigned roll = rng() % 10;
        if (roll == 0) {
            s += kBreaks[rng() % kBreaks.size()];
        } else {
            s += kPieces[rng() % kPieces.size()];
        }
    }
    return s;
}

std::vector<std::string> RandomWords(std::mt19937& rng, const std::string& text) {
    std::vector<std::string> words;
    const std::size_t n = 1 + rng() % 6;
    for (std::size_t i = 0; i < n; ++i) {
        const unsigned roll = rng() % 10;
        if (roll < 5 && !text.empty()) {  // a piece of the text: it occurs
            const std::size_t at = rng() % text.size();
            std::string w = text.substr(at, 1 + rng() % 4);
            const std::size_t br = w.find_first_of("\r\n");
            if (br != std::string::npos) {
                w.resize(br);
            }
            words.push_back(w);
        } else if (roll == 5) {
            words.emplace_back();
        } else if (roll == 6 && !words.empty()) {  // a prefix or an extension of another
            std::string w = words[rng() % words.size()];
            if (w.size() > 1 && rng() % 2 == 0) {
                w.pop_back();
            } else {
                w += kPieces[rng() % kPieces.size()];
            }
            words.push_back(w);
        } else if (roll == 7) {
            words.push_back(rng() % 2 ? " " : "\x81\x40");
        } else {
            words.push_back(RandomText(rng, 4));
        }
    }
    if (rng() % 128 == 0 && !text.empty()) {
        // A large family: many words share heads and each line holds several,
        // so that a line's later words are passed over once an earlier one is in.
        std::vector<std::string> family;
        for (int i = 0; i < 600; ++i) {
            std::string w = text.substr(rng() % text.size(), 4 + rng() % 6);
            family.push_back(i % 2 == 0 ? w : w + RandomText(rng, 4));
        }
        words.insert(words.begin(), family.begin(), family.end());
    }
    return words;
}

std::string Hex(std::string_view s) {
    std::string out;
    char buf[4];
    for (const unsigned char c : s) {
        std::snprintf(buf, sizeof buf, "%02x ", c);
        out += buf;
    }
    return out;
}

std::string Describe(const std::string& text, const std::vector<std::string>& words,
                     const std::vector<std::string>& other, std::int64_t switched) {
    std::string out = "text: " + Hex(text) + "\nwords:";
    for (const auto& w : words) {
        out += " [" + Hex(w) + "]";
    }
    out += "\nthen after line " + std::to_string(switched) + ":";
    for (const auto& w : other) {
        out += " [" + Hex(w) + "]";
    }
    return out;
}

constexpr Matcher::Engine kEngines[] = {Matcher::Engine::Best, Matcher::Engine::Scalar,
                                        Matcher::Engine::Nibbles, Matcher::Engine::NibblesNarrow,
                                        Matcher::Engine::Hashed};

TEST(FastDiff, RandomInputsGiveTheLiteralHits) {
    std::mt19937 rng(20261206);
    const int kWordSets = 2500;
    const int kTexts = 5;
    long cases = 0;
    for (int set = 0; set < kWordSets; ++set) {
        const std::string sample = RandomText(rng, 60);
        const std::vector<std::string> words = RandomWords(rng, sample);
        const std::vector<std::string> other = RandomWords(rng, sample);
        // Two of the matcher's engines for each word set, in turn.
        const Matcher::Engine engines[] = {kEngines[set % std::size(kEngines)],
                                           kEngines[(set + 2) % std::size(kEngines)]};
        for (const auto engine : engines) {
            FastScanner scanner({}, engine);
            for (int t = 0; t < kTexts; ++t) {
                // Some long enough for the vector loops of the matcher.
                std::string text = RandomText(rng, t % 5 == 0 ? 700 : 120);
                if (rng() % 3 == 0) {  // make words straddle lines more often
                    text = sample + kBreaks[rng() % 3] + text;
                }
                for (int opt = 0; opt < 8; ++opt) {
                    const FastScanner::Config c{(opt & 1) != 0, (opt & 2) != 0, (opt & 4) != 0};
                    scanner.SetConfig(c);
                    scanner.SetBlockSize(rng() % 2 == 0 ? 1 + rng() % 48 : 64 + rng() % 400);
                    const bool by_source = rng() % 2 == 0;
                    const std::int64_t switch_block = rng() % 4 == 0 ? 1 + rng() % 3 : -1;
                    scanner.SetWords(words);
                    scanner.Reset();
                    Recorder rec(scanner, other, switch_block);
                    if (by_source) {
                        MemorySource src(text, 1 + rng() % 20);
                        scanner.ScanSource(src, rec);
                    } else {
                        scanner.ScanBuffer(text, rec);
                    }
                    const Result want = Literal(text, c, words, other, rec.switched_after);
                    ++cases;
                    ASSERT_EQ(rec.result.hits, want.hits)
                        << "case " << cases << " opt " << opt << " source " << by_source << "\n"
                        << Describe(text, words, other, rec.switched_after);
                    ASSERT_EQ(rec.result.progress, want.progress) << "case " << cases;
                    ASSERT_EQ(scanner.LinesDone(), want.lines) << "case " << cases;
                }
            }
        }
    }
    EXPECT_GE(cases, 100000);
}

}  // namespace
}  // namespace korvalen
