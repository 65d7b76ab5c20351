#include "run/fast_search.hpp"

#include <limits>
#include <memory>
#include <new>
#include <string_view>
#include <utility>
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
        scanner_.SetLineLimit(static_cast<std::size_t>(ctx.lineLimit));
        scanner_.Reset();
    }

    // The file is read through `input`, seen at `size` bytes: a file that
    // reads longer (one that grows, or never ends, as some /proc files that
    // say 0 bytes) holds no more lines than that size gives.
    void Watch(const InputText& input, std::int64_t size) noexcept {
        input_ = &input;
        seenSize_ = size;
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
        if (input_ != nullptr && input_->BytesRead() > seenSize_) {
            hits_.Move(ScanEvent::Outgrown);
        }
        return ctx_.state.Searching.load();
    }

    void Settled() override { Move(ScanEvent::AsciiWasSjis); }

  private:
    ScanContext& ctx_;
    FastScanner& scanner_;
    FileHits hits_;
    std::int64_t progressOfFile_ = 0;
    const InputText* input_ = nullptr;
    std::int64_t seenSize_ = 0;
};

// Opens, scans and closes one file; the events of its end are the caller's.
//
// A file whose start is valid UTF-8 is scanned as UTF-8 at once rather than
// read to its end first to be sure (that read costs as much as the search):
// the scan checks each block, and in the rare file that turns out not to be
// UTF-8 after all, its held hits are dropped and the file read again.
void ScanFile(ScanContext& ctx, const std::string& name, const FileSight& sight, FastFileScan& scan,
              bool mayHold) {
    InputText input(name, ctx.options.InputEncoding != 0, DetectionPause(ctx),
                    /*provisional=*/mayHold, sight);
    // Unknown (a test's call): no bound.
    const std::int64_t seen =
        sight.size < 0 ? std::numeric_limits<std::int64_t>::max() : sight.size;
    scan.Watch(input, seen);
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
        scan.Watch(again, seen);
        scanner.ScanSource(again.Source(), scan);
        again.Close();
    }
}

// How a file is searched.
struct Way {
    bool inMemory = false;  // its hits held to its end
    bool mayHold = true;    // false: its encoding settled first, nothing held
    bool lean = false;      // small blocks, for memory that is short
};

constexpr std::size_t kLeanBlock = 4096;

void SearchLineByLine(ScanContext& ctx, const std::string& name, const FileSight& sight,
                      bool isLast, bool mayHold);

// The two twins differ in the join (the in-memory one keeps the previous
// line's trailing blanks) and in that a file the in-memory one cannot read
// whole gives no hit at all. It holds its hits without holding the file: it
// reads in blocks like the other. False when memory ran out before anything
// of the file was written: the caller searches it in a way that takes less.
bool SearchFile(ScanContext& ctx, const std::string& name, const FileSight& sight, bool isLast,
                Way way) {
    FastScanner* scanner = ctx.words.Fast(ctx.state);
    if (scanner == nullptr) {
        return true;  // stopped before the file's first line
    }
    FastFileScan scan(ctx, *scanner, name, way.inMemory);
    scanner->SetBlockSize(way.lean ? kLeanBlock : FastScanner::kBlock);
    // Pieces take windows of several blocks: not when memory is short.
    scanner->SetThreads(way.lean ? 1 : ThreadsFor(ctx.options.Threads));
    try {
        ScanFile(ctx, name, sight, scan, way.mayHold);
    } catch (const HoldError& e) {
        // Nothing of the file is in the output yet: it is searched again in
        // the way that holds nothing, and the user is told why.
        scan.Move(ScanEvent::ReadAgain);
        scanner->SetBlockSize(FastScanner::kBlock);
        ctx.host.ShowMessage(std::string("保留用の一時ファイルが使えません（") + e.what() +
                             "）。読み直して検索します：" + name);
        SearchLineByLine(ctx, name, sight, isLast, /*mayHold=*/false);
        return true;
    } catch (const FileError& e) {
        scan.Move(ScanEvent::Failed);
        scan.Hits().Failed(e.what());
        scanner->SetBlockSize(FastScanner::kBlock);
        return true;
    } catch (const std::bad_alloc&) {
        scanner->SetBlockSize(FastScanner::kBlock);
        if (!way.lean && !scan.Hits().Written()) {
            scan.Move(ScanEvent::ReadAgain);
            ctx.held.Release();  // the next way needs what this one took
            scanner->ReleaseBuffers();
            return false;
        }
        scan.Move(ScanEvent::Failed);  // no memory even so, or some lines are out
        scan.Hits().Failed("not enough memory to search " + name);
        return true;
    }
    scanner->SetBlockSize(FastScanner::kBlock);
    scan.Move(ctx.state.Searching ? ScanEvent::Ended : ScanEvent::Stopped);
    scan.Hits().Separate(isLast);
    return true;
}

// Memory short for the blocks: small ones, the buffers of the last file given back.
void SearchLineByLine(ScanContext& ctx, const std::string& name, const FileSight& sight,
                      bool isLast, bool mayHold) {
    if (!SearchFile(ctx, name, sight, isLast, Way{false, mayHold, false})) {
        SearchFile(ctx, name, sight, isLast, Way{false, mayHold, true});
    }
}

}  // namespace

WordCache::WordCache(RunHost& host, std::vector<std::string> words)
    : host_(host), words_(std::move(words)) {}
WordCache::WordCache(RunHost& host, const WordCache& lead)
    : host_(host), words_(lead.words_), lead_(&lead) {}
WordCache::~WordCache() = default;

FastScanner* WordCache::Fast(const RunState& state) {
    if (!fast_) {
        fast_ = std::make_unique<FastScanner>(FastScanner::Config{});
    }
    if (lead_ != nullptr && !fastReady_) {
        if (lead_->fast_ == nullptr || !lead_->fastReady_) {
            return nullptr;  // the lead was stopped in its set-up
        }
        fast_->Follow(*lead_->fast_);
        fastReady_ = true;
    }
    if (!fastReady_) {
        if (!fast_->SetWords(words_, [&] {
                host_.ProcessMessages();
                return state.Searching.load();
            })) {
            return nullptr;
        }
        fastReady_ = true;
    }
    return fast_.get();
}

void FastSearchByLine(ScanContext& ctx, const std::string& name, bool isLast,
                      const FileSight& sight) {
    SearchLineByLine(ctx, name, sight, isLast, /*mayHold=*/true);
}

bool FastSearchInMemory(ScanContext& ctx, const std::string& name, bool isLast,
                        const FileSight& sight) {
    return SearchFile(ctx, name, sight, isLast, Way{true, true, false});
}

}  // namespace korvalen
