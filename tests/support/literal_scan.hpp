// The literal scanners: the reference the fast ones are held to. The host is
// called after every line, and the search is written as plainly as it can be.
// Twins that differ only in how they get the lines (read from disk one at a
// time, or loaded whole first) and in one detail of the join across a line
// break.
#pragma once

#include <string>

#include "platform/file.hpp"
#include "run/scanner.hpp"
#include "run/search_run.hpp"

namespace korvalen {

// Reads the file from disk a line at a time. Failures of the input file
// (and running out of memory for a line) become the file's error block.
void SearchByLine(ScanContext& ctx, const std::string& name, bool isLast,
                  const FileSight& sight = {});

// Loads the whole file first. False when memory ran out while loading, before
// anything was written: the caller then reads the file line by line instead.
bool SearchInMemory(ScanContext& ctx, const std::string& name, bool isLast,
                    const FileSight& sight = {});

inline constexpr FileScanners kLiteralScanners{SearchInMemory, SearchByLine};

}  // namespace korvalen
