// The Shift-JIS rules on any bytes: quoted lists, the cut, the aligned
// search and the trims, each against the plain walk of the oracle.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "tests/text/sjis_oracle.hpp"
#include "text/quoted.hpp"
#include "text/sjis.hpp"

namespace {

using korvalen::oracle::CharStarts;

void Check(bool ok) {
    if (!ok) {
        std::abort();
    }
}

bool IsBlankChar(std::string_view ch) {
    return ch == " " || ch == "\t" || ch == "\x81\x40";
}

// True when `s` walks as blank characters only.
bool AllBlank(std::string_view s) {
    const auto starts = CharStarts(s);
    for (std::size_t k = 0; k + 1 < starts.size(); ++k) {
        if (!IsBlankChar(s.substr(starts[k], starts[k + 1] - starts[k]))) {
            return false;
        }
    }
    return true;
}

bool IsStart(std::string_view s, std::size_t at) {
    const auto starts = CharStarts(s);
    for (std::size_t x : starts) {
        if (x == at) {
            return true;
        }
    }
    return false;
}

void Quoted(std::string_view s) {
    korvalen::StringList list;
    korvalen::SplitQuoted(s, ',', '"', list);
    std::size_t bytes = 0;
    for (const std::string& item : list) {
        bytes += item.size();
    }
    Check(bytes + list.size() <= s.size() + 1);
    if (s.find('"') == std::string_view::npos) {
        // Without quotes the fields are the text between real separators.
        std::string joined;
        for (std::size_t i = 0; i < list.size(); ++i) {
            joined += (i ? "," : "") + list[i];
        }
        const bool final_sep = !s.empty() && s.back() == ',' && IsStart(s, s.size() - 1);
        Check(joined + (final_sep ? "," : "") == s);
    }
    korvalen::StringList stripped = list;
    korvalen::StripQuotesAll(stripped, '"');
    Check(stripped.size() == list.size());
    for (std::size_t i = 0; i < list.size(); ++i) {
        Check(stripped[i] == korvalen::TrimAndStripQuotes(list[i], '"'));
        Check(stripped[i].size() <= list[i].size());
    }
}

void Cut(std::string_view s, std::int32_t n) {
    std::string_view rest = s;
    std::string head = korvalen::CutHead(rest, n);
    if (n < 1) {
        Check(head.empty() && rest == s);
        return;
    }
    const auto un = static_cast<std::size_t>(n);
    if (un > s.size()) {
        Check(head == s && rest.empty());
        return;
    }
    Check(head.size() == un);
    if (!IsStart(s, un)) {
        Check(head.back() == ' ');
        head.pop_back();
    }
    Check(head + std::string(rest) == s);
}

void Aligned(std::string_view word, std::string_view line) {
    const std::int32_t pos = korvalen::AlignedPos(word, line);
    Check(pos == korvalen::oracle::AlignedPos(word, line));
    Check(pos == 0 || line.find(word) != std::string_view::npos);
}

void Trims(std::string_view s) {
    const std::string left = korvalen::TrimLeftBlanks(s);
    Check(s.ends_with(left) && AllBlank(s.substr(0, s.size() - left.size())));
    Check(korvalen::TrimLeftBlanks(left) == left);
    std::string_view first = left;
    Check(left.empty() || !IsBlankChar(korvalen::TakeChar(first)));

    const std::string right = korvalen::TrimRightBlanks(s);
    Check(s.starts_with(right) && (right.size() == s.size() || IsStart(s, right.size())));
    Check(AllBlank(s.substr(right.size())));
    Check(korvalen::TrimRightBlanks(right) == right);
    if (!right.empty()) {
        const auto starts = CharStarts(right);
        const std::size_t last = starts[starts.size() - 2];
        Check(!IsBlankChar(std::string_view(right).substr(last)));
    }
    Check(korvalen::TrimLeftBlanksView(s) == left && korvalen::TrimRightBlanksView(s) == right);

    const std::string both = korvalen::TrimSpaces(s);
    Check(both == korvalen::TrimRightSpaces(korvalen::TrimLeftSpaces(s)));
    Check(korvalen::TrimSpaces(both) == both);
    Check(both.empty() || (both.front() != ' ' && both.front() != '\t' && both.back() != ' ' &&
                           both.back() != '\t'));
    Check(s.find(both) != std::string_view::npos);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) {
        return 0;
    }
    const auto n = static_cast<std::int32_t>(static_cast<std::int8_t>(data[0]));
    const std::size_t word_len = data[1] % 6;
    const std::string_view s(reinterpret_cast<const char*>(data + 2), size - 2);
    Quoted(s);
    Cut(s, n);
    Aligned(s.substr(0, word_len), s.substr(std::min(word_len, s.size())));
    Aligned(s.substr(s.size() / 2, word_len), s);
    Trims(s);
    return 0;
}
