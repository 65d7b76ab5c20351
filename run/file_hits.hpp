// One file's hit lines on their way to the output, the same for every kind of
// scanner: written as found, or held until the file is known to be read
// through and then appended, or dropped; the file's error block; the empty
// line after a file with hits.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "run/scanner.hpp"

namespace korvalen {

// What happens to a file's scan, as far as its hit lines care.
enum class ScanEvent {
    Guessed,       // the file is read as UTF-8 before that is known
    AsciiWasSjis,  // only ASCII was read when it turned out code page 932
    ReadAgain,     // it is read again from its start, its encoding known
    Outgrown,      // it reads longer than the size it was seen at
    Ended,         // read to its end
    Stopped,       // Stop ended the read
    Failed,        // it could not be read
};

// Every state a file's hit lines can be in, and what moves them on (Move is
// the one place that changes it):
//
//   Writing      hit lines go straight to the output: a file read line by
//                line, its encoding known.
//   HeldToEnd    held until the file has been read without failure: a file
//                searched as a whole, its encoding known.
//   Provisional  held until the encoding is known, while the file is read as
//                UTF-8 on the strength of its start.
//   Done         the file's hit lines are in the output or gone.
//
//   event        from Writing  from HeldToEnd   from Provisional
//   Guessed      Provisional   Provisional      -
//   AsciiWasSjis -             -                known (held lines appended
//                                               first when that is Writing)
//   Outgrown     -             append, Writing  -
//   ReadAgain    -             drop, known      drop, known
//   Ended        Done          append, Done     append, Done
//   Stopped      Done          append, Done     drop, Done
//   Failed       Done          drop, Done       drop, Done
//
// "known" is Writing or HeldToEnd, as the scan began. Outgrown: a file searched
// as a whole holds no more than the size it was chosen for; beyond, it goes on
// as one read line by line. "drop" takes the file's
// hits off the run's hit count. A Stop while the encoding is open drops: the
// file may yet turn out to be code page 932, and reading on to know could
// take as long as the search that was stopped.
class FileHits {
  public:
    FileHits(ScanContext& ctx, const std::string& name, bool holdToEnd);

    void Hit(std::int64_t number, std::string_view word, std::string_view text);
    void Move(ScanEvent event);

    // True once after hits were added or dropped: the status line is due.
    bool TakeChanged() noexcept {
        const bool changed = changed_;
        changed_ = false;
        return changed;
    }

    // Some hit line of the file is in the output.
    bool Written() const noexcept { return written_; }

    // After a scan that did not fail, stopped or not.
    void Separate(bool isLast);
    // The error block, after the hit lines Move(Failed) left; the host is told
    // `why`. A failure to write it is the output's and goes up to the run.
    void Failed(std::string_view why);

  private:
    enum class State { Writing, HeldToEnd, Provisional, Done };
    void Drop() noexcept;

    ScanContext& ctx_;
    const std::string& name_;
    const State known_;
    State state_;
    std::int64_t hitsBefore_;
    bool fileHasHits_ = false;
    bool changed_ = false;
    bool written_ = false;
};

}  // namespace korvalen
