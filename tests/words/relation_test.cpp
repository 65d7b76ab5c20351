#include "words/relation.hpp"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <clocale>
#include <cstdlib>
#include <cwctype>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/file.hpp"
#include "text/cp932.hpp"

namespace korvalen {
namespace {

using namespace std::literals;

namespace fs = std::filesystem;
using Strings = std::vector<std::string>;

std::string Sj(std::string_view utf8) {
    return Utf8ToCp932(utf8);
}

class TempDir {
  public:
    TempDir() {
        std::string tmpl = (fs::temp_directory_path() / "korvalen-words-XXXXXX").string();
        if (::mkdtemp(tmpl.data()) == nullptr) {
            throw std::runtime_error("mkdtemp");
        }
        path_ = tmpl;
    }
    ~TempDir() {
        std::error_code ec;
        fs::remove_all(path_, ec);
    }
    std::string File(std::string_view name, std::string_view bytes) const {
        const std::string p = (path_ / name).string();
        std::ofstream out(p, std::ios::binary);
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        if (!out) {
            throw std::runtime_error("write " + p);
        }
        return p;
    }
    std::string Path(std::string_view name) const { return (path_ / name).string(); }

  private:
    fs::path path_;
};

Strings WithNoKey(Strings keys) {
    keys.insert(keys.begin(), std::string(kNoKey));
    return keys;
}

TEST(RelKeys, NoKeyEntryIsNashiInParentheses) {
    EXPECT_EQ(Cp932ToUtf8(kNoKey), "（なし）");
}

TEST(RelKeys, KeyListOfFiles) {
    const std::string big(10 * 1024 * 1024, 'w');
    struct Row {
        const char* name;
        std::string file;
        Strings keys;  // after the "（なし）" entry
    };
    const std::vector<Row> rows = {
        {"empty file", "", {}},
        {"only empty lines", "\r\n\r\n\n", {}},
        {"lines without =", "abc\r\n   \r\nxyz", {""}},
        {"a b a", "a=1\r\nb=2\r\na=3\r\n", {"a", "b"}},
        {"case ignored, first spelling kept", "Abc=1\r\nabc=2\r\nABC=3", {"Abc"}},
        {"key keeps its blank", "k=1\r\nk =2\r\n", {"k", "k "}},
        {"split at the first =", "x=a=b\r\n", {"x"}},
        {"leading = is the empty key", "=x\r\nfoo\r\n=y\r\nb=1", {"", "b"}},
        {"empty key at its first place", "a=1\r\nnoequals\r\nb=2\r\n=3", {"a", "", "b"}},
        {"the none entry in the file", Sj("（なし）=1\r\nc=2"), {"c"}},
        {"full-width Latin folded", Sj("Ａｂ=1\r\nａＢ=2\r\nＡＢ=3"), {Sj("Ａｂ")}},
        {"Greek and Cyrillic folded", Sj("Ω=1\r\nω=2\r\nЯё=3\r\nяЁ=4"), {Sj("Ω"), Sj("Яё")}},
        {"half and full width differ", Sj("A=1\r\nＡ=2\r\na=3"), {"A", Sj("Ａ")}},
        {"a second byte is no letter", "\x82\x41=1\r\n\x82\x61=2\r\n", {"\x82\x41", "\x82\x61"}},
        {"kana differ", Sj("あ=1\r\nア=2"), {Sj("あ"), Sj("ア")}},
        {"lone CR and LF end lines", "a=1\rb=2\nc=3\r\nd=4\n\re=5", {"a", "b", "c", "d", "e"}},
        {"NUL and Ctrl-Z are bytes",
         std::string("a\0b=1\x1A\r\nc\x1A=2\x1A"sv),
         {std::string("a\0b"sv), "c\x1A"}},
        {"invalid bytes and lone lead bytes",
         "\xFF\x80=1\r\nk\x82=2\r\nend\x82",
         {"\xFF\x80", "k\x82", ""}},
        {"10 MB value", "k=" + big + "\r\nm=1", {"k", "m"}},
        {"10 MB key", big + "=1\r\n" + big + "=2\r\nm", {big, ""}},
    };
    TempDir dir;
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        const RelKeysResult res = LoadRelKeys(dir.File("rel.kvl", r.file));
        EXPECT_TRUE(res.opened);
        EXPECT_EQ(res.message, "");
        EXPECT_EQ(res.keys, WithNoKey(r.keys));
        EXPECT_TRUE(res.LoadsWords());
        EXPECT_EQ(res.SelectedIndex(), r.keys.empty() ? -1 : 1);
        EXPECT_EQ(res.SelectedKey(), r.keys.empty() ? "" : r.keys[0]);
    }
}

TEST(RelKeys, NothingToOpen) {
    TempDir dir;
    fs::create_directory(dir.Path("folder"));
    fs::create_symlink(dir.Path("gone"), dir.Path("dangling"));
    for (const std::string& path :
         {std::string(), dir.Path("missing.kvl"), dir.Path("folder"), dir.Path("dangling")}) {
        SCOPED_TRACE(path);
        const RelKeysResult res = LoadRelKeys(path);
        EXPECT_FALSE(res.opened);
        EXPECT_TRUE(res.keys.empty());
        EXPECT_EQ(res.message, kMsgNoRelFile);
        EXPECT_FALSE(res.LoadsWords());
        EXPECT_EQ(res.SelectedIndex(), -1);
    }
}

// Open and read go through the file layer's system calls; these make them
// fail where a permission bit cannot stop root.
class FailingOps : public FileOps {
  public:
    int failOpen = 0;                   // errno for every open, 0 = none
    std::size_t readBudget = SIZE_MAX;  // bytes handed out before reads fail
    int Open(const char* path, int flags, mode_t mode) override {
        if (failOpen != 0) {
            errno = failOpen;
            return -1;
        }
        return FileOps::Open(path, flags, mode);
    }
    ssize_t Read(int fd, void* buf, std::size_t n) override {
        if (readBudget == 0) {
            errno = EIO;
            return -1;
        }
        const ssize_t got = FileOps::Read(fd, buf, std::min(n, readBudget));
        if (got > 0) {
            readBudget -= static_cast<std::size_t>(got);
        }
        return got;
    }
};

TEST(RelKeys, FailedOpenAppendsNothing) {
    TempDir dir;
    const std::string rel = dir.File("rel.kvl", "a=1\r\n");
    FailingOps ops;
    ops.failOpen = EACCES;
    ScopedFileOps scope(ops);
    const RelKeysResult res = LoadRelKeys(rel);
    EXPECT_FALSE(res.opened);
    EXPECT_TRUE(res.keys.empty());
    EXPECT_EQ(res.message, kMsgKeysFailed);
    EXPECT_FALSE(res.LoadsWords());
}

TEST(RelKeys, PipeIsRefusedWithoutWaiting) {
    TempDir dir;
    const std::string fifo = dir.Path("fifo");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const RelKeysResult keys = LoadRelKeys(fifo);
    EXPECT_FALSE(keys.opened);
    EXPECT_EQ(keys.message, kMsgKeysFailed);
    const RelWordsResult words = LoadRelWords(fifo, "a", true);
    EXPECT_EQ(words.words, Strings{"a"});
    EXPECT_EQ(words.message, kMsgWordsFailed);
}

TEST(RelKeys, ReadFailureKeepsWhatWasRead) {
    TempDir dir;
    const std::string rel = dir.File("rel.kvl", "a=1\r\nb=2\r\nc=3\r\nd=4\r\n");
    FailingOps ops;
    ops.readBudget = 12;  // "a=1\r\nb=2\r\nc=" then EIO: the cut line is lost
    ScopedFileOps scope(ops);
    const RelKeysResult res = LoadRelKeys(rel);
    EXPECT_TRUE(res.opened);
    EXPECT_EQ(res.keys, WithNoKey({"a", "b"}));
    EXPECT_EQ(res.message, kMsgKeysFailed);
    EXPECT_EQ(res.SelectedKey(), "a");
}

TEST(RelWords, WordsOfAKey) {
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
        {"first spelling only", "Abc=1\r\nabc=2", "Abc", false, {"1"}},
        {"k= adds nothing", "k=\r\nk=   ", "k", false, {}},
        {"k=, adds one empty line", "k=,", "k", false, {""}},
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
        {"none entry alone", "a=1", std::string(kNoKey), false, {}},
        {"none entry with AddSortWord", "a=1", std::string(kNoKey), true, {std::string(kNoKey)}},
        {"none entry as a file key", Sj("（なし）=x,y"), std::string(kNoKey), false, {"x", "y"}},
        {"further = in the value", "x=a=b,c", "x", false, {"a=b", "c"}},
        {"empty key reads nothing", "=1\r\nnoeq", "", true, {}},
        {"second byte is no separator", Sj("k=ソ,表") + "\r\n", "k", false, {Sj("ソ"), Sj("表")}},
        {"lone CR and LF", "k=1\rk=2\nk=3\r\n\rk=4", "k", false, {"1", "2", "3", "4"}},
        {"NUL in a word", std::string("k=a\0b,c"sv), "k", false, {std::string("a\0b"sv), "c"}},
        {"lone lead byte at the end", "k=a,\x82", "k", false, {"a", "\x82"}},
    };
    TempDir dir;
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        const RelWordsResult res = LoadRelWords(dir.File("rel.kvl", r.file), r.key, r.addSort);
        EXPECT_EQ(res.words, r.words);
        EXPECT_EQ(res.message, "");
    }
}

