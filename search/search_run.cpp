#include "search/search_run.hpp"

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

std::int64_t SizeOrZero(const std::string& name) {
    return FileSizeOf(name).value_or(0);
}

// One run's work between opening and closing the output file.
class RunLoop {
  public:
    RunLoop(RunHost& host, RunState& state, const iset& options, bool forceByLine, bool literal,
            const std::string& outputPath, std::size_t holdBound)
        : host_(host),
          state_(state),
          options_(options),
          forceByLine_(forceByLine),
          literal_(literal),
          words_(host),
          held_(outputPath, holdBound) {}

    void Files(const std::vector<std::string>& names, const std::string& outputPath, OutFile& out) {
        const FileId outId = out.Id();
        ScanContext ctx{host_, state_, out, options_, words_, held_};
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
            const std::optional<FileAttributes> attrs = GetFileAttributes(name);
            if (name != outputPath && attrs && !attrs->directory && attrs->id != outId) {
                SearchOneFile(ctx, name, attrs->size, i == n - 1);
            }
            bytesDone += SizeOrZero(name);
            state_.Progress = bytesDone;
            host_.SetProgressPos(bytesDone);
        }
    }

  private:
    void SearchOneFile(ScanContext& ctx, const std::string& name, std::int64_t size, bool isLast) {
        try {
            const std::int64_t available = host_.AvailablePhysicalMemory();
            bool done = false;
            if (!forceByLine_ && available - kMemoryReserve > size) {
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
    WordCache words_;
    HeldLines held_;
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
        std::int64_t total = 0;
        for (const std::string& name : names) {
            total += SizeOrZero(name);
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
        RunLoop loop(host_, state_, options, forceByLine, literal_, outputPath, holdBound_);
        loop.Files(names, outputPath, out);
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
