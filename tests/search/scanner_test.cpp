// The scanners' line rules, through a run over one file, with every scanner.
#include <gtest/gtest.h>

#include "fixture.hpp"

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

const std::string kKen = Sj("検"), kKensaku = Sj("検索");

TEST(LineRules, EveryScanner) {
    // clang-format off
    const LineCase cases[] = {
        {"only line breaks", true, true, {"a", ""}, "\r\n\n\r\r\n", {}},
        {"first word in list order wins", false, true, {"b", "a"}, "x\r\na b\r\n",
         {{2, "b", "a b"}}},
        {"an empty word never matches", false, true, {"", "x"}, "abc\r\nx\r\n",
         {{2, "x", "x"}}},
        {"off-boundary find is no hit", false, true, {"A"}, Sj("ア\r\n"), {}},
        {"off-boundary find without the option is a hit", false, false, {"A"}, Sj("ア\r\n"),
         {{1, "A", Sj("ア")}}},
        {"a cut word is reported on the previous line", true, true, {kKensaku},
         Sj("前の行は検\r\n索で始まる\r\n"), {{1, kKensaku, Sj("前の行は検")}}},
        {"the spaced join", true, true, {"search engine"}, "a search\r\nengine b\r\n",
         {{1, "search engine", "a search"}}},
        {"blanks leading the line never stand between", true, true, {kKensaku},
         Sj("検\r\n\t　 索\r\n"), {{1, kKensaku, kKen}}},
        {"the twins differ on the previous line's blanks", true, true, {kKensaku},
         Sj("検 \r\n索\r\n"), {}, Hits{{1, kKensaku, kKen}}},
        {"an empty line cuts the chain", true, true, {kKensaku}, Sj("検\r\n\r\n索\r\n"), {}},
        {"a line with a hit never joins the next", true, true, {"X", kKensaku},
         Sj("前X検\r\n索\r\n"), {{1, "X", Sj("前X検")}}},
        {"a line hit across the break is not tried further nor joined", true, true,
         {kKensaku, Sj("索引"), Sj("引目")}, Sj("検\r\n索引\r\n目\r\n"), {{1, kKensaku, kKen}}},
        {"an off-boundary find is tried across the break", true, true, {"AB"},
         "xA\r\nB\x88" "AB\r\n", {{1, "AB", "xA"}}},
        {"tight off-boundary: the spaced join is not tried", true, true, {"A B"},
         "A\r\nB\x88" "A B\r\n", {}},
        {"spaced off-boundary is no hit", true, true, {" B"}, "\x88\r\nB\r\n", {}},
        {"the chain goes on while no line hits", true, true, {"cd"}, "xa\r\nbc\r\nd\r\n",
         {{2, "cd", "bc"}}},
        {"lone lead bytes at line and file end", true, true, {"\x88"}, "a\x88\r\n\x88",
         {{1, "\x88", "a\x88"}, {2, "\x88", "\x88"}}},
        {"NUL and 0x1A are ordinary bytes", false, true, {std::string("\0b", 2)},
         std::string("a\0b\x1a\r\n\x1a", 7), {{1, std::string("\0b", 2), std::string("a\0b\x1a", 4)}}},
    };
    // clang-format on
    TempDir dir;
    const std::string path = dir / "in.txt";
    for (const LineCase& c : cases) {
        WriteBytes(path, c.file);
        for (const Scan scan : kScans) {
            SCOPED_TRACE(std::string(c.name) + ", scanner " +
                         std::to_string(static_cast<int>(scan)));
            iset options = Quiet();
            options.CRText = c.crText;
            options.JapaneseWord = c.japaneseWord;
            RecordingHost host;
            host.words = c.words;
            std::string want;
            for (const auto& [n, w, t] : ByLine(scan) && c.byLine ? *c.byLine : c.hits) {
                want += HitOf(path, n, w, t);
            }
            EXPECT_EQ(RunScan(host, scan, {path}, dir / "out.txt", options).output, want);
            // Shift+Ctrl at the drop picks the line-by-line twin.
            EXPECT_EQ(host.Only("caption Korvalen").at(0),
                      ByLine(scan) ? "caption Korvalen-" : "caption Korvalen+");
        }
    }
}

}  // namespace
}  // namespace korvalen::test
