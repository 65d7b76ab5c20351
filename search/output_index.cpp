#include "search/output_index.hpp"

#include <unordered_map>

#include "platform/file.hpp"
#include "text/lines.hpp"

namespace korvalen {

bool OutputIndex::Load(const std::string& outputFile, const std::string& currentDir) {
    bytes_.clear();
    rows_.clear();
    groups_.clear();
    outputFile_ = outputFile;
    currentDir_ = currentDir;
    exists_ = OutputPathExists(outputFile, currentDir);
    try {
        File file(outputFile, File::Mode::Read);
        bytes_.resize(static_cast<std::size_t>(file.Size()));
        std::size_t got = 0;
        while (got < bytes_.size()) {
            const std::size_t n = file.Read(bytes_.data() + got, bytes_.size() - got);
            if (n == 0) {
                break;
            }
            got += n;
        }
        bytes_.resize(got);
    } catch (const FileError&) {
        bytes_.clear();
        return false;
    }
    // Only a line with several readings asks the file system; once per path.
    std::unordered_map<std::string_view, bool> known;
    const PathExists cached = [&](std::string_view path) {
        const auto [it, fresh] = known.try_emplace(path, false);
        if (fresh) {
            it->second = exists_(path);
        }
        return it->second;
    };
    const char* const base = bytes_.data();
    ForEachLine(bytes_, [&](std::string_view line) {
        Row row{static_cast<std::uint64_t>(line.data() - base),
                static_cast<std::uint32_t>(line.size()), RowKind::Other, 0};
        const OutputLine read = ReadOutputLine(line, cached);
        switch (read.kind) {
            case OutputLineKind::Hit: {
                const auto pathOffset = static_cast<std::uint64_t>(read.path.data() - base);
                if (groups_.empty() || rows_.empty() || rows_.back().kind != RowKind::Hit ||
                    GroupPath(static_cast<std::uint32_t>(groups_.size() - 1)) != read.path) {
                    groups_.push_back(
                        {pathOffset, static_cast<std::uint32_t>(read.path.size()), 0});
                    rows_.push_back({row.offset, row.length, RowKind::Group,
                                     static_cast<std::uint32_t>(groups_.size() - 1)});
                }
                ++groups_.back().hits;
                row.kind = RowKind::Hit;
                row.group = static_cast<std::uint32_t>(groups_.size() - 1);
                break;
            }
            case OutputLineKind::FileError:
                row.kind = RowKind::FileError;
                break;
            case OutputLineKind::Separator:
                row.kind = RowKind::Separator;
                break;
            case OutputLineKind::Empty:
                row.kind = RowKind::Empty;
                break;
            case OutputLineKind::Other:
                break;
        }
        rows_.push_back(row);
    });
    return true;
}

std::string_view OutputIndex::GroupPath(std::uint32_t group) const {
    const Group& g = groups_[group];
    return std::string_view(bytes_).substr(g.pathOffset, g.pathLength);
}

OutputLine OutputIndex::Read(const Row& row) const {
    const std::string_view line = Line(row);
    OutputLine read = ReadOutputLine(line, [&](std::string_view path) {
        return row.kind == RowKind::Hit && path == GroupPath(row.group);
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
