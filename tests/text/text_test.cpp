// The Shift-JIS walk, the line rule, lists and number fields: tables for what
// a plain stand-in would only restate, random bytes against the stand-ins of
// oracle.hpp for the rest.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <string_view>

#include "tests/text/oracle.hpp"
#include "text/split.hpp"

namespace korvalen {
namespace {

using testing::PrintToString;

TEST(Sjis, IsLeadByte) {
    for (int b = 0; b < 256; ++b) {
        EXPECT_EQ(IsLeadByte(static_cast<unsigned char>(b)), oracle::Lead(static_cast<char>(b)));
        EXPECT_EQ(IsLeadByte(static_cast<char>(b)), oracle::Lead(static_cast<char>(b))) << b;
    }
}

TEST(Text, RandomBytesKeepTheRules) {
    std::mt19937 rng(20240611);
    for (int round = 0; round < 4000; ++round) {
        const std::string s = oracle::RandomBytes(rng, round % 10 == 0 ? 2000 : 40);
        const std::string sizes = oracle::RandomBytes(rng, 8);
        const auto n = static_cast<std::int32_t>(rng() % (s.size() + 4)) - 1;
        ASSERT_EQ(oracle::SjisFailure(s, n, rng() % 5), "") << PrintToString(s) << " n=" << n;
        ASSERT_EQ(oracle::LinesFailure(s, 1 + rng() % 40, sizes), "") << PrintToString(s);
        ASSERT_EQ(oracle::Cp932Failure(s), "") << PrintToString(s);
    }
}

TEST(Lines, OneRuleForEveryBreak) {
    using namespace std::string_literals;
    const auto lines = [](std::string_view s) {
        oracle::Lines out;
        ForEachLine(s, [&](std::string_view line) { out.emplace_back(line); });
        return out;
    };
    EXPECT_EQ(lines("a\r\r\nb\n\rc\r\n\n"), (oracle::Lines{"a", "", "b", "", "c", ""}));
    EXPECT_EQ(lines("x\0y\x1Az\r\x1A"s), (oracle::Lines{"x\0y\x1Az"s, "\x1A"}));
    EXPECT_EQ(lines(""), oracle::Lines{});
}

TEST(Split, SplitAtGroupDigitsPadLeft) {
    using Pair = std::pair<std::string, std::string>;
    EXPECT_EQ(SplitAt("a=b=c", '='), Pair("a", "b=c"));
    EXPECT_EQ(SplitAt("=x", '='), Pair("", "x"));
    EXPECT_EQ(SplitAt("abc", '='), Pair());
    for (const auto& [s, grouped] :
         std::vector<std::pair<std::string_view, std::string_view>>{{"1234567", "1,234,567"},
                                                                    {"123456", "123,456"},
                                                                    {"12", "12"},
                                                                    {"-123", "-123"},
                                                                    {"-1234", "-1,234"},
                                                                    {"-123456", "-123,456"},
                                                                    {"ab 1234", "1,234"},
                                                                    {"1234 ", ""}}) {
        EXPECT_EQ(GroupDigits(s), grouped) << s;
    }
    EXPECT_EQ(PadLeft("\t7 ", 4), "   7");
    EXPECT_EQ(PadLeft("12345", 4), "12345");
    EXPECT_EQ(PadLeft(" 12 ", -3), "12");
}

// Items are joined with "|" for the comparison.
std::string Joined(const StringList& list) {
    std::string out;
    for (std::size_t i = 0; i < list.size(); ++i) {
        out += (i ? "|" : "") + list[i];
    }
    return out;
}

TEST(Quoted, SplitAndStrip) {
    struct Row {
        std::string_view s, split, stripped;
        std::size_t count;
    };
    for (const Row& r : {
             Row{R"(a,"b,c",d)", R"(a|"b,c"|d)", "a|b,c|d", 3},
             Row{"a,b,", "a|b", "a|b", 2},
             Row{",", "", "", 1},
             Row{R"("a""b",c)", R"("a"b"|c)", R"(a"b|c)", 2},
             Row{R"("""a")", R"(""a")", R"("a)", 1},
             Row{R"("")", R"("")", "", 1},
             Row{R"(")", R"(")", R"(")", 1},
             Row{R"("a,b)", R"("a,b)", R"("a,b)", 1},
             Row{R"(ab"c,d"e,f)", R"(ab"c,d"e|f)", R"(ab"c,d"e|f)", 2},
             Row{R"("a"b,c)", R"("a"b|c)", R"("a"b|c)", 2},
             Row{R"( "x y" , z)", R"( "x y" | z)", "x y|z", 2},
             // 0x2C and 0x22 as second bytes stay inside their characters.
             Row{"\x81\x2C,\x81\x22", "\x81\x2C|\x81\x22", "\x81\x2C|\x81\x22", 2},
             Row{"\"\x81\",x\"", "\"\x81\",x\"", "\x81\",x", 1},
             Row{"\"a\x82", "\"a\x82", "\"a\x82", 1},
             Row{"\t\"a\"\x81\x40,", "\t\"a\"\x81\x40", "\"a\"\x81\x40", 1},
         }) {
        StringList list = {"stale"};
        SplitQuoted(r.s, ',', '"', list);
        EXPECT_EQ(list.size(), r.count) << PrintToString(r.s);
        EXPECT_EQ(Joined(list), r.split) << PrintToString(r.s);
        StripQuotesAll(list, '"');
        EXPECT_EQ(Joined(list), r.stripped) << PrintToString(r.s);
    }
    // The pieces of the walk answer nothing past the end.
    for (std::size_t end : {2u, 9u}) {
        std::size_t pos = end;
        EXPECT_EQ(ReadUnit("ab", '"', pos) + std::string(NextToken("ab", '"', pos)), "");
        EXPECT_EQ(pos, end);
    }
}

}  // namespace
}  // namespace korvalen
