#include "run/file_crew.hpp"

#include <fcntl.h>

#include <chrono>
#include <exception>
#include <stdexcept>
#include <utility>

#include "run/held_lines.hpp"
#include "run/hit_writer.hpp"

namespace korvalen {

int HeldFolder::Of(std::string_view path) {
    if (path != path_) {
        Close();
        path_.assign(path);
        fd_ = CurrentFileOps().Open(path_.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC, 0);
    }
    return fd_;
}

void HeldFolder::Close() noexcept {
    if (fd_ >= 0) {
        CurrentFileOps().Close(fd_);
        fd_ = -1;
    }
}

namespace {

// A record's lines could not be held, or the crew ends: the file's search
// on the crew's thread ends, and the run's thread searches it if it must.
class CrewError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// Waits are cut in slices: a Stop sets no condition.
constexpr std::chrono::milliseconds kSlice{10};

}  // namespace

// One file as the host and the output would have seen it.
class FileCrew::Record final : public RunHost, public LineSink {
  public:
    enum class Claim : std::uint64_t { Queued, Running, Done, Failed, Taken };

    explicit Record(FileCrew& crew) : crew_(crew), lines_(crew.outputPath_, crew.bound_) {
        events_.reserve(8);  // what a small file's scan says
    }

    // The record made ready for `file`, its name's room used again.
    void Reuse(AheadFile&& file, std::string_view name) {
        file_.name.assign(name);
        std::string room = std::move(file_.name);
        file_ = std::move(file);
        file_.name = std::move(room);
        hits = 0;
        counted = 0;
        state_ = nullptr;
        claim_.store(Pack(file_.index, Claim::Queued), std::memory_order_relaxed);
    }
    // Written or taken back: what it kept goes.
    void Clear() noexcept {
        file_.open.Reset();
        lines_.Release();
        events_.clear();
    }

    const AheadFile& File() const noexcept { return file_; }
    // The file's descriptor: the crew thread's that runs it, or the run's
    // thread's that takes it back (while queued).
    Descriptor& Open() noexcept { return file_.open; }
    // From `from` to `to` if the record still holds file `index` in `from`:
    // whoever comes first has it, one who comes late for a file written
    // already leaves the record alone.
    bool Move(std::size_t index, Claim from, Claim to) noexcept {
        std::uint64_t expected = Pack(index, from);
        return claim_.compare_exchange_strong(expected, Pack(index, to), std::memory_order_acq_rel);
    }
    void Settle(std::size_t index, Claim to) noexcept { claim_.store(Pack(index, to)); }
    Claim Now() const noexcept { return static_cast<Claim>(claim_.load() & 7); }
    std::int64_t hits = 0;      // the file's hit count at its end
    std::uint64_t counted = 0;  // bytes of lines in the crew's held_ (under its mutex)

    // The scan is about to run with `state` (whose status line it composes).
    void Begin(const RunState& state) noexcept { state_ = &state; }

    // Hands the calls recorded so far on to the run's `ctx`; `progress` and
    // `before` are its progress and hit count before the file. The scan may
    // still be adding more meanwhile.
    void Replay(ScanContext& ctx, std::int64_t progress, std::int64_t before) {
        {
            const std::lock_guard lock(mutex_);
            replaying_.swap(events_);
        }
        RunHost& host = ctx.host;
        for (const Event& e : replaying_) {
            switch (e.kind) {
                case Kind::Status:
                    host.SetStatusText(e.text);
                    break;
                case Kind::HitStatus:
                    ctx.state.HitCount = before + e.number;
                    host.SetStatusText(StatusWithHits(ctx.state));
                    break;
                case Kind::Caption:
                    host.SetCaption(e.text);
                    break;
                case Kind::Title:
                    host.SetAppTitle(e.text);
                    break;
                case Kind::Progress:
                    ctx.state.Progress = progress + e.number;
                    host.SetProgressPos(ctx.state.Progress);
                    break;
                case Kind::Message:
                    host.ShowMessage(e.text);
                    break;
                case Kind::Unreadable:
                    host.FileUnreadable(file_.name, e.text);
                    break;
                case Kind::Process:
                    host.ProcessMessages();
                    break;
            }
        }
        replaying_.clear();
    }
    // After the scan ended: the rest of the calls, the hit count, the lines.
    void Finish(ScanContext& ctx, std::int64_t progress, std::int64_t before) {
        Replay(ctx, progress, before);
        ctx.state.HitCount = before + hits;
        lines_.AppendTo(ctx.out);
    }
    void Forget() noexcept {
        lines_.Drop();
        const std::lock_guard lock(mutex_);
        events_.clear();
    }

