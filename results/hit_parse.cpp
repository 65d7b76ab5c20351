#include "results/hit_parse.hpp"

#include <algorithm>
#include <filesystem>
#include <system_error>

#include "run/input.hpp"
#include "text/cp932.hpp"
#include "text/lines.hpp"
#include "text/sjis.hpp"

namespace korvalen {

namespace {

// "ファイルアクセスでエラーが生じました：" in code page 932.
constexpr std::string_view kFileError =
    "\x83\x74\x83\x40\x83\x43\x83\x8B\x83\x41\x83\x4E\x83\x5A\x83\x58\x82\xC5\x83\x47\x83\x89"
    "\x81\x5B\x82\xAA\x90\xB6\x82\xB6\x82\xDC\x82\xB5\x82\xBD\x81\x46";
constexpr std::string_view kSeparator = "----------";

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

// The head starting at `at` ("(N) :(" or " N:("): the number and where the
// word begins, or false.
bool HeadAt(std::string_view line, std::size_t at, std::int64_t& number, std::size_t& word) {
    const char open = line[at];
    if (open != '(' && open != ' ') {
        return false;
    }
    std::size_t p = at + 1;
    std::int64_t n = 0;
    while (p < line.size() && IsDigit(line[p])) {
        if (n > (INT64_MAX - 9) / 10) {
            return false;
        }
        n = n * 10 + (line[p] - '0');
        ++p;
    }
    if (p == at + 1) {
        return false;
    }
    const std::string_view tail = open == '(' ? ") :(" : ":(";
    if (line.substr(p, tail.size()) != tail) {
        return false;
    }
    number = n;
    word = p + tail.size();
    return true;
}

bool Exists(const std::string& path) {
    std::error_code ec;
    return std::filesystem::exists(path, ec);
}

}  // namespace

namespace {

// The first hit reading whose head starts at or after `from`; false when none.
// Every head holds ":(", which text rarely does: each one found is checked
// backwards for the rest of a head.
bool NextReading(std::string_view line, std::size_t from, OutputLine& hit) {
    for (std::size_t colon = line.find(":(", from); colon != std::string_view::npos;
         colon = line.find(":(", colon + 1)) {
        // "(N) :(" ends ") " before the colon, " N:(" ends in a digit.
        const bool tagJump = colon >= 2 && line[colon - 1] == ' ' && line[colon - 2] == ')';
        std::size_t digits = tagJump ? colon - 2 : colon;
        while (digits > 0 && IsDigit(line[digits - 1])) {
            --digits;
        }
        if (digits == 0) {
            continue;
        }
        const std::size_t at = digits - 1;
        OutputLine found;
        if (at >= from && ReadHitAt(line, at, found) &&
            found.word.data() == line.data() + colon + 2) {
            hit = found;
            return true;
        }
    }
    return false;
}

}  // namespace

bool ReadHitAt(std::string_view line, std::size_t at, OutputLine& hit) {
    std::int64_t number = 0;
    std::size_t word = 0;
    if (at >= line.size() || !HeadAt(line, at, number, word)) {
        return false;
    }
    const std::size_t close = line.find(')', word);
    if (close == std::string_view::npos) {
        return false;
    }
    hit.kind = OutputLineKind::Hit;
    hit.path = line.substr(0, at);
    hit.number = number;
    hit.word = line.substr(word, close - word);
    hit.text = line.substr(close + 1);
    return true;
}

namespace {

// A line that is no hit, or false.
bool NotAHit(std::string_view line, OutputLine& read) {
    if (line.empty()) {
        read.kind = OutputLineKind::Empty;
    } else if (line == kSeparator) {
        read.kind = OutputLineKind::Separator;
    } else if (line.starts_with(kFileError)) {
        read.kind = OutputLineKind::FileError;
        read.path = line.substr(kFileError.size());
    } else {
        return false;
    }
    return true;
}

}  // namespace

std::vector<OutputLine> ReadOutputLineAll(std::string_view line) {
    std::vector<OutputLine> all(1);
    if (NotAHit(line, all[0])) {
        return all;
    }
    all.clear();
    OutputLine hit;
    for (std::size_t from = 1; NextReading(line, from, hit); from = hit.path.size() + 1) {
        all.push_back(hit);
    }
    if (all.empty()) {
        all.emplace_back().text = line;
    }
    return all;
}

OutputLine ReadOutputLine(std::string_view line, const PathExists& exists) {
    OutputLine first;
    if (NotAHit(line, first)) {
        return first;
    }
    if (!NextReading(line, 1, first)) {
        first.text = line;
        return first;
    }
    // Most lines have one reading: the file system is asked only when not,
    // and then reading by reading, the shortest path first.
    OutputLine other;
    if (!exists || !NextReading(line, first.path.size() + 1, other) || exists(first.path)) {
        return first;
    }
    do {
        if (exists(other.path)) {
            return other;
        }
    } while (NextReading(line, other.path.size() + 1, other));
    return first;
}

WordColumns WordColumnsIn(std::string_view text, std::string_view word) {
    if (word.empty()) {
        return {};
    }
    WordColumns at{1, 1};
    WordColumns cut;  // where the longest start of the word ends the text
    for (std::string_view rest = text; !rest.empty(); ++at.chars) {
        if (rest.starts_with(word)) {
            return at;
        }
        if (cut.chars == 0 && word.starts_with(rest)) {
            cut = at;
        }
        at.screen += static_cast<std::int64_t>(TakeChar(rest).size());
    }
    return cut;
}

WordColumns HitColumns(const std::string& file, const OutputLine& hit) {
    try {
        InputText input(file, /*detect=*/true);
        LineReader reader(input.Source());
        std::string_view line;
        for (std::int64_t n = 1; n <= hit.number && reader.Next(line); ++n) {
            if (n == hit.number) {
                if (const WordColumns at = WordColumnsIn(line, hit.word); at.chars > 0) {
                    return at;
                }
            }
        }
    } catch (const FileError&) {
    }
    return WordColumnsIn(hit.text, hit.word);
}

std::vector<std::string> OutputPathForms(std::string_view path) {
    std::vector<std::string> forms;
    if (Cp932DecodesCleanly(path)) {
        forms.push_back(Cp932ToUtf8(path));
        // The forms typed on Linux (〜 for ～ ...), which earlier versions wrote
        // in code page 932 as well.
        std::string typed;
        bool differs = false;
        for (std::string_view rest = path; !rest.empty();) {
            const std::string_view ch = TakeChar(rest);
            const std::string jis = Cp932JisFormOf(ch);
            differs = differs || !jis.empty();
            typed += jis.empty() ? Cp932ToUtf8(ch) : jis;
        }
        if (differs) {
            forms.push_back(std::move(typed));
        }
    }
    if (std::find(forms.begin(), forms.end(), path) == forms.end()) {
        forms.emplace_back(path);
    }
    return forms;
}

bool FileNameCache::Exists(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    const std::string_view name = slash == std::string::npos
                                      ? std::string_view(path)
                                      : std::string_view(path).substr(slash + 1);
    if (name.empty() || name == "." || name == "..") {
        return korvalen::Exists(path);
    }
    const std::string dir = slash == std::string::npos ? "."
                            : slash == 0               ? "/"
                                                       : path.substr(0, slash);
    const Folder* folder = Listing(dir);
    if (folder == nullptr) {
        return false;
    }
    return folder->listed ? folder->names.contains(std::string(name)) : korvalen::Exists(path);
}

const FileNameCache::Folder* FileNameCache::Listing(const std::string& dir) {
    if (const auto it = folders_.find(dir); it != folders_.end()) {
        return &it->second;
    }
    // A folder not in its parent's listing is not there: no call for it, and
    // nothing kept (hit text gives every line folders of its own).
    if (dir != "/" && dir != "." && !Exists(dir)) {
        return nullptr;
    }
    Folder folder;
    std::error_code ec;
    for (std::filesystem::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
        folder.names.insert(it->path().filename().string());
    }
    folder.listed = !ec;
    return &folders_.emplace(dir, std::move(folder)).first->second;
}

std::string ResolveOutputPath(std::string_view path, const std::string& outputFile,
                              const std::string& currentDir, FileNameCache* names) {
    const auto Exists = [names](const std::string& file) {
        return names != nullptr ? names->Exists(file) : korvalen::Exists(file);
    };
    // As std::filesystem's "/", without its parse: this runs for every reading.
    const auto join = [](const std::string& dir, const std::string& name) {
        return dir.empty() ? name : dir.back() == '/' ? dir + name : dir + '/' + name;
    };
    const std::vector<std::string> forms = OutputPathForms(path);
    const std::size_t slash = outputFile.rfind('/');
    const std::string outDir = slash == std::string::npos ? ""
                               : slash == 0               ? "/"
                                                          : outputFile.substr(0, slash);
    for (const std::string& form : forms) {
        if (!form.empty() && form.front() == '/') {
            if (Exists(form)) {
                return form;
            }
            continue;
        }
        for (const std::string* dir : {&outDir, &currentDir}) {
            std::string full = join(*dir, form);
            if (Exists(full)) {
                return full;
            }
        }
    }
    const std::string& first = forms.front();
    return !first.empty() && first.front() == '/' ? first : join(outDir, first);
}

PathExists OutputPathExists(const std::string& outputFile, const std::string& currentDir,
                            FileNameCache* names) {
    return [outputFile, currentDir, names](std::string_view path) {
        const std::string file = ResolveOutputPath(path, outputFile, currentDir, names);
        return names != nullptr ? names->Exists(file) : Exists(file);
    };
}

}  // namespace korvalen
