#include "config/settings.hpp"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "config/ini_file.hpp"
#include "platform/file.hpp"

namespace korvalen {
namespace {

using namespace std::literals;

namespace fs = std::filesystem;

class TempDir {
  public:
    TempDir() {
        std::string tmpl = (fs::temp_directory_path() / "korvalen-config-XXXXXX").string();
        if (::mkdtemp(tmpl.data()) == nullptr) {
            throw std::runtime_error("mkdtemp");
        }
        path_ = tmpl;
    }
    ~TempDir() {
        std::error_code ec;
        fs::remove_all(path_, ec);
    }
    std::string Path(std::string_view name) const { return (path_ / name).string(); }
    std::string File(std::string_view name, std::string_view bytes) const {
        const std::string p = Path(name);
        std::ofstream out(p, std::ios::binary);
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        if (!out) {
            throw std::runtime_error("write " + p);
        }
        return p;
    }
    std::vector<std::string> Names() const {
        std::vector<std::string> names;
        for (const auto& e : fs::directory_iterator(path_)) {
            names.push_back(e.path().filename().string());
        }
        return names;
    }

  private:
    fs::path path_;
};

std::string Slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

void ExpectDefaults(const Settings& s) {
    const iset o = s.Options;
    EXPECT_EQ(s.RelFile, "");
    EXPECT_EQ(s.OutputFile, "");
    EXPECT_EQ(s.TopPos, 0);
    EXPECT_EQ(s.LeftPos, 0);
    EXPECT_EQ(s.Height, 270);
    EXPECT_EQ(s.Width, 465);
    EXPECT_TRUE(o.TagJump && o.FileSeparate && o.ErrorStop && o.FileOverWrite && o.SearchIconize &&
                o.JapaneseWord);
    EXPECT_FALSE(o.CloseFileDelete || o.AddSortWord || o.OutputFileOpen || o.CRText);
    EXPECT_EQ(o.OutputStrLength, 78);
    EXPECT_EQ(o.Editor, "");
    EXPECT_EQ(o.Delete, 0);
}

TEST(Settings, DefaultsWhenNothingUsable) {
    TempDir dir;
    fs::create_directory(dir.Path("folder"));
    for (const std::string& path : {
             dir.Path("missing.INI"),
             dir.Path("folder"),
             dir.File("empty.INI", ""),
             dir.File("binary.INI", std::string("\0\x01\xFF\xFE[\x82\r\n=\r\x1A"sv)),
             dir.File("other.INI", "[Else]\r\nTagJump=0\r\nWidth=9\r\n"),
         }) {
        SCOPED_TRACE(path);
        ExpectDefaults(ReadSettings(path));
    }
}

TEST(Settings, ReadsEveryKey) {
    TempDir dir;
    const std::string ini = dir.File("k.INI",
                                     "[File]\r\n"
                                     "RelFile=/home/u/rel words.kvl\r\n"
                                     "OutputFile=\x8F\x6F\x97\xCD.txt\r\n"
                                     "Editor=/usr/bin/gvim\r\n"
                                     "Delete=2\r\n"
                                     "[Position]\r\n"
                                     "TopPos=-10\r\nLeftPos=20\r\nHeight=300\r\nWidth=640\r\n"
                                     "[Other]\r\n"
                                     "TagJump=0\r\nFileSeparate=0\r\nErrorStop=0\r\n"
                                     "FileOverWrite=0\r\nCloseFileDelete=1\r\nAddSortWord=1\r\n"
                                     "OutputFileOpen=1\r\nSearchIconize=0\r\nJapaneseWord=0\r\n"
                                     "CRText=1\r\nOutputStrLength=0");
    const Settings s = ReadSettings(ini);
    EXPECT_EQ(s.RelFile, "/home/u/rel words.kvl");
    EXPECT_EQ(s.OutputFile, "\x8F\x6F\x97\xCD.txt");
    EXPECT_EQ(s.TopPos, -10);
    EXPECT_EQ(s.LeftPos, 20);
    EXPECT_EQ(s.Height, 300);
    EXPECT_EQ(s.Width, 640);
    const iset& o = s.Options;
    EXPECT_FALSE(o.TagJump || o.FileSeparate || o.ErrorStop || o.FileOverWrite || o.SearchIconize ||
                 o.JapaneseWord);
    EXPECT_TRUE(o.CloseFileDelete && o.AddSortWord && o.OutputFileOpen && o.CRText);
    EXPECT_EQ(o.OutputStrLength, 0);
    EXPECT_EQ(o.Editor, "/usr/bin/gvim");
    EXPECT_EQ(o.Delete, 2);
}

// One key's stored text, as the start-up read and SetOption take it.
TEST(Settings, ValueRules) {
    struct Row {
        const char* key;
        const char* value;
        bool tagJump;
        std::int32_t length;
        int del;
    };
    const std::vector<Row> rows = {
        {"TagJump", "2", true, 78, 0},
        {"TagJump", "0", false, 78, 0},
        {"TagJump", "-1", true, 78, 0},
        {"TagJump", "x", true, 78, 0},
        {"TagJump", "", true, 78, 0},
        {"TagJump", " 0 ", false, 78, 0},
        {"tagjump", "0", false, 78, 0},
        {"TagJump", "\"0\"", false, 78, 0},
        {"TagJump", "0x0", true, 78, 0},
        {"OutputStrLength", "120", true, 120, 0},
        {"OutputStrLength", "abc", true, 78, 0},
        {"OutputStrLength", "-5", true, -5, 0},
        {"OutputStrLength", "+5", true, 78, 0},
        {"OutputStrLength", "12abc", true, 78, 0},
        {"OutputStrLength", "2147483647", true, 2147483647, 0},
        {"OutputStrLength", "2147483648", true, 78, 0},
        {"Delete", "256", true, 78, 0},
        {"Delete", "258", true, 78, 2},
        {"Delete", "-1", true, 78, 255},
        {"DELETE", "1", true, 78, 1},
        {"Delete", "99999999999", true, 78, 0},
    };
    TempDir dir;
    for (const Row& r : rows) {
        SCOPED_TRACE(std::string(r.key) + "=" + r.value);
        const std::string section =
            std::string_view(r.key).starts_with("De") || std::string_view(r.key).starts_with("DE")
                ? "File"
                : "Other";
        const std::string path =
            dir.File("v.INI", "[" + section + "]\r\n" + r.key + " = " + r.value + "\r\n");
        const iset o = ReadSettings(path).Options;
        EXPECT_EQ(o.TagJump, r.tagJump);
        EXPECT_EQ(o.OutputStrLength, r.length);
        EXPECT_EQ(o.Delete, r.del);

        iset set;
        ASSERT_TRUE(SetOption(set, r.key, r.value));
        EXPECT_EQ(set.TagJump, r.tagJump);
        EXPECT_EQ(set.OutputStrLength, r.length);
        EXPECT_EQ(set.Delete, r.del);
    }
}

TEST(Settings, SetOptionKeys) {
    iset o;
    EXPECT_TRUE(SetOption(o, "AddSortWord", "1"));
    EXPECT_TRUE(o.AddSortWord);
    EXPECT_TRUE(SetOption(o, "editor", " \"/opt/my editor\" "));
    EXPECT_EQ(o.Editor, "/opt/my editor");
    for (const char* notOption : {"RelFile", "OutputFile", "Width", "TopPos", "Tag", ""}) {
        iset before = o;
        EXPECT_FALSE(SetOption(o, notOption, "0")) << notOption;
        EXPECT_EQ(o.TagJump, before.TagJump);
    }
}

const char* const kStart =
    "; Korvalen\r\n"
    "[File]\r\n"
    "RelFile=/r.kvl\r\n"
    "Delete=3\r\n"
    "Unknown = kept  \r\n"
    "OutputFile=/o.txt\r\n"
    "Editor=ed\r\n"
    "\r\n"
    "[Position]\r\n"
    "TopPos=1\r\n"
    "LeftPos=2\r\n"
    "Height=3\r\n"
    "Width=4\r\n"
    "[Other]\r\n"
    "TagJump=1\r\n"
    "junk line\r\n"
    "CRText=0\r\n"
    "[Mine]\r\n"
    "TagJump=keep\r\n";

TEST(Settings, EachWriterTouchesOnlyItsKeys) {
    TempDir dir;
    const std::string ini = dir.File("k.INI", kStart);

    ASSERT_TRUE(WritePosition(ini, -5, 6, 700, 800));
    std::string expected(kStart);
    expected.replace(expected.find("TopPos=1"), 8, "TopPos=-5");
    expected.replace(expected.find("LeftPos=2"), 9, "LeftPos=6");
    expected.replace(expected.find("Height=3"), 8, "Height=700");
    expected.replace(expected.find("Width=4"), 7, "Width=800");
    EXPECT_EQ(Slurp(ini), expected);

    ASSERT_TRUE(WritePaths(ini, "/new rel.kvl", ""));
    expected.replace(expected.find("RelFile=/r.kvl"), 14, "RelFile=/new rel.kvl");
    expected.replace(expected.find("OutputFile=/o.txt"), 17, "OutputFile=");
    EXPECT_EQ(Slurp(ini), expected);

    iset o;
    o.TagJump = false;
    o.CRText = true;
    o.Editor = "/usr/bin/kate";
    o.Delete = 9;  // never written
    ASSERT_TRUE(WriteOptions(ini, o, "abc"));
    expected.replace(expected.find("Editor=ed"), 9, "Editor=/usr/bin/kate");
    expected.replace(expected.find("TagJump=1"), 9, "TagJump=0");
    expected.replace(expected.find("CRText=0"), 8,
                     "CRText=1\r\nFileSeparate=1\r\nErrorStop=1\r\nFileOverWrite=1\r\n"
                     "CloseFileDelete=0\r\nAddSortWord=0\r\nOutputFileOpen=0\r\n"
                     "SearchIconize=1\r\nJapaneseWord=1\r\nOutputStrLength=abc");
    EXPECT_EQ(Slurp(ini), expected);

    const Settings s = ReadSettings(ini);
    EXPECT_EQ(s.Options.OutputStrLength, 78);  // "abc" reads as the default
    EXPECT_EQ(s.Options.Delete, 3);
    EXPECT_FALSE(s.Options.TagJump);
    EXPECT_EQ(s.RelFile, "/new rel.kvl");
    EXPECT_EQ(s.Width, 800);
}

TEST(Settings, WritersCreateFileAndFolders) {
    TempDir dir;
    const std::string ini = dir.Path("xdg/korvalen/korvalen.INI");
    iset o;
    o.OutputStrLength = 120;
    ASSERT_TRUE(WriteOptions(ini, o));
    ASSERT_TRUE(WritePosition(ini, 1, 2, 3, 4));
    const std::string odd("/tmp/ \"q\" \x82\xA0\xFF\tend ");
    ASSERT_TRUE(WritePaths(ini, odd, " lead"));
    const Settings s = ReadSettings(ini);
    EXPECT_EQ(s.Options.OutputStrLength, 120);
    EXPECT_EQ(s.Height, 3);
    EXPECT_EQ(s.RelFile, odd);
    EXPECT_EQ(s.OutputFile, " lead");
    const std::string text = Slurp(ini);
    EXPECT_TRUE(text.starts_with("[Other]\r\nTagJump=1\r\n")) << text;
    EXPECT_EQ(text.find("\nDelete"), std::string::npos);
}

TEST(Settings, KeepsModeAndLinks) {
    TempDir dir;
    const std::string real = dir.File("real.INI", "[Position]\nWidth=1\n");
    ASSERT_EQ(::chmod(real.c_str(), 0640), 0);
    const std::string link = dir.Path("link.INI");
    fs::create_symlink(real, link);
    ASSERT_TRUE(WritePosition(link, 0, 0, 10, 20));
    EXPECT_TRUE(fs::is_symlink(link));
    EXPECT_EQ(Slurp(real), "[Position]\nWidth=20\nTopPos=0\nLeftPos=0\nHeight=10\n");
    struct stat st {};
    ASSERT_EQ(::stat(real.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    EXPECT_EQ(dir.Names().size(), 2u);  // no temporary file left
}

// Write, close or fsync can fail for root as well: the file layer's calls
// are replaced.
class FailingOps : public FileOps {
  public:
    int failWrite = 0;
    int failClose = 0;
    ssize_t Write(int fd, const void* buf, std::size_t n) override {
        if (failWrite != 0) {
            // Half the bytes reach the temporary file first.
            FileOps::Write(fd, buf, n / 2);
            errno = failWrite;
            return -1;
        }
        return FileOps::Write(fd, buf, n);
    }
    int Close(int fd) override {
        const int rc = FileOps::Close(fd);
        if (failClose != 0) {
            errno = failClose;
            return -1;
        }
        return rc;
    }
};

TEST(Settings, FailedWriteLeavesOldFile) {
    TempDir dir;
    const std::string ini = dir.File("k.INI", kStart);
    for (int which = 0; which < 2; ++which) {
        FailingOps ops;
        (which == 0 ? ops.failWrite : ops.failClose) = which == 0 ? ENOSPC : EIO;
        ScopedFileOps scope(ops);
        errno = 0;
        EXPECT_FALSE(WritePosition(ini, 9, 9, 9, 9));
        EXPECT_EQ(errno, which == 0 ? ENOSPC : EIO);
        EXPECT_FALSE(WritePaths(ini, "x", "y"));
        EXPECT_EQ(Slurp(ini), kStart);
        EXPECT_EQ(dir.Names(), std::vector<std::string>{"k.INI"});
    }
}

TEST(Settings, RefusedWrites) {
    TempDir dir;
    const std::string ini = dir.File("k.INI", kStart);
    errno = 0;
    EXPECT_FALSE(WritePaths(ini, "/a\nb", "/ok"));
    EXPECT_EQ(errno, EINVAL);
    iset o;
    o.Editor = "vi\r\n[Other]\r\nTagJump=0";
    EXPECT_FALSE(WriteOptions(ini, o));
    EXPECT_EQ(Slurp(ini), kStart);

    // A folder or a pipe at the path is neither read nor replaced.
    fs::create_directory(dir.Path("folder"));
    EXPECT_FALSE(WritePosition(dir.Path("folder"), 1, 2, 3, 4));
    EXPECT_TRUE(fs::is_directory(dir.Path("folder")));
    const std::string fifo = dir.Path("fifo");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_FALSE(WritePosition(fifo, 1, 2, 3, 4));
    EXPECT_TRUE(fs::is_fifo(fifo));
    // A dangling link is not followed into a new file.
    fs::create_symlink(dir.Path("nowhere/x.INI"), dir.Path("dangling"));
    EXPECT_FALSE(WritePosition(dir.Path("dangling"), 1, 2, 3, 4));
    EXPECT_TRUE(fs::is_symlink(dir.Path("dangling")));
}

TEST(IniPath, Choice) {
    TempDir dir;
    const std::string exe = dir.Path("korvalen");
    const std::string beside = exe + ".INI";
    EXPECT_EQ(ChooseIniPath(exe, true, "/x", "/h"), beside);
    EXPECT_EQ(ChooseIniPath(dir.Path("korvalen.bin"), true, nullptr, nullptr), beside);
    EXPECT_EQ(ChooseIniPath(exe, false, "/x", "/h"), "/x/korvalen/korvalen.INI");
    EXPECT_EQ(ChooseIniPath(exe, false, "relative", "/h"), "/h/.config/korvalen/korvalen.INI");
    EXPECT_EQ(ChooseIniPath(exe, false, nullptr, "/h"), "/h/.config/korvalen/korvalen.INI");
    EXPECT_EQ(ChooseIniPath(exe, false, nullptr, nullptr), beside);
    dir.File("korvalen.INI", "");
    EXPECT_EQ(ChooseIniPath(exe, false, "/x", "/h"), beside);
}

TEST(IniPath, BesideThisProgram) {
    // The test runs from a writable build folder.
    const fs::path exe = fs::read_symlink("/proc/self/exe");
    EXPECT_EQ(DefaultIniPath(), (exe.parent_path() / exe.stem()).string() + ".INI");
}

}  // namespace
}  // namespace korvalen
