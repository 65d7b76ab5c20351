#include "text/quoted.hpp"

#include <algorithm>

#include "text/sjis.hpp"

namespace korvalen {

namespace {

// A character at `pos`: two bytes after a lead byte, one alone at the end.
std::size_t CharLength(std::string_view s, std::size_t pos) noexcept {
    return IsLeadByte(s[pos]) ? std::min<std::size_t>(2, s.size() - pos) : 1;
}

}  // namespace

std::string_view NextToken(std::string_view s, char quote, std::size_t& pos) noexcept {
    if (pos >= s.size()) {
        return {};
    }
    std::size_t len = CharLength(s, pos);
    if (len == 1 && s[pos] == quote && pos + 1 < s.size() && s[pos + 1] == quote) {
        len = 2;
    }
    const std::string_view token = s.substr(pos, len);
    pos += len;
    return token;
}

std::string ReadUnit(std::string_view s, char quote, std::size_t& pos) {
    if (pos >= s.size()) {
        return {};
    }
    if (s[pos] != quote) {
        const std::size_t len = CharLength(s, pos);
        std::string unit(s.substr(pos, len));
        pos += len;
        return unit;
    }
    std::string unit(1, quote);
    ++pos;
    while (pos < s.size()) {
        const std::string_view token = NextToken(s, quote, pos);
        if (token.size() == 2 && token[0] == quote && token[1] == quote) {
            unit.push_back(quote);
        } else {
            unit.append(token);
            if (token.size() == 1 && token[0] == quote) {
                break;  // the closing quote
            }
        }
    }
    return unit;
}

void SplitQuoted(std::string_view s, char sep, char quote, StringList& out) {
    out.clear();
    std::size_t pos = 0;
    while (pos < s.size()) {
        std::string field;
        while (pos < s.size() && s[pos] != sep) {
            field += ReadUnit(s, quote, pos);
        }
        out.push_back(std::move(field));
        ++pos;  // over the separator
    }
}

std::string StripQuotes(std::string_view s, char quote) {
    if (s.size() >= 2 && s.front() == quote && s.back() == quote) {
        return std::string(s.substr(1, s.size() - 2));
    }
    return std::string(s);
}

std::string TrimAndStripQuotes(std::string_view s, char quote) {
    return StripQuotes(TrimSpaces(s), quote);
}

void StripQuotesAll(StringList& list, char quote) {
    for (std::string& item : list) {
        item = TrimAndStripQuotes(item, quote);
    }
}

}  // namespace korvalen
