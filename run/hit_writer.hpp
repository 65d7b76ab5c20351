// The output file and the one writer of its lines.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>

#include "config/options.hpp"
#include "platform/file.hpp"

namespace korvalen {

// A failure on the output file. Not a FileError: a scanner handles failures
// of its input file itself, but one of the output file always ends the run.
class OutputError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// Where an output that is not a file sends its lines: whole lines, each
// ending in CR LF, in order.
class LineSink {
  public:
    virtual ~LineSink() = default;
    virtual void Take(std::string_view lines) = 0;
};

// The output file, buffered. Lines are written as they come (code page 932
// bytes, never converted) and end with CR LF. Every write, flush and close is
// checked; after a failure every further write fails too. The file is only
// ever appended to, by whole lines, the disk's room for them reserved before
// they are written: what another writer appends meanwhile stays, and a full
// disk leaves no part of a line.
class OutFile {
  public:
    OutFile() = default;
    ~OutFile();  // closes without flushing: a run that failed writes no more
    OutFile(const OutFile&) = delete;
    OutFile& operator=(const OutFile&) = delete;

    // `create`: create or empty the file; otherwise append at its end
    // (created when missing).
    void Open(const std::string& path, bool create);
    // Lines go to `sink` instead of a file, until Close.
    void Open(LineSink& sink);
    bool IsOpen() const noexcept { return file_.IsOpen() || sink_ != nullptr; }
    FileId Id() const;
    // The line that begins an appending run, written only when the file held
    // something when it was opened, and on a line of its own.
    void WriteRunSeparator(std::string_view line);

    void WriteLine(std::string_view bytes);
    // A hit line (see AppendHitLine), composed straight into the buffer.
    void WriteHitLine(const iset& options, std::string_view path, std::int64_t number,
                      std::string_view word, std::string_view text);
    // Bytes that are whole lines, each ending in CR LF (held hit lines).
    void WriteLines(std::string_view lines);
    // Flushes and closes; a file that is not open is left alone.
    void Close();

  private:
    void CheckWritable() const;
    void Flush();
    // Reserves the room for `bytes` and writes them.
    void Put(std::string_view bytes);
    [[noreturn]] void Fail(const FileError& e);

    File file_;
    LineSink* sink_ = nullptr;
    std::string buf_;
    bool failed_ = false;
    bool heldBytes_ = false;  // at the open
    bool endedMidLine_ = false;
};

// A path as the output file holds it (hit lines, error blocks): in code page
// 932 when it is valid UTF-8 and every character has a code page 932 form,
// so that editors reading the file as code page 932 find the file; any other
// path byte for byte.
std::string OutputPath(std::string_view path);
void AppendOutputPath(std::string& line, std::string_view path);

// The hit line without its line break: the head (tag-jump form or not), the
// text, the cut to `OutputStrLength`, trailing spaces and tabs removed.
std::string ComposeHitLine(std::string_view path, std::int64_t number, std::string_view word,
                           std::string_view text, const iset& options);

// The same line appended to `line` (no allocation once `line` has grown).
void AppendHitLine(std::string& line, std::string_view path, std::int64_t number,
                   std::string_view word, std::string_view text, const iset& options);

void WriteHitLine(OutFile& out, const iset& options, std::string_view path, std::int64_t number,
                  std::string_view word, std::string_view text);

}  // namespace korvalen
