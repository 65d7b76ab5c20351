// Reading the output file back: every line form the hit-line writer and the
// run write, for the results window (the editor helpers of contrib/ follow
// the same rules, checked against one shared table of lines).
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
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

// The hit reading whose head starts at `at` (the path is what comes before),
// or false: for a line known to start with a hit's path.
bool ReadHitAt(std::string_view line, std::size_t at, OutputLine& hit);

// Whether a path as the output file holds it names a file (see ResolveOutputPath).
using PathExists = std::function<bool(std::string_view outputPath)>;

// The reading taken: the first whose file `exists` says is there, else the
// first. `exists` is asked only when the line has more than one reading.
OutputLine ReadOutputLine(std::string_view line, const PathExists& exists = {});

// Where a word begins in a line, 1-based: in characters, and on screen (a
// double-byte character is two columns wide, as its two bytes). 0: not there.
struct WordColumns {
    std::int64_t chars = 0;
    std::int64_t screen = 0;
};

// The columns at which `word` begins in `text`, both code page 932; a word
// cut by the text's end (found across a line break): where its start begins
// the text's tail.
WordColumns WordColumnsIn(std::string_view text, std::string_view word);
inline std::int64_t WordColumn(std::string_view text, std::string_view word) {
    return WordColumnsIn(text, word).chars;
}

// The columns of a hit's word in the hit's line of `file`, read now (in the
// encoding the search would find); from the hit's text when the file or the
// line cannot be read or does not hold the word.
WordColumns HitColumns(const std::string& file, const OutputLine& hit);

// The names a path of the output file may stand for, in the order they are
// tried: its UTF-8 reading when it decodes from code page 932, the same with
// the forms typed on Linux (〜 for ～, as earlier versions wrote them), and the
// bytes as they are.
std::vector<std::string> OutputPathForms(std::string_view path);

// The file a path of the output file names, in file-system bytes: the first
// of its forms whose file exists, else the first form.
// A relative path is taken from the output file's folder when the file is
// there, else from `currentDir`; failing both, from the output file's folder.
// With `names`, existence is looked up there.
class FileNameCache;
std::string ResolveOutputPath(std::string_view path, const std::string& outputFile,
                              const std::string& currentDir, FileNameCache* names = nullptr);

// The existence test that ResolveOutputPath applies, for ReadOutputLine.
PathExists OutputPathExists(const std::string& outputFile, const std::string& currentDir,
                            FileNameCache* names = nullptr);

// Whether files exist, from each folder's listing, read once: hit text that
// reads like a head gives every line names of its own to try, and a million
// of them in a few folders cost a few reads, not a million failed stat calls.
// A name with "." or ".." parts, or in a folder that cannot be listed, is
// asked of the file system.
class FileNameCache {
  public:
    bool Exists(const std::string& path);

  private:
    struct Folder {
        bool listed = false;  // else: ask the file system
        std::unordered_set<std::string> names;
    };
    // Null when the folder is not there.
    const Folder* Listing(const std::string& dir);

    std::unordered_map<std::string, Folder> folders_;
};

}  // namespace korvalen
