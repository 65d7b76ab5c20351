#include "text/encoding.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "tests/support/jis_forms.hpp"
#include "tests/support/random_chunks.hpp"
#include "tests/text/sjis_oracle.hpp"
#include "text/cp932.hpp"

namespace korvalen {
namespace {

using namespace std::literals;
using TE = TextEncoding;

std::string Units(std::u16string_view text, bool le) {
    std::string out;
    for (char16_t u : text) {
        const char hi = static_cast<char>(u >> 8), lo = static_cast<char>(u & 0xFF);
        out += le ? std::string{lo, hi} : std::string{hi, lo};
    }
    return out;
}

// All of a source, read with buffers of random sizes (small ones included).
std::string Drain(ByteSource& source, std::mt19937& rng) {
    std::string out;
    std::uniform_int_distribution<std::size_t> size(1, 600);
    for (;;) {
        std::string buf(size(rng), '\0');
        const std::size_t got = source.Read(buf.data(), buf.size());
        if (got == 0) {
            return out;
        }
        out.append(buf, 0, got);
    }
}

TEST(Encoding, Detection) {
    struct Row {
        std::string bytes;
        TE expected;
    };
    for (const Row& r : std::vector<Row>{
             {"", TE::Cp932},
             {"plain ASCII\r\n", TE::Cp932},              // no byte above 0x7F
             {"\xE6\xA4\x9C\xE7\xB4\xA2\r\n", TE::Utf8},  // 検索
             {"\x8C\x9F\x8D\xF5\r\n", TE::Cp932},         // 検索 in code page 932
             {"\xEF\xBB\xBFplain", TE::Utf8},             // a mark makes it UTF-8
             {"\xEF\xBB\xBF\x8C\x9F", TE::Utf8},          // ... whatever follows
             {"\xFF\xFE", TE::Utf16Le},
             {"\xFE\xFFx", TE::Utf16Be},
             {"\xFF", TE::Cp932},
             {"\xEF\xBB", TE::Cp932},
             {"a\xE6\xA4", TE::Cp932},         // cut off at the end
             {"\xC0\xAF", TE::Cp932},          // overlong
             {"\xED\xA0\x80", TE::Cp932},      // a surrogate
             {"\xF4\x90\x80\x80", TE::Cp932},  // beyond U+10FFFF
             {"\xF0\x9F\x98\x80", TE::Utf8},   // U+1F600
             {"\xC3\x83\x41", TE::Utf8},       // "ﾃア" in code page 932
         }) {
        EXPECT_EQ(DetectEncoding(r.bytes), r.expected) << oracle::Hex(r.bytes);
        // Fed a byte at a time, and read from a source with a tiny keep.
        EncodingDetector d;
        for (char c : r.bytes) {
            d.Feed(std::string_view(&c, 1));
        }
        EXPECT_EQ(d.Finish(), r.expected) << oracle::Hex(r.bytes);
        MemorySource source(r.bytes, 1);
        EXPECT_EQ(SniffEncoding(source, 2).encoding, r.expected);
    }
}

TEST(Encoding, SniffedHeadReplaysTheWholeInput) {
    std::mt19937 rng(3);
    struct Row {
        std::string text;
        TE encoding;
        std::size_t keep;
        bool replayable;
    };
    const std::string cp932 = "\x8C\x9F" + std::string(100000, 'a');
    const std::string utf8 = std::string(100000, 'a') + "\xE6\xA4\x9C";
    for (const Row& r : std::vector<Row>{
             {cp932, TE::Cp932, 0, false},  // the first read already decides
             {cp932, TE::Cp932, 10, true},
             {utf8, TE::Utf8, 10, false},  // read to the end to decide
             {utf8, TE::Utf8, std::size_t{1} << 20, true},
         }) {
        MemorySource source(r.text, 4);
        Sniffed s = SniffEncoding(source, r.keep);
        EXPECT_EQ(s.encoding, r.encoding);
        ASSERT_EQ(s.replayable, r.replayable);
        if (s.replayable) {
            ReplaySource replay(std::move(s.head), source);
            EXPECT_EQ(Drain(replay, rng), r.text);
        }
    }
}

TEST(Encoding, ConversionTable) {
    struct Row {
        TE encoding;
        std::string in;
        std::string out;
    };
    const std::string geta(kGetaMark);
    for (const Row& r : std::vector<Row>{
             {TE::Utf8, "\xE3\x81\x82\xEF\xBD\xB1~\\", "\x82\xA0\xB1~\\"},  // あｱ~\ (sic)
             {TE::Utf8, "\xEF\xBD\x9E\xEF\xBC\x8D\xC2\xA5", "\x81\x60\x81\x7C" + geta},  // ～－¥
             {TE::Utf8,
              "\xEF\xBB\xBF"
              "a\xEF\xBB\xBF",
              "a" + geta},                          // only the first mark
             {TE::Utf8, "\xF0\x9F\x98\x80", geta},  // one mark per character
             {TE::Utf8,
              "\xE3\x81"
              "A\x80",
              geta + geta + "A" + geta},                                   // per invalid byte
             {TE::Utf8, "\xE3\x81\r\n\xE3", geta + geta + "\r\n" + geta},  // the break survives
             {TE::Utf8, "\xEF\x9C\x8D\xEF\x9C\x8A", geta + geta},          // U+F70D is no CR
             {TE::Utf8, "\xC0\xAF\xED\xA0\x80", geta + geta + geta + geta + geta},
             {TE::Utf8, "\xEF\xBB", geta + geta},
             {TE::Utf16Le, Units(u"\xFEFFあ\r\n", true), "\x82\xA0\r\n"},
             {TE::Utf16Be, Units(u"\xFEFFあ\r\n", false), "\x82\xA0\r\n"},
             {TE::Utf16Le, Units(u"a\xD83D\xDE00z", true), "a" + geta + "z"},  // a pair: one mark
             {TE::Utf16Be, Units(u"\xD83D\r\xDE00", false), geta + "\r" + geta},  // lone halves
             {TE::Utf16Le, Units(u"\x0D0A\xF70A", true), geta + geta},  // neither is a break
             {TE::Utf16Le, Units(u"abcdefghij", true) + "x", "abcdefghij" + geta},  // odd byte
             {TE::Cp932, "\xEF\xBB\xBF\x82\xA0", "\xEF\xBB\xBF\x82\xA0"},
         }) {
        EXPECT_EQ(ToCp932(r.in, r.encoding), r.out) << oracle::Hex(r.in);
    }
    for (const test::JisFormRow& r : test::kJisForms) {
        const std::string line = "a" + std::string(r.typed) + "\n";
        const std::string want = "a" + std::string(r.cp932) + "\n";
        EXPECT_EQ(ToCp932(line, TE::Utf8), want) << r.typed;
        std::string fast(Cp932Converter::MaxOutput(line.size()), '\0');
        fast.resize(ConvertValidUtf8(line, fast.data()));
        EXPECT_EQ(fast, want) << r.typed;
        EXPECT_EQ(ToCp932(Units(std::u16string{u'a', r.unit, u'\n'}, true), TE::Utf16Le), want)
            << r.typed;
    }
}

// Random text of the pieces where conversions go wrong.
std::string RandomUtf8(std::mt19937& rng, std::size_t pieces, bool escapes) {
    static const std::vector<std::string> kinds = {"a",
                                                   "\r",
                                                   "\n",
                                                   "\r\n",
                                                   "\xE3\x81\x82",
                                                   "\xE6\xBC\xA2",
                                                   "\xEF\xBD\xB1",
                                                   "\xC2\xA5",
                                                   "\xF0\x9F\x98\x80",
                                                   "\xE3\x81",
                                                   "\x80",
                                                   "\xC0\xAF",
                                                   "\xED\xA0\x80",
                                                   "\xEF\xBB\xBF",
                                                   "\xFF",
                                                   "\xF4\x90\x80\x80",
                                                   "abcdefghijklmno"};
    std::uniform_int_distribution<std::size_t> pick(0, kinds.size() + 1);
    std::string s;
    for (std::size_t k = 0; k < pieces; ++k) {
        const std::size_t i = pick(rng);
        if (i < kinds.size()) {
            s += kinds[i];
        } else if (escapes) {
            s += "\xEF\x9C\x8D";  // U+F70D
        } else {
            s += static_cast<char>(rng() & 0xFF);
        }
    }
    return s;
}

std::string RandomUtf16(std::mt19937& rng, std::size_t units, bool le) {
    static const std::u16string kinds = u"a\r\n\x3042\x6F22\xFF71\xD83D\xDE00\xF70D\xFEFF\x0D0A";
    std::uniform_int_distribution<std::size_t> pick(0, kinds.size());
    std::u16string s;
    for (std::size_t k = 0; k < units; ++k) {
        const std::size_t i = pick(rng);
        s += i < kinds.size() ? kinds[i] : static_cast<char16_t>(rng());
    }
    std::string bytes = Units(s, le);
    if (rng() % 4 == 0) {
        bytes += 'x';
    }
    return bytes;
}

// The lines of an input, split by the one rule on its bytes or units.
std::vector<std::string> InputLines(std::string_view in, TE e) {
    const std::size_t unit = e == TE::Utf8 ? 1 : 2;
    std::string shadow;  // one byte per unit: CR, LF or something else
    for (std::size_t i = 0; i + unit <= in.size(); i += unit) {
        const char16_t u = unit == 1 ? static_cast<unsigned char>(in[i])
                           : e == TE::Utf16Le
                               ? static_cast<char16_t>(static_cast<unsigned char>(in[i]) |
                                                       static_cast<unsigned char>(in[i + 1]) << 8)
                               : static_cast<char16_t>(static_cast<unsigned char>(in[i]) << 8 |
                                                       static_cast<unsigned char>(in[i + 1]));
        shadow += u == '\r' ? '\r' : u == '\n' ? '\n' : 'x';
    }
    if (in.size() % unit != 0) {
        shadow += 'x';  // an odd byte belongs to the last line
    }
    std::vector<std::string> lines;
    ForEachLine(shadow, [&](std::string_view line) {
        const std::size_t at = static_cast<std::size_t>(line.data() - shadow.data()) * unit;
        lines.emplace_back(in.substr(at, std::min(line.size() * unit, in.size() - at)));
    });
    return lines;
}

TEST(Encoding, StreamingWholeAndLineByLineAgree) {
    std::mt19937 rng(11);
    const std::string geta(kGetaMark);
    for (int round = 0; round < 3000; ++round) {
        const TE e = static_cast<TE>(1 + round % 3);
        const std::size_t size = round % 50 == 0 ? 3000 : 40;
        const std::string in = e == TE::Utf8 ? RandomUtf8(rng, size, round % 2 == 0)
                                             : RandomUtf16(rng, size, e == TE::Utf16Le);
        const std::string whole = ToCp932(in, e);

        RandomChunks dribble(in, rng, 1 + rng() % 300);
        Cp932Source source(dribble, e);
        ASSERT_EQ(Drain(source, rng), whole) << oracle::Hex(in);

        // Line by line: a line after the first converts as if it followed a
        // letter, so that a mark at its start is not taken for the file's.
        const std::string x = e == TE::Utf8 ? "x" : Units(u"x", e == TE::Utf16Le);
        std::vector<std::string> expected;
        for (const std::string& line : InputLines(in, e)) {
            expected.push_back(expected.empty() ? ToCp932(line, e)
                                                : ToCp932(x + line, e).substr(1));
        }
        std::vector<std::string> got;
        ForEachLine(whole, [&](std::string_view line) { got.emplace_back(line); });
        ASSERT_EQ(got, expected) << oracle::Hex(in);
    }
}

// Validity by decoding each code point, the slow way.
bool PlainValid(std::string_view s) {
    for (std::size_t i = 0; i < s.size();) {
        const auto b = static_cast<unsigned char>(s[i]);
        const std::size_t len = b < 0x80       ? 1
                                : b >> 5 == 6  ? 2
                                : b >> 4 == 14 ? 3
                                : b >> 3 == 30 ? 4
                                               : 0;
        if (len == 0 || i + len > s.size()) {
            return false;
        }
        char32_t cp = len == 1 ? b : b & (0x7F >> len);
        for (std::size_t k = 1; k < len; ++k) {
            const auto c = static_cast<unsigned char>(s[i + k]);
            if (c >> 6 != 2) {
                return false;
            }
            cp = cp << 6 | (c & 0x3F);
        }
        const char32_t min[] = {0, 0, 0x80, 0x800, 0x10000};
        if (cp < min[len] || cp > 0x10FFFF || (cp >= 0xD800 && cp < 0xE000)) {
            return false;
        }
        i += len;
    }
    return true;
}

TEST(Encoding, Utf8AgreesWithTheScreenConversion) {
    // The screen conversion turns U+F7xx into bytes; file text never does.
    // Long inputs take the vector paths.
    std::mt19937 rng(5);
    for (int round = 0; round < 2000; ++round) {
        const std::string in = "a" + RandomUtf8(rng, round % 4 == 0 ? 300 : 30, false);
        ASSERT_EQ(ToCp932(in, TE::Utf8), Utf8ToCp932(in)) << oracle::Hex(in);
        EXPECT_EQ(IsValidUtf8(in), PlainValid(in)) << oracle::Hex(in);
    }
}

TEST(Encoding, ValidatorFedInPiecesAgreesWithWhole) {
    std::mt19937 rng(9);
    for (int round = 0; round < 3000; ++round) {
        const std::string in = RandomUtf8(rng, 1 + rng() % 40, false);
        const bool whole = IsValidUtf8(in);
        Utf8Validator v;
        for (std::size_t at = 0; at < in.size();) {
            const std::size_t n = 1 + rng() % 7;
            v.Feed(std::string_view(in).substr(at, n));
            at += n;
        }
        ASSERT_EQ(v.Finish(), whole) << oracle::Hex(in);
    }
}

TEST(Encoding, SummaryAndUncheckedConversionAgreeWithTheCheckedOnes) {
    // Long texts for the vector path, half-width katakana and their
    // neighbours at every offset, now and then a piece that may be invalid.
    static const std::vector<std::string> kinds = {"a",
                                                   "\n",
                                                   "\xE3\x81\x82",
                                                   "\xEF\xBD\xB1",
                                                   "\xEF\xBD\xA1",
                                                   "\xEF\x9C\x8D",
                                                   "\xCE\xA9",
                                                   "\xEF\xBE\x9F",
                                                   "\xEF\xBD\xA0",
                                                   "\xEF\xBE\xA0",
                                                   "\xEF\xBC\x81",
                                                   "\xC2\xA5",
                                                   "\xF0\x9F\x98\x80",
                                                   "abcdefghijklmnopqrstuvwxyz0123"};
    std::mt19937 rng(13);
    for (int round = 0; round < 2000; ++round) {
        std::string in = "a";  // no byte order mark first: the conversion drops it
        // Now and then long enough for the byte lanes' sums to wrap.
        const std::size_t pieces = round % 10 == 0 ? 20000 : rng() % 600;
        for (std::size_t k = 0; k < pieces; ++k) {
            in += kinds[rng() % kinds.size()];
        }
        if (round % 3 == 0) {
            in.insert(rng() % in.size(), RandomUtf8(rng, 1, false));
        }
        const Utf8Summary s = SummarizeUtf8(in);
        ASSERT_EQ(s.valid, IsValidUtf8(in)) << oracle::Hex(in);
        if (s.valid) {
            ASSERT_EQ(s.non_ascii,
                      std::any_of(in.begin(), in.end(), [](char c) { return (c & 0x80) != 0; }));
            const std::string converted = ToCp932(in, TE::Utf8);
            ASSERT_EQ(s.cp932_length, converted.size()) << oracle::Hex(in);
            std::string fast(Cp932Converter::MaxOutput(in.size()), '\0');
            fast.resize(ConvertValidUtf8(in, fast.data()));
            ASSERT_TRUE(fast == converted) << oracle::Hex(in);
        }
    }
}

}  // namespace
}  // namespace korvalen
