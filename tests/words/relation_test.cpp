// The relation file (its keys and the words of a key) and the word list.
#include "words/relation.hpp"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cerrno>
#include <clocale>
#include <cwctype>
#include <filesystem>
#include <string>
#include <tuple>
#include <vector>

#include "../search/fixture.hpp"
#include "text/cp932.hpp"
#include "words/word_list.hpp"

namespace korvalen::test {
namespace {

using namespace std::literals;
using Strings = std::vector<std::string>;

const std::string kBig(1 << 18, 'w');  // a line of several read chunks

TEST(RelKeys, KeyListOfFiles) {
    const std::pair<std::string, Strings> rows[] = {
        // the keys after the "（なし）" entry
        {"", {}},
        {"\r\n\r\n\n", {}},
        {"abc\r\n   \r\n=x", {""}},  // no "=", blanks: the empty key, once
        {"a=1\r\nb=2\r\na=3\r\nnoeq\r\nc=4", {"a", "b", "", "c"}},
        {"Abc=1\r\nabc=2\r\nABC=3", {"Abc"}},  // case ignored, the first spelling kept
        {"k=1\r\nk =2\r\nx=a=b", {"k", "k ", "x"}},
        {Sj("（なし）=1\r\nc=2"), {"c"}},
        {"a\0b=1\x1A\r\nc\x1A=2\x1A"s, {"a\0b"s, "c\x1A"}},  // NUL and Ctrl-Z are bytes
        {"\xFF\x80=1\r\nk\x82=2\r\nend\x82", {"\xFF\x80", "k\x82", ""}},
    };
    TempDir dir;
    for (const auto& [file, keys] : rows) {
        SCOPED_TRACE(file.substr(0, 40));
        const RelKeysResult res = LoadRelKeys(dir.File("rel.kvl", file));
        Strings expected = keys;
        expected.insert(expected.begin(), std::string(kNoKey));
        EXPECT_TRUE(res.opened);
        EXPECT_EQ(res.message, "");
        EXPECT_EQ(res.keys, expected);
        EXPECT_EQ(res.SelectedIndex(), keys.empty() ? -1 : 1);
    }
}

TEST(RelFile, NothingToOpenOrAFailedOpenOrRead) {
    TempDir dir;
    std::filesystem::create_directory(dir.Path("folder"));
    std::filesystem::create_symlink(dir.Path("gone"), dir.Path("dangling"));
    ASSERT_EQ(::mkfifo(dir.Path("fifo").c_str(), 0600), 0);  // refused, not waited on
    const std::string rel = dir.File("rel.kvl", "k=1\r\n");
    // The first read ends inside the line of "c"; the next fails: that line is lost.
    const std::string cut = dir.File("cut.kvl", "a=1,2\r\nb=2\r\na=3\r\nc=" + kBig + "\r\n");
    const std::string none, keysFailed(kMsgKeysFailed), wordsFailed(kMsgWordsFailed);
    const std::tuple<std::string, std::string, std::string, Strings> rows[] = {
        {"", std::string(kMsgNoRelFile), none, {}},
        {dir.Path("missing"), std::string(kMsgNoRelFile), none, {}},
        {dir.Path("folder"), std::string(kMsgNoRelFile), none, {}},
        {dir.Path("dangling"), std::string(kMsgNoRelFile), none, {}},
        {dir.Path("fifo"), keysFailed, wordsFailed, {}},
        {rel, keysFailed, wordsFailed, {}},                               // the open fails
        {cut, keysFailed, wordsFailed, {std::string(kNoKey), "a", "b"}},  // a read fails
    };
    for (const auto& [path, keysMessage, wordsMessage, keys] : rows) {
        SCOPED_TRACE(path);
        // Opens of rel.kvl fail (as root too), and reads of cut.kvl after its first.
        FailingOps ops = path == cut ? FailingOps(cut, FailingOps::Fail::Read, 1)
                                     : FailingOps(rel, FailingOps::Fail::Open, 0, EACCES);
        ScopedFileOps scope(ops);
        const RelKeysResult read = LoadRelKeys(path);
        EXPECT_EQ(read.opened, !keys.empty());
        EXPECT_EQ(read.keys, keys);
        EXPECT_EQ(read.message, keysMessage);
        EXPECT_EQ(LoadRelWords(path, "c", true).words, Strings{"c"});
        const RelWordsResult words = LoadRelWords(path, "c", false);
        EXPECT_TRUE(words.words.empty());
        EXPECT_EQ(words.message, wordsMessage);
    }
}

TEST(RelWords, WordsOfAKey) {
    const std::string none(kNoKey);
    const std::tuple<std::string, std::string, bool, Strings> rows[] = {
        {"a=1,2\r\nb=9\r\na=3", "a", false, {"1", "2", "3"}},
        {"a=1\r\na =2\r\nA=3", "a", false, {"1"}},  // the key compared byte for byte
        {"k=\r\nk=   \r\nk=,", "k", false, {""}},   // k= adds nothing, k=, one empty word
        {Sj("色=赤, \"青,緑\" ,黄"), Sj("色"), false, {Sj("赤"), Sj("青,緑"), Sj("黄")}},
        {Sj("赤=赤,朱"), Sj("赤"), true, {Sj("赤"), Sj("赤"), Sj("朱")}},  // duplicates stay
        {"a=1", none, false, {}},
        {"a=1", none, true, {none}},
        {Sj("（なし）=x,y"), none, false, {"x", "y"}},
        {"x=a=b,c", "x", false, {"a=b", "c"}},
        {"=1\r\nnoeq", "", true, {}},  // the empty key reads nothing
    };
    TempDir dir;
    for (const auto& [file, key, addSort, words] : rows) {
        SCOPED_TRACE(file.substr(0, 40));
        const RelWordsResult res = LoadRelWords(dir.File("rel.kvl", file), key, addSort);
        EXPECT_EQ(res.words, words);
        EXPECT_EQ(res.message, "");
    }
    // The file is read anew each time: edited words count at once.
    const std::string rel = dir.File("rel.kvl", "a=1\r\nb=2\r\n");
    ASSERT_EQ(LoadRelKeys(rel).keys.size(), 3u);
    dir.File("rel.kvl", "a=5\r\n");
    EXPECT_EQ(LoadRelWords(rel, "a", false).words, Strings{"5"});
}

// The folding agrees with the C library's small letters over the rows of
// code page 932 that hold letters with case, and over ASCII.
TEST(RelKeys, FoldKeyCaseMatchesUnicodeCase) {
    ASSERT_NE(std::setlocale(LC_CTYPE, "C.UTF-8"), nullptr);
    int folded = 0;
    for (unsigned code = 0x8140; code <= 0x84FC; ++code) {
        const std::string ch{static_cast<char>(code >> 8), static_cast<char>(code & 0xFF)};
        const std::u16string u = Cp932ToUtf16(ch);
        if (u.size() != 1 || (u[0] >= kByteEscapeBase && u[0] <= kByteEscapeBase + 0xFF)) {
            continue;  // unassigned
        }
        const auto lower = static_cast<char16_t>(std::towlower(u[0]));
        // A capital whose small letter has no code page 932 form (the Angstrom
        // sign) has nothing to fold to.
        if (lower == u[0] || Utf16ToCp932(std::u16string(1, lower)) == kGetaMark) {
            EXPECT_EQ(FoldKeyCase(ch), ch) << std::hex << code;
        } else {
            EXPECT_EQ(Cp932ToUtf16(FoldKeyCase(ch)), std::u16string(1, lower)) << std::hex << code;
            ++folded;
        }
    }
    EXPECT_EQ(folded, 26 + 24 + 33);
    for (int c = 1; c < 0x80; ++c) {
        EXPECT_EQ(FoldKeyCase(std::string(1, static_cast<char>(c))),
                  std::string(1, static_cast<char>(std::tolower(c))));
    }
}

TEST(WordList, TextToLinesTidyAndCount) {
    const std::pair<std::string, Strings> rows[] = {
        {"", {}}, {"\n", {""}}, {"a\r\n\r\nb", {"a", "", "b"}}, {"a\rb\nc\r\n", {"a", "b", "c"}}};
    for (const auto& [text, lines] : rows) {
        WordList list;
        list.SetText(text);
        EXPECT_EQ(list.Lines(), lines) << text;
        WordList again;  // the text of the lines gives the same lines back
        again.SetText(list.Text("\r\n"));
        EXPECT_EQ(again.Lines(), lines) << text;
    }
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
}  // namespace korvalen::test
