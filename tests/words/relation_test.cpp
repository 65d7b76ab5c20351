#include "words/relation.hpp"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cerrno>
#include <clocale>
#include <cwctype>
#include <string>
#include <vector>

#include "platform/file.hpp"
#include "tests/support/temp_dir.hpp"
#include "text/cp932.hpp"

namespace korvalen {
namespace {

using namespace std::literals;
using Strings = std::vector<std::string>;

std::string Sj(std::string_view utf8) {
    return Utf8ToCp932(utf8);
}

// Open and read go through the file layer's system calls; these make them
// fail where a permission bit cannot stop root.
class FailingOps : public FileOps {
  public:
    int failOpen = 0;                   // errno for every open, 0 = none
    std::size_t readBudget = SIZE_MAX;  // bytes handed out before reads fail with EIO
    int Open(const char* path, int flags, mode_t mode) override {
        errno = failOpen;
        return failOpen != 0 ? -1 : FileOps::Open(path, flags, mode);
    }
    ssize_t Read(int fd, void* buf, std::size_t n) override {
        if (readBudget == 0) {
            errno = EIO;
            return -1;
        }
        const ssize_t got = FileOps::Read(fd, buf, std::min(n, readBudget));
        readBudget -= static_cast<std::size_t>(std::max<ssize_t>(got, 0));
        return got;
    }
};

TEST(RelKeys, KeyListOfFiles) {
    ASSERT_EQ(Cp932ToUtf8(kNoKey), "（なし）");
    const std::string big(10 * 1024 * 1024, 'w');
    struct Row {
        const char* name;
        std::string file;
        Strings keys;  // after the "（なし）" entry
    };
    const std::vector<Row> rows = {
        {"empty file", "", {}},
        {"only empty lines", "\r\n\r\n\n", {}},
        {"no = and blanks give the empty key once", "abc\r\n   \r\n=x", {""}},
        {"first occurrence order", "a=1\r\nb=2\r\na=3\r\nnoeq\r\nc=4", {"a", "b", "", "c"}},
        {"case ignored, first spelling kept", "Abc=1\r\nabc=2\r\nABC=3", {"Abc"}},
        {"key keeps its blank; first = splits", "k=1\r\nk =2\r\nx=a=b", {"k", "k ", "x"}},
        {"the none entry in the file", Sj("（なし）=1\r\nc=2"), {"c"}},
        {"full-width and Greek folded; widths and kana differ",
         Sj("Ａｂ=1\r\nａＢ=2\r\nΩ=3\r\nω=4\r\nA=5\r\na=6\r\nあ=7\r\nア=8"),
         {Sj("Ａｂ"), Sj("Ω"), "A", Sj("あ"), Sj("ア")}},
        {"a second byte is no letter", "\x82\x41=1\r\n\x82\x61=2\r\n", {"\x82\x41", "\x82\x61"}},
        {"lone CR and LF end lines", "a=1\rb=2\nc=3\r\nd=4\n\re=5", {"a", "b", "c", "d", "e"}},
        {"NUL and Ctrl-Z are bytes",
         std::string("a\0b=1\x1A\r\nc\x1A=2\x1A"sv),
         {std::string("a\0b"sv), "c\x1A"}},
        {"invalid bytes, lone lead bytes",
         "\xFF\x80=1\r\nk\x82=2\r\nend\x82",
         {"\xFF\x80", "k\x82", ""}},
        {"10 MB lines", "k=" + big + "\r\n" + big + "=2\r\n" + big + "=3", {"k", big}},
    };
    TempDir dir;
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        const RelKeysResult res = LoadRelKeys(dir.File("rel.kvl", r.file));
        Strings expected = r.keys;
        expected.insert(expected.begin(), std::string(kNoKey));
        EXPECT_TRUE(res.opened);
        EXPECT_EQ(res.message, "");
        EXPECT_EQ(res.keys, expected);
        EXPECT_EQ(res.SelectedIndex(), r.keys.empty() ? -1 : 1);
    }
}

TEST(RelKeys, NothingToOpen) {
    TempDir dir;
    std::filesystem::create_directory(dir.Path("folder"));
    std::filesystem::create_symlink(dir.Path("gone"), dir.Path("dangling"));
    for (const std::string& path :
         {""s, dir.Path("missing"), dir.Path("folder"), dir.Path("dangling")}) {
        const RelKeysResult res = LoadRelKeys(path);
        EXPECT_FALSE(res.opened || res.LoadsWords()) << path;
        EXPECT_TRUE(res.keys.empty()) << path;
        EXPECT_EQ(res.message, kMsgNoRelFile) << path;
    }
}

TEST(RelFile, FailedOpen) {
    auto check = [](const std::string& path) {
        SCOPED_TRACE(path);
        const RelKeysResult keys = LoadRelKeys(path);
        EXPECT_FALSE(keys.opened || keys.LoadsWords());
        EXPECT_EQ(keys.message, kMsgKeysFailed);
        EXPECT_EQ(LoadRelWords(path, "k", true).words, Strings{"k"});
        const RelWordsResult words = LoadRelWords(path, "k", false);
        EXPECT_TRUE(words.words.empty());
        EXPECT_EQ(words.message, kMsgWordsFailed);
    };
    TempDir dir;
    const std::string fifo = dir.Path("fifo");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    check(fifo);  // refused, not waited on
    FailingOps ops;
    ops.failOpen = EACCES;
    ScopedFileOps scope(ops);
    check(dir.File("rel.kvl", "k=1\r\n"));
}

TEST(RelFile, ReadFailureKeepsWhatWasRead) {
    TempDir dir;
    const std::string rel = dir.File("rel.kvl", "a=1,2\r\nb=2\r\na=3\r\nc=4\r\n");
    FailingOps ops;
    ScopedFileOps scope(ops);
    ops.readBudget = 16;  // "a=1,2\r\nb=2\r\na=3" then EIO: the cut line is lost
    const RelKeysResult keys = LoadRelKeys(rel);
    EXPECT_TRUE(keys.opened);
    EXPECT_EQ(keys.keys, (Strings{std::string(kNoKey), "a", "b"}));
    EXPECT_EQ(keys.message, kMsgKeysFailed);
    ops.readBudget = 16;
    const RelWordsResult words = LoadRelWords(rel, "a", true);
    EXPECT_EQ(words.words, (Strings{"a", "1", "2"}));
    EXPECT_EQ(words.message, kMsgWordsFailed);
}

TEST(RelWords, WordsOfAKey) {
    const std::string big(10 * 1024 * 1024, 'w');
    const std::string none(kNoKey);
    struct Row {
        const char* name;
        std::string file;
        std::string key;
        bool addSort;
        Strings words;
    };
    const std::vector<Row> rows = {
        {"lines of the key in order", "a=1,2\r\nb=9\r\na=3", "a", false, {"1", "2", "3"}},
        {"key compared byte for byte", "a=1\r\na =2\r\nA=3", "a", false, {"1"}},
        {"key with its blank", "a=1\r\na =2", "a ", false, {"2"}},
        {"k= adds nothing, k=, one empty line", "k=\r\nk=   \r\nk=,", "k", false, {""}},
        {"empty field between commas stays", "k=a,,b,", "k", false, {"a", "", "b"}},
        {"value and fields trimmed", "k= \t1 , 2\t,\t3 ", "k", false, {"1", "2", "3"}},
        {"quotes keep commas",
         Sj("色=赤, \"青,緑\" ,黄"),
         Sj("色"),
         false,
         {Sj("赤"), Sj("青,緑"), Sj("黄")}},
        {"doubled quote", "q=\"say \"\"hi\"\"\",x", "q", false, {"say \"hi\"", "x"}},
        {"key first, duplicates stay",
         Sj("赤=赤,朱"),
         Sj("赤"),
         true,
         {Sj("赤"), Sj("赤"), Sj("朱")}},
        {"none entry alone", "a=1", none, false, {}},
        {"none entry with AddSortWord", "a=1", none, true, {none}},
        {"none entry as a file key", Sj("（なし）=x,y"), none, false, {"x", "y"}},
        {"further = in the value", "x=a=b,c", "x", false, {"a=b", "c"}},
        {"empty key reads nothing", "=1\r\nnoeq", "", true, {}},
        {"second byte is no separator", Sj("k=ソ,表"), "k", false, {Sj("ソ"), Sj("表")}},
        {"lone CR and LF, NUL",
         std::string("k=1\rk=2\nk=3\r\n\rk=a\0b"sv),
         "k",
         false,
         {"1", "2", "3", std::string("a\0b"sv)}},
        {"lone lead byte at the end", "k=a,\x82", "k", false, {"a", "\x82"}},
        {"10 MB line", "a=1\r\nk=x," + big + "\r\nk=y", "k", false, {"x", big, "y"}},
    };
    TempDir dir;
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        const RelWordsResult res = LoadRelWords(dir.File("rel.kvl", r.file), r.key, r.addSort);
        EXPECT_EQ(res.words, r.words);
        EXPECT_EQ(res.message, "");
    }
}

TEST(RelWords, FileIsReadAnewEachTime) {
    TempDir dir;
    const std::string rel = dir.File("rel.kvl", "a=1\r\nb=2\r\n");
    ASSERT_EQ(LoadRelKeys(rel).keys.size(), 3u);
    // Edited words count at once; a vanished file reads as no words, no message.
    dir.File("rel.kvl", "a=5\r\n");
    EXPECT_EQ(LoadRelWords(rel, "a", false).words, Strings{"5"});
    ASSERT_TRUE(std::filesystem::remove(rel));
    for (bool addSort : {false, true}) {
        const RelWordsResult gone = LoadRelWords(rel, "a", addSort);
        EXPECT_EQ(gone.words, addSort ? Strings{"a"} : Strings{});
        EXPECT_EQ(gone.message, "");
    }
    EXPECT_EQ(LoadRelKeys(rel).message, kMsgNoRelFile);
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

}  // namespace
}  // namespace korvalen
