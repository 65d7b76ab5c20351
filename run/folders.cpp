#include "run/folders.hpp"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <deque>
#include <limits>
#include <memory>
#include <utility>

#include "platform/file.hpp"
#include "text/cp932.hpp"
#include "text/encoding.hpp"

namespace korvalen {

namespace {

char Lower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c + ('a' - 'A')) : c;
}

// Bytes of the character that starts at `i`: a UTF-8 sequence (names and
// patterns are matched in UTF-8, see Utf8Name) or a single byte that is none.
std::size_t CharLength(std::string_view s, std::size_t i) {
    const auto lead = static_cast<unsigned char>(s[i]);
    const std::size_t want = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
    std::size_t n = 1;
    while (n < want && i + n < s.size() && (static_cast<unsigned char>(s[i + n]) & 0xC0) == 0x80) {
        ++n;
    }
    return n;
}

// One pattern against a whole name; a "*" that failed is retried one
// character further on, so the work stays linear per star.
bool Matches(std::string_view pattern, std::string_view name) {
    std::size_t p = 0, n = 0;
    std::size_t starP = std::string_view::npos, starN = 0;
    while (n < name.size()) {
        if (p < pattern.size() && pattern[p] == '*') {
            starP = ++p;
            starN = n;
        } else if (p < pattern.size() && pattern[p] == '?') {
            ++p;
            n += CharLength(name, n);
        } else if (p < pattern.size() && Lower(pattern[p]) == Lower(name[n])) {
            ++p;
            ++n;
        } else if (starP != std::string_view::npos) {
            p = starP;
            starN += CharLength(name, starN);
            n = starN;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == '*') {
        ++p;
    }
    return p == pattern.size();
}

std::string_view TrimBlanks(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) {
        s.remove_prefix(1);
    }
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) {
        s.remove_suffix(1);
    }
    return s;
}

// A name as the file system holds it, read as characters: UTF-8 when it is
// UTF-8, otherwise code page 932 (names from Windows), converted. So a pattern
// meets a name character by character, never a second byte of one.
std::string_view Utf8Name(std::string_view name, std::string& converted) {
    if (IsValidUtf8(name)) {
        return name;
    }
    converted = Cp932ToUtf8(name);
    return converted;
}

// The patterns of a filter, split once for a whole walk.
class FilterPatterns {
  public:
    explicit FilterPatterns(std::string_view raw) {
        std::string_view filter = Utf8Name(raw, filter_);
        while (true) {
            const std::size_t semi = filter.find(';');
            const std::string_view pattern = TrimBlanks(filter.substr(0, semi));
            if (!pattern.empty()) {
                patterns_.push_back(Pattern{pattern, IsStarSuffix(pattern)});
            }
            if (semi == std::string_view::npos) {
                break;
            }
            filter.remove_prefix(semi + 1);
        }
    }

    // The patterns point into filter_.
    FilterPatterns(const FilterPatterns&) = delete;
    FilterPatterns& operator=(const FilterPatterns&) = delete;

    bool Match(std::string_view raw) const {
        if (patterns_.empty()) {
            return true;
        }
        std::string converted;
        const std::string_view name = Utf8Name(raw, converted);
        for (const Pattern& p : patterns_) {
            if (p.starSuffix ? EndsWith(name, p.text.substr(1)) : Matches(p.text, name)) {
                return true;
            }
        }
        return false;
    }

  private:
    // "*.txt": a star, then text without wildcards that starts a character
    // (so any place it matches at, the star could have stopped at).
    static bool IsStarSuffix(std::string_view pattern) {
        return pattern.size() > 1 && pattern[0] == '*' &&
               pattern.find_first_of("*?", 1) == std::string_view::npos &&
               (static_cast<unsigned char>(pattern[1]) & 0xC0) != 0x80;
    }

    static bool EndsWith(std::string_view name, std::string_view tail) {
        if (name.size() < tail.size()) {
            return false;
        }
        name.remove_prefix(name.size() - tail.size());
        for (std::size_t i = 0; i < tail.size(); ++i) {
            if (Lower(name[i]) != Lower(tail[i])) {
                return false;
            }
        }
        return true;
    }

