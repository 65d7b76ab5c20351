// The options record. One instance lives for the whole program; every part
// reads the field it needs when it needs it.
#pragma once

#include <cstdint>
#include <string>

namespace korvalen {

struct iset {                   // NOLINT(readability-identifier-naming): the record's historic name
    bool TagJump = true;        // line number in parentheses in a hit line
    bool FileSeparate = true;   // an empty line between the hits of successive files
    bool ErrorStop = true;      // a file error during a run is shown in a message box
    bool FileOverWrite = true;  // each run rewrites the output file
    bool CloseFileDelete = false;       // the output file is removed at exit
    bool AddSortWord = false;           // the chosen key is the first search word
    bool OutputFileOpen = false;        // the output file is opened with the editor after a run
    bool SearchIconize = true;          // the application is minimised during a run
    bool JapaneseWord = true;           // character-boundary matching
    bool CRText = false;                // words cut by a line break are found
    std::int32_t OutputStrLength = 78;  // width of a hit line in bytes, 0 = no limit
    std::string Editor;                 // editor program; empty = the desktop's default
    std::uint8_t Delete = 0;            // how the output file is deleted
    // 0: every input file is code page 932. Non-zero: each file's encoding is
    // detected (UTF-8 or UTF-16 by its byte order mark, UTF-8 when valid and
    // not plain ASCII) and the file is searched as code page 932 text.
    std::int32_t InputEncoding = 0;
    // A dropped folder stands for the files below it whose names match
    // FolderFilter (patterns separated by ";", "*" and "?"; empty = all).
    bool SearchFolders = false;
    std::string FolderFilter = "*.txt";
    // The editor's arguments for opening a file at a line (%f path, %l line);
    // empty: the usual form for an editor recognised by its name.
    std::string EditorLine;
    bool ShowResults = false;  // the results window opens after a run that wrote a hit
    // Threads a run searches with: 0 one for each core, 1 the run's own alone.
    std::int32_t Threads = 0;
};

}  // namespace korvalen
