#include "search/fast_scan.hpp"

#include <algorithm>
#include <bit>
#include <cstring>
#include <utility>

#include "text/sjis.hpp"

#ifdef __SSE2__
#include <emmintrin.h>
#endif

namespace korvalen {

namespace {

bool IsBreakByte(char c) noexcept {
    return c == '\n' || c == '\r';
}

std::size_t BreakLength(const char* b, std::size_t at, std::size_t n) noexcept {
    if (at >= n) {
        return 0;
    }
    return (b[at] == '\r' && at + 1 < n && b[at + 1] == '\n') ? 2 : 1;
}

std::uint16_t PairOf(unsigned char a, unsigned char b) noexcept {
    return static_cast<std::uint16_t>((a << 8) | b);
}

// Whether a character starts at `pos` of `line`, as a walk from the line's
// start would find. The byte after one that is not a lead byte always starts
// a character (a lead byte takes the next byte, whatever it is), so only the
// run of lead bytes just before `pos` matters: an even run ends on a boundary.
// A long run is walked from `cursor`, a boundary at or before `pos` that
// only moves forward, so that a line of lead bytes costs one walk.
bool OnBoundary(std::string_view line, std::size_t pos, std::size_t& cursor) noexcept {
    constexpr std::size_t kLongRun = 64;
    std::size_t run = 0;
    while (run < pos && IsLeadByte(line[pos - run - 1])) {
        if (++run == kLongRun) {
            if (cursor > pos) {
                cursor = 0;
            }
            while (cursor < pos) {
                cursor += IsLeadByte(line[cursor]) ? 2 : 1;
            }
            return cursor == pos;
        }
    }
    return run % 2 == 0;
}

// The line breaks of a block in order, found 64 bytes at a time.
class BreakFinder {
  public:
    BreakFinder(const char* p, std::size_t n) : p_(p), n_(n) {}

    // The first CR or LF at or after `from`, or the block's end.
    std::size_t Next(std::size_t from) {
        while (from < n_) {
            const std::size_t window = from & ~std::size_t{63};
            if (window != base_ || !loaded_) {
                Load(window);
            }
            const std::uint64_t m = mask_ & (~std::uint64_t{0} << (from - base_));
            if (m != 0) {
                return base_ + static_cast<std::size_t>(std::countr_zero(m));
            }
            from = base_ + 64;
        }
        return n_;
    }

  private:
    void Load(std::size_t window) {
        base_ = window;
        loaded_ = true;
        mask_ = 0;
#ifdef __SSE2__
        if (window + 64 <= n_) {
            const __m128i vlf = _mm_set1_epi8('\n');
            const __m128i vcr = _mm_set1_epi8('\r');
            for (int k = 0; k < 4; ++k) {
                const __m128i v =
                    _mm_loadu_si128(reinterpret_cast<const __m128i*>(p_ + window + 16 * k));
                const auto m = static_cast<std::uint32_t>(_mm_movemask_epi8(
                    _mm_or_si128(_mm_cmpeq_epi8(v, vlf), _mm_cmpeq_epi8(v, vcr))));
                mask_ |= static_cast<std::uint64_t>(m) << (16 * k);
            }
            return;
        }
#endif
        for (std::size_t i = window; i < n_ && i < window + 64; ++i) {
            if (IsBreakByte(p_[i])) {
                mask_ |= std::uint64_t{1} << (i - window);
            }
        }
    }

    const char* p_;
    std::size_t n_;
    std::size_t base_ = 0;
    bool loaded_ = false;
    std::uint64_t mask_ = 0;
};

}  // namespace

BreakCount CountBreaks(const char* p, std::size_t n) noexcept {
    std::size_t lf = 0;
    std::size_t cr = 0;
    std::size_t crlf = 0;
    std::size_t i = 0;
#ifdef __SSE2__
    // Byte counters, summed before they can overflow.
    const __m128i vlf = _mm_set1_epi8('\n');
    const __m128i vcr = _mm_set1_epi8('\r');
    const __m128i zero = _mm_setzero_si128();
    auto sum = [&](__m128i acc) {
        const __m128i s = _mm_sad_epu8(acc, zero);
        return static_cast<std::size_t>(_mm_cvtsi128_si32(s)) +
               static_cast<std::size_t>(_mm_cvtsi128_si32(_mm_srli_si128(s, 8)));
    };
    while (i + 17 <= n) {
        __m128i alf = zero;
        __m128i acr = zero;
        __m128i apair = zero;
        for (int k = 0; k < 255 && i + 17 <= n; ++k, i += 16) {
            const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i));
            const __m128i w = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i + 1));
            const __m128i is_cr = _mm_cmpeq_epi8(v, vcr);
            alf = _mm_sub_epi8(alf, _mm_cmpeq_epi8(v, vlf));
            acr = _mm_sub_epi8(acr, is_cr);
            apair = _mm_sub_epi8(apair, _mm_and_si128(is_cr, _mm_cmpeq_epi8(w, vlf)));
        }
        lf += sum(alf);
        cr += sum(acr);
        crlf += sum(apair);
    }