    struct Pattern {
        std::string_view text;
        bool starSuffix;
    };
    std::string filter_;  // the filter converted, when it was not UTF-8
    std::vector<Pattern> patterns_;
};

struct DirCloser {
    void operator()(DIR* dir) const noexcept { ::closedir(dir); }
};
using DirHandle = std::unique_ptr<DIR, DirCloser>;

struct FreeCloser {
    void operator()(char* p) const noexcept { std::free(p); }
};

// The first eight bytes of a name as a number that orders as the names do
// (no name holds a NUL): most comparisons of a sort end there.
std::uint64_t NameKey(std::string_view name) {
    std::uint64_t key = 0;
    for (std::size_t i = 0; i < 8; ++i) {
        key = key << 8 | (i < name.size() ? static_cast<unsigned char>(name[i]) : 0U);
    }
    return key;
}

// Whether name `a` comes before name `b` in a folder's order.
bool Before(std::uint64_t aKey, std::string_view a, std::uint64_t bKey, std::string_view b) {
    return aKey != bKey ? aKey < bKey : a < b;
}

// One folder's names in one byte arena, each followed by a NUL (for the
// system calls), sorted through entries of 16 bytes: a million names cost
// tens of MB, not a string and its attributes each.
class NameList {
  public:
    // False when the arena's offsets are used up.
    bool Add(std::string_view name, bool link) {
        if (bytes_.size() + name.size() + 1 > std::numeric_limits<std::uint32_t>::max() ||
            name.size() > std::numeric_limits<std::uint16_t>::max()) {
            return false;
        }
        entries_.push_back(Entry{NameKey(name), static_cast<std::uint32_t>(bytes_.size()),
                                 static_cast<std::uint16_t>(name.size()), link});
        bytes_.append(name).push_back('\0');
        return true;
    }

    // The names are then laid out in their order too: read in the order
    // listed, a large folder's names would cost a cache and TLB miss each
    // between the system calls of each file.
    void Sort() {
        std::sort(entries_.begin(), entries_.end(), [this](const Entry& a, const Entry& b) {
            return Before(a.key, Text(a), b.key, Text(b));
        });
        std::string bytes;
        bytes.reserve(bytes_.size());
        for (Entry& e : entries_) {
            const std::size_t at = bytes.size();
            bytes.append(bytes_, e.at, e.size + std::size_t{1});
            e.at = static_cast<std::uint32_t>(at);
        }
        bytes_.swap(bytes);
    }

    std::size_t Size() const noexcept { return entries_.size(); }
    std::string_view Name(std::size_t i) const { return Text(entries_[i]); }
    const char* CName(std::size_t i) const { return bytes_.data() + entries_[i].at; }
    std::uint64_t Key(std::size_t i) const { return entries_[i].key; }
    bool Link(std::size_t i) const { return entries_[i].link; }
    std::size_t Bytes() const noexcept {
        return entries_.capacity() * sizeof(Entry) + bytes_.capacity();
    }

    // Emptied for the next folder; the room of a large one is given back.
    void Clear() {
        if (entries_.capacity() > 4096) {
            std::vector<Entry>().swap(entries_);
            std::string().swap(bytes_);
        }
        entries_.clear();
        bytes_.clear();
    }

  private:
    struct Entry {
        std::uint64_t key;
        std::uint32_t at;
        std::uint16_t size;
        bool link;  // a symbolic link: what it names may be reached again
    };
    std::string_view Text(const Entry& e) const { return {bytes_.data() + e.at, e.size}; }

    std::string bytes_;
    std::vector<Entry> entries_;
};

// Identities of files or folders: open addressing in one array.
class IdSet {
  public:
    // False when `id` was there already.
    bool Insert(const FileId& id) {
        if (2 * (count_ + 1) > slots_.size()) {
            Grow();
        }
        Slot& slot = Find(id);
        if (slot.used) {
            return false;
        }
        slot = Slot{id, true};
        ++count_;
        return true;
    }

    bool Contains(const FileId& id) const { return count_ > 0 && Find(id).used; }
    std::size_t Size() const noexcept { return count_; }

  private:
    struct Slot {
        FileId id;
        bool used = false;
    };

