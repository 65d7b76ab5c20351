#include "text/encoding.hpp"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <memory>

#include "text/cp932.hpp"

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define KORVALEN_X86 1
#endif

namespace korvalen {

namespace {

// The eight-byte fast paths read words in memory order.
static_assert(std::endian::native == std::endian::little);

constexpr std::uint64_t kHighBits = 0x8080808080808080ull;
constexpr std::uint16_t kGetaCode = 0x81AC;

// Code page 932 code of every BMP code point, the mark's for those without
// one; 16 bits wide so that the part Japanese text uses stays in cache.
const std::uint16_t* EncodeTable() {
    static const std::unique_ptr<std::uint16_t[]> table = [] {
        auto t = std::make_unique<std::uint16_t[]>(0x10000);
        for (char32_t cp = 0; cp < 0x10000; ++cp) {
            const std::int32_t code = Cp932CodeOf(cp);
            t[cp] = code < 0 ? kGetaCode : static_cast<std::uint16_t>(code);
        }
        return t;
    }();
    return table.get();
}

inline char* PutGeta(char* o) {
    o[0] = kGetaMark[0];
    o[1] = kGetaMark[1];
    return o + 2;
}

// Without a branch, so that runs of Japanese text go straight through: two
// bytes are always stored (the output has room), and the second one of a
// one-byte code is overwritten by what follows.
inline char* PutCode(const std::uint16_t* table, char32_t cp, char* o) {
    const std::uint16_t code = table[cp];
    const bool two = code > 0xFF;
    o[0] = static_cast<char>(two ? code >> 8 : code);
    o[1] = static_cast<char>(code & 0xFF);
    return o + (two ? 2 : 1);
}

inline bool IsCont(unsigned char b) {
    return (b & 0xC0) == 0x80;
}

inline std::uint64_t Load64(const unsigned char* p) {
    std::uint64_t w;
    std::memcpy(&w, p, 8);
    return w;
}

// Length of a valid sequence that starts at p[0], which is above 0x7F and
// has `avail` bytes from p on; 0 when invalid, -1 when cut off by the end.
int SequenceLength(const unsigned char* p, std::size_t avail) noexcept {
    const unsigned char b0 = p[0];
    int len;
    unsigned char lo = 0x80, hi = 0xBF;  // range of the second byte
    if (b0 >= 0xC2 && b0 <= 0xDF) {
        len = 2;
    } else if (b0 >= 0xE0 && b0 <= 0xEF) {
        len = 3;
        if (b0 == 0xE0) {
            lo = 0xA0;  // overlong below
        } else if (b0 == 0xED) {
            hi = 0x9F;  // surrogates above
        }
    } else if (b0 >= 0xF0 && b0 <= 0xF4) {
        len = 4;
        if (b0 == 0xF0) {
            lo = 0x90;
        } else if (b0 == 0xF4) {
            hi = 0x8F;  // beyond U+10FFFF
        }
    } else {
        return 0;
    }
    if (avail < 2) {
        return -1;
    }
    if (p[1] < lo || p[1] > hi) {
        return 0;
    }
    for (int k = 2; k < len; ++k) {
        if (static_cast<std::size_t>(k) >= avail) {
            return -1;
        }
        if (!IsCont(p[k])) {
            return 0;
        }
    }
    return len;
}

#ifdef KORVALEN_X86
bool HaveAvx2() {
    static const bool have = __builtin_cpu_supports("avx2");
    return have;
}

// A 16-byte lookup table in both lanes.
__attribute__((target("avx2"))) inline __m256i Table16(const std::array<std::uint8_t, 16>& t) {
    return _mm256_broadcastsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(t.data())));
}

