#include "search/fast_search.hpp"

#include <memory>
#include <new>
#include <string_view>
#include <vector>

#include "platform/file.hpp"
#include "search/fast_scan.hpp"
#include "search/input.hpp"
#include "text/cp932.hpp"

namespace korvalen {

namespace {

// Hit lines held back by the in-memory twin beyond this many bytes are
// written out (see FastSearchInMemory).
constexpr std::size_t kHoldLimit = std::size_t{16} << 20;
constexpr std::size_t kHoldPiece = std::size_t{1} << 20;

// One file's scan: writes the hits and keeps the run's state as the line loop
// of the scanners does, once per block instead of once per line.
class FastFileScan : public FastScanner::Host {
  public:
    // `scanner` is the run's, its words set up (WordCache::Fast).
    FastFileScan(ScanContext& ctx, FastScanner& scanner, const std::string& name, bool trimPrevLine,
                 bool hold)
        : ctx_(ctx),
          name_(name),
          scanner_(scanner),
          holdsFile_(hold),
          hold_(hold),
          hitsBefore_(ctx.state.HitCount),
          outputBefore_(ctx.out.Position()) {
        scanner_.SetConfig({ctx.options.JapaneseWord, ctx.options.CRText, trimPrevLine});
        scanner_.Reset();
    }

    FastScanner& Scanner() { return scanner_; }

    void Hit(std::int64_t number, std::uint32_t word, std::string_view text) override {
        if (hold_) {
            // In pieces of about 1 MB: no copying as the held lines grow.
            if (held_.empty() || held_.back().size() > kHoldPiece) {
                held_.emplace_back().reserve(kHoldPiece + 4096);
            }
            std::string& piece = held_.back();
            const std::size_t before = piece.size();
            AppendHitLine(piece, name_, number, scanner_.Words()[word], text, ctx_.options);
            heldLengths_.push_back(piece.size() - before);
            heldBytes_ += piece.size() - before;
            if (heldBytes_ > kHoldLimit) {
                Release();
            }
        } else {
            WriteHitLine(ctx_.out, ctx_.options, name_, number, scanner_.Words()[word], text);
        }
        ++ctx_.state.HitCount;
        fileHasHits_ = true;
        newHits_ = true;
    }

    bool AfterBlock(std::int64_t progress) override {
        if (newHits_) {
            ctx_.host.SetStatusText(ctx_.state.StatusPrefix + "  (" +
                                    std::to_string(ctx_.state.HitCount) + " Lines)");
            newHits_ = false;
        }
        ctx_.host.ProcessMessages();
        ctx_.state.Progress += progress;
        progressOfFile_ += progress;
        ctx_.host.SetProgressPos(ctx_.state.Progress);
        // Words change only while messages are processed; the scanner is
        // the same one after they were set up again.
        return ctx_.words.Fast(ctx_.state) != nullptr && ctx_.state.Searching;
    }

    // The file is read as UTF-8 before that is known; what its scan writes
    // may be taken back (Unload, Undo).
    void Provisional() noexcept { provisional_ = true; }
    void Settled() override { provisional_ = false; }

    // Takes back all that the file's scan reported, to read it again.
    void Undo() {
        Unload();
        ctx_.state.Progress -= progressOfFile_;
        ctx_.host.SetProgressPos(ctx_.state.Progress);
        progressOfFile_ = 0;
        newHits_ = true;  // the status line shows the count again
        hold_ = holdsFile_;
        scanner_.Reset();
    }

    // Writes the held hit lines; from now on hits go straight out.
    void Release() {
        std::size_t line = 0;
        for (const std::string& piece : held_) {
            for (std::size_t at = 0; at < piece.size(); at += heldLengths_[line++]) {
                ctx_.out.WriteLine(std::string_view(piece).substr(at, heldLengths_[line]));
            }
        }
        Drop();
        hold_ = false;
    }

    // The file could not be read whole: as if it had failed to load, before
    // any hit. False when the held lines were already written for good.
    bool Unload() {
        if (provisional_) {
            ctx_.out.TakeBack(outputBefore_);
            provisional_ = false;
        } else if (!hold_) {
            return false;
        }
        Drop();
        ctx_.state.HitCount = hitsBefore_;
        fileHasHits_ = false;
        return true;
    }

    void Drop() {
        std::vector<std::string>().swap(held_);
        std::vector<std::size_t>().swap(heldLengths_);
        heldBytes_ = 0;
    }