    void Take(std::string_view lines) override {
        if (lines.empty()) {
            return;  // the close of a file without hits
        }
        try {
            lines_.AddLines(lines);
        } catch (const HoldError& e) {
            throw CrewError(e.what());
        }
        if (!crew_.Hold(*this, lines.size())) {
            throw CrewError("ended");
        }
    }

    void SetStatusText(std::string_view utf8) override {
        // The scan's status line shows the run's count: composed again then.
        if (state_ != nullptr && utf8.data() == state_->StatusLine.data()) {
            Add(Kind::HitStatus, state_->HitCount);
        } else {
            Add(Kind::Status, 0, utf8);
        }
    }
    void SetCaption(std::string_view utf8) override { Add(Kind::Caption, 0, utf8); }
    void SetAppTitle(std::string_view utf8) override { Add(Kind::Title, 0, utf8); }
    void SetProgressMax(std::int64_t) override {}
    void SetProgressPos(std::int64_t pos) override { Add(Kind::Progress, pos); }
    void SetProgressVisible(bool) override {}
    void LockControls() override {}
    void UnlockControls() override {}
    void Minimize() override {}
    void Restore() override {}
    void ShowMessage(std::string_view utf8) override { Add(Kind::Message, 0, utf8); }
    void ProcessMessages() override { Add(Kind::Process, 0); }
    void OpenWithEditor(const std::string&) override {}
    std::int64_t AvailablePhysicalMemory() override { return file_.available; }
    std::string AskOutputPath() override { return {}; }
    void SetDropTarget(bool) override {}
    void FileUnreadable(const std::string&, std::string_view why) override {
        Add(Kind::Unreadable, 0, why);
    }

  private:
    enum class Kind : std::uint8_t {
        Status,
        HitStatus,
        Caption,
        Title,
        Progress,
        Message,
        Unreadable,
        Process
    };
    struct Event {
        Kind kind;
        std::int64_t number;
        std::string text;
    };
    void Add(Kind kind, std::int64_t number, std::string_view text = {}) {
        const std::lock_guard lock(mutex_);
        events_.push_back(Event{kind, number, std::string(text)});
    }

    static std::uint64_t Pack(std::size_t index, Claim claim) noexcept {
        return (static_cast<std::uint64_t>(index) << 3) | static_cast<std::uint64_t>(claim);
    }

    AheadFile file_;
    // The file's index and its claim in one word.
    std::atomic<std::uint64_t> claim_{0};
    FileCrew& crew_;
    const RunState* state_ = nullptr;
    std::mutex mutex_;  // events_ is added to by the scan, taken by the run's thread
    std::vector<Event> events_;
    std::vector<Event> replaying_;  // its room used again
    HeldLines lines_;
};

// What a crew thread searches with, its own for the run.
struct FileCrew::Hand {
    explicit Hand(FileCrew& crew)
        : state(crew.searching_), words(quiet, crew.lead_), held(crew.outputPath_, crew.bound_) {}

