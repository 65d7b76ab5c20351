#include "text/cp932.hpp"

#include <gtest/gtest.h>
#include <iconv.h>

#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <string_view>

#include "tests/support/jis_forms.hpp"
#include "tests/text/sjis_oracle.hpp"
#include "text/sjis.hpp"

namespace korvalen {
namespace {

using namespace std::literals;

bool IsEscape(char16_t c) {
    return c >= kByteEscapeBase && c <= kByteEscapeBase + 0xFF;
}

void ExpectRoundTrip(std::string_view bytes) {
    EXPECT_EQ(Utf16ToCp932(Cp932ToUtf16(bytes)), bytes) << oracle::Hex(bytes);
    EXPECT_EQ(Utf8ToCp932(Cp932ToUtf8(bytes)), bytes) << oracle::Hex(bytes);
}

// Every single byte and every lead byte with every possible second byte.
template <class F>
void ForEveryCode(F&& f) {
    for (int b = 0; b < 256; ++b) {
        if (!IsLeadByte(static_cast<unsigned char>(b))) {
            f(std::string(1, static_cast<char>(b)));
            continue;
        }
        for (int trail = 0; trail < 256; ++trail) {
            f(std::string{static_cast<char>(b), static_cast<char>(trail)});
        }
    }
}

TEST(Cp932, KnownCharacters) {
    struct Row {
        std::string_view bytes;
        char16_t cp;
    };
    for (const Row& r : {
             Row{"\x82\xA0", 0x3042},
             Row{"\x87\x40", 0x2460},
             Row{"\xFA\x40", 0x2170},
             Row{"\x5C", 0x005C},
             Row{"\x7E", 0x007E},
             Row{"\xA6", 0xFF66},
             Row{"\x81\x60", 0xFF5E},
             Row{"\x81\x5F", 0xFF3C},
             Row{"\x81\x91", 0xFFE0},
             Row{"\x81\x5C", 0x2015},
             Row{"\x81\x61", 0x2225},
             Row{"\x81\x7C", 0xFF0D},
             Row{"\x81\xCA", 0xFFE2},
             Row{"\x1A", 0x001A},
             Row{"\x1C", 0x001C},
             Row{"\x7F", 0x007F},
             Row{"\xF0\x40", 0xE000},
             Row{"\x00"sv, 0x0000},
         }) {
        EXPECT_EQ(Cp932ToUtf16(r.bytes), std::u16string(1, r.cp)) << oracle::Hex(r.bytes);
        EXPECT_EQ(Utf16ToCp932(std::u16string(1, r.cp)), r.bytes) << oracle::Hex(r.bytes);
        EXPECT_TRUE(Cp932DecodesCleanly(r.bytes)) << oracle::Hex(r.bytes);
    }
    EXPECT_EQ(Cp932ToUtf8("\x82\xA0\x61\x81\x60"), "\xE3\x81\x82\x61\xEF\xBD\x9E");
}

TEST(Cp932, JisFormsEncodeAsTheCharactersTheyStandFor) {
    for (const test::JisFormRow& r : test::kJisForms) {
        EXPECT_EQ(Utf8ToCp932(r.typed), r.cp932) << r.typed;
        EXPECT_EQ(Utf16ToCp932(std::u16string(1, r.unit)), r.cp932) << r.typed;
        EXPECT_EQ(Utf8ToCp932Exactly(r.typed), r.cp932) << r.typed;
        EXPECT_EQ(Cp932ToUtf8(r.cp932), r.windows) << r.typed;  // decoding stays
        EXPECT_EQ(Cp932JisFormOf(r.cp932), r.typed);
    }
    EXPECT_EQ(Cp932JisFormOf("\x82\xA0"), "");
    EXPECT_EQ(Utf8ToCp932Exactly("a\\~"), "a\\~");
    EXPECT_EQ(Utf8ToCp932Exactly("\xEF\x9E\x82"), "\x82");     // a byte escape
    EXPECT_EQ(Utf8ToCp932Exactly("a\xC2\xA5"), std::nullopt);  // U+00A5: no form
    EXPECT_EQ(Utf8ToCp932Exactly("\xE3\x81"), std::nullopt);
}

TEST(Cp932, EveryCodeRoundTrips) {
    ForEveryCode([](const std::string& code) { ExpectRoundTrip(code); });
}

// glibc's CP932 table is an independent Windows-31J reference: every code we
// decode must decode to its character. Codes we escape are either invalid or
// a duplicate whose character goes back to another code.
TEST(Cp932, AgreesWithIconv) {
    const iconv_t cd = iconv_open("UTF-16LE", "CP932");
    if (cd == reinterpret_cast<iconv_t>(-1)) {
        GTEST_SKIP() << "iconv has no CP932";
    }
    const std::unique_ptr<void, int (*)(iconv_t)> closer(cd, iconv_close);
    int decoded = 0;
    ForEveryCode([&](std::string code) {
        iconv(cd, nullptr, nullptr, nullptr, nullptr);
        char out[16];
        char* in = code.data();
        char* o = out;
        std::size_t in_left = code.size();
        std::size_t out_left = sizeof out;
        const bool valid = iconv(cd, &in, &in_left, &o, &out_left) != static_cast<size_t>(-1);
        std::u16string ref((o - out) / 2, u'\0');
        std::memcpy(ref.data(), out, ref.size() * 2);

        const std::u16string ours = Cp932ToUtf16(code);
        if (!IsEscape(ours[0])) {
            ASSERT_TRUE(valid) << oracle::Hex(code);
            ASSERT_EQ(ours, ref) << oracle::Hex(code);
            ++decoded;
        } else if (valid) {
            ASSERT_NE(Utf16ToCp932(ref), code) << oracle::Hex(code);
            const auto lead = static_cast<unsigned char>(code[0]);
            ASSERT_TRUE(lead == 0x87 || lead == 0xED || lead == 0xEE || lead == 0xFA)
                << oracle::Hex(code);
        }
    });
    // ASCII, katakana, the 7,724 assigned double-byte codes less the 398
    // duplicates, and the user-defined area F040-F9FC.
    EXPECT_EQ(decoded, 128 + 63 + 7724 - 398 + 10 * 188);
}

TEST(Cp932, UndecodableBytesSurvive) {
    for (std::string_view bytes :
         {"\x82"sv, "a\x82"sv, "\x82\x20"sv, "\x82\x0A"sv, "\x80"sv, "\xA0"sv, "\xFD\xFE\xFF"sv,
          "\x85\x40"sv, "\x81\x7F"sv, "\xED\x40"sv, "\xEE\xFC"sv, "\x87\x90"sv, "\xFA\x54"sv,
          "\xFA\x4A"sv, "a\x82\xA0\x80\x82"sv}) {
        ExpectRoundTrip(bytes);
        EXPECT_FALSE(Cp932DecodesCleanly(bytes)) << oracle::Hex(bytes);
    }
    std::mt19937 rng(932);
    for (int round = 0; round < 2000; ++round) {
        ExpectRoundTrip(oracle::RandomBytes(rng, 40));
    }
}

TEST(Cp932, MarksForWhatDoesNotDecode) {
    struct Row {
        std::string_view bytes;
        std::u16string utf16;
    };
    for (const Row& r : {
             Row{"\x82", u"\xF782"},
             Row{"\x82\r\n", u"\xF782\r\n"},
             Row{"\x82\"\x7F", u"\xF782\"\x7F"},
             Row{"\x85\x85\x20", u"\xF785\xF785 "},
             Row{"\x85\x40\x80", u"\xF785\xF740\xF780"},
             Row{"\xED\x40\xA0", u"\xF7ED\xF740\xF7A0"},
             Row{"\x87\x90\xFF", u"\xF787\xF790\xF7FF"},
         }) {
        EXPECT_EQ(Cp932ToUtf16(r.bytes), r.utf16) << oracle::Hex(r.bytes);
    }
}

TEST(Cp932, UnmappableAndInvalidInput) {
    struct Row {
        std::string_view utf8, cp932;
    };
    for (const Row& r : {
             Row{"\xE3\x81\x82\x62", "\x82\xA0\x62"},
             Row{"\xF0\x9F\x98\x80", "\x81\xAC"},          // U+1F600
             Row{"\xC3\xA9\xC2\xA5", "\x81\xAC\x81\xAC"},  // U+00E9, U+00A5
             Row{"\xEF\x9E\x82\xEF\x9E\xA0", "\x82\xA0"},  // byte escapes
             Row{"a\x80\x62\xFF", "a\x81\xAC\x62\x81\xAC"},
             Row{"\xE3\x81", "\x81\xAC\x81\xAC"},  // cut short
             Row{"\xE3\x81\x41", "\x81\xAC\x81\xAC\x41"},
             Row{"\xC0\xAF", "\x81\xAC\x81\xAC"},                          // overlong
             Row{"\xED\xA0\x80", "\x81\xAC\x81\xAC\x81\xAC"},              // surrogate
             Row{"\xF4\x90\x80\x80", "\x81\xAC\x81\xAC\x81\xAC\x81\xAC"},  // > U+10FFFF
         }) {
        EXPECT_EQ(Utf8ToCp932(r.utf8), r.cp932) << oracle::Hex(r.utf8);
    }
    EXPECT_EQ(Utf8ToCp932("\xC3\xA9", "?"), "?");
    EXPECT_EQ(Utf16ToCp932(u"a\xD800\x62"), "a\x81\xAC\x62");
    EXPECT_EQ(Utf16ToCp932(u"\U0001F600\xDC00"), "\x81\xAC\x81\xAC");
}

}  // namespace
}  // namespace korvalen
