#include "config/ini_file.hpp"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace korvalen {
namespace {

using namespace std::literals;

using std::nullopt;

TEST(IniFile, UnchangedFileKeepsEveryByte) {
    for (const std::string& bytes : {
             std::string(),
             std::string("[File]\r\nRelFile=a\r\n"),
             std::string("no break at the end"),
             std::string("lone\rCR\nand LF\r\n\r\r\n\n"),
             std::string("\xFF\xFE\0[x]\0=\x1A\r\n\x82"sv),
             std::string("  ; comment\r\n[Other]  junk\r\n key = \"v\" \r\n"),
         }) {
        EXPECT_EQ(IniFile(bytes).Bytes(), bytes);
    }
}

TEST(IniFile, Lookup) {
    const std::string text =
        "top=ignored\r\n"
        "[File]\r\n"
        "RelFile=/a/b.kvl\r\n"
        "  Editor  =  vim  \r\n"
        "; OutputFile=commented\r\n"
        "RELFILE=second\r\n"
        "Quoted=\" padded \"\r\n"
        "Empty=\r\n"
        "Eq=a=b\r\n"
        "[ position ]\r\n"
        "tOPpOS=7\r\n"
        "[Other\r\n"
        "Cut=1\r\n"
        "[file]\r\n"
        "OutputFile=/out.txt\r\n"
        "Editor=later\r\n"
        "Half=trunc";
    const IniFile ini(text);
    struct Row {
        const char* section;
        const char* key;
        std::optional<std::string> value;
    };
    for (const Row& r : {
             Row{"File", "RelFile", "/a/b.kvl"},  // the first of duplicates wins
             Row{"FILE", "relfile", "/a/b.kvl"},
             Row{"File", "Editor", "vim"},  // blanks around "=" and the value dropped
             Row{"File", "Quoted", " padded "},
             Row{"File", "Empty", ""},
             Row{"File", "Eq", "a=b"},
             Row{"Position", "TopPos", "7"},
             Row{"File", "OutputFile", "/out.txt"},  // found in the second [file]
             Row{"Other", "Cut", nullopt},           // "[Other" is no header: still [ position ]
             Row{"Position", "Cut", "1"},
             Row{"file", "Half", "trunc"},
             Row{"", "top", nullopt},  // before any section
             Row{"File", "; OutputFile", nullopt},
             Row{"File", "Missing", nullopt},
         }) {
        EXPECT_EQ(ini.Get(r.section, r.key), r.value) << r.section << "/" << r.key;
    }
}

TEST(IniFile, ValuesRoundTrip) {
    for (const std::string& v :
         {""s, " "s, "a b"s, " lead"s, "trail\t"s, "\""s, "\"\""s, "\"quoted\""s, "\" x"s,
          "a;b#c[d]=e"s, "\x83\x5C\xFF\x80"s, "nul\0in"s}) {
        IniFile ini("[S]\r\nK=old\r\n");
        ASSERT_TRUE(ini.Set("S", "K", v));
        EXPECT_EQ(IniFile(ini.Bytes()).Get("S", "K"), v);
    }
    // A line break would end the line and could forge other keys.
    for (const char* v : {"a\nb", "a\r", "\r\n[Other]\r\nTagJump=0"}) {
        IniFile ini("[S]\r\nK=old\r\n");
        EXPECT_FALSE(ini.Set("S", "K", v));
        EXPECT_FALSE(ini.Set("S", "New", v));
        EXPECT_EQ(ini.Bytes(), "[S]\r\nK=old\r\n");
    }
}

TEST(IniFile, SetEditsInPlace) {
    struct Row {
        const char* name;
        std::string before;
        const char* section;
        const char* key;
        std::string value;
        std::string after;
    };
    const std::vector<Row> rows = {
        {"value replaced, spelling and blanks kept", "[s]\r\n kEy = old \r\nx=1\r\n", "S", "Key",
         "new", "[s]\r\n kEy = new\r\nx=1\r\n"},
        {"first duplicate written", "[S]\r\nK=1\r\nK=2\r\n", "S", "K", "9",
         "[S]\r\nK=9\r\nK=2\r\n"},
        {"new key after the last key", "[S]\r\na=1\r\n\r\n; c\r\n[T]\r\n", "S", "b", "2",
         "[S]\r\na=1\r\nb=2\r\n\r\n; c\r\n[T]\r\n"},
        {"new key under a bare header", "[S]\n[T]\nx=1\n", "S", "b", "2", "[S]\nb=2\n[T]\nx=1\n"},
        {"new section at the end", "[T]\r\nx=1\r\n", "S", "b", "2",
         "[T]\r\nx=1\r\n\r\n[S]\r\nb=2\r\n"},
        {"cut last line gets a break", "[T]\nx=1", "T", "y", "2", "[T]\nx=1\ny=2\n"},
        {"new file", "", "S", "b", "2", "[S]\r\nb=2\r\n"},
        {"binary stays", std::string("\0\xFF\r\n"sv), "S", "b", "",
         std::string("\0\xFF\r\n\r\n[S]\r\nb=\r\n"sv)},
        {"lone CR file", "[S]\rk=1\r", "S", "j", "2", "[S]\rk=1\rj=2\r"},
    };
    for (const Row& r : rows) {
        IniFile ini(r.before);
        ASSERT_TRUE(ini.Set(r.section, r.key, r.value)) << r.name;
        EXPECT_EQ(ini.Bytes(), r.after) << r.name;
    }
}

}  // namespace
}  // namespace korvalen
