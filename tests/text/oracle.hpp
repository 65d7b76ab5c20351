// Plain, slow stand-ins for the text rules, written without the library;
// generators that favour the inputs where those rules go wrong; and the
// properties that tie the library to the stand-ins. The text tests feed the
// properties random inputs, the fuzzers the inputs they search out.
#pragma once

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "text/cp932.hpp"
#include "text/encoding.hpp"
#include "text/lines.hpp"
#include "text/quoted.hpp"
#include "text/sjis.hpp"

// A property gives the text of the first condition that failed, "" when all held.
#define KORVALEN_HOLDS(cond) \
    if (!(cond))             \
    return #cond

namespace korvalen::oracle {

using Lines = std::vector<std::string>;
using TE = TextEncoding;

inline bool Lead(char c) {
    const auto b = static_cast<unsigned char>(c);
    return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC);
}

// Byte offsets at which a character starts, walking from the front, followed
// by the offset where the walk ends (s.size(), or s.size() + 1 after a lone
// lead byte at the end).
inline std::vector<std::size_t> CharStarts(std::string_view s) {
    std::vector<std::size_t> starts;
    std::size_t i = 0;
    for (; i < s.size(); i += Lead(s[i]) ? 2 : 1) {
        starts.push_back(i);
    }
    starts.push_back(i);
    return starts;
}

inline std::int32_t AlignedPos(std::string_view word, std::string_view line) {
    const std::vector<std::size_t> starts = CharStarts(line);
    for (std::size_t k = 0; k < starts.size(); ++k) {
        if (starts[k] + word.size() <= line.size() && line.substr(starts[k]).starts_with(word)) {
            return static_cast<std::int32_t>(k + 1);
        }
    }
    return 0;
}

// The lines of an input: CR LF, LF or CR (bytes, or UTF-16 units) ends one;
// nothing follows the last break; an odd byte belongs to the last line.
inline Lines InputLines(std::string_view in, TE e = TE::Utf8) {
    const std::size_t unit = e == TE::Utf16Le || e == TE::Utf16Be ? 2 : 1;
    const auto at = [&](std::size_t i) -> unsigned {
        const auto b = [&](std::size_t k) { return static_cast<unsigned char>(in[k]); };
        return i + unit > in.size() ? 0u
               : unit == 1          ? b(i)
               : e == TE::Utf16Le   ? b(i) | b(i + 1) << 8
                                    : b(i) << 8 | b(i + 1);
    };
    Lines lines;
    std::size_t begin = 0;
    for (std::size_t i = 0; i < in.size(); i += unit) {
        if (at(i) == '\r' || at(i) == '\n') {
            lines.emplace_back(in.substr(begin, i - begin));
            i += at(i) == '\r' && at(i + unit) == '\n' ? unit : 0;
            begin = i + unit;
        }
    }
    if (begin < in.size()) {
        lines.emplace_back(in.substr(begin));
    }
    return lines;
}

// UTF-8 validity by decoding each code point.
inline bool PlainValid(std::string_view s) {
    static constexpr char32_t kMin[] = {0, 0, 0x80, 0x800, 0x10000};
    for (std::size_t i = 0; i < s.size();) {
        const auto b = static_cast<unsigned char>(s[i]);
        const std::size_t len = b < 0x80 ? 1 : std::countl_one(b);
        char32_t cp = b & (0xFF >> (len + 1));
        bool ok = (b < 0x80 || len >= 2) && len <= 4 && i + len <= s.size();
        for (std::size_t k = 1; ok && k < len; ++k) {
            const auto c = static_cast<unsigned char>(s[i + k]);
            ok = c >> 6 == 2;
            cp = cp << 6 | (c & 0x3F);
        }
        if (!ok || cp < kMin[len] || cp > 0x10FFFF || (cp >= 0xD800 && cp < 0xE000)) {
            return false;
        }
        i += len;
    }
    return true;
}

inline TE PlainDetect(std::string_view s) {
    if (s.starts_with("\xEF\xBB\xBF") || s.starts_with("\xFF\xFE") || s.starts_with("\xFE\xFF")) {
        return s[0] == '\xEF' ? TE::Utf8 : s[0] == '\xFF' ? TE::Utf16Le : TE::Utf16Be;
    }
    const bool high = std::any_of(s.begin(), s.end(), [](char c) { return (c & 0x80) != 0; });
    return high && PlainValid(s) ? TE::Utf8 : TE::Cp932;
}

