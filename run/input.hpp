// One input file opened for a scan, handed out as code page 932 text. With
// detection on, the start of the file (or all of it, for a file of valid
// UTF-8 or plain ASCII, unless a provisional answer will do) is read once
// before the first line to find its encoding; a UTF-8 or UTF-16 file is then
// converted as it is read. With detection off the bytes come straight from
// the file.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "platform/file.hpp"
#include "text/encoding.hpp"
#include "text/lines.hpp"

namespace korvalen {

class InputText {
  public:
    // Opens `name` (throws FileError). `between` is called after each piece
    // read while detecting; false ends the detection early (a Stop), the
    // file then counts as code page 932. With `provisional`, a file whose
    // start is valid UTF-8 is not read to its end to settle the question:
    // it is taken as UTF-8 with Settled() false, and the reader checks the
    // rest as it goes. `sight`: what the run knows of the file (see File).
    InputText(const std::string& name, bool detect, const std::function<bool()>& between = {},
              bool provisional = false, const FileSight& sight = {});
    InputText(const InputText&) = delete;
    InputText& operator=(const InputText&) = delete;

    ByteSource& Source() noexcept { return *source_; }
    // The file's bytes as they are, before any conversion.
    ByteSource& RawSource() noexcept { return replay_ ? static_cast<ByteSource&>(*replay_) : raw_; }
    TextEncoding Encoding() const noexcept { return encoding_; }
    // False for a provisional answer (see the constructor).
    bool Settled() const noexcept { return settled_; }

    // Closes the file and reports a failed close.
    void Close() { file_.Close(); }

    // Bytes read from the file so far (detection included).
    std::int64_t BytesRead() const noexcept { return raw_.read; }

  private:
    class FileSource : public ByteSource {
      public:
        explicit FileSource(File& file) : file_(file) {}
        std::size_t Read(char* buf, std::size_t n) override {
            const std::size_t got = file_.Read(buf, n);
            read += static_cast<std::int64_t>(got);
            return got;
        }
        bool CanReadAt() const noexcept override { return true; }
        std::size_t ReadAt(char* buf, std::size_t n, std::uint64_t ahead) override {
            return file_.ReadAt(buf, n, read + static_cast<std::int64_t>(ahead));
        }
        void Passed(std::size_t n) override { read += static_cast<std::int64_t>(n); }
        std::int64_t read = 0;

      private:
        File& file_;
    };

    File file_;
    FileSource raw_{file_};
    std::optional<ReplaySource> replay_;
    std::optional<Cp932Source> convert_;
    ByteSource* source_ = &raw_;
    TextEncoding encoding_ = TextEncoding::Cp932;
    bool settled_ = true;
};

// `name`, or FileError (EINVAL) for a name holding CR or LF: its hit lines
// would read as lines of another file, so it gets an error block instead.
const std::string& RefuseLineBreakName(const std::string& name);

// The encoding of a whole file already in memory, and the text as code page
// 932 (`data` is replaced by its conversion when it is not already so).
TextEncoding ConvertLoaded(std::string& data);

}  // namespace korvalen
