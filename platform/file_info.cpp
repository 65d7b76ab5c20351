#include "platform/file_info.hpp"

#include <sys/stat.h>

namespace korvalen {

std::optional<FileAttributes> GetFileAttributes(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        return std::nullopt;
    }
    return FileAttributes{S_ISDIR(st.st_mode), S_ISREG(st.st_mode),
                          static_cast<std::int64_t>(st.st_size), FileId{st.st_dev, st.st_ino}};
}

bool FileExists(const std::string& path) {
    const auto attrs = GetFileAttributes(path);
    return attrs && !attrs->directory;
}

std::optional<std::int64_t> FileSizeOf(const std::string& path) {
    try {
        File file(path, File::Mode::Read);
        return file.Size();
    } catch (const FileError&) {
        return std::nullopt;
    }
}

}  // namespace korvalen
