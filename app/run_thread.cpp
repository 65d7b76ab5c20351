#include "app/run_thread.hpp"

#include <utility>

namespace korvalen {

// The run's host on the run's thread: every call is handed to the window.
class RunThread::Relay final : public RunHost {
  public:
    explicit Relay(RunThread& owner) : owner_(owner) {}

    void SetStatusText(std::string_view utf8) override { owner_.SetText(kStatus, utf8); }
    void SetCaption(std::string_view utf8) override { owner_.SetText(kCaption, utf8); }
    void SetAppTitle(std::string_view utf8) override { owner_.SetText(kTitle, utf8); }
    void SetProgressMax(std::int64_t max) override {
        owner_.Post([max](RunHost& w) { w.SetProgressMax(max); });
    }
    void SetProgressPos(std::int64_t pos) override { owner_.SetPosition(pos); }
    void SetProgressVisible(bool visible) override {
        owner_.Post([visible](RunHost& w) { w.SetProgressVisible(visible); });
    }
    void LockControls() override {
        owner_.Post([](RunHost& w) { w.LockControls(); });
    }
    void UnlockControls() override {
        owner_.Post([](RunHost& w) { w.UnlockControls(); });
    }
    void Minimize() override {
        owner_.Post([](RunHost& w) { w.Minimize(); });
    }
    void Restore() override {
        owner_.Post([](RunHost& w) { w.Restore(); });
    }
    void ShowMessage(std::string_view utf8) override {
        owner_.Wait([text = std::string(utf8)](RunHost& w) { w.ShowMessage(text); });
    }
    void ProcessMessages() override {}  // Stop reaches the run directly
    void OpenWithEditor(const std::string& path) override {
        owner_.Post([path](RunHost& w) { w.OpenWithEditor(path); });
    }
    std::int64_t AvailablePhysicalMemory() override {
        return owner_.window_.AvailablePhysicalMemory();
    }
    std::string AskOutputPath() override {
        std::string path;
        owner_.Wait([&path](RunHost& w) { path = w.AskOutputPath(); });
        return path;
    }
    void SetDropTarget(bool on) override {
        owner_.Post([on](RunHost& w) { w.SetDropTarget(on); });
    }

  private:
    RunThread& owner_;
};

void RunThread::ShowText(RunHost& window, Text which, std::string_view utf8) {
    switch (which) {
        case kStatus:
            window.SetStatusText(utf8);
            break;
        case kCaption:
            window.SetCaption(utf8);
            break;
        default:
            window.SetAppTitle(utf8);
            break;
    }
}

RunThread::RunThread(RunHost& window, QObject* parent)
    : QObject(parent), window_(window), relay_(std::make_unique<Relay>(*this)), run_(*relay_) {
    connect(&timer_, &QTimer::timeout, this, &RunThread::Drain);
}

RunThread::~RunThread() {
    StopAndWait();
}

bool RunThread::Start(RunRequest request) {
    if (Running()) {
        return false;
    }
    {
        const std::lock_guard lock(mutex_);
        calls_.clear();
        for (auto& text : texts_) {
            text.reset();
        }
        position_.reset();
        outcome_.reset();
        woken_ = false;
        abandoned_ = false;
        coalesce_ = interval_.count() > 0;
    }
    for (auto& text : shown_) {
        text.reset();
    }
    if (interval_.count() > 0) {
        timer_.start(interval_);
    }
    thread_ = std::thread([this, request = std::move(request)]() mutable {
        const RunOutcome outcome = run_.Drop(std::move(request));
        const std::lock_guard lock(mutex_);
        outcome_ = outcome;
        WakeLocked();
    });
    return true;
}

void RunThread::Post(Call call) {
    const std::lock_guard lock(mutex_);
    calls_.push_back(std::move(call));
    if (!coalesce_) {
        WakeLocked();
    }
}

void RunThread::SetText(Text which, std::string_view utf8) {
    if (!coalesce_) {
        Post([which, text = std::string(utf8)](RunHost& w) { ShowText(w, which, text); });
        return;
    }
    const std::lock_guard lock(mutex_);
    std::optional<std::string>& text = texts_[which];
    if (!text) {
        text.emplace();
    }
    text->assign(utf8);  // its room used again
}

void RunThread::SetPosition(std::int64_t pos) {
    if (!coalesce_) {
        Post([pos](RunHost& w) { w.SetProgressPos(pos); });
        return;
    }
    const std::lock_guard lock(mutex_);
    position_ = pos;
}

void RunThread::Wait(Call call) {
    std::unique_lock lock(mutex_);
    const std::uint64_t ticket = ++waits_;
    calls_.push_back([this, call = std::move(call)](RunHost& w) {
        call(w);
        const std::lock_guard done(mutex_);
        ++waitsDone_;
        called_.notify_all();
    });
    WakeLocked();
    called_.wait(lock, [&] { return waitsDone_ >= ticket || abandoned_; });
}

void RunThread::WakeLocked() {
    if (!woken_) {
        woken_ = true;
        QMetaObject::invokeMethod(this, &RunThread::Drain, Qt::QueuedConnection);
    }
}

void RunThread::Drain() {
    if (draining_) {
        return;  // a box of the run's is open
    }
    draining_ = true;
    std::vector<Call> calls;
    std::optional<std::string> texts[kTexts];
    std::optional<std::int64_t> position;
    std::optional<RunOutcome> outcome;
    {
        const std::lock_guard lock(mutex_);
        calls.swap(calls_);
        for (int i = 0; i < kTexts; ++i) {
            if (texts_[i]) {
                texts[i] = std::move(texts_[i]);
                texts_[i].reset();
            }
        }
        position = std::exchange(position_, std::nullopt);
        outcome = std::exchange(outcome_, std::nullopt);
        woken_ = false;
    }
    // The texts first: a box the run opens comes up over its file's status.
    for (int i = 0; i < kTexts; ++i) {
        if (texts[i] && texts[i] != shown_[i]) {
            ShowText(window_, static_cast<Text>(i), *texts[i]);
            shown_[i] = std::move(texts[i]);
        }
    }
    if (position) {
        window_.SetProgressPos(*position);
    }
    for (const Call& call : calls) {
        call(window_);
    }
    draining_ = false;
    if (outcome) {
        thread_.join();  // it ends right after telling
        timer_.stop();
        emit ended(*outcome);
    }
}

void RunThread::StopAndWait() {
    if (!Running()) {
        return;
    }
    run_.Stop();
    {
        const std::lock_guard lock(mutex_);
        abandoned_ = true;
        called_.notify_all();
    }
    thread_.join();
    timer_.stop();
}

}  // namespace korvalen
