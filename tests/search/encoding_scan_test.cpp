// Files in UTF-8 and UTF-16 searched with InputEncoding set: the same hit
// lines as the code page 932 file of the same text, from all four scanners.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fixture.hpp"
#include "text/encoding.hpp"

namespace korvalen::test {
namespace {

// UTF-16 units as bytes, after a byte order mark.
std::string Utf16(std::u16string_view units, bool le) {
    std::string out;
    for (const char16_t u : u"\uFEFF" + std::u16string(units)) {
        const char hi = static_cast<char>(u >> 8), lo = static_cast<char>(u & 0xFF);
        out += le ? std::string{lo, hi} : std::string{hi, lo};
    }
    return out;
}

iset Options(bool detect, bool crText = false) {
    iset o = Quiet();
    o.InputEncoding = detect ? 1 : 0;
    o.CRText = crText;
    return o;
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
    for (const bool crText : {false, true}) {
        std::string expected;
        for (const Scan scan : kScans) {
            for (const std::string& bytes : forms) {
                SCOPED_TRACE("form " + std::to_string(&bytes - forms) + " scanner " +
                             std::to_string(static_cast<int>(scan)) + " CRText " +
                             std::to_string(crText));
                WriteBytes(path, bytes);
                const Ran s = RunWords(scan, {path}, Options(true, crText), words);
                const std::string& output = s.output;
                if (expected.empty()) {
                    expected = output;
                    // Line numbers of the original file; text converted.
                    for (const std::string& hit :
                         {HitOf(path, 2, Sj("検索"), Sj("検索エンジンの話")),
                          HitOf(path, 7, Sj("〓"), Sj("絵文字〓の行")),
                          path + "(10) :(" + Sj("検索") + ")"}) {
                        EXPECT_NE(expected.find(hit), std::string::npos);
                    }
                    EXPECT_EQ(expected.find(path + "(5)") != std::string::npos, crText);
                }
                EXPECT_TRUE(output == expected);
                EXPECT_EQ(s.positions.back(), static_cast<std::int64_t>(bytes.size()));
            }
        }
    }
}

// Without the option a file is code page 932 bytes; with it, code page 932
// text that happens to be valid UTF-8 (the known risk) is read as UTF-8.
TEST(EncodingScan, TheOptionDecides) {
    TempDir dir;
    const std::string utf8 = dir.File("u.txt", "検索\r\nabc 検索\r\n");
    const std::string kana = dir.File("kana.txt", Sj("abc ﾃア\r\n"));  // C3 83 41: "ÃA" in UTF-8
    ASSERT_EQ(DetectEncoding(Sj("abc ﾃア\r\n")), TextEncoding::Utf8);
    const std::vector<std::string> words = {Sj("ア"), Sj("〓"), Sj("検索"), "abc", "検索"};
    const struct {
        std::string path;
        bool detect;
        std::string hits;
    } cases[] = {
        // Only the ASCII word and the UTF-8 bytes of the word match, and the
        // hit text is the file's own bytes.
        {utf8, false, HitOf(utf8, 1, "検索", "検索") + HitOf(utf8, 2, "abc", "abc 検索")},
        {utf8, true,
         HitOf(utf8, 1, Sj("検索"), Sj("検索")) + HitOf(utf8, 2, Sj("検索"), Sj("abc 検索"))},
        // Read as UTF-8, "Ã" has no code page 932 form: the word is lost.
        {kana, true, HitOf(kana, 1, Sj("〓"), Sj("abc 〓A"))},
    };
    for (const Scan scan : kScans) {
        for (const auto& c : cases) {
            EXPECT_EQ(RunWords(scan, {c.path}, Options(c.detect), words).output, c.hits)
                << c.path << " " << c.detect << " scanner " << static_cast<int>(scan);
        }
    }
}

// ASCII past the start kept for replay: the file is read on to decide, and a Stop
// meanwhile ends the run before any line (the loading literal twin: after one).
TEST(EncodingScan, StopWhileAFarFileIsReadToDecide) {
    TempDir dir;
    const std::string late = dir.File("late.txt", std::string(3 << 20, 'a') + "\r\n検索\r\n");
    for (const Scan scan : kScans) {
        const Ran stopped =
            RunWords(scan, {late}, Options(true), {Sj("検索")}, HeldLines::kDefaultBound,
                     [](RecordingHost& h) { h.run->Stop(); });
        EXPECT_EQ(stopped.outcome, RunOutcome::Stopped);
        EXPECT_EQ(stopped.output, "");
    }
}

}  // namespace
}  // namespace korvalen::test