    static std::size_t Hash(const FileId& id) noexcept {
        // Inode numbers of one folder are often close together: mix them.
        std::uint64_t h = static_cast<std::uint64_t>(id.ino) * 0x9E3779B97F4A7C15ULL;
        h ^= static_cast<std::uint64_t>(id.dev) + (h >> 29);
        return static_cast<std::size_t>(h ^ (h >> 32));
    }

    // The slot of `id`, or the free one where it would go.
    Slot& Find(const FileId& id) const {
        const std::size_t mask = slots_.size() - 1;
        for (std::size_t i = Hash(id) & mask;; i = (i + 1) & mask) {
            Slot& slot = slots_[i];
            if (!slot.used || slot.id == id) {
                return slot;
            }
        }
    }

    void Grow() {
        std::vector<Slot> old(std::max<std::size_t>(64, 2 * slots_.size()));
        old.swap(slots_);
        count_ = 0;
        for (const Slot& slot : old) {
            if (slot.used) {
                Insert(slot.id);
            }
        }
    }

    mutable std::vector<Slot> slots_;
    std::size_t count_ = 0;
};

FileId IdOf(const struct stat& st) {
    return FileId{st.st_dev, st.st_ino};
}

// A count keeps the folders it read for the walk after it while those kept
// before take less than this many bytes of names: one large folder is kept
// whole after them (the walk holds it whole anyway).
constexpr std::size_t kKeptBytes = std::size_t{32} << 20;

}  // namespace

// The folders a count read, in the order read, each as the count read it:
// its names, and how many entries the reading met (the walk's pauses).
class DropListings {
  public:
    struct Listing {
        std::string path;
        FileId id;
        NameList files;
        NameList folders;  // sorted
        std::size_t entries = 0;
        bool linkHere = false;  // a count sorts the files then only
    };
    std::deque<Listing> kept;
    std::size_t bytes = 0;
    bool full = false;  // one was left out: none after it
};

class DropWalk::Impl {
  public:
    Impl(const std::vector<std::string>& names, std::string_view filter, bool folders,
         std::function<bool(std::size_t)> pause, bool look)
        : names_(names), filter_(filter), folders_(folders), look_(look), pause_(std::move(pause)) {
        if (!folders_) {
            return;
        }
        // A file dropped by name may be met in a folder too, before or after.
        for (const std::string& name : names_) {
            struct stat st {};
            if (::stat(name.c_str(), &st) == 0 && !S_ISDIR(st.st_mode)) {
                dropped_.Insert(IdOf(st));
            }
        }
    }

    bool Next(DropName& out) {
        while (going_) {
            if (NextFile(out)) {
                return true;
            }
            if (!stack_.empty()) {
                // The next sub-folder, deepest first.
                Frame& top = stack_.back();
                if (top.next == top.folders.Size()) {
                    stack_.pop_back();
                    continue;
                }
                const std::string path = top.prefix + std::string(top.folders.Name(top.next++));
                if (Enter(path, out)) {
                    return true;
                }
                continue;
            }
            if (nextName_ == names_.size()) {
                return false;
            }
            if (NextDropped(out)) {
                return true;
            }
        }
        return false;
    }

    std::size_t Held() const noexcept {
        std::size_t held = files_.Size() + seen_.Size() + dirs_.Size() + dropped_.Size();
        for (const Frame& frame : stack_) {
            held += frame.folders.Size() - frame.next;
        }
        if (listings_) {
            for (const DropListings::Listing& l : listings_->kept) {
                held += l.files.Size() + l.folders.Size();
            }
        }
        return held;
    }

    std::size_t OverCounted() const noexcept { return overCounted_; }
    void LookByName() noexcept { open_ = false; }

    void Listings(std::shared_ptr<DropListings> listings) { listings_ = std::move(listings); }

  private:
    // The sub-folders of a folder entered, still to enter.
    struct Frame {
        std::string prefix;  // the folder's path and "/"
        NameList folders;
        std::size_t next = 0;
    };

