#include "search/hit_parse.hpp"

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

std::vector<OutputLine> ReadOutputLineAll(std::string_view line) {
    std::vector<OutputLine> all(1);
    if (line.empty()) {
        all[0].kind = OutputLineKind::Empty;
        return all;
    }
    if (line == kSeparator) {
        all[0].kind = OutputLineKind::Separator;
        return all;
    }
    if (line.starts_with(kFileError)) {
        all[0].kind = OutputLineKind::FileError;
        all[0].path = line.substr(kFileError.size());
        return all;
    }
    all.clear();
    for (std::size_t at = 1; at < line.size(); ++at) {
        std::int64_t number = 0;
        std::size_t word = 0;
        if (!HeadAt(line, at, number, word)) {
            continue;
        }
        const std::size_t close = line.find(')', word);
        if (close == std::string_view::npos) {
            continue;
        }
        OutputLine hit;
        hit.kind = OutputLineKind::Hit;
        hit.path = line.substr(0, at);
        hit.number = number;
        hit.word = line.substr(word, close - word);
        hit.text = line.substr(close + 1);
        all.push_back(hit);
    }
    if (all.empty()) {
        all.emplace_back().text = line;
    }
    return all;
}

OutputLine ReadOutputLine(std::string_view line, const PathExists& exists) {
    std::vector<OutputLine> all = ReadOutputLineAll(line);
    if (all.size() > 1 && exists) {
        for (const OutputLine& reading : all) {
            if (exists(reading.path)) {
                return reading;
            }
        }
    }
    return all.front();
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
