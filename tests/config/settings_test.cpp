// The INI file: lookups and edits that keep every other byte, and the
// program's settings read from it and written back by three writers.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cerrno>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "config/ini_file.hpp"
#include "config/settings.hpp"
#include "platform/file.hpp"
#include "tests/search/fixture.hpp"

namespace korvalen {
namespace {

using namespace std::literals;
using std::nullopt;
namespace fs = std::filesystem;

TEST(IniFile, Lookup) {
    const IniFile ini(
        "top=ignored\r\n[File]\r\nRelFile=/a/b.kvl\r\n  Editor  =  vim  \r\n"
        "; OutputFile=commented\r\nRELFILE=second\r\nQuoted=\" padded \"\r\nEmpty=\r\n"
        "Eq=a=b\r\n[ position ]\r\ntOPpOS=7\r\n[Other\r\nCut=1\r\n[file]\r\n"
        "OutputFile=/out.txt\r\nEditor=later\r\nHalf=trunc");
    // The first of duplicates wins, in any case; blanks around "=" and the value dropped;
    // "[Other" is no header: Cut is still in [ position ]; "top" is before any section.
    const std::tuple<const char*, const char*, std::optional<std::string>> rows[] = {
        {"File", "RelFile", "/a/b.kvl"},
        {"FILE", "relfile", "/a/b.kvl"},
        {"File", "Editor", "vim"},
        {"File", "Quoted", " padded "},
        {"File", "Empty", ""},
        {"File", "Eq", "a=b"},
        {"Position", "TopPos", "7"},
        {"File", "OutputFile", "/out.txt"},
        {"Other", "Cut", nullopt},
        {"Position", "Cut", "1"},
        {"file", "Half", "trunc"},
        {"", "top", nullopt},
        {"File", "; OutputFile", nullopt},
        {"File", "Missing", nullopt}};
    for (const auto& [section, key, value] : rows) {
        EXPECT_EQ(ini.Get(section, key), value) << section << "/" << key;
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
    const std::tuple<std::string, const char*, const char*, std::string, std::string> rows[] = {
        // The value replaced, spelling and blanks kept.
        {"[s]\r\n kEy = old \r\nx=1\r\n", "S", "Key", "new", "[s]\r\n kEy = new\r\nx=1\r\n"},
        {"[S]\r\nK=1\r\nK=2\r\n", "S", "K", "9", "[S]\r\nK=9\r\nK=2\r\n"},
        // A new key after the last key of its section, or under a bare header.
        {"[S]\r\na=1\r\n\r\n; c\r\n[T]\r\n", "S", "b", "2",
         "[S]\r\na=1\r\nb=2\r\n\r\n; c\r\n[T]\r\n"},
        {"[S]\n[T]\nx=1\n", "S", "b", "2", "[S]\nb=2\n[T]\nx=1\n"},
        {"[T]\r\nx=1\r\n", "S", "b", "2", "[T]\r\nx=1\r\n\r\n[S]\r\nb=2\r\n"},
        {"[T]\nx=1", "T", "y", "2", "[T]\nx=1\ny=2\n"},  // a cut last line gets a break
        {"", "S", "b", "2", "[S]\r\nb=2\r\n"},
        {"\0\xFF\r\n"s, "S", "b", "", "\0\xFF\r\n\r\n[S]\r\nb=\r\n"s},
        {"[S]\rk=1\r", "S", "j", "2", "[S]\rk=1\rj=2\r"},
    };
    for (const auto& [before, section, key, value, after] : rows) {
        IniFile ini(before);
        ASSERT_TRUE(ini.Set(section, key, value)) << before;
        EXPECT_EQ(ini.Bytes(), after) << before;
    }
}

// Every field, for comparisons with readable failures.
std::string Dump(const Settings& s) {
    const iset& o = s.Options;
    std::string out = s.RelFile + "|" + s.OutputFile;
    for (std::int32_t v : {s.TopPos, s.LeftPos, s.Height, s.Width, o.OutputStrLength,
                           std::int32_t{o.Delete}, o.InputEncoding}) {
        out += "|" + std::to_string(v);
    }
    out += "|";
    for (bool b :
         {o.TagJump, o.FileSeparate, o.ErrorStop, o.FileOverWrite, o.CloseFileDelete, o.AddSortWord,
          o.OutputFileOpen, o.SearchIconize, o.JapaneseWord, o.CRText, o.SearchFolders}) {
        out += b ? "1" : "0";
    }
    return out + "|" + o.Editor + "|" + o.FolderFilter;
}

TEST(Settings, ReadsDefaultsAndEveryKey) {
    EXPECT_EQ(Dump(Settings{}), "||0|0|270|465|78|0|0|11110001100||*.txt");
    TempDir dir;
    fs::create_directory(dir.Path("folder"));
    for (const std::string& path :
         {dir.Path("missing.INI"), dir.Path("folder"), dir.File("empty.INI", ""),
          dir.File("binary.INI", "\0\x01\xFF\xFE[\x82\r\n=\r\x1A"s),
          dir.File("other.INI", "[Else]\r\nTagJump=0\r\nWidth=9\r\n")}) {
        EXPECT_EQ(Dump(ReadSettings(path)), Dump(Settings{})) << path;
    }
    const std::string ini =
        dir.File("k.INI",
                 "[File]\r\nRelFile=/home/u/rel words.kvl\r\nOutputFile=\x8F\x6F.txt\r\n"
                 "Editor=/usr/bin/gvim\r\nDelete=2\r\n"
                 "[Position]\r\nTopPos=-10\r\nLeftPos=20\r\nHeight=300\r\nWidth=640\r\n"
                 "[Other]\r\nTagJump=0\r\nFileSeparate=0\r\nErrorStop=0\r\nFileOverWrite=0\r\n"
                 "CloseFileDelete=1\r\nAddSortWord=1\r\nOutputFileOpen=1\r\nSearchIconize=0\r\n"
                 "JapaneseWord=0\r\nCRText=1\r\nOutputStrLength=0\r\nInputEncoding=1\r\n"
                 "SearchFolders=1\r\nFolderFilter=*.md; *.TXT\r\n");
    EXPECT_EQ(Dump(ReadSettings(ini)),
              "/home/u/rel words.kvl|\x8F\x6F.txt|-10|20|300|640|0|2|1|"
              "00001110011|/usr/bin/gvim|*.md; *.TXT");
}

// One key's stored text, as the start-up read and SetOption take it.
TEST(Settings, ValueRules) {
    struct Row {
        const char *section, *key, *value;
        bool tagJump;
        std::int32_t length;
        int del, encoding;
    };
    // Key case, blanks and quotes ignored; not an integer: the default. InputEncoding keeps
    // its number (any but 0 means detect); Delete takes 0 to 255, wrapping outside.
    const Row rows[] = {{"Other", "TagJump", "2", true, 78, 0, 0},
                        {"Other", "tagjump", " \"0\" ", false, 78, 0, 0},
                        {"Other", "TagJump", "x", true, 78, 0, 0},
                        {"Other", "TagJump", "0x0", true, 78, 0, 0},
                        {"Other", "OutputStrLength", "-5", true, -5, 0, 0},
                        {"Other", "OutputStrLength", "+5", true, 78, 0, 0},
                        {"Other", "OutputStrLength", "12abc", true, 78, 0, 0},
                        {"Other", "OutputStrLength", "2147483648", true, 78, 0, 0},
                        {"File", "Delete", "258", true, 78, 2, 0},
                        {"File", "DELETE", "-1", true, 78, 255, 0},
                        {"Other", "inputencoding", "2", true, 78, 0, 2},
                        {"Other", "InputEncoding", "-1", true, 78, 0, -1},
                        {"Other", "InputEncoding", "", true, 78, 0, 0}};
    TempDir dir;
    for (const Row& r : rows) {
        SCOPED_TRACE(std::string(r.key) + "=" + r.value);
        const std::string text = "["s + r.section + "]\r\n" + r.key + " = " + r.value + "\r\n";
        iset set;
        ASSERT_TRUE(SetOption(set, r.key, r.value));
        for (const iset& o : {ReadSettings(dir.File("v.INI", text)).Options, set}) {
            EXPECT_EQ(o.TagJump, r.tagJump);
            EXPECT_EQ(o.OutputStrLength, r.length);
            EXPECT_EQ(o.Delete, r.del);
            EXPECT_EQ(o.InputEncoding, r.encoding);
        }
    }
    iset o;
    EXPECT_TRUE(SetOption(o, "editor", " \"/opt/my editor\" "));
    EXPECT_EQ(o.Editor, "/opt/my editor");
    EXPECT_TRUE(SetOption(o, "FolderFilter", ""));  // empty, not the default
    EXPECT_EQ(o.FolderFilter, "");
    for (const char* notOption : {"RelFile", "Width", "Tag", ""}) {
        EXPECT_FALSE(SetOption(o, notOption, "0")) << notOption;
    }
    EXPECT_TRUE(o.TagJump);
}

const std::string kStart =
    "; Korvalen\r\n[File]\r\nRelFile=/r.kvl\r\nDelete=3\r\nUnknown = kept  \r\n"
    "OutputFile=/o.txt\r\nEditor=ed\r\n\r\n"
    "[Position]\r\nTopPos=1\r\nLeftPos=2\r\nHeight=3\r\nWidth=4\r\n"
    "[Other]\r\nTagJump=1\r\njunk line\r\nCRText=0\r\n[Mine]\r\nTagJump=keep\r\n";

void Replace(std::string& s, std::string_view from, std::string_view to) {
    const std::size_t at = s.find(from);
    ASSERT_NE(at, std::string::npos) << from;
    s.replace(at, from.size(), to);
}

TEST(Settings, EachWriterTouchesOnlyItsKeys) {
    TempDir dir;
    const std::string ini = dir.File("k.INI", kStart);
    std::string expected = kStart;

    ASSERT_TRUE(WritePosition(ini, -5, 6, 700, 800));
    Replace(expected, "TopPos=1\r\nLeftPos=2\r\nHeight=3\r\nWidth=4",
            "TopPos=-5\r\nLeftPos=6\r\nHeight=700\r\nWidth=800");
    EXPECT_EQ(TempDir::Read(ini), expected);

    ASSERT_TRUE(WritePaths(ini, "/new rel.kvl", ""));
    Replace(expected, "RelFile=/r.kvl", "RelFile=/new rel.kvl");
    Replace(expected, "OutputFile=/o.txt", "OutputFile=");
    EXPECT_EQ(TempDir::Read(ini), expected);

    iset o;
    o.TagJump = false;
    o.CRText = true;
    o.Editor = "/usr/bin/kate";
    o.Delete = 9;         // never written
    o.InputEncoding = 2;  // written as a check box holds it
    o.FolderFilter = "*.c;*.h";
    o.ShowResults = true;
    o.Threads = 3;
    o.EditorLine = "-g \"%f\":%l";
    ASSERT_TRUE(WriteOptions(ini, o, "abc"));
    Replace(expected, "Editor=ed", "Editor=/usr/bin/kate");
    Replace(expected, "TagJump=1", "TagJump=0");
    Replace(expected, "CRText=0",
            "CRText=1\r\nFileSeparate=1\r\nErrorStop=1\r\nFileOverWrite=1\r\n"
            "CloseFileDelete=0\r\nAddSortWord=0\r\nOutputFileOpen=0\r\n"
            "SearchIconize=1\r\nJapaneseWord=1\r\nOutputStrLength=abc\r\nInputEncoding=1\r\n"
            "SearchFolders=0\r\nFolderFilter=*.c;*.h\r\nShowResults=1\r\nThreads=3");
    expected += "\r\n[Editor]\r\nEditorLine=-g \"%f\":%l\r\n";
    EXPECT_EQ(TempDir::Read(ini), expected);
    EXPECT_EQ(ReadSettings(ini).Options.EditorLine, o.EditorLine);
    EXPECT_TRUE(ReadSettings(ini).Options.ShowResults);
}

TEST(Settings, WritersCreateFileFoldersAndKeepModeAndLinks) {
    TempDir dir;
    const std::string ini = dir.Path("xdg/korvalen/korvalen.INI");
    iset o;
    o.OutputStrLength = 120;
    ASSERT_TRUE(WriteOptions(ini, o));
    const std::string odd = "/tmp/ \"q\" \x82\xA0\xFF\tend ";
    ASSERT_TRUE(WritePaths(ini, odd, " lead"));
    EXPECT_EQ(Dump(ReadSettings(ini)), odd + "| lead|0|0|270|465|120|0|0|11110001100||*.txt");

    const std::string real = dir.File("real.INI", "[Position]\nWidth=1\n");
    ASSERT_EQ(::chmod(real.c_str(), 0640), 0);
    fs::create_symlink(real, dir.Path("link.INI"));
    ASSERT_TRUE(WritePosition(dir.Path("link.INI"), 0, 0, 10, 20));
    EXPECT_TRUE(fs::is_symlink(dir.Path("link.INI")));
    EXPECT_EQ(TempDir::Read(real), "[Position]\nWidth=20\nTopPos=0\nLeftPos=0\nHeight=10\n");
    EXPECT_EQ(fs::status(real).permissions(), fs::perms(0640));
    EXPECT_EQ(dir.Names().size(), 3u);  // xdg, real.INI, link.INI: no temporary file left
}

TEST(Settings, FailedOrRefusedWritesLeaveTheOldFile) {
    TempDir dir;
    const std::string ini = dir.File("k.INI", kStart);
    // Write, close and the check for a writable file fail for root as well when
    // the file layer's calls do.
    using F = test::FailingOps::Fail;
    for (const auto& [what, err] :
         {std::pair{F::Write, ENOSPC}, std::pair{F::Close, EIO}, std::pair{F::Access, EACCES}}) {
        test::FailingOps ops("", what, 0, err);
        ScopedFileOps scope(ops);
        EXPECT_FALSE(WritePosition(ini, 9, 9, 9, 9));
        EXPECT_EQ(errno, err);
        EXPECT_FALSE(WriteOptions(ini, iset{}));
        EXPECT_FALSE(WritePaths(ini, "x", "y"));
        EXPECT_EQ(TempDir::Read(ini), kStart);
        EXPECT_EQ(dir.Names(), std::vector<std::string>{"k.INI"});
    }
    // A line break in a value would end the line and could forge other keys.
    EXPECT_FALSE(WritePaths(ini, "/a\nb", "/ok"));
    EXPECT_EQ(errno, EINVAL);
    iset o;
    o.Editor = "vi\r\n[Other]\r\nTagJump=0";
    EXPECT_FALSE(WriteOptions(ini, o));
    EXPECT_EQ(TempDir::Read(ini), kStart);
    // A folder, a pipe or a dangling link at the path is neither read nor replaced.
    fs::create_directory(dir.Path("folder"));
    ASSERT_EQ(::mkfifo(dir.Path("fifo").c_str(), 0600), 0);
    fs::create_symlink(dir.Path("nowhere/x.INI"), dir.Path("dangling"));
    for (const char* name : {"folder", "fifo", "dangling"}) {
        const auto type = fs::symlink_status(dir.Path(name)).type();
        EXPECT_FALSE(WritePosition(dir.Path(name), 1, 2, 3, 4)) << name;
        EXPECT_EQ(fs::symlink_status(dir.Path(name)).type(), type) << name;
    }
}

TEST(IniPath, Choice) {
    TempDir dir;
    const std::string exe = dir.Path("korvalen");
    const std::string beside = exe + ".INI";
    using P = IniPlace;
    EXPECT_EQ(ChooseIniPath(exe, P::Beside, "/x", "/h"), beside);
    EXPECT_EQ(ChooseIniPath(exe + ".bin", P::Beside, nullptr, nullptr), beside);
    for (const P place : {P::PerUserElseBeside, P::PerUser}) {
        EXPECT_EQ(ChooseIniPath(exe, place, "/x", "/h"), "/x/korvalen/korvalen.INI");
        EXPECT_EQ(ChooseIniPath(exe, place, "relative", "/h"), "/h/.config/korvalen/korvalen.INI");
    }
    EXPECT_EQ(ChooseIniPath(exe, P::PerUserElseBeside, nullptr, nullptr), beside);
    EXPECT_EQ(ChooseIniPath(exe, P::PerUser, nullptr, "h"), "");
    // This test runs from a writable build folder.
    const fs::path self = fs::read_symlink("/proc/self/exe");
    EXPECT_EQ(DefaultIniPath(), (self.parent_path() / self.stem()).string() + ".INI");

    // Never beside an installed program.
    fs::create_directories(dir.Path("own/bin"));
    fs::create_directories(dir.Path("prefix/bin"));
    fs::create_directories(dir.Path("prefix/share/korvalen"));
    dir.File("own/bin/korvalen.INI", "");
    dir.File("prefix/bin/korvalen.INI", "");  // left by an earlier start as root
    const std::tuple<std::string, bool, P> cases[] = {
        {dir.Path("own/bin/korvalen"), true, P::Beside},
        {dir.Path("own/bin/korvalen"), false, P::Beside},  // its INI is there
        {dir.Path("own/korvalen"), false, P::PerUserElseBeside},
        {dir.Path("prefix/bin/korvalen"), true, P::PerUser},
        {"/usr/bin/korvalen", true, P::PerUser},  // root
        {"/usr/local/bin/korvalen", false, P::PerUser},
        {"/usr/games/korvalen", true, P::PerUser},
    };
    for (const auto& [path, writable, place] : cases) {
        EXPECT_EQ(IniPlaceOf(path, writable), place) << path << " " << writable;
    }
}

}  // namespace
}  // namespace korvalen