    bool NextDropped(DropName& out) {
        const std::string& name = names_[nextName_++];
        std::optional<FileAttributes> attrs = GetFileAttributes(name);
        if (attrs && attrs->directory) {
            if (!folders_) {
                out = DropName{name, false, attrs, 0, {}};  // the run skips it
                return true;
            }
            if (!metFolder_) {
                metFolder_ = true;
                going_ = pause_(0);
                if (!going_) {
                    return false;
                }
            }
            // "corpus/" as typed gives "corpus/a.txt", not "corpus//a.txt".
            return Enter(
                name.size() > 1 && name.back() == '/' ? name.substr(0, name.size() - 1) : name,
                out);
        }
        // A file reached before (dropped, or found in a folder) is searched once.
        if (attrs && !seen_.Insert(attrs->id)) {
            return false;
        }
        out = DropName{name, false, attrs, 0, {}};
        return true;
    }

    // The next file of the folder in hand that is to be taken.
    bool NextFile(DropName& out) {
        while (fileNext_ < files_.Size()) {
            const std::size_t i = fileNext_++;
            // Until a link is met, no file found in a folder can be a repeat
            // unless files were dropped by name: a count takes them unseen.
            // Every walk over the same names meets the first link at the same file.
            const bool unseen = !metLink_ && dropped_.Size() == 0 && !files_.Link(i);
            metLink_ = metLink_ || files_.Link(i);
            struct stat st {};
            if (!look_ && unseen) {
                Hand(out, i, std::nullopt, Descriptor());
                return true;
            }
            Descriptor fd = Open(i, out.name);
            if (fd.Valid() && ::fstat(fd.Get(), &st) != 0) {
                fd.Reset();
            }
            // Following a link shows what it points to; a link to a folder (or
            // to nothing) is left out, so the walk never loops nor leaves the folder.
            if ((!fd.Valid() && ::fstatat(::dirfd(folder_.get()), files_.CName(i), &st, 0) != 0) ||
                !S_ISREG(st.st_mode) || !Once(st, i)) {
                overCounted_ += unseen ? 1 : 0;
                continue;
            }
            Hand(out, i,
                 FileAttributes{false, true, static_cast<std::int64_t>(st.st_size), IdOf(st)},
                 std::move(fd));
            return true;
        }
        if (keeping_) {
            listings_->kept.back().files = std::move(files_);
            keeping_ = false;
        }
        files_.Clear();
        folder_.reset();
        fileNext_ = 0;
        return false;
    }

    void Hand(DropName& out, std::size_t i, const std::optional<FileAttributes>& attrs,
              Descriptor fd) {
        out.name.assign(prefix_).append(files_.Name(i));
        out.unreadableFolder = false;
        out.attrs = attrs;
        out.leaf = prefix_.size();
        out.open = std::move(fd);
        ++handed_;
    }

    // File `i` of the folder in hand opened for reading, as the reader
    // would open it (`path` gets its whole name); empty for a link (what it
    // names may be no file to open), past the budget, or where it fails.
    Descriptor Open(std::size_t i, std::string& path) {
        if (!look_ || !open_ || files_.Link(i) || Descriptor::Held() >= Descriptor::Budget()) {
            return Descriptor();
        }
        path.assign(prefix_).append(files_.Name(i));
        return Descriptor(CurrentFileOps().OpenIn(::dirfd(folder_.get()), path.c_str(),
                                                  prefix_.size(), O_RDONLY | O_NONBLOCK | O_CLOEXEC,
                                                  0));
    }

    // Whether the file `st`, entry `i` of the folder in hand, is met for the
    // first time. Only a file that can be reached twice is remembered: one
    // with other links, one dropped by name, one a symbolic link names.
    bool Once(const struct stat& st, std::size_t i) {
        const FileId id = IdOf(st);
        const bool link = files_.Link(i);
        if (st.st_nlink <= 1 && !link && !dropped_.Contains(id)) {
            return !seen_.Contains(id);  // reached before only through a link
        }
        if (link && st.st_nlink <= 1 && !dropped_.Contains(id) && ReachedBefore(i)) {
            return false;
        }
        return seen_.Insert(id);
    }

