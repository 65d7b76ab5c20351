// The text layer: the Shift-JIS walk, the line rule, quoted lists, code page
// 932 and input files in UTF-8 and UTF-16. Tables for what a plain stand-in
// would only restate, random inputs against the stand-ins of oracle.hpp for
// the rest.
#include <gtest/gtest.h>
#include <iconv.h>

#include <array>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <string_view>
#include <tuple>

#include "tests/support/jis_forms.hpp"
#include "tests/text/oracle.hpp"

namespace korvalen {
namespace {

using oracle::Units;
using testing::PrintToString;
using TE = TextEncoding;

TEST(Text, RandomBytesKeepTheRules) {
    std::mt19937 rng(20240611);
    for (int round = 0; round < 3000; ++round) {
        const std::string s = oracle::RandomBytes(rng, round % 10 == 0 ? 2000 : 40);
        const std::string sizes = oracle::RandomBytes(rng, 8);
        ASSERT_EQ(oracle::LinesFailure(s, 1 + rng() % 40, sizes), "") << PrintToString(s);
        const std::string_view head = std::string_view(s).substr(0, 40);  // long ones: lines only
        const auto n = static_cast<std::int32_t>(rng() % (head.size() + 4)) - 1;
        ASSERT_EQ(oracle::SjisFailure(head, n, rng() % 5), "") << PrintToString(head) << " n=" << n;
        ASSERT_EQ(oracle::Cp932Failure(head), "") << PrintToString(head);
    }
}

std::string JoinedByBars(const StringList& list) {
    std::string out;
    for (std::size_t i = 0; i < list.size(); ++i) {
        out += (i ? "|" : "") + list[i];
    }
    return out;
}

TEST(Quoted, SplitAndStrip) {
    const std::array<std::string_view, 3> rows[] = {
        {R"(a,"b,c",d)", R"(a|"b,c"|d)", "a|b,c|d"},
        {R"("a""b",c)", R"("a"b"|c)", R"(a"b|c)"},
        {R"("""a")", R"(""a")", R"("a)"},
        {R"("")", R"("")", ""},
        {R"(")", R"(")", R"(")"},
        {R"("a,b)", R"("a,b)", R"("a,b)"},
        {R"(ab"c,d"e,f)", R"(ab"c,d"e|f)", R"(ab"c,d"e|f)"},
        {R"("a"b,c)", R"("a"b|c)", R"("a"b|c)"},
        {R"( "x y" , z)", R"( "x y" | z)", "x y|z"},
        // 0x2C and 0x22 as second bytes stay inside their characters.
        {"\x81\x2C,\x81\x22", "\x81\x2C|\x81\x22", "\x81\x2C|\x81\x22"},
        {"\"\x81\",x\"", "\"\x81\",x\"", "\x81\",x"},
        {"\"a\x82", "\"a\x82", "\"a\x82"},
        {"\t\"a\"\x81\x40,", "\t\"a\"\x81\x40", "\"a\"\x81\x40"},
    };
    for (const auto& [text, split, stripped] : rows) {
        StringList list = {"stale"};
        SplitQuoted(text, ',', '"', list);
        EXPECT_EQ(JoinedByBars(list), split) << PrintToString(text);
        StripQuotesAll(list, '"');
        EXPECT_EQ(JoinedByBars(list), stripped) << PrintToString(text);
    }
}

// glibc's CP932 table is an independent Windows-31J reference: every code we
// decode (every single byte, every lead byte with every second byte) must
// decode to its character. Codes we escape are either invalid or a duplicate
// whose character goes back to another code.
TEST(Cp932, EveryCodeAgreesWithIconvAndRoundTrips) {
    const iconv_t cd = iconv_open("UTF-16LE", "CP932");
    ASSERT_NE(cd, reinterpret_cast<iconv_t>(-1)) << "iconv has no CP932";
    const std::unique_ptr<void, int (*)(iconv_t)> closer(cd, iconv_close);
    int decoded = 0;
    for (int code = 0; code < 0x10000; ++code) {
        const auto lead = static_cast<char>(code >> 8), trail = static_cast<char>(code);
        if (!IsLeadByte(lead) && trail != 0) {
            continue;  // each single byte once
        }
        std::string bytes = IsLeadByte(lead) ? std::string{lead, trail} : std::string(1, lead);
        ASSERT_EQ(oracle::Cp932Failure(bytes), "") << PrintToString(bytes);
        iconv(cd, nullptr, nullptr, nullptr, nullptr);
        char out[16];
        char* in = bytes.data();
        char* o = out;
        std::size_t in_left = bytes.size(), out_left = sizeof out;
        const bool valid = iconv(cd, &in, &in_left, &o, &out_left) != static_cast<size_t>(-1);
        std::u16string ref((o - out) / 2, u'\0');
        std::memcpy(ref.data(), out, ref.size() * 2);

        const std::u16string ours = Cp932ToUtf16(bytes);
        if (Cp932DecodesCleanly(bytes)) {
            ASSERT_TRUE(valid) << PrintToString(bytes);
            ASSERT_EQ(ours, ref) << PrintToString(bytes);
            ++decoded;
        } else if (valid) {
            ASSERT_NE(Utf16ToCp932(ref), bytes) << PrintToString(bytes);
            ASSERT_TRUE(bytes[0] == '\x87' || bytes[0] == '\xED' || bytes[0] == '\xEE' ||
                        bytes[0] == '\xFA')
                << PrintToString(bytes);
        }
    }
    // ASCII, katakana, the 7,724 assigned double-byte codes less the 398
    // duplicates, and the user-defined area F040-F9FC.
    EXPECT_EQ(decoded, 128 + 63 + 7724 - 398 + 10 * 188);
    EXPECT_EQ(Cp932ToUtf8("\x82\xA0\x61\x81\x60\x81\x98"), "あa～§");
}

TEST(Cp932, JisFormsEncodeAsTheCharactersTheyStandFor) {
    for (const test::JisFormRow& r : test::kJisForms) {
        EXPECT_EQ(Utf8ToCp932Exactly(r.typed), r.cp932) << r.typed;
        EXPECT_EQ(Cp932ToUtf8(r.cp932), r.windows) << r.typed;  // decoding stays
        EXPECT_EQ(Cp932JisFormOf(r.cp932), r.typed);
    }
    EXPECT_EQ(Cp932JisFormOf("\x82\xA0"), "");
    EXPECT_EQ(Utf8ToCp932Exactly("a\\~"), "a\\~");
    EXPECT_EQ(Utf8ToCp932Exactly("\xEF\x9E\x82"), "\x82");     // a byte escape
    EXPECT_EQ(Utf8ToCp932Exactly("a\xC2\xA5"), std::nullopt);  // U+00A5: no form
    EXPECT_EQ(Utf8ToCp932Exactly("\xE3\x81"), std::nullopt);
    std::string out = "k";  // a failed conversion leaves what was there
    EXPECT_FALSE(Utf8ToCp932Exact("a\xC2\xA5", out));
    EXPECT_EQ(out, "k");
}

// Bytes that do not decode become marks U+F700 + byte; what has no code
// page 932 form becomes the geta mark.
TEST(Cp932, MarksForWhatDoesNotConvert) {
    const std::pair<std::string_view, std::u16string_view> rows[] = {
        {"\x82\r\n", u"\xF782\r\n"},
        {"\x82\"\x81\x7F", u"\xF782\"\xF781\x7F"},
        {"\x85\x85\x20", u"\xF785\xF785 "},
        {"\x85\x40\x80", u"\xF785\xF740\xF780"},
        {"\xED\x40\xA0", u"\xF7ED\xF740\xF7A0"},
        {"\x87\x90\xFF", u"\xF787\xF790\xF7FF"}};
    for (const auto& [bytes, utf16] : rows) {
        EXPECT_EQ(Cp932ToUtf16(bytes), utf16) << PrintToString(bytes);
    }
    EXPECT_EQ(Utf8ToCp932("\xEF\x9E\x82\xEF\x9E\xA0"), "\x82\xA0");
    EXPECT_EQ(Utf8ToCp932("\xE3\x81\x41\xC3\xA9"), "\x81\xAC\x81\xAC\x41\x81\xAC");
    EXPECT_EQ(Utf8ToCp932("\xC3\xA9", "?"), "?");
    EXPECT_EQ(Utf16ToCp932(u"a\xD800\x62"), "a\x81\xAC\x62");
    EXPECT_EQ(Utf16ToCp932(u"\U0001F600\xDC00"), "\x81\xAC\x81\xAC");
}

TEST(Encoding, SniffedHeadReplaysTheWholeInput) {
    const std::string cp932 = "\x8C\x9F" + std::string(100000, 'a');
    const std::string utf8 = std::string(100000, 'a') + "\xE6\xA4\x9C";
    // The first read decides code page 932; UTF-8 needs all the input.
    const std::tuple<std::string, TE, std::size_t, bool> rows[] = {
        {cp932, TE::Cp932, 0, false},
        {cp932, TE::Cp932, 10, true},
        {utf8, TE::Utf8, 10, false},
        {utf8, TE::Utf8, std::size_t{1} << 20, true}};
    for (const auto& [text, encoding, keep, replayable] : rows) {
        MemorySource source(text, 4);
        Sniffed s = SniffEncoding(source, keep);
        EXPECT_EQ(s.encoding, encoding);
        ASSERT_EQ(s.replayable, replayable);
        if (s.replayable) {
            ReplaySource replay(std::move(s.head), source);
            EXPECT_EQ(oracle::Drain(replay, 600), text);
        }
    }
}

TEST(Encoding, ConversionTable) {
    const std::string geta(kGetaMark);
    const std::tuple<TE, std::string, std::string> rows[] = {
        {TE::Utf8, "\xE3\x81\x82\xEF\xBD\xB1~\\", "\x82\xA0\xB1~\\"},  // あｱ~\ (sic)
        {TE::Utf8, "\xEF\xBB\xBFz\xEF\xBB\xBF", "z" + geta},           // only the first mark
        {TE::Utf8, "\xE3\x81z\x80", geta + geta + "z" + geta},         // per invalid byte
        {TE::Utf8, "\xE3\x81\r\n\xE3", geta + geta + "\r\n" + geta},   // the break survives
        {TE::Utf8, "\xEF\x9C\x8D\xEF\x9C\x8A", geta + geta},           // U+F70D is no CR
        {TE::Utf8, "\xC0\xAF\xED\xA0\x80", geta + geta + geta + geta + geta},
        {TE::Utf16Le, Units(u"\xFEFFあ\r\n", true), "\x82\xA0\r\n"},
        {TE::Utf16Be, Units(u"\xFEFFあ\r\n", false), "\x82\xA0\r\n"},
        {TE::Utf16Le, Units(u"a\xD83D\xDE00z", true), "a" + geta + "z"},       // a pair: one mark
        {TE::Utf16Be, Units(u"\xD83D\r\xDE00", false), geta + "\r" + geta},    // lone halves
        {TE::Utf16Le, Units(u"\x0D0A\xF70A", true), geta + geta},              // neither is a break
        {TE::Utf16Le, Units(u"abcdefghij", true) + "x", "abcdefghij" + geta},  // odd byte
        {TE::Cp932, "\xEF\xBB\xBF\x82\xA0", "\xEF\xBB\xBF\x82\xA0"},
    };
    for (const auto& [encoding, in, out] : rows) {
        EXPECT_EQ(ToCp932(in, encoding), out) << PrintToString(in);
    }
}

// Now and then a mark first, or long enough for the vector paths and for the
// byte lanes' sums of the summary to wrap.
TEST(Encoding, RandomInputsKeepTheRules) {
    static constexpr std::string_view kMarks[] = {"\xEF\xBB\xBF", "\xFF\xFE", "\xFE\xFF"};
    std::mt19937 rng(11);
    for (int round = 0; round < 1200; ++round) {
        const auto e = static_cast<TE>(round % 4);
        const std::size_t size = round % 200 == 1 ? 20000 : round % 50 == 0 ? 3000 : rng() % 200;
        std::string text = rng() % 8 == 0 ? std::string(kMarks[rng() % 3]) : "";
        text += e == TE::Utf16Le || e == TE::Utf16Be
                    ? oracle::RandomUtf16(rng, size, e == TE::Utf16Le)
                    : oracle::RandomUtf8(rng, size, round % 3 != 0);
        const std::string sizes = oracle::RandomBytes(rng, 12);
        ASSERT_EQ(oracle::EncodingFailure(text, e, 1 + rng() % 600, sizes), "")
            << PrintToString(text.substr(0, 300)) << " as " << static_cast<int>(e);
    }
}

}  // namespace
}  // namespace korvalen
