// The arguments an editor is started with to show a file at a line.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace korvalen {

// The arguments (the program not included) for opening `path` at `line` (0:
// no line, the file's start) and `column` (1-based, in characters; 0: none
// known) with the editor program `editor`:
// - `editorLine` not empty: its words, split at blanks (a double-quoted part
//   keeps its blanks), with %f the path, %l the line, %c the column (1 when
//   none is known), %v the column on screen and %% a percent sign; without %f the path is added as
//   the last word. The path always arrives as one argument, whatever it
//   holds. The INI reader takes off a pair of quotes around the whole value,
//   so a template that splits into more words with that pair put back is
//   read so: `"+%l" "%f"` means the same written by hand or typed.
// - otherwise the usual form for an editor recognised by its file name or
//   its stem (vim.gtk3, emacs-gtk, nvim-qt: see RecognisedEditors), else the
//   path alone.
// Without a line, the path alone. emacsclient always gets -n (it would wait
// for the user). A relative path that starts with "-" or "+" is given as
// "./-..." so that no editor reads it as an option or a command.
// `screenColumn` is the same column on screen (a wide character counts two),
// which Emacs takes; 0: `column`.
std::vector<std::string> EditorArguments(std::string_view editor, std::string_view editorLine,
                                         const std::string& path, std::int64_t line,
                                         std::int64_t column = 0, std::int64_t screenColumn = 0);

// False when `editorLine` has a double quote that is not closed.
bool EditorLineQuotesClosed(std::string_view editorLine);

struct RecognisedEditor {
    std::string_view name;        // the executable's file name
    std::string_view form;        // in the notation of `editorLine`
    std::string_view columnForm;  // the same at a column, empty: `form`
};
// The editors recognised by name and what each is given.
const std::vector<RecognisedEditor>& RecognisedEditors();

}  // namespace korvalen
