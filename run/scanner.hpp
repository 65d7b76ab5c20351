// What every scanner of a file shares: the run's state, the output, the
// current words, the held hit lines.
#pragma once

#include <cstdint>
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

// The host's search words, fetched again only when their generation changes.
class WordCache {
  public:
    explicit WordCache(RunHost& host);
    ~WordCache();
    const std::vector<std::string>& Current();

    // The one fast scanner of a run, its words those of the host now. They
    // are compiled before its first file and again only when they change;
    // meanwhile the host processes its messages. Null when the run was
    // stopped then. (In fast_search.cpp.)
    FastScanner* Fast(const RunState& state);

  private:
    RunHost& host_;
    std::uint64_t generation_ = 0;
    bool fetched_ = false;
    std::vector<std::string> words_;
    std::unique_ptr<FastScanner> fast_;
    std::uint64_t fastGeneration_ = 0;  // of the words compiled into fast_
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
