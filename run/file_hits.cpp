#include "run/file_hits.hpp"

#include "run/hit_writer.hpp"
#include "text/cp932.hpp"

namespace korvalen {

FileHits::FileHits(ScanContext& ctx, const std::string& name, bool holdToEnd)
    : ctx_(ctx),
      name_(name),
      known_(holdToEnd ? State::HeldToEnd : State::Writing),
      state_(known_),
      hitsBefore_(ctx.state.HitCount) {}

void FileHits::Hit(std::int64_t number, std::string_view word, std::string_view text) {
    if (state_ == State::Writing) {
        WriteHitLine(ctx_.out, ctx_.options, name_, number, word, text);
        written_ = true;
    } else {
        ctx_.held.AddHitLine(ctx_.options, name_, number, word, text);
    }
    ++ctx_.state.HitCount;
    fileHasHits_ = true;
    changed_ = true;
}

void FileHits::Move(ScanEvent event) {
    switch (event) {
        case ScanEvent::Guessed:
            state_ = State::Provisional;
            return;
        case ScanEvent::AsciiWasSjis:
            if (known_ == State::Writing) {
                ctx_.held.AppendTo(ctx_.out);
                written_ = fileHasHits_;
            }
            state_ = known_;
            return;
        case ScanEvent::Outgrown:
            if (state_ == State::HeldToEnd) {
                ctx_.held.AppendTo(ctx_.out);
                written_ = fileHasHits_;
                state_ = State::Writing;
            }
            return;
        case ScanEvent::ReadAgain:
            Drop();
            changed_ = true;  // the status line shows the count again
            state_ = known_;
            return;
        case ScanEvent::Ended:
            if (state_ != State::Writing) {
                ctx_.held.AppendTo(ctx_.out);
            }
            state_ = State::Done;
            return;
        case ScanEvent::Stopped:
            if (state_ == State::HeldToEnd) {
                ctx_.held.AppendTo(ctx_.out);
            } else if (state_ == State::Provisional) {
                Drop();
            }
            state_ = State::Done;
            return;
        case ScanEvent::Failed:
            if (state_ != State::Writing) {
                Drop();
            }
            state_ = State::Done;
            return;
    }
}

void FileHits::Separate(bool isLast) {
    if (fileHasHits_ && ctx_.options.FileSeparate && !isLast) {
        ctx_.out.WriteLine({});
    }
}

void FileHits::Failed(std::string_view why) {
    ctx_.host.FileUnreadable(name_, why);
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

void FileHits::Drop() noexcept {
    ctx_.held.Drop();
    ctx_.state.HitCount = hitsBefore_;
    fileHasHits_ = false;
}

}  // namespace korvalen