    void Separate(bool isLast) {
        if (fileHasHits_ && ctx_.options.FileSeparate && !isLast) {
            ctx_.out.WriteLine({});
        }
    }

    void Failed() {
        if (ctx_.options.ErrorStop) {
            ctx_.host.ShowMessage(Cp932ToUtf8(FileErrorText()) + name_);
        }
        if (fileHasHits_ || !ctx_.options.FileSeparate) {
            ctx_.out.WriteLine({});
        }
        ctx_.out.WriteLine(FileErrorText() + OutputPath(name_));
        ctx_.out.WriteLine({});
        fileHasHits_ = false;
    }

  private:
    ScanContext& ctx_;
    const std::string& name_;
    FastScanner& scanner_;
    const bool holdsFile_;  // the in-memory twin holds a file's hits to its end
    bool hold_;
    bool provisional_ = false;
    std::int64_t progressOfFile_ = 0;
    std::int64_t hitsBefore_;
    std::int64_t outputBefore_;
    std::vector<std::string> held_;
    std::vector<std::size_t> heldLengths_;
    std::size_t heldBytes_ = 0;
    bool fileHasHits_ = false;
    bool newHits_ = false;
};

// Opens, scans and closes one file; a failure is the twin's to handle.
//
// A file whose start is valid UTF-8 is scanned as UTF-8 at once rather than
// read to its end first to be sure (that read costs as much as the search):
// the scan checks each block, and in the rare file that turns out not to be
// UTF-8 after all, what it wrote is taken back and the file read again.
void ScanFile(ScanContext& ctx, const std::string& name, FastFileScan& scan) {
    InputText input(name, ctx.options.InputEncoding != 0, DetectionPause(ctx),
                    /*provisional=*/ctx.out.CanTakeBack());
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
    if (input.Settled()) {
        // UTF-8 is converted by the scanner, which can leave out lines that
        // cannot hold a hit.
        scanner.ScanUtf8Source(input.RawSource(), scan, /*provisional=*/false);
        input.Close();
        return;
    }
    scan.Provisional();
    const bool stands = scanner.ScanUtf8Source(input.RawSource(), scan, /*provisional=*/true);
    input.Close();
    if (stands) {
        scan.Settled();  // read to its end, or stopped: what it wrote stands
        return;
    }
    scan.Undo();
    if (ctx.state.Searching) {
        InputText again(name, /*detect=*/false);
        scanner.ScanSource(again.Source(), scan);
        again.Close();
    }
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

void FastSearchByLine(ScanContext& ctx, const std::string& name, bool isLast) {
    FastScanner* scanner = ctx.words.Fast(ctx.state);
    if (scanner == nullptr) {
        return;  // stopped before the file's first line
    }
    FastFileScan scan(ctx, *scanner, name, /*trimPrevLine=*/true, /*hold=*/false);
    try {
        ScanFile(ctx, name, scan);
    } catch (const FileError&) {
        // Hits found while the encoding was open go: a file that cannot be
        // read to its end has none as UTF-8.
        scan.Unload();
        scan.Failed();
        return;
    } catch (const std::bad_alloc&) {
        scan.Unload();
        scan.Failed();
        return;
    }
    scan.Separate(isLast);
}

// The twin that loads the file whole differs from the line-by-line one in the
// join (the previous line keeps its trailing blanks) and in that a file it
// cannot read gives no hit at all. Both hold here without holding the file:
// it is read in blocks like the other, and its hit lines are held back until
// the file has been read to its end (up to kHoldLimit bytes of them; a file
// with more writes them out from there on).
bool FastSearchInMemory(ScanContext& ctx, const std::string& name, bool isLast) {
    FastScanner* scanner = ctx.words.Fast(ctx.state);
    if (scanner == nullptr) {
        return true;  // stopped before the file's first line
    }
    FastFileScan scan(ctx, *scanner, name, /*trimPrevLine=*/false, /*hold=*/true);
    try {
        ScanFile(ctx, name, scan);
    } catch (const FileError&) {
        scan.Unload();
        scan.Failed();
        return true;
    } catch (const std::bad_alloc&) {
        if (scan.Unload()) {
            return false;  // nothing written: the caller reads it line by line
        }
        scan.Failed();
        return true;
    }
    scan.Release();
    scan.Separate(isLast);
    return true;
}

}  // namespace korvalen
