#include "search/search_run.hpp"

#include <chrono>
#include <exception>
#include <new>
#include <optional>

#include "platform/file_info.hpp"
#include "search/fast_search.hpp"
#include "search/hit_writer.hpp"
#include "search/scanner.hpp"

namespace korvalen {

namespace {

// A file is loaded whole only when it fits with this much memory to spare.
constexpr std::int64_t kMemoryReserve = 262144;

// One stat of each name before the run gives the progress total and what the
// skip rule needs: per file, the name is then only opened and read.
struct NameInfo {
    std::optional<FileAttributes> attrs;
    std::int64_t size = 0;  // for the progress: what cannot be read counts nothing
};

NameInfo LookAt(const std::string& name) {
    NameInfo info{GetFileAttributes(name)};
    if (info.attrs && info.attrs->regular) {
        info.size = info.attrs->size;
    }
    return info;
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

  private:
    static constexpr std::chrono::milliseconds kFresh{250};
    RunHost& host_;
    bool read_ = false;
    std::int64_t available_ = 0;
    std::chrono::steady_clock::time_point readAt_{};
};

// One run's work between opening and closing the output file.
class RunLoop {
  public:
    RunLoop(RunHost& host, RunState& state, const iset& options, bool forceByLine, bool literal)
        : host_(host),
          state_(state),
          options_(options),
          forceByLine_(forceByLine),
          literal_(literal),
          memory_(host),
          words_(host) {}

    void Files(const std::vector<std::string>& names, const std::vector<NameInfo>& infos,
               const std::string& outputPath, OutFile& out) {
        const FileId outId = out.Id();
        ScanContext ctx{host_, state_, out, options_, words_};
        const std::size_t n = names.size();
        const std::string count = std::to_string(n);
        std::int64_t bytesDone = 0;
        for (std::size_t i = 0; state_.Searching && i < n; ++i) {
            const std::string number = std::to_string(i + 1);
            state_.StatusPrefix = "検索中：" + number + "/" + count;
            host_.SetStatusText(state_.StatusPrefix + "  (" + std::to_string(state_.HitCount) +
                                " Lines)");
            host_.SetAppTitle(number + "/" + count + "検索中");
            const std::string& name = names[i];
            // The output file is never searched, under whatever name it is reached:
            // it would feed on its own hit lines.
            std::optional<FileAttributes> attrs = infos[i].attrs;
            if (!attrs) {
                attrs = GetFileAttributes(name);  // it may be there by now (the output file)
            }
            if (name != outputPath && attrs && !attrs->directory && attrs->id != outId) {
                SearchOneFile(ctx, name, attrs->size, i == n - 1);
            }
            bytesDone += infos[i].size;
            state_.Progress = bytesDone;
            host_.SetProgressPos(bytesDone);
        }
    }

  private:
    void SearchOneFile(ScanContext& ctx, const std::string& name, std::int64_t size, bool isLast) {
        try {
            bool done = false;
            if (!forceByLine_ && memory_.Fits(size)) {
                host_.SetCaption("Korvalen+");
                done = literal_ ? SearchInMemory(ctx, name, isLast)
                                : FastSearchInMemory(ctx, name, isLast);
            }
            if (!done) {
                host_.SetCaption("Korvalen-");
                if (literal_) {
                    SearchByLine(ctx, name, isLast);
                } else {
                    FastSearchByLine(ctx, name, isLast);
                }
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
    const bool literal_;
    MemoryGauge memory_;
    WordCache words_;
};

}  // namespace

RunOutcome SearchRun::Drop(const std::vector<std::string>& names, std::string& outputPath,
                           const iset& options) {
    if (host_.SearchWords().empty()) {
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
    const bool forceByLine = host_.ShiftCtrlDown();
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
        std::vector<NameInfo> infos;
        infos.reserve(names.size());
        std::int64_t total = 0;
        for (const std::string& name : names) {
            infos.push_back(LookAt(name));
            total += infos.back().size;
        }
        host_.SetProgressMax(total);
        state_.Progress = 0;
        host_.SetProgressPos(0);
        host_.SetProgressVisible(true);

        const bool create = options.FileOverWrite || !FileExists(outputPath);
        out.Open(outputPath, create);
        if (!create) {
            out.WriteLine("----------");
        }
        RunLoop loop(host_, state_, options, forceByLine, literal_);
        loop.Files(names, infos, outputPath, out);
        out.Close();
        if (state_.Searching) {
            host_.SetStatusText("検索を終了しました");
        } else {
            host_.SetStatusText("検索を中止しました");
            outcome = RunOutcome::Stopped;
        }
    } catch (const OutputError&) {
        host_.SetStatusText("ファイルに出力できません");
        outcome = RunOutcome::OutputFailed;
    } catch (const std::exception&) {
        // Memory ran out outside a file's scan: keep what was written, end as stopped.
        state_.Searching = false;
        outcome = RunOutcome::Aborted;
        try {
            out.Close();
            host_.SetStatusText("検索を中止しました");
        } catch (const OutputError&) {
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
