// Files in UTF-8 and UTF-16 searched with InputEncoding set: the same hit
// lines as the code page 932 file of the same text, from all four scanners.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fixture.hpp"
#include "search/scanner.hpp"
#include "text/encoding.hpp"

namespace korvalen::test {
namespace {

// Valid UTF-8 as UTF-16 with its byte order mark; beyond the BMP as pairs.
std::string Utf16(std::string_view utf8, bool le) {
    std::string out = le ? "\xFF\xFE" : "\xFE\xFF";
    auto put = [&](char32_t u) {
        const char hi = static_cast<char>(u >> 8), lo = static_cast<char>(u & 0xFF);
        out += le ? std::string{lo, hi} : std::string{hi, lo};
    };
    for (std::size_t i = 0; i < utf8.size();) {
        const auto b = static_cast<unsigned char>(utf8[i]);
        const std::size_t len = b < 0x80 ? 1 : b < 0xE0 ? 2 : b < 0xF0 ? 3 : 4;
        char32_t cp = len == 1 ? b : b & (0x3F >> (len - 1));
        for (std::size_t k = 1; k < len; ++k) {
            cp = cp << 6 | (static_cast<unsigned char>(utf8[i + k]) & 0x3F);
        }
        i += len;
        if (cp >= 0x10000) {
            put(0xD800 + ((cp - 0x10000) >> 10));
            put(0xDC00 + ((cp - 0x10000) & 0x3FF));
        } else {
            put(cp);
        }
    }
    return out;
}

std::string Hit(const std::string& path, int number, std::string_view word, std::string_view text) {
    return path + "(" + std::to_string(number) + ") :(" + std::string(word) + ")" +
           std::string(text) + "\r\n";
}

enum class Scanner { LiteralByLine, LiteralInMemory, FastByLine, FastInMemory };

struct Searched {
    RunOutcome outcome;
    std::string output;
    std::vector<std::int64_t> positions;
};

Searched Search(TempDir& dir, const std::vector<std::string>& names, const iset& options,
                const std::vector<std::string>& words, Scanner scanner,
                const std::function<void(RecordingHost&)>& onProcess = {}) {
    RecordingHost host;
    host.words = words;
    host.shiftCtrl = scanner == Scanner::LiteralByLine || scanner == Scanner::FastByLine;
    host.onProcess = onProcess;
    SearchRun run(host);
    run.UseLiteralScanners(scanner == Scanner::LiteralByLine ||
                           scanner == Scanner::LiteralInMemory);
    host.run = &run;
    std::string out = dir / "out.txt";
    const RunOutcome outcome = run.Drop(names, out, options);
    return {outcome, ReadBytes(out), host.positions};
}

iset Options(bool detect) {
    iset o;
    o.OutputStrLength = 0;
    o.ErrorStop = false;
    o.SearchIconize = false;
    o.InputEncoding = detect ? 1 : 0;
    return o;
}

constexpr Scanner kScanners[] = {Scanner::LiteralByLine, Scanner::LiteralInMemory,
                                 Scanner::FastByLine, Scanner::FastInMemory};

TEST(EncodingScan, EveryEncodingGivesTheSameHitLines) {
    // Every kind of break, empty lines, words cut by a break, blanks at the
    // joins, half-width kana, a character without a code page 932 form.
    const std::string text =
        "冒頭の行\r\n検索エンジンの話\n\nｶﾀｶﾅと全角　空白\r前の行は検\r\n索で終わる\r\n"
        "絵文字😀の行\nsearch\n  engine\r\n" +
        std::string(70000, 'x') + "長い行の検索\r\n最後の行";
    const std::vector<std::string> words = {Sj("検索"), Sj("ｶﾀｶﾅ"), Sj("〓"), "search engine",
                                            Sj("話")};
    TempDir dir;
    struct Form {
        const char* name;
        std::string bytes;
    };
    const std::vector<Form> forms = {
        {"sjis.txt", Sj(text)},
        {"utf8.txt", text},
        {"bom.txt", "\xEF\xBB\xBF" + text},
        {"le.txt", Utf16(text, true)},
        {"be.txt", Utf16(text, false)},
    };
    for (const Form& f : forms) {
        WriteBytes(dir / f.name, f.bytes);
    }
    for (const bool crText : {false, true}) {
        iset options = Options(true);
        options.CRText = crText;
        std::string expected;
        for (const Scanner scanner : kScanners) {
            for (const Form& f : forms) {
                SCOPED_TRACE(std::string(f.name) + " scanner " +
                             std::to_string(static_cast<int>(scanner)) + " CRText " +
                             std::to_string(crText));
                const Searched s = Search(dir, {dir / f.name}, options, words, scanner);
                std::string output = s.output;
                for (std::size_t at; (at = output.find(f.name)) != std::string::npos;) {
                    output.replace(at, std::string_view(f.name).size(), "FILE");
                }
                if (expected.empty()) {
                    expected = output;
                    // Line numbers of the original file; text converted.
                    EXPECT_NE(
                        expected.find("FILE(2) :(" + Sj("検索") + ")" + Sj("検索エンジンの話")),
                        std::string::npos);
                    EXPECT_NE(expected.find("FILE(7) :(" + Sj("〓") + ")" + Sj("絵文字〓の行")),
                              std::string::npos);
                    EXPECT_NE(expected.find("FILE(10) :(" + Sj("検索") + ")"), std::string::npos);
                    EXPECT_EQ(expected.find("FILE(5)") != std::string::npos, crText);
                }
                EXPECT_EQ(output, expected);
                EXPECT_EQ(s.positions.back(), static_cast<std::int64_t>(f.bytes.size()));
            }
        }
    }
}

TEST(EncodingScan, OptionOffReadsUtf8AsBytes) {
    TempDir dir;
    const std::string path = dir / "u.txt";
    WriteBytes(path, "検索\r\nabc 検索\r\n");
    const std::vector<std::string> words = {Sj("検索"), "abc", "検索"};
    for (const Scanner scanner : kScanners) {
        const Searched off = Search(dir, {path}, Options(false), words, scanner);
        // Only the ASCII word and the UTF-8 bytes of the word match, and the
        // hit text is the file's own bytes.
        EXPECT_EQ(off.output, Hit(path, 1, "検索", "検索") + Hit(path, 2, "abc", "abc 検索"));
        const Searched on = Search(dir, {path}, Options(true), words, scanner);
        EXPECT_EQ(on.output,
                  Hit(path, 1, Sj("検索"), Sj("検索")) + Hit(path, 2, Sj("検索"), Sj("abc 検索")));
    }
}

// The known risk: code page 932 text whose bytes happen to be valid UTF-8.
TEST(EncodingScan, Cp932ThatIsValidUtf8IsReadAsUtf8) {
    TempDir dir;
    const std::string path = dir / "kana.txt";
    const std::string sjis = Sj("abc ﾃア\r\n");  // C3 83 41: "ÃA" in UTF-8
    WriteBytes(path, sjis);
    ASSERT_EQ(DetectEncoding(sjis), TextEncoding::Utf8);
    const std::vector<std::string> words = {Sj("ア"), Sj("〓")};
    for (const Scanner scanner : kScanners) {
        EXPECT_EQ(Search(dir, {path}, Options(false), words, scanner).output,
                  Hit(path, 1, Sj("ア"), Sj("abc ﾃア")));
        // Read as UTF-8, "Ã" has no code page 932 form: the word is lost.
        EXPECT_EQ(Search(dir, {path}, Options(true), words, scanner).output,
                  Hit(path, 1, Sj("〓"), Sj("abc 〓A")));
    }
}

TEST(EncodingScan, DetectionReadsFarFilesStopsAndFails) {
    TempDir dir;
    // Plain ASCII for longer than the replayed start: the file is read to
    // its end to decide, then again from its start.
    const std::string late = dir / "late.txt";
    WriteBytes(late, std::string(3 << 20, 'a') + "\r\n検索\r\n");
    const std::string ascii = dir / "ascii.txt";
    WriteBytes(ascii, std::string(3 << 20, 'b') + "\r\n" + Sj("検索") + "\r\n");
    const std::vector<std::string> words = {Sj("検索")};
    for (const Scanner scanner : kScanners) {
        const Searched s = Search(dir, {late, ascii}, Options(true), words, scanner);
        EXPECT_EQ(s.output, Hit(late, 2, Sj("検索"), Sj("検索")) + "\r\n" +
                                Hit(ascii, 2, Sj("検索"), Sj("検索")));

        // Stop while the first file is being read to decide (the literal
        // twin that loads files whole stops after the first line).
        int calls = 0;
        const Searched stopped =
            Search(dir, {late, ascii}, Options(true), words, scanner, [&](RecordingHost& h) {
                if (++calls == 1) {
                    h.run->Stop();
                }
            });
        EXPECT_EQ(stopped.outcome, RunOutcome::Stopped);
        EXPECT_EQ(stopped.output, "");

        // A read that fails while deciding is the file's error block.
        FailingOps ops(late, FailingOps::Fail::Read, 2);
        ScopedFileOps scoped(ops);
        const Searched failed = Search(dir, {late, ascii}, Options(true), words, scanner);
        EXPECT_EQ(failed.output,
                  FileErrorText() + late + "\r\n\r\n" + Hit(ascii, 2, Sj("検索"), Sj("検索")));
    }
}

}  // namespace
}  // namespace korvalen::test
