#include "run/search_run.hpp"

#include <fcntl.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <cstring>
#include <exception>
#include <iterator>
#include <new>
#include <optional>
#include <utility>

#include "platform/file.hpp"
#include "platform/file_info.hpp"
#include "run/fast_search.hpp"
#include "run/folders.hpp"
#include "run/hit_writer.hpp"
#include "run/scanner.hpp"

namespace korvalen {

namespace {

// A file is loaded whole only when it fits with this much memory to spare.
constexpr std::int64_t kMemoryReserve = 262144;

const std::string kScanningFolders = "フォルダを調べています";

// What a file counts for in the progress: what cannot be read counts nothing.
std::int64_t ProgressSize(const std::optional<FileAttributes>& attrs) {
    return attrs && attrs->regular ? attrs->size : 0;
}

// The free memory for the choice of scanner. Reading /proc/meminfo costs more
// than searching a small file, so a reading is used again for files that are
// small against it (a file under an eighth of it would fit unless memory
// fell by seven eighths) while it is fresh.
class MemoryGauge {
  public:
    explicit MemoryGauge(RunHost& host) : host_(host) {}

    bool Fits(std::int64_t size) {
        const auto now = std::chrono::steady_clock::now();
        if (!read_ || now - readAt_ > kFresh || size >= available_ / 8) {
            available_ = host_.AvailablePhysicalMemory();
            readAt_ = now;
            read_ = true;
        }
        return available_ - kMemoryReserve > size;
    }
    // The reading the last Fits went by.
    std::int64_t Available() const noexcept { return available_; }

  private:
    static constexpr std::chrono::milliseconds kFresh{250};
    RunHost& host_;
    bool read_ = false;
    std::int64_t available_ = 0;
    std::chrono::steady_clock::time_point readAt_{};
};

// The folder of the files found in it, held open while they are searched in
// turn: each is opened by its own name, and the kernel does not look up the
// whole path again for every file.
class HeldFolder {
  public:
    HeldFolder() = default;
    HeldFolder(const HeldFolder&) = delete;
    HeldFolder& operator=(const HeldFolder&) = delete;
    ~HeldFolder() { Close(); }

    // A descriptor of the folder `path`; -1 when it cannot be opened (its
    // files are then opened by their whole paths, and fail as they would).
    int Of(std::string_view path) {
        if (path != path_) {
            Close();
            path_.assign(path);
            fd_ = CurrentFileOps().Open(path_.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC, 0);
        }
        return fd_;
    }

  private:
    void Close() noexcept {
        if (fd_ >= 0) {
            CurrentFileOps().Close(fd_);
            fd_ = -1;
        }
    }

    std::string path_;
    int fd_ = -1;
};

// One run's work between opening and closing the output file.
class RunLoop {
  public:
    RunLoop(RunHost& host, RunState& state, const RunRequest& request, const FileScanners& scanners,
            std::size_t holdBound)
        : host_(host),
          state_(state),
          options_(request.options),
          forceByLine_(request.byLine),
          scanners_(scanners),
          memory_(host),
          words_(host, request.words),
          held_(request.outputPath, holdBound) {}

