// What every scanner of a file shares: the run's state, the output, the
// current words, the held hit lines.
#pragma once

#include <functional>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "config/options.hpp"
#include "run/held_lines.hpp"
#include "run/hit_writer.hpp"
#include "run/run_host.hpp"
#include "run/search_run.hpp"

namespace korvalen {

class FastScanner;

// The run's search words, and the fast scanner they are compiled into.
class WordCache {
  public:
    WordCache(RunHost& host, std::vector<std::string> words);
    // The words of `lead`, whose fast scanner is set up: this one's follows
    // it (a thread of the run besides its own).
    WordCache(RunHost& host, const WordCache& lead);
    ~WordCache();
    const std::vector<std::string>& Current() const noexcept { return words_; }

    // The one fast scanner of a run, its words set up before its first file
    // (meanwhile the host processes its messages). Null when the run was
    // stopped then. (In fast_search.cpp.)
    FastScanner* Fast(const RunState& state);

  private:
    RunHost& host_;
    std::vector<std::string> words_;
    const WordCache* lead_ = nullptr;
    std::unique_ptr<FastScanner> fast_;
    bool fastReady_ = false;
};

// Everything a scanner uses besides its own file.
struct ScanContext {
    RunHost& host;
    RunState& state;
    OutFile& out;
    const iset& options;
    WordCache& words;
    HeldLines& held;  // hit lines that may still be taken back (the fast scanners')
    // The memory the run may take for one line (a part of what is free): a
    // longer one ends its file with the error block.
    std::int64_t lineLimit = std::numeric_limits<std::int64_t>::max();
};

// Between the pieces a file is read in to detect its encoding: the host
// processes its messages; false once the run was stopped.
std::function<bool()> DetectionPause(ScanContext& ctx);

// "ファイルアクセスでエラーが生じました：" in code page 932.
const std::string& FileErrorText();

}  // namespace korvalen