// Whole 32-byte blocks checked at once by nibble lookups (the method of
// Keiser and Lemire, "Validating UTF-8 in less than one instruction per
// byte"). Returns where the blocks that passed end; the caller goes on from
// the sequence boundary at or before that point. `p` starts at a boundary.
// With kCount, the Cp932Weight of the bytes of those blocks is added to
// `length`.
template <bool kCount>
__attribute__((target("avx2,popcnt"))) std::size_t ValidBlocksAvx2(const unsigned char* p,
                                                                   std::size_t n, bool& non_ascii,
                                                                   std::size_t* length) {
    constexpr std::uint8_t kShort = 1 << 0, kLong = 1 << 1, kOver3 = 1 << 2, kLarge = 1 << 3,
                           kSurr = 1 << 4, kOver2 = 1 << 5, kLarge1000 = 1 << 6, kOver4 = 1 << 6,
                           kTwoConts = 1 << 7;
    constexpr std::uint8_t kCarry = kShort | kLong | kTwoConts;
    const __m256i byte1High =
        Table16({kLong, kLong, kLong, kLong, kLong, kLong, kLong, kLong, kTwoConts, kTwoConts,
                 kTwoConts, kTwoConts, kShort | kOver2, kShort, kShort | kOver3 | kSurr,
                 kShort | kLarge | kLarge1000 | kOver4});
    constexpr std::uint8_t kBig = kCarry | kLarge | kLarge1000;
    const __m256i byte1Low = Table16({kCarry | kOver3 | kOver2 | kOver4, kCarry | kOver2, kCarry,
                                      kCarry, kCarry | kLarge, kBig, kBig, kBig, kBig, kBig, kBig,
                                      kBig, kBig, kBig | kSurr, kBig, kBig});
    constexpr std::uint8_t kCont80 = kLong | kOver2 | kTwoConts | kOver3 | kLarge1000 | kOver4;
    constexpr std::uint8_t kCont90 = kLong | kOver2 | kTwoConts | kOver3 | kLarge;
    constexpr std::uint8_t kContA0 = kLong | kOver2 | kTwoConts | kSurr | kLarge;
    const __m256i byte2High =
        Table16({kShort, kShort, kShort, kShort, kShort, kShort, kShort, kShort, kCont80, kCont90,
                 kContA0, kContA0, kShort, kShort, kShort, kShort});
    const __m256i nibble = _mm256_set1_epi8(0x0F);
    __m256i prev = _mm256_setzero_si256();
    __m256i seen = _mm256_setzero_si256();
    std::int64_t count = 0;  // the weights
    std::size_t i = 0;
    for (; i + 32 <= n; i += 32) {
        const __m256i in = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + i));
        seen = _mm256_or_si256(seen, in);
        const __m256i joined = _mm256_permute2x128_si256(prev, in, 0x21);
        const __m256i prev1 = _mm256_alignr_epi8(in, joined, 15);
        const __m256i prev2 = _mm256_alignr_epi8(in, joined, 14);
        const __m256i prev3 = _mm256_alignr_epi8(in, joined, 13);
        const __m256i special = _mm256_and_si256(
            _mm256_and_si256(_mm256_shuffle_epi8(
                                 byte1High, _mm256_and_si256(_mm256_srli_epi16(prev1, 4), nibble)),
                             _mm256_shuffle_epi8(byte1Low, _mm256_and_si256(prev1, nibble))),
            _mm256_shuffle_epi8(byte2High, _mm256_and_si256(_mm256_srli_epi16(in, 4), nibble)));
        const __m256i third = _mm256_subs_epu8(prev2, _mm256_set1_epi8(0x60));
        const __m256i fourth = _mm256_subs_epu8(prev3, _mm256_set1_epi8(0x70));
        const __m256i must23 = _mm256_and_si256(_mm256_or_si256(third, fourth),
                                                _mm256_set1_epi8(static_cast<char>(0x80)));
        const __m256i error = _mm256_xor_si256(must23, special);
        if (!_mm256_testz_si256(error, error)) {
            break;
        }
        if constexpr (kCount) {
            // ASCII 1, a lead byte (0xC0 up: bits 7 and 6 set) 2.
            const auto high = static_cast<std::uint32_t>(_mm256_movemask_epi8(in));
            const auto lead = static_cast<std::uint32_t>(
                _mm256_movemask_epi8(_mm256_and_si256(in, _mm256_slli_epi16(in, 1))));
            count += 32 - std::popcount(high) + 2 * std::popcount(lead);
            // Less the last byte of EF BD A1-BF or EF BE 80-9F (valid: EF
            // is a lead there).
            const __m256i ef = _mm256_cmpeq_epi8(prev2, _mm256_set1_epi8(static_cast<char>(0xEF)));
            if (!_mm256_testz_si256(ef, ef)) {
                const __m256i bd = _mm256_and_si256(
                    _mm256_cmpeq_epi8(prev1, _mm256_set1_epi8(static_cast<char>(0xBD))),
                    _mm256_cmpeq_epi8(
                        _mm256_max_epu8(in, _mm256_set1_epi8(static_cast<char>(0xA1))), in));
                const __m256i be = _mm256_and_si256(
                    _mm256_cmpeq_epi8(prev1, _mm256_set1_epi8(static_cast<char>(0xBE))),
                    _mm256_cmpeq_epi8(
                        _mm256_min_epu8(in, _mm256_set1_epi8(static_cast<char>(0x9F))), in));
                count -= std::popcount(static_cast<std::uint32_t>(
                    _mm256_movemask_epi8(_mm256_and_si256(ef, _mm256_or_si256(bd, be)))));
            }
        }
        prev = in;
    }
    non_ascii = non_ascii || _mm256_movemask_epi8(seen) != 0;
    if constexpr (kCount) {
        *length += static_cast<std::size_t>(count);
    }
    return i;
}
#endif

