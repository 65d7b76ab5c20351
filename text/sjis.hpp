// Shift-JIS (code page 932) character rules on byte strings.
//
// A character is one byte, or two when the first is a lead byte. Strings are
// always walked from the front: that is the only way to tell a second byte
// from a first one. None of these routines fails; every input, the empty
// string and one ending in a lone lead byte included, has a defined result.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace korvalen {

// 0x81-0x9F and 0xE0-0xFC. Half-width katakana (0xA1-0xDF) are single bytes.
constexpr bool IsLeadByte(unsigned char b) noexcept {
    return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC);
}
constexpr bool IsLeadByte(char b) noexcept {
    return IsLeadByte(static_cast<unsigned char>(b));
}

// The blank characters, in this order: space, tab, full-width space.
inline constexpr std::array<std::string_view, 3> Blanks = {" ", "\t", "\x81\x40"};

// Takes the first character off `s` and returns it (empty when `s` is empty).
// A lead byte in the last position is a character by itself.
std::string_view TakeChar(std::string_view& s) noexcept;

// Byte-wise trims of 0x20 and 0x09 only; the full-width space stays.
std::string TrimLeftSpaces(std::string_view s);
std::string TrimRightSpaces(std::string_view s);
std::string TrimSpaces(std::string_view s);

// Cuts a head of at most `n` bytes off `s` without splitting a double-byte
// character; a head one byte short of `n` gets a padding space. `s` keeps the
// rest. For n < 1 the head is empty and `s` is unchanged.
std::string CutHead(std::string_view& s, std::int32_t n);

// How many bytes of `s` that head keeps (the padding space not counted).
std::size_t CutHeadKeep(std::string_view s, std::int32_t n) noexcept;

// 1-based character index at which `word` first starts on a character
// boundary of `line`; 0 when it does not. The empty word gives 1. Past 2^31
// characters the index stays at the largest int32.
std::int32_t AlignedPos(std::string_view word, std::string_view line) noexcept;

// Removal of whole blank characters (space, tab, full-width space).
std::string TrimLeftBlanks(std::string_view s);
std::string TrimRightBlanks(std::string_view s);

// View forms of the blank trims, for the hot path: the result is a part of `s`.
std::string_view TrimLeftBlanksView(std::string_view s) noexcept;
std::string_view TrimRightBlanksView(std::string_view s) noexcept;

}  // namespace korvalen
