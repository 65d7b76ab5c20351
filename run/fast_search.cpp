#include "run/fast_search.hpp"

#include <memory>
#include <new>
#include <string_view>
#include <vector>

#include "platform/file.hpp"
#include "run/fast_scan.hpp"
#include "run/input.hpp"
#include "run/workers.hpp"
#include "text/cp932.hpp"

namespace korvalen {

namespace {

// Where a file's hit lines go. Every state a file's scan can be in, and what
// moves it on (FastFileScan::Move is the one place that changes it):
//
//   Writing      hit lines go straight to the output: the line-by-line
//                scanner on a file of known encoding.
//   HeldToEnd    held until the file has been read without failure: the
//                in-memory scanner on a file of known encoding.
//   Provisional  held until the encoding is known: either scanner, while the
//                file is read as UTF-8 on the strength of its start.
//   Done         the file's hit lines are in the output or gone.
//
//   event        from Writing  from HeldToEnd   from Provisional
//   Guessed      Provisional   Provisional      -
//   AsciiWasSjis -             -                known (held lines appended
//                                               first when that is Writing)
//   ReadAgain    -             drop, known      drop, known
//   Ended        Done          append, Done     append, Done
//   Stopped      Done          append, Done     drop, Done
//   Failed       Done          drop, Done       drop, Done
//
// "known" is Writing or HeldToEnd, as the scanner began. "drop" takes the
// file's hits off the hit count; ReadAgain also takes its progress back, as
// the file is read again from its start. A Stop while the encoding is open
// drops: the file may yet turn out to be code page 932, and reading on to
// know could take as long as the search that was stopped.
enum class FileHits { Writing, HeldToEnd, Provisional, Done };
enum class ScanEvent {
    Guessed,       // the file is read as UTF-8 before that is known
    AsciiWasSjis,  // only ASCII was read when it turned out code page 932
    ReadAgain,     // it is read again from its start, its encoding known
    Ended,         // read to its end
    Stopped,       // Stop ended the read
    Failed,        // it could not be read
};

// One file's scan: writes or holds the hits and keeps the run's state as the
// line loop of the scanners does, once per block instead of once per line.
class FastFileScan : public FastScanner::Host {
  public:
    // `scanner` is the run's, its words set up (WordCache::Fast).
    FastFileScan(ScanContext& ctx, FastScanner& scanner, const std::string& name, bool inMemory)
        : ctx_(ctx),
          name_(name),
          scanner_(scanner),
          known_(inMemory ? FileHits::HeldToEnd : FileHits::Writing),
          state_(known_),
          hitsBefore_(ctx.state.HitCount) {
        scanner_.SetConfig({ctx.options.JapaneseWord, ctx.options.CRText, /*trim_prev=*/!inMemory});
        scanner_.Reset();
    }

    FastScanner& Scanner() { return scanner_; }

    void Move(ScanEvent event) {
        switch (event) {
            case ScanEvent::Guessed:
                state_ = FileHits::Provisional;
                return;
            case ScanEvent::AsciiWasSjis:
                if (known_ == FileHits::Writing) {
                    ctx_.held.AppendTo(ctx_.out);
                }
                state_ = known_;
                return;
            case ScanEvent::ReadAgain:
                Drop();
                ctx_.state.Progress -= progressOfFile_;
                ctx_.host.SetProgressPos(ctx_.state.Progress);
                progressOfFile_ = 0;
                newHits_ = true;  // the status line shows the count again
                scanner_.Reset();
                state_ = known_;
                return;
            case ScanEvent::Ended:
                if (state_ != FileHits::Writing) {
                    ctx_.held.AppendTo(ctx_.out);
                }
                state_ = FileHits::Done;
                return;
            case ScanEvent::Stopped:
                if (state_ == FileHits::HeldToEnd) {
                    ctx_.held.AppendTo(ctx_.out);
                } else if (state_ == FileHits::Provisional) {
                    Drop();
                }
                state_ = FileHits::Done;
                return;
            case ScanEvent::Failed:
                if (state_ != FileHits::Writing) {
                    Drop();
                }
                state_ = FileHits::Done;
                return;
        }
    }

    void Hit(std::int64_t number, std::uint32_t word, std::string_view text) override {
        if (state_ == FileHits::Writing) {
            WriteHitLine(ctx_.out, ctx_.options, name_, number, scanner_.Words()[word], text);
        } else {
            ctx_.held.AddHitLine(ctx_.options, name_, number, scanner_.Words()[word], text);
        }
        ++ctx_.state.HitCount;
        fileHasHits_ = true;
        newHits_ = true;
    }

    bool AfterBlock(std::int64_t progress) override {
        if (newHits_) {
            ctx_.host.SetStatusText(StatusWithHits(ctx_.state));
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

    void Settled() override { Move(ScanEvent::AsciiWasSjis); }

    void Separate(bool isLast) {
        if (fileHasHits_ && ctx_.options.FileSeparate && !isLast) {
            ctx_.out.WriteLine({});
        }
    }

    // The error block; the hit lines before it are those Move(Failed) left.
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
    void Drop() noexcept {
        ctx_.held.Drop();
        ctx_.state.HitCount = hitsBefore_;
        fileHasHits_ = false;
    }

    ScanContext& ctx_;
    const std::string& name_;
    FastScanner& scanner_;
    const FileHits known_;
    FileHits state_;
    std::int64_t progressOfFile_ = 0;
    std::int64_t hitsBefore_;
    bool fileHasHits_ = false;
    bool newHits_ = false;
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
        scan.Failed();
        return true;
    } catch (const std::bad_alloc&) {
        if (inMemory) {
            scan.Move(ScanEvent::ReadAgain);
            return false;
        }
        scan.Move(ScanEvent::Failed);  // a line longer than memory allows
        scan.Failed();
        return true;
    }
    scan.Move(ctx.state.Searching ? ScanEvent::Ended : ScanEvent::Stopped);
    scan.Separate(isLast);
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
