// A front end that shows nothing: for fuzzers and benchmarks that drive the
// scanners directly and only look at the output file.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "run/run_host.hpp"

namespace korvalen {

class QuietHost : public RunHost {
  public:
    std::vector<std::string> words;
    bool echoMessages = false;  // ErrorStop messages to standard error

    void SetStatusText(std::string_view) override {}
    void SetCaption(std::string_view) override {}
    void SetAppTitle(std::string_view) override {}
    void SetProgressMax(std::int64_t) override {}
    void SetProgressPos(std::int64_t) override {}
    void SetProgressVisible(bool) override {}
    void LockControls() override {}
    void UnlockControls() override {}
    void Minimize() override {}
    void Restore() override {}
    void ShowMessage(std::string_view utf8) override {
        if (echoMessages) {
            std::fprintf(stderr, "%.*s\n", static_cast<int>(utf8.size()), utf8.data());
        }
    }
    void ProcessMessages() override {}
    std::uint64_t WordsGeneration() override { return 1; }
    std::vector<std::string> SearchWords() override { return words; }
    void OpenWithEditor(const std::string&) override {}
    std::int64_t AvailablePhysicalMemory() override { return std::int64_t{1} << 40; }
    bool ShiftCtrlDown() override { return false; }
    std::string AskOutputPath() override { return {}; }
    void SetDropTarget(bool) override {}
};

}  // namespace korvalen
