// Characters that Linux input methods type as JIS-style code points, and the
// code page 932 characters they must become (which decode to the Windows
// forms). One table for every place typed or converted text enters.
#pragma once

#include <string_view>

namespace korvalen::test {

struct JisFormRow {
    std::string_view typed;    // the code point typed, in UTF-8
    std::string_view cp932;    // what is searched
    std::string_view windows;  // UTF-8 of the same character as decoding gives it
};

inline constexpr JisFormRow kJisForms[] = {
    {"〜", "\x81\x60", "～"}, {"−", "\x81\x7C", "－"}, {"‖", "\x81\x61", "∥"},
    {"¢", "\x81\x91", "￠"},  {"£", "\x81\x92", "￡"}, {"¬", "\x81\xCA", "￢"},
    {"—", "\x81\x5C", "―"},
};

}  // namespace korvalen::test