// Hands out the data in pieces whose sizes cycle through `sizes` (1-64).
class CycleSource : public ByteSource {
  public:
    CycleSource(std::string_view data, std::string_view sizes) : data_(data), sizes_(sizes) {}
    std::size_t Read(char* buf, std::size_t n) override {
        const std::size_t got = MemorySource(data_, Next()).Read(buf, n);
        data_.remove_prefix(got);
        return got;
    }
    std::size_t Next() {
        return sizes_.empty()
                   ? 7
                   : (static_cast<unsigned char>(sizes_[next_++ % sizes_.size()]) & 63) + 1;
    }

  private:
    std::string_view data_, sizes_;
    std::size_t next_ = 0;
};

inline std::string Drain(ByteSource& source, std::size_t buffer) {
    std::string out, buf(buffer, '\0');
    while (const std::size_t got = source.Read(buf.data(), buf.size())) {
        out.append(buf, 0, got);
    }
    return out;
}

// Random bytes, mostly lead bytes, 0x40, blanks, quotes, commas and breaks.
inline std::string RandomBytes(std::mt19937& rng, std::size_t max_len) {
    static constexpr unsigned char kFavoured[] = {0x81, 0x82, 0x9F, 0xE0, 0xFC, 0x40, 0x40,
                                                  0x20, 0x09, '"',  ',',  '\r', '\n', 'a',
                                                  0xA0, 0xA6, 0x00, 0x1A, 0x5C, 0x7F};
    std::string s(rng() % (max_len + 1), '\0');
    for (char& c : s) {
        const unsigned kind = rng() % 4, lead = rng() % (0x1F + 0x1D);
        c = static_cast<char>(kind == 0   ? rng()
                              : kind == 1 ? (lead < 0x1F ? 0x81 + lead : 0xE0 + lead - 0x1F)
                                          : kFavoured[rng() % sizeof kFavoured]);
    }
    return s;
}

// Random UTF-8 of the pieces where conversions go wrong: the first `kValid`
// kinds are valid (breaks, a mark, half-width katakana and their neighbours,
// an escape U+F70D, no form, four bytes, a long ASCII run, the forms Linux
// input methods type), then invalid ones.
inline constexpr std::size_t kValid = 20;
inline std::string RandomUtf8(std::mt19937& rng, std::size_t pieces, bool valid) {
    static constexpr std::string_view kinds[] = {
        "a", "\r", "\n", "\r\n", "\xE3\x81\x82", "\xE6\xBC\xA2", "\xEF\xBD\xB1", "\xEF\xBD\xA1",
        "\xEF\xBE\x9F", "\xEF\xBD\xA0", "\xEF\xBE\xA0", "\xEF\xBC\x81", "\xCE\xA9", "\xC2\xA5",
        "\xEF\x9C\x8D", "\xF0\x9F\x98\x80", "\xEF\xBB\xBF", "abcdefghijklmnopqrstuvwxyz01234",
        "\xEF\xBD\x9E", "〜−‖¢£¬—",
        // invalid
        "\xE3\x81", "\x80", "\xC0\xAF", "\xED\xA0\x80", "\xFF", "\xF4\x90\x80\x80", "\xEF\xBB"};
    std::string s;
    for (std::size_t k = 0; k < pieces; ++k) {
        const std::size_t i = rng() % (valid ? kValid : std::size(kinds) + 1);
        s += i < std::size(kinds) ? std::string(kinds[i]) : std::string{static_cast<char>(rng())};
    }
    return s;
}

inline std::string Units(std::u16string_view text, bool le) {
    std::string out;
    for (char16_t u : text) {
        const char hi = static_cast<char>(u >> 8), lo = static_cast<char>(u & 0xFF);
        out += le ? std::string{lo, hi} : std::string{hi, lo};
    }
    return out;
}

inline std::string RandomUtf16(std::mt19937& rng, std::size_t units, bool le) {
    static const std::u16string kinds = u"a\r\n\x3042\x6F22\xFF71\xD83D\xDE00\xF70D\xFEFF\x0D0A";
    std::u16string s;
    for (std::size_t k = 0; k < units; ++k) {
        const std::size_t i = rng() % (kinds.size() + 1);
        s += i < kinds.size() ? kinds[i] : static_cast<char16_t>(rng());
    }
    return Units(s, le) + (rng() % 4 == 0 ? "x" : "");
}

