// The scanners' line rules and input encodings, each through a run with every scanner.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "fixture.hpp"
#include "run/scanner.hpp"

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
    bool detect = false;              // InputEncoding
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
         Sj("検 \r\n索\r\n"), {}, false, Hits{{1, kKensaku, kKen}}},
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
        {"without InputEncoding UTF-8 is searched as its bytes", false, true,
         {kKensaku, "abc", "検索"}, "検索\r\nabc 検索\r\n",
         {{1, "検索", "検索"}, {2, "abc", "abc 検索"}}},
        {"with it UTF-8 is converted", false, true, {kKensaku, "abc", "検索"},
         "検索\r\nabc 検索\r\n", {{1, kKensaku, kKensaku}, {2, kKensaku, Sj("abc 検索")}}, true},
        // The known risk: C3 83 41 reads as "ÃA", and "Ã" has no code page 932 form.
        {"code page 932 that is valid UTF-8 is read as UTF-8", false, true, {Sj("ア"), Sj("〓")},
         Sj("abc ﾃア\r\n"), {{1, Sj("〓"), Sj("abc 〓A")}}, true},
    };
    // clang-format on
    TempDir dir;
    const std::string path = dir / "in.txt";
    for (const LineCase& c : cases) {
        TempDir::Write(path, c.file);
        for (const Scan scan : kScans) {
            SCOPED_TRACE(std::string(c.name) + ", scanner " +
                         std::to_string(static_cast<int>(scan)));
            iset options = Quiet();
            options.CRText = c.crText;
            options.JapaneseWord = c.japaneseWord;
            options.InputEncoding = c.detect ? 1 : 0;
            std::string want;
            for (const auto& [n, w, t] : ByLine(scan) && c.byLine ? *c.byLine : c.hits) {
                want += HitOf(path, n, w, t);
            }
            const Ran ran = RunWords(scan, {path}, options, c.words);
            EXPECT_EQ(ran.output, want);
            // Shift+Ctrl at the drop picks the line-by-line twin.
            EXPECT_EQ(Only(ran.log, "caption Korvalen").at(0),
                      ByLine(scan) ? "caption Korvalen-" : "caption Korvalen+");
        }
    }
}

// UTF-16 units as bytes, after a byte order mark.
std::string Utf16(std::u16string_view units, bool le) {
    std::string out;
    for (const char16_t u : u"\uFEFF" + std::u16string(units)) {
        const char hi = static_cast<char>(u >> 8), lo = static_cast<char>(u & 0xFF);
        out += le ? std::string{lo, hi} : std::string{hi, lo};
    }
    return out;
}

TEST(EncodingScan, EveryEncodingGivesTheSameHitLines) {
    // Every kind of break, empty lines, words cut by a break, blanks at the
    // joins, half-width kana, a character without a code page 932 form.
#define KORVALEN_TEXT(u) \
    u##"冒頭の行\r\n検索エンジンの話\n\nｶﾀｶﾅと全角　空白\r前の行は検\r\n索で終わる\r\n"   \
    u##"絵文字😀の行\nsearch\n  engine\r\n"
    const std::string text = KORVALEN_TEXT() + std::string(70000, 'x') + "長い行の検索\r\n最後の行";
    const std::u16string units =
        KORVALEN_TEXT(u) + std::u16string(70000, u'x') + u"長い行の検索\r\n最後の行";
#undef KORVALEN_TEXT
    const std::vector<std::string> words = {Sj("検索"), Sj("ｶﾀｶﾅ"), Sj("〓"), "search engine",
                                            Sj("話")};
    TempDir dir;
    const std::string path = dir / "in.txt";
    const std::string forms[] = {Sj(text), text, "\xEF\xBB\xBF" + text, Utf16(units, true),
                                 Utf16(units, false)};
    iset options = Quiet();
    options.InputEncoding = 1;
    for (const bool crText : {false, true}) {
        options.CRText = crText;
        std::string expected;
        for (const Scan scan : kScans) {
            for (const std::string& bytes : forms) {
                SCOPED_TRACE(::testing::PrintToString(
                    std::tuple(&bytes - forms, static_cast<int>(scan), crText)));
                TempDir::Write(path, bytes);
                const Ran s = RunWords(scan, {path}, options, words);
                if (expected.empty()) {
                    expected = s.output;
                    // Line numbers of the original file; text converted.
                    for (const std::string& hit :
                         {HitOf(path, 2, Sj("検索"), Sj("検索エンジンの話")),
                          HitOf(path, 7, Sj("〓"), Sj("絵文字〓の行")),
                          path + "(10) :(" + Sj("検索") + ")"}) {
                        EXPECT_NE(expected.find(hit), std::string::npos);
                    }
                    EXPECT_EQ(expected.find(path + "(5)") != std::string::npos, crText);
                }
                EXPECT_TRUE(s.output == expected);
                EXPECT_EQ(s.positions.back(), static_cast<std::int64_t>(bytes.size()));
            }
        }
    }
}

