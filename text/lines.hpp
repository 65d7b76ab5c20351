// The one line-break rule of the program: CR LF, a lone LF or a lone CR ends
// a line (CR LF counts once). A final break does not start another line, an
// empty input has no lines, and NUL and 0x1A are ordinary bytes. Every reader
// of lines (both scanners, the relation file) splits by this rule, so line
// numbers never depend on who read the file.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace korvalen {

struct LineBreak {
    std::size_t pos;  // first byte of the break; npos when there is none
    std::size_t len;  // 1 or 2
};

// The next break at or after `from` in a complete buffer. A CR that is the
// last byte of `buf` is a break of length 1.
LineBreak FindBreak(std::string_view buf, std::size_t from) noexcept;

// Calls f(line) for every line of a complete buffer, in order. Lines are views
// into `buf`, without their breaks.
template <class F>
void ForEachLine(std::string_view buf, F&& f) {
    std::size_t begin = 0;
    while (begin < buf.size()) {
        const LineBreak br = FindBreak(buf, begin);
        if (br.pos == std::string_view::npos) {
            f(buf.substr(begin));
            return;
        }
        f(buf.substr(begin, br.pos - begin));
        begin = br.pos + br.len;
    }
}

// All lines of a complete buffer, as views into it.
std::vector<std::string_view> SplitLines(std::string_view buf);

// Where a LineReader gets its bytes. Read returns the count read into `buf`
// (at most `n`), 0 at the end; a failure is thrown by the source.
class ByteSource {
  public:
    virtual ~ByteSource() = default;
    virtual std::size_t Read(char* buf, std::size_t n) = 0;

    // A source of bytes at fixed places (a regular file, memory) can also be
    // read by place, from several threads at once: ReadAt gives up to `n`
    // bytes from `ahead` bytes past what Read has given (0 only at the end),
    // and Passed(n) then moves on by `n` bytes. A reader that went on this
    // way does not go back to Read.
    virtual bool CanReadAt() const noexcept { return false; }
    virtual std::size_t ReadAt(char* buf, std::size_t n, std::uint64_t ahead);
    virtual void Passed(std::size_t n) { (void)n; }
};

// Pulls lines from a source read in chunks, with exactly the lines that
// ForEachLine gives for the whole input: a line may span chunks, a CR may end
// one chunk and its LF start the next, and a line may be longer than a chunk.
class LineReader {
  public:
    explicit LineReader(ByteSource& source, std::size_t chunk = 1 << 16);

    // The next line, without its break; false at the end of the input. The
    // view is valid until the next call.
    bool Next(std::string_view& line);

  private:
    void Fill();

    ByteSource& source_;
    std::size_t chunk_;
    std::string buf_;
    std::size_t begin_ = 0;  // start of the line in hand
    std::size_t end_ = 0;    // end of the bytes read
    std::size_t scan_ = 0;   // where the search for the next break resumes
    bool eof_ = false;
};

// A ByteSource over bytes in memory, handing them out in chunks of at most
// `max_chunk` bytes (for tests and for text already loaded); 0 counts as 1, so
// that a source with data never looks empty.
class MemorySource : public ByteSource {
  public:
    explicit MemorySource(std::string_view data, std::size_t max_chunk = std::string_view::npos)
        : data_(data), max_chunk_(max_chunk == 0 ? 1 : max_chunk) {}
    std::size_t Read(char* buf, std::size_t n) override;
    bool CanReadAt() const noexcept override { return true; }
    std::size_t ReadAt(char* buf, std::size_t n, std::uint64_t ahead) override;
    void Passed(std::size_t n) override { data_.remove_prefix(std::min(n, data_.size())); }

  private:
    std::string_view data_;
    std::size_t max_chunk_;
};

}  // namespace korvalen
