#include "text/encoding.hpp"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "tests/support/jis_forms.hpp"
#include "tests/text/oracle.hpp"

namespace korvalen {
namespace {

using oracle::Units;
using testing::PrintToString;
using TE = TextEncoding;

TEST(Encoding, SniffedHeadReplaysTheWholeInput) {
    struct Row {
        std::string text;
        TE encoding;
        std::size_t keep;
        bool replayable;
    };
    const std::string cp932 = "\x8C\x9F" + std::string(100000, 'a');
    const std::string utf8 = std::string(100000, 'a') + "\xE6\xA4\x9C";
    // The first read decides code page 932; UTF-8 needs all the input.
    for (const Row& r : std::vector<Row>{{cp932, TE::Cp932, 0, false},
                                         {cp932, TE::Cp932, 10, true},
                                         {utf8, TE::Utf8, 10, false},
                                         {utf8, TE::Utf8, std::size_t{1} << 20, true}}) {
        MemorySource source(r.text, 4);
        Sniffed s = SniffEncoding(source, r.keep);
        EXPECT_EQ(s.encoding, r.encoding);
        ASSERT_EQ(s.replayable, r.replayable);
        if (s.replayable) {
            ReplaySource replay(std::move(s.head), source);
            EXPECT_EQ(oracle::Drain(replay, 600), r.text);
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
             {TE::Utf8, "\xEF\xBB\xBFz\xEF\xBB\xBF", "z" + geta},          // only the first mark
             {TE::Utf8, "\xF0\x9F\x98\x80", geta},                         // one mark per character
             {TE::Utf8, "\xE3\x81z\x80", geta + geta + "z" + geta},        // per invalid byte
             {TE::Utf8, "\xE3\x81\r\n\xE3", geta + geta + "\r\n" + geta},  // the break survives
             {TE::Utf8, "\xEF\x9C\x8D\xEF\x9C\x8A", geta + geta},          // U+F70D is no CR
             {TE::Utf8, "\xC0\xAF\xED\xA0\x80", geta + geta + geta + geta + geta},
             {TE::Utf16Le, Units(u"\xFEFFあ\r\n", true), "\x82\xA0\r\n"},
             {TE::Utf16Be, Units(u"\xFEFFあ\r\n", false), "\x82\xA0\r\n"},
             {TE::Utf16Le, Units(u"a\xD83D\xDE00z", true), "a" + geta + "z"},  // a pair: one mark
             {TE::Utf16Be, Units(u"\xD83D\r\xDE00", false), geta + "\r" + geta},  // lone halves
             {TE::Utf16Le, Units(u"\x0D0A\xF70A", true), geta + geta},  // neither is a break
             {TE::Utf16Le, Units(u"abcdefghij", true) + "x", "abcdefghij" + geta},  // odd byte
             {TE::Cp932, "\xEF\xBB\xBF\x82\xA0", "\xEF\xBB\xBF\x82\xA0"},
         }) {
        EXPECT_EQ(ToCp932(r.in, r.encoding), r.out) << PrintToString(r.in);
    }
    for (const test::JisFormRow& r : test::kJisForms) {  // UTF-8: in the random pieces
        EXPECT_EQ(ToCp932(Units(std::u16string{u'a', r.unit}, false), TE::Utf16Be),
                  "a" + std::string(r.cp932));
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
