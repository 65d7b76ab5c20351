#include "text/sjis.hpp"

#include <algorithm>
#include <limits>

namespace korvalen {

namespace {

bool IsSpaceOrTab(char c) noexcept {
    return c == ' ' || c == '\t';
}

bool IsBlank(std::string_view ch) noexcept {
    return std::find(Blanks.begin(), Blanks.end(), ch) != Blanks.end();
}

}  // namespace

std::string_view TakeChar(std::string_view& s) noexcept {
    if (s.empty()) {
        return {};
    }
    const std::size_t len = IsLeadByte(s[0]) ? std::min<std::size_t>(2, s.size()) : 1;
    const std::string_view ch = s.substr(0, len);
    s.remove_prefix(len);
    return ch;
}

std::string TrimLeftSpaces(std::string_view s) {
    std::size_t i = 0;
    while (i < s.size() && IsSpaceOrTab(s[i])) {
        ++i;
    }
    return std::string(s.substr(i));
}

std::string TrimRightSpaces(std::string_view s) {
    std::size_t n = s.size();
    while (n > 0 && IsSpaceOrTab(s[n - 1])) {
        --n;
    }
    return std::string(s.substr(0, n));
}

std::string TrimSpaces(std::string_view s) {
    std::size_t b = 0;
    while (b < s.size() && IsSpaceOrTab(s[b])) {
        ++b;
    }
    std::size_t e = s.size();
    while (e > b && IsSpaceOrTab(s[e - 1])) {
        --e;
    }
    return std::string(s.substr(b, e - b));
}

std::size_t CutHeadKeep(std::string_view s, std::int32_t n) noexcept {
    if (n < 1) {
        return 0;
    }
    const auto width = static_cast<std::size_t>(n);
    if (width > s.size()) {
        return s.size();
    }
    // Byte n is cut from its partner when it is a lead byte that starts a
    // character. The byte after one that is not a lead byte always starts a
    // character, so only the run of lead bytes before byte n counts: the
    // same answer as a walk from the front, without the walk.
    const std::size_t last = width - 1;
    if (!IsLeadByte(s[last])) {
        return width;
    }
    std::size_t run = 0;
    while (run < last && IsLeadByte(s[last - run - 1])) {
        ++run;
    }
    return run % 2 == 0 ? width - 1 : width;
}

std::string CutHead(std::string_view& s, std::int32_t n) {
    if (n < 1) {
        return {};
    }
    const auto width = static_cast<std::size_t>(n);
    const bool whole = width > s.size();
    const std::size_t take = CutHeadKeep(s, n);
    std::string head(s.substr(0, take));
    s.remove_prefix(take);
    if (!whole && head.size() == width - 1) {
        head.push_back(' ');
    }
    return head;
}

std::int32_t AlignedPos(std::string_view word, std::string_view line) noexcept {
    std::int32_t i = 1;
    std::string_view rest = line;
    while (rest.size() >= word.size()) {
        if (rest.substr(0, word.size()) == word) {
            return i;
        }
        TakeChar(rest);
        if (i < std::numeric_limits<std::int32_t>::max()) {
            ++i;
        }
    }
    return 0;
}

std::string_view TrimLeftBlanksView(std::string_view s) noexcept {
    std::string_view rest = s;
    while (!rest.empty()) {
        std::string_view probe = rest;
        if (!IsBlank(TakeChar(probe))) {
            break;
        }
        rest = probe;
    }
    return rest;
}

std::string_view TrimRightBlanksView(std::string_view s) noexcept {
    // Walk from the front so that 81 40 counts only as a whole character; the
    // result ends where the final run of blanks began.
    std::string_view rest = s;
    std::size_t keep = 0;
    while (!rest.empty()) {
        const std::string_view ch = TakeChar(rest);
        if (!IsBlank(ch)) {
            keep = s.size() - rest.size();
        }
    }
    return s.substr(0, keep);
}

std::string TrimLeftBlanks(std::string_view s) {
    return std::string(TrimLeftBlanksView(s));
}

std::string TrimRightBlanks(std::string_view s) {
    return std::string(TrimRightBlanksView(s));
}

}  // namespace korvalen
