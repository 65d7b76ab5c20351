#include "cli/cli_host.hpp"

#include <unistd.h>

#include <cstdio>

#include "platform/editor.hpp"
#include "platform/memory.hpp"
#include "platform/process.hpp"

namespace korvalen {

volatile std::sig_atomic_t g_interrupted = 0;

namespace {

extern "C" void OnInterrupt(int signal) {
    if (g_interrupted == 0) {
        g_interrupted = signal;
    }
}

constexpr int kBarWidth = 30;
constexpr auto kRedrawEvery = std::chrono::milliseconds(100);
constexpr unsigned kLookEveryCalls = 64;
constexpr std::int64_t kLookEveryBytes = 64 * 1024;

void WriteErr(const std::string& text) {
    std::fwrite(text.data(), 1, text.size(), stderr);
    std::fflush(stderr);
}

}  // namespace

void InstallInterruptHandler() {
    // A closed terminal, a session's end and kill stop the run as Ctrl-C does:
    // left to their default they end the program amid a write, and a whole
    // file's held lines are never written.
    for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
        struct sigaction action {};
        action.sa_handler = OnInterrupt;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESETHAND;  // a second one is not caught
        sigaction(signal, &action, nullptr);
    }
}

CliHost::CliHost(const Terminal& terminal, const iset& options, bool progressBar)
    : terminal_(terminal),
      options_(options),
      progressBar_(progressBar),
      now_([] { return std::chrono::steady_clock::now(); }),
      write_(WriteErr) {}

void CliHost::SetStatusText(std::string_view utf8) {
    status_.assign(utf8);
}

void CliHost::SetProgressVisible(bool visible) {
    barVisible_ = visible;
    if (visible) {
        DrawBar(true);
    } else {
        ClearBar();
    }
}

void CliHost::ShowMessage(std::string_view utf8) {
    ClearBar();
    WriteErr(terminal_.FromUtf8(utf8) + "\n");
}

void CliHost::FileUnreadable(const std::string&, std::string_view why) {
    ++unreadable_;
    if (!silent_) {
        ClearBar();
        WriteErr("korvalen-cli: " + terminal_.FromUtf8(why) + "\n");
    }
}

void CliHost::ProcessMessages() {
    if (g_interrupted != 0 && run_ != nullptr) {
        run_->Stop();
    }
    // The bar follows the clock. Reading the clock costs more than a line,
    // so it is read only once the progress has moved a little or enough
    // calls have passed; a call per block of a slow disk reads it each time.
    if (progressBar_ && barVisible_ &&
        (++calls_ >= kLookEveryCalls || pos_ - lookedAtPos_ >= kLookEveryBytes)) {
        calls_ = 0;
        lookedAtPos_ = pos_;
        DrawBar(false);
    }
}

void CliHost::OpenWithEditor(const std::string& path) {
    if (options_.Editor.empty()) {
        StartProgram("xdg-open", {path});
    } else {
        StartProgram(options_.Editor, EditorArguments(options_.Editor, "", path, 0));
    }
}

std::int64_t CliHost::AvailablePhysicalMemory() {
    return korvalen::AvailablePhysicalMemory();
}

void CliHost::DrawBar(bool force) {
    if (!progressBar_) {
        return;
    }
    const auto now = now_();
    if (!force && now - lastDraw_ < kRedrawEvery) {
        return;
    }
    lastDraw_ = now;
    const double part = max_ > 0 ? static_cast<double>(pos_) / static_cast<double>(max_) : 0.0;
    const double clamped = part < 0 ? 0 : (part > 1 ? 1 : part);
    const int filled = static_cast<int>(clamped * kBarWidth);
    std::string line = "\r[";
    line.append(static_cast<std::size_t>(filled), '#');
    line.append(static_cast<std::size_t>(kBarWidth - filled), '.');
    char percent[16];
    std::snprintf(percent, sizeof percent, "] %3d%% ", static_cast<int>(clamped * 100));
    line += percent;
    line += terminal_.FromUtf8(status_);
    line += "\x1b[K";  // erase what a longer earlier line left
    write_(line);
    barShown_ = true;
}

void CliHost::ClearBar() {
    if (barShown_) {
        write_("\r\x1b[K");
        barShown_ = false;
    }
}

}  // namespace korvalen