    // Whether the file that link `i` of the folder in hand names was taken
    // already under its own name, which was not remembered: its folder was
    // entered and its name came before (in that folder's order, if it is this one).
    bool ReachedBefore(std::size_t i) {
        const std::string path = prefix_ + std::string(files_.Name(i));
        const std::unique_ptr<char, FreeCloser> real(::realpath(path.c_str(), nullptr));
        if (!real) {
            return false;
        }
        const std::string_view target = real.get();
        const std::size_t slash = target.rfind('/');
        const std::string_view leaf = target.substr(slash + 1);
        if (leaf.empty() || leaf.front() == '.' || !filter_.Match(leaf)) {
            return false;  // a name no folder's listing takes
        }
        const std::string folder(slash == 0 ? std::string_view("/") : target.substr(0, slash));
        struct stat st {};
        if (::stat(folder.c_str(), &st) != 0 || !dirs_.Contains(IdOf(st))) {
            return false;
        }
        return !(IdOf(st) == folderId_) ||
               Before(NameKey(leaf), leaf, files_.Key(i), files_.Name(i));
    }

    // Reads the folder `path`: its files become the files in hand, its
    // sub-folders the next frame. True when `out` then reports it unreadable.
    bool Enter(const std::string& path, DropName& out) {
        files_.Clear();
        fileNext_ = 0;
        const int fd = CurrentFileOps().Open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC, 0);
        if (fd < 0) {
            return Unreadable(path, out);
        }
        DirHandle dir(::fdopendir(fd));
        if (!dir) {
            CurrentFileOps().Close(fd);
            return Unreadable(path, out);
        }
        struct stat st {};
        if (::fstat(fd, &st) != 0) {
            return Unreadable(path, out);
        }
        if (dirs_.Contains(IdOf(st))) {
            return false;  // entered before (a bind mount, dropped twice): its files were taken
                           // then
        }
        Frame frame{path == "/" ? path : path + "/", NameList{}, 0};
        std::size_t entries = 0;
        const Kept kept = TakeKept(path, IdOf(st), frame.folders);
        if (kept == Kept::stopped ||
            (kept == Kept::none && !Read(dir.get(), frame.folders, entries))) {
            files_.Clear();
            return Unreadable(path, out);
        }
        dirs_.Insert(IdOf(st));
        if ((look_ || linkHere_) && kept != Kept::sorted) {
            files_.Sort();  // a count's tally depends on the order only through links
        }
        if (kept == Kept::none) {
            frame.folders.Sort();
            Keep(path, IdOf(st), frame.folders, entries);
        }
        folder_ = std::move(dir);
        folderId_ = IdOf(st);
        prefix_ = frame.prefix;
        if (frame.folders.Size() > 0) {
            stack_.push_back(std::move(frame));
        }
        return false;
    }

    enum class Kept { none, unsorted, sorted, stopped };

    // The folder `path` as the count before read it, if it kept it and it is
    // still the same folder: its files become the files in hand, its
    // sub-folders go into `folders`, and the pauses of its reading are made.
    Kept TakeKept(const std::string& path, const FileId& id, NameList& folders) {
        if (!look_ || !listings_ || listings_->kept.empty() ||
            listings_->kept.front().path != path) {
            return Kept::none;
        }
        DropListings::Listing listing = std::move(listings_->kept.front());
        listings_->kept.pop_front();
        if (!(listing.id == id)) {
            return Kept::none;  // another folder by now
        }
        for (std::size_t k = 0; k < listing.entries; ++k) {
            going_ = going_ && pause_(handed_);
            if (!going_) {
                return Kept::stopped;
            }
        }
        files_ = std::move(listing.files);
        folders = std::move(listing.folders);
        linkHere_ = listing.linkHere;
        return listing.linkHere ? Kept::sorted : Kept::unsorted;
    }

    // A count keeps the folder just read for the walk, while within bounds.
    // They are kept in the order read, one after another.
    void Keep(const std::string& path, const FileId& id, const NameList& folders,
              std::size_t entries) {
        if (look_ || !listings_ || listings_->full) {
            return;
        }
        if (listings_->bytes >= kKeptBytes) {
            listings_->full = true;
            return;
        }
        listings_->bytes += files_.Bytes() + folders.Bytes();
        listings_->kept.push_back(
            DropListings::Listing{path, id, NameList{}, folders, entries, linkHere_});
        keeping_ = true;
    }

    bool Unreadable(const std::string& path, DropName& out) {
        if (!going_) {
            return false;
        }
        out = DropName{path, true, std::nullopt, 0, {}};
        return true;
    }

    // False when the folder cannot be read to its end, or the walk was stopped.
    bool Read(DIR* dir, NameList& folders, std::size_t& entries) {
        const int dfd = ::dirfd(dir);
        linkHere_ = false;
        for (;; ++entries) {
            errno = 0;
            const dirent* entry = ::readdir(dir);
            if (entry == nullptr) {
                return errno == 0;
            }
            going_ = going_ && pause_(handed_);  // the host decides how often to look
            if (!going_) {
                return false;
            }
            const std::string_view name = entry->d_name;
            if (name.empty() || name.front() == '.') {
                continue;  // hidden, and "." and ".."
            }
            unsigned char type = entry->d_type;
            if (type == DT_UNKNOWN) {  // some file systems do not say
                struct stat st {};
                if (::fstatat(dfd, entry->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0) {
                    continue;
                }
                type = S_ISDIR(st.st_mode) ? DT_DIR : S_ISLNK(st.st_mode) ? DT_LNK : DT_REG;
            }
            if (type == DT_DIR) {
                if (!folders.Add(name, false)) {
                    return false;
                }
            } else if ((type == DT_REG || type == DT_LNK) && filter_.Match(name)) {
                // (a pipe, a device or a socket is never searched)
                if (!files_.Add(name, type == DT_LNK)) {
                    return false;
                }
                linkHere_ = linkHere_ || type == DT_LNK;
            }
        }
    }

    const std::vector<std::string>& names_;
    FilterPatterns filter_;
    const bool folders_;
    const bool look_;
    const std::function<bool(std::size_t)> pause_;
    bool open_ = true;  // see DropWalk::LookByName
    std::size_t nextName_ = 0;
    bool metFolder_ = false;
    bool going_ = true;
    std::size_t handed_ = 0;  // files found in folders, handed over
    bool metLink_ = false;
    std::size_t overCounted_ = 0;

    // The folder in hand: its files, still open for their look-ups.
    DirHandle folder_;
    FileId folderId_;
    std::string prefix_;
    NameList files_;
    std::size_t fileNext_ = 0;
    bool linkHere_ = false;  // among the files in hand
    std::vector<Frame> stack_;
    // What a count read, for the walk after it.
    std::shared_ptr<DropListings> listings_;
    bool keeping_ = false;  // the files in hand go there when done

    IdSet seen_;     // files taken that can be reached twice
    IdSet dirs_;     // folders entered
    IdSet dropped_;  // files dropped by name
};

