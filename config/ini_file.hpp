// The INI file as its lines. Every line keeps its bytes and its own line
// break, so a file written back holds every section, key, comment and odd
// line it held, byte for byte, except the values that were set.
//
// Syntax: "[name]" opens a section (blanks around it allowed); a line with a
// "=" is a key line, the key being the bytes before the first "=" without
// surrounding spaces and tabs; a line whose first non-blank is ";" is a
// comment. Section and key names match with ASCII letter case ignored. A
// section that occurs twice is one section; of duplicate keys the first one
// counts, for reading and for writing alike, so a write always changes the
// value that a read gives.
//
// Values: spaces and tabs around the value are dropped, then one pair of
// enclosing double quotes. A value that would lose bytes so is written in
// quotes, so every value without a line break reads back as it was written.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace korvalen {

class IniFile {
  public:
    IniFile() = default;
    explicit IniFile(std::string_view bytes);

    std::optional<std::string> Get(std::string_view section, std::string_view key) const;

    // False (nothing changed) for a value holding CR or LF: it would end the
    // line and could forge other keys.
    bool Set(std::string_view section, std::string_view key, std::string_view value);

    std::string Bytes() const;

    static std::string EncodeValue(std::string_view value);
    static std::string DecodeValue(std::string_view raw);

  private:
    struct Line {
        std::string text;
        std::string brk;  // "\r\n", "\n", "\r", or empty for a last line without one
    };
    struct KeyRef {
        std::size_t line;
        std::size_t valueBegin;  // first byte after the "="
    };

    std::optional<KeyRef> Find(std::string_view section, std::string_view key) const;
    void InsertLine(std::size_t at, std::string text);
    std::string_view NewBreak() const;

    std::vector<Line> lines_;
    std::string mark_;  // a UTF-8 byte order mark before the first line, written back
};

// The whole file at `path`. A missing file gives true with empty `out` and
// errno ENOENT; a file read gives true with errno 0; anything but a regular
// file, or a failed read, gives false.
bool ReadIniBytes(const std::string& path, std::string& out);

// Replaces the file at `path` with `bytes`: a temporary file beside it,
// written, flushed to disk and renamed over it, so the old file stays whole
// when anything fails. Keeps the old file's mode; follows a symbolic link to
// the file it names. False with errno set on failure.
bool ReplaceFile(const std::string& path, std::string_view bytes);

// Reads the file, lets `change` edit it, writes it back when `change` says
// true. Refuses (false) when the existing file cannot be read, so a writer
// never replaces what it could not see.
template <class F>
bool UpdateIniFile(const std::string& path, F&& change) {
    std::string bytes;
    if (!ReadIniBytes(path, bytes)) {
        return false;
    }
    IniFile ini(bytes);
    if (!change(ini)) {
        return false;
    }
    return ReplaceFile(path, ini.Bytes());
}

}  // namespace korvalen
