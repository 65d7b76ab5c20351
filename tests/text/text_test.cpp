// The Shift-JIS walk, the line rule and quoted lists: tables for what
// a plain stand-in would only restate, random bytes against the stand-ins of
// oracle.hpp for the rest.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <string_view>

#include "tests/text/oracle.hpp"

namespace korvalen {
namespace {

using testing::PrintToString;

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
    struct Row {
        std::string_view s, split, stripped;
    };
    for (const Row& r : {
             Row{R"(a,"b,c",d)", R"(a|"b,c"|d)", "a|b,c|d"},
             Row{R"("a""b",c)", R"("a"b"|c)", R"(a"b|c)"},
             Row{R"("""a")", R"(""a")", R"("a)"},
             Row{R"("")", R"("")", ""},
             Row{R"(")", R"(")", R"(")"},
             Row{R"("a,b)", R"("a,b)", R"("a,b)"},
             Row{R"(ab"c,d"e,f)", R"(ab"c,d"e|f)", R"(ab"c,d"e|f)"},
             Row{R"("a"b,c)", R"("a"b|c)", R"("a"b|c)"},
             Row{R"( "x y" , z)", R"( "x y" | z)", "x y|z"},
             // 0x2C and 0x22 as second bytes stay inside their characters.
             Row{"\x81\x2C,\x81\x22", "\x81\x2C|\x81\x22", "\x81\x2C|\x81\x22"},
             Row{"\"\x81\",x\"", "\"\x81\",x\"", "\x81\",x"},
             Row{"\"a\x82", "\"a\x82", "\"a\x82"},
             Row{"\t\"a\"\x81\x40,", "\t\"a\"\x81\x40", "\"a\"\x81\x40"},
         }) {
        StringList list = {"stale"};
        SplitQuoted(r.s, ',', '"', list);
        EXPECT_EQ(JoinedByBars(list), r.split) << PrintToString(r.s);
        StripQuotesAll(list, '"');
        EXPECT_EQ(JoinedByBars(list), r.stripped) << PrintToString(r.s);
    }
}

}  // namespace
}  // namespace korvalen
