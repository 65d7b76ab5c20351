#include "results/output_index.hpp"

#include <algorithm>
#include <array>
#include <functional>
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

// What reading the file on needs: the file as opened, the names looked up,
// and the last line when it had no break yet (read again when more comes).
struct OutputIndex::Reader {
    struct TextHash {
        using is_transparent = void;
        std::size_t operator()(std::string_view text) const noexcept {
            return std::hash<std::string_view>{}(text);
        }
    };

    Reader(File opened, const std::string& outputFile, const std::string& currentDir)
        : file(std::move(opened)),
          id(file.Id()),
          exists(OutputPathExists(outputFile, currentDir, &names)) {}

    // Whether the file of a path exists: once per path, from folder listings
    // read once.
    bool Known(std::string_view path) {
        const auto it = known.find(path);
        if (it != known.end()) {
            return it->second;
        }
        const bool there = exists(path);
        known.emplace(std::string(path), there);
        return there;
    }

    File file;
    FileId id;
    FileNameCache names;
    PathExists exists;
    std::unordered_map<std::string, bool, TextHash, std::equal_to<>> known;
    std::size_t end = 0;  // the file's size when last seen
    bool open = false;    // the last row is of a line without a break
    std::size_t openStart = 0, rowsBefore = 0, groupsBefore = 0;
    std::uint32_t hitsBefore = 0;  // of the last group before that line
};

OutputIndex::OutputIndex() = default;
OutputIndex::~OutputIndex() = default;
OutputIndex::OutputIndex(OutputIndex&&) noexcept = default;
OutputIndex& OutputIndex::operator=(OutputIndex&&) noexcept = default;

void OutputIndex::Clear() {
    bytes_.reset();
    capacity_ = size_ = indexed_ = 0;
    reading_ = false;
    rows_ = {};
    groups_ = {};
    reader_.reset();
}

bool OutputIndex::Load(const std::string& outputFile, const std::string& currentDir) {
    if (!Start(outputFile, currentDir)) {
        return false;
    }
    while (Step(std::size_t{1} << 24)) {
    }
    return true;
}

bool OutputIndex::Start(const std::string& outputFile, const std::string& currentDir) {
    Clear();
    outputFile_ = outputFile;
    currentDir_ = currentDir;
    try {
        auto reader =
            std::make_unique<Reader>(File(outputFile, File::Mode::Read), outputFile, currentDir);
        reader->end = capacity_ = static_cast<std::size_t>(reader->file.Size());
        bytes_ = std::make_unique_for_overwrite<char[]>(capacity_);
        reader_ = std::move(reader);
    } catch (const FileError&) {
        Clear();
        return false;
    }
    reading_ = true;
    return true;
}

bool OutputIndex::Step(std::size_t bytes) {
    if (!reading_) {
        return false;
    }
    Reader& r = *reader_;
    const std::size_t want = std::min(bytes, r.end - size_);
    std::size_t got = 0;
    try {
        if (size_ + want > capacity_) {
            // Room for a quarter more than now, so that copies stay few
            // while a run appends.
            const std::size_t capacity = std::max(r.end, size_ + size_ / 4);
            auto grown = std::make_unique_for_overwrite<char[]>(capacity);
            std::copy_n(bytes_.get(), size_, grown.get());
            bytes_ = std::move(grown);
            capacity_ = capacity;
        }
        if (want > 0) {
            got = r.file.ReadAt(bytes_.get() + size_, want, static_cast<std::int64_t>(size_));
        }
    } catch (const FileError&) {
        got = 0;  // cut short while we read: index what there is
    }
    size_ += got;
    // Up to the size seen last: what comes later, Refresh finds.
    reading_ = got != 0 && size_ < r.end;
    IndexRead(!reading_);
    return reading_;
}

OutputIndex::Change OutputIndex::Refresh() {
    if (outputFile_.empty()) {
        return Change::Failed;
    }
    try {
        File now(outputFile_, File::Mode::Read);
        const auto size = static_cast<std::size_t>(now.Size());
        // What was read is still there: the same file, no shorter, the same
        // bytes at its start and where the reading stopped.
        constexpr std::size_t kCheck = 4096;
        const auto holds = [&](std::size_t from) {
            std::array<char, kCheck> buf;
            const std::size_t n = std::min(kCheck, size_ - from);
            return now.ReadAt(buf.data(), n, static_cast<std::int64_t>(from)) == n &&
                   std::equal(buf.begin(), buf.begin() + static_cast<std::ptrdiff_t>(n),
                              bytes_.get() + from);
        };
        if (!reader_ || now.Id() != reader_->id || size < size_ || !holds(0) ||
            !holds(size_ - std::min(kCheck, size_))) {
            return Start(outputFile_, currentDir_) ? Change::Rewritten : Change::Failed;
        }
        Reader& r = *reader_;
        r.file = std::move(now);
        r.end = size;
        if (size == size_) {
            return Change::Same;
        }
        if (r.open) {
            rows_.resize(r.rowsBefore);
            groups_.resize(r.groupsBefore);
            if (!groups_.empty()) {
                groups_.back().hits = r.hitsBefore;
            }
            indexed_ = r.openStart;
            r.open = false;
        }
        reading_ = true;
        return Change::Grown;
    } catch (const FileError&) {
        Clear();
        return Change::Failed;
    }
}

