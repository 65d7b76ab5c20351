#include "tests/support/literal_scan.hpp"

#include <new>
#include <string_view>

#include "platform/file.hpp"
#include "run/file_hits.hpp"
#include "run/input.hpp"
#include "text/lines.hpp"
#include "text/sjis.hpp"

namespace korvalen {

namespace {

// The state of one file's scan and the loop over its lines, shared by both
// twins.
class FileScan {
  public:
    FileScan(ScanContext& ctx, const std::string& name, bool trimPrevLine)
        : ctx_(ctx),
          opt_(ctx.options),
          hits_(ctx, name, /*holdToEnd=*/false),
          trimPrevLine_(trimPrevLine) {}

    // `next(line)` gives the next line, false at the end.
    template <class NextLine>
    void Lines(NextLine&& next) {
        std::int64_t number = 0;
        std::string_view line;
        while (ctx_.state.Searching && next(line)) {
            ++number;
            if (!line.empty()) {
                TestLine(number, line);
            } else if (opt_.CRText) {
                prevLine_.clear();  // an empty line cuts the chain
            }
            ctx_.host.ProcessMessages();
            ctx_.state.Progress += static_cast<std::int64_t>(line.size()) + 2;
            ctx_.host.SetProgressPos(ctx_.state.Progress);
        }
    }

    // After the scan of a file that did not fail, stopped or not.
    void Separate(bool isLast) { hits_.Separate(isLast); }

    // The input file failed.
    void Failed(std::string_view why) {
        hits_.Move(ScanEvent::Failed);
        hits_.Failed(why);
    }

  private:
    static bool Occurs(std::string_view word, std::string_view text) {
        return !word.empty() && text.find(word) != std::string_view::npos;
    }

    bool Hit(std::string_view word, std::string_view text) const {
        return Occurs(word, text) && (!opt_.JapaneseWord || AlignedPos(word, text) != 0);
    }

    void TestLine(std::int64_t number, std::string_view line) {
        const bool joins = opt_.CRText && !prevLine_.empty();
        if (joins) {
            const std::string_view prev =
                trimPrevLine_ ? TrimRightBlanksView(prevLine_) : std::string_view(prevLine_);
            const std::string_view cur = TrimLeftBlanksView(line);
            joinedTight_.assign(prev).append(cur);
            joinedSpaced_.assign(prev).append(" ").append(cur);
        }
        lineMatched_ = false;
        for (const std::string& word : ctx_.words.Current()) {
            if (Hit(word, line)) {
                ReportHit(number, line, word);
            } else if (joins) {
                SearchWrapped(number, word);
            }
            if (lineMatched_) {
                break;
            }
        }
        if (opt_.CRText) {
            prevLine_ = lineMatched_ ? std::string_view() : line;
        }
    }

    // A word cut by the line break is reported on the previous line. An
    // off-boundary find in the tight join ends the test: the spaced join is
    // tried only when the word is not in the tight one at all.
    void SearchWrapped(std::int64_t number, const std::string& word) {
        if (Occurs(word, joinedTight_) ? Hit(word, joinedTight_) : Hit(word, joinedSpaced_)) {
            ReportHit(number - 1, prevLine_, word);
        }
    }

    void ReportHit(std::int64_t number, std::string_view text, const std::string& word) {
        hits_.Hit(number, word, text);
        ctx_.host.SetStatusText(StatusWithHits(ctx_.state));
        lineMatched_ = true;
    }

    ScanContext& ctx_;
    const iset& opt_;
    FileHits hits_;
    const bool trimPrevLine_;
    bool lineMatched_ = false;
    std::string prevLine_;
    std::string joinedTight_;
    std::string joinedSpaced_;
};

std::string LoadWhole(const std::string& name) {
    File file(RefuseLineBreakName(name), File::Mode::Read);
    std::string data;
    data.reserve(static_cast<std::size_t>(file.Size()));
    constexpr std::size_t kChunk = 1 << 20;
    std::size_t got = 0;
    do {
        const std::size_t used = data.size();
        data.resize(used + kChunk);
        got = file.Read(data.data() + used, kChunk);
        data.resize(used + got);
    } while (got != 0);
    file.Close();
    return data;
}

}  // namespace

void SearchByLine(ScanContext& ctx, const std::string& name, bool isLast, const FileSight&) {
    FileScan scan(ctx, name, /*trimPrevLine=*/true);
    try {
        InputText input(name, ctx.options.InputEncoding != 0, DetectionPause(ctx));
        LineReader reader(input.Source());
        scan.Lines([&](std::string_view& line) { return reader.Next(line); });
        input.Close();
    } catch (const FileError& e) {
        scan.Failed(e.what());
        return;
    } catch (const std::bad_alloc&) {
        // A line longer than memory allows: the file cannot be read.
        scan.Failed("a line of " + name + " is longer than the memory free");
        return;
    }
    scan.Separate(isLast);
}

bool SearchInMemory(ScanContext& ctx, const std::string& name, bool isLast, const FileSight&) {
    FileScan scan(ctx, name, /*trimPrevLine=*/false);
    std::string data;
    std::vector<std::string_view> lines;
    try {
        data = LoadWhole(name);
        if (ctx.options.InputEncoding != 0) {
            ConvertLoaded(data);
        }
        lines = SplitLines(data);
    } catch (const FileError& e) {
        scan.Failed(e.what());
        return true;
    } catch (const std::bad_alloc&) {
        return false;
    }
    std::size_t index = 0;
    scan.Lines([&](std::string_view& line) {
        const bool more = index < lines.size();
        line = more ? lines[index++] : std::string_view();
        return more;
    });
    // Release before the separator, as the file's end comes before it.
    std::vector<std::string_view>().swap(lines);
    std::string().swap(data);
    scan.Separate(isLast);
    return true;
}

}  // namespace korvalen
