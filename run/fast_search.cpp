#include "run/fast_search.hpp"

#include <memory>
#include <new>
#include <string_view>
#include <vector>

#include "platform/file.hpp"
#include "run/fast_scan.hpp"
#include "run/file_hits.hpp"
#include "run/input.hpp"
#include "run/workers.hpp"

namespace korvalen {

namespace {

// One file's scan: its hit lines go through FileHits; it keeps the run's
// progress and status as the line loop of a scanner would, once per block
// instead of once per line.
class FastFileScan : public FastScanner::Host {
  public:
    // `scanner` is the run's, its words set up (WordCache::Fast).
    FastFileScan(ScanContext& ctx, FastScanner& scanner, const std::string& name, bool inMemory)
        : ctx_(ctx), scanner_(scanner), hits_(ctx, name, inMemory) {
        scanner_.SetConfig({ctx.options.JapaneseWord, ctx.options.CRText, /*trim_prev=*/!inMemory});
        scanner_.Reset();
    }

    FastScanner& Scanner() { return scanner_; }
    FileHits& Hits() { return hits_; }

    // ReadAgain also takes the file's progress back: it is read again from
    // its start.
    void Move(ScanEvent event) {
        hits_.Move(event);
        if (event == ScanEvent::ReadAgain) {
            ctx_.state.Progress -= progressOfFile_;
            ctx_.host.SetProgressPos(ctx_.state.Progress);
            progressOfFile_ = 0;
            scanner_.Reset();
        }
    }

    void Hit(std::int64_t number, std::uint32_t word, std::string_view text) override {
        hits_.Hit(number, scanner_.Words()[word], text);
    }

    bool AfterBlock(std::int64_t progress) override {
        if (hits_.TakeChanged()) {
            ctx_.host.SetStatusText(StatusWithHits(ctx_.state));
        }
        ctx_.host.ProcessMessages();
        ctx_.state.Progress += progress;
        progressOfFile_ += progress;
        ctx_.host.SetProgressPos(ctx_.state.Progress);
        // Words change only while messages are processed; the scanner is
        // the same one after they were set up again.
        return ctx_.words.Fast(ctx_.state) != nullptr && ctx_.state.Searching;
    }

    void Settled() override { Move(ScanEvent::AsciiWasSjis); }

  private:
    ScanContext& ctx_;
    FastScanner& scanner_;
    FileHits hits_;
    std::int64_t progressOfFile_ = 0;
};

// Opens, scans and closes one file; the events of its end are the caller's.
//
// A file whose start is valid UTF-8 is scanned as UTF-8 at once rather than
// read to its end first to be sure (that read costs as much as the search):
// the scan checks each block, and in the rare file that turns out not to be
// UTF-8 after all, its held hits are dropped and the file read again.
void ScanFile(ScanContext& ctx, const std::string& name, const FileSight& sight,
              FastFileScan& scan) {
    InputText input(name, ctx.options.InputEncoding != 0, DetectionPause(ctx),
                    /*provisional=*/true, sight);
    if (!ctx.state.Searching) {
        input.Close();
        return;
    }
    FastScanner& scanner = scan.Scanner();
    if (input.Encoding() != TextEncoding::Utf8) {
        scanner.ScanSource(input.Source(), scan);
        input.Close();
        return;
    }
    if (!scanner.PrepareUtf8(DetectionPause(ctx))) {
        input.Close();
        return;  // stopped
    }
    if (input.Settled()) {
        // UTF-8 is converted by the scanner, which can leave out lines that
        // cannot hold a hit.
        scanner.ScanUtf8Source(input.RawSource(), scan, /*provisional=*/false);
        input.Close();
        return;
    }
    scan.Move(ScanEvent::Guessed);
    const bool stands = scanner.ScanUtf8Source(input.RawSource(), scan, /*provisional=*/true);
    input.Close();
    if (stands) {
        return;  // read to its end as UTF-8 (or as code page 932 after ASCII), or stopped
    }
    scan.Move(ScanEvent::ReadAgain);
    if (ctx.state.Searching) {
        InputText again(name, /*detect=*/false);
        scanner.ScanSource(again.Source(), scan);
        again.Close();
    }
}

// The two twins differ in the join (the in-memory one keeps the previous
// line's trailing blanks) and in that a file the in-memory one cannot read
// whole gives no hit at all. It holds its hits without holding the file: it
// reads in blocks like the other. False when memory ran out: nothing of the
// file was written, the caller reads it line by line.
bool SearchFile(ScanContext& ctx, const std::string& name, const FileSight& sight, bool isLast,
                bool inMemory) {
    FastScanner* scanner = ctx.words.Fast(ctx.state);
    if (scanner == nullptr) {
        return true;  // stopped before the file's first line
    }
    scanner->SetThreads(ThreadsFor(ctx.options.Threads));
    FastFileScan scan(ctx, *scanner, name, inMemory);
    try {
        ScanFile(ctx, name, sight, scan);
    } catch (const FileError&) {
        scan.Move(ScanEvent::Failed);
        scan.Hits().Failed();
        return true;
    } catch (const std::bad_alloc&) {
        if (inMemory) {
            scan.Move(ScanEvent::ReadAgain);
            return false;
        }
        scan.Move(ScanEvent::Failed);  // a line longer than memory allows
        scan.Hits().Failed();
        return true;
    }
    scan.Move(ctx.state.Searching ? ScanEvent::Ended : ScanEvent::Stopped);
    scan.Hits().Separate(isLast);
    return true;
}

}  // namespace

WordCache::WordCache(RunHost& host) : host_(host) {}
WordCache::~WordCache() = default;

FastScanner* WordCache::Fast(const RunState& state) {
    if (!fast_) {
        fast_ = std::make_unique<FastScanner>(FastScanner::Config{});
    }
    const std::uint64_t generation = host_.WordsGeneration();
    if (!fastReady_ || generation != fastGeneration_) {
        fastReady_ = false;
        const std::vector<std::string>& words = Current();
        fastGeneration_ = generation_;
        if (!fast_->SetWords(words, [&] {
                host_.ProcessMessages();
                return state.Searching;
            })) {
            return nullptr;
        }
        fastReady_ = true;
    }
    return fast_.get();
}

void FastSearchByLine(ScanContext& ctx, const std::string& name, bool isLast,
                      const FileSight& sight) {
    SearchFile(ctx, name, sight, isLast, /*inMemory=*/false);
}

bool FastSearchInMemory(ScanContext& ctx, const std::string& name, bool isLast,
                        const FileSight& sight) {
    return SearchFile(ctx, name, sight, isLast, /*inMemory=*/true);
}

}  // namespace korvalen