// What the byte at p[j] adds to the length of valid UTF-8 text converted to
// code page 932: ASCII 1, a lead byte 2, the last byte of a half-width
// katakana (U+FF61 to U+FF9F, one byte in code page 932) -1.
inline std::ptrdiff_t Cp932Weight(const unsigned char* p, std::size_t j) noexcept {
    const unsigned char b = p[j];
    if (b < 0x80) {
        return 1;
    }
    if (b >= 0xC0) {
        return 2;
    }
    const bool half_width = j >= 2 && p[j - 2] == 0xEF &&
                            ((p[j - 1] == 0xBD && b >= 0xA1) || (p[j - 1] == 0xBE && b <= 0x9F));
    return half_width ? -1 : 0;
}

// Bytes of p[0..n) that form complete valid sequences, stopping at an invalid
// one (`invalid` set) or at one cut off by the end. With `length`, the
// Cp932Weight of every byte of p[0..n) is added to it.
std::size_t ValidPrefix(const unsigned char* p, std::size_t n, bool& invalid, bool& non_ascii,
                        std::size_t* length = nullptr) noexcept {
    std::size_t i = 0;
    std::size_t weighed = 0;  // bytes whose weight is in *length
#ifdef KORVALEN_X86
    if (n >= 64 && HaveAvx2()) {
        if (length != nullptr) {
            i = ValidBlocksAvx2<true>(p, n, non_ascii, length);
            weighed = i;
        } else {
            i = ValidBlocksAvx2<false>(p, n, non_ascii, nullptr);
        }
        // Back to the start of a sequence that the last block cut.
        for (std::size_t k = 1; k <= 3 && k <= i; ++k) {
            const unsigned char b = p[i - k];
            if (b < 0x80) {
                break;
            }
            if (b >= 0xC0) {
                const std::size_t len = b >= 0xF0 ? 4 : b >= 0xE0 ? 3 : 2;
                if (k < len) {
                    i -= k;
                }
                break;
            }
        }
    }
#endif
    while (i < n) {
        if (i + 8 <= n && (Load64(p + i) & kHighBits) == 0) {
            i += 8;
            continue;
        }
        if (p[i] < 0x80) {
            ++i;
            continue;
        }
        non_ascii = true;
        // Japanese text is mostly three-byte sequences: take them straight.
        if (p[i] >= 0xE1 && p[i] <= 0xEF && p[i] != 0xED && i + 2 < n && IsCont(p[i + 1]) &&
            IsCont(p[i + 2])) {
            i += 3;
            continue;
        }
        const int len = SequenceLength(p + i, n - i);
        if (len < 0) {
            break;
        }
        if (len == 0) {
            invalid = true;
            break;
        }
        i += static_cast<std::size_t>(len);
    }
    if (length != nullptr) {
        std::ptrdiff_t rest = 0;
        for (std::size_t j = weighed; j < n; ++j) {
            rest += Cp932Weight(p, j);
        }
        *length += static_cast<std::size_t>(rest);
    }
    return i;
}

}  // namespace

