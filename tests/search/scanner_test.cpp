// The scanners' line rules, through a run over one file, with either scanner.
#include <gtest/gtest.h>

#include <random>

#include "fixture.hpp"
#include "search/hit_writer.hpp"
#include "text/lines.hpp"
#include "text/sjis.hpp"

namespace korvalen::test {
namespace {

enum class Scanner { InMemory, ByLine };

struct Searcher {
    TempDir dir;
    RecordingHost host;
    iset options;
    std::string out = dir / "out.txt";

    Searcher() {
        options.OutputStrLength = 0;
        options.ErrorStop = false;
        options.SearchIconize = false;
    }

    std::string File(const std::string& name, std::string_view bytes) {
        const std::string path = dir / name;
        WriteBytes(path, bytes);
        return path;
    }

    // The output file after a run over `names` with the given scanner.
    std::string Run(const std::vector<std::string>& names, Scanner scanner) {
        host.shiftCtrl = scanner == Scanner::ByLine;
        SearchRun run(host);
        run.UseLiteralScanners(true);  // these tests pin the per-line calls
        host.run = &run;
        std::string output = out;
        const RunOutcome outcome = run.Drop(names, output, options);
        host.run = nullptr;
        EXPECT_EQ(outcome, RunOutcome::Finished);
        const std::string want =
            scanner == Scanner::ByLine ? "caption Korvalen-" : "caption Korvalen+";
        if (!names.empty()) {
            EXPECT_EQ(host.Only("caption Korvalen").at(0), want);
        }
        return ReadBytes(out);
    }
};

std::string Hit(const std::string& path, int number, std::string_view word, std::string_view text) {
    return path + "(" + std::to_string(number) + ") :(" + std::string(word) + ")" +
           std::string(text) + "\r\n";
}

struct LineCase {
    const char* name;
    bool crText;
    bool japaneseWord;
    std::vector<std::string> words;  // code page 932
    std::string file;
    // (line number, word, text) per hit; `byLine` differs only where the
    // twins differ.
    std::vector<std::tuple<int, std::string, std::string>> hits;
    std::vector<std::tuple<int, std::string, std::string>> byLineHits = {};
    bool twinsDiffer = false;
};

// Keeps the listed test names short and stable (no dump of the object).
void PrintTo(const LineCase& c, std::ostream* os) {
    *os << c.name;
}

class LineRules : public ::testing::TestWithParam<LineCase> {};

TEST_P(LineRules, BothScanners) {
    const LineCase& c = GetParam();
    for (const Scanner scanner : {Scanner::InMemory, Scanner::ByLine}) {
        Searcher s;
        s.options.CRText = c.crText;
        s.options.JapaneseWord = c.japaneseWord;
        s.host.words = c.words;
        const std::string path = s.File("in.txt", c.file);
        const auto& hits = (scanner == Scanner::ByLine && c.twinsDiffer) ? c.byLineHits : c.hits;
        std::string want;
        for (const auto& [n, w, t] : hits) {
            want += Hit(path, n, w, t);
        }
        EXPECT_EQ(s.Run({path}, scanner), want)
            << c.name << (scanner == Scanner::ByLine ? " by line" : " in memory");
        EXPECT_EQ(s.host.status, "検索を終了しました");
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, LineRules,
    ::testing::Values(
        LineCase{"empty file", true, true, {"a"}, "", {}},
        LineCase{"only line breaks", true, true, {"a", ""}, "\r\n\n\r\r\n", {}},
        LineCase{"first word in list order wins",
                 false,
                 true,
                 {"b", "a"},
                 "x\r\na b\r\n",
                 {{2, "b", "a b"}}},
        LineCase{"a word twice gives one hit",
                 false,
                 true,
                 {Sj("雨")},
                 Sj("雨また雨"),
                 {{1, Sj("雨"), Sj("雨また雨")}}},
        LineCase{
            "an empty word never matches", false, true, {"", "x"}, "abc\r\nx\r\n", {{2, "x", "x"}}},
        LineCase{"every break kind counts one line",
                 false,
                 true,
                 {"a"},
                 "a\rb\na\r\n\x1a\r\na",
                 {{1, "a", "a"}, {3, "a", "a"}, {5, "a", "a"}}},
        LineCase{"case and width are exact",
                 false,
                 true,
                 {"abc"},
                 Sj("ABC\r\nａｂｃ\r\nabc"),
                 {{3, "abc", "abc"}}},
        LineCase{"off-boundary find is no hit", false, true, {"A"}, Sj("ア\r\n"), {}},
        LineCase{"off-boundary find without the option is a hit",
                 false,
                 false,
                 {"A"},
                 Sj("ア\r\n"),
                 {{1, "A", Sj("ア")}}},
        LineCase{"a cut word is reported on the previous line",
                 true,
                 true,
                 {Sj("検索")},
                 Sj("前の行は検\r\n索で始まる\r\n"),
                 {{1, Sj("検索"), Sj("前の行は検")}}},
        LineCase{"without CRText a cut word is lost",
                 false,
                 true,
                 {Sj("検索")},
                 Sj("前の行は検\r\n索で始まる\r\n"),
                 {}},
        LineCase{"the spaced join",
                 true,
                 true,
                 {"search engine"},
                 "a search\r\nengine b\r\n",
                 {{1, "search engine", "a search"}}},
        LineCase{"blanks leading the line never stand between",
                 true,
                 true,
                 {Sj("検索")},
                 Sj("検\r\n\t　 索\r\n"),
                 {{1, Sj("検索"), Sj("検")}}},
        LineCase{"the twins differ on the previous line's blanks",
                 true,
                 true,
                 {Sj("検索")},
                 Sj("検 \r\n索\r\n"),
                 {},
                 {{1, Sj("検索"), Sj("検")}},
                 true},
        LineCase{
            "an empty line cuts the chain", true, true, {Sj("検索")}, Sj("検\r\n\r\n索\r\n"), {}},
        LineCase{"a line with a hit never joins the next",
                 true,
                 true,
                 {"X", Sj("検索")},
                 Sj("前X検\r\n索\r\n"),
                 {{1, "X", Sj("前X検")}}},
        LineCase{"a line hit across the break is not tried further nor joined",
                 true,
                 true,
                 {Sj("検索"), Sj("索引"), Sj("引目")},
                 Sj("検\r\n索引\r\n目\r\n"),
                 {{1, Sj("検索"), Sj("検")}}},
        LineCase{"an off-boundary find is tried across the break",
                 true,
                 true,
                 {"AB"},
                 "xA\r\nB\x88"
                 "AB\r\n",
                 {{1, "AB", "xA"}}},
        LineCase{"tight off-boundary: the spaced join is not tried",
                 true,
                 true,
                 {"A B"},
                 "A\r\nB\x88"
                 "A B\r\n",
                 {}},
        LineCase{"without the option an off-boundary find is direct",
                 true,
                 false,
                 {"A B"},
                 "A\r\nB\x88"
                 "A B\r\n",
                 {{2, "A B",
                   "B\x88"
                   "A B"}}},
        LineCase{"spaced off-boundary is no hit", true, true, {" B"}, "\x88\r\nB\r\n", {}},
        LineCase{
            "spaced without the option", true, false, {" B"}, "\x88\r\nB\r\n", {{1, " B", "\x88"}}},
        LineCase{"the chain goes on while no line hits",
                 true,
                 true,
                 {"cd"},
                 "xa\r\nbc\r\nd\r\n",
                 {{2, "cd", "bc"}}},
        LineCase{"lone lead bytes at line and file end",
                 true,
                 true,
                 {"\x88"},
                 "a\x88\r\n\x88",
                 {{1, "\x88", "a\x88"}, {2, "\x88", "\x88"}}},
        LineCase{"NUL and 0x1A are ordinary bytes",
                 false,
                 true,
                 {std::string("\0b", 2)},
                 std::string("a\0b\x1a\r\n\x1a", 7),
                 {{1, std::string("\0b", 2), std::string("a\0b\x1a", 4)}}}),
    [](const ::testing::TestParamInfo<LineCase>& param) {
        std::string n;
        for (const char ch : std::string(param.param.name)) {
            n += std::isalnum(static_cast<unsigned char>(ch)) ? ch : '_';
        }
        return n;
    });

// Words changed during a run apply from the next test on.
TEST(Scanner, WordsAreReadAtEveryTest) {
    for (const Scanner scanner : {Scanner::InMemory, Scanner::ByLine}) {
        Searcher s;
        s.host.words = {"a"};
        s.host.onProcess = [](RecordingHost& h) {
            if (h.processCalls == 1) {
                h.words = {"b"};
                ++h.generation;
            }
        };
        const std::string path = s.File("in.txt", "a\r\na b\r\nb\r\n");
        EXPECT_EQ(s.Run({path}, scanner),
                  Hit(path, 1, "a", "a") + Hit(path, 2, "b", "a b") + Hit(path, 3, "b", "b"));
    }
}

// Progress advances by line length + 2 per line and is set exactly per file.
TEST(Scanner, ProgressPerLine) {
    Searcher s;
    s.host.words = {"zz"};
    const std::string data = "abc\nde\r\n\r\nf";  // 11 bytes
    const std::string path = s.File("in.txt", data);
    s.Run({path}, Scanner::ByLine);
    EXPECT_EQ(s.host.positions, (std::vector<std::int64_t>{0, 5, 9, 11, 14, 11}));
    EXPECT_EQ(s.host.processCalls, 4);
}

// The scanners over random files, words and options give the same bytes.
TEST(Scanner, TwinsAgreeOnRandomInput) {
    std::mt19937 rng(20240611);
    const std::vector<std::string> pieces = {
        "a",    "b",    "A",  " ",  "\t",   "\x81\x40",           "\x82\xA0", "\x88", "\x41",
        "\x40", "\xA0", "\r", "\n", "\r\n", std::string(1, '\0'), "\x1a",     "\x82"};
    auto randomText = [&](int maxPieces) {
        std::string t;
        const int n = static_cast<int>(rng() % static_cast<unsigned>(maxPieces + 1));
        for (int i = 0; i < n; ++i) {
            t += pieces[rng() % pieces.size()];
        }
        return t;
    };
    for (int round = 0; round < 300; ++round) {
        Searcher mem;
        Searcher line;
        const std::int32_t widths[] = {0, 0, 12, 30, -1};
        const iset o = RandomOptions(rng, widths);
        mem.options = o;
        line.options = o;
        std::vector<std::string> words;
        const int nWords = 1 + static_cast<int>(rng() % 4);
        for (int i = 0; i < nWords; ++i) {
            std::string w = randomText(3);
            std::erase_if(w, [](char c) { return c == '\r' || c == '\n'; });
            words.push_back(w);
        }
        mem.host.words = words;
        line.host.words = words;
        std::vector<std::string> memNames;
        const int nFiles = 1 + static_cast<int>(rng() % 3);
        for (int f = 0; f < nFiles; ++f) {
            std::string data = randomText(60);
            if (o.CRText) {
                // The twins differ, by design, on a previous line ending in blanks.
                std::string fixed;
                ForEachLine(data, [&](std::string_view l) {
                    fixed += l;
                    if (TrimRightBlanksView(l).size() != l.size()) {
                        fixed += 'z';
                    }
                    fixed += "\r\n";
                });
                data = fixed;
            }
            // The same paths for both, so the hit lines compare byte for byte.
            const std::string name = "f" + std::to_string(f) + ".txt";
            memNames.push_back(mem.File(name, data));
        }
        const std::string a = mem.Run(memNames, Scanner::InMemory);
        const std::string b = line.Run(memNames, Scanner::ByLine);
        ASSERT_EQ(a, b) << "round " << round;
        ASSERT_EQ(mem.host.positions, line.host.positions) << "round " << round;
    }
}

// Big and odd files: no crash, the same result from both scanners.
TEST(Scanner, HugeLineWithoutBreak) {
    std::string data(100 * 1024 * 1024, 'x');
    // 検索 near the start: the line is read and split in full, the word test stays short.
    data.replace(3, 4, "\x8c\x9f\x8d\xf5");
    for (const Scanner scanner : {Scanner::InMemory, Scanner::ByLine}) {
        Searcher s;
        s.options.OutputStrLength = 40;
        s.host.words = {"\x8c\x9f\x8d\xf5"};
        const std::string path = s.File("big.txt", data);
        const std::string head = path + "(1) :(\x8c\x9f\x8d\xf5)";
        ASSERT_LT(head.size(), 40u);
        const std::string text = "xxx\x8c\x9f\x8d\xf5" + std::string(40, 'x');
        EXPECT_EQ(s.Run({path}, scanner), (head + text).substr(0, 40) + "\r\n");
    }
}

}  // namespace
}  // namespace korvalen::test
