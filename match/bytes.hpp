// Byte-level helpers shared by the matcher and the block scanner: line-break
// bytes and bit sets over a block's positions.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace korvalen {

inline bool IsBreakByte(char c) noexcept {
    return c == '\n' || c == '\r';
}

// The length of the line break at `at` (CR LF counts as one), 0 past the end.
inline std::size_t BreakLength(const char* b, std::size_t at, std::size_t n) noexcept {
    if (at >= n) {
        return 0;
    }
    return (b[at] == '\r' && at + 1 < n && b[at + 1] == '\n') ? 2 : 1;
}

// The first CR or LF in [from, n), or n.
std::size_t FindBreakByte(const char* p, std::size_t from, std::size_t n) noexcept;

inline constexpr std::size_t kNoBit = static_cast<std::size_t>(-1);

// Set bits of `bits` in [from, to).
std::size_t CountBits(const std::vector<std::uint64_t>& bits, std::size_t from,
                      std::size_t to) noexcept;

// The last set bit below `pos`, or kNoBit.
inline std::size_t LastBitBefore(const std::vector<std::uint64_t>& bits, std::size_t pos) noexcept {
    if (pos == 0) {
        return kNoBit;
    }
    std::size_t w = (pos - 1) >> 6;
    const unsigned top = static_cast<unsigned>(pos - (w << 6));  // 1..64
    std::uint64_t m = bits[w];
    if (top < 64) {
        m &= (std::uint64_t{1} << top) - 1;
    }
    while (m == 0) {
        if (w == 0) {
            return kNoBit;
        }
        m = bits[--w];
    }
    return (w << 6) + 63 - static_cast<std::size_t>(std::countl_zero(m));
}

// The first set bit at or after `pos`, or `n` (bits past `n` are clear).
inline std::size_t NextBitFrom(const std::vector<std::uint64_t>& bits, std::size_t pos,
                               std::size_t n) noexcept {
    if (pos >= n) {
        return n;
    }
    std::size_t w = pos >> 6;
    std::uint64_t m = bits[w] & (~std::uint64_t{0} << (pos & 63));
    const std::size_t words = (n + 63) >> 6;
    while (m == 0) {
        if (++w == words) {
            return n;
        }
        m = bits[w];
    }
    return (w << 6) + static_cast<std::size_t>(std::countr_zero(m));
}

}  // namespace korvalen