bool Utf8Validator::Feed(std::string_view bytes) noexcept {
    if (!valid_) {
        return false;
    }
    auto p = reinterpret_cast<const unsigned char*>(bytes.data());
    std::size_t n = bytes.size();
    // Finish the sequence the last feed left open, a byte at a time.
    while (pending_ > 0 && n > 0) {
        part_[pending_++] = *p++;
        --n;
        const int len = SequenceLength(part_, pending_);
        if (len == 0) {
            valid_ = false;
            return false;
        }
        if (len > 0) {
            pending_ = 0;
        }
    }
    if (pending_ > 0) {
        return true;  // the piece ended inside the sequence
    }
    bool invalid = false;
    const std::size_t done = ValidPrefix(p, n, invalid, non_ascii_);
    if (invalid) {
        valid_ = false;
        return false;
    }
    pending_ = n - done;  // at most three bytes
    std::memcpy(part_, p + done, pending_);
    return true;
}

bool IsValidUtf8(std::string_view bytes) noexcept {
    Utf8Validator v;
    v.Feed(bytes);
    return v.Finish();
}

Utf8Summary SummarizeUtf8(std::string_view bytes) noexcept {
    Utf8Summary s;
    bool invalid = false;
    const std::size_t done = ValidPrefix(reinterpret_cast<const unsigned char*>(bytes.data()),
                                         bytes.size(), invalid, s.non_ascii, &s.cp932_length);
    s.valid = !invalid && done == bytes.size();
    return s;
}

bool EncodingDetector::Feed(std::string_view bytes) noexcept {
    if (decided_) {
        return true;
    }
    for (std::size_t k = 0; head_len_ < 3 && k < bytes.size(); ++k) {
        head_[head_len_++] = static_cast<unsigned char>(bytes[k]);
    }
    auto decide = [&](TextEncoding e) {
        decided_ = true;
        decision_ = e;
        return true;
    };
    if (head_len_ >= 2 && head_[0] == 0xFF && head_[1] == 0xFE) {
        return decide(TextEncoding::Utf16Le);
    }
    if (head_len_ >= 2 && head_[0] == 0xFE && head_[1] == 0xFF) {
        return decide(TextEncoding::Utf16Be);
    }
    if (head_len_ == 3 && head_[0] == 0xEF && head_[1] == 0xBB && head_[2] == 0xBF) {
        return decide(TextEncoding::Utf8);
    }
    // Past a byte that is not UTF-8 only a mark could still say otherwise,
    // and a mark needs at most three bytes.
    if (!utf8_.Feed(bytes) && head_len_ == 3) {
        return decide(TextEncoding::Cp932);
    }
    return false;
}

TextEncoding EncodingDetector::Finish() const noexcept {
    if (decided_) {
        return decision_;
    }
    return utf8_.Finish() && utf8_.SawNonAscii() ? TextEncoding::Utf8 : TextEncoding::Cp932;
}

TextEncoding DetectEncoding(std::string_view whole) noexcept {
    EncodingDetector d;
    d.Feed(whole);
    return d.Finish();
}

Sniffed SniffEncoding(ByteSource& source, std::size_t keep, const std::function<bool()>& between,
                      bool stop_at_keep) {
    Sniffed s;
    EncodingDetector detector;
    std::string buf(std::size_t{1} << 16, '\0');
    for (;;) {
        std::size_t want = buf.size();
        if (stop_at_keep) {
            want = std::min(want, keep - s.head.size());
            if (want == 0) {
                // Still open means no invalid byte so far.
                s.settled = false;
                s.encoding = TextEncoding::Utf8;
                return s;
            }
        }
        const std::size_t got = source.Read(buf.data(), want);
        if (got == 0) {
            break;
        }
        const std::string_view piece(buf.data(), got);
        if (s.replayable) {
            if (s.head.size() + got <= keep) {
                s.head.append(piece);
            } else {
                s.replayable = false;
                std::string().swap(s.head);
            }
        }
        if (detector.Feed(piece) || (between && !between())) {
            break;
        }
    }
    s.encoding = detector.Finish();
    return s;
}

