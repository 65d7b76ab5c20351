// The hit line's form and the output file's checks.
#include <gtest/gtest.h>

#include "fixture.hpp"
#include "search/hit_writer.hpp"

namespace korvalen::test {
namespace {

struct HitCase {
    bool tagJump;
    std::int32_t width;
    std::string text;
    std::string want;
};

TEST(HitLine, HeadCutAndTrim) {
    // Path "p", line 12, word "w": the head is "p(12) :(w)" (10 bytes) or "p 12:(w)" (8).
    const std::vector<HitCase> cases = {
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
    for (const HitCase& c : cases) {
        iset options;
        options.TagJump = c.tagJump;
        options.OutputStrLength = c.width;
        EXPECT_EQ(ComposeHitLine("p", 12, "w", c.text, options), c.want)
            << c.width << " " << c.text;
    }
}

TEST(HitLine, PathsInCodePage932WhenTheyConvertWhole) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E (1).txt", "\x93\xFA\x96\x7B\x8C\xEA (1).txt"},
        {"\xEF\xBD\xB1/a", "\xB1/a"},                      // half-width katakana
        {"\x93\xFA\x96\x7B.txt", "\x93\xFA\x96\x7B.txt"},  // not UTF-8: as it is
        {"\xC3\xA9\xE6\x97\xA5", "\xC3\xA9\xE6\x97\xA5"},  // \u00e9 has no form: as it is
        {"a\xE6\x97", "a\xE6\x97"},                        // cut sequence
    };
    iset options;
    options.OutputStrLength = 0;
    for (const auto& [path, want] : cases) {
        EXPECT_EQ(ComposeHitLine(path, 3, "w", "t", options), want + "(3) :(w)t") << path;
        EXPECT_EQ(OutputPath(path), want);
    }
}

TEST(OutFile, LinesEndInCrLfAndAppendKeepsBytes) {
    TempDir dir;
    const std::string path = dir / "o.txt";
    {
        OutFile out;
        out.Open(path, true);
        out.WriteLine("one");
        out.WriteLine("");
        out.Close();
    }
    EXPECT_EQ(ReadBytes(path), "one\r\n\r\n");
    {
        OutFile out;
        out.Open(path, false);
        for (int i = 0; i < 20000; ++i) {  // past the buffer
            out.WriteLine("0123456789");
        }
        out.Close();
    }
    const std::string all = ReadBytes(path);
    EXPECT_EQ(all.size(), 7u + 20000u * 12u);
    EXPECT_EQ(all.substr(0, 7), "one\r\n\r\n");
}

TEST(OutFile, EveryFailureIsReportedAndSticks) {
    TempDir dir;
    const std::string path = dir / "o.txt";
    for (const auto what : {FailingOps::Fail::Write, FailingOps::Fail::Close}) {
        WriteBytes(path, "old\r\n");
        FailingOps ops(path, what);
        ScopedFileOps scoped(ops);
        OutFile out;
        out.Open(path, false);
        out.WriteLine("new");
        EXPECT_THROW(out.Close(), OutputError);
        EXPECT_THROW(out.WriteLine("more"), OutputError);
        EXPECT_EQ(ReadBytes(path).substr(0, 5), "old\r\n");
    }
    {  // a full disk shows at the flush, mid-run, not only at the close
        OutFile out;
        out.Open("/dev/full", true);
        EXPECT_THROW(
            {
                for (int i = 0; i < 100000; ++i) {
                    out.WriteLine("0123456789");
                }
            },
            OutputError);
        EXPECT_THROW(out.Close(), OutputError);
    }
    OutFile out;
    EXPECT_THROW(out.Open(dir / "none/o.txt", true), OutputError);
}

}  // namespace
}  // namespace korvalen::test
