// Physical memory of the machine, for the choice of scanner and the about box.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace korvalen {

struct MemoryStatus {
    std::int64_t total = 0;      // bytes
    std::int64_t available = 0;  // bytes a program can still get without swapping
};

// MemTotal and MemAvailable of a /proc/meminfo text; none when either is missing.
std::optional<MemoryStatus> ParseMeminfo(std::string_view text);

// /proc/meminfo, or sysinfo() where that cannot be read.
MemoryStatus ReadMemoryStatus();

inline std::int64_t AvailablePhysicalMemory() {
    return ReadMemoryStatus().available;
}

}  // namespace korvalen