std::size_t ReplaySource::Read(char* buf, std::size_t n) {
    if (at_ < head_.size()) {
        const std::size_t got = std::min(n, head_.size() - at_);
        std::memcpy(buf, head_.data() + at_, got);
        at_ += got;
        if (at_ == head_.size()) {
            std::string().swap(head_);
            at_ = 0;
        }
        return got;
    }
    return rest_.Read(buf, n);
}

std::size_t ReplaySource::ReadAt(char* buf, std::size_t n, std::uint64_t ahead) {
    const std::size_t left = head_.size() - at_;
    if (ahead < left) {
        const std::size_t got = std::min(n, left - static_cast<std::size_t>(ahead));
        std::memcpy(buf, head_.data() + at_ + ahead, got);
        return got;
    }
    return rest_.ReadAt(buf, n, ahead - left);
}

void ReplaySource::Passed(std::size_t n) {
    const std::size_t from_head = std::min(n, head_.size() - at_);
    at_ += from_head;
    rest_.Passed(n - from_head);
}

namespace {

// Copies the run of ASCII at p[i] on to `o`, sixteen bytes at a time (eight
// without SSE2); true when a whole stride was ASCII and there may be more.
// Bytes stored past the run's end are overwritten by what follows.
inline bool CopyAscii(const unsigned char* p, std::size_t& i, std::size_t n, char*& o) noexcept {
#ifdef KORVALEN_X86
    if (i + 16 <= n) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(o), v);
        const unsigned mask = static_cast<unsigned>(_mm_movemask_epi8(v));
        const std::size_t run = mask == 0 ? 16 : static_cast<std::size_t>(__builtin_ctz(mask));
        i += run;
        o += run;
        return mask == 0;
    }
#else
    if (i + 8 <= n) {
        const std::uint64_t w = Load64(p + i);
        if ((w & kHighBits) == 0) {
            std::memcpy(o, &w, 8);
            o += 8;
            i += 8;
            return true;
        }
    }
#endif
    return false;
}

}  // namespace

std::size_t ConvertValidUtf8(std::string_view in, char* out) noexcept {
    const std::uint16_t* table = EncodeTable();
    const auto* p = reinterpret_cast<const unsigned char*>(in.data());
    const std::size_t n = in.size();
    char* o = out;
    std::size_t i = 0;
    while (i < n) {
        if (CopyAscii(p, i, n, o)) {
            continue;
        }
        if (p[i] < 0x80) {
            *o++ = static_cast<char>(p[i]);
            ++i;
            continue;
        }
        // Valid: the lead byte tells the length, and nothing needs checking.
        while (i < n && (p[i] & 0xF0) == 0xE0) {
            const char32_t cp = (p[i] & 0x0Fu) << 12 | (p[i + 1] & 0x3Fu) << 6 | (p[i + 2] & 0x3Fu);
            o = PutCode(table, cp, o);
            i += 3;
        }
        if (i >= n || p[i] < 0x80) {
            continue;
        }
        if (p[i] >= 0xF0) {
            o = PutGeta(o);  // beyond the BMP: no code page 932 form
            i += 4;
            continue;
        }
        // Two bytes (three were taken above).
        o = PutCode(table, (p[i] & 0x1Fu) << 6 | (p[i + 1] & 0x3Fu), o);
        i += 2;
    }
    return static_cast<std::size_t>(o - out);
}

