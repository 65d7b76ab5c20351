// Conversion between code page 932 (Windows-31J, NEC and IBM extensions
// included) and Unicode, for the places where text meets the screen or the
// terminal. Searching never converts: it works on the original bytes.
//
// Lossless for every byte string: a character that does not decode, or that
// decodes to a code point whose code page 932 form is another code (the NEC /
// IBM duplicates), becomes one escape code point per byte, U+F700 + byte,
// which encodes back to that byte. Those show on screen as marks. After a
// lead byte, a byte that cannot be a second byte (below 0x40, or 0x7F) stays
// itself: a line break after a stray lead byte is still a line break.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace korvalen {

inline constexpr char32_t kByteEscapeBase = 0xF700;
// "〓", the geta mark, for a character that has no code page 932 form.
inline constexpr std::string_view kGetaMark = "\x81\xAC";

std::u16string Cp932ToUtf16(std::string_view sjis);
std::string Cp932ToUtf8(std::string_view sjis);

// Byte escapes turn back into their bytes; a code point without a code page
// 932 form, and each byte of invalid input, becomes `unmappable`. The
// JIS-style code points that Linux input methods type (U+301C, U+2212,
// U+2016, U+00A2, U+00A3, U+00AC, U+2014) become the characters they stand
// for (0x8160, 0x817C, 0x8161, 0x8191, 0x8192, 0x81CA, 0x815C), which decode
// to their Windows forms (U+FF5E, ...): these do not come back unchanged.
std::string Utf16ToCp932(std::u16string_view text, std::string_view unmappable = kGetaMark);
std::string Utf8ToCp932(std::string_view utf8, std::string_view unmappable = kGetaMark);
// As Utf8ToCp932, or none when `utf8` is not valid UTF-8 or holds a character
// without a code page 932 form.
std::optional<std::string> Utf8ToCp932Exactly(std::string_view utf8);

// The code page 932 code of a BMP code point (a single byte, or lead << 8 |
// trail), or -1 when it has none. Byte escapes have none here: this is the
// table for text that arrives in Unicode, not for text that came from bytes.
std::int32_t Cp932CodeOf(char32_t cp);

// The UTF-8 of the JIS-style code point that also converts to the code page
// 932 character `ch` (U+301C for 0x8160), or empty when there is none.
std::string Cp932JisFormOf(std::string_view ch);

// True when every character of `sjis` decodes to a character of its own (no
// byte escapes needed).
bool Cp932DecodesCleanly(std::string_view sjis);

}  // namespace korvalen
