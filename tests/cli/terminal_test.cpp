// Text to and from the terminal in its encoding.
#include <gtest/gtest.h>

#include "cli/cli_host.hpp"
#include "cli/terminal.hpp"
#include "tests/support/jis_forms.hpp"
#include "text/cp932.hpp"

namespace korvalen {
namespace {

std::string Sj(std::string_view utf8) {
    return Utf8ToCp932(utf8);
}

TEST(Terminal, Utf8) {
    const Terminal t("UTF-8");
    EXPECT_TRUE(t.IsUtf8());
    EXPECT_EQ(t.FromCp932(Sj("検索") + "a\x88"), "検索a\\x88");
    EXPECT_EQ(t.FromCp932(std::string("\x00\xff", 2)), std::string("\0\\xFF", 5));
    EXPECT_EQ(t.FromUtf8("検索を終了しました"), "検索を終了しました");
    EXPECT_EQ(t.ToCp932("検索 abc"), Sj("検索 abc"));
    EXPECT_EQ(t.ToCp932("\xF0\x9F\x98\x80"), std::nullopt);  // no code page 932 form
    EXPECT_EQ(t.ToCp932("\xE6\xA4"), std::nullopt);          // cut UTF-8
}

TEST(Terminal, OtherCodesets) {
    const Terminal ascii("ANSI_X3.4-1968");
    EXPECT_FALSE(ascii.IsUtf8());
    EXPECT_EQ(ascii.FromCp932("ab" + Sj("検")), "ab\\x8C\\x9F");
    EXPECT_EQ(ascii.FromUtf8("x検索y"), "x??y");
    EXPECT_EQ(ascii.ToCp932("abc"), "abc");
    EXPECT_EQ(ascii.ToCp932("ab\xE6"), std::nullopt);

    const Terminal euc("EUC-JP");
    const std::string eucKensaku = "\xB8\xA1\xBA\xF7";  // 検索
    EXPECT_EQ(euc.FromCp932(Sj("検索")), eucKensaku);
    EXPECT_EQ(euc.FromUtf8("検索"), eucKensaku);
    EXPECT_EQ(euc.ToCp932(eucKensaku), Sj("検索"));
}

TEST(Terminal, TypedJisFormsAndShiftJis) {
    const Terminal utf8("UTF-8");
    const Terminal sjis("SHIFT_JIS");
    for (const test::JisFormRow& r : test::kJisForms) {
        EXPECT_EQ(utf8.ToCp932(r.typed), r.cp932) << r.typed;
        EXPECT_EQ(sjis.ToCp932(r.cp932), r.cp932) << r.typed;
        EXPECT_EQ(sjis.FromCp932(r.cp932), r.cp932) << r.typed;
    }
    // Through Unicode, Shift-JIS 5C and 7E were the yen sign and the overline.
    EXPECT_EQ(sjis.ToCp932("C:\\dir~"), "C:\\dir~");
    EXPECT_EQ(sjis.FromCp932("C:\\dir~"), "C:\\dir~");
    EXPECT_EQ(sjis.FromCp932("\x87\x40"), "\\x87\\x40");  // ① is not in Shift-JIS
    EXPECT_EQ(sjis.ToCp932("a\x82"), std::nullopt);
}

// The bar is redrawn about ten times a second whatever the calls' pace: one
// call per block of a slow disk, or many per millisecond.
TEST(CliHost, BarRedrawnByTime) {
    using namespace std::chrono_literals;
    const Terminal t("UTF-8");
    const iset options;
    CliHost host(t, {}, options, false, true);
    auto now = std::chrono::steady_clock::time_point() + 1h;
    int draws = 0;
    host.SetClock([&] { return now; });
    host.SetWriter([&](const std::string& s) { draws += s.starts_with("\r[") ? 1 : 0; });
    host.SetProgressMax(std::int64_t{1} << 40);
    host.SetProgressVisible(true);
    EXPECT_EQ(draws, 1);
    for (std::int64_t block = 1; block <= 100; ++block) {  // 5 s, 256 KB every 50 ms
        now += 50ms;
        host.SetProgressPos(block << 18);
        host.ProcessMessages();
    }
    EXPECT_EQ(draws, 51);
    for (std::int64_t line = 0; line < 100'000; ++line) {  // 1 s, a line every 10 us
        now += 10us;
        host.SetProgressPos((std::int64_t{100} << 18) + line * 80);
        host.ProcessMessages();
    }
    EXPECT_GE(draws, 51 + 9);
    EXPECT_LE(draws, 51 + 10);
}

}  // namespace
}  // namespace korvalen
