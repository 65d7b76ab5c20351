// Dropped folders stand for the files below them: the list a run searches
// when folders are searched, built before the first file is opened.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/file_info.hpp"

namespace korvalen {

// One name the run takes in turn.
struct DropName {
    std::string name;
    // A folder that could not be read: reported as a file that cannot be read.
    bool unreadableFolder = false;
    // What the walk saw of a file it found, sparing a second look at every
    // file; the run looks at the other names itself before it starts (none:
    // nothing there then).
    std::optional<FileAttributes> attrs;
    // Where the file's own name starts in `name`, for a file found in a
    // folder (the part before it names that folder); 0 for a name as dropped.
    std::size_t leaf = 0;
};

// `filter` holds file-name patterns separated by ";" (blanks around each
// ignored); "*" matches any run of characters, "?" one character; ASCII
// letters match either case. No pattern at all matches every name.
bool MatchesFolderFilter(std::string_view filter, std::string_view name);

// The names as dropped, each folder replaced in place by the files below it
// that match `filter`, at any depth: within a folder its files in byte order of
// their names, then its sub-folders in the same order. A file is named by the
// folder as dropped + "/" + its path below it. Hidden names (a leading ".")
// are left out; links to files are followed, links to folders are not; a file
// found once already (under any name) is left out. A dropped name that is not
// a folder stays as it is, unless reached before. `pause(count)` is called when the first folder is
// met (count 0), then at every entry read with the files found so far; false from it
// ends the walk (the list then stops where the walk was).
std::vector<DropName> ExpandFolders(const std::vector<std::string>& names, std::string_view filter,
                                    const std::function<bool(std::size_t)>& pause);

}  // namespace korvalen
