#include "match/matcher.hpp"

#include "match/bytes.hpp"
#include "text/sjis.hpp"

#include <algorithm>
#include <bit>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unordered_map>
#include <unordered_set>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define KORVALEN_X86 1
#endif

namespace korvalen {

namespace {

bool CanOccur(const std::string& w) {
    return !w.empty() && w.find_first_of("\r\n") == std::string::npos;
}

// Keys are the first bytes read little-endian, as the vector filter sees them.
std::uint32_t QuadAt(const char* p) {
    std::uint32_t q;
    std::memcpy(&q, p, sizeof q);
    if constexpr (std::endian::native == std::endian::big) {
        q = __builtin_bswap32(q);
    }
    return q;
}

// Bytes 4 to 7 of `p` (of `n` bytes, four or more) read as QuadAt reads,
// zeros past its end.
std::uint32_t NextAt(const char* p, std::size_t n) {
    if (n >= 8) {
        return QuadAt(p + 4);
    }
    std::uint32_t q = 0;
    for (std::size_t k = 4; k < n; ++k) {
        q |= std::uint32_t{static_cast<unsigned char>(p[k])} << (8 * (k - 4));
    }
    return q;
}

std::uint32_t PairAt(const char* p) {
    return static_cast<unsigned char>(p[0]) |
           static_cast<unsigned>(static_cast<unsigned char>(p[1])) << 8;
}

// Words are short: a call to memcmp costs more than the comparison.
bool SameBytes(const char* a, const char* b, std::size_t n) {
    for (; n >= 8; a += 8, b += 8, n -= 8) {
        std::uint64_t x, y;
        std::memcpy(&x, a, 8);
        std::memcpy(&y, b, 8);
        if (x != y) {
            return false;
        }
    }
    for (; n > 0; ++a, ++b, --n) {
        if (*a != *b) {
            return false;
        }
    }
    return true;
}

// The first eight bytes of a word (its bytes, zeros after a shorter one).
std::uint64_t HeadBytes(const char* p, std::size_t n) {
    std::uint64_t x = 0;
    if (n >= 8) {
        std::memcpy(&x, p, 8);
        return x;
    }
    for (std::size_t k = 0; k < n; ++k) {
        x |= std::uint64_t{static_cast<unsigned char>(p[k])} << (8 * k);
    }
    return x;
}

std::uint64_t Mix(std::uint64_t x) {
    x *= 0xFF51AFD7ED558CCDull;
    return x ^ (x >> 32);
}

// HashBytes of a word of fewer than eight bytes, given as HeadBytes gives it.
std::uint64_t HashHead(std::uint64_t head, std::size_t n) {
    return Mix((0x9E3779B97F4A7C15ull * (n + 1)) ^ head);
}

// Of a word's bytes, for the look-up of whole words.
std::uint64_t HashBytes(const char* p, std::size_t n) {
    auto mix = Mix;
    std::uint64_t h = 0x9E3779B97F4A7C15ull * (n + 1);
    for (; n >= 8; p += 8, n -= 8) {
        std::uint64_t x;
        std::memcpy(&x, p, 8);
        h = mix(h ^ x);
    }
    std::uint64_t x = 0;
    for (std::size_t k = 0; k < n; ++k) {
        x |= std::uint64_t{static_cast<unsigned char>(p[k])} << (8 * k);
    }
    return mix(h ^ x);
}

bool TestBit(const std::vector<std::uint64_t>& bits, std::uint32_t i) {
    return (bits[i >> 6] >> (i & 63) & 1) != 0;
}

void SetBit(std::vector<std::uint64_t>& bits, std::uint32_t i) {
    bits[i >> 6] |= std::uint64_t{1} << (i & 63);
}

// Above this many distinct heads (first pairs, single bytes) the nibble masks
// pass too many positions: the hashed filter is faster, and where it cannot
// be used (words of one byte) the plain loop is.
constexpr std::size_t kMaxNibbleHeads = 24;

// The vector filters hold the candidate masks of this many bytes before they
// look at the candidates: no call inside the vector loop.
constexpr std::size_t kStretch = 8192;

bool HaveAvx2() {
#ifdef KORVALEN_X86
    return __builtin_cpu_supports("avx2");
#else
    return false;
#endif
}

bool HaveAvx512() {
#ifdef KORVALEN_X86
    return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw");
#else
    return false;
#endif
}

}  // namespace

void Matcher::KeyTable::Build(std::vector<Item> keyed) {
    // At least twice as many slots as keys: mostly one key or none per slot.
    unsigned bits = 4;
    while ((std::size_t{1} << bits) < 2 * keyed.size()) {
        ++bits;
    }
    shift = 32 - bits;
    begin.assign((std::size_t{1} << bits) + 1, 0);
    for (const Item& item : keyed) {
        ++begin[Slot(item.key) + 1];
    }
    for (std::size_t s = 1; s < begin.size(); ++s) {
        begin[s] += begin[s - 1];
    }
    items.assign(keyed.size(), {});
    std::vector<std::uint32_t> fill(begin.begin(), begin.end() - 1);
    for (const Item& item : keyed) {
        items[fill[Slot(item.key)]++] = item;
    }
}

Matcher::Matcher(const std::vector<std::string>& words, Engine engine, const SetupPause& pause)
    : words_(words), lengths_(words.size()) {
    SetupPacer pacer(pause);
    std::unordered_set<std::string_view> seen;
    seen.reserve(words_.size());
    for (std::size_t i = 0; i < words_.size(); ++i) {
        pacer.Tick();
        lengths_[i] = words_[i].size();
        if (CanOccur(words_[i]) && seen.insert(words_[i]).second) {
            ids_.push_back(static_cast<std::uint32_t>(i));
        }
    }
    single_.resize(256);
    pair_bits_.assign(65536 / 64, 0);
    // A bit set of the heads' hashes with a bit or more in sixteen set lets
    // few positions through; beyond 2^24 bits (2 MB) it would no longer stay
    // in the cache.
    const std::size_t long_words = static_cast<std::size_t>(std::count_if(
        ids_.begin(), ids_.end(), [&](std::uint32_t id) { return words_[id].size() >= 4; }));
    long_words_ = long_words > 0;
    unsigned quad_bits = 16;
    while (quad_bits < 24 && (std::size_t{1} << quad_bits) < 16 * long_words) {
        ++quad_bits;
    }
    quad_shift_ = 32 - quad_bits;
    quad_bits_.assign((std::size_t{1} << quad_bits) / 64, 0);
    if (long_words >= kLeastFrom) {
        // Indexes scaled down to a byte; 255 marks a slot without words.
        least_shift_ = 0;
        while ((ids_.back() >> least_shift_) >= 255) {
            ++least_shift_;
        }
        unsigned bits = 10;
        while (bits < 17 && (std::size_t{1} << bits) < 4 * long_words) {
            ++bits;
        }
        least_slot_shift_ = 32 - bits;
        quad_least_.assign(std::size_t{1} << bits, 255);
    }
    std::size_t long_bytes = 0;
    for (const std::uint32_t id : ids_) {
        long_bytes += words_[id].size() >= kLongFrom ? words_[id].size() : 0;
    }
    long_.Reserve(long_bytes);
    std::vector<KeyTable::Item> pairs, quads;
    // Distinct first four bytes (or fewer), for the nibbles; only their count
    // matters once there are too many for them.
    const bool nibbles = engine == Engine::Nibbles || engine == Engine::NibblesNarrow;
    std::unordered_set<std::string_view> head_set;
    auto add_head = [&](std::string_view head) {
        if (nibbles || head_set.size() <= kMaxNibbleHeads) {
            head_set.insert(head);
        }
    };
    for (const std::uint32_t id : ids_) {
        pacer.Tick();
        const std::string& w = words_[id];
        if (w.size() == 1) {
            single_[static_cast<unsigned char>(w[0])].push_back(id);
            any_single_ = true;
            add_head(w);
            continue;
        }
        add_head(std::string_view(w).substr(0, kNibbleBytes));
        if (w.size() < 4) {
            SetBit(pair_bits_, PairAt(w.data()));
            pairs.push_back(
                {PairAt(w.data()), id, static_cast<std::uint32_t>(w.size()), 0, w.data()});
        } else {
            SetBit(quad_bits_, QuadHash(QuadAt(w.data())));
            if (!quad_least_.empty()) {
                std::uint8_t& least = quad_least_[LeastSlot(QuadAt(w.data()))];
                least = std::min(least, static_cast<std::uint8_t>(id >> least_shift_));
            }
            if (w.size() >= kLongFrom) {
                std::uint32_t node = Automaton::kNone;
                for (std::size_t k = 0; k < w.size(); ++k) {
                    node = long_.Add(node, static_cast<unsigned char>(w[k]));
                    if (k % 1024 == 1023) {
                        pacer.Tick();
                    }
                }
                long_.word[node] = id;
                continue;
            }
            quads.push_back({QuadAt(w.data()), id, static_cast<std::uint32_t>(w.size()),
                             NextAt(w.data(), w.size()), w.data()});
        }
    }
    pairs_.Build(std::move(pairs));
    long_.Link(pacer);
    BuildCrowds(quads, pacer);
    quads_.Build(std::move(quads));
    prefetch_ = crowds_.size() * sizeof(Crowd) + exact_.size() * sizeof(Exact) +
                    quads_.items.size() * sizeof(KeyTable::Item) +
                    quads_.begin.size() * sizeof(std::uint32_t) >
                kPrefetchFrom;
    std::vector<std::string_view> heads(head_set.begin(), head_set.end());
    std::sort(heads.begin(), heads.end());

    if (ids_.empty() || engine == Engine::Scalar || !HaveAvx2()) {
        used_ = Engine::Scalar;
    } else if (nibbles) {
        used_ = Engine::Nibbles;
    } else if (engine == Engine::Hashed) {
        used_ = any_single_ ? Engine::Scalar : Engine::Hashed;  // it sees no word of one byte
    } else if (heads.size() <= kMaxNibbleHeads) {
        used_ = Engine::Nibbles;
    } else {
        used_ = any_single_ ? Engine::Scalar : Engine::Hashed;
    }
    if (used_ == Engine::Nibbles) {
        // With a bucket each, the first two bytes pass only the heads' pairs;
        // with shared buckets also their mixtures, and the next two bytes
        // sort those out.
        deep_ = heads.size() > 8;
        if (engine == Engine::NibblesNarrow || !HaveAvx512()) {
            used_ = Engine::NibblesNarrow;
        }
        // Eight buckets; neighbours in sorted order share one, so that a
        // bucket's heads differ little and its masks pass little more than
        // them. A head shorter than four bytes accepts any byte after it.
        for (std::size_t h = 0; h < heads.size(); ++h) {
            const auto bit = static_cast<std::uint8_t>(1u << (h * 8 / heads.size()));
            for (std::size_t k = 0; k < kNibbleBytes; ++k) {
                if (k < heads[h].size()) {
                    const auto c = static_cast<unsigned char>(heads[h][k]);
                    lo_[k][c & 15] |= bit;
                    hi_[k][c >> 4] |= bit;
                } else {
                    for (unsigned v = 0; v < 16; ++v) {
                        lo_[k][v] |= bit;
                        hi_[k][v] |= bit;
                    }
                }
            }
        }
    }
}

void Matcher::BuildCrowds(std::vector<KeyTable::Item>& quads, SetupPacer& pacer) {
    std::unordered_map<std::uint32_t, std::uint32_t> per_head;
    for (const KeyTable::Item& item : quads) {
        pacer.Tick();
        ++per_head[item.key];
    }
    std::unordered_map<std::uint32_t, Crowd> crowds;
    std::vector<Exact> exact;
    std::erase_if(quads, [&](const KeyTable::Item& item) {
        if (per_head[item.key] <= kCrowdFrom) {
            return false;
        }
        Crowd& c = crowds.try_emplace(item.key, Crowd{item.key, 0, 0, 0, kAnyWord}).first->second;
        if (item.length > kCrowdMax) {
            c.others = 1;
            return false;
        }
        c.lengths |= std::uint64_t{1} << (item.length - 4);
        if (item.length == 4) {
            c.four = item.word;  // the head itself: no look-up
        } else {
            exact.push_back({HeadBytes(item.bytes, item.length), item.word, item.length});
            c.least = std::min(c.least, item.word);
        }
        return true;
    });
    if (crowds.empty()) {
        return;
    }
    // At least twice as many slots as entries: short probe sequences.
    auto slots_for = [](std::size_t count, unsigned& bits) {
        bits = 4;
        while ((std::size_t{1} << bits) < 2 * count) {
            ++bits;
        }
        return std::size_t{1} << bits;
    };
    unsigned bits = 0;
    crowds_.assign(slots_for(crowds.size(), bits), {});
    crowd_shift_ = 32 - bits;
    for (const auto& [key, crowd] : crowds) {
        std::size_t s = (key * kQuadMul) >> crowd_shift_;
        while (crowds_[s].lengths != 0) {
            s = (s + 1) & (crowds_.size() - 1);
        }
        crowds_[s] = crowd;
    }
    if (!quad_least_.empty()) {
        std::size_t six = 0;
        for (const Exact& e : exact) {
            six += e.length >= 6 ? 1 : 0;
        }
        unsigned six_bits = 10;
        while (six_bits < 18 && (std::size_t{1} << six_bits) < 4 * six) {
            ++six_bits;
        }
        six_shift_ = 64 - six_bits;
        six_least_.assign(std::size_t{1} << six_bits, 255);
        for (const Exact& e : exact) {
            if (e.length >= 6) {
                std::uint8_t& least = six_least_[SixSlot(e.head & kSixBytes)];
                least = std::min(least, static_cast<std::uint8_t>(e.word >> least_shift_));
            }
        }
    }
    exact_.assign(slots_for(exact.size(), bits), {});
    exact_shift_ = 64 - bits;
    for (const Exact& e : exact) {
        pacer.Tick();
        std::size_t s = HashBytes(words_[e.word].data(), e.length) >> exact_shift_;
        while (exact_[s].length != 0) {
            s = (s + 1) & (exact_.size() - 1);
        }
        exact_[s] = e;
    }
}

const Matcher::Crowd* Matcher::CrowdOf(std::uint32_t quad) const noexcept {
    std::size_t s = (quad * kQuadMul) >> crowd_shift_;
    for (;;) {
        const Crowd& c = crowds_[s];
        if (c.lengths == 0) {
            return nullptr;
        }
        if (c.key == quad) {
            return &c;
        }
        s = (s + 1) & (crowds_.size() - 1);
    }
}

void Matcher::AtCrowd(const char* p, std::size_t pos, const Crowd& crowd, std::size_t left,
                      Sink& out) const {
    std::uint64_t lengths = crowd.lengths;
    if ((lengths & 1) != 0) {
        if (crowd.four < out.limit) {
            Report(p, pos + left, pos, 4, crowd.four, out);
        }
        lengths &= lengths - 1;
    }
    if (crowd.least >= out.limit) {
        return;  // none of its longer words is wanted
    }
    std::uint64_t eight = 0;  // the eight bytes at pos, where there are eight
    if (left >= 8) {
        std::memcpy(&eight, p + pos, 8);
        if constexpr (std::endian::native == std::endian::big) {
            eight = __builtin_bswap64(eight);
        }
    }
    bool six = false;  // the words of six bytes or more were looked at
    for (; lengths != 0; lengths &= lengths - 1) {
        const std::size_t len = 4 + static_cast<std::size_t>(std::countr_zero(lengths));
        if (len > left) {
            return;
        }
        if (len >= 6 && !six) {
            six = true;
            if (!SixWanted(left >= 8 ? eight & kSixBytes : HeadBytes(p + pos, 6), out.limit)) {
                return;
            }
        }
        out.work += len;
        std::uint64_t hash, head;
        if (len < 8 && left >= 8) {
            head = eight & ((std::uint64_t{1} << (8 * len)) - 1);
            hash = HashHead(head, len);
        } else {
            hash = HashBytes(p + pos, len);
            head = HeadBytes(p + pos, len);
        }
        for (std::size_t s = hash >> exact_shift_; exact_[s].length != 0;
             s = (s + 1) & (exact_.size() - 1)) {
            const Exact& e = exact_[s];
            if (e.head == head && e.length == len &&
                (len <= 8 || SameBytes(p + pos + 8, words_[e.word].data() + 8, len - 8))) {
                if (e.word < out.limit) {
                    Report(p, pos + left, pos, len, e.word, out);
                }
                break;  // the words are distinct
            }
        }
    }
}

void Matcher::Report(const char* p, std::size_t n, std::size_t pos, std::size_t len,
                     std::uint32_t word, Sink& out) const {
    out.out.push_back({pos + len, word});
    if (out.settles) {
        if (out.limit == kAnyWord) {
            out.line_end = FindBreakByte(p, pos + len, n);
        }
        out.limit = word;
    }
}

void Matcher::At(const char* p, std::size_t pos, std::size_t n, Sink& out) const {
    if (pos >= out.line_end) {
        out.limit = kAnyWord;  // a new line
    } else if (out.limit <= ids_.front()) {
        return;  // no word can come before the one found
    }
    out.settles = out.keep != Keep::All;
    if (out.keep == Keep::LineFirstAligned) {
        const int starts = StartsChar(p, pos);
        if (starts == 0) {
            return;
        }
        out.settles = starts > 0;
    }
    if (any_single_) {
        for (const std::uint32_t id : single_[static_cast<unsigned char>(p[pos])]) {
            if (id >= out.limit) {
                break;  // by index
            }
            Report(p, n, pos, 1, id, out);
        }
    }
    if (pos + 1 >= n) {
        return;
    }
    const std::size_t left = n - pos;
    if (!pairs_.items.empty()) {
        const std::uint32_t pair = PairAt(p + pos);
        if (TestBit(pair_bits_, pair)) {
            const std::uint32_t s = pairs_.Slot(pair);
            for (std::uint32_t k = pairs_.begin[s]; k < pairs_.begin[s + 1]; ++k) {
                const KeyTable::Item& item = pairs_.items[k];
                const std::size_t len = item.length;
                if (item.key == pair && item.word < out.limit && len <= left &&
                    (len == 2 || p[pos + 2] == item.bytes[2])) {
                    Report(p, n, pos, len, item.word, out);
                }
            }
        }
    }
    if (!long_words_ || left < 4) {
        return;
    }
    const std::uint32_t quad = QuadAt(p + pos);
    if (!TestBit(quad_bits_, QuadHash(quad)) ||
        (!quad_least_.empty() && quad_least_[LeastSlot(quad)] > LeastBound(out.limit))) {
        return;
    }
    if (!long_.Empty() && pos >= out.long_done) {
        const bool settles = out.settles;
        RunLong(p, pos, n, out);
        out.settles = settles;
    }
    if (!crowds_.empty()) {
        if (const Crowd* crowd = CrowdOf(quad)) {
            AtCrowd(p, pos, *crowd, left, out);
            if (crowd->others == 0) {
                return;
            }
        }
    }
    const std::uint32_t next = NextAt(p + pos, left);
    const std::uint32_t s = quads_.Slot(quad);
    for (std::uint32_t k = quads_.begin[s]; k < quads_.begin[s + 1]; ++k) {
        const KeyTable::Item& item = quads_.items[k];
        const std::size_t len = item.length;
        const std::uint32_t mask = len >= 8 ? ~0u : (1u << (8 * (len - 4))) - 1;
        if (item.key == quad && item.word < out.limit && len <= left &&
            (next & mask) == item.next) {
            out.work += len;
            if (len <= 8 || SameBytes(p + pos + 8, item.bytes + 8, len - 8)) {
                Report(p, n, pos, len, item.word, out);
            }
        }
    }
}

int Matcher::StartsChar(const char* p, std::size_t pos) noexcept {
    // A character starts here when an even run of lead bytes comes before
    // (a break is no lead byte); a long run is left undecided.
    constexpr std::size_t kLongRun = 64;
    std::size_t run = 0;
    while (run < pos && IsLeadByte(p[pos - run - 1])) {
        if (++run == kLongRun) {
            return -1;
        }
    }
    return run % 2 == 0 ? 1 : 0;
}

std::uint32_t Matcher::Automaton::Child(std::uint32_t node, unsigned char c) const noexcept {
    if (node == kNone) {
        return root[c];
    }
    for (std::uint32_t k = child[node]; k != kNone; k = sibling[k]) {
        if (label[k] == c) {
            return k;
        }
    }
    return kNone;
}

void Matcher::Automaton::Reserve(std::size_t bytes) {
    if (bytes > 0) {
        label.reserve(bytes + 1);
        child.reserve(bytes + 1);
        sibling.reserve(bytes + 1);
        word.reserve(bytes + 1);
    }
}

std::uint32_t Matcher::Automaton::Add(std::uint32_t node, unsigned char c) {
    if (label.empty()) {  // the root
        label.push_back(0);
        child.push_back(kNone);
        sibling.push_back(kNone);
        word.push_back(kAnyWord);
    }
    if (const std::uint32_t k = Child(node, c); k != kNone) {
        return k;
    }
    const auto k = static_cast<std::uint32_t>(label.size());
    label.push_back(c);
    child.push_back(kNone);
    word.push_back(kAnyWord);
    if (node == kNone) {
        sibling.push_back(kNone);
        root[c] = k;
    } else {
        sibling.push_back(child[node]);
        child[node] = k;
    }
    return k;
}

void Matcher::Automaton::Link(SetupPacer& pacer) {
    if (Empty()) {
        return;
    }
    const std::size_t nodes = label.size();
    fail.assign(nodes, kNone);
    dict.assign(nodes, kNone);
    best.assign(nodes, kAnyWord);
    // Breadth first: a node's suffixes are shorter, so linked before it.
    std::vector<std::uint32_t> queue;
    queue.reserve(nodes);
    for (const std::uint32_t k : root) {
        if (k != kNone) {
            queue.push_back(k);
            best[k] = word[k];
        }
    }
    for (std::size_t q = 0; q < queue.size(); ++q) {
        if (q % 1024 == 1023) {
            pacer.Tick();
        }
        const std::uint32_t u = queue[q];
        for (std::uint32_t v = child[u]; v != kNone; v = sibling[v]) {
            std::uint32_t f = fail[u];
            std::uint32_t to = Child(f, label[v]);
            while (to == kNone && f != kNone) {
                f = fail[f];
                to = Child(f, label[v]);
            }
            fail[v] = to;
            dict[v] = word[to] != kAnyWord ? to : dict[to];
            best[v] = std::min(word[v], best[to]);
            queue.push_back(v);
        }
    }
}

void Matcher::RunLong(const char* p, std::size_t pos, std::size_t n, Sink& out) const {
    const Automaton& a = long_;
    std::uint32_t node = Automaton::kNone;
    std::size_t i = pos;
    do {
        const auto c = static_cast<unsigned char>(p[i]);
        std::uint32_t to = a.Child(node, c);
        ++out.work;
        while (to == Automaton::kNone && node != Automaton::kNone) {
            node = a.fail[node];
            to = a.Child(node, c);
            ++out.work;
        }
        node = to;
        ++i;
        if (a.best[node] != kAnyWord) {
            ReportLong(p, n, i, node, out);
        }
    } while (node != Automaton::kNone && i < n);
    out.long_done = i;
}

void Matcher::ReportLong(const char* p, std::size_t n, std::size_t end, std::uint32_t node,
                         Sink& out) const {
    const Automaton& a = long_;
    if (out.keep != Keep::All && a.best[node] >= out.limit) {
        return;
    }
    if (out.keep == Keep::LineFirst) {
        const std::uint32_t w = a.best[node];
        out.settles = true;
        Report(p, n, end - lengths_[w], lengths_[w], w, out);
        return;
    }
    // Down the words that end here, longest first.
    for (std::uint32_t v = a.word[node] != kAnyWord ? node : a.dict[node]; v != Automaton::kNone;
         v = a.dict[v]) {
        const std::uint32_t w = a.word[v];
        const std::size_t start = end - lengths_[w];
        if (out.keep == Keep::All) {
            out.settles = false;
        } else {
            if (w >= out.limit) {
                continue;
            }
            const int starts = StartsChar(p, start);
            if (starts == 0) {
                continue;
            }
            out.settles = starts > 0;
        }
        Report(p, n, start, lengths_[w], w, out);
    }
}

void Matcher::Candidates(const char* p, std::size_t n, const Marked* marked, std::size_t count,
                         Sink& out) const {
    if (!prefetch_) {
        for (std::size_t k = 0; k < count; ++k) {
            for (std::uint64_t m = marked[k].mask; m != 0; m &= m - 1) {
                At(p, marked[k].at + static_cast<std::size_t>(std::countr_zero(m)), n, out);
            }
        }
        return;
    }
    // Tables too big for the cache: one look-up after another waits for
    // memory each time. Each position has its head's slot fetched ahead, a
    // few positions later the slots of its whole words, and a few more later
    // it is looked up as before, so that the waits overlap.
    if (count == 0) {
        return;
    }
    const std::size_t base = marked[0].at;
    std::uint16_t pos[kStretch];  // from `base`
    std::size_t size = 0;
    for (std::size_t k = 0; k < count; ++k) {
        for (std::uint64_t m = marked[k].mask; m != 0; m &= m - 1) {
            pos[size++] = static_cast<std::uint16_t>(marked[k].at - base +
                                                     static_cast<std::size_t>(std::countr_zero(m)));
        }
    }
    // Nothing is fetched for a line whose first word is known (the limit is
    // that of a position before: the fetch may be needless, never missing).
    auto settled = [&](std::size_t at) { return at < out.line_end && out.limit <= ids_.front(); };
    auto limit = [&](std::size_t at) { return at < out.line_end ? out.limit : kAnyWord; };
    for (std::size_t j = 0; j < size + 2 * kAhead; ++j) {
        if (j < size && !settled(base + pos[j])) {
            const std::size_t at = base + pos[j];
            FetchHead(p + at, n - at, limit(at));
        }
        if (j >= kAhead && j - kAhead < size && !settled(base + pos[j - kAhead])) {
            const std::size_t at = base + pos[j - kAhead];
            FetchWords(p + at, n - at, limit(at));
        }
        if (j >= 2 * kAhead) {
            At(p, base + pos[j - 2 * kAhead], n, out);
        }
    }
}

bool Matcher::HeadMayStart(const char* at, std::size_t left, std::uint32_t limit,
                           std::uint32_t& q) const {
    if (left < 4 || !long_words_) {
        return false;
    }
    q = QuadAt(at);
    return TestBit(quad_bits_, QuadHash(q)) &&
           (quad_least_.empty() || quad_least_[LeastSlot(q)] <= LeastBound(limit));
}

void Matcher::FetchHead(const char* at, std::size_t left, std::uint32_t limit) const {
    std::uint32_t q;
    if (!HeadMayStart(at, left, limit, q)) {
        return;
    }
    if (!crowds_.empty()) {
        __builtin_prefetch(&crowds_[(q * kQuadMul) >> crowd_shift_]);
    }
    __builtin_prefetch(&quads_.begin[quads_.Slot(q)]);
}

void Matcher::FetchWords(const char* at, std::size_t left, std::uint32_t limit) const {
    std::uint32_t q;
    if (!HeadMayStart(at, left, limit, q)) {
        return;
    }
    if (!crowds_.empty()) {
        if (const Crowd* crowd = CrowdOf(q)) {
            const std::uint64_t longer =
                crowd->least < limit ? crowd->lengths & ~std::uint64_t{1} : 0;
            for (std::uint64_t l = longer; l != 0; l &= l - 1) {
                const std::size_t len = 4 + static_cast<std::size_t>(std::countr_zero(l));
                if (len > left || (len >= 6 && !SixWanted(HeadBytes(at, 6), limit))) {
                    break;
                }
                std::uint64_t hash;
                if (len < 8 && left >= 8) {
                    std::uint64_t eight;
                    std::memcpy(&eight, at, 8);
                    hash = HashHead(eight & ((std::uint64_t{1} << (8 * len)) - 1), len);
                } else {
                    hash = HashBytes(at, len);
                }
                __builtin_prefetch(&exact_[hash >> exact_shift_]);
            }
            if (crowd->others == 0) {
                return;
            }
        }
    }
    const std::uint32_t s = quads_.Slot(q);
    if (quads_.begin[s] < quads_.begin[s + 1]) {
        __builtin_prefetch(&quads_.items[quads_.begin[s]]);
    }
}

void Matcher::FindScalar(const char* p, std::size_t n, Sink& out) const {
    if (any_single_) {
        for (std::size_t i = 0; i < n; ++i) {
            At(p, i, n, out);
        }
        return;
    }
    const bool pairs = !pairs_.items.empty();
    const bool quads = long_words_;
    std::size_t i = 0;
    for (; i + 4 <= n; ++i) {
        const std::uint32_t q = QuadAt(p + i);
        if ((pairs && TestBit(pair_bits_, q & 0xFFFF)) ||
            (quads && TestBit(quad_bits_, QuadHash(q)))) {
            At(p, i, n, out);
        }
    }
    for (; i + 1 < n; ++i) {
        At(p, i, n, out);
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

// Bit k*4 of the result is bit k of the index: four masks of every fourth
// position interleave into one in position order.
constexpr std::array<std::uint32_t, 256> MakeSpread() {
    std::array<std::uint32_t, 256> t{};
    for (unsigned m = 0; m < 256; ++m) {
        for (unsigned k = 0; k < 8; ++k) {
            t[m] |= ((m >> k) & 1u) << (4 * k);
        }
    }
    return t;
}
constexpr std::array<std::uint32_t, 256> kSpread = MakeSpread();

// The break bits of the 32 bytes `a`, stored at `any` and `ends`; `b` holds
// the 32 bytes that follow each of them.
__attribute__((target("avx2,popcnt"))) inline void MarkBreaks(__m256i a, __m256i b, char* any,
                                                              char* ends, Matcher::Breaks& breaks) {
    const __m256i lf = _mm256_cmpeq_epi8(a, _mm256_set1_epi8('\n'));
    const __m256i cr = _mm256_cmpeq_epi8(a, _mm256_set1_epi8('\r'));
    const __m256i lf_next = _mm256_cmpeq_epi8(b, _mm256_set1_epi8('\n'));
    const auto any_bits = static_cast<std::uint32_t>(_mm256_movemask_epi8(_mm256_or_si256(lf, cr)));
    const auto end_bits = static_cast<std::uint32_t>(
        _mm256_movemask_epi8(_mm256_or_si256(lf, _mm256_andnot_si256(lf_next, cr))));
    // Little-endian: the low half of a 64-bit word comes first.
    std::memcpy(any, &any_bits, sizeof any_bits);
    std::memcpy(ends, &end_bits, sizeof end_bits);
    breaks.any_count += static_cast<std::size_t>(std::popcount(any_bits));
    breaks.end_count += static_cast<std::size_t>(std::popcount(end_bits));
}

// Membership in a set of bytes, loosely: the low nibble picks a byte of
// flags, one for each high nibble (modulo 8), the high nibble picks the flag.
// A byte passes when it is in the set or differs from one that is only in its
// top bit; the caller checks again.
struct ClassTables {
    __m256i lo, hi;
};

__attribute__((target("avx2"))) inline ClassTables MakeClassTables(
    const std::array<std::uint64_t, 4>& set) {
    alignas(16) std::uint8_t lo[16] = {};
    alignas(16) std::uint8_t hi[16] = {};
    for (unsigned c = 0; c < 256; ++c) {
        hi[c >> 4] = static_cast<std::uint8_t>(1u << ((c >> 4) & 7));
        if ((set[c >> 6] >> (c & 63) & 1) != 0) {
            lo[c & 15] |= static_cast<std::uint8_t>(1u << ((c >> 4) & 7));
        }
    }
    return {_mm256_broadcastsi128_si256(_mm_load_si128(reinterpret_cast<const __m128i*>(lo))),
            _mm256_broadcastsi128_si256(_mm_load_si128(reinterpret_cast<const __m128i*>(hi)))};
}

// The class bits of the 32 bytes `a` at `at`.
class ClassMarker {
  public:
    __attribute__((target("avx2"))) explicit ClassMarker(Matcher::Breaks* breaks) {
        if (breaks == nullptr) {
            return;
        }
        for (std::size_t k = 0; k < 2; ++k) {
            if (breaks->classes[k].on) {
                tables_[count_] = MakeClassTables(breaks->classes[k].set);
                out_[count_] = reinterpret_cast<char*>(breaks->classes[k].bits.data());
                before_break_[count_] = breaks->classes[k].before_break;
                ++count_;
            }
        }
    }
    bool Any() const { return count_ > 0; }
    // `a` the 32 bytes at `at`, `b` the 32 after each.
    __attribute__((target("avx2"))) void Mark(__m256i a, __m256i b, std::size_t at) const {
        const __m256i nib = _mm256_set1_epi8(0x0F);
        const __m256i lo = _mm256_and_si256(a, nib);
        const __m256i hi = _mm256_and_si256(_mm256_srli_epi16(a, 4), nib);
        const auto next_break = static_cast<std::uint32_t>(
            _mm256_movemask_epi8(_mm256_or_si256(_mm256_cmpeq_epi8(b, _mm256_set1_epi8('\n')),
                                                 _mm256_cmpeq_epi8(b, _mm256_set1_epi8('\r')))));
        for (std::size_t k = 0; k < count_; ++k) {
            const __m256i flags = _mm256_and_si256(_mm256_shuffle_epi8(tables_[k].lo, lo),
                                                   _mm256_shuffle_epi8(tables_[k].hi, hi));
            auto m = ~static_cast<std::uint32_t>(
                _mm256_movemask_epi8(_mm256_cmpeq_epi8(flags, _mm256_setzero_si256())));
            if (before_break_[k]) {
                m &= next_break;
            }
            std::memcpy(out_[k] + at / 8, &m, sizeof m);
        }
    }

  private:
    ClassTables tables_[2];
    char* out_[2] = {};
    bool before_break_[2] = {};
    std::size_t count_ = 0;
};

// Bit `idx` of `bits`, for eight indexes at once: all ones where set.
__attribute__((target("avx2"))) inline __m256i GatherBits(const std::uint64_t* bits, __m256i idx) {
    const __m256i word =
        _mm256_i32gather_epi32(reinterpret_cast<const int*>(bits), _mm256_srli_epi32(idx, 5), 4);
    const __m256i bit = _mm256_and_si256(idx, _mm256_set1_epi32(31));
    const __m256i one = _mm256_set1_epi32(1);
    return _mm256_cmpeq_epi32(_mm256_and_si256(_mm256_srlv_epi32(word, bit), one), one);
}

}  // namespace

template <bool kDeep>
__attribute__((target("avx2,popcnt"))) std::size_t Matcher::FindNibbles(const char* p,
                                                                        std::size_t n, Sink& out,
                                                                        Breaks* breaks) const {
    const __m256i lo0 = Table(lo_[0]);
    const __m256i hi0 = Table(hi_[0]);
    const __m256i lo1 = Table(lo_[1]);
    const __m256i hi1 = Table(hi_[1]);
    const __m256i lo2 = Table(lo_[2]);
    const __m256i hi2 = Table(hi_[2]);
    const __m256i lo3 = Table(lo_[3]);
    const __m256i hi3 = Table(hi_[3]);
    const __m256i zero = _mm256_setzero_si256();
    char* any = breaks != nullptr ? reinterpret_cast<char*>(breaks->any.data()) : nullptr;
    char* ends = breaks != nullptr ? reinterpret_cast<char*>(breaks->ends.data()) : nullptr;
    const ClassMarker marker(breaks);
    Marked marked[kStretch / 32];
    std::size_t i = 0;
    while (i + 35 <= n) {
        std::size_t k = 0;
        for (std::size_t step = 0; i + 35 <= n && step < kStretch / 32; i += 32, ++step) {
            const __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + i));
            const __m256i b = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + i + 1));
            __m256i hit = _mm256_and_si256(Buckets(a, lo0, hi0), Buckets(b, lo1, hi1));
            if constexpr (kDeep) {
                const __m256i c = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + i + 2));
                const __m256i d = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + i + 3));
                hit = _mm256_and_si256(
                    hit, _mm256_and_si256(Buckets(c, lo2, hi2), Buckets(d, lo3, hi3)));
            }
            if (any != nullptr) {
                MarkBreaks(a, b, any + i / 8, ends + i / 8, *breaks);
                if (marker.Any()) {
                    marker.Mark(a, b, i);
                }
            }
            const auto m =
                ~static_cast<std::uint32_t>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(hit, zero)));
            marked[k] = {i, m};
            k += m != 0 ? 1 : 0;
        }
        Candidates(p, n, marked, k, out);
    }
    const std::size_t done = i;
    for (; i < n; ++i) {
        At(p, i, n, out);
    }
    return done;
}

