#include "config/ini_file.hpp"

#include <fcntl.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

#include "platform/file.hpp"
#include "text/lines.hpp"
#include "text/sjis.hpp"

namespace korvalen {

namespace {

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

bool EqualNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        char x = a[i];
        char y = b[i];
        if (x >= 'A' && x <= 'Z') {
            x = static_cast<char>(x - 'A' + 'a');
        }
        if (y >= 'A' && y <= 'Z') {
            y = static_cast<char>(y - 'A' + 'a');
        }
        if (x != y) {
            return false;
        }
    }
    return true;
}

std::string_view SkipBlanks(std::string_view s) {
    std::size_t i = 0;
    while (i < s.size() && IsBlank(s[i])) {
        ++i;
    }
    return s.substr(i);
}

// The name of a section line, or nullopt for any other line.
std::optional<std::string> SectionName(std::string_view line) {
    const std::string_view s = SkipBlanks(line);
    if (s.empty() || s[0] != '[') {
        return std::nullopt;
    }
    const std::size_t close = s.find(']');
    if (close == std::string_view::npos) {
        return std::nullopt;  // a header cut short is no header
    }
    return TrimSpaces(s.substr(1, close - 1));
}

bool IsComment(std::string_view line) {
    const std::string_view s = SkipBlanks(line);
    return !s.empty() && s[0] == ';';
}

}  // namespace

IniFile::IniFile(std::string_view bytes) {
    // An editor may have put a byte order mark before the first section.
    constexpr std::string_view kUtf8Mark = "\xEF\xBB\xBF";
    std::size_t begin = 0;
    if (bytes.starts_with(kUtf8Mark)) {
        mark_ = kUtf8Mark;
        begin = kUtf8Mark.size();
    }
    while (begin < bytes.size()) {
        const LineBreak br = FindBreak(bytes, begin);
        if (br.pos == std::string_view::npos) {
            lines_.push_back({std::string(bytes.substr(begin)), std::string()});
            break;
        }
        lines_.push_back({std::string(bytes.substr(begin, br.pos - begin)),
                          std::string(bytes.substr(br.pos, br.len))});
        begin = br.pos + br.len;
    }
}

std::string IniFile::Bytes() const {
    std::string out = mark_;
    for (const Line& l : lines_) {
        out += l.text;
        out += l.brk;
    }
    return out;
}

std::string IniFile::DecodeValue(std::string_view raw) {
    std::string v = TrimSpaces(raw);
    if (v.size() >= 2 && v.front() == '"' && v.back() == '"') {
        return v.substr(1, v.size() - 2);
    }
    return v;
}

std::string IniFile::EncodeValue(std::string_view value) {
    const bool edgeBlank = !value.empty() && (IsBlank(value.front()) || IsBlank(value.back()));
    const bool quoted = value.size() >= 2 && value.front() == '"' && value.back() == '"';
    if (edgeBlank || quoted) {
        return "\"" + std::string(value) + "\"";
    }
    return std::string(value);
}

std::optional<IniFile::KeyRef> IniFile::Find(std::string_view section, std::string_view key) const {
    bool inSection = false;
    for (std::size_t i = 0; i < lines_.size(); ++i) {
        const std::string& text = lines_[i].text;
        if (auto name = SectionName(text)) {
            inSection = EqualNoCase(*name, section);
            continue;
        }
        if (!inSection || IsComment(text)) {
            continue;
        }
        const std::size_t eq = text.find('=');
        if (eq == std::string::npos) {
            continue;
        }
        if (EqualNoCase(TrimSpaces(std::string_view(text).substr(0, eq)), key)) {
            return KeyRef{i, eq + 1};
        }
    }
    return std::nullopt;
}

std::optional<std::string> IniFile::Get(std::string_view section, std::string_view key) const {
    const auto ref = Find(section, key);
    if (!ref) {
        return std::nullopt;
    }
    return DecodeValue(std::string_view(lines_[ref->line].text).substr(ref->valueBegin));
}

std::string_view IniFile::NewBreak() const {
    for (const Line& l : lines_) {
        if (!l.brk.empty()) {
            return l.brk;
        }
    }
    return "\r\n";
}

void IniFile::InsertLine(std::size_t at, std::string text) {
    const std::string brk(NewBreak());
    if (at > 0 && lines_[at - 1].brk.empty()) {
        lines_[at - 1].brk = brk;  // a last line cut short gets its break first
    }
    lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(at), Line{std::move(text), brk});
}

