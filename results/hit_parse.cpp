#include "results/hit_parse.hpp"

#include <filesystem>
#include <system_error>

#include "text/cp932.hpp"

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
        std::int64_t number = 0;
        std::size_t word = 0;
        if (at < from || !HeadAt(line, at, number, word) || word != colon + 2) {
            continue;
        }
        const std::size_t close = line.find(')', word);
        if (close == std::string_view::npos) {
            continue;
        }
        hit.kind = OutputLineKind::Hit;
        hit.path = line.substr(0, at);
        hit.number = number;
        hit.word = line.substr(word, close - word);
        hit.text = line.substr(close + 1);
        return true;
    }
    return false;
}

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
    // Most lines have one reading: the file system is asked only when not.
    OutputLine other;
    if (!exists || !NextReading(line, first.path.size() + 1, other)) {
        return first;
    }
    for (const OutputLine& reading : ReadOutputLineAll(line)) {
        if (exists(reading.path)) {
            return reading;
        }
    }
    return first;
}

std::string ResolveOutputPath(std::string_view path, const std::string& outputFile,
                              const std::string& currentDir) {
    std::vector<std::string> forms;
    if (Cp932DecodesCleanly(path)) {
        forms.push_back(Cp932ToUtf8(path));
    }
    if (forms.empty() || forms.front() != path) {
        forms.emplace_back(path);
    }
    const std::filesystem::path outDir = std::filesystem::path(outputFile).parent_path();
    std::string fallback;
    for (const std::string& form : forms) {
        if (!form.empty() && form.front() == '/') {
            if (Exists(form)) {
                return form;
            }
            continue;
        }
        for (const std::filesystem::path& dir : {outDir, std::filesystem::path(currentDir)}) {
            const std::string full = (dir / form).string();
            if (Exists(full)) {
                return full;
            }
        }
    }
    const std::string& first = forms.front();
    return !first.empty() && first.front() == '/' ? first : (outDir / first).string();
}

PathExists OutputPathExists(const std::string& outputFile, const std::string& currentDir) {
    return [outputFile, currentDir](std::string_view path) {
        return Exists(ResolveOutputPath(path, outputFile, currentDir));
    };
}

}  // namespace korvalen
