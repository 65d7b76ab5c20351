// Comma-separated value lists in which a field may be put in quotes.
//
// A field is built of units: a character (never split, so a second byte is
// never taken for a separator or a quote) or a quoted section, in which a
// doubled quote stands for one quote and separators are ordinary text.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace korvalen {

using StringList = std::vector<std::string>;

// Empties `out` and fills it with the fields of `s`, quotes still in them.
// An empty line gives no fields; a separator at the very end gives no empty
// field after it.
void SplitQuoted(std::string_view s, char sep, char quote, StringList& out);

// The unit that starts at 0-based `pos`; `pos` moves past it. Past the end:
// empty, and `pos` stays.
std::string ReadUnit(std::string_view s, char quote, std::size_t& pos);

// Inside a quoted section: a character, a doubled quote, or one byte (empty
// past the end).
std::string_view NextToken(std::string_view s, char quote, std::size_t& pos) noexcept;

// `s` without one pair of surrounding quotes, or unchanged.
std::string StripQuotes(std::string_view s, char quote);

// StripQuotes(TrimSpaces(s)).
std::string TrimAndStripQuotes(std::string_view s, char quote);

// Every item replaced by its TrimAndStripQuotes; count and order kept.
void StripQuotesAll(StringList& list, char quote);

}  // namespace korvalen
