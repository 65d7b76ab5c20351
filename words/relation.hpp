// The relation file: lines of key=word,word,... in code page 932. Two reads
// of it, each opening the file anew and closing it on every way out: the key
// list for the drop-down, and the words of one key. Failures come back as
// message texts for the front end to show; nothing here shows anything.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "text/lines.hpp"

namespace korvalen {

// "（なし）" in code page 932: the first entry of every key list that was read.
inline constexpr std::string_view kNoKey = "\x81\x69\x82\xC8\x82\xB5\x81\x6A";

// Message texts (UTF-8), exactly as a message box shows them.
inline constexpr std::string_view kMsgNoRelFile = "関連ファイルがありません";
inline constexpr std::string_view kMsgKeysFailed = "関連項目の読み込みに失敗しました";
inline constexpr std::string_view kMsgWordsFailed = "関連語の読み込みに失敗しました";

struct RelKeysResult {
    bool opened = false;            // the file could be opened
    std::vector<std::string> keys;  // as the drop-down shows them: kNoKey first when opened,
                                    // then each distinct key (CP932 bytes)
    std::string message;            // empty, or the exact UTF-8 message text to show in a box

    // What the drop-down does after the load: select index 1 when it exists
    // (-1: nothing selected), and load the words of the selected text (empty
    // when nothing is selected) unless the list is empty, in which case the
    // search words stay as they were.
    int SelectedIndex() const noexcept { return keys.size() > 1 ? 1 : -1; }
    bool LoadsWords() const noexcept { return !keys.empty(); }
    std::string SelectedKey() const { return keys.size() > 1 ? keys[1] : std::string(); }
};

// The key list of the relation file at `path` (file-system bytes). An empty
// path, a missing file or a directory: not opened, kMsgNoRelFile. A failed
// open: not opened, kMsgKeysFailed. A failed read: the keys read so far and
// kMsgKeysFailed.
RelKeysResult LoadRelKeys(const std::string& path);

struct RelWordsResult {
    std::vector<std::string> words;  // CP932 byte strings, in order, key first if asked
    std::string message;             // empty, or the exact UTF-8 message text
};

// The search words that choosing `key` loads: nothing for an empty key (the
// file is not read, and addSortWord does not apply); else the key itself
// first when addSortWord is set, then the fields of every line whose key
// equals `key` byte for byte, in file order. A missing file adds nothing and
// gives no message; a failed open or read keeps what was read and gives
// kMsgWordsFailed.
RelWordsResult LoadRelWords(const std::string& path, std::string_view key, bool addSortWord);

// The same two reads over any byte source (a failure of the source is a
// FileError thrown by its Read). `opened` is taken as true.
RelKeysResult ReadRelKeys(ByteSource& source);
RelWordsResult ReadRelWords(ByteSource& source, std::string_view key, bool addSortWord);

// The fields of one value list, as one relation line adds them: the list
// trimmed of spaces and tabs, split at "," with '"' as the quote, each field
// trimmed and stripped of one pair of quotes.
std::vector<std::string> RelValueWords(std::string_view valueList);

// `key` with letter case folded for the key list's lookup: ASCII, full-width
// Latin, Greek and Cyrillic capitals become small letters, walked character
// by character so a second byte is never taken for a letter.
std::string FoldKeyCase(std::string_view key);

}  // namespace korvalen
