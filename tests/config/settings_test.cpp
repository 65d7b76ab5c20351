#include "config/settings.hpp"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cerrno>
#include <string>
#include <tuple>
#include <vector>

#include "platform/file.hpp"
#include "tests/support/temp_dir.hpp"

namespace korvalen {
namespace {

using namespace std::literals;
namespace fs = std::filesystem;

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
    for (const std::string& path : {
             dir.Path("missing.INI"),
             dir.Path("folder"),
             dir.File("empty.INI", ""),
             dir.File("binary.INI", "\0\x01\xFF\xFE[\x82\r\n=\r\x1A"s),
             dir.File("other.INI", "[Else]\r\nTagJump=0\r\nWidth=9\r\n"),
         }) {
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
        const char* section;
        const char* key;
        const char* value;
        bool tagJump;
        std::int32_t length;
        int del;
    };
    const std::vector<Row> rows = {
        {"Other", "TagJump", "2", true, 78, 0},
        {"Other", "tagjump", " \"0\" ", false, 78, 0},  // case, blanks, quotes
        {"Other", "TagJump", "x", true, 78, 0},         // not an integer: default
        {"Other", "TagJump", "0x0", true, 78, 0},
        {"Other", "OutputStrLength", "-5", true, -5, 0},
        {"Other", "OutputStrLength", "+5", true, 78, 0},
        {"Other", "OutputStrLength", "12abc", true, 78, 0},
        {"Other", "OutputStrLength", "2147483648", true, 78, 0},
        {"File", "Delete", "256", true, 78, 0},
        {"File", "Delete", "258", true, 78, 2},
        {"File", "DELETE", "-1", true, 78, 255},
    };
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
        }
    }
    // InputEncoding keeps its number; any value but 0 means detect.
    for (const auto& [value, encoding] : std::vector<std::pair<const char*, int>>{
             {"1", 1}, {"0", 0}, {"2", 2}, {"-1", -1}, {"yes", 0}, {"", 0}}) {
        const std::string text = "[Other]\r\nInputEncoding=" + std::string(value) + "\r\n";
        iset set;
        ASSERT_TRUE(SetOption(set, "inputencoding", value));
        EXPECT_EQ(set.InputEncoding, encoding) << value;
        EXPECT_EQ(ReadSettings(dir.File("v.INI", text)).Options.InputEncoding, encoding) << value;
    }
    iset o;
    EXPECT_TRUE(SetOption(o, "editor", " \"/opt/my editor\" "));
    EXPECT_EQ(o.Editor, "/opt/my editor");
    EXPECT_TRUE(SetOption(o, "searchfolders", "1") && SetOption(o, "FolderFilter", ""));
    EXPECT_TRUE(o.SearchFolders);
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
    o.EditorLine = "-g \"%f\":%l";
    ASSERT_TRUE(WriteOptions(ini, o, "abc"));
    Replace(expected, "Editor=ed", "Editor=/usr/bin/kate");
    Replace(expected, "TagJump=1", "TagJump=0");
    Replace(expected, "CRText=0",
            "CRText=1\r\nFileSeparate=1\r\nErrorStop=1\r\nFileOverWrite=1\r\n"
            "CloseFileDelete=0\r\nAddSortWord=0\r\nOutputFileOpen=0\r\n"
            "SearchIconize=1\r\nJapaneseWord=1\r\nOutputStrLength=abc\r\nInputEncoding=1\r\n"
            "SearchFolders=0\r\nFolderFilter=*.c;*.h\r\nShowResults=1");
    expected += "\r\n[Editor]\r\nEditorLine=-g \"%f\":%l\r\n";
    EXPECT_EQ(TempDir::Read(ini), expected);
    EXPECT_EQ(ReadSettings(ini).Options.EditorLine, o.EditorLine);
    EXPECT_TRUE(ReadSettings(ini).Options.ShowResults);
    // "abc" reads as the default length; Delete keeps its stored 3.
    EXPECT_EQ(Dump(ReadSettings(ini)),
              "/new rel.kvl||-5|6|700|800|78|3|1|01110001110|/usr/bin/kate|*.c;*.h");
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
    EXPECT_TRUE(TempDir::Read(ini).starts_with("[Other]\r\nTagJump=1\r\n"));

    const std::string real = dir.File("real.INI", "[Position]\nWidth=1\n");
    ASSERT_EQ(::chmod(real.c_str(), 0640), 0);
    fs::create_symlink(real, dir.Path("link.INI"));
    ASSERT_TRUE(WritePosition(dir.Path("link.INI"), 0, 0, 10, 20));
    EXPECT_TRUE(fs::is_symlink(dir.Path("link.INI")));
    EXPECT_EQ(TempDir::Read(real), "[Position]\nWidth=20\nTopPos=0\nLeftPos=0\nHeight=10\n");
    EXPECT_EQ(fs::status(real).permissions(), fs::perms(0640));
    EXPECT_EQ(dir.Names().size(), 3u);  // xdg, real.INI, link.INI: no temporary file left
}

