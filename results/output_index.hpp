// The output file as a list of rows for the results window: hits grouped by
// input file under a head row with the count, separators, empty lines and
// error blocks as what they are. Rows are offsets into the file's bytes, read
// only when shown, so a million hits cost a few bytes each.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "results/hit_parse.hpp"

namespace korvalen {

// Whether the path, word or text of `hit` holds `filter`, as Filter finds it.
bool FilterHolds(const OutputLine& hit, std::string_view filter);

class OutputIndex {
  public:
    enum class RowKind : std::uint8_t { Group, Hit, FileError, Separator, Empty, Other };
    struct Row {               // 16 bytes a line
        std::uint64_t offset;  // of the line in the file (a group: of its first hit)
        std::uint32_t length;
        RowKind kind;
        std::uint8_t groupHigh;  // Group and Hit: the group's index into Groups(),
        std::uint16_t groupLow;  // in two parts so the row stays small
        std::uint32_t Group() const { return std::uint32_t{groupHigh} << 16 | groupLow; }
    };
    struct Group {
        std::uint64_t pathOffset;  // the path, as the file holds it
        std::uint32_t pathLength;
        std::uint32_t hits;
    };

    // Reads `outputFile` whole and indexes it. `currentDir` is where relative
    // paths are looked for after the output file's folder. False when the
    // file cannot be read (the index is then empty).
    bool Load(const std::string& outputFile, const std::string& currentDir);

    const std::vector<Row>& Rows() const { return rows_; }
    const std::vector<Group>& Groups() const { return groups_; }
    std::string_view Line(const Row& row) const {
        return std::string_view(bytes_.get() + row.offset, row.length);
    }
    std::string_view GroupPath(std::uint32_t group) const;
    // The reading of a Hit or FileError row (views into the file's bytes).
    OutputLine Read(const Row& row) const;
    // The file a hit's path names (file-system bytes).
    std::string FileOf(const OutputLine& hit) const;

    // Rows to show for `filter` (code page 932 bytes): all when empty, else
    // the hits whose path, word or text holds it, each under its group row.
    // It is found on characters (never from the middle of a double-byte
    // one), ASCII and full-width letters in either case.
    std::vector<std::uint32_t> Filter(std::string_view filter) const;

    std::size_t Bytes() const { return size_; }

  private:
    std::unique_ptr<char[]> bytes_;  // the file, not zeroed first
    std::size_t size_ = 0;
    std::string outputFile_, currentDir_;
    std::vector<Row> rows_;
    std::vector<Group> groups_;
};

}  // namespace korvalen
