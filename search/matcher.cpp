#include "search/matcher.hpp"

#include <algorithm>
#include <bit>
#include <cstring>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define KORVALEN_X86 1
#endif

namespace korvalen {

namespace {

bool CanOccur(const std::string& w) {
    return !w.empty() && w.find_first_of("\r\n") == std::string::npos;
}

std::uint32_t QuadAt(const char* p) {
    std::uint32_t q;
    std::memcpy(&q, p, sizeof q);
    return q;
}

std::uint32_t QuadHash(std::uint32_t q) {
    return (q * 0x9E3779B1u) >> 16;
}

std::uint16_t PairAt(const char* p) {
    return static_cast<std::uint16_t>((static_cast<unsigned char>(p[0]) << 8) |
                                      static_cast<unsigned char>(p[1]));
}

// Above this many distinct first pairs the nibble masks pass nearly every
// position, and the plain loop is faster.
constexpr std::size_t kMaxVectorPairs = 24;

bool HaveAvx2() {
#ifdef KORVALEN_X86
    return __builtin_cpu_supports("avx2");
#else
    return false;
#endif
}

}  // namespace

Matcher::Matcher(const std::vector<std::string>& words, Engine engine)
    : words_(words), lengths_(words.size()) {
    for (std::size_t i = 0; i < words_.size(); ++i) {
        lengths_[i] = words_[i].size();
        if (!CanOccur(words_[i])) {
            continue;
        }
        const bool seen = std::any_of(ids_.begin(), ids_.end(),
                                      [&](std::uint32_t id) { return words_[id] == words_[i]; });
        if (!seen) {
            ids_.push_back(static_cast<std::uint32_t>(i));
        }
    }
    single_.resize(256);
    pair_bits_.assign(65536 / 64, 0);
    for (const std::uint32_t id : ids_) {
        const std::string& w = words_[id];
        if (w.size() == 1) {
            single_[static_cast<unsigned char>(w[0])].push_back(id);
            any_single_ = true;
        } else {
            const std::uint16_t pair = PairAt(w.data());
            pair_bits_[pair >> 6] |= std::uint64_t{1} << (pair & 63);
            if (w.size() < 4) {
                pair_words_.emplace_back(pair, id);
            } else {
                const std::uint32_t quad = QuadAt(w.data());
                const std::uint32_t h = QuadHash(quad);
                quad_bits_.resize(65536 / 64);
                quad_bits_[h >> 6] |= std::uint64_t{1} << (h & 63);
                quad_words_.emplace_back(quad, id);
            }
        }
    }
    std::sort(pair_words_.begin(), pair_words_.end());
    std::sort(quad_words_.begin(), quad_words_.end());

    // Buckets for the vector filter: each distinct first pair (or single
    // byte) gets one of eight, round robin.
    std::vector<std::uint16_t> pairs;
    for (const auto& [pair, id] : pair_words_) {
        pairs.push_back(pair);
    }
    for (const auto& [quad, id] : quad_words_) {
        pairs.push_back(PairAt(words_[id].data()));
    }
    std::sort(pairs.begin(), pairs.end());
    pairs.erase(std::unique(pairs.begin(), pairs.end()), pairs.end());
    std::size_t singles = 0;
    for (const auto& list : single_) {
        singles += list.empty() ? 0 : 1;
    }
    if (engine == Engine::Best && HaveAvx2() && !ids_.empty() &&
        pairs.size() + singles <= kMaxVectorPairs) {
        vector_ = true;
        unsigned bucket = 0;
        for (const std::uint16_t pair : pairs) {
            const auto bit = static_cast<std::uint8_t>(1u << (bucket++ % 8));
            const unsigned a = pair >> 8;
            const unsigned b = pair & 0xFF;
            lo0_[a & 15] |= bit;
            hi0_[a >> 4] |= bit;
            lo1_[b & 15] |= bit;
            hi1_[b >> 4] |= bit;
        }
        for (unsigned a = 0; a < 256; ++a) {
            if (single_[a].empty()) {
                continue;
            }
            const auto bit = static_cast<std::uint8_t>(1u << (bucket++ % 8));
            lo0_[a & 15] |= bit;
            hi0_[a >> 4] |= bit;
            for (unsigned k = 0; k < 16; ++k) {
                lo1_[k] |= bit;
                hi1_[k] |= bit;
            }
        }
    }
}

void Matcher::At(const char* p, std::size_t pos, std::size_t n, std::vector<Match>& out) const {
    if (any_single_) {
        for (const std::uint32_t id : single_[static_cast<unsigned char>(p[pos])]) {
            out.push_back({pos + 1, id});
        }
    }
    if (pos + 1 >= n) {
        return;
    }
    const std::uint16_t pair = PairAt(p + pos);
    if ((pair_bits_[pair >> 6] >> (pair & 63) & 1) == 0) {
        return;
    }
    if (!pair_words_.empty()) {
        auto it = std::lower_bound(pair_words_.begin(), pair_words_.end(),
                                   std::pair<std::uint16_t, std::uint32_t>(pair, 0));
        for (; it != pair_words_.end() && it->first == pair; ++it) {
            const std::size_t len = lengths_[it->second];
            if (len <= n - pos && std::memcmp(p + pos, words_[it->second].data(), len) == 0) {
                out.push_back({pos + len, it->second});
            }
        }
    }
    if (quad_words_.empty() || n - pos < 4) {
        return;
    }
    const std::uint32_t quad = QuadAt(p + pos);
    const std::uint32_t h = QuadHash(quad);
    if ((quad_bits_[h >> 6] >> (h & 63) & 1) == 0) {
        return;
    }
    auto it = std::lower_bound(quad_words_.begin(), quad_words_.end(),
                               std::pair<std::uint32_t, std::uint32_t>(quad, 0));
    for (; it != quad_words_.end() && it->first == quad; ++it) {
        const std::size_t len = lengths_[it->second];
        if (len <= n - pos &&
            std::memcmp(p + pos + 4, words_[it->second].data() + 4, len - 4) == 0) {
            out.push_back({pos + len, it->second});
        }
    }
}

void Matcher::FindScalar(const char* p, std::size_t n, std::vector<Match>& out) const {
    if (any_single_) {
        for (std::size_t i = 0; i < n; ++i) {
            At(p, i, n, out);
        }
        return;
    }
    const std::uint64_t* bits = pair_bits_.data();
    for (std::size_t i = 0; i + 1 < n; ++i) {
        const std::uint16_t pair = PairAt(p + i);
        if ((bits[pair >> 6] >> (pair & 63) & 1) != 0) {
            At(p, i, n, out);
        }
    }
}

#ifdef KORVALEN_X86
namespace {

__attribute__((target("avx2"))) inline __m256i Table(const std::array<std::uint8_t, 16>& t) {
    return _mm256_broadcastsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(t.data())));
}