#endif
    for (; i < n; ++i) {
        const char c = p[i];
        if (c == '\n') {
            ++lf;
        } else if (c == '\r') {
            ++cr;
            crlf += (i + 1 < n && p[i + 1] == '\n') ? 1 : 0;
        }
    }
    return {lf + cr - crlf, lf + cr};
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

void FastScanner::SetWords(std::vector<std::string> words) {
    words_ = std::move(words);
    matcher_ = std::make_unique<Matcher>(words_, engine_);
    pair_bits_.assign(65536 / 64, 0);
    pair_words_.clear();
    space_words_.clear();
    for (std::size_t i = 0; i < words_.size(); ++i) {
        const std::string& w = words_[i];
        const auto id = static_cast<std::uint32_t>(i);
        if (w == " ") {
            space_words_.push_back(id);
        }
        for (std::size_t k = 0; k + 1 < w.size(); ++k) {
            const std::uint16_t pair =
                PairOf(static_cast<unsigned char>(w[k]), static_cast<unsigned char>(w[k + 1]));
            pair_bits_[pair >> 6] |= std::uint64_t{1} << (pair & 63);
            pair_words_.emplace_back(pair, id);
        }
    }
    std::sort(pair_words_.begin(), pair_words_.end());
    pair_words_.erase(std::unique(pair_words_.begin(), pair_words_.end()), pair_words_.end());
    prev_words_known_ = false;
}

void FastScanner::Reset() noexcept {
    lines_ = 0;
    prev_ = {};
    prev_words_.clear();
    prev_words_known_ = true;
}

void FastScanner::ScanBuffer(std::string_view data, Host& host) {
    const char* b = data.data();
    const std::size_t n = data.size();
    std::size_t pos = 0;
    while (pos < n) {
        std::size_t end = n;
        if (n - pos > block_) {
            const std::size_t br = FindBreakByte(b, pos + block_, n);
            end = br + BreakLength(b, br, n);
        }
        const std::int64_t progress = ScanBlock(data.substr(pos, end - pos), host);
        pos = end;
        if (!host.AfterBlock(progress)) {
            return;
        }
    }
}

void FastScanner::ScanSource(ByteSource& source, Host& host) {
    const std::size_t chunk = block_;
    std::string buf(2 * chunk, '\0');
    std::size_t have = 0;     // bytes in buf
    std::size_t checked = 0;  // buf[0, checked) holds no decided break
    bool eof = false;
    // The end of the last line whose break is decided: a CR that ends what
    // was read may be half of a CR LF.
    auto decided_cut = [&]() -> std::size_t {
        if (eof) {
            return have;
        }
        std::size_t i = have;
        while (i > checked) {
            const char c = buf[i - 1];
            if (c == '\n' || (c == '\r' && i < have)) {
                return i;
            }
            --i;
        }
        return 0;
    };
    for (;;) {
        try {
            while (!eof && have < chunk) {
                if (buf.size() < have + chunk) {
                    buf.resize(std::max(buf.size() * 2, have + chunk));
                }
                const std::size_t got = source.Read(buf.data() + have, chunk);
                eof = got == 0;
                have += got;
            }
        } catch (...) {
            // The lines read whole before the failure are searched first.
            const std::size_t cut = decided_cut();
            if (cut > 0) {
                const std::int64_t progress = ScanBlock(std::string_view(buf.data(), cut), host);
                if (!host.AfterBlock(progress)) {
                    return;
                }
            }
            throw;
        }
        const std::size_t cut = decided_cut();
        if (cut == 0) {
            if (eof) {
                return;  // nothing left
            }
            // A line longer than what is held: read on.
            checked = have > 0 ? have - 1 : 0;
            if (buf.size() < have + chunk) {
                buf.resize(std::max(buf.size() * 2, have + chunk));
            }
            const std::size_t got = source.Read(buf.data() + have, chunk);
            eof = got == 0;
            have += got;
            continue;
        }
        const std::int64_t progress = ScanBlock(std::string_view(buf.data(), cut), host);
        std::memmove(buf.data(), buf.data() + cut, have - cut);
        have -= cut;
        checked = 0;
        if (!host.AfterBlock(progress)) {
            return;
        }
        if (eof && have == 0) {
            return;
        }
    }
}

