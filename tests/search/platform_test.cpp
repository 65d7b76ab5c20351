// The platform stand-ins: memory status, attributes and sizes of odd names.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <climits>
#include <ctime>
#include <filesystem>
#include <optional>
#include <regex>

#include "fixture.hpp"
#include "platform/file_info.hpp"
#include "platform/memory.hpp"
#include "platform/trash.hpp"
#include "tests/support/scoped_env.hpp"

namespace korvalen::test {
namespace {

TEST(Memory, ParsesMeminfo) {
    const auto status =
        ParseMeminfo("MemTotal:       16318540 kB\nMemFree:  1 kB\nMemAvailable:    9876543 kB\n");
    ASSERT_TRUE(status);
    EXPECT_EQ(status->total, std::int64_t{16318540} * 1024);
    EXPECT_EQ(status->available, std::int64_t{9876543} * 1024);
    EXPECT_FALSE(ParseMeminfo("MemTotal: 5 kB\nMemFree: 1 kB\n"));  // old kernels: no MemAvailable
    EXPECT_FALSE(ParseMeminfo("MemTotal: x kB\nMemAvailable: 1 kB\n"));
    EXPECT_FALSE(ParseMeminfo("MemTotalX: 5 kB\nMemAvailable: 1 kB\n"));
    const MemoryStatus real = ReadMemoryStatus();
    EXPECT_GT(real.total, 0);
    EXPECT_GT(real.available, 0);
    EXPECT_LE(real.available, real.total);
}

// A file opened on what was seen of it before is read whole, whatever happened since.
TEST(FileInfo, OddNamesAndReadOnASight) {
    TempDir dir;
    const std::string file = dir.File("f.txt", "12345");
    const std::string fifo = dir / "fifo", zero = dir / "zero", dangling = dir / "dangling";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0644), 0);
    ASSERT_EQ(::symlink("/dev/zero", zero.c_str()), 0);
    ASSERT_EQ(::symlink((dir / "nothing").c_str(), dangling.c_str()), 0);
    const int folder = ::open(dir.Path().c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    ASSERT_GE(folder, 0);
    const std::size_t leaf = dir.Path().size() + 1;
    struct Row {
        std::string path;
        std::optional<std::int64_t> size;  // a pipe is opened without blocking, refused
        bool exists;
        FileSight sight;
        std::optional<std::string> read;  // none: refused
    };
    const std::vector<Row> rows = {
        {file, 5, true, {5, -1, 0}, "12345"},
        {file, 5, true, {5, folder, leaf}, "12345"},
        {file, 5, true, {3, -1, 0}, "12345"},         // grown since
        {file, 5, true, {9, folder, leaf}, "12345"},  // shrunk since
        {fifo, {}, true, {5, -1, 0}, std::nullopt},   // no wait for a writer
        {fifo, {}, true, {0, -1, 0}, ""},             // nor when seen empty
        {zero, {}, true, {0, -1, 0}, std::nullopt},
        {zero, {}, true, {5, folder, leaf}, std::nullopt},  // not read on and on
        {dir.Path(), {}, false, {5, -1, 0}, std::nullopt},
        {dangling, {}, false, {5, -1, 0}, std::nullopt},
        {dir / "missing", {}, false, {5, -1, 0}, std::nullopt},
    };
    for (const Row& r : rows) {
        EXPECT_EQ(FileSizeOf(r.path), r.size) << r.path;
        EXPECT_EQ(FileExists(r.path), r.exists) << r.path;
        std::optional<std::string> got;
        try {
            File f(r.path, r.sight);
            std::string data;
            char buf[4096];
            while (const std::size_t n = f.Read(buf, sizeof buf)) {
                data.append(buf, n);
            }
            got = data;
        } catch (const FileError&) {
        }
        EXPECT_EQ(got, r.read) << r.path << " " << r.sight.size;
    }
    ::close(folder);
    // An open that fails through the file layer (as root too).
    FailingOps ops(file, FailingOps::Fail::Open, 0, EACCES);
    ScopedFileOps scoped(ops);
    EXPECT_EQ(FileSizeOf(file), std::nullopt);
}

// A file system that takes a few bytes of a write: every byte still goes out, in order.
TEST(FileInfo, ShortWritesGoOnToTheEnd) {
    TempDir dir;
    const std::string path = dir / "out.txt";
    FailingOps ops(path, FailingOps::Fail::Write, INT_MAX);
    ops.okBytes = 3;  // the first write puts 3 bytes, the next ones all
    ScopedFileOps scoped(ops);
    File out(path, File::Mode::Create);
    out.WriteAll("a(1) :(w)a line\r\n");
    out.Close();
    EXPECT_EQ(TempDir::Read(path), "a(1) :(w)a line\r\n");
}

TEST(Trash, HomeTrashFolder) {
    struct Case {
        const char* data;
        const char* home;
        std::string trash;
    };
    for (const Case& c : {Case{"/d", "/h", "/d/Trash"}, Case{"rel", "/h", "/h/.local/share/Trash"},
                          Case{nullptr, "/h", "/h/.local/share/Trash"}, Case{nullptr, nullptr, ""},
                          Case{"", "rel", ""}}) {
        ScopedEnv data("XDG_DATA_HOME", c.data);
        ScopedEnv home("HOME", c.home);
        EXPECT_EQ(HomeTrashPath(), c.trash) << (c.data ? c.data : "unset");
    }
    ScopedEnv tz("TZ", "UTC");
    ::tzset();
    EXPECT_EQ(TrashInfo("/a b/%\x82\xa0~.txt", 86399),
              "[Trash Info]\nPath=/a%20b/%25%82%A0~.txt\nDeletionDate=1970-01-01T23:59:59\n");
}

TEST(Trash, MovesIntoTheTrashItCreatesUnderFreeNames) {
    namespace fs = std::filesystem;
    TempDir dir;
    // Folders of which none exists yet: all made, for the user alone.
    ScopedEnv data("XDG_DATA_HOME", (dir / "data/share").c_str());
    const std::string trash = dir / "data/share/Trash";
    const std::string name = dir / "a b\x82\xa0.txt";
    for (const std::string free : {"", ".2", ".3"}) {
        TempDir::Write(name, free);
        ASSERT_TRUE(MoveToTrash(name)) << free;
        EXPECT_FALSE(fs::exists(name));
        const std::string stored = "/a b\x82\xa0" + free + ".txt";
        EXPECT_EQ(TempDir::Read(trash + "/files" + stored), free);
        const std::string info = TempDir::Read(trash + "/info" + stored + ".trashinfo");
        EXPECT_TRUE(std::regex_match(info, std::regex("\\[Trash Info\\]\nPath=" + dir.Path() +
                                                      "/a%20b%82%A0\\.txt\nDeletionDate=\\d{4}-"
                                                      "\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d\n")))
            << info;
    }
    for (const std::string& folder : {dir / "data", trash, trash + "/files", trash + "/info"}) {
        EXPECT_EQ(fs::status(folder).permissions(), fs::perms::owner_all) << folder;
    }
    // Nothing to move, a failed write of the info file, or no trash to be made.
    EXPECT_FALSE(MoveToTrash(dir / "missing"));
    const std::string kept = dir.File("kept", "k");
    const std::string keptInfo = trash + "/info/kept.trashinfo";
    {
        FailingOps ops(keptInfo, FailingOps::Fail::Write);
        ScopedFileOps scoped(ops);
        EXPECT_FALSE(MoveToTrash(kept));
        EXPECT_FALSE(fs::exists(keptInfo));
    }
    ScopedEnv blocked("XDG_DATA_HOME", dir.File("blocker", "").append("/share").c_str());
    EXPECT_FALSE(MoveToTrash(kept));
    EXPECT_EQ(TempDir::Read(kept), "k");
}

}  // namespace
}  // namespace korvalen::test