    // The names in turn from `walk`; `count` of them were counted before
    // (more are numbered as they come).
    void Files(DropWalk& walk, std::size_t count, const std::string& outputPath, OutFile& out) {
        const FileId outId = out.Id();
        ScanContext ctx{host_, state_, out, options_, words_, held_};
        std::string countText = std::to_string(count);
        std::int64_t bytesDone = 0;
        DropName entry, next;
        bool have = walk.Next(entry);
        for (std::size_t i = 0; state_.Searching && have; ++i) {
            // One name ahead: the last one ends without a separator line.
            const bool more = walk.Next(next);
            if (i + 1 + (more ? 1 : 0) > count) {
                count = i + 1 + (more ? 1 : 0);  // a file that came after the count
                countText = std::to_string(count);
            }
            // Built in place: with small files, new strings per file cost as
            // much as a fair part of the search.
            char number[24];
            const std::string_view numberText(
                number, static_cast<std::size_t>(
                            std::to_chars(number, std::end(number), i + 1).ptr - number));
            state_.StatusPrefix.assign("検索中：").append(numberText).append("/").append(countText);
            host_.SetStatusText(StatusWithHits(state_));
            title_.assign(numberText).append("/").append(countText).append("検索中");
            host_.SetAppTitle(title_);
            const std::string& name = entry.name;
            const bool isLast = !more;
            // The output file is never searched, under whatever name it is reached:
            // it would feed on its own hit lines.
            const std::int64_t progressSize = ProgressSize(entry.attrs);
            std::optional<FileAttributes>& attrs = entry.attrs;
            if (!attrs) {
                attrs = GetFileAttributes(name);  // it may be there by now (the output file)
                if (!attrs && name != outputPath && !entry.unreadableFolder) {
                    host_.FileUnreadable(name, "cannot open " + name + ": " + std::strerror(errno));
                }
            }
            if (entry.unreadableFolder) {
                // Its open fails as well: the scanner reports it as any unreadable file.
                SearchOneFile(ctx, name, 0, FileSight{}, isLast);
            } else if (name != outputPath && attrs && !attrs->directory && attrs->id != outId) {
                FileSight sight;
                if (attrs->regular) {
                    sight.size = attrs->size;
                }
                if (entry.leaf > 0) {
                    sight.folder = folder_.Of(std::string_view(name).substr(0, entry.leaf));
                    sight.leaf = entry.leaf;
                }
                SearchOneFile(ctx, name, attrs->size, sight, isLast);
            }
            bytesDone += progressSize;
            state_.Progress = bytesDone;
            host_.SetProgressPos(bytesDone);
            std::swap(entry, next);
            have = more;
        }
    }

  private:
    void SearchOneFile(ScanContext& ctx, const std::string& name, std::int64_t size,
                       const FileSight& sight, bool isLast) {
        try {
            bool done = false;
            const bool fits = memory_.Fits(size);
            // A quarter: a growing line's buffer takes up to twice its size
            // while it moves, and the machine is not the run's alone. Never
            // below a few blocks: the reading may be low for a moment.
            ctx.lineLimit = std::max<std::int64_t>(memory_.Available() / 4, 1 << 20);
            if (!forceByLine_ && fits) {
                host_.SetCaption("Korvalen+");
                done = scanners_.inMemory(ctx, name, isLast, sight);
            }
            if (!done) {
                host_.SetCaption("Korvalen-");
                scanners_.byLine(ctx, name, isLast, sight);
            }
        } catch (...) {
            host_.SetCaption("Korvalen");
            throw;
        }
        host_.SetCaption("Korvalen");
    }

