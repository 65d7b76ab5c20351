// The scanners' line rules, through a run over one file, with every scanner.
#include <gtest/gtest.h>

#include "fixture.hpp"
#include "run/fast_scan.hpp"

namespace korvalen::test {
namespace {

using Hits = std::vector<std::tuple<int, std::string, std::string>>;  // line, word, text

struct LineCase {
    const char* name;
    bool crText;
    bool japaneseWord;
    std::vector<std::string> words;  // code page 932
    std::string file;
    Hits hits;
    std::optional<Hits> byLine = {};  // where the twins differ
};

class LineRules : public ::testing::TestWithParam<LineCase> {};

TEST_P(LineRules, EveryScanner) {
    const LineCase& c = GetParam();
    TempDir dir;
    const std::string path = dir.File("in.txt", c.file);
    for (const Scan scan : kScans) {
        iset options = Quiet();
        options.CRText = c.crText;
        options.JapaneseWord = c.japaneseWord;
        RecordingHost host;
        host.words = c.words;
        std::string want;
        for (const auto& [n, w, t] : ByLine(scan) && c.byLine ? *c.byLine : c.hits) {
            want += HitOf(path, n, w, t);
        }
        const Ran ran = RunScan(host, scan, {path}, dir / "out.txt", options);
        EXPECT_EQ(ran.output, want) << "scanner " << static_cast<int>(scan);
        // Shift+Ctrl at the drop picks the line-by-line twin.
        EXPECT_EQ(host.Only("caption Korvalen").at(0),
                  ByLine(scan) ? "caption Korvalen-" : "caption Korvalen+");
    }
}

const std::string kKen = Sj("検"), kSaku = Sj("索"), kKensaku = Sj("検索");

// clang-format off
INSTANTIATE_TEST_SUITE_P(Cases, LineRules, ::testing::Values(
    LineCase{"only line breaks", true, true, {"a", ""}, "\r\n\n\r\r\n", {}},
    LineCase{"first word in list order wins", false, true, {"b", "a"}, "x\r\na b\r\n",
             {{2, "b", "a b"}}},
    LineCase{"an empty word never matches", false, true, {"", "x"}, "abc\r\nx\r\n",
             {{2, "x", "x"}}},
    LineCase{"off-boundary find is no hit", false, true, {"A"}, Sj("ア\r\n"), {}},
    LineCase{"off-boundary find without the option is a hit", false, false, {"A"}, Sj("ア\r\n"),
             {{1, "A", Sj("ア")}}},
    LineCase{"a cut word is reported on the previous line", true, true, {kKensaku},
             Sj("前の行は検\r\n索で始まる\r\n"), {{1, kKensaku, Sj("前の行は検")}}},
    LineCase{"the spaced join", true, true, {"search engine"}, "a search\r\nengine b\r\n",
             {{1, "search engine", "a search"}}},
    LineCase{"blanks leading the line never stand between", true, true, {kKensaku},
             Sj("検\r\n\t　 索\r\n"), {{1, kKensaku, kKen}}},
    LineCase{"the twins differ on the previous line's blanks", true, true, {kKensaku},
             Sj("検 \r\n索\r\n"), {}, Hits{{1, kKensaku, kKen}}},
    LineCase{"an empty line cuts the chain", true, true, {kKensaku}, Sj("検\r\n\r\n索\r\n"), {}},
    LineCase{"a line with a hit never joins the next", true, true, {"X", kKensaku},
             Sj("前X検\r\n索\r\n"), {{1, "X", Sj("前X検")}}},
    LineCase{"a line hit across the break is not tried further nor joined", true, true,
             {kKensaku, Sj("索引"), Sj("引目")}, Sj("検\r\n索引\r\n目\r\n"), {{1, kKensaku, kKen}}},
    LineCase{"an off-boundary find is tried across the break", true, true, {"AB"},
             "xA\r\nB\x88" "AB\r\n", {{1, "AB", "xA"}}},
    LineCase{"tight off-boundary: the spaced join is not tried", true, true, {"A B"},
             "A\r\nB\x88" "A B\r\n", {}},
    LineCase{"spaced off-boundary is no hit", true, true, {" B"}, "\x88\r\nB\r\n", {}},
    LineCase{"the chain goes on while no line hits", true, true, {"cd"}, "xa\r\nbc\r\nd\r\n",
             {{2, "cd", "bc"}}},
    LineCase{"lone lead bytes at line and file end", true, true, {"\x88"}, "a\x88\r\n\x88",
             {{1, "\x88", "a\x88"}, {2, "\x88", "\x88"}}},
    LineCase{"NUL and 0x1A are ordinary bytes", false, true, {std::string("\0b", 2)},
             std::string("a\0b\x1a\r\n\x1a", 7), {{1, std::string("\0b", 2), std::string("a\0b\x1a", 4)}}}),
    [](const ::testing::TestParamInfo<LineCase>& param) {
        std::string n;
        for (const char ch : std::string(param.param.name)) {
            n += std::isalnum(static_cast<unsigned char>(ch)) ? ch : '_';
        }
        return n;
    });
// clang-format on

// Words changed during a run apply from the next line (fast: block) on; progress
// advances by line length + 2 per line and is set exactly per file.
TEST(Scanner, WordsAreReadAtEveryLineOrBlockAndProgressPerLine) {
    TempDir dir;
    const std::int64_t lines = FastScanner::kBlock / 2;  // two blocks
    const std::string path = dir.File("in.txt", Times("ab\r\n", lines));
    for (const Scan scan : kScans) {
        RecordingHost host;
        host.words = {"a"};
        host.onProcess = [](RecordingHost& h) {
            if (h.processCalls == 1) {
                h.words = {"", "b"};
                ++h.generation;
            }
        };
        const std::int64_t first = IsLiteral(scan) ? 1 : lines / 2;
        std::string want;
        for (std::int64_t n = 1; n <= lines; ++n) {
            want += HitOf(path, n, n <= first ? "a" : "b", "ab");
        }
        EXPECT_TRUE(RunScan(host, scan, {path}, dir / "out.txt", Quiet()).output == want)
            << static_cast<int>(scan);
    }
    RecordingHost host;
    host.words = {"zz"};
    WriteBytes(path, "abc\nde\r\n\r\nf");  // 11 bytes
    RunScan(host, Scan::LiteralByLine, {path}, dir / "out.txt", Quiet());
    EXPECT_EQ(host.positions, (std::vector<std::int64_t>{0, 5, 9, 11, 14, 11}));
    EXPECT_EQ(host.processCalls, 4);
}

}  // namespace
}  // namespace korvalen::test