std::int64_t FastScanner::ScanBlock(std::string_view block, Host& host) {
    matches_.clear();
    if (matcher_) {
        matcher_->FindAll(block, matches_);
    }
    const std::int64_t progress =
        config_.cr_text ? ScanJoined(block, host) : ScanPlain(block, host);
    if (!prev_.empty() && prev_.data() != prev_store_.data()) {
        prev_store_.assign(prev_);  // the block's buffer is reused
        prev_ = prev_store_;
    }
    return progress;
}

std::uint32_t FastScanner::FirstDirect(std::string_view line, std::size_t line_begin,
                                       std::size_t first, std::size_t last) {
    std::uint32_t best = kNone;
    if (!config_.japanese_word) {
        for (std::size_t k = first; k < last; ++k) {
            best = std::min(best, matches_[k].word);
        }
        return best;
    }
    std::size_t cursor = 0;
    for (std::size_t k = first; k < last; ++k) {
        const Matcher::Match& m = matches_[k];
        const std::size_t start = m.end - matcher_->Length(m.word) - line_begin;
        if (m.word < best && OnBoundary(line, start, cursor)) {
            best = m.word;
        }
    }
    return best;
}

std::int64_t FastScanner::ScanPlain(std::string_view block, Host& host) {
    const char* b = block.data();
    const std::size_t n = block.size();
    std::size_t pos = 0;
    std::size_t lines = 0;
    std::size_t break_bytes = 0;
    std::size_t mi = 0;
    const std::size_t mc = matches_.size();
    while (mi < mc) {
        // The line of the next occurrence; the lines before it hold none.
        const Matcher::Match& m = matches_[mi];
        std::size_t begin = m.end - matcher_->Length(m.word);
        while (begin > pos && !IsBreakByte(b[begin - 1])) {
            --begin;
        }
        const BreakCount skipped = CountBreaks(b + pos, begin - pos);
        lines += skipped.breaks;
        break_bytes += skipped.bytes;
        const std::size_t end = FindBreakByte(b, m.end, n);
        std::size_t mj = mi + 1;
        while (mj < mc && matches_[mj].end <= end) {
            ++mj;
        }
        const std::string_view line = block.substr(begin, end - begin);
        ++lines;
        const std::uint32_t word = FirstDirect(line, begin, mi, mj);
        if (word != kNone) {
            host.Hit(lines_ + static_cast<std::int64_t>(lines), word, line);
        }
        const std::size_t br = BreakLength(b, end, n);
        break_bytes += br;
        pos = end + br;
        mi = mj;
    }
    if (pos < n) {
        const BreakCount rest = CountBreaks(b + pos, n - pos);
        lines += rest.breaks;
        break_bytes += rest.bytes;
        if (!IsBreakByte(b[n - 1])) {
            ++lines;  // the input's last line, without a break
        }
    }
    lines_ += static_cast<std::int64_t>(lines);
    return static_cast<std::int64_t>(n - break_bytes) + 2 * static_cast<std::int64_t>(lines);
}

bool FastScanner::JunctionMayMatch(std::string_view line,
                                   std::vector<std::uint32_t>& candidates) const {
    std::string_view tail = prev_;
    const auto last = static_cast<unsigned char>(prev_.back());
    if (config_.trim_prev && (last == 0x20 || last == 0x09 || last == 0x40)) {
        tail = TrimRightBlanksView(prev_);
    }
    std::string_view head = line;
    const auto first = static_cast<unsigned char>(line.front());
    if (first == 0x20 || first == 0x09 || first == 0x81) {
        head = TrimLeftBlanksView(line);
    }
    if (tail.empty() || head.empty()) {
        return false;
    }
    const auto a = static_cast<unsigned char>(tail.back());
    const auto z = static_cast<unsigned char>(head.front());
    // A word across the join holds the two bytes that meet there.
    for (const std::uint16_t pair : {PairOf(a, z), PairOf(a, ' '), PairOf(' ', z)}) {
        if ((pair_bits_[pair >> 6] >> (pair & 63) & 1) == 0) {
            continue;
        }
        auto it = std::lower_bound(pair_words_.begin(), pair_words_.end(),
                                   std::pair<std::uint16_t, std::uint32_t>(pair, 0));
        for (; it != pair_words_.end() && it->first == pair; ++it) {
            candidates.push_back(it->second);
        }
    }
    candidates.insert(candidates.end(), space_words_.begin(), space_words_.end());
    return true;
}