    RunHost& host_;
    RunState& state_;
    const iset& options_;
    const bool forceByLine_;
    const FileScanners scanners_;
    MemoryGauge memory_;
    WordCache words_;
    HeldLines held_;
    std::string title_;  // its room used again
    HeldFolder folder_;
};

}  // namespace

const std::string& StatusWithHits(RunState& state) {
    char hits[24];
    const auto length =
        static_cast<std::size_t>(std::to_chars(hits, std::end(hits), state.HitCount).ptr - hits);
    return state.StatusLine.assign(state.StatusPrefix)
        .append("  (")
        .append(hits, length)
        .append(" Lines)");
}

SearchRun::SearchRun(RunHost& host)
    : host_(host), scanners_{FastSearchInMemory, FastSearchByLine} {}

DropTotals SearchRun::Count(const RunRequest& request) {
    // The count of files found so far, now and then: a large folder takes a while.
    std::optional<std::size_t> shown;
    const DropTotals totals =
        CountDrop(request.names, request.options.FolderFilter, request.options.SearchFolders,
                  [&](std::size_t found) {
                      if (!shown || found >= *shown + 1000) {
                          shown = found;
                          host_.SetStatusText(found == 0 ? kScanningFolders
                                                         : kScanningFolders + "  (" +
                                                               std::to_string(found) + " Files)");
                      }
                      host_.ProcessMessages();
                      return state_.Searching.load();
                  });
    // Stopped in a folder: the count stopped where the walk was, nothing to measure.
    return state_.Searching || !request.options.SearchFolders ? totals : DropTotals{};
}

RunOutcome SearchRun::Drop(RunRequest request) {
    const iset& options = request.options;
    std::string& outputPath = request.outputPath;
    const std::vector<std::string>& words = request.words;
    if (std::all_of(words.begin(), words.end(), [](const std::string& w) { return w.empty(); })) {
        // Lines without a word find nothing; with FileOverWrite they would
        // only empty the output file.
        host_.SetStatusText("検索語がありません");
        return RunOutcome::NoWords;
    }
    if (outputPath.empty()) {
        outputPath = host_.AskOutputPath();
        if (outputPath.empty()) {
            host_.SetStatusText("出力ファイルが指定されていません");
            return RunOutcome::NoOutputPath;
        }
    }
    outputFailure_.clear();
    host_.SetDropTarget(false);
    state_.HitCount = 0;
    state_.Searching = true;

    RunOutcome outcome = RunOutcome::Finished;
    OutFile out;
    try {
        host_.LockControls();
        if (options.SearchIconize) {
            host_.Minimize();
        }
        host_.SetProgressMax(0);
        // A first walk that keeps nothing counts the names and their bytes
        // for the numbering and the progress maximum; the run then walks
        // again, taking the names one by one.
        const DropTotals totals = Count(request);
        host_.SetProgressMax(totals.bytes);
        state_.Progress = 0;
        host_.SetProgressPos(0);
        host_.SetProgressVisible(true);

        // Opened (and emptied) only now that a file is to be searched: a Stop
        // during the walk leaves the last run's output as it was. Appending:
        // no look before the open, which a second run could overtake. What
        // it holds by then decides the separator line.
        if (state_.Searching) {
            out.Open(outputPath, options.FileOverWrite);
            out.WriteRunSeparator("----------");
            DropWalk walk(request.names, options.FolderFilter, options.SearchFolders,
                          [this](std::size_t) {
                              host_.ProcessMessages();
                              return state_.Searching.load();
                          });
            RunLoop loop(host_, state_, request, scanners_, holdBound_);
            loop.Files(walk, totals.names, outputPath, out);
            out.Close();
        }
        if (state_.Searching) {
            host_.SetStatusText("検索を終了しました");
        } else {
            host_.SetStatusText("検索を中止しました");
            outcome = RunOutcome::Stopped;
        }
    } catch (const OutputError& e) {
        outputFailure_ = e.what();
        host_.SetStatusText("ファイルに出力できません");
        outcome = RunOutcome::OutputFailed;
        try {
            out.Close();  // what failed was not the output: its settled lines go in
        } catch (const OutputError&) {
        }
    } catch (const std::exception&) {
        // Memory ran out outside a file's scan: keep what was written, end as stopped.
        state_.Searching = false;
        outcome = RunOutcome::Aborted;
        try {
            out.Close();
            host_.SetStatusText("検索を中止しました");
        } catch (const OutputError& e) {
            outputFailure_ = e.what();
            host_.SetStatusText("ファイルに出力できません");
            outcome = RunOutcome::OutputFailed;
        }
    }

    host_.UnlockControls();
    host_.SetAppTitle("Korvalen");
    host_.SetProgressVisible(false);
    if (options.SearchIconize) {
        host_.Restore();
    }
    if (options.OutputFileOpen && state_.Searching) {
        host_.OpenWithEditor(outputPath);
    }
    state_.Searching = false;
    host_.SetDropTarget(true);
    return outcome;
}

}  // namespace korvalen
