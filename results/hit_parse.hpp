// Reading the output file back: every line form the hit-line writer and the
// run write, for the results window (the editor helpers of contrib/ follow
// the same rules, checked against one shared table of lines).
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace korvalen {

enum class OutputLineKind { Empty, Separator, Hit, FileError, Other };

// One reading of a line. The views point into the line given.
struct OutputLine {
    OutputLineKind kind = OutputLineKind::Other;
    std::string_view path;  // Hit, FileError: the path as the file holds it
    std::int64_t number = 0;
    std::string_view word;
    std::string_view text;
};

// Every reading of one line (without its line break), the likeliest first.
// A hit line's head is "(N) :(" or " N:(" then the word up to the first ")";
// the path before it may itself hold a head look-alike, so each head in the
// line gives one reading, the shortest path first.
std::vector<OutputLine> ReadOutputLineAll(std::string_view line);

// Whether a path as the output file holds it names a file (see ResolveOutputPath).
using PathExists = std::function<bool(std::string_view outputPath)>;

// The reading taken: the first whose file `exists` says is there, else the
// first. `exists` is asked only when the line has more than one reading.
OutputLine ReadOutputLine(std::string_view line, const PathExists& exists = {});

// The file a path of the output file names, in file-system bytes. The path
// was written in code page 932 when it converted whole, else byte for byte:
// its UTF-8 form is taken when that file exists, else the bytes as they are.
// A relative path is taken from the output file's folder when the file is
// there, else from `currentDir`; failing both, from the output file's folder.
std::string ResolveOutputPath(std::string_view path, const std::string& outputFile,
                              const std::string& currentDir);

// The existence test that ResolveOutputPath applies, for ReadOutputLine.
PathExists OutputPathExists(const std::string& outputFile, const std::string& currentDir);

}  // namespace korvalen