// The loading literal twin stops after its first line, the others before.
TEST(EncodingScan, StopWhileAFarFileIsReadToDecide) {
    TempDir dir;
    const std::string late = dir.File("late.txt", std::string(3 << 20, 'a') + "\r\n検索\r\n");
    iset options = Quiet();
    options.InputEncoding = 1;
    for (const Scan scan : kScans) {
        const Ran stopped = RunWords(scan, {late}, options, {Sj("検索")}, HeldLines::kDefaultBound,
                                     [](RecordingHost& h) { h.run->Stop(); });
        EXPECT_EQ(stopped.outcome, RunOutcome::Stopped);
        EXPECT_EQ(stopped.output, "");
    }
}

TEST(FastUtf8, FilesDecidedLateMatchTheLiteralScanners) {
    TempDir dir;
    const std::string ascii = "a plain line with abc in it, and some more text to pad it out\n";
    const std::string utf8 = "検索の行です、abc もあります。もう少し長くしておきます\n";
    const std::string sjis = Sj("検索の行です、abc もあります") + "\n";
    struct Case {
        const char* name;
        std::string text;
        std::size_t failPast = SIZE_MAX;  // reads of the file fail past this byte
        bool heldBack = false;            // hits held while the encoding is open
    };
    const Case cases[] = {
        {"ascii then utf8", Times(ascii, 18000) + Times(utf8, 50)},
        {"ascii throughout", Times(ascii, 18000)},
        {"ascii then sjis", Times(ascii, 18000) + sjis + Times(ascii, 50)},
        {"utf8 then sjis", Times(utf8, 16000) + sjis + Times(utf8, 50), SIZE_MAX, true},
        {"utf8 cut short at the end", Times(utf8, 16000) + "\xE6\xA4"},
        // As when the file is read whole first: its hits go, its error block stays.
        {"utf8, the read fails past 1.5 MB", Times(utf8, 20000), 3 << 19},
    };
    const std::string second = dir.File("second.txt", Sj("二つ目の検索\r\n"));
    const std::string path = dir / "f.txt";
    const std::string out = dir / "out.txt";
    for (const Case& c : cases) {
        TempDir::Write(path, c.text);
        const auto size = static_cast<std::int64_t>(c.text.size());
        // The large failing file with one set of options only, to keep the run short.
        for (int variant = 0; variant < (c.failPast == SIZE_MAX ? 3 : 1); ++variant) {
            iset options = Quiet();
            options.InputEncoding = 1;
            options.CRText = variant == 1;
            options.JapaneseWord = variant != 2;
            options.FileOverWrite = variant != 0;
            std::optional<std::tuple<std::string, std::string, std::int64_t>> first;
            auto search = [&](Scan scan, const std::function<void(RecordingHost&)>& onProcess) {
                TempDir::Write(out, "an earlier run\r\n");
                FailingOps ops(path, FailingOps::Fail::Read, c.failPast == SIZE_MAX ? INT_MAX : 0);
                ops.okBytes = c.failPast;
                ScopedFileOps scoped(ops);
                // Past a small bound held hit lines go through a file.
                return RunWords(scan, {path, second}, options, {"abc", Sj("検索")},
                                variant == 0 ? HeldLines::kDefaultBound : 1 << 16, onProcess);
            };
            for (const Scan scan : kScans) {
                SCOPED_TRACE(
                    ::testing::PrintToString(std::tuple(c.name, variant, static_cast<int>(scan))));
                const Ran ran = search(scan, {});
                const std::string& output = ran.output;
                // The file's own last progress, before the run sets it to its size.
                const auto& pos = ran.positions;
                const auto last = std::find(pos.rbegin(), pos.rend(), size);
                const bool failed = c.failPast != SIZE_MAX;
                const std::int64_t progress =
                    !failed && last != pos.rend() && last + 1 != pos.rend() ? *(last + 1) : -2;
                const std::vector<std::string> status = Only(ran.log, "status 検索中：2/2");
                ASSERT_FALSE(status.empty());
                if (!first) {
                    first.emplace(output, status.front(), progress);
                    EXPECT_TRUE(!failed || output.find(Sj("検索の行")) == std::string::npos);
                    EXPECT_EQ(output.find(FileErrorText() + path) != std::string::npos, failed);
                    ASSERT_EQ(progress == -2, failed);
                }
                EXPECT_TRUE(std::tie(output, status.front(), progress) == *first);
                const std::string& expected = std::get<0>(*first);
                if (!c.heldBack || IsLiteral(scan)) {
                    continue;
                }
                // Another writer appending meanwhile: its lines survive, ours arrive whole.
                const std::string other = "another writer\r\n";
                File writer(out, File::Mode::Append);
                int appended = 0;
                std::string got = search(scan, [&](RecordingHost&) {
                                      writer.WriteAll(other);
                                      ++appended;
                                  }).output;
                int found = 0;
                for (std::size_t at; (at = got.find(other)) != std::string::npos; ++found) {
                    got.erase(at, other.size());
                }
                EXPECT_EQ(found, appended);
                EXPECT_TRUE(got == expected);
                // A Stop while the encoding is open writes no line the finished run would not.
                const std::string stopped = search(scan, [](RecordingHost& h) {
                                                if (h.run->State().HitCount > 0) {
                                                    h.run->Stop();
                                                }
                                            }).output;
                for (std::size_t at = 0, end; at < stopped.size(); at = end + 2) {
                    end = stopped.find("\r\n", at);
                    EXPECT_NE(expected.find(stopped.substr(at, end + 2 - at)), std::string::npos);
                }
            }
        }
    }
}

}  // namespace
}  // namespace korvalen::test