TEST(RelWords, LongLine) {
    TempDir dir;
    const std::string big(10 * 1024 * 1024, 'w');
    const RelWordsResult res =
        LoadRelWords(dir.File("rel.kvl", "a=1\r\nk=x," + big + "\r\nk=y"), "k", false);
    ASSERT_EQ(res.words.size(), 3u);
    EXPECT_EQ(res.words[1], big);
    EXPECT_EQ(res.words[2], "y");
}

TEST(RelWords, MissingFileGivesNoMessage) {
    TempDir dir;
    for (bool addSort : {false, true}) {
        const RelWordsResult res = LoadRelWords(dir.Path("missing"), "k", addSort);
        EXPECT_EQ(res.words, addSort ? Strings{"k"} : Strings{});
        EXPECT_EQ(res.message, "");
    }
}

TEST(RelWords, ReadFailureKeepsWhatWasRead) {
    TempDir dir;
    const std::string rel = dir.File("rel.kvl", "k=1,2\r\nk=3\r\nk=4\r\n");
    FailingOps ops;
    ops.readBudget = 9;  // "k=1,2\r\nk=" then EIO
    ScopedFileOps scope(ops);
    const RelWordsResult res = LoadRelWords(rel, "k", true);
    EXPECT_EQ(res.words, (Strings{"k", "1", "2"}));
    EXPECT_EQ(res.message, kMsgWordsFailed);
}