void OutputIndex::IndexRead(bool last) {
    const std::string_view all(bytes_.get(), size_);
    std::size_t begin = indexed_;
    while (begin < size_) {
        const LineBreak br = FindBreak(all, begin);
        // A CR that ends what is read may be the first half of a CR LF.
        if (br.pos == std::string_view::npos || (br.pos + 1 == size_ && all[br.pos] == '\r')) {
            if (!last) {
                break;
            }
            // The last line: its rows go when the file grows.
            Reader& r = *reader_;
            r.open = true;
            r.openStart = begin;
            r.rowsBefore = rows_.size();
            r.groupsBefore = groups_.size();
            r.hitsBefore = groups_.empty() ? 0 : groups_.back().hits;
            AddLine(all.substr(begin, std::min(br.pos, size_) - begin));
            begin = size_;
            break;
        }
        AddLine(all.substr(begin, br.pos - begin));
        begin = br.pos + br.len;
    }
    indexed_ = begin;
}

void OutputIndex::AddLine(std::string_view line) {
    const char* const base = bytes_.get();
    const auto offset = static_cast<std::uint64_t>(line.data() - base);
    const bool inHits = !rows_.empty() && rows_.back().kind == RowKind::Hit;
    // Only a line with several readings asks whether a file exists. Within a
    // run of one file's hits, a reading of that file is taken as it comes:
    // only the first line of a run asks for the others.
    struct {
        bool inHits;
        std::string_view current;
        Reader* reader;
    } const run{inHits, inHits ? GroupPath(static_cast<std::uint32_t>(groups_.size() - 1)) : "",
                reader_.get()};
    const std::string_view current = run.current;
    // The next line of a run that starts with its path and a head: a
    // reading of that file, whatever the rest holds (a shorter reading names
    // the files the run's first line found missing). Else every reading is
    // looked at; one pointer caught: the function object needs no memory.
    OutputLine read;
    if (!inHits || !line.starts_with(current) || !ReadHitAt(line, current.size(), read)) {
        read = ReadOutputLine(line, [p = &run](std::string_view path) {
            return (p->inHits && path == p->current) || p->reader->Known(path);
        });
    }
    const RowKind kind = kRowOf[static_cast<std::size_t>(read.kind)];
    if (kind == RowKind::Hit) {
        if ((!inHits || current != read.path) && groups_.size() < kMostGroups) {
            groups_.push_back({static_cast<std::uint64_t>(read.path.data() - base),
                               static_cast<std::uint32_t>(read.path.size()), 0,
                               static_cast<std::uint32_t>(rows_.size())});
            rows_.push_back(MakeRow(offset, line.size(), RowKind::Group, groups_.size() - 1));
        }
        ++groups_.back().hits;
    }
    rows_.push_back(
        MakeRow(offset, line.size(), kind, kind == RowKind::Hit ? groups_.size() - 1 : 0));
}

std::string_view OutputIndex::GroupPath(std::uint32_t group) const {
    const Group& g = groups_[group];
    return std::string_view(bytes_.get() + g.pathOffset, g.pathLength);
}

OutputLine OutputIndex::Read(const Row& row) const {
    const std::string_view line = Line(row);
    // A hit's reading is the one of its group's path.
    OutputLine read;
    const std::string_view group = row.kind == RowKind::Hit ? GroupPath(row.Group()) : "";
    if (group.empty() || !line.starts_with(group) || !ReadHitAt(line, group.size(), read)) {
        read = ReadOutputLine(line, [&](std::string_view path) { return path == group; });
    }
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
    std::vector<std::uint32_t> shown;
    shown.reserve(filter.empty() ? rows_.size() : 0);
    FilterFrom(filter, 0, shown);
    return shown;
}

void OutputIndex::FilterFrom(std::string_view filter, std::uint32_t first,
                             std::vector<std::uint32_t>& shown) const {
    const auto rows = static_cast<std::uint32_t>(rows_.size());
    if (filter.empty()) {
        for (std::uint32_t i = first; i < rows; ++i) {
            shown.push_back(i);
        }
        return;
    }
    const std::string folded = Folded(filter);
    // A filter without letters is first looked for in the line's bytes,
    // which leaves out most lines cheaply.
    const bool letters =
        folded.find_first_of("abcdefghijklmnopqrstuvwxyz\x82") != std::string::npos;
    for (std::uint32_t i = first; i < rows; ++i) {
        const Row& row = rows_[i];
        if (row.kind == RowKind::Hit &&
            (letters || Line(row).find(folded) != std::string_view::npos) &&
            HoldsAny(Read(row), folded)) {
            // A group's rows are together: its row is shown unless a row
            // after it already is.
            const std::uint32_t group = groups_[row.Group()].row;
            if (shown.empty() || shown.back() < group) {
                shown.push_back(group);
            }
            shown.push_back(i);
        }
    }
}

}  // namespace korvalen