// The same 64 bytes at a time, where the processor has AVX-512 BW.
// (GCC 12 warns falsely about its own _mm512_broadcast_i32x4.)
__attribute__((target("avx512f,avx512bw"))) inline __m512i Table512(const std::uint8_t* t) {
    std::uint8_t four[64];
    for (std::size_t k = 0; k < 64; k += 16) {
        std::memcpy(four + k, t, 16);
    }
    return _mm512_loadu_si512(four);
}

__attribute__((target("avx512f,avx512bw"))) inline __m512i Buckets512(__m512i v, __m512i lo,
                                                                      __m512i hi) {
    const __m512i nib = _mm512_set1_epi8(0x0F);
    const __m512i l = _mm512_shuffle_epi8(lo, _mm512_and_si512(v, nib));
    const __m512i h = _mm512_shuffle_epi8(hi, _mm512_and_si512(_mm512_srli_epi16(v, 4), nib));
    return _mm512_and_si512(l, h);
}

template <bool kDeep>
__attribute__((target("avx512f,avx512bw,popcnt"))) std::size_t Matcher::FindNibbles512(
    const char* p, std::size_t n, Sink& out, Breaks* breaks) const {
    const __m512i lo0 = Table512(lo_[0].data());
    const __m512i hi0 = Table512(hi_[0].data());
    const __m512i lo1 = Table512(lo_[1].data());
    const __m512i hi1 = Table512(hi_[1].data());
    const __m512i lo2 = Table512(lo_[2].data());
    const __m512i hi2 = Table512(hi_[2].data());
    const __m512i lo3 = Table512(lo_[3].data());
    const __m512i hi3 = Table512(hi_[3].data());
    const __m512i lf = _mm512_set1_epi8('\n');
    const __m512i cr = _mm512_set1_epi8('\r');
    const __m512i nib = _mm512_set1_epi8(0x0F);
    std::uint64_t* any = breaks != nullptr ? breaks->any.data() : nullptr;
    std::uint64_t* ends = breaks != nullptr ? breaks->ends.data() : nullptr;
    // Class tables and where their bits go (see ClassMarker).
    __m512i class_lo[2], class_hi[2];
    std::uint64_t* class_out[2] = {};
    bool class_before_break[2] = {};
    std::size_t classes = 0;
    if (breaks != nullptr) {
        for (Breaks::Class& c : breaks->classes) {
            if (c.on) {
                const ClassTables t = MakeClassTables(c.set);
                alignas(32) std::uint8_t lo[32];
                alignas(32) std::uint8_t hi[32];
                _mm256_store_si256(reinterpret_cast<__m256i*>(lo), t.lo);
                _mm256_store_si256(reinterpret_cast<__m256i*>(hi), t.hi);
                class_lo[classes] = Table512(lo);
                class_hi[classes] = Table512(hi);
                class_out[classes] = c.bits.data();
                class_before_break[classes] = c.before_break;
                ++classes;
            }
        }
    }
    Marked marked[kStretch / 64];
    std::size_t any_count = 0;
    std::size_t end_count = 0;
    std::size_t i = 0;
    while (i + 67 <= n) {
        std::size_t k = 0;
        for (std::size_t step = 0; i + 67 <= n && step < kStretch / 64; i += 64, ++step) {
            const __m512i a = _mm512_loadu_si512(p + i);
            const __m512i b = _mm512_loadu_si512(p + i + 1);
            __m512i hit = _mm512_and_si512(Buckets512(a, lo0, hi0), Buckets512(b, lo1, hi1));
            if constexpr (kDeep) {
                const __m512i c = _mm512_loadu_si512(p + i + 2);
                const __m512i d = _mm512_loadu_si512(p + i + 3);
                hit = _mm512_and_si512(
                    hit, _mm512_and_si512(Buckets512(c, lo2, hi2), Buckets512(d, lo3, hi3)));
            }
            if (any != nullptr) {
                const std::uint64_t is_lf = _mm512_cmpeq_epi8_mask(a, lf);
                const std::uint64_t is_cr = _mm512_cmpeq_epi8_mask(a, cr);
                const std::uint64_t lf_next = _mm512_cmpeq_epi8_mask(b, lf);
                const std::uint64_t any_bits = is_lf | is_cr;
                const std::uint64_t end_bits = is_lf | (is_cr & ~lf_next);
                any[i / 64] = any_bits;
                ends[i / 64] = end_bits;
                any_count += static_cast<std::size_t>(std::popcount(any_bits));
                end_count += static_cast<std::size_t>(std::popcount(end_bits));
                if (classes > 0) {
                    const std::uint64_t next_break = lf_next | _mm512_cmpeq_epi8_mask(b, cr);
                    const __m512i lo = _mm512_and_si512(a, nib);
                    const __m512i hi = _mm512_and_si512(_mm512_srli_epi16(a, 4), nib);
                    for (std::size_t c = 0; c < classes; ++c) {
                        const __m512i flags =
                            _mm512_and_si512(_mm512_shuffle_epi8(class_lo[c], lo),
                                             _mm512_shuffle_epi8(class_hi[c], hi));
                        const std::uint64_t m = _mm512_test_epi8_mask(flags, flags);
                        class_out[c][i / 64] = class_before_break[c] ? m & next_break : m;
                    }
                }
            }
            const std::uint64_t m = _mm512_test_epi8_mask(hit, hit);
            marked[k] = {i, m};
            k += m != 0 ? 1 : 0;
        }
        Candidates(p, n, marked, k, out);
    }
    if (breaks != nullptr) {
        breaks->any_count += any_count;
        breaks->end_count += end_count;
    }
    const std::size_t done = i;
    for (; i < n; ++i) {
        At(p, i, n, out);
    }
    return done;
}

