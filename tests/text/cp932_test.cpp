#include "text/cp932.hpp"

#include <gtest/gtest.h>
#include <iconv.h>

#include <cstring>
#include <memory>
#include <string>
#include <string_view>

#include "tests/support/jis_forms.hpp"
#include "tests/text/oracle.hpp"

namespace korvalen {
namespace {

using testing::PrintToString;

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
    std::string out = "k";  // a failed conversion leaves what was there
    EXPECT_FALSE(Utf8ToCp932Exact("a\xC2\xA5", out));
    EXPECT_EQ(out, "k");
}

// Bytes that do not decode become marks U+F700 + byte; what has no code
// page 932 form becomes the geta mark.
TEST(Cp932, MarksForWhatDoesNotConvert) {
    struct Row {
        std::string_view bytes;
        std::u16string utf16;
    };
    for (const Row& r :
         {Row{"\x82\r\n", u"\xF782\r\n"}, Row{"\x82\"\x81\x7F", u"\xF782\"\xF781\x7F"},
          Row{"\x85\x85\x20", u"\xF785\xF785 "}, Row{"\x85\x40\x80", u"\xF785\xF740\xF780"},
          Row{"\xED\x40\xA0", u"\xF7ED\xF740\xF7A0"}, Row{"\x87\x90\xFF", u"\xF787\xF790\xF7FF"}}) {
        EXPECT_EQ(Cp932ToUtf16(r.bytes), r.utf16) << PrintToString(r.bytes);
    }
    EXPECT_EQ(Utf8ToCp932("\xEF\x9E\x82\xEF\x9E\xA0"), "\x82\xA0");
    EXPECT_EQ(Utf8ToCp932("\xE3\x81\x41\xC3\xA9"), "\x81\xAC\x81\xAC\x41\x81\xAC");
    EXPECT_EQ(Utf8ToCp932("\xC3\xA9", "?"), "?");
    EXPECT_EQ(Utf16ToCp932(u"a\xD800\x62"), "a\x81\xAC\x62");
    EXPECT_EQ(Utf16ToCp932(u"\U0001F600\xDC00"), "\x81\xAC\x81\xAC");
}

}  // namespace
}  // namespace korvalen