TEST(RelWords, FailedOpenKeepsOnlyTheKey) {
    TempDir dir;
    const std::string rel = dir.File("rel.kvl", "k=1\r\n");
    FailingOps ops;
    ops.failOpen = EIO;
    ScopedFileOps scope(ops);
    EXPECT_EQ(LoadRelWords(rel, "k", true).words, Strings{"k"});
    const RelWordsResult res = LoadRelWords(rel, "k", false);
    EXPECT_TRUE(res.words.empty());
    EXPECT_EQ(res.message, kMsgWordsFailed);
}

TEST(RelWords, FileIsReadAnewEachTime) {
    TempDir dir;
    const std::string rel = dir.File("rel.kvl", "a=1\r\nb=2\r\n");
    ASSERT_EQ(LoadRelKeys(rel).keys, WithNoKey({"a", "b"}));
    // Edited words count at once; a vanished file reads as no words.
    dir.File("rel.kvl", "a=5\r\nb=2\r\nc=3\r\n");
    EXPECT_EQ(LoadRelWords(rel, "a", false).words, Strings{"5"});
    ASSERT_TRUE(fs::remove(rel));
    const RelWordsResult gone = LoadRelWords(rel, "a", true);
    EXPECT_EQ(gone.words, Strings{"a"});
    EXPECT_EQ(gone.message, "");
    EXPECT_EQ(LoadRelKeys(rel).message, kMsgNoRelFile);
}

// The folding agrees with the C library's idea of small letters over the
// rows of code page 932 that hold letters with case.
TEST(RelKeys, FoldKeyCaseMatchesUnicodeCase) {
    ASSERT_NE(std::setlocale(LC_CTYPE, "C.UTF-8"), nullptr);
    int folded = 0;
    for (unsigned lead = 0x81; lead <= 0x84; ++lead) {
        for (unsigned trail = 0x40; trail <= 0xFC; ++trail) {
            const std::string ch{static_cast<char>(lead), static_cast<char>(trail)};
            const std::u16string u = Cp932ToUtf16(ch);
            if (u.size() != 1 || (u[0] >= 0xF700 && u[0] <= 0xF7FF)) {
                continue;  // unassigned
            }
            const auto lower = static_cast<char16_t>(std::towlower(u[0]));
            const std::string got = FoldKeyCase(ch);
            // A capital whose small letter has no code page 932 form (the
            // Angstrom sign) has nothing to fold to.
            if (lower == u[0] || Utf16ToCp932(std::u16string(1, lower)) == kGetaMark) {
                EXPECT_EQ(got, ch) << std::hex << lead << trail;
            } else {
                EXPECT_EQ(Cp932ToUtf16(got), std::u16string(1, lower)) << std::hex << lead << trail;
                ++folded;
            }
        }
    }
    EXPECT_EQ(folded, 26 + 24 + 33);
    std::string ascii;
    for (int c = 1; c < 0x80; ++c) {
        ascii.push_back(static_cast<char>(c));
    }
    std::string expected = ascii;
    for (char& c : expected) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    EXPECT_EQ(FoldKeyCase(ascii), expected);
}

}  // namespace
}  // namespace korvalen
