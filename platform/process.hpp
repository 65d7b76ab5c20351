// Starting another program.
#pragma once

#include <string>
#include <vector>

namespace korvalen {

// Starts `program` (looked up in PATH when it has no slash) with `args`, no
// shell in between, and does not wait for it. False when it could not start.
// The child is not reaped: meant for a caller that exits soon after (the
// window uses its toolkit's detached start).
bool StartProgram(const std::string& program, const std::vector<std::string>& args);

}  // namespace korvalen