// The first four bytes at each position, hashed into the bit set of the long
// words' heads; the first two tested against the short words' pairs.
__attribute__((target("avx2,popcnt"))) std::size_t Matcher::FindHashed(const char* p, std::size_t n,
                                                                       Sink& out,
                                                                       Breaks* breaks) const {
    const bool pairs = !pairs_.items.empty();
    const bool quads = long_words_;
    const __m256i mul = _mm256_set1_epi32(static_cast<int>(kQuadMul));
    const __m128i shift = _mm_cvtsi32_si128(static_cast<int>(quad_shift_));
    const __m256i low16 = _mm256_set1_epi32(0xFFFF);
    char* any = breaks != nullptr ? reinterpret_cast<char*>(breaks->any.data()) : nullptr;
    char* ends = breaks != nullptr ? reinterpret_cast<char*>(breaks->ends.data()) : nullptr;
    const ClassMarker marker(breaks);
    Marked marked[kStretch / 32];
    std::size_t i = 0;
    while (i + 35 <= n) {
        std::size_t k = 0;
        for (std::size_t step = 0; i + 35 <= n && step < kStretch / 32; i += 32, ++step) {
            if (any != nullptr) {
                const __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + i));
                const __m256i b = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + i + 1));
                MarkBreaks(a, b, any + i / 8, ends + i / 8, *breaks);
                if (marker.Any()) {
                    marker.Mark(a, b, i);
                }
            }
            std::uint32_t m = 0;
            for (unsigned o = 0; o < 4; ++o) {
                const __m256i q = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + i + o));
                __m256i hit = _mm256_setzero_si256();
                if (quads) {
                    const __m256i h = _mm256_srl_epi32(_mm256_mullo_epi32(q, mul), shift);
                    hit = GatherBits(quad_bits_.data(), h);
                }
                if (pairs) {
                    hit = _mm256_or_si256(
                        hit, GatherBits(pair_bits_.data(), _mm256_and_si256(q, low16)));
                }
                m |= kSpread[static_cast<unsigned>(_mm256_movemask_ps(_mm256_castsi256_ps(hit)))]
                     << o;
            }
            marked[k] = {i, m};
            k += m != 0 ? 1 : 0;
        }
        Candidates(p, n, marked, k, out);
    }
    const std::size_t done = i;
    for (; i < n; ++i) {
        At(p, i, n, out);
    }
    return done;
}
#else
template <bool kDeep>
std::size_t Matcher::FindNibbles512(const char* p, std::size_t n, Sink& out, Breaks*) const {
    FindScalar(p, n, out);
    return 0;
}
template <bool kDeep>
std::size_t Matcher::FindNibbles(const char* p, std::size_t n, Sink& out, Breaks*) const {
    FindScalar(p, n, out);
    return 0;
}
std::size_t Matcher::FindHashed(const char* p, std::size_t n, Sink& out, Breaks*) const {
    FindScalar(p, n, out);
    return 0;
}
#endif

