#include "platform/editor.hpp"

#include <algorithm>

namespace korvalen {

const std::vector<RecognisedEditor>& RecognisedEditors() {
    // Vim's +LINE takes no column; setcharpos counts characters.
    static constexpr std::string_view kVimAt = "\"+call setcharpos('.',[0,%l,%c,0])\" %f";
    static const std::vector<RecognisedEditor> editors = {
        {"vim", "+%l %f", kVimAt},
        {"vi", "+%l %f", ""},
        {"nvim", "+%l %f", kVimAt},
        {"gvim", "+%l %f", kVimAt},
        {"emacs", "+%l %f", "+%l:%v %f"},
        {"emacsclient", "-n +%l %f", "-n +%l:%v %f"},
        {"nano", "+%l %f", "+%l,%c %f"},
        {"micro", "+%l %f", "+%l:%c %f"},
        {"gedit", "+%l %f", "+%l:%c %f"},
        {"gnome-text-editor", "+%l %f", "+%l:%c %f"},
        {"mousepad", "--line=%l %f", ""},
        {"kate", "--line %l %f", "--line %l --column %c %f"},
        {"kwrite", "--line %l %f", "--line %l --column %c %f"},
        {"geany", "--line=%l %f", "--line=%l --column=%c %f"},
        {"pluma", "+%l %f", ""},
        {"code", "-g %f:%l", "-g %f:%l:%c"},
        {"codium", "-g %f:%l", "-g %f:%l:%c"},
        {"subl", "%f:%l", "%f:%l:%c"},
        {"sublime_text", "%f:%l", "%f:%l:%c"},
    };
    return editors;
}

namespace {

std::vector<std::string> Split(std::string_view form) {
    std::vector<std::string> words;
    std::string word;
    bool inWord = false;
    bool quoted = false;
    for (const char c : form) {
        if (c == '"') {
            quoted = !quoted;
            inWord = true;
        } else if (!quoted && (c == ' ' || c == '\t')) {
            if (inWord) {
                words.push_back(std::move(word));
                word.clear();
            }
            inWord = false;
        } else {
            word += c;
            inWord = true;
        }
    }
    if (inWord) {
        words.push_back(std::move(word));
    }
    return words;
}

std::string Expand(std::string_view word, const std::string& path, std::int64_t line,
                   std::int64_t column, std::int64_t screenColumn) {
    std::string out;
    for (std::size_t i = 0; i < word.size(); ++i) {
        if (word[i] == '%' && i + 1 < word.size()) {
            const char c = word[i + 1];
            if (c == 'f' || c == 'l' || c == 'c' || c == 'v' || c == '%') {
                out += c == 'f'   ? path
                       : c == 'l' ? std::to_string(line)
                       : c == 'c' ? std::to_string(column > 0 ? column : 1)
                       : c == 'v' ? std::to_string(screenColumn > 0 ? screenColumn
                                                   : column > 0     ? column
                                                                    : 1)
                                  : "%";
                ++i;
                continue;
            }
        }
        out += word[i];
    }
    return out;
}

// The recognised editor `editor` names: by its file name, else by its stem
// (vim.gtk3, emacs-gtk, nvim-qt); null when none.
const RecognisedEditor* Recognise(std::string_view editor) {
    const std::size_t slash = editor.rfind('/');
    const std::string_view name =
        slash == std::string_view::npos ? editor : editor.substr(slash + 1);
    std::string_view stem = name.substr(0, name.find('.'));
    for (const std::string_view build : {"-gtk3", "-gtk", "-nox", "-lucid", "-x11", "-qt"}) {
        if (stem.ends_with(build) && stem.size() > build.size()) {
            stem.remove_suffix(build.size());
            break;
        }
    }
    const RecognisedEditor* found = nullptr;
    for (const RecognisedEditor& e : RecognisedEditors()) {
        if (e.name == name) {
            return &e;
        }
        if (e.name == stem) {
            found = &e;
        }
    }
    return found;
}

bool HasPathMark(const std::vector<std::string>& words) {
    for (const std::string& word : words) {
        for (std::size_t i = 0; i + 1 < word.size(); ++i) {
            if (word[i] == '%') {
                if (word[i + 1] == 'f') {
                    return true;
                }
                ++i;  // %% is no mark
            }
        }
    }
    return false;
}

}  // namespace

bool EditorLineQuotesClosed(std::string_view editorLine) {
    return std::count(editorLine.begin(), editorLine.end(), '"') % 2 == 0;
}

std::vector<std::string> EditorArguments(std::string_view editor, std::string_view editorLine,
                                         const std::string& path, std::int64_t line,
                                         std::int64_t column, std::int64_t screenColumn) {
    if (path.empty()) {
        return {};  // the editor alone
    }
    const bool relative = path.front() == '-' || path.front() == '+';
    const std::string safe = relative ? "./" + path : path;
    const RecognisedEditor* known = Recognise(editor);
    std::vector<std::string> words;
    const bool blank = editorLine.find_first_not_of(" \t") == std::string_view::npos;
    if (line > 0 && !blank) {
        words = Split(editorLine);
        std::vector<std::string> rewrapped = Split("\"" + std::string(editorLine) + "\"");
        if (editorLine.find('"') != std::string_view::npos && rewrapped.size() > words.size()) {
            words = std::move(rewrapped);
        }
        if (!HasPathMark(words)) {
            words.emplace_back("%f");
        }
    } else if (line > 0 && known != nullptr) {
        words = Split(column > 0 && !known->columnForm.empty() ? known->columnForm : known->form);
    } else {
        words = {"%f"};
    }
    std::vector<std::string> args;
    if (known != nullptr && known->name == "emacsclient" &&
        std::find(words.begin(), words.end(), "-n") == words.end() &&
        std::find(words.begin(), words.end(), "--no-wait") == words.end()) {
        args.emplace_back("-n");
    }
    for (const std::string& word : words) {
        args.push_back(Expand(word, safe, line, column, screenColumn));
    }
    return args;
}

}  // namespace korvalen
