// The platform stand-ins: memory status, attributes and sizes of odd names.
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "fixture.hpp"
#include "platform/file_info.hpp"
#include "platform/memory.hpp"

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

TEST(FileInfo, OddNames) {
    TempDir dir;
    const std::string file = dir / "f.txt";
    WriteBytes(file, "12345");
    const std::string fifo = dir / "fifo";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0644), 0);
    const std::string dangling = dir / "dangling";
    ASSERT_EQ(::symlink((dir / "nothing").c_str(), dangling.c_str()), 0);

    EXPECT_EQ(FileSizeOf(file), 5);
    EXPECT_EQ(FileSizeOf(dir.Path()), std::nullopt);  // a folder
    EXPECT_EQ(FileSizeOf(fifo), std::nullopt);        // opened without blocking, refused
    EXPECT_EQ(FileSizeOf(dangling), std::nullopt);
    EXPECT_EQ(FileSizeOf(dir / "missing"), std::nullopt);

    EXPECT_TRUE(FileExists(file));
    EXPECT_TRUE(FileExists(fifo));
    EXPECT_FALSE(FileExists(dir.Path()));
    EXPECT_FALSE(FileExists(dangling));

    const auto attrs = GetFileAttributes(dir.Path());
    ASSERT_TRUE(attrs);
    EXPECT_TRUE(attrs->directory);
    EXPECT_FALSE(GetFileAttributes(dangling));
    EXPECT_EQ(GetFileAttributes(file)->id, GetFileAttributes(dir / "./f.txt")->id);
    EXPECT_NE(GetFileAttributes(file)->id, GetFileAttributes(fifo)->id);
}

TEST(FileInfo, OpenThroughTheSeamFails) {
    TempDir dir;
    const std::string file = dir / "f.txt";
    WriteBytes(file, "12345");
    FailingOps ops(file, FailingOps::Fail::Open, 0, EACCES);
    ScopedFileOps scoped(ops);
    EXPECT_EQ(FileSizeOf(file), std::nullopt);
    try {
        File f(file, File::Mode::Read);
        ADD_FAILURE() << "opened";
    } catch (const FileError& e) {
        EXPECT_EQ(e.Errno(), EACCES);
        EXPECT_EQ(e.Path(), file);
    }
}

}  // namespace
}  // namespace korvalen::test
