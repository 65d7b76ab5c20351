#include "run/folders.hpp"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
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

// The first eight bytes of a name as a number that orders as the names do
// (no name holds a NUL): most comparisons of a sort end there.
std::uint64_t NameKey(std::string_view name) {
    std::uint64_t key = 0;
    for (std::size_t i = 0; i < 8; ++i) {
        key = key << 8 | (i < name.size() ? static_cast<unsigned char>(name[i]) : 0U);
    }
    return key;
}

// What a folder holds that the walk takes, each list sorted by name.
struct Listing {
    struct File {
        std::uint64_t key;
        std::string name;
        FileAttributes attrs;
    };
    std::vector<File> files;  // in the folder's order
    std::vector<const File*> sorted;
    std::vector<std::string> folders;
};

// The files a walk has taken, by identity: open addressing in one array, as
// a walk of a large folder inserts every file it finds.
class IdSet {
  public:
    // False when `id` was there already.
    bool Insert(const FileId& id) {
        if (2 * (count_ + 1) > slots_.size()) {
            Grow();
        }
        const std::size_t mask = slots_.size() - 1;
        for (std::size_t i = Hash(id) & mask;; i = (i + 1) & mask) {
            Slot& slot = slots_[i];
            if (!slot.used) {
                slot = Slot{id, true};
                ++count_;
                return true;
            }
            if (slot.id == id) {
                return false;
            }
        }
    }

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

    std::vector<Slot> slots_;
    std::size_t count_ = 0;
};

class Walk {
  public:
    Walk(std::string_view filter, const std::function<bool(std::size_t)>& pause)
        : filter_(filter), pause_(pause) {}

    std::vector<DropName> Run(const std::vector<std::string>& names) {
        for (const std::string& name : names) {
            if (!going_) {
                break;
            }
            struct stat st {};
            const bool known = ::stat(name.c_str(), &st) == 0;
            if (!known || !S_ISDIR(st.st_mode)) {
                // A file reached before (dropped, or found in a folder) is
                // searched once.
                if (!known || seen_.Insert(FileId{st.st_dev, st.st_ino})) {
                    out_.push_back(DropName{name, false, std::nullopt});
                }
                continue;
            }
            if (!metFolder_) {
                metFolder_ = true;
                going_ = pause_(0);
            }
            // "corpus/" as typed gives "corpus/a.txt", not "corpus//a.txt".
            Folder(name.size() > 1 && name.back() == '/' ? name.substr(0, name.size() - 1) : name);
        }
        return std::move(out_);
    }

  private:
    void Folder(const std::string& path) {
        Listing listing;
        if (!Read(path, listing)) {
            if (going_) {
                out_.push_back(DropName{path, true, std::nullopt});
            }
            return;
        }
        const std::string prefix = path == "/" ? path : path + "/";
        for (const Listing::File* file : listing.sorted) {
            if (seen_.Insert(file->attrs.id)) {
                std::string name;
                name.reserve(prefix.size() + file->name.size());
                name.append(prefix).append(file->name);
                out_.push_back(DropName{std::move(name), false, file->attrs, prefix.size()});
                ++found_;
            }
        }
        for (const std::string& name : listing.folders) {
            if (!going_) {
                return;
            }
            Folder(prefix + name);
        }
    }

    // False when the folder cannot be opened or read to its end.
    bool Read(const std::string& path, Listing& listing) {
        const int fd = CurrentFileOps().Open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC, 0);
        if (fd < 0) {
            return false;
        }
        DirHandle dir(::fdopendir(fd));
        if (!dir) {
            CurrentFileOps().Close(fd);
            return false;
        }
        const int dfd = ::dirfd(dir.get());
        for (;;) {
            errno = 0;
            const dirent* entry = ::readdir(dir.get());
            if (entry == nullptr) {
                if (errno != 0) {
                    return false;
                }
                break;
            }
            going_ = going_ && pause_(found_);  // the host decides how often to look
            if (!going_) {
                return false;
            }
            const std::string_view name = entry->d_name;
            if (name.empty() || name.front() == '.') {
                continue;  // hidden, and "." and ".."
            }
            Take(dfd, entry, name, listing);
        }
        listing.sorted.reserve(listing.files.size());
        for (const Listing::File& file : listing.files) {
            listing.sorted.push_back(&file);
        }
        std::sort(listing.sorted.begin(), listing.sorted.end(), [](const auto* a, const auto* b) {
            return a->key != b->key ? a->key < b->key : a->name < b->name;
        });
        std::sort(listing.folders.begin(), listing.folders.end());
        return true;
    }

    void Take(int dfd, const dirent* entry, std::string_view name, Listing& listing) {
        struct stat st {};
        unsigned char type = entry->d_type;
        if (type == DT_UNKNOWN) {  // some file systems do not say
            if (::fstatat(dfd, entry->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0) {
                return;
            }
            type = S_ISDIR(st.st_mode) ? DT_DIR : DT_REG;
        }
        if (type == DT_DIR) {
            listing.folders.emplace_back(name);
            return;
        }
        if (!filter_.Match(name)) {
            return;
        }
        // Following a link shows what it points to; a link to a folder (or to
        // nothing) is left out, so the walk never loops nor leaves the folder.
        if (::fstatat(dfd, entry->d_name, &st, 0) != 0 || !S_ISREG(st.st_mode)) {
            return;
        }
        listing.files.push_back(
            Listing::File{NameKey(name), std::string(name),
                          FileAttributes{false, true, static_cast<std::int64_t>(st.st_size),
                                         FileId{st.st_dev, st.st_ino}}});
    }

    FilterPatterns filter_;
    const std::function<bool(std::size_t)>& pause_;
    std::vector<DropName> out_;
    IdSet seen_;
    std::size_t found_ = 0;
    bool metFolder_ = false;
    bool going_ = true;
};

}  // namespace

bool MatchesFolderFilter(std::string_view filter, std::string_view name) {
    return FilterPatterns(filter).Match(name);
}

std::vector<DropName> ExpandFolders(const std::vector<std::string>& names, std::string_view filter,
                                    const std::function<bool(std::size_t)>& pause) {
    return Walk(filter, pause).Run(names);
}

}  // namespace korvalen
