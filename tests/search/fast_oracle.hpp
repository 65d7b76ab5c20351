// The word loop written out line by line, as an oracle for the fast scanner,
// and a host that records its hits; shared by its tests and its fuzzer.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <tuple>
#include <vector>

#include "run/fast_scan.hpp"
#include "text/lines.hpp"
#include "text/sjis.hpp"

namespace korvalen::test {

using Hit = std::tuple<std::int64_t, std::uint32_t, std::string>;  // line, word, text

struct Result {
    std::vector<Hit> hits;
    std::int64_t progress = 0;
    std::int64_t lines = 0;
    bool operator==(const Result&) const = default;
};

// The word loop exactly as the scanners run it, one line at a time. The words
// switch from `first` to `second` after line `switch_after`.
inline Result Literal(std::string_view data, const FastScanner::Config& c,
                      const std::vector<std::string>& first, const std::vector<std::string>& second,
                      std::int64_t switch_after) {
    Result r;
    std::string prev;
    ForEachLine(data, [&](std::string_view line) {
        const std::int64_t number = ++r.lines;
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
        auto occurs = [](const std::string& w, std::string_view in) {
            return !w.empty() && in.find(w) != std::string_view::npos;
        };
        auto hits = [&](const std::string& w, std::string_view in) {
            return occurs(w, in) && (!c.japanese_word || AlignedPos(w, in) != 0);
        };
        bool matched = false;
        for (std::uint32_t j = 0; !matched && j < words.size(); ++j) {
            const std::string& w = words[j];
            // A tight find that is off the boundary is no hit, spaced or not.
            const bool here = hits(w, line);
            if (here || (joined && (occurs(w, tight) ? hits(w, tight) : hits(w, spaced)))) {
                r.hits.push_back({here ? number : number - 1, j, here ? std::string(line) : prev});
                matched = true;
            }
        }
        if (c.cr_text) {
            prev = matched ? std::string() : std::string(line);
        }
    });
    return r;
}

// Records the hits; switches the words after block `switch_at_block`.
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
    void Settled() override { ++settled; }
    Result result;
    std::int64_t switched_after = INT64_MAX;
    int settled = 0;  // calls of Settled

  private:
    FastScanner& scanner_;
    std::vector<std::string> second_;
    std::int64_t switch_at_block_;
    std::int64_t blocks_ = 0;
};

}  // namespace korvalen::test