bool IniFile::Set(std::string_view section, std::string_view key, std::string_view value) {
    if (value.find_first_of("\r\n") != std::string_view::npos) {
        return false;
    }
    const std::string encoded = EncodeValue(value);
    if (const auto ref = Find(section, key)) {
        std::string& text = lines_[ref->line].text;
        // Keep the key as spelled and the blanks after "=" as they were.
        std::size_t at = ref->valueBegin;
        while (at < text.size() && IsBlank(text[at])) {
            ++at;
        }
        text.replace(at, std::string::npos, encoded);
        return true;
    }
    const std::string line = std::string(key) + "=" + encoded;
    // A new key goes after the last key line of the section's first block, or
    // right under its header.
    std::optional<std::size_t> insertAt;
    bool inSection = false;
    for (std::size_t i = 0; i < lines_.size(); ++i) {
        const std::string& text = lines_[i].text;
        if (auto name = SectionName(text)) {
            if (inSection) {
                break;
            }
            inSection = EqualNoCase(*name, section);
            if (inSection) {
                insertAt = i + 1;
            }
            continue;
        }
        if (inSection && !IsComment(text) && text.find('=') != std::string::npos) {
            insertAt = i + 1;
        }
    }
    if (insertAt) {
        InsertLine(*insertAt, line);
        return true;
    }
    if (!lines_.empty() && !lines_.back().text.empty()) {
        InsertLine(lines_.size(), std::string());
    }
    InsertLine(lines_.size(), "[" + std::string(section) + "]");
    InsertLine(lines_.size(), line);
    return true;
}

bool ReadIniBytes(const std::string& path, std::string& out) {
    out.clear();
    try {
        File file(path, File::Mode::Read);
        char buf[1 << 16];
        while (const std::size_t got = file.Read(buf, sizeof buf)) {
            out.append(buf, got);
        }
        errno = 0;
        return true;
    } catch (const FileError& e) {
        out.clear();
        errno = e.Errno();
        return e.Errno() == ENOENT;
    }
}

namespace {

// Where to write: the file a symbolic link names (a link stays a link), or
// `path` itself. Empty with errno set when a link cannot be followed.
std::string WriteTarget(const std::string& path) {
    struct stat lst {};
    if (::lstat(path.c_str(), &lst) != 0 || !S_ISLNK(lst.st_mode)) {
        return path;
    }
    std::unique_ptr<char, decltype(&std::free)> real(::realpath(path.c_str(), nullptr), &std::free);
    if (!real) {
        return std::string();
    }
    return real.get();
}

}  // namespace

bool ReplaceFile(const std::string& path, std::string_view bytes) {
    const std::string target = WriteTarget(path);
    if (target.empty()) {
        return false;
    }
    struct stat st {};
    mode_t mode = 0;
    bool existed = false;
    if (::stat(target.c_str(), &st) == 0) {
        if (!S_ISREG(st.st_mode)) {
            // Renaming over a device or a folder would destroy it.
            errno = S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
            return false;
        }
        // The rename needs only the folder's permission; a file the user may
        // not write stays as it is.
        if (CurrentFileOps().Access(target.c_str(), W_OK) != 0) {
            return false;
        }
        mode = st.st_mode & 07777;
        existed = true;
    } else if (errno != ENOENT) {
        return false;
    }
    const std::filesystem::path p(target);
    std::string dir = p.parent_path().string();
    if (dir.empty()) {
        dir = ".";
    }
    // A new file gets 0666 less the umask, as any new file would; an old one
    // keeps its mode.
    std::string tmp;
    int fd = -1;
    for (unsigned attempt = 0; fd < 0; ++attempt) {
        tmp = dir + "/." + p.filename().string() + "." + std::to_string(::getpid()) + "." +
              std::to_string(attempt);
        fd = CurrentFileOps().Open(tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC,
                                   existed ? mode : 0666);
        if (fd < 0 && (errno != EEXIST || attempt >= 100)) {
            return false;
        }
    }
    // The first failure's errno is the one reported.
    int err = 0;
    if ((existed && ::fchmod(fd, mode) != 0) || !WriteAllTo(fd, bytes) || ::fsync(fd) != 0) {
        err = errno;
    }
    if (CurrentFileOps().Close(fd) != 0 && err == 0) {
        err = errno;
    }
    if (err == 0 && ::rename(tmp.c_str(), target.c_str()) != 0) {
        err = errno;
    }
    if (err != 0) {
        ::unlink(tmp.c_str());
        errno = err;
        return false;
    }
    // The rename itself reaches the disk with the folder.
    const int dfd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dfd >= 0) {
        ::fsync(dfd);
        ::close(dfd);
    }
    return true;
}

}  // namespace korvalen