std::size_t Cp932Converter::ConvertUtf8(const unsigned char* p, std::size_t n, bool last,
                                        char* out) {
    const std::uint16_t* table = EncodeTable();
    char* o = out;
    std::size_t i = 0;
    while (i < n) {
        if (CopyAscii(p, i, n, o)) {
            continue;
        }
        if (p[i] < 0x80) {
            *o++ = static_cast<char>(p[i]);
            ++i;
            continue;
        }
        // Most Japanese characters take three bytes: a run of them goes
        // through here with no other test.
        while (i + 3 <= n && (p[i] & 0xF0) == 0xE0) {
            const unsigned char b1 = p[i + 1], b2 = p[i + 2];
            const char32_t cp = (p[i] & 0x0Fu) << 12 | (b1 & 0x3Fu) << 6 | (b2 & 0x3Fu);
            if (!(IsCont(b1) && IsCont(b2) && cp >= 0x800 && (cp & 0xF800) != 0xD800)) {
                break;
            }
            o = PutCode(table, cp, o);
            i += 3;
        }
        if (i >= n || p[i] < 0x80) {
            continue;
        }
        const unsigned char b0 = p[i];
        // Each invalid byte becomes one mark and the next byte is looked at
        // afresh, so a CR or LF is never swallowed.
        int len;
        char32_t cp;
        if ((b0 & 0xF0) == 0xE0) {
            len = 3, cp = b0 & 0x0Fu;
        } else if ((b0 & 0xE0) == 0xC0) {
            len = 2, cp = b0 & 0x1Fu;
        } else if ((b0 & 0xF8) == 0xF0) {
            len = 4, cp = b0 & 0x07u;
        } else {
            o = PutGeta(o);
            ++i;
            continue;
        }
        if (i + static_cast<std::size_t>(len) > n) {
            if (!last) {
                break;  // the rest comes with the next piece
            }
            o = PutGeta(o);
            ++i;
            continue;
        }
        bool ok = true;
        for (int k = 1; k < len; ++k) {
            const unsigned char b = p[i + static_cast<std::size_t>(k)];
            ok = ok && IsCont(b);
            cp = (cp << 6) | (b & 0x3Fu);
        }
        static constexpr char32_t kMin[5] = {0, 0, 0x80, 0x800, 0x10000};
        if (!ok || cp < kMin[len] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
            o = PutGeta(o);
            ++i;
            continue;
        }
        o = cp < 0x10000 ? PutCode(table, cp, o) : PutGeta(o);
        i += static_cast<std::size_t>(len);
    }
    carry_len_ = n - i;
    std::memcpy(carry_, p + i, carry_len_);
    return static_cast<std::size_t>(o - out);
}

std::size_t Cp932Converter::ConvertUtf16(const unsigned char* p, std::size_t n, bool last,
                                         char* out) {
    const std::uint16_t* table = EncodeTable();
    const bool le = encoding_ == TextEncoding::Utf16Le;
    // Units that are ASCII: their high bytes and bit 7 of their low bytes clear.
    const std::uint64_t mask = le ? 0xFF80FF80FF80FF80ull : 0x80FF80FF80FF80FFull;
    auto unit = [&](std::size_t at) -> char32_t {
        return le ? (p[at] | (p[at + 1] << 8)) : ((p[at] << 8) | p[at + 1]);
    };
    char* o = out;
    std::size_t i = 0;
    while (i + 2 <= n) {
        if (i + 8 <= n && (Load64(p + i) & mask) == 0) {
            const std::size_t lo = le ? 0 : 1;
            o[0] = static_cast<char>(p[i + lo]);
            o[1] = static_cast<char>(p[i + 2 + lo]);
            o[2] = static_cast<char>(p[i + 4 + lo]);
            o[3] = static_cast<char>(p[i + 6 + lo]);
            o += 4;
            i += 8;
            continue;
        }
        const char32_t u = unit(i);
        if (u < 0xD800 || u > 0xDFFF) {
            o = PutCode(table, u, o);
            i += 2;
            continue;
        }
        if (u <= 0xDBFF) {
            if (i + 4 > n && !last) {
                break;  // its partner comes with the next piece
            }
            if (i + 4 <= n) {
                const char32_t u2 = unit(i + 2);
                if (u2 >= 0xDC00 && u2 <= 0xDFFF) {
                    o = PutGeta(o);  // beyond the BMP: no code page 932 form
                    i += 4;
                    continue;
                }
            }
        }
        o = PutGeta(o);  // a surrogate on its own
        i += 2;
    }
    if (last && i < n) {  // an odd byte at the very end
        o = PutGeta(o);
        i = n;
    }
    carry_len_ = n - i;
    std::memcpy(carry_, p + i, carry_len_);
    return static_cast<std::size_t>(o - out);
}