// The Shift-JIS walk, the cut at byte n, the aligned search, the trims and
// lists without quotes on any bytes.
inline std::string SjisFailure(std::string_view s, std::int32_t n, std::size_t word_len) {
    const std::vector<std::size_t> starts = CharStarts(s);
    const std::size_t chars = starts.size() - 1;
    const auto ch = [&](std::size_t k) { return s.substr(starts[k], starts[k + 1] - starts[k]); };
    std::string_view rest = s;
    for (std::size_t k = 0; k < chars; ++k) {
        KORVALEN_HOLDS(TakeChar(rest) == ch(k));
    }
    KORVALEN_HOLDS(rest.empty() && TakeChar(rest).empty());

    // The head is n bytes; a character cut in two leaves a blank instead.
    rest = s;
    std::string head = CutHead(rest, n);
    const auto un = static_cast<std::size_t>(std::clamp<std::int32_t>(n, 0, INT32_MAX));
    if (n < 1 || un > s.size()) {
        KORVALEN_HOLDS(head == s.substr(0, un) && rest == s.substr(head.size()));
    } else {
        const bool cut = std::find(starts.begin(), starts.end(), un) == starts.end();
        KORVALEN_HOLDS(head.size() == un && (!cut || head.back() == ' '));
        KORVALEN_HOLDS(head.substr(0, un - cut) + std::string(rest) == s);
    }

    const std::string_view tail = s.substr(std::min(word_len, s.size()));
    for (const auto& [word, line] :
         {std::pair(s.substr(s.size() / 2, word_len), s), std::pair(std::string_view("\x40"), s),
          std::pair(s.substr(0, word_len), tail)}) {
        KORVALEN_HOLDS(korvalen::AlignedPos(word, line) == AlignedPos(word, line));
    }

    // Blanks are whole characters of the walk; spaces and tabs are bytes.
    const auto blank = [&](std::size_t k) {
        return ch(k) == " " || ch(k) == "\t" || ch(k) == "\x81\x40";
    };
    std::size_t b = 0, e = chars;
    for (; b < chars && blank(b); ++b) {
    }
    for (; e > 0 && blank(e - 1); --e) {
    }
    KORVALEN_HOLDS(TrimLeftBlanks(s) == s.substr(starts[b]) &&
                   TrimLeftBlanksView(s) == s.substr(starts[b]));
    KORVALEN_HOLDS(TrimRightBlanks(s) == s.substr(0, starts[e]) &&
                   TrimRightBlanksView(s) == s.substr(0, starts[e]));
    const std::size_t first = std::min(s.find_first_not_of(" \t"), s.size());
    const std::size_t last = s.find_last_not_of(" \t") + 1;  // 0 when none
    KORVALEN_HOLDS(TrimLeftSpaces(s) == s.substr(first) && TrimRightSpaces(s) == s.substr(0, last));
    KORVALEN_HOLDS(TrimSpaces(s) == s.substr(first, std::max(first, last) - first));

    // Without quotes, a field ends at each comma that is a character.
    if (s.find('"') == std::string_view::npos) {
        StringList fields(1), list{"stale"};
        for (std::size_t k = 0; k < chars; ++k) {
            ch(k) == "," ? fields.emplace_back() : fields.back().append(ch(k));
        }
        if (fields.back().empty()) {
            fields.pop_back();
        }
        SplitQuoted(s, ',', '"', list);
        KORVALEN_HOLDS(list == fields);
    }
    return "";
}

// The chunked line reader, the whole-buffer walks and the plain split agree.
inline std::string LinesFailure(std::string_view text, std::size_t chunk, std::string_view sizes) {
    const Lines want = InputLines(text);
    Lines whole, read;
    ForEachLine(text, [&](std::string_view line) { whole.emplace_back(line); });
    KORVALEN_HOLDS(whole == want);
    const std::vector<std::string_view> views = SplitLines(text);
    KORVALEN_HOLDS(Lines(views.begin(), views.end()) == want);
    CycleSource source(text, sizes);
    LineReader reader(source, chunk);
    std::string_view line;
    while (reader.Next(line)) {
        read.emplace_back(line);
    }
    KORVALEN_HOLDS(read == want && !reader.Next(line));  // the end stays the end
    return "";
}