// Write and close fail for root as well when the file layer's calls do.
class FailingOps : public FileOps {
  public:
    int failWrite = 0;
    int failClose = 0;
    int failAccess = 0;  // a file the user may not write (root may write any)
    int Access(const char* path, int mode) override {
        if (failAccess == 0) {
            return FileOps::Access(path, mode);
        }
        errno = failAccess;
        return -1;
    }
    ssize_t Write(int fd, const void* buf, std::size_t n) override {
        if (failWrite == 0) {
            return FileOps::Write(fd, buf, n);
        }
        FileOps::Write(fd, buf, n / 2);  // half the bytes reach the temporary file
        errno = failWrite;
        return -1;
    }
    int Close(int fd) override {
        const int rc = FileOps::Close(fd);
        if (failClose == 0) {
            return rc;
        }
        errno = failClose;
        return -1;
    }
};

TEST(Settings, FailedWriteLeavesOldFile) {
    TempDir dir;
    const std::string ini = dir.File("k.INI", kStart);
    for (const auto& [write, close, access] :
         {std::tuple{ENOSPC, 0, 0}, std::tuple{0, EIO, 0}, std::tuple{0, 0, EACCES}}) {
        FailingOps ops;
        ops.failWrite = write;
        ops.failClose = close;
        ops.failAccess = access;
        ScopedFileOps scope(ops);
        EXPECT_FALSE(WritePosition(ini, 9, 9, 9, 9));
        EXPECT_EQ(errno, write + close + access);
        EXPECT_FALSE(WriteOptions(ini, iset{}));
        EXPECT_FALSE(WritePaths(ini, "x", "y"));
        EXPECT_EQ(TempDir::Read(ini), kStart);
        EXPECT_EQ(dir.Names(), std::vector<std::string>{"k.INI"});
    }
}

TEST(Settings, RefusedWrites) {
    TempDir dir;
    const std::string ini = dir.File("k.INI", kStart);
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
    EXPECT_EQ(ChooseIniPath(exe, true, "/x", "/h"), beside);
    EXPECT_EQ(ChooseIniPath(exe + ".bin", true, nullptr, nullptr), beside);
    EXPECT_EQ(ChooseIniPath(exe, false, "/x", "/h"), "/x/korvalen/korvalen.INI");
    EXPECT_EQ(ChooseIniPath(exe, false, "relative", "/h"), "/h/.config/korvalen/korvalen.INI");
    EXPECT_EQ(ChooseIniPath(exe, false, nullptr, nullptr), beside);
    dir.File("korvalen.INI", "");
    EXPECT_EQ(ChooseIniPath(exe, false, "/x", "/h"), beside);
    // This test runs from a writable build folder.
    const fs::path self = fs::read_symlink("/proc/self/exe");
    EXPECT_EQ(DefaultIniPath(), (self.parent_path() / self.stem()).string() + ".INI");
}

}  // namespace
}  // namespace korvalen
