// The hit line's form, the output file's checks, and output lines read back.
#include <gtest/gtest.h>

#include <filesystem>
#include <random>
#include <sstream>

#include "fixture.hpp"
#include "results/hit_parse.hpp"
#include "run/hit_writer.hpp"

namespace korvalen::test {
namespace {

TEST(HitLine, HeadCutAndTrim) {
    // Path "p", line 12, word "w": the head is "p(12) :(w)" (10 bytes) or "p 12:(w)" (8).
    const std::tuple<bool, std::int32_t, std::string, std::string> rows[] = {
        {true, 0, "  abc  \t", "p(12) :(w)  abc"},
        {false, 0, "abc", "p 12:(w)abc"},
        {true, 0, "a\x81\x40", "p(12) :(w)a\x81\x40"},  // a full-width space stays
        {true, 14, "abcdef", "p(12) :(w)abcd"},
        {true, 30, "abc ", "p(12) :(w)abc"},     // shorter than the width
        {true, 12, "a\x88\x9f", "p(12) :(w)a"},  // byte 12 starts a character
        {true, 13, "a\x88\x9f", "p(12) :(w)a\x88\x9f"},
        {true, 11, " \x88\x9f", "p(12) :(w)"},  // cut, then the blank trimmed
        {true, 10, "abc", "p(12) :(w)"},        // a head as wide as the limit
        {true, 5, "abc", "p(12) :(w)"},         // stands alone, uncut
        {true, -1, "abc", "p(12) :(w)"},
        {false, 9, "ab", "p 12:(w)a"},
    };
    for (const auto& [tagJump, width, text, want] : rows) {
        iset options;
        options.TagJump = tagJump;
        options.OutputStrLength = width;
        EXPECT_EQ(ComposeHitLine("p", 12, "w", text, options), want) << width << text;
    }
}

TEST(HitLine, PathsInCodePage932WhenTheyConvertWhole) {
    const std::pair<std::string, std::string> rows[] = {
        {"\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E (1).txt", "\x93\xFA\x96\x7B\x8C\xEA (1).txt"},
        {"\xEF\xBD\xB1/a", "\xB1/a"},                      // half-width katakana
        {"\x93\xFA\x96\x7B.txt", "\x93\xFA\x96\x7B.txt"},  // not UTF-8: as it is
        {"\xC3\xA9\xE6\x97\xA5", "\xC3\xA9\xE6\x97\xA5"},  // \u00e9 has no form: as it is
        {"a\xE6\x97", "a\xE6\x97"},                        // cut sequence
        {"\xEF\xBD\x9E", "\x81\x60"},                      // U+FF5E reads back
        {"\xE3\x80\x9C", "\xE3\x80\x9C"},  // U+301C would read back as U+FF5E: as it is
        {"a\nb\rc", "a?b?c"},              // never a line of its own
    };
    for (const auto& [path, want] : rows) {
        EXPECT_EQ(OutputPath(path), want) << path;
    }
}

TEST(OutFile, AFullDiskShowsMidRunAndTheFailureSticks) {
    OutFile full;  // a full disk shows at the flush, mid-run, not only at the close
    full.Open("/dev/full", true);
    EXPECT_THROW(
        {
            for (int i = 0; i < 100000; ++i) {
                full.WriteLine("0123456789");
            }
        },
        OutputError);
    EXPECT_THROW(full.WriteLine("more"), OutputError);
    EXPECT_THROW(full.Close(), OutputError);
}

// The first `n` characters of UTF-8 text.
std::string Utf8Chars(const std::string& s, std::int64_t n) {
    std::size_t i = 0;
    for (; i < s.size() && n >= 0; ++i) {
        n -= (static_cast<unsigned char>(s[i]) & 0xC0) != 0x80 ? 1 : 0;
    }
    return n < 0 ? s.substr(0, i - 1) : s;
}

TEST(HitParse, SharedTable) {
    std::ifstream in(KORVALEN_HIT_LINES);
    ASSERT_TRUE(in) << KORVALEN_HIT_LINES;
    const std::string kinds[] = {"empty", "sep", "hit", "error", "other"};  // in enum order
    for (std::string row; std::getline(in, row);) {
        if (row.empty() || row[0] == '#') {
            continue;
        }
        std::vector<std::string> f;
        std::istringstream fields(row);
        for (std::string field; std::getline(fields, field, '\t');) {
            f.push_back(field);
        }
        ASSERT_EQ(f.size(), 9u) << row;
        // The line as the file holds it, and the name on disk it must lead to.
        const std::string line = f[7] == "bytes" ? f[2] + Sj(f[0].substr(f[2].size())) : Sj(f[0]);
        const std::string name = f[7] == "sjis" ? Sj(f[2]) : f[2];
        // Column 6 says whether that name is on disk.
        auto exists = [&](std::string_view p) {
            const std::vector<std::string> forms = OutputPathForms(p);
            return f[6] == "1" && std::find(forms.begin(), forms.end(), name) != forms.end();
        };
        const OutputLine got = ReadOutputLine(line, exists);
        EXPECT_EQ(kinds[static_cast<int>(got.kind)], f[1]) << f[0];
        if (got.kind == OutputLineKind::Hit || got.kind == OutputLineKind::FileError) {
            EXPECT_TRUE(exists(got.path) || OutputPathForms(got.path).front() == name) << f[0];
        }
        if (got.kind == OutputLineKind::Hit) {
            EXPECT_EQ(got.number, std::stoll(f[3])) << f[0];
            EXPECT_EQ(Cp932ToUtf8(got.word), f[4]) << f[0];
            EXPECT_EQ(Cp932ToUtf8(got.text), f[5]) << f[0];
            const WordColumns at = WordColumnsIn(got.text, got.word);
            EXPECT_EQ(at.chars, std::stoll(f[8])) << f[0];
            // On screen: the bytes before it, as each is one column.
            const std::size_t before = Sj(Utf8Chars(f[5], at.chars - 1)).size();
            EXPECT_EQ(at.screen, at.chars > 0 ? std::int64_t(before) + 1 : 0) << f[0];
        }
    }
}

TEST(HitParse, FileNameCacheAgreesWithTheFileSystem) {
    TempDir dir;
    dir.File("a.txt", "");
    std::filesystem::create_directories(dir / "sub/deep");
    dir.File("sub/deep/b.txt", "");
    std::filesystem::create_directories(dir / "closed");
    dir.File("closed/c.txt", "");
    std::filesystem::permissions(dir / "closed", std::filesystem::perms::owner_exec);
    FileNameCache names;
    for (const std::string& path :
         {dir / "a.txt", dir / "b.txt", dir / "sub/deep/b.txt", dir / "sub/deep/a.txt",
          dir / "no/deep/b.txt", dir / "sub/./deep/b.txt", dir / "sub/deep/../../a.txt",
          dir / "closed/c.txt", dir / "closed/d.txt", dir / "sub", dir / "a.txt/x",
          std::string("/"), std::string("relative-none.txt")}) {
        EXPECT_EQ(names.Exists(path), std::filesystem::exists(path)) << path;
    }
    std::filesystem::permissions(dir / "closed", std::filesystem::perms::owner_all);
}

// Hits full of look-alikes of both heads.
TEST(HitParse, RoundTripThroughTheWriter) {
    std::mt19937 rng(14);
    const std::string pieces[] = {
        "a", " ",    "(",        ")", ":", "(1) :(", " 2:(", "3", "\xE6\x97\xA5", "\xEF\xBD\xB1",
        "/", ".txt", "\x81\x40", "\t"};
    auto random = [&](std::size_t most, bool forWord) {
        std::string s;
        for (std::size_t n = rng() % most; n > 0; --n) {
            const std::string& piece = pieces[rng() % std::size(pieces)];
            s += forWord && piece.find(')') != std::string::npos ? "" : piece;
        }
        return s;
    };
    for (int i = 0; i < 20000; ++i) {
        iset options;
        options.TagJump = (rng() & 1) != 0;
        options.OutputStrLength = std::int32_t(rng() % 4 == 0 ? 0 : rng() % 120);
        const std::string path = "x" + random(8, false);
        const std::int64_t number = 1 + std::int64_t(rng() % 100000);
        const std::string word = random(3, true);
        const std::string line = ComposeHitLine(path, number, word, random(10, false), options);
        const std::string written = OutputPath(path);
        const OutputLine got =
            ReadOutputLine(line, [&](std::string_view p) { return p == written; });
        ASSERT_EQ(got.kind, OutputLineKind::Hit) << line;
        EXPECT_EQ(got.path, written) << line;
        EXPECT_EQ(got.number, number) << line;
        EXPECT_EQ(got.word, word) << line;
        const std::size_t head = written.size() + (options.TagJump ? 5 : 3) +
                                 std::to_string(number).size() + word.size() + 1;
        EXPECT_EQ(got.text, line.substr(std::min(head, line.size()))) << line;
    }
}

}  // namespace
}  // namespace korvalen::test