void FastScanner::TestJoined(std::string_view line, std::size_t first, std::size_t last,
                             std::uint32_t& word, bool& wrapped) {
    // Only a word that occurs in the line, in the previous line or across
    // their join can hit; every other word fails all three tests.
    bool every_word = !prev_words_known_;
    candidates_.clear();
    if (!every_word) {
        for (std::size_t k = first; k < last; ++k) {
            candidates_.push_back(matches_[k].word);
        }
        candidates_.insert(candidates_.end(), prev_words_.begin(), prev_words_.end());
        every_word = !JunctionMayMatch(line, candidates_);
        if (!every_word) {
            if (candidates_.empty()) {
                return;
            }
            std::sort(candidates_.begin(), candidates_.end());
            candidates_.erase(std::unique(candidates_.begin(), candidates_.end()),
                              candidates_.end());
        }
    }
    const std::string_view tail = config_.trim_prev ? TrimRightBlanksView(prev_) : prev_;
    const std::string_view head = TrimLeftBlanksView(line);
    tight_.assign(tail).append(head);
    spaced_.assign(tail).append(1, ' ').append(head);
    const bool jw = config_.japanese_word;
    auto test = [&](std::uint32_t j) {
        const std::string& w = words_[j];
        if (w.empty()) {
            return 0;
        }
        if (line.find(w) != std::string_view::npos && (!jw || AlignedPos(w, line) != 0)) {
            return 1;
        }
        if (tight_.find(w) != std::string::npos) {
            return (!jw || AlignedPos(w, tight_) != 0) ? 2 : 0;
        }
        if (spaced_.find(w) != std::string::npos) {
            return (!jw || AlignedPos(w, spaced_) != 0) ? 2 : 0;
        }
        return 0;
    };
    auto check = [&](std::uint32_t j) {
        const int r = test(j);
        if (r != 0) {
            word = j;
            wrapped = r == 2;
            return true;
        }
        return false;
    };
    if (every_word) {
        for (std::uint32_t j = 0; j < words_.size(); ++j) {
            if (check(j)) {
                return;
            }
        }
    } else {
        for (const std::uint32_t j : candidates_) {
            if (check(j)) {
                return;
            }
        }
    }
}

std::int64_t FastScanner::ScanJoined(std::string_view block, Host& host) {
    const char* b = block.data();
    const std::size_t n = block.size();
    BreakFinder breaks(b, n);
    std::size_t pos = 0;
    std::size_t lines = 0;
    std::size_t break_bytes = 0;
    std::size_t mi = 0;
    const std::size_t mc = matches_.size();
    const bool quick = space_words_.empty();
    while (pos < n) {
        const std::size_t end = breaks.Next(pos);
        const std::size_t br = BreakLength(b, end, n);
        ++lines;
        break_bytes += br;
        std::size_t mj = mi;
        while (mj < mc && matches_[mj].end <= end) {
            ++mj;
        }
        const std::string_view line = block.substr(pos, end - pos);
        pos = end + br;
        if (line.empty()) {
            prev_ = {};
            continue;
        }
        if (mj == mi && !prev_.empty() && prev_words_.empty() && prev_words_known_ && quick) {
            // The common line: no word in it nor in the previous line; only a
            // word across the join could hit, and it would hold the bytes
            // that meet there.
            const auto a = static_cast<unsigned char>(prev_.back());
            const auto z = static_cast<unsigned char>(line.front());
            const bool blank_end = config_.trim_prev && (a == 0x20 || a == 0x09 || a == 0x40);
            const bool blank_start = z == 0x20 || z == 0x09 || z == 0x81;
            if (!blank_end && !blank_start && !PairBit(PairOf(a, z)) && !PairBit(PairOf(a, ' ')) &&
                !PairBit(PairOf(' ', z))) {
                prev_ = line;
                continue;
            }
        }
        const std::int64_t number = lines_ + static_cast<std::int64_t>(lines);
        std::uint32_t word = kNone;
        bool wrapped = false;
        if (prev_.empty()) {
            if (mj > mi) {
                word = FirstDirect(line, end - line.size(), mi, mj);
            }
        } else {
            TestJoined(line, mi, mj, word, wrapped);
        }
        if (word != kNone) {
            host.Hit(wrapped ? number - 1 : number, word, wrapped ? prev_ : line);
            prev_ = {};
        } else {
            prev_ = line;
            prev_words_.clear();
            for (std::size_t k = mi; k < mj; ++k) {
                prev_words_.push_back(matches_[k].word);
            }
            prev_words_known_ = true;
        }
        mi = mj;
    }
    lines_ += static_cast<std::int64_t>(lines);
    return static_cast<std::int64_t>(n - break_bytes) + 2 * static_cast<std::int64_t>(lines);
}

}  // namespace korvalen
