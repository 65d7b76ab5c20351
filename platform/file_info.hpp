// What the run asks about a name before it opens it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "platform/file.hpp"

namespace korvalen {

struct FileAttributes {
    bool directory = false;
    bool regular = false;
    std::int64_t size = 0;
    FileId id;
};

// The attributes of what `path` names, links followed; none when they cannot
// be read (a missing file, a dangling link).
std::optional<FileAttributes> GetFileAttributes(const std::string& path);

// True when `path` names something that is not a folder.
bool FileExists(const std::string& path);

// Opens `path` read-only for its size; none when it cannot be opened or is no
// regular file.
std::optional<std::int64_t> FileSizeOf(const std::string& path);

}  // namespace korvalen