void Matcher::FindAll(std::string_view buf, std::vector<Match>& found, Breaks* breaks,
                      Keep keep) const {
    std::size_t work = 0;
    FindAll(buf, found, breaks, keep, work);
}

void Matcher::FindAll(std::string_view buf, std::vector<Match>& found, Breaks* breaks, Keep keep,
                      std::size_t& work) const {
    Sink out{found, keep};
    const char* p = buf.data();
    const std::size_t n = buf.size();
    const std::size_t words = (n + 63) / 64;
    std::size_t marked = 0;
    if (breaks != nullptr) {
        // The vector loops write every word they pass; the rest is cleared below.
        breaks->any.resize(words);
        breaks->ends.resize(words);
        breaks->any_count = 0;
        breaks->end_count = 0;
        for (Breaks::Class& c : breaks->classes) {
            if (c.on) {
                c.bits.resize(words);
            }
        }
    }
    const std::size_t first = found.size();
    if (!ids_.empty()) {
        switch (used_) {
            case Engine::Nibbles:
                marked = deep_ ? FindNibbles512<true>(p, n, out, breaks)
                               : FindNibbles512<false>(p, n, out, breaks);
                break;
            case Engine::NibblesNarrow:
                marked = deep_ ? FindNibbles<true>(p, n, out, breaks)
                               : FindNibbles<false>(p, n, out, breaks);
                break;
            case Engine::Hashed:
                marked = FindHashed(p, n, out, breaks);
                break;
            default:
                FindScalar(p, n, out);
                break;
        }
    }
    work += out.work;
    if (breaks != nullptr) {
        // Past `marked`: the bits left from an earlier buffer go, one by one
        // the new ones come.
        auto clear_from = [&](std::vector<std::uint64_t>& bits) {
            if (marked % 64 != 0) {
                bits[marked / 64] &= (std::uint64_t{1} << (marked % 64)) - 1;
            }
            std::fill(bits.begin() + static_cast<std::ptrdiff_t>((marked + 63) / 64), bits.end(),
                      0);
        };
        clear_from(breaks->any);
        clear_from(breaks->ends);
        for (std::size_t i = FindBreakByte(p, marked, n); i < n; i = FindBreakByte(p, i + 1, n)) {
            const std::uint64_t bit = std::uint64_t{1} << (i & 63);
            breaks->any[i >> 6] |= bit;
            ++breaks->any_count;
            if (p[i] == '\n' || i + 1 == n || p[i + 1] != '\n') {
                breaks->ends[i >> 6] |= bit;
                ++breaks->end_count;
            }
        }
        for (Breaks::Class& c : breaks->classes) {
            if (!c.on) {
                continue;
            }
            clear_from(c.bits);
            for (std::size_t i = marked; i < n; ++i) {
                const auto b = static_cast<unsigned char>(p[i]);
                const bool next_break = i + 1 < n && (p[i + 1] == '\n' || p[i + 1] == '\r');
                if ((c.set[b >> 6] >> (b & 63) & 1) != 0 && (!c.before_break || next_break)) {
                    c.bits[i >> 6] |= std::uint64_t{1} << (i & 63);
                }
            }
        }
    }
    // Found by start; the scanners want them by end. Mostly a match moves
    // back past a few longer ones that start before it: an insertion sort,
    // which keeps equal ends in order. One that would move far (long words
    // among many short ones) hands the rest to a merge sort, which keeps them
    // in order too.
    constexpr std::size_t kFar = 16;
    for (std::size_t i = first + 1; i < found.size(); ++i) {
        if (found[i - 1].end <= found[i].end) {
            continue;
        }
        const Match m = found[i];
        std::size_t j = i;
        while (j > first && found[j - 1].end > m.end && i - j < kFar) {
            found[j] = found[j - 1];
            --j;
        }
        found[j] = m;
        if (j > first && found[j - 1].end > m.end) {
            std::stable_sort(found.begin() + static_cast<std::ptrdiff_t>(first), found.end(),
                             [](const Match& a, const Match& b) { return a.end < b.end; });
            return;
        }
    }
}

}  // namespace korvalen
