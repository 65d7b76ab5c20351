#include "run/search_run.hpp"

#include <fcntl.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <exception>
#include <iterator>
#include <new>
#include <optional>
#include <utility>

#include "platform/file.hpp"
#include "platform/file_info.hpp"
#include "run/fast_search.hpp"
#include "run/file_crew.hpp"
#include "run/folders.hpp"
#include "run/hit_writer.hpp"
#include "run/scanner.hpp"
#include "run/walk_ahead.hpp"
#include "run/workers.hpp"

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

// Files searched ahead by the crew: at most this many waiting to be written,
// handed over in batches of a few (a hand-over costs as much as searching a
// small file).
constexpr std::size_t kAheadFiles = 1024;
constexpr std::size_t kBatchFiles = 64;
constexpr std::int64_t kBatchBytes = std::int64_t{1} << 20;
// A file this large (or one that is not a regular file) is searched by the
// run's thread alone, in pieces on every thread, nothing searched ahead of it.
constexpr std::int64_t kAheadSize = std::int64_t{16} << 20;

// Searches one file with the host, state and output of `ctx`.
void ScanOne(ScanContext& ctx, const FileScanners& scanners, bool forceByLine, bool fits,
             const std::string& name, const FileSight& sight, bool isLast) {
    try {
        bool done = false;
        if (!forceByLine && fits) {
            ctx.host.SetCaption("Korvalen+");
            done = scanners.inMemory(ctx, name, isLast, sight);
        }
        if (!done) {
            ctx.host.SetCaption("Korvalen-");
            scanners.byLine(ctx, name, isLast, sight);
        }
    } catch (...) {
        ctx.host.SetCaption("Korvalen");
        throw;
    }
    ctx.host.SetCaption("Korvalen");
}

// The progress maximum of a run whose count did not look at every file: the
// bytes of the files taken so far, and for each file still to come their
// average; it settles on the bytes of all as the last file is taken. Set
// again only when it moved by more than a thirty-second and a sixty-fourth
// of the files passed since (files of mixed sizes must not flood the window).
class ProgressGuess {
  public:
    ProgressGuess(RunHost& host, const DropTotals& totals)
        : host_(host), on_(!totals.exact), shown_(totals.bytes) {}

    // File `i` of `count` taken, `bytes` up to its end.
    void Taken(std::size_t i, std::size_t count, std::int64_t bytes) {
        if (!on_) {
            return;
        }
        const auto guess = static_cast<std::int64_t>(static_cast<long double>(bytes) /
                                                     static_cast<long double>(i + 1) *
                                                     static_cast<long double>(count));
        if (guess == shown_ || (i + 1 < count && (std::abs(guess - shown_) <= shown_ / 32 ||
                                                  i < setAt_ + count / 64))) {
            return;
        }
        shown_ = guess;
        setAt_ = i;
        host_.SetProgressMax(guess);
    }

  private:
    RunHost& host_;
    const bool on_;
    std::int64_t shown_;
    std::size_t setAt_ = 0;  // the file it was last set at
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
          held_(request.outputPath, holdBound),
          holdBound_(holdBound) {}

