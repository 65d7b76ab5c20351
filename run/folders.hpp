// The names a run takes in turn: the names as dropped, with dropped folders
// standing for the files below them, handed over one by one as the walk
// reads each folder, so that what it keeps does not grow with the files.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/file_info.hpp"

namespace korvalen {

// Folders a count read, kept for the walk after it (see CountDrop).
class DropListings;

// One name the run takes in turn.
struct DropName {
    std::string name;
    // A folder that could not be read: reported as a file that cannot be read.
    bool unreadableFolder = false;
    // What the walk saw of the name (links followed), sparing the run a
    // second look at every file; none: nothing there then.
    std::optional<FileAttributes> attrs;
    // Where the file's own name starts in `name`, for a file found in a
    // folder (the part before it names that folder); 0 for a name as dropped.
    std::size_t leaf = 0;
    // The file opened by the walk, its look taken from the descriptor (see
    // DropWalk); empty: none.
    Descriptor open;
};

// `filter` holds file-name patterns separated by ";" (blanks around each
// ignored); "*" matches any run of characters, "?" one character; ASCII
// letters match either case. No pattern at all matches every name.
bool MatchesFolderFilter(std::string_view filter, std::string_view name);

// Walks the names as dropped, in order. With `folders` each folder stands in
// place for the files below it that match `filter`, at any depth: within a
// folder its files in byte order of their names, then its sub-folders in the
// same order. A file is named by the folder as dropped + "/" + its path below
// it. Hidden names (a leading ".") are left out; links to files are followed,
// links to folders are not; a file reached once already (under any name, as
// dropped or in a folder) is left out, and so is a folder reached again (a
// bind mount, a folder dropped twice or inside another). Without `folders` a
// folder is handed over as it is (the run skips it).
//
// `pause(count)` is called when the first folder is met (count 0), then at
// every entry read with the files handed over so far; false from it ends the
// walk. A walk keeps one folder's sorted names at a time (in one byte arena),
// the sub-folders still to enter on its way down, the folders entered, and
// the identities of the files that can be reached twice: files with more than
// one link, files reached through a symbolic link, and files dropped by name.
class DropWalk {
  public:
    // `look`: every file's attributes are read as it is handed over (the
    // run's walk). Otherwise (a count) a file found in a folder is looked at
    // only where it may be a repeat (a link, or files were dropped by name
    // besides the folders) and is else handed over without attributes.
    // A looked-at file found in a folder that is no link is opened, and its
    // attributes read from the descriptor, which goes with the name: the
    // name is looked up once for both. While the process holds its budget
    // of such descriptors (or where the open fails) the file is looked at
    // by name instead, and handed over as before.
    DropWalk(const std::vector<std::string>& names, std::string_view filter, bool folders,
             std::function<bool(std::size_t)> pause, bool look = true);
    ~DropWalk();
    DropWalk(const DropWalk&) = delete;
    DropWalk& operator=(const DropWalk&) = delete;

    // Before the first name: without `look`, the walk keeps in `listings`
    // the folders it reads (up to a bound); with it, it takes its folders
    // from there instead of reading them again, where they are still the
    // same folders, and makes the pauses of their reading all the same.
    void Listings(std::shared_ptr<DropListings> listings);

    // The next name into `out` (its string's room used again); false at the
    // end, or once `pause` said stop.
    bool Next(DropName& out);

    // Entries held for the folder in hand and the folders still to enter,
    // and the identities kept: what the walk's memory grows with.
    std::size_t Held() const noexcept;

    // Files this walk looked at and left out that a count (a walk without
    // `look` over the same names) took without a look: by how much that
    // count was too high so far.
    std::size_t OverCounted() const noexcept;

    // Files are looked at by name and handed over unopened: the walk's own
    // thread then leaves the opens to the threads that read the files.
    void LookByName() noexcept;

  private:
    class Impl;
    std::unique_ptr<Impl> impl_;
};

// What a walk hands over, counted without keeping it and mostly without a
// look at the files: the run's numbering and progress maximum.
struct DropTotals {
    std::size_t names = 0;   // as many or more than a walk then hands over
    std::int64_t bytes = 0;  // the sizes of the regular files looked at
    bool exact = true;       // every file was looked at: `bytes` is the whole
    // With `keep`: the folders read, for a walk after it over the same names.
    std::shared_ptr<DropListings> listings;
};
DropTotals CountDrop(const std::vector<std::string>& names, std::string_view filter, bool folders,
                     std::function<bool(std::size_t)> pause, bool keep = false);

}  // namespace korvalen