std::size_t Cp932Converter::Convert(std::string_view in, bool last, char* out) {
    if (encoding_ == TextEncoding::Cp932) {
        std::memcpy(out, in.data(), in.size());
        return in.size();
    }
    auto p = reinterpret_cast<const unsigned char*>(in.data());
    std::size_t n = in.size();
    auto take = [&](std::size_t upTo) {
        while (carry_len_ < upTo && n > 0) {
            carry_[carry_len_++] = *p++;
            --n;
        }
    };
    if (at_start_) {
        const bool utf8 = encoding_ == TextEncoding::Utf8;
        const std::size_t markLen = utf8 ? 3 : 2;
        take(markLen);
        if (carry_len_ < markLen && !last) {
            return 0;
        }
        at_start_ = false;
        const char* mark = utf8                                 ? "\xEF\xBB\xBF"
                           : encoding_ == TextEncoding::Utf16Le ? "\xFF\xFE"
                                                                : "\xFE\xFF";
        if (carry_len_ == markLen && std::memcmp(carry_, mark, markLen) == 0) {
            carry_len_ = 0;
        }
    }
    auto run = [&](const unsigned char* q, std::size_t m, bool end, char* o) {
        return encoding_ == TextEncoding::Utf8 ? ConvertUtf8(q, m, end, o)
                                               : ConvertUtf16(q, m, end, o);
    };
    std::size_t written = 0;
    if (carry_len_ > 0) {
        // The carried bytes and enough of the new piece to finish them.
        unsigned char joined[16];
        const std::size_t had = carry_len_;
        std::memcpy(joined, carry_, had);
        const std::size_t extra = std::min<std::size_t>(n, 8);
        std::memcpy(joined + had, p, extra);
        written = run(joined, had + extra, last && extra == n, out);
        const std::size_t used = had + extra - carry_len_;
        if (used < had) {
            return written;  // still unfinished: all of the piece is carried
        }
        p += used - had;
        n -= used - had;
        carry_len_ = 0;
    }
    return written + run(p, n, last, out + written);
}

void Cp932Converter::Append(std::string_view in, bool last, std::string& out) {
    constexpr std::size_t kPiece = std::size_t{1} << 16;
    do {
        const std::string_view piece = in.substr(0, kPiece);
        in.remove_prefix(piece.size());
        const std::size_t size = out.size();
        out.resize(size + MaxOutput(piece.size()));
        out.resize(size + Convert(piece, last && in.empty(), out.data() + size));
    } while (!in.empty());
}

std::string ToCp932(std::string_view whole, TextEncoding encoding) {
    if (encoding == TextEncoding::Cp932) {
        return std::string(whole);
    }
    std::string out;
    out.reserve(whole.size() + whole.size() / 8 + 16);
    Cp932Converter(encoding).Append(whole, /*last=*/true, out);
    return out;
}

std::size_t Cp932Source::Read(char* buf, std::size_t n) {
    for (;;) {
        if (spill_at_ < spill_.size()) {
            const std::size_t got = std::min(n, spill_.size() - spill_at_);
            std::memcpy(buf, spill_.data() + spill_at_, got);
            spill_at_ += got;
            return got;
        }
        if (eof_ || n == 0) {
            return 0;
        }
        // Straight into the caller's buffer when it has room for the worst
        // case; a small buffer is served through the spill.
        const bool direct = n >= Cp932Converter::MaxOutput(64);
        const std::size_t want = direct ? (n - 16) / 2 : 64;
        piece_.resize(want);
        const std::size_t got = in_.Read(piece_.data(), want);
        eof_ = got == 0;
        const std::string_view piece(piece_.data(), got);
        if (direct) {
            const std::size_t written = conv_.Convert(piece, eof_, buf);
            if (written > 0 || eof_) {
                return written;
            }
            continue;
        }
        spill_.resize(Cp932Converter::MaxOutput(want));
        spill_.resize(conv_.Convert(piece, eof_, spill_.data()));
        spill_at_ = 0;
    }
}

}  // namespace korvalen
