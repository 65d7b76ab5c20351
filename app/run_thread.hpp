// A search run on a thread of its own, shown by the window. The run's calls
// reach the window's thread in order; the status text, caption, title and
// progress follow at most every interval and only when they changed (the last
// state always shown), so a run over many small files does not flood the
// window system. The window's thread never runs search code.
#pragma once

#include <QObject>
#include <QTimer>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "run/run_host.hpp"
#include "run/search_run.hpp"

namespace korvalen {

class RunThread : public QObject {
    Q_OBJECT

  public:
    // `window` shows the run: its calls come on this object's thread, except
    // AvailablePhysicalMemory, which the run's thread asks itself.
    explicit RunThread(RunHost& window, QObject* parent = nullptr);
    ~RunThread() override;  // stops a run under way and waits for it

    // Starts a run of `request`; false while one is under way.
    bool Start(RunRequest request);
    // From Start until `ended` is emitted.
    bool Running() const noexcept { return thread_.joinable(); }
    void Stop() noexcept { run_.Stop(); }
    // Stops a run under way and waits for its thread; it shows nothing more.
    void StopAndWait();
    // Read it once the run has ended; during a run only Searching.
    const RunState& State() const noexcept { return run_.State(); }

    // The screen follows at most this often; zero: every call as it comes.
    void SetInterval(std::chrono::milliseconds interval) { interval_ = interval; }

  signals:
    void ended(korvalen::RunOutcome outcome);

  private:
    class Relay;
    using Call = std::function<void(RunHost&)>;
    enum Text { kStatus, kCaption, kTitle, kTexts };
    static void ShowText(RunHost& window, Text which, std::string_view utf8);

    // From the run's thread.
    void Post(Call call);
    void SetText(Text which, std::string_view utf8);
    void SetPosition(std::int64_t pos);
    void Wait(Call call);  // returns once the window has made the call
    void WakeLocked();
    // On the window's thread.
    void Drain();

    RunHost& window_;
    std::unique_ptr<Relay> relay_;
    SearchRun run_;
    std::thread thread_;
    QTimer timer_;
    std::chrono::milliseconds interval_{100};
    bool draining_ = false;

    std::mutex mutex_;  // guards what follows
    std::condition_variable called_;
    std::vector<Call> calls_;
    std::optional<std::string> texts_[kTexts];  // the latest, not yet shown
    std::optional<std::int64_t> position_;
    std::optional<RunOutcome> outcome_;
    std::uint64_t waits_ = 0;
    std::uint64_t waitsDone_ = 0;
    bool woken_ = false;
    bool abandoned_ = false;
    bool coalesce_ = true;  // the interval of the run under way is not zero

    std::optional<std::string> shown_[kTexts];  // on the window's thread
};

}  // namespace korvalen
