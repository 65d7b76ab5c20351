#include "platform/memory.hpp"

#include <sys/sysinfo.h>

#include <charconv>
#include <fstream>
#include <iterator>
#include <limits>
#include <string>

#include "text/lines.hpp"

namespace korvalen {

namespace {

// "Key:   12345 kB" -> bytes; none when the line is not that key.
std::optional<std::int64_t> KilobytesOf(std::string_view line, std::string_view key) {
    if (line.size() <= key.size() || line.substr(0, key.size()) != key || line[key.size()] != ':') {
        return std::nullopt;
    }
    std::string_view rest = line.substr(key.size() + 1);
    while (!rest.empty() && (rest.front() == ' ' || rest.front() == '\t')) {
        rest.remove_prefix(1);
    }
    std::int64_t kb = 0;
    const auto [end, ec] = std::from_chars(rest.data(), rest.data() + rest.size(), kb);
    if (ec != std::errc() || end == rest.data() || kb < 0 ||
        kb > std::numeric_limits<std::int64_t>::max() / 1024) {
        return std::nullopt;
    }
    return kb * 1024;
}

}  // namespace

std::optional<MemoryStatus> ParseMeminfo(std::string_view text) {
    std::optional<std::int64_t> total;
    std::optional<std::int64_t> available;
    ForEachLine(text, [&](std::string_view line) {
        if (!total) {
            total = KilobytesOf(line, "MemTotal");
        }
        if (!available) {
            available = KilobytesOf(line, "MemAvailable");
        }
    });
    if (!total || !available) {
        return std::nullopt;
    }
    return MemoryStatus{*total, *available};
}

MemoryStatus ReadMemoryStatus() {
    std::ifstream in("/proc/meminfo", std::ios::binary);
    if (in) {
        const std::string text((std::istreambuf_iterator<char>(in)),
                               std::istreambuf_iterator<char>());
        if (const auto status = ParseMeminfo(text)) {
            return *status;
        }
    }
    struct sysinfo info {};
    if (::sysinfo(&info) != 0) {
        return {};
    }
    const auto unit = static_cast<std::int64_t>(info.mem_unit);
    return {static_cast<std::int64_t>(info.totalram) * unit,
            static_cast<std::int64_t>(info.freeram + info.bufferram) * unit};
}

}  // namespace korvalen
