// The terminal as the run's front end: status and messages on standard
// error, a progress bar there when it is a terminal, Ctrl-C as Stop.
#pragma once

#include <chrono>
#include <csignal>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "cli/terminal.hpp"
#include "config/options.hpp"
#include "run/run_host.hpp"
#include "run/search_run.hpp"

namespace korvalen {

// The first of SIGINT, SIGTERM and SIGHUP that arrived, 0 before; the host
// turns it into Stop.
extern volatile std::sig_atomic_t g_interrupted;
// Each of them sets g_interrupted; a second one of a kind ends the program
// outright.
void InstallInterruptHandler();

class CliHost : public RunHost {
  public:
    CliHost(const Terminal& terminal, const iset& options, bool progressBar);

    // Must be set before the run: the target of Ctrl-C.
    void SetRun(SearchRun* run) noexcept { run_ = run; }
    const std::string& StatusText() const noexcept { return status_; }
    // Where the bar is drawn and the clock that paces it (standard error and
    // the steady clock unless a test says otherwise).
    using Clock = std::function<std::chrono::steady_clock::time_point()>;
    using Writer = std::function<void(const std::string&)>;
    void SetClock(Clock clock) { now_ = std::move(clock); }
    void SetWriter(Writer writer) { write_ = std::move(writer); }

    void SetStatusText(std::string_view utf8) override;
    void SetCaption(std::string_view) override {}
    void SetAppTitle(std::string_view) override {}
    void SetProgressMax(std::int64_t max) override { max_ = max; }
    void SetProgressPos(std::int64_t pos) override { pos_ = pos; }
    void SetProgressVisible(bool visible) override;
    void LockControls() override {}
    void UnlockControls() override {}
    void Minimize() override {}
    void Restore() override {}
    void ShowMessage(std::string_view utf8) override;
    void ProcessMessages() override;
    void OpenWithEditor(const std::string& path) override;
    std::int64_t AvailablePhysicalMemory() override;
    std::string AskOutputPath() override { return {}; }
    void SetDropTarget(bool) override {}
    void FileUnreadable(const std::string& name, std::string_view why) override;

    // Names that could not be read are counted; with `silent` not named on
    // standard error (as grep -s).
    void SetSilent(bool silent) noexcept { silent_ = silent; }
    std::size_t UnreadableCount() const noexcept { return unreadable_; }

  private:
    void DrawBar(bool force);
    void ClearBar();

    const Terminal& terminal_;
    const iset& options_;
    bool progressBar_;
    bool silent_ = false;
    std::size_t unreadable_ = 0;
    SearchRun* run_ = nullptr;
    std::string status_;
    std::int64_t max_ = 0;
    std::int64_t pos_ = 0;
    bool barVisible_ = false;
    bool barShown_ = false;
    unsigned calls_ = 0;            // since the clock was last looked at
    std::int64_t lookedAtPos_ = 0;  // the progress then
    std::chrono::steady_clock::time_point lastDraw_{};
    Clock now_;
    Writer write_;
};

}  // namespace korvalen