// Bucket bits of each byte of `v` by its low and its high nibble.
__attribute__((target("avx2"))) inline __m256i Buckets(__m256i v, __m256i lo, __m256i hi) {
    const __m256i nib = _mm256_set1_epi8(0x0F);
    const __m256i l = _mm256_shuffle_epi8(lo, _mm256_and_si256(v, nib));
    const __m256i h = _mm256_shuffle_epi8(hi, _mm256_and_si256(_mm256_srli_epi16(v, 4), nib));
    return _mm256_and_si256(l, h);
}

}  // namespace

__attribute__((target("avx2"))) void Matcher::FindVector(const char* p, std::size_t n,
                                                         std::vector<Match>& out) const {
    const __m256i lo0 = Table(lo0_);
    const __m256i hi0 = Table(hi0_);
    const __m256i lo1 = Table(lo1_);
    const __m256i hi1 = Table(hi1_);
    const __m256i zero = _mm256_setzero_si256();
    std::size_t i = 0;
    for (; i + 33 <= n; i += 32) {
        const __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + i));
        const __m256i b = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + i + 1));
        const __m256i hit = _mm256_and_si256(Buckets(a, lo0, hi0), Buckets(b, lo1, hi1));
        auto m = ~static_cast<std::uint32_t>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(hit, zero)));
        while (m != 0) {
            At(p, i + static_cast<std::size_t>(std::countr_zero(m)), n, out);
            m &= m - 1;
        }
    }
    for (; i < n; ++i) {
        At(p, i, n, out);
    }
}
#else
void Matcher::FindVector(const char* p, std::size_t n, std::vector<Match>& out) const {
    FindScalar(p, n, out);
}
#endif

void Matcher::FindAll(std::string_view buf, std::vector<Match>& out) const {
    if (ids_.empty() || buf.empty()) {
        return;
    }
    const std::size_t first = out.size();
    if (vector_) {
        FindVector(buf.data(), buf.size(), out);
    } else {
        FindScalar(buf.data(), buf.size(), out);
    }
    // Found by start; the scanners want them by end.
    auto by_end = [](const Match& a, const Match& b) { return a.end < b.end; };
    const auto from = out.begin() + static_cast<std::ptrdiff_t>(first);
    if (!std::is_sorted(from, out.end(), by_end)) {
        std::stable_sort(from, out.end(), by_end);
    }
}

}  // namespace korvalen
