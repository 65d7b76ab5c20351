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
             Row{"a\r\n\r\nb", {"a", "", "b"}},
             Row{"a\rb\nc\r\n", {"a", "b", "c"}},
             Row{"a\0b\n"s, {"a\0b"s}},
         }) {
        WordList list;
        list.SetText(r.text);
        EXPECT_EQ(list.Lines(), r.lines) << r.text;
        WordList again;  // the text of the lines gives the same lines back
        again.SetText(list.Text("\r\n"));
        EXPECT_EQ(again.Lines(), r.lines) << r.text;
    }
}

TEST(WordList, TidyAndCount) {
    EXPECT_EQ(WordList::WordCountText(1234), "検索語 : 1234語");
    WordList list(Strings{"", "a", "", "", " ", "\t", "\x81\x40"});
    list.Append("b");
    list.Append(Strings{"", ""});
    EXPECT_EQ(list.CountText(), "検索語 : 10語");  // empty lines count until the tidy
    list.Tidy();
    EXPECT_EQ(list.Lines(), (Strings{"a", " ", "\t", "\x81\x40", "b"}));
    EXPECT_EQ(list.CountText(), "検索語 : 5語");
    list.Clear();
    EXPECT_EQ(list.CountText(), "検索語 : 0語");
}

}  // namespace
}  // namespace korvalen
