// A search run: the files dropped onto the window (or named on the command
// line) searched for the current words, the hits written to the output file.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "config/options.hpp"
#include "platform/file.hpp"
#include "run/folders.hpp"
#include "run/held_lines.hpp"
#include "run/run_host.hpp"

namespace korvalen {

// What the run shares with the scanners and with the Stop command.
class RunState {
    std::atomic<bool> searching_ = false;  // before Searching, which may name it

  public:
    RunState() noexcept : Searching(searching_) {}
    // A state of its own that shares `searching` (a file searched off the
    // run's thread hears the run's Stop).
    explicit RunState(std::atomic<bool>& searching) noexcept : Searching(searching) {}
    RunState(const RunState&) = delete;
    RunState& operator=(const RunState&) = delete;

    std::atomic<bool>& Searching;  // cleared by Stop; tested before every file and line
    std::int64_t HitCount = 0;     // hit lines of the current (or last) run
    std::string StatusPrefix;      // "検索中：i/n" (UTF-8) while a file is searched
    std::int64_t Progress = 0;     // the progress position, in bytes
    std::string StatusLine;        // room for StatusWithHits, used again
};

struct ScanContext;

// How the run searches one file: the fast scanners (run/fast_search.hpp)
// unless a test sets others.
struct FileScanners {
    // False when memory ran out before anything of the file was written.
    bool (*inMemory)(ScanContext& ctx, const std::string& name, bool isLast,
                     const FileSight& sight);
    void (*byLine)(ScanContext& ctx, const std::string& name, bool isLast, const FileSight& sight);
};

// "検索中：i/n  (h Lines)", the status line while a file is searched, composed
// in state.StatusLine.
const std::string& StatusWithHits(RunState& state);

enum class RunOutcome {
    Finished,      // every name was processed
    Stopped,       // Stop arrived during the run
    NoWords,       // refused: the word list has no word (no lines, or empty ones)
    NoOutputPath,  // refused: no output path, even after asking
    OutputFailed,  // the output file could not be opened, written or closed
    Aborted,       // memory ran out outside a file's scan; the run ended early
};

// Everything a run reads, its own for the run's length: nothing the front end
// does meanwhile (a dialog's OK, an edit of the words) reaches a running run.
struct RunRequest {
    std::vector<std::string> names;  // file-system bytes, in order
    std::vector<std::string> words;  // code page 932, one per line of the word box
    std::string outputPath;          // empty: the host's save dialog is asked
    iset options;
    bool byLine = false;  // every file read line by line (Shift and Ctrl held at the drop)
};

class SearchRun {
  public:
    explicit SearchRun(RunHost& host);

    // Searches the request's names in order. Always returns with the controls
    // unlocked, Searching false and the drop target on.
    RunOutcome Drop(RunRequest request);

    // The Stop command, from any thread: the scan ends before its next line
    // (or block), no further file is started.
    void Stop() noexcept { state_.Searching = false; }

    const RunState& State() const noexcept { return state_; }
    // After OutputFailed: what failed, naming the file.
    const std::string& OutputFailure() const noexcept { return outputFailure_; }

    // Other scanners in place of the fast ones; they write the same bytes.
    void UseScanners(const FileScanners& scanners) noexcept { scanners_ = scanners; }

    // Hit lines held back beyond this many bytes go to a temporary file
    // (tests use small bounds).
    void SetHoldBound(std::size_t bytes) noexcept { holdBound_ = bytes; }

  private:
    // The names the run will take and their bytes, counted by a walk that
    // keeps nothing (the host's messages processed meanwhile); none when
    // stopped meanwhile.
    DropTotals Count(const RunRequest& request);

    RunHost& host_;
    RunState state_;
    FileScanners scanners_;
    std::string outputFailure_;
    std::size_t holdBound_ = HeldLines::kDefaultBound;
};

}  // namespace korvalen
