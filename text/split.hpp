// Splitting a line at a separator, and number formatting for display.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>

namespace korvalen {

// Cuts `s` at its first byte equal to `sep` (byte-wise, no character walk).
// Without a separator both parts are empty.
std::pair<std::string, std::string> SplitAt(std::string_view s, char sep);

// A "," before every group of three bytes counted from the right, of the part
// of `s` after its last space. No leading comma, also after a minus sign.
std::string GroupDigits(std::string_view s);

// `s` trimmed of spaces and tabs, then right-aligned with spaces to `width`.
// Never cut; a width of 0 or less only trims.
std::string PadLeft(std::string_view s, std::int32_t width);

}  // namespace korvalen
