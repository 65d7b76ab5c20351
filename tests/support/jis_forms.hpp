// Characters that Linux input methods type as JIS-style code points, and the
// code page 932 characters they must become (which decode to the Windows
// forms). One table for every place typed or converted text enters.
#pragma once

#include <string_view>

namespace korvalen::test {

struct JisFormRow {
    char16_t unit;             // the code point typed
    std::string_view typed;    // its UTF-8
    std::string_view cp932;    // what is searched
    std::string_view windows;  // UTF-8 of the same character as decoding gives it
};

inline constexpr JisFormRow kJisForms[] = {
    {u'\x301C', "〜", "\x81\x60", "～"}, {u'\x2212', "−", "\x81\x7C", "－"},
    {u'\x2016', "‖", "\x81\x61", "∥"},   {u'\xA2', "¢", "\x81\x91", "￠"},
    {u'\xA3', "£", "\x81\x92", "￡"},    {u'\xAC', "¬", "\x81\xCA", "￢"},
    {u'\x2014', "—", "\x81\x5C", "―"},
};

}  // namespace korvalen::test
