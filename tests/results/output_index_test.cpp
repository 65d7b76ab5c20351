// The results window's index read a piece at a time and read on as a run
// appends: always the rows that reading the file whole gives.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <tuple>
#include <vector>

#include "platform/file.hpp"
#include "results/output_index.hpp"
#include "tests/support/temp_dir.hpp"

namespace korvalen {
namespace {

// Counts the bytes read from files.
class CountingOps : public FileOps {
  public:
    ssize_t Read(int fd, void* buf, std::size_t n) override {
        return Count(FileOps::Read(fd, buf, n));
    }
    ssize_t ReadAt(int fd, void* buf, std::size_t n, off_t offset) override {
        return Count(FileOps::ReadAt(fd, buf, n, offset));
    }
    std::size_t bytes = 0;

  private:
    ssize_t Count(ssize_t got) {
        bytes += got > 0 ? static_cast<std::size_t>(got) : 0;
        return got;
    }
};

void Write(const std::string& path, const std::string& bytes, bool append) {
    std::ofstream(path, std::ios::binary | (append ? std::ios::app : std::ios::trunc)) << bytes;
}

using RowTuple = std::tuple<std::uint64_t, std::uint32_t, int, std::uint32_t>;
using GroupTuple = std::tuple<std::uint64_t, std::uint32_t, std::uint32_t, std::uint32_t>;

std::pair<std::vector<RowTuple>, std::vector<GroupTuple>> Shape(const OutputIndex& index) {
    std::pair<std::vector<RowTuple>, std::vector<GroupTuple>> shape;
    for (const auto& r : index.Rows()) {
        shape.first.emplace_back(r.offset, r.length, static_cast<int>(r.kind), r.Group());
    }
    for (const auto& g : index.Groups()) {
        shape.second.emplace_back(g.pathOffset, g.pathLength, g.hits, g.row);
    }
    return shape;
}

TEST(OutputIndex, ReadInPiecesAndOnAsTheFileChanges) {
    enum How { Append, Rewrite, Replace, Remove };
    using C = OutputIndex::Change;
    const struct {
        const char* name;
        std::string before;
        How how;
        std::string after;  // appended, or the new file
        C change;
    } cases[] = {
        {"hits added", "a(1) :(w)x\r\n", Append, "a(2) :(w)y\r\nb(1) :(w)z\r\n", C::Grown},
        {"a line without a break goes on", "a(1) :(w)x", Append, "yz\r\na(2) :(w)q", C::Grown},
        {"a CR, then its LF", "a(1) :(w)x\r", Append, "\nb(2) :(w)\r\n", C::Grown},
        {"a break after a head", "x\r\na(1) :(w)x", Append, "\r\n", C::Grown},
        {"nothing added", "a(1) :(w)x\r\n", Append, "", C::Same},
        {"written shorter", "a(1) :(w)x\r\nb(1) :(w)y\r\n", Rewrite, "c(1) :(w)z\r\n",
         C::Rewritten},
        {"written anew, longer", "a(1) :(w)x\r\n", Rewrite, "b(1) :(w)x\r\nb(2) :(w)y\r\n",
         C::Rewritten},
        {"another file in its place", "a(1) :(w)x\r\n", Replace, "a(1) :(w)x\r\na(2) :(w)\r\n",
         C::Rewritten},
        {"gone", "a(1) :(w)x\r\n", Remove, "", C::Failed},
    };
    const TempDir temp;  // of its own: other test programs may run at once
    const std::string dir = temp.Path(), path = temp / "out.txt";
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Write(path, c.before, false);
        OutputIndex whole, pieces;
        ASSERT_TRUE(whole.Load(path, dir));
        ASSERT_TRUE(pieces.Start(path, dir));
        while (pieces.Step(5)) {
        }
        EXPECT_EQ(Shape(pieces), Shape(whole));

        if (c.how == Replace) {
            Write(path + ".new", c.after, false);
            std::filesystem::rename(path + ".new", path);
        } else if (c.how == Remove) {
            std::filesystem::remove(path);
        } else {
            Write(path, c.after, c.how == Append);
        }
        CountingOps ops;
        ScopedFileOps scope(ops);
        EXPECT_EQ(pieces.Refresh(), c.change);
        while (pieces.Step(3)) {
        }
        if (c.change == C::Grown) {  // what was added and a look at what was read
            EXPECT_LE(ops.bytes, c.after.size() + 2 * c.before.size());
        }
        OutputIndex now;
        EXPECT_EQ(now.Load(path, dir), c.change != C::Failed);
        EXPECT_EQ(Shape(pieces), Shape(now));
        EXPECT_EQ(pieces.Bytes(), now.Bytes());
    }
}

}  // namespace
}  // namespace korvalen
