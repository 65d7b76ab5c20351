// Input files in UTF-8 and UTF-16: converting in pieces of any size gives the
// bytes of the whole-buffer conversion, the lines stay the lines of the
// original, detection fed in pieces agrees with detection of the whole, and
// the shortcuts for valid UTF-8 agree with the checked conversion.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "text/encoding.hpp"
#include "text/lines.hpp"

namespace {

// Hands out the data in chunks whose sizes cycle through `sizes` (1-64).
class CycleSource : public korvalen::ByteSource {
  public:
    CycleSource(std::string_view data, std::string_view sizes) : data_(data), sizes_(sizes) {}
    std::size_t Read(char* buf, std::size_t n) override {
        const std::size_t want = Next();
        korvalen::MemorySource part(data_, want);
        const std::size_t got = part.Read(buf, n);
        data_.remove_prefix(got);
        return got;
    }
    std::size_t Next() {
        return sizes_.empty()
                   ? 7
                   : (static_cast<unsigned char>(sizes_[next_++ % sizes_.size()]) & 63) + 1;
    }

  private:
    std::string_view data_;
    std::string_view sizes_;
    std::size_t next_ = 0;
};

std::size_t CountLines(std::string_view s) {
    std::size_t n = 0;
    korvalen::ForEachLine(s, [&](std::string_view) { ++n; });
    return n;
}

// Lines of the original: breaks are CR and LF bytes, or units for UTF-16.
std::size_t CountInputLines(std::string_view in, korvalen::TextEncoding e) {
    if (e == korvalen::TextEncoding::Utf8) {
        return CountLines(in);
    }
    std::string shadow;
    const bool le = e == korvalen::TextEncoding::Utf16Le;
    for (std::size_t i = 0; i + 2 <= in.size(); i += 2) {
        const unsigned char hi = le ? in[i + 1] : in[i], lo = le ? in[i] : in[i + 1];
        shadow += hi == 0 && (lo == '\r' || lo == '\n') ? static_cast<char>(lo) : 'x';
    }
    if (in.size() % 2 != 0) {
        shadow += 'x';
    }
    return CountLines(shadow);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace korvalen;
    if (size < 2) {
        return 0;
    }
    // Byte 0: the encoding and the reader's buffer size; byte 1: how many
    // following bytes give the chunk sizes; the rest is the text.
    const auto e = static_cast<TextEncoding>(1 + data[0] % 3);
    const std::size_t buffer = 1 + (data[0] >> 2) * 5;
    const std::size_t nsizes = std::min<std::size_t>(data[1] % 16, size - 2);
    const std::string_view sizes(reinterpret_cast<const char*>(data) + 2, nsizes);
    const std::string_view text(reinterpret_cast<const char*>(data) + 2 + nsizes,
                                size - 2 - nsizes);

    const std::string whole = ToCp932(text, e);
    CycleSource pieces(text, sizes);
    Cp932Source source(pieces, e);
    std::string streamed, buf(buffer, '\0');
    while (const std::size_t got = source.Read(buf.data(), buf.size())) {
        streamed.append(buf, 0, got);
    }
    if (streamed != whole) {
        std::abort();
    }
    // A mark at the start is dropped; it holds no break.
    if (CountLines(whole) != CountInputLines(text, e) &&
        !(CountInputLines(text, e) == 1 && whole.empty())) {
        std::abort();
    }

    EncodingDetector detector;
    CycleSource chunks(text, sizes);
    std::string piece(64, '\0');
    while (const std::size_t got = chunks.Read(piece.data(), piece.size())) {
        if (detector.Feed(std::string_view(piece.data(), got))) {
            break;
        }
    }
    if (detector.Finish() != DetectEncoding(text)) {
        std::abort();
    }
    Utf8Validator validator;
    for (std::string_view rest = text; !rest.empty();) {
        const std::size_t n = std::min(rest.size(), pieces.Next());
        validator.Feed(rest.substr(0, n));
        rest.remove_prefix(n);
    }
    if (validator.Finish() != IsValidUtf8(text)) {
        std::abort();
    }
    // The one-pass summary and the unchecked conversion of valid text agree
    // with the checking converter (after a byte that no mark can start with).
    const std::string tagged = "a" + std::string(text);
    const Utf8Summary summary = SummarizeUtf8(tagged);
    if (summary.valid != IsValidUtf8(tagged)) {
        std::abort();
    }
    if (summary.valid) {
        const std::string checked = ToCp932(tagged, TextEncoding::Utf8);
        std::string fast(Cp932Converter::MaxOutput(tagged.size()), '\0');
        fast.resize(ConvertValidUtf8(tagged, fast.data()));
        if (summary.cp932_length != checked.size() || fast != checked) {
            std::abort();
        }
    }
    return 0;
}
