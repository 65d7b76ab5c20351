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
        std::uint32_t row;  // the group's own row
    };
    // What Refresh found.
    enum class Change {
        Same,       // nothing added
        Grown,      // bytes added at the end, the start as read: Step reads them
        Rewritten,  // another file or other bytes: read again from the start
        Failed,     // cannot be read: the index is empty
    };

    OutputIndex();
    ~OutputIndex();
    OutputIndex(OutputIndex&&) noexcept;
    OutputIndex& operator=(OutputIndex&&) noexcept;

    // Reads `outputFile` whole and indexes it. `currentDir` is where relative
    // paths are looked for after the output file's folder. False when the
    // file cannot be read (the index is then empty).
    bool Load(const std::string& outputFile, const std::string& currentDir);
    // The same a piece at a time: Start empties the index and opens the
    // file, each Step reads and indexes about `bytes` more of it and says
    // whether more remains (the last line is indexed once the end is seen).
    bool Start(const std::string& outputFile, const std::string& currentDir);
    bool Step(std::size_t bytes);
    // Looks at the file again (a run appends to it or writes it anew). Only
    // what was added is read when the file grew and what was read of it is
    // still there; a last line that had no break yet is read again (its rows
    // go first). Then Step reads on.
    Change Refresh();
    bool Reading() const { return reading_; }

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
    // The same for the rows from `first` on, added to `shown` (which holds
    // what the filter shows of the rows before `first`).
    void FilterFrom(std::string_view filter, std::uint32_t first,
                    std::vector<std::uint32_t>& shown) const;

    std::size_t Bytes() const { return size_; }

  private:
    struct Reader;
    void Clear();
    // Indexes the whole lines read and not yet indexed; at the end (`last`)
    // the line without a break too.
    void IndexRead(bool last);
    void AddLine(std::string_view line);

    std::unique_ptr<char[]> bytes_;  // the file as read, not zeroed first
    std::size_t capacity_ = 0;
    std::size_t size_ = 0;     // bytes read
    std::size_t indexed_ = 0;  // bytes indexed: up to the end of a line
    bool reading_ = false;
    std::string outputFile_, currentDir_;
    std::vector<Row> rows_;
    std::vector<Group> groups_;
    std::unique_ptr<Reader> reader_;  // the open file and the names looked up
};

}  // namespace korvalen
