// A file's hit lines held back while they may still have to be taken back,
// then appended to the output whole, or dropped. The output file itself is
// never cut short: another writer may be appending to it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "config/options.hpp"
#include "platform/file.hpp"
#include "run/hit_writer.hpp"

namespace korvalen {

// The held lines' file could not be made or written. The output is not
// touched by it: the scan falls back to a way that needs no holding.
class HoldError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

class HeldLines {
  public:
    static constexpr std::size_t kDefaultBound = std::size_t{4} << 20;

    // Up to `bound` bytes are held in memory; beyond that in a file without a
    // name, made in $TMPDIR, else /tmp, else the output file's folder: on
    // the output's disk the lines would need their room twice.
    HeldLines(const std::string& outputPath, std::size_t bound);

    // A hit line (see AppendHitLine). HoldError when the held file cannot be
    // made or written; the lines held so far stay until Drop.
    void AddHitLine(const iset& options, std::string_view path, std::int64_t number,
                    std::string_view word, std::string_view text);
    // Whole lines, each ending in CR LF; HoldError as above.
    void AddLines(std::string_view lines);
    // Writes every held line to `out`, in order; none is held after. A held
    // file that cannot be read back fails the output (OutputError).
    void AppendTo(OutFile& out);
    void Drop() noexcept;
    // Drop, and the memory kept for the next file given back too.
    void Release() noexcept;

  private:
    void Spill();
    File OpenSpill() const;

    std::string outputPath_;
    std::size_t bound_;
    // In pieces of about a megabyte of whole lines: no copying as they grow.
    std::vector<std::string> pieces_;
    std::size_t bytes_ = 0;  // in pieces_
    File spill_;             // open while lines are held in it
};

}  // namespace korvalen
