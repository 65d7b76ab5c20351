// The arguments an editor is started with to show a file at a line.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace korvalen {

// The arguments (the program not included) for opening `path` at `line` (0:
// no line, the file's start) with the editor program `editor`:
// - `editorLine` not empty: its words, split at blanks (a double-quoted part
//   keeps its blanks), with %f the path, %l the line and %% a percent sign.
//   The path always arrives as one argument, whatever it holds.
// - otherwise the usual form for an editor recognised by its file name (see
//   RecognisedEditors), else the path alone.
// Without a line, the path alone. A relative path that starts with "-" is
// given as "./-..." so that no editor reads it as an option.
std::vector<std::string> EditorArguments(std::string_view editor, std::string_view editorLine,
                                         const std::string& path, std::int64_t line);

struct RecognisedEditor {
    std::string_view name;  // the executable's file name
    std::string_view form;  // in the notation of `editorLine`
};
// The editors recognised by name and what each is given.
const std::vector<RecognisedEditor>& RecognisedEditors();

}  // namespace korvalen
