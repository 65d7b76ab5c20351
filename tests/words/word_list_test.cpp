#include "words/word_list.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace korvalen {
namespace {

using namespace std::literals;

using Strings = std::vector<std::string>;

TEST(WordList, TextToLines) {
    struct Row {
        std::string text;
        Strings lines;
    };
    for (const Row& r : {
             Row{"", {}},
             Row{"\n", {""}},
             Row{"a", {"a"}},
             Row{"a\r\n", {"a"}},
             Row{"a\r\n\r\nb", {"a", "", "b"}},
             Row{"a\rb\nc\r\n", {"a", "b", "c"}},
             Row{std::string("a\0b\n"sv), {std::string("a\0b"sv)}},
         }) {
        WordList list;
        list.SetText(r.text);
        EXPECT_EQ(list.Lines(), r.lines) << r.text;
        // The text of the lines gives the same lines back.
        WordList again;
        again.SetText(list.Text("\r\n"));
        EXPECT_EQ(again.Lines(), r.lines) << r.text;
    }
}

TEST(WordList, TidyRemovesOnlyEmptyLines) {
    WordList list(Strings{"", "a", "", "", " ", "\t", "\x81\x40", "b", ""});
    list.Tidy();
    EXPECT_EQ(list.Lines(), (Strings{"a", " ", "\t", "\x81\x40", "b"}));
    list.Tidy();
    EXPECT_EQ(list.Count(), 5u);
}

TEST(WordList, CountCountsEveryLine) {
    EXPECT_EQ(WordList::WordCountText(0), "検索語 : 0語");
    EXPECT_EQ(WordList::WordCountText(1234), "検索語 : 1234語");
    WordList list;
    list.Append("k");
    list.Append(Strings{"", "x"});
    EXPECT_EQ(list.CountText(), "検索語 : 3語");
    list.Tidy();
    EXPECT_EQ(list.CountText(), "検索語 : 2語");
    list.Clear();
    EXPECT_TRUE(list.Empty());
}

}  // namespace
}  // namespace korvalen
