#include "platform/editor.hpp"

namespace korvalen {

const std::vector<RecognisedEditor>& RecognisedEditors() {
    static const std::vector<RecognisedEditor> editors = {
        {"vim", "+%l %f"},         {"vi", "+%l %f"},
        {"nvim", "+%l %f"},        {"gvim", "+%l %f"},
        {"emacs", "+%l %f"},       {"emacsclient", "-n +%l %f"},
        {"nano", "+%l %f"},        {"micro", "+%l %f"},
        {"gedit", "+%l %f"},       {"mousepad", "--line=%l %f"},
        {"kate", "--line %l %f"},  {"kwrite", "--line %l %f"},
        {"geany", "--line=%l %f"}, {"pluma", "+%l %f"},
        {"code", "-g %f:%l"},      {"codium", "-g %f:%l"},
        {"subl", "%f:%l"},         {"sublime_text", "%f:%l"},
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

std::string Expand(std::string_view word, const std::string& path, std::int64_t line) {
    std::string out;
    for (std::size_t i = 0; i < word.size(); ++i) {
        if (word[i] == '%' && i + 1 < word.size()) {
            const char c = word[i + 1];
            if (c == 'f' || c == 'l' || c == '%') {
                out += c == 'f' ? path : c == 'l' ? std::to_string(line) : "%";
                ++i;
                continue;
            }
        }
        out += word[i];
    }
    return out;
}

}  // namespace

std::vector<std::string> EditorArguments(std::string_view editor, std::string_view editorLine,
                                         const std::string& path, std::int64_t line) {
    if (path.empty()) {
        return {};  // the editor alone
    }
    const std::string safe = !path.empty() && path.front() == '-' ? "./" + path : path;
    std::string_view form = editorLine;
    if (line <= 0) {
        form = "";
    } else if (form.empty()) {
        const std::size_t slash = editor.rfind('/');
        const std::string_view name =
            slash == std::string_view::npos ? editor : editor.substr(slash + 1);
        for (const RecognisedEditor& e : RecognisedEditors()) {
            if (name == e.name) {
                form = e.form;
            }
        }
    }
    if (form.empty()) {
        return {safe};
    }
    std::vector<std::string> args;
    for (const std::string& word : Split(form)) {
        args.push_back(Expand(word, safe, line));
    }
    return args;
}

}  // namespace korvalen
