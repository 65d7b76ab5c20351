// The user's trash, as freedesktop.org desktops share it: the file moves to
// $XDG_DATA_HOME/Trash/files under a free name, with a .trashinfo file in
// Trash/info that records where it came from and when.
#pragma once

#include <ctime>
#include <string>

namespace korvalen {

// The home trash folder: $XDG_DATA_HOME/Trash, or ~/.local/share/Trash when
// that is unset or not absolute. Empty when neither it nor $HOME is set.
std::string HomeTrashPath();

// Moves the file at `path` (file-system bytes) into the home trash, creating
// the trash's folders (mode 0700) where they are missing. False with errno
// set when the file could not be moved there; it then stays where it was.
// A file on another file system than the trash is not copied (EXDEV).
bool MoveToTrash(const std::string& path);

// The .trashinfo text for a file that was at the absolute `path`.
std::string TrashInfo(const std::string& path, std::time_t deleted);

}  // namespace korvalen
