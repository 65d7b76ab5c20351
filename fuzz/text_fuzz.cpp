// The Shift-JIS rules, the line rule, the code page 932 round trip and input
// files in UTF-8 and UTF-16 on any bytes, against the plain stand-ins. Byte 0:
// the cut's width, the input's encoding and its read size; byte 1: the word's
// length and the reader's chunk; then up to 8 source chunk sizes, the text.
#include <cstddef>
#include <cstdint>

#include "tests/text/oracle.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace korvalen::oracle;
    if (size < 2) {
        return 0;
    }
    const std::string_view all(reinterpret_cast<const char*>(data), size);
    const std::string_view sizes = all.substr(2, data[1] % 8 + 1), s = all.substr(2);
    const std::string_view text = s.substr(sizes.size());
    AbortOn(SjisFailure(s, static_cast<std::int8_t>(data[0]), data[1] % 6));
    AbortOn(LinesFailure(text, data[1] / 4 + 1, sizes));
    AbortOn(Cp932Failure(s));
    AbortOn(EncodingFailure(text, static_cast<korvalen::TextEncoding>(data[0] % 4),
                            1 + (data[0] >> 2) * 5, sizes));
    return 0;
}
