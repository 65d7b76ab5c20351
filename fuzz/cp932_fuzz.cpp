// Any bytes survive CP932 -> Unicode -> CP932, through UTF-16 and UTF-8; any
// UTF-8 or UTF-16 input converts without failing.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "text/cp932.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    if (korvalen::Utf16ToCp932(korvalen::Cp932ToUtf16(bytes)) != bytes) {
        std::abort();
    }
    const std::string utf8 = korvalen::Cp932ToUtf8(bytes);
    if (korvalen::Utf8ToCp932(utf8) != bytes) {
        std::abort();
    }
    // The same bytes taken as UTF-8 and as UTF-16: every unit turns into
    // something, nothing is dropped.
    if (korvalen::Utf8ToCp932(bytes).empty() != bytes.empty()) {
        std::abort();
    }
    std::u16string units(size / 2, u'\0');
    std::memcpy(units.data(), data, units.size() * 2);
    if (korvalen::Utf16ToCp932(units).empty() != units.empty()) {
        std::abort();
    }
    return 0;
}