    // The words' set-up is the lead's: this host is never called.
    SilentHost quiet;
    RunState state;
    WordCache words;
    HeldLines held;
    OutFile out;
    HeldFolder folder;
};

FileCrew::FileCrew(unsigned threads, const WordCache& lead, const iset& options,
                   const std::string& outputPath, std::size_t bound, std::atomic<bool>& searching,
                   Search search)
    : lead_(lead),
      options_(options),
      outputPath_(outputPath),
      bound_(bound),
      searching_(searching),
      search_(std::move(search)) {
    options_.Threads = 1;  // a big file is the run's thread's, in pieces
    // Made here: their scanners take the lead's words while it is idle.
    hands_.reserve(threads);
    for (unsigned i = 0; i < threads; ++i) {
        hands_.push_back(std::make_unique<Hand>(*this));
        hands_.back()->words.Fast(hands_.back()->state);
    }
    threads_.reserve(threads);
    try {
        for (unsigned i = 0; i < threads; ++i) {
            threads_.emplace_back([this, i] { Loop(*hands_[i]); });
        }
    } catch (...) {
        End();
        throw;
    }
}

FileCrew::~FileCrew() {
    End();
}

void FileCrew::End() noexcept {
    {
        const std::lock_guard lock(mutex_);
        quit_ = true;
    }
    wake_.notify_all();
    room_.notify_all();
    for (std::thread& t : threads_) {
        t.join();
    }
    threads_.clear();
}

void FileCrew::Add(AheadFile file, std::string_view name) {
    if (free_.empty()) {
        made_.push_back(std::make_unique<Record>(*this));
        free_.push_back(made_.back().get());
    }
    Record& record = *free_.back();
    const std::size_t index = file.index;
    records_.push_back(&record);
    try {
        open_.push_back(Slot{&record, index});
        record.Reuse(std::move(file), name);
    } catch (...) {
        if (!open_.empty() && open_.back().record == &record) {
            open_.pop_back();
        }
        records_.pop_back();
        throw;
    }
    free_.pop_back();
}

void FileCrew::Send() {
    if (open_.empty()) {
        return;
    }
    {
        const std::lock_guard lock(mutex_);
        batches_.push_back(std::move(open_));
    }
    open_.clear();
    wake_.notify_one();
}

bool FileCrew::Write(std::size_t index, ScanContext& ctx, Descriptor& open) {
    if (records_.empty() || records_.front()->File().index != index) {
        return false;
    }
    Record& record = *records_.front();
    // Off the list and free once written: a thread that comes to it late
    // finds another file's index in it. One still being searched (the run
    // failed meanwhile) stays the thread's until the crew ends.
    struct Pop {
        FileCrew& crew;
        Record& record;
        ~Pop() {
            crew.records_.pop_front();
            if (record.Now() != Record::Claim::Running) {
                record.Clear();
                crew.free_.push_back(&record);
            }
        }
    } pop{*this, record};
    {
        const std::lock_guard lock(mutex_);
        writing_ = index;
        held_ -= record.counted;
        if (holding_ > 0) {
            room_.notify_all();
        }
    }
    if (record.Move(index, Record::Claim::Queued, Record::Claim::Taken)) {
        open = std::move(record.Open());  // searched here at once, not waited for
        return false;
    }
    const std::int64_t progress = ctx.state.Progress;
    const std::int64_t before = ctx.state.HitCount;
    // What the scan says is shown as it goes, its lines written at its end.
    while (record.Now() == Record::Claim::Running) {
        record.Replay(ctx, progress, before);
        std::unique_lock lock(mutex_);
        waiting_ = index + 1;
        done_.wait_for(lock, kSlice, [&] { return record.Now() != Record::Claim::Running; });
        waiting_ = 0;
    }
    if (record.Now() != Record::Claim::Done) {
        // Searched again from its start, as after a read that had to start over.
        ctx.state.Progress = progress;
        ctx.state.HitCount = before;
        return false;
    }
    record.Finish(ctx, progress, before);
    return true;
}

void FileCrew::Ended(std::size_t index) {
    // Checked after the record's claim was set: a run's thread that is about
    // to wait sees the claim, or is seen here.
    if (waiting_ == index + 1) {
        const std::lock_guard lock(mutex_);
        done_.notify_one();
    }
}

bool FileCrew::Hold(Record& record, std::size_t bytes) {
    std::unique_lock lock(mutex_);
    if (record.File().index == writing_) {
        return !quit_;
    }
    held_ += bytes;
    record.counted += bytes;
    while (!quit_ && held_ > bound_ && record.File().index != writing_ && searching_) {
        ++holding_;
        room_.wait_for(lock, kSlice);
        --holding_;
    }
    return !quit_;
}

void FileCrew::Loop(Hand& hand) {
    std::vector<Slot> batch;
    for (;;) {
        {
            std::unique_lock lock(mutex_);
            wake_.wait(lock, [&] { return quit_ || !batches_.empty(); });
            if (quit_) {
                return;
            }
            batch.swap(batches_.front());
            batches_.pop_front();
        }
        for (const Slot& slot : batch) {
            if (quit_) {
                return;
            }
            if (slot.record->Move(slot.index, Record::Claim::Queued, Record::Claim::Running)) {
                const bool ok = Run(hand, *slot.record);
                slot.record->Settle(slot.index, ok ? Record::Claim::Done : Record::Claim::Failed);
                Ended(slot.index);
            }
        }
        batch.clear();
    }
}

bool FileCrew::Run(Hand& hand, Record& record) {
    const AheadFile& file = record.File();
    hand.state.HitCount = 0;
    hand.state.Progress = 0;
    record.Begin(hand.state);
    FileSight sight;
    sight.size = file.size;
    sight.opened = &record.Open();
    if (file.leaf > 0 && !record.Open().Valid()) {
        sight.folder = hand.folder.Of(std::string_view(file.name).substr(0, file.leaf));
        sight.leaf = file.leaf;
    }
    ScanContext ctx{record, hand.state, hand.out, options_, hand.words, hand.held, file.lineLimit};
    try {
        hand.out.Open(record);
        search_(ctx, file, sight);
        hand.out.Close();
        record.hits = hand.state.HitCount;
        return true;
    } catch (...) {
        // Memory ran out, or the lines could not be held: one thread meets
        // that in its own way, the run's thread searches the file again.
        hand.held.Drop();
        record.Forget();
        return false;
    }
}

}  // namespace korvalen
