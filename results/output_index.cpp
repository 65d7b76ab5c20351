#include "results/output_index.hpp"

#include <algorithm>
#include <array>
#include <unordered_map>

#include "platform/file.hpp"
#include "text/lines.hpp"

namespace korvalen {

namespace {

constexpr std::size_t kMostGroups = std::size_t{1} << 24;

// A row's kind for each kind of output line, in OutputLineKind's order.
constexpr std::array kRowOf = {OutputIndex::RowKind::Empty, OutputIndex::RowKind::Separator,
                               OutputIndex::RowKind::Hit, OutputIndex::RowKind::FileError,
                               OutputIndex::RowKind::Other};
static_assert(kRowOf.size() == static_cast<std::size_t>(OutputLineKind::Other) + 1);

OutputIndex::Row MakeRow(std::uint64_t offset, std::size_t length, OutputIndex::RowKind kind,
                         std::size_t group) {
    return {offset, static_cast<std::uint32_t>(length), kind,
            static_cast<std::uint8_t>(group >> 16), static_cast<std::uint16_t>(group & 0xFFFF)};
}

}  // namespace

bool OutputIndex::Load(const std::string& outputFile, const std::string& currentDir) {
    bytes_.reset();
    size_ = 0;
    rows_ = {};
    groups_ = {};
    outputFile_ = outputFile;
    currentDir_ = currentDir;
    exists_ = OutputPathExists(outputFile, currentDir);
    try {
        File file(outputFile, File::Mode::Read);
        const auto size = static_cast<std::size_t>(file.Size());
        bytes_ = std::make_unique_for_overwrite<char[]>(size);
        while (size_ < size) {
            const std::size_t n = file.Read(bytes_.get() + size_, size - size_);
            if (n == 0) {
                break;  // cut short while we read: index what there is
            }
            size_ += n;
        }
    } catch (const FileError&) {
        bytes_.reset();
        size_ = 0;
        return false;
    }
    const std::string_view all(bytes_.get(), size_);
    // One row a line, and a group row for every run of one file's hits: about
    // as many as the line feeds, so reserving them saves the copies of growth.
    rows_.reserve(static_cast<std::size_t>(std::count(all.begin(), all.end(), '\n')) + 16);
    // Only a line with several readings asks the file system; once per path.
    std::unordered_map<std::string_view, bool> known;
    const PathExists cached = [&](std::string_view path) {
        const auto [it, fresh] = known.try_emplace(path, false);
        if (fresh) {
            it->second = exists_(path);
        }
        return it->second;
    };
    const char* const base = bytes_.get();
    bool inHits = false;  // the last row was a hit
    ForEachLine(all, [&](std::string_view line) {
        const auto offset = static_cast<std::uint64_t>(line.data() - base);
        const OutputLine read = ReadOutputLine(line, cached);
        const RowKind kind = kRowOf[static_cast<std::size_t>(read.kind)];
        if (kind == RowKind::Hit) {
            if ((!inHits ||
                 GroupPath(static_cast<std::uint32_t>(groups_.size() - 1)) != read.path) &&
                groups_.size() < kMostGroups) {
                groups_.push_back({static_cast<std::uint64_t>(read.path.data() - base),
                                   static_cast<std::uint32_t>(read.path.size()), 0});
                rows_.push_back(MakeRow(offset, line.size(), RowKind::Group, groups_.size() - 1));
            }
            ++groups_.back().hits;
        }
        inHits = kind == RowKind::Hit;
        rows_.push_back(MakeRow(offset, line.size(), kind, inHits ? groups_.size() - 1 : 0));
    });
    return true;
}

std::string_view OutputIndex::GroupPath(std::uint32_t group) const {
    const Group& g = groups_[group];
    return std::string_view(bytes_.get() + g.pathOffset, g.pathLength);
}

OutputLine OutputIndex::Read(const Row& row) const {
    const std::string_view line = Line(row);
    OutputLine read = ReadOutputLine(line, [&](std::string_view path) {
        return row.kind == RowKind::Hit && path == GroupPath(row.Group());
    });
    return read;
}

std::string OutputIndex::FileOf(const OutputLine& hit) const {
    return ResolveOutputPath(hit.path, outputFile_, currentDir_);
}

namespace {

bool Holds(const OutputLine& hit, std::string_view filter) {
    return hit.path.find(filter) != std::string_view::npos ||
           hit.word.find(filter) != std::string_view::npos ||
           hit.text.find(filter) != std::string_view::npos;
}

}  // namespace

std::vector<std::uint32_t> OutputIndex::Filter(std::string_view filter) const {
    std::vector<std::uint32_t> shown;
    shown.reserve(filter.empty() ? rows_.size() : 0);
    std::uint32_t pendingGroup = UINT32_MAX;  // the group row not yet shown
    for (std::uint32_t i = 0; i < rows_.size(); ++i) {
        const Row& row = rows_[i];
        if (filter.empty()) {
            shown.push_back(i);
        } else if (row.kind == RowKind::Group) {
            pendingGroup = i;
        } else if (row.kind == RowKind::Hit && Line(row).find(filter) != std::string_view::npos &&
                   Holds(Read(row), filter)) {
            if (pendingGroup != UINT32_MAX) {
                shown.push_back(pendingGroup);
                pendingGroup = UINT32_MAX;
            }
            shown.push_back(i);
        }
    }
    return shown;
}

}  // namespace korvalen
