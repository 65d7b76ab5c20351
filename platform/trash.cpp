#include "platform/trash.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string_view>

#include "platform/file.hpp"

namespace korvalen {

namespace {

// Every missing folder of `dir`, made 0700 as the data folders of a user are.
bool MakeFolders(const std::string& dir) {
    struct stat st {};
    if (::stat(dir.c_str(), &st) == 0) {
        if (S_ISDIR(st.st_mode)) {
            return true;
        }
        errno = ENOTDIR;
        return false;
    }
    const std::string parent = std::filesystem::path(dir).parent_path().string();
    if (parent.empty() || parent == dir || !MakeFolders(parent)) {
        return false;
    }
    return ::mkdir(dir.c_str(), 0700) == 0 || errno == EEXIST;
}

// Percent-encoded as in a URI path: the slashes stay, every other byte but
// the unreserved ones is escaped.
std::string EscapePath(std::string_view path) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    for (const char ch : path) {
        const auto c = static_cast<unsigned char>(ch);
        const bool plain = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
                           (c >= '0' && c <= '9') || c == '/' || c == '-' || c == '_' || c == '.' ||
                           c == '~';
        if (plain) {
            out += ch;
        } else {
            out += '%';
            out += kHex[c >> 4];
            out += kHex[c & 15];
        }
    }
    return out;
}

// The name in the trash: the file's own, then "name.2.ext", "name.3.ext"...
std::string TrashName(const std::string& name, unsigned attempt) {
    if (attempt == 0) {
        return name;
    }
    const std::size_t dot = name.rfind('.');
    const std::size_t cut = dot == std::string::npos || dot == 0 ? name.size() : dot;
    return name.substr(0, cut) + "." + std::to_string(attempt + 1) + name.substr(cut);
}

// A rename that never replaces a file already at `to` (EEXIST).
bool MoveNoReplace(const std::string& from, const std::string& to) {
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) {
        return true;
    }
    if (errno != EINVAL && errno != ENOSYS) {
        return false;
    }
    // A file system without the flag: checked first, then renamed.
    struct stat st {};
    if (::lstat(to.c_str(), &st) == 0) {
        errno = EEXIST;
        return false;
    }
    return ::rename(from.c_str(), to.c_str()) == 0;
}

}  // namespace

std::string HomeTrashPath() {
    const char* data = std::getenv("XDG_DATA_HOME");
    if (data != nullptr && data[0] == '/') {
        return std::string(data) + "/Trash";
    }
    // A relative XDG_DATA_HOME is invalid and ignored.
    const char* home = std::getenv("HOME");
    if (home == nullptr || home[0] != '/') {
        return std::string();
    }
    return std::string(home) + "/.local/share/Trash";
}

std::string TrashInfo(const std::string& path, std::time_t deleted) {
    std::tm local{};
    ::localtime_r(&deleted, &local);
    char date[32];
    std::strftime(date, sizeof date, "%Y-%m-%dT%H:%M:%S", &local);
    return "[Trash Info]\nPath=" + EscapePath(path) + "\nDeletionDate=" + date + "\n";
}

bool MoveToTrash(const std::string& path) {
    struct stat st {};
    if (path.empty() || ::lstat(path.c_str(), &st) != 0) {
        if (path.empty()) {
            errno = ENOENT;
        }
        return false;
    }
    const std::string trash = HomeTrashPath();
    if (trash.empty()) {
        errno = ENOENT;
        return false;
    }
    const std::string files = trash + "/files";
    const std::string info = trash + "/info";
    if (!MakeFolders(files) || !MakeFolders(info)) {
        return false;
    }
    std::filesystem::path absolute(path);
    if (!absolute.is_absolute()) {
        std::error_code ec;
        absolute = std::filesystem::current_path(ec) / absolute;
        if (ec) {
            errno = ec.value();
            return false;
        }
    }
    absolute = absolute.lexically_normal();
    const std::string name = absolute.filename().string();
    const std::string text = TrashInfo(absolute.string(), std::time(nullptr));

    // The info file is made first and exclusively: it reserves the name.
    for (unsigned attempt = 0; attempt < 1000; ++attempt) {
        const std::string trashName = TrashName(name, attempt);
        const std::string infoPath = info + "/" + trashName + ".trashinfo";
        const int fd =
            CurrentFileOps().Open(infoPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd < 0) {
            if (errno == EEXIST) {
                continue;
            }
            return false;
        }
        int err = WriteAllTo(fd, text) ? 0 : errno;
        if (CurrentFileOps().Close(fd) != 0 && err == 0) {
            err = errno;
        }
        const std::string target = files + "/" + trashName;
        if (err == 0 && !MoveNoReplace(path, target)) {
            err = errno;
        }
        if (err == EEXIST) {
            ::unlink(infoPath.c_str());  // a stray file without its info: the next name
            continue;
        }
        if (err != 0) {
            ::unlink(infoPath.c_str());
            errno = err;
            return false;
        }
        return true;
    }
    errno = EEXIST;
    return false;
}

}  // namespace korvalen
