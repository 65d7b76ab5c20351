// Starting another program.
#pragma once

#include <string>
#include <vector>

namespace korvalen {

// Starts `program` (looked up in PATH when it has no slash) with `args`, no
// shell in between, and does not wait for it. 0, or the error number when it
// could not start. A thread of its own reaps the child when it ends.
int StartProgram(const std::string& program, const std::vector<std::string>& args);

}  // namespace korvalen