// Any bytes survive code page 932 -> Unicode -> code page 932; any UTF-8 or
// UTF-16 converts to something.
inline std::string Cp932Failure(std::string_view bytes) {
    const std::u16string utf16 = Cp932ToUtf16(bytes);
    KORVALEN_HOLDS(Utf16ToCp932(utf16) == bytes && Utf8ToCp932(Cp932ToUtf8(bytes)) == bytes);
    const bool marked = std::any_of(utf16.begin(), utf16.end(), [](char16_t u) {
        return u >= kByteEscapeBase && u <= kByteEscapeBase + 0xFF;
    });
    KORVALEN_HOLDS(Cp932DecodesCleanly(bytes) == !marked);
    KORVALEN_HOLDS(Utf8ToCp932(bytes).empty() == bytes.empty());
    std::u16string units(bytes.size() / 2, u'\0');
    std::memcpy(units.data(), bytes.data(), units.size() * 2);
    KORVALEN_HOLDS(Utf16ToCp932(units).empty() == units.empty());
    return "";
}

// An input file in `e`: converted whole, streamed in pieces (read with
// `buffer`-byte reads) and line by line it gives the same bytes and lines;
// detection whole, in pieces, sniffed and by hand agree; so do validation,
// the one-pass summary, the unchecked and the screen conversions.
inline std::string EncodingFailure(std::string_view text, TE e, std::size_t buffer,
                                   std::string_view sizes) {
    const std::string whole = ToCp932(text, e);
    CycleSource pieces(text, sizes);
    Cp932Source streamed(pieces, e);
    KORVALEN_HOLDS(Drain(streamed, buffer) == whole);
    // A line after the first converts as if it followed a letter, so that a
    // mark at its start is not taken for the file's.
    Lines want;
    const std::string x =
        e == TE::Utf16Le || e == TE::Utf16Be ? Units(u"x", e == TE::Utf16Le) : "x";
    for (const std::string& line : InputLines(text, e)) {
        want.push_back(want.empty() ? ToCp932(line, e) : ToCp932(x + line, e).substr(1));
    }
    if (want == Lines{""} && whole.empty()) {
        want.clear();  // a lone mark
    }
    KORVALEN_HOLDS(InputLines(whole) == want);

    const TE detected = PlainDetect(text);
    KORVALEN_HOLDS(DetectEncoding(text) == detected);
    EncodingDetector detector;
    Utf8Validator validator;
    bool decided = false;
    for (std::string_view rest = text; !rest.empty();) {
        const std::string_view piece = rest.substr(0, pieces.Next());
        validator.Feed(piece);
        decided = decided || detector.Feed(piece);
        rest.remove_prefix(piece.size());
    }
    KORVALEN_HOLDS(detector.Finish() == detected && validator.Finish() == PlainValid(text));
    CycleSource sniffed_source(text, sizes);
    Sniffed sniffed = SniffEncoding(sniffed_source, sizes.size());
    KORVALEN_HOLDS(sniffed.encoding == detected);
    if (sniffed.replayable) {
        ReplaySource replay(std::move(sniffed.head), sniffed_source);
        KORVALEN_HOLDS(Drain(replay, buffer) == text);
    }

    // After a byte that no mark can start with.
    const std::string tagged = "a" + std::string(text);
    const Utf8Summary summary = SummarizeUtf8(tagged);
    KORVALEN_HOLDS(summary.valid == PlainValid(tagged) && IsValidUtf8(tagged) == summary.valid);
    if (summary.valid) {
        const std::string checked = ToCp932(tagged, TE::Utf8);
        std::string fast(Cp932Converter::MaxOutput(tagged.size()), '\0');
        fast.resize(ConvertValidUtf8(tagged, fast.data()));
        KORVALEN_HOLDS(summary.cp932_length == checked.size() && fast == checked);
        KORVALEN_HOLDS(summary.non_ascii == (PlainDetect(tagged) == TE::Utf8));
    }
    // The screen conversion agrees but for U+F7xx, which it turns into bytes.
    const bool escape = std::adjacent_find(text.begin(), text.end(), [](char a, char b) {
                            return a == '\xEF' && static_cast<unsigned char>(b) >> 2 == 0x9C >> 2;
                        }) != text.end();
    KORVALEN_HOLDS(escape || Utf8ToCp932(tagged) == ToCp932(tagged, TE::Utf8));
    return "";
}

// For the fuzzers: a failed property ends the run.
inline void AbortOn(const std::string& failure) {
    if (!failure.empty()) {
        std::fprintf(stderr, "failed: %s\n", failure.c_str());
        std::abort();
    }
}

}  // namespace korvalen::oracle
