// The two scanners on the fast path: the same output, hit count, progress
// and error blocks as SearchByLine and SearchInMemory, found block by block.
// Between blocks (about every 256 KB) the host processes its messages, the
// progress moves, the status text shows the hit count, the words are fetched
// again when their generation changed, and a Stop ends the scan.
#pragma once

#include <string>

#include "platform/file.hpp"
#include "run/scanner.hpp"

namespace korvalen {

// `sight`: what the run knows of the file before it opens it. When memory
// for the blocks runs out before any hit line of the file was written, the
// file is read again in small blocks.
void FastSearchByLine(ScanContext& ctx, const std::string& name, bool isLast,
                      const FileSight& sight = {});

// False when memory ran out: nothing of the file was written, it is to be
// read line by line.
bool FastSearchInMemory(ScanContext& ctx, const std::string& name, bool isLast,
                        const FileSight& sight = {});

}  // namespace korvalen
