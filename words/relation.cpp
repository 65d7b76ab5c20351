#include "words/relation.hpp"

#include <unordered_set>
#include <utility>

#include "platform/file.hpp"
#include "platform/file_info.hpp"
#include "text/quoted.hpp"
#include "text/sjis.hpp"
#include "text/split.hpp"

namespace korvalen {

namespace {

// The relation file as a byte source, closed on every way out of a read.
// Only a regular file opens: a device or a pipe could feed bytes for ever.
class RelFileSource : public ByteSource {
  public:
    explicit RelFileSource(const std::string& path) : file_(path, File::Mode::Read) {}
    std::size_t Read(char* buf, std::size_t n) override { return file_.Read(buf, n); }

  private:
    File file_;
};

// Case pairs of code page 932 double-byte letters: capitals from `upper` on,
// `count` of them, map to small letters from `lower` on.
struct CasePair {
    unsigned upper;
    unsigned count;
    unsigned lower;
};
constexpr CasePair kWideCases[] = {
    {0x8260, 26, 0x8281},  // full-width Latin
    {0x839F, 24, 0x83BF},  // Greek
    {0x8440, 15, 0x8470},  // Cyrillic А-Н
    {0x844F, 18, 0x8480},  // Cyrillic О-Я (small letters skip 0x847F)
};

void AppendFolded(std::string_view ch, std::string& out) {
    if (ch.size() == 1) {
        const char c = ch[0];
        out.push_back(c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c);
        return;
    }
    const unsigned code =
        (static_cast<unsigned char>(ch[0]) << 8) | static_cast<unsigned char>(ch[1]);
    for (const CasePair& p : kWideCases) {
        if (code >= p.upper && code < p.upper + p.count) {
            const unsigned small = p.lower + (code - p.upper);
            out.push_back(static_cast<char>(small >> 8));
            out.push_back(static_cast<char>(small & 0xFF));
            return;
        }
    }
    out.append(ch);
}

// Calls f(key, value) for every non-empty line, split at its first "=".
// False when reading failed; the entries before the failure were seen.
template <class F>
bool ForEachEntry(ByteSource& source, F&& f) {
    try {
        LineReader reader(source);
        std::string_view line;
        while (reader.Next(line)) {
            if (!line.empty()) {
                auto [key, value] = SplitAt(line, '=');
                f(std::move(key), std::move(value));
            }
        }
    } catch (const FileError&) {
        return false;
    }
    return true;
}

}  // namespace

std::string FoldKeyCase(std::string_view key) {
    std::string out;
    out.reserve(key.size());
    while (!key.empty()) {
        AppendFolded(TakeChar(key), out);
    }
    return out;
}

std::vector<std::string> RelValueWords(std::string_view valueList) {
    StringList fields;
    SplitQuoted(TrimSpaces(valueList), ',', '"', fields);
    StripQuotesAll(fields, '"');
    return fields;
}

RelKeysResult ReadRelKeys(ByteSource& source) {
    RelKeysResult result;
    result.opened = true;
    result.keys.emplace_back(kNoKey);
    // The drop-down's lookup ignores letter case; a set of folded keys keeps
    // a file of many keys linear.
    std::unordered_set<std::string> seen;
    seen.insert(FoldKeyCase(kNoKey));
    const bool read = ForEachEntry(source, [&](std::string key, std::string) {
        if (seen.insert(FoldKeyCase(key)).second) {
            result.keys.push_back(std::move(key));
        }
    });
    if (!read) {
        result.message = kMsgKeysFailed;
    }
    return result;
}

RelWordsResult ReadRelWords(ByteSource& source, std::string_view key, bool addSortWord) {
    RelWordsResult result;
    if (key.empty()) {
        return result;
    }
    if (addSortWord) {
        result.words.emplace_back(key);
    }
    const bool read = ForEachEntry(source, [&](std::string left, std::string right) {
        if (left == key) {
            std::vector<std::string> fields = RelValueWords(right);
            result.words.insert(result.words.end(), std::make_move_iterator(fields.begin()),
                                std::make_move_iterator(fields.end()));
        }
    });
    if (!read) {
        result.message = kMsgWordsFailed;
    }
    return result;
}

RelKeysResult LoadRelKeys(const std::string& path) {
    if (path.empty() || !FileExists(path)) {
        RelKeysResult result;
        result.message = kMsgNoRelFile;
        return result;
    }
    try {
        RelFileSource source(path);
        return ReadRelKeys(source);
    } catch (const FileError&) {
        RelKeysResult result;
        result.message = kMsgKeysFailed;
        return result;
    }
}

RelWordsResult LoadRelWords(const std::string& path, std::string_view key, bool addSortWord) {
    if (key.empty()) {
        return {};
    }
    if (path.empty() || !FileExists(path)) {
        RelWordsResult result;
        if (addSortWord) {
            result.words.emplace_back(key);
        }
        return result;
    }
    try {
        RelFileSource source(path);
        return ReadRelWords(source, key, addSortWord);
    } catch (const FileError&) {
        // The open failed: only the key line, if any, was added.
        RelWordsResult result;
        if (addSortWord) {
            result.words.emplace_back(key);
        }
        result.message = kMsgWordsFailed;
        return result;
    }
}

}  // namespace korvalen
