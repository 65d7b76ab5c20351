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

class QuietHost : public SilentHost {
  public:
    std::vector<std::string> words;
    bool echoMessages = false;  // ErrorStop messages to standard error

    void ShowMessage(std::string_view utf8) override {
        if (echoMessages) {
            std::fprintf(stderr, "%.*s\n", static_cast<int>(utf8.size()), utf8.data());
        }
    }
    std::int64_t AvailablePhysicalMemory() override { return std::int64_t{1} << 40; }
};

}  // namespace korvalen