    // The names of `request` in turn, as counted in `totals` before.
    void Files(const RunRequest& request, const DropTotals& totals, const std::string& outputPath,
               OutFile& out) {
        const FileId outId = out.Id();
        ScanContext ctx{host_, state_, out, options_, words_, held_};
        std::size_t count = totals.names;
        std::string countText = std::to_string(count);
        std::int64_t bytesDone = 0;
        ProgressGuess guess(host_, totals);
        StartCrew(count, outputPath);
        StartWalk(request, totals.listings);
        for (std::size_t i = 0; state_.Searching && Ahead(i + 1); ++i) {
            // One name ahead at least: the last one ends without a separator line.
            const bool isLast = !Ahead(i + 2);
            // The count took names unseen that the walk then left out; files
            // made since come on top; at the end, the names the walk handed over.
            const std::size_t n =
                walked_ ? Known()
                        : std::max(totals.names - std::min(totals.names, OverCounted()), Known());
            if (n != count) {
                count = n;
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
            if (crew_) {
                SendAhead(i, outputPath, outId);
            }
            DropName& entry = ahead_.front();
            const std::string& name = entry.name;
            // The output file is never searched, under whatever name it is reached:
            // it would feed on its own hit lines.
            const std::int64_t progressSize = ProgressSize(entry.attrs);
            guess.Taken(i, count, bytesDone + progressSize);
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
            } else if (name != outputPath && attrs && !attrs->directory && attrs->id != outId &&
                       !(crew_ && crew_->Write(i, ctx, entry.open))) {
                FileSight sight;
                sight.opened = &entry.open;
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
            ahead_.pop_front();
            ++first_;
        }
    }

  private:
    // With more than one thread, files are searched ahead on a crew (the
    // lead fast scanner's words set up first, for it to share).
    void StartCrew(std::size_t n, const std::string& outputPath) {
        const unsigned threads = ThreadsFor(options_.Threads);
        if (threads < 2 || n < 2 || words_.Fast(state_) == nullptr) {
            return;
        }
        try {
            crew_ = std::make_unique<FileCrew>(
                threads, words_, options_, outputPath, holdBound_, state_.Searching,
                [this](ScanContext& ctx, const AheadFile& file, const FileSight& sight) {
                    ScanOne(ctx, scanners_, forceByLine_, file.fits, file.name, sight, file.isLast);
                });
        } catch (const std::exception&) {
            crew_.reset();  // no threads to be had: the run's thread alone
        }
    }

    // The walk of the run's names: with a crew, on a thread of its own
    // (failing that, and on one thread, on the run's thread). Its pauses
    // let the host handle its messages, and Stop end the walk.
    void StartWalk(const RunRequest& request, const std::shared_ptr<DropListings>& listings) {
        const std::string& filter = request.options.FolderFilter;
        const bool folders = request.options.SearchFolders;
        if (crew_) {
            try {
                walker_ = std::make_unique<WalkAhead>(request.names, filter, folders,
                                                      state_.Searching, listings);
                return;
            } catch (const std::exception&) {
            }
        }
        walk_ = std::make_unique<DropWalk>(request.names, filter, folders,
                                           [this](std::size_t) { return Pause(); });
        walk_->Listings(listings);
    }
    bool Pause() {
        host_.ProcessMessages();
        return state_.Searching.load();
    }
    bool NextName(DropName& out) {
        return walker_ ? walker_->Next(out, [this] { return Pause(); }) : walk_->Next(out);
    }
    std::size_t OverCounted() const noexcept {
        return walker_ ? walker_->OverCounted() : walk_->OverCounted();
    }

    // Whether the walk reached name `i` + 1 (counted from 1): the names from
    // the one in hand on are kept (at most those the crew is given ahead).
    bool Ahead(std::size_t n) {
        while (first_ + ahead_.size() < n && !walked_) {
            ahead_.emplace_back();
            if (!NextName(ahead_.back())) {
                ahead_.pop_back();
                walked_ = true;
            }
        }
        return first_ + ahead_.size() >= n;
    }
    // The names the walk handed over so far.
    std::size_t Known() const noexcept { return first_ + ahead_.size(); }

    // Hands the files from `i` on to the crew, a few batches ahead of the
    // one written; none past a file that the run's thread searches alone
    // until it was written.
    void SendAhead(std::size_t i, const std::string& outputPath, const FileId& outId) {
        next_ = std::max(next_, i);
        if (crew_->Pending() > kAheadFiles / 2) {
            return;
        }
        try {
            AddAhead(outputPath, outId);
        } catch (const std::exception&) {
            // Memory short: what cannot go ahead is met by the run's thread
            // in its turn, as on one thread.
        }
        crew_->Send();
    }

    void AddAhead(const std::string& outputPath, const FileId& outId) {
        std::int64_t batchBytes = 0;
        // Names the crew is not given (empty files) count too: the names
        // kept ahead stay few whatever the files.
        for (; crew_->Pending() < kAheadFiles && next_ < first_ + kAheadFiles && Ahead(next_ + 1);
             ++next_) {
            DropName& e = ahead_[next_ - first_];
            if (e.unreadableFolder || !e.attrs || e.attrs->directory || e.name == outputPath ||
                e.attrs->id == outId) {
                continue;  // the run's thread has nothing to search there
            }
            if (!e.attrs->regular || e.attrs->size >= kAheadSize) {
                break;
            }
            if (e.attrs->size == 0) {
                continue;  // the run's thread's: a hand-over costs more than reading nothing
            }
            AheadFile file;
            file.index = next_;
            file.size = e.attrs->size;
            file.leaf = e.leaf;
            file.isLast = !Ahead(next_ + 2);
            file.fits = memory_.Fits(file.size);
            file.available = memory_.Available();
            file.lineLimit = LineLimit();
            file.open = std::move(e.open);
            crew_->Add(std::move(file), e.name);
            batchBytes += e.attrs->size;
            if (crew_->BatchSize() >= kBatchFiles || batchBytes >= kBatchBytes) {
                crew_->Send();
                batchBytes = 0;
            }
        }
    }

    // The memory the run may take for one line, by the gauge's last reading.
    // A quarter: a growing line's buffer takes up to twice its size while it
    // moves, and the machine is not the run's alone. Never below a few
    // blocks: the reading may be low for a moment.
    std::int64_t LineLimit() const {
        return std::max<std::int64_t>(memory_.Available() / 4, 1 << 20);
    }

    void SearchOneFile(ScanContext& ctx, const std::string& name, std::int64_t size,
                       const FileSight& sight, bool isLast) {
        bool fits = false;
        try {
            fits = memory_.Fits(size);
            ctx.lineLimit = LineLimit();
        } catch (...) {
            host_.SetCaption("Korvalen");
            throw;
        }
        ScanOne(ctx, scanners_, forceByLine_, fits, name, sight, isLast);
    }

    RunHost& host_;
    RunState& state_;
    const iset& options_;
    const bool forceByLine_;
    const FileScanners scanners_;
    MemoryGauge memory_;
    WordCache words_;
    HeldLines held_;
    const std::size_t holdBound_;
    std::string title_;  // its room used again
    HeldFolder folder_;
    std::size_t next_ = 0;  // the next file to consider for the crew
    // The names from the one in hand (number first_) on, as far as the walk went.
    std::deque<DropName> ahead_;
    std::size_t first_ = 0;
    bool walked_ = false;  // to its end
    // Last: its threads end before what they use. The walk's thread ends
    // first: the files it opened ahead are closed before the crew goes.
    std::unique_ptr<FileCrew> crew_;
    std::unique_ptr<DropWalk> walk_;
    std::unique_ptr<WalkAhead> walker_;
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
    const DropTotals totals = CountDrop(
        request.names, request.options.FolderFilter, request.options.SearchFolders,
        [&](std::size_t found) {
            if (!shown || found >= *shown + 1000) {
                shown = found;
                host_.SetStatusText(found == 0 ? kScanningFolders
                                               : kScanningFolders + "  (" + std::to_string(found) +
                                                     " Files)");
            }
            host_.ProcessMessages();
            return state_.Searching.load();
        },
        true);
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
        // A first walk that keeps nothing (and mostly does not look at the
        // files) counts the names and bytes for the numbering and the
        // progress maximum; the run then walks again, taking the names one by one.
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
            RunLoop loop(host_, state_, request, scanners_, holdBound_);
            loop.Files(request, totals, outputPath, out);
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
