#include "match/bytes.hpp"

#ifdef __SSE2__
#include <emmintrin.h>
#endif

namespace korvalen {

// The baseline x86-64 has no popcount instruction; without one the count is
// a library call.
#if defined(__x86_64__) && defined(__GNUC__) && !defined(__POPCNT__)
__attribute__((target_clones("popcnt", "default")))
#endif
std::size_t
CountBits(const std::vector<std::uint64_t>& bits, std::size_t from, std::size_t to) noexcept {
    if (from >= to) {
        return 0;
    }
    std::size_t w = from >> 6;
    const std::size_t last = (to - 1) >> 6;
    std::uint64_t m = bits[w] & (~std::uint64_t{0} << (from & 63));
    std::size_t count = 0;
    while (w < last) {
        count += static_cast<std::size_t>(std::popcount(m));
        m = bits[++w];
    }
    const unsigned top = static_cast<unsigned>(to - (last << 6));  // 1..64
    if (top < 64) {
        m &= (std::uint64_t{1} << top) - 1;
    }
    return count + static_cast<std::size_t>(std::popcount(m));
}

std::size_t FindBreakByte(const char* p, std::size_t from, std::size_t n) noexcept {
    std::size_t i = from;
#ifdef __SSE2__
    const __m128i vlf = _mm_set1_epi8('\n');
    const __m128i vcr = _mm_set1_epi8('\r');
    for (; i + 16 <= n; i += 16) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i));
        const auto m = static_cast<unsigned>(
            _mm_movemask_epi8(_mm_or_si128(_mm_cmpeq_epi8(v, vlf), _mm_cmpeq_epi8(v, vcr))));
        if (m != 0) {
            return i + static_cast<std::size_t>(std::countr_zero(m));
        }
    }
#endif
    for (; i < n; ++i) {
        if (IsBreakByte(p[i])) {
            return i;
        }
    }
    return n;
}

}  // namespace korvalen