bool MatchesFolderFilter(std::string_view filter, std::string_view name) {
    return FilterPatterns(filter).Match(name);
}

DropWalk::DropWalk(const std::vector<std::string>& names, std::string_view filter, bool folders,
                   std::function<bool(std::size_t)> pause, bool look)
    : impl_(std::make_unique<Impl>(names, filter, folders, std::move(pause), look)) {}

void DropWalk::Listings(std::shared_ptr<DropListings> listings) {
    impl_->Listings(std::move(listings));
}

DropWalk::~DropWalk() = default;

bool DropWalk::Next(DropName& out) {
    return impl_->Next(out);
}

std::size_t DropWalk::Held() const noexcept {
    return impl_->Held();
}

std::size_t DropWalk::OverCounted() const noexcept {
    return impl_->OverCounted();
}

void DropWalk::LookByName() noexcept {
    impl_->LookByName();
}

DropTotals CountDrop(const std::vector<std::string>& names, std::string_view filter, bool folders,
                     std::function<bool(std::size_t)> pause, bool keep) {
    DropTotals totals;
    if (keep) {
        totals.listings = std::make_shared<DropListings>();
    }
    DropWalk walk(names, filter, folders, std::move(pause), false);
    walk.Listings(totals.listings);
    DropName name;
    while (walk.Next(name)) {
        ++totals.names;
        if (name.attrs && name.attrs->regular) {
            totals.bytes += name.attrs->size;
        } else if (!name.attrs && name.leaf > 0) {
            totals.exact = false;  // found in a folder, not looked at
        }
    }
    return totals;
}

}  // namespace korvalen
