#include "results/output_index.hpp"

#include <algorithm>
#include <array>
#include <unordered_map>

#include "platform/file.hpp"
#include "text/lines.hpp"
#include "text/sjis.hpp"

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
    // Only a line with several readings asks whether a file exists; once per
    // path, from folder listings read once.
    FileNameCache names;
    const PathExists exists = OutputPathExists(outputFile, currentDir, &names);
    std::unordered_map<std::string_view, bool> known;
    const PathExists cached = [&](std::string_view path) {
        const auto [it, fresh] = known.try_emplace(path, false);
        if (fresh) {
            it->second = exists(path);
        }
        return it->second;
    };
    const char* const base = bytes_.get();
    bool inHits = false;  // the last row was a hit
    ForEachLine(all, [&](std::string_view line) {
        const auto offset = static_cast<std::uint64_t>(line.data() - base);
        // Within a run of one file's hits, a reading of that file is taken
        // as it comes: only the first line of a run asks for the others.
        const std::string_view current =
            inHits ? GroupPath(static_cast<std::uint32_t>(groups_.size() - 1)) : "";
        const OutputLine read = ReadOutputLine(line, [&](std::string_view path) {
            return (inHits && path == current) || cached(path);
        });
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

// A character's bytes with ASCII and full-width letters in lower case (the
// length stays: 0x8260-0x8279 Ａ-Ｚ become 0x8281-0x829A ａ-ｚ).
void FoldChar(std::string_view ch, std::string& out) {
    const std::size_t at = out.size();
    out += ch;
    if (ch.size() == 1 && ch[0] >= 'A' && ch[0] <= 'Z') {
        out[at] = static_cast<char>(ch[0] + ('a' - 'A'));
    } else if (ch.size() == 2 && static_cast<unsigned char>(ch[0]) == 0x82) {
        const auto trail = static_cast<unsigned char>(ch[1]);
        if (trail >= 0x60 && trail <= 0x79) {
            out[at + 1] = static_cast<char>(trail + 0x21);
        }
    }
}

std::string Folded(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::string_view rest = text; !rest.empty();) {
        FoldChar(TakeChar(rest), out);
    }
    return out;
}

// Whether `text` holds `folded` (already Folded) starting on a character,
// letters in either case.
bool HoldsFolded(std::string_view text, std::string_view folded) {
    std::string chars;
    const char head = folded.empty() ? '\0' : folded[0];
    for (std::string_view rest = text; rest.size() >= folded.size();) {
        const char c = rest[0] >= 'A' && rest[0] <= 'Z' ? static_cast<char>(rest[0] + 32) : rest[0];
        if (c != head && (head & 0x80) == 0) {
            TakeChar(rest);  // an ASCII start that cannot match
            continue;
        }
        chars.clear();
        for (std::string_view ahead = rest; chars.size() < folded.size() && !ahead.empty();) {
            FoldChar(TakeChar(ahead), chars);
        }
        if (chars == folded) {
            return true;
        }
        TakeChar(rest);
    }
    return false;
}

bool HoldsAny(const OutputLine& hit, std::string_view folded) {
    return HoldsFolded(hit.path, folded) || HoldsFolded(hit.word, folded) ||
           HoldsFolded(hit.text, folded);
}

}  // namespace

bool FilterHolds(const OutputLine& hit, std::string_view filter) {
    return HoldsAny(hit, Folded(filter));
}

std::vector<std::uint32_t> OutputIndex::Filter(std::string_view filter) const {
    const std::string folded = Folded(filter);
    // A filter without letters is first looked for in the line's bytes,
    // which leaves out most lines cheaply.
    const bool letters =
        folded.find_first_of("abcdefghijklmnopqrstuvwxyz\x82") != std::string::npos;
    const auto mayHold = [&](std::string_view line) {
        return letters || line.find(folded) != std::string_view::npos;
    };
    std::vector<std::uint32_t> shown;
    shown.reserve(filter.empty() ? rows_.size() : 0);
    std::uint32_t pendingGroup = UINT32_MAX;  // the group row not yet shown
    for (std::uint32_t i = 0; i < rows_.size(); ++i) {
        const Row& row = rows_[i];
        if (filter.empty()) {
            shown.push_back(i);
        } else if (row.kind == RowKind::Group) {
            pendingGroup = i;
        } else if (row.kind == RowKind::Hit && mayHold(Line(row)) && HoldsAny(Read(row), folded)) {
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
