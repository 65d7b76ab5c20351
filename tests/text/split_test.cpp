#include "text/split.hpp"

#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "tests/text/sjis_oracle.hpp"
#include "text/quoted.hpp"

namespace korvalen {
namespace {

TEST(Split, SplitAt) {
    struct Row {
        std::string_view s, left, right;
    };
    for (const Row& r : {
             Row{"key=a,b", "key", "a,b"},
             Row{"a=b=c", "a", "b=c"},
             Row{"=x", "", "x"},
             Row{"k=", "k", ""},
             Row{"abc", "", ""},
             Row{"", "", ""},
             Row{"\x82\xA0=\x82\xA2", "\x82\xA0", "\x82\xA2"},
         }) {
        const auto [left, right] = SplitAt(r.s, '=');
        EXPECT_EQ(left, r.left) << oracle::Hex(r.s);
        EXPECT_EQ(right, r.right) << oracle::Hex(r.s);
    }
}

TEST(Split, GroupDigits) {
    struct Row {
        std::string_view s, grouped;
    };
    for (const Row& r : {
             Row{"1234567", "1,234,567"},
             Row{"123456", "123,456"},
             Row{"123", "123"},
             Row{"12", "12"},
             Row{"-123", "-123"},
             Row{"-1234", "-1,234"},
             Row{"-123456", "-123,456"},
             Row{"-2147483648", "-2,147,483,648"},
             Row{"ab 1234", "1,234"},
             Row{"1234 ", ""},
             Row{"", ""},
             Row{"1", "1"},
         }) {
        EXPECT_EQ(GroupDigits(r.s), r.grouped) << oracle::Hex(r.s);
    }
}

TEST(Split, PadLeft) {
    struct Row {
        std::string_view s;
        std::int32_t width;
        std::string_view padded;
    };
    for (const Row& r : {
             Row{"12", 4, "  12"},
             Row{"\t7 ", 4, "   7"},
             Row{"1,234,567,890", 13, "1,234,567,890"},
             Row{"12345", 4, "12345"},
             Row{"", 3, "   "},
             Row{" 12 ", 0, "12"},
             Row{"12", -3, "12"},
         }) {
        EXPECT_EQ(PadLeft(r.s, r.width), r.padded) << oracle::Hex(r.s) << " to " << r.width;
    }
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
             Row{"a,,b", "a||b", "a||b", 3},
             Row{"a,b,", "a|b", "a|b", 2},
             Row{",a", "|a", "|a", 2},
             Row{",", "", "", 1},
             Row{"", "", "", 0},
             Row{R"("a""b",c)", R"("a"b"|c)", R"(a"b|c)", 2},
             Row{R"("""a")", R"(""a")", R"("a)", 1},
             Row{R"("")", R"("")", "", 1},
             Row{R"(")", R"(")", R"(")", 1},
             Row{R"("a,b)", R"("a,b)", R"("a,b)", 1},
             Row{R"(ab"c,d"e,f)", R"(ab"c,d"e|f)", R"(ab"c,d"e|f)", 2},
             Row{R"("a"b,c)", R"("a"b|c)", R"("a"b|c)", 2},
             Row{R"( "x y" , z)", R"( "x y" | z)", "x y|z", 2},
             Row{R"(""a"")", R"(""a"")", R"("a")", 1},
             Row{"\x82\xA0,a", "\x82\xA0|a", "\x82\xA0|a", 2},
             // 0x2C and 0x22 as second bytes stay inside their characters.
             Row{"\x81\x2C,\x81\x22", "\x81\x2C|\x81\x22", "\x81\x2C|\x81\x22", 2},
             Row{"\"\x81\",x\"", "\"\x81\",x\"", "\x81\",x", 1},
             Row{"\"a\x82", "\"a\x82", "\"a\x82", 1},
             Row{"\t\"a\"\x81\x40,", "\t\"a\"\x81\x40", "\"a\"\x81\x40", 1},
         }) {
        StringList list = {"stale"};
        SplitQuoted(r.s, ',', '"', list);
        EXPECT_EQ(list.size(), r.count) << oracle::Hex(r.s);
        EXPECT_EQ(Joined(list), r.split) << oracle::Hex(r.s);
        StripQuotesAll(list, '"');
        EXPECT_EQ(list.size(), r.count) << oracle::Hex(r.s);
        EXPECT_EQ(Joined(list), r.stripped) << oracle::Hex(r.s);
    }
}

// The pieces of the walk answer nothing past the end.
TEST(Quoted, NothingPastTheEnd) {
    for (std::size_t end : {2u, 9u}) {
        std::size_t pos = end;
        EXPECT_EQ(ReadUnit("ab", '"', pos), "");
        EXPECT_EQ(NextToken("ab", '"', pos), "");
        EXPECT_EQ(pos, end);
    }
}

}  // namespace
}  // namespace korvalen
