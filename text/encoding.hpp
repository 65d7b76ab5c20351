// Input files in UTF-8 or UTF-16, read as code page 932 text.
//
// A file is UTF-8 when it starts with the UTF-8 byte order mark, or when it
// is valid UTF-8 throughout and holds at least one byte above 0x7F; UTF-16
// LE or BE only by its byte order mark; anything else is code page 932 and
// is read as it is.
//
// Conversion keeps the lines: CR and LF (bytes, or UTF-16 units) become the
// same bytes, and nothing else becomes 0x0D or 0x0A (an invalid sequence never
// takes a CR or LF with it), so converting a whole file gives exactly the
// lines that converting it line by line gives. A character without a code
// page 932 form, and each byte (or UTF-16 unit) of an invalid sequence,
// becomes kGetaMark. The byte order mark is dropped.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "text/lines.hpp"

namespace korvalen {

enum class TextEncoding { Cp932, Utf8, Utf16Le, Utf16Be };

// UTF-8 validity over a whole buffer, or over a stream fed in pieces (a
// sequence may be split between pieces). Overlong forms, surrogates and code
// points above U+10FFFF are invalid.
class Utf8Validator {
  public:
    // False from the first invalid byte on; later feeds do nothing.
    bool Feed(std::string_view bytes) noexcept;
    // At the end of the input: valid throughout, no sequence left unfinished.
    bool Finish() const noexcept { return valid_ && pending_ == 0; }
    bool Valid() const noexcept { return valid_; }
    bool SawNonAscii() const noexcept { return non_ascii_; }

  private:
    bool valid_ = true;
    bool non_ascii_ = false;
    unsigned char part_[4] = {};  // an unfinished sequence from the last feed
    std::size_t pending_ = 0;
};

bool IsValidUtf8(std::string_view bytes) noexcept;

// One pass over text that may be UTF-8: whether it is valid throughout,
// whether it holds a byte above 0x7F, and, when valid, its length once
// converted to code page 932 (ASCII and half-width katakana take one byte,
// every other character two: its code, or the mark for one without).
struct Utf8Summary {
    bool valid = false;
    bool non_ascii = false;
    std::size_t cp932_length = 0;
};
Utf8Summary SummarizeUtf8(std::string_view bytes) noexcept;

// The detection, fed the start of a file and as much more as it asks for.
class EncodingDetector {
  public:
    // True once the answer is known; more input would not change it.
    bool Feed(std::string_view bytes) noexcept;
    // The answer at the end of the input (or once Feed returned true).
    TextEncoding Finish() const noexcept;

  private:
    unsigned char head_[3] = {};  // the first bytes, for the byte order mark
    std::size_t head_len_ = 0;
    bool decided_ = false;
    TextEncoding decision_ = TextEncoding::Cp932;
    Utf8Validator utf8_;
};

TextEncoding DetectEncoding(std::string_view whole) noexcept;

// Reads `source` until its encoding is known. What was read is kept in `head`
// while it stays within `keep` bytes: then `replayable` is true and the input
// goes on with ReplaySource(head, source). Otherwise `head` is empty and the
// caller reads the input again from its start. `between`, when given, is
// called after each piece read; false ends the reading (the answer is then
// what the bytes so far say, as if the input ended there).
//
// With `stop_at_keep`, reading stops once `keep` bytes are held and the
// answer is still open (valid UTF-8 so far): `settled` is then false and
// `encoding` is UTF-8, an answer that the rest of the input may overturn.
struct Sniffed {
    TextEncoding encoding = TextEncoding::Cp932;
    std::string head;
    bool replayable = true;
    bool settled = true;
};
Sniffed SniffEncoding(ByteSource& source, std::size_t keep = std::size_t{1} << 20,
                      const std::function<bool()>& between = {}, bool stop_at_keep = false);

// Hands out `head`, then the rest of `rest`.
class ReplaySource : public ByteSource {
  public:
    ReplaySource(std::string head, ByteSource& rest) : head_(std::move(head)), rest_(rest) {}
    std::size_t Read(char* buf, std::size_t n) override;
    bool CanReadAt() const noexcept override { return rest_.CanReadAt(); }
    std::size_t ReadAt(char* buf, std::size_t n, std::uint64_t ahead) override;
    void Passed(std::size_t n) override;

  private:
    std::string head_;
    std::size_t at_ = 0;
    ByteSource& rest_;
};

// Converts text in `encoding` to code page 932 piece by piece; a sequence
// split between pieces is carried over. Pieces converted in order give the
// same bytes as the whole input converted at once. Code page 932 input is
// copied unchanged.
class Cp932Converter {
  public:
    explicit Cp932Converter(TextEncoding encoding) noexcept : encoding_(encoding) {}

    // The most bytes that Convert may write for `n` bytes of input.
    static constexpr std::size_t MaxOutput(std::size_t n) noexcept { return 2 * n + 16; }

    // Converts `in` (the next piece; `last` for the final one) into `out`,
    // which has room for MaxOutput(in.size()) bytes. Returns the count written.
    std::size_t Convert(std::string_view in, bool last, char* out);

    // Appends the conversion of `in` to `out`.
    void Append(std::string_view in, bool last, std::string& out);

  private:
    std::size_t ConvertUtf8(const unsigned char* p, std::size_t n, bool last, char* out);
    std::size_t ConvertUtf16(const unsigned char* p, std::size_t n, bool last, char* out);

    TextEncoding encoding_;
    bool at_start_ = true;         // the byte order mark is still to be dropped
    unsigned char carry_[8] = {};  // an unfinished sequence from the last piece
    std::size_t carry_len_ = 0;
};

// Text known to be valid UTF-8 (SummarizeUtf8) converted as Cp932Converter
// would convert it, only faster: nothing is checked. `out` has room for
// Cp932Converter::MaxOutput(in.size()) bytes; returns the count written.
std::size_t ConvertValidUtf8(std::string_view in, char* out) noexcept;

// A whole input in `encoding` as code page 932, the byte order mark dropped.
std::string ToCp932(std::string_view whole, TextEncoding encoding);

// A source of code page 932 text read from a source in `encoding`.
class Cp932Source : public ByteSource {
  public:
    Cp932Source(ByteSource& in, TextEncoding encoding) : in_(in), conv_(encoding) {}
    std::size_t Read(char* buf, std::size_t n) override;

  private:
    ByteSource& in_;
    Cp932Converter conv_;
    std::string piece_;  // input read for one Read
    std::string spill_;  // output that did not fit the caller's buffer
    std::size_t spill_at_ = 0;
    bool eof_ = false;
};

}  // namespace korvalen
