// Every occurrence of every search word in a buffer, in one pass: the filter
// in front of the exact per-line rules of the scanners.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace korvalen {

// Setting up a long word list takes a while: now and then the set-up calls a
// pause, in which the host processes its messages (Stop arrives there); a
// pause that returns false ends the set-up with SetupStopped.
using SetupPause = std::function<bool()>;
struct SetupStopped {};

// Counts the words set up and calls the pause every so many of them.
class SetupPacer {
  public:
    explicit SetupPacer(const SetupPause& pause) noexcept : pause_(pause) {}
    void Tick() {
        if (++count_ % kEvery == 0 && pause_ && !pause_()) {
            throw SetupStopped{};
        }
    }

  private:
    static constexpr std::size_t kEvery = 256;
    const SetupPause& pause_;
    std::size_t count_ = 0;
};

class Matcher {
  public:
    enum class Engine {
        Best,           // the fastest filter that suits the words and the processor
        Scalar,         // one position at a time (the reference for the vector filters)
        Nibbles,        // AVX2: bucket masks of the first four bytes (few words); 64 bytes at a
                        // time with AVX-512 BW
        NibblesNarrow,  // the same 32 bytes at a time (its reference where AVX-512 is)
        Hashed,         // AVX2: hashed bit sets of the first four bytes (many words)
    };

    struct Match {
        std::size_t end;     // one past the last byte of the occurrence
        std::uint32_t word;  // index in the word list given to the constructor
    };

    // Words that can never occur in a line (empty ones, ones holding CR or LF)
    // are left out. Of equal words only the first is reported: it always wins.
    // An engine that the processor or the words do not allow falls back to
    // Scalar. Time and memory grow linearly with the words' total length;
    // `pause` may end the set-up (SetupStopped).
    explicit Matcher(const std::vector<std::string>& words, Engine engine = Engine::Best,
                     const SetupPause& pause = {});
    // The tables point into the words it holds.
    Matcher(const Matcher&) = delete;
    Matcher& operator=(const Matcher&) = delete;

    // The line breaks of a buffer, one bit per byte, found in the same pass;
    // and, when asked for, its bytes that are in either of two sets of bytes
    // (a filter: some bytes outside a set may be marked too).
    struct Breaks {
        std::vector<std::uint64_t> any;   // CR or LF
        std::vector<std::uint64_t> ends;  // the last byte of each break: LF, or CR not before LF
        std::size_t any_count = 0;        // bits set in `any`
        std::size_t end_count = 0;        // bits set in `ends`
        struct Class {
            bool on = false;
            bool before_break = false;           // only bytes that a CR or LF follows
            std::array<std::uint64_t, 4> set{};  // 256 bits
            std::vector<std::uint64_t> bits;     // a bit per byte of the buffer
        };
        std::array<Class, 2> classes;
    };

    // Which occurrences FindAll reports.
    enum class Keep {
        All,
        // Of each line (CR and LF end lines; `buf` starts one), at least the
        // occurrence of the word that comes first in the list: one may be
        // left out when an earlier word of the list occurs in its line. A caller that wants only
        // each line's first word is spared the rest (a long list holds many words of every line).
        LineFirst,
        // The same among the occurrences that start a character, as a walk
        // of code page 932 characters from the line's start finds them: the
        // others may be left out, and never let later words go.
        LineFirstAligned,
    };

    // Appends every occurrence in `buf` (or those `keep` asks for),
    // overlapping ones included, sorted by end. `buf` may be of any size.
    // With `breaks`, also marks its breaks (a CR at the very end counts as a
    // break of its own). Time grows linearly with `buf` whatever the words,
    // beside the occurrences reported.
    void FindAll(std::string_view buf, std::vector<Match>& out, Breaks* breaks = nullptr,
                 Keep keep = Keep::All) const;
    // The same, adding to `work` the bytes compared and the automaton's steps
    // (what would grow with the words' length at each place).
    void FindAll(std::string_view buf, std::vector<Match>& out, Breaks* breaks, Keep keep,
                 std::size_t& work) const;

    // The words that take part, by index: none empty, none holding CR or LF,
    // none equal to one before it.
    const std::vector<std::uint32_t>& Ids() const noexcept { return ids_; }
    // No word can occur anywhere.
    bool Empty() const noexcept { return ids_.empty(); }
    std::size_t Length(std::uint32_t word) const noexcept { return lengths_[word]; }
    // The engine in use: never Best; Nibbles only where AVX-512 BW is.
    Engine Used() const noexcept { return used_; }

  private:
    // Words by a key of their first bytes, found through a small hash table.
    struct KeyTable {
        struct Item {
            std::uint32_t key;
            std::uint32_t word;
            std::uint32_t length;
            std::uint32_t next;  // quads: bytes 4 to 7 as the key is read, zeros past the word
            const char* bytes;   // the word's, in words_
        };
        unsigned shift = 32;               // slot = hash >> shift
        std::vector<std::uint32_t> begin;  // slots + 1
        std::vector<Item> items;           // by slot
        void Build(std::vector<Item> keyed);
        std::uint32_t Slot(std::uint32_t key) const noexcept {
            return static_cast<std::uint32_t>((key * 0x9E3779B1u) >> shift);
        }
    };

    // Where the occurrences go, and which words can still be the first of
    // the line in hand (Keep).
    static constexpr std::uint32_t kAnyWord = 0xFFFFFFFFu;
    struct Sink {
        std::vector<Match>& out;
        const Keep keep;
        std::uint32_t limit = kAnyWord;  // only words before this one are wanted
        std::size_t line_end = 0;        // up to here (the break of the line of `limit`)
        bool settles = false;            // an occurrence at the position in hand lowers `limit`
        std::size_t long_done = 0;       // the automaton has been run up to here
        std::size_t work = 0;            // see FindAll
    };
    // Reports word `word` of `len` bytes at `pos`.
    void Report(const char* p, std::size_t n, std::size_t pos, std::size_t len, std::uint32_t word,
                Sink& out) const;
    // The occurrences that start at `pos`.
    void At(const char* p, std::size_t pos, std::size_t n, Sink& out) const;
    // The occurrences at the positions that the vector filters marked.
    struct Marked {
        std::size_t at;      // a position in the buffer
        std::uint64_t mask;  // bit k: a candidate at `at` + k
    };
    void Candidates(const char* p, std::size_t n, const Marked* marked, std::size_t count,
                    Sink& out) const;
    void FindScalar(const char* p, std::size_t n, Sink& out) const;
    // Whether a character starts at `pos`, as a walk from the line's start
    // finds it: 1 yes, 0 no, -1 undecided (a long run of lead bytes before).
    static int StartsChar(const char* p, std::size_t pos) noexcept;
    // These two return how far they marked the breaks (a multiple of 32).
    template <bool kDeep>
    std::size_t FindNibbles512(const char* p, std::size_t n, Sink& out, Breaks* breaks) const;
    template <bool kDeep>
    std::size_t FindNibbles(const char* p, std::size_t n, Sink& out, Breaks* breaks) const;
    std::size_t FindHashed(const char* p, std::size_t n, Sink& out, Breaks* breaks) const;

    std::vector<std::string> words_;    // all words, by index
    std::vector<std::size_t> lengths_;  // by index
    std::vector<std::uint32_t> ids_;    // the words that take part, ascending
    Engine used_ = Engine::Scalar;
    bool any_single_ = false;
    // Words of one byte by that byte.
    std::vector<std::vector<std::uint32_t>> single_;  // 256 lists
    // Words of two or three bytes by their first two (little-endian), behind
    // a bit set of those pairs.
    std::vector<std::uint64_t> pair_bits_;  // 65536 bits
    KeyTable pairs_;
    // Words of four bytes or more by their first four, behind a hashed bit set.
    static constexpr std::uint32_t kQuadMul = 0x9E3779B1u;
    std::uint32_t QuadHash(std::uint32_t q) const noexcept { return (q * kQuadMul) >> quad_shift_; }
    std::vector<std::uint64_t> quad_bits_;  // 2^(32 - quad_shift_) bits: 65536 or more
    unsigned quad_shift_ = 16;
    KeyTable quads_;
    // With many words, once a line has a word, most heads in the rest of it
    // have none before that one: the lowest index of each slot's heads,
    // scaled to a byte, sorts them out before any look-up (a small table,
    // found in the cache).
    static constexpr std::size_t kLeastFrom = 256;  // long words
    std::vector<std::uint8_t> quad_least_;          // empty: fewer words
    unsigned least_shift_ = 0;                      // index >> least_shift_ < 255
    unsigned least_slot_shift_ = 32;
    std::uint32_t LeastSlot(std::uint32_t q) const noexcept {
        return (q * 0x85EBCA6Bu) >> least_slot_shift_;
    }
    // What a slot holds at most when a word in it may come before `limit`.
    std::uint8_t LeastBound(std::uint32_t limit) const noexcept {
        return static_cast<std::uint8_t>(limit == kAnyWord ? 254 : limit >> least_shift_);
    }
    bool long_words_ = false;  // of four bytes or more (in quads_ or crowds_)
    // A head that many words share (a large family has heads with hundreds)
    // is not followed by a walk over all of them: its words of up to
    // kCrowdMax bytes are looked up by their whole bytes, once per length.
    static constexpr std::size_t kCrowdFrom = 4;  // more words than this share the head
    static constexpr std::size_t kCrowdMax = 67;
    struct Crowd {
        std::uint32_t key;
        std::uint32_t others;   // words of the head left in quads_ (longer ones)
        std::uint64_t lengths;  // bit L - 4: a word of L bytes; 0 marks an empty slot
        std::uint32_t four;     // the word of four bytes (bit 0 of lengths), the head itself
        std::uint32_t least;    // the lowest index of its longer words (in exact_)
    };
    struct Exact {
        std::uint64_t head;  // the word's first eight bytes (fewer: zeros after them)
        std::uint32_t word;
        std::uint32_t length;  // 0 marks an empty slot
    };
    // The same for the crowds' words of six bytes or more, by their first six
    // (a third character in Japanese text), before they are looked up whole.
    static constexpr std::uint64_t kSixBytes = (std::uint64_t{1} << 48) - 1;
    std::vector<std::uint8_t> six_least_;  // empty: fewer words
    unsigned six_shift_ = 64;
    std::size_t SixSlot(std::uint64_t six) const noexcept {
        return static_cast<std::size_t>((six * 0x9E3779B97F4A7C15ull) >> six_shift_);
    }
    // Whether a crowd's word of six bytes or more whose first six are `six`
    // (little-endian) may come before `limit`.
    bool SixWanted(std::uint64_t six, std::uint32_t limit) const noexcept {
        return six_least_.empty() || six_least_[SixSlot(six)] <= LeastBound(limit);
    }
    std::vector<Crowd> crowds_;  // open addressing, a power of two slots
    std::vector<Exact> exact_;   // the same
    unsigned crowd_shift_ = 32;
    unsigned exact_shift_ = 64;
    void BuildCrowds(std::vector<KeyTable::Item>& quads, SetupPacer& pacer);
    const Crowd* CrowdOf(std::uint32_t quad) const noexcept;
    void AtCrowd(const char* p, std::size_t pos, const Crowd& crowd, std::size_t left,
                 Sink& out) const;
    // Above this many bytes of tables, candidates are looked up in batches
    // whose memory is fetched ahead (see Candidates).
    static constexpr std::size_t kPrefetchFrom = 512 * 1024;
    static constexpr std::size_t kAhead = 16;  // positions
    bool prefetch_ = false;
    // A word of four bytes or more before `limit` may start at `at`: its head
    // `q` passes the bit set and quad_least_.
    bool HeadMayStart(const char* at, std::size_t left, std::uint32_t limit,
                      std::uint32_t& q) const;
    void FetchHead(const char* at, std::size_t left, std::uint32_t limit) const;
    void FetchWords(const char* at, std::size_t left, std::uint32_t limit) const;
    // Words of kLongFrom bytes or more. Compared whole wherever their head
    // occurs they would cost their length at each place, and a run of one
    // character (ーーー, ＝＝＝) holds a near match at every byte. They are
    // found by an automaton (Aho-Corasick) that runs from a head that passed
    // the filter for as long as a word is under way there: no byte of the
    // buffer is stepped over twice, and none beside a head at all.
    struct Automaton {
        static constexpr std::uint32_t kNone = 0;  // node 0 is the root
        std::array<std::uint32_t, 256> root{};     // the root's children by byte
        std::vector<std::uint8_t> label;           // by node: the byte that leads to it
        std::vector<std::uint32_t> child;          // the first child
        std::vector<std::uint32_t> sibling;        // the next child of the same parent
        std::vector<std::uint32_t> fail;           // the longest proper suffix that is a node
        std::vector<std::uint32_t> dict;           // the nearest one of those that ends a word
        std::vector<std::uint32_t> word;           // the word that ends here, or kAnyWord
        std::vector<std::uint32_t> best;           // the lowest of `word` here and down `dict`
        bool Empty() const noexcept { return label.empty(); }
        std::uint32_t Child(std::uint32_t node, unsigned char c) const noexcept;
        std::uint32_t Add(std::uint32_t node, unsigned char c);
        void Reserve(std::size_t bytes);  // the words' total length
        void Link(SetupPacer& pacer);
    };
    static constexpr std::size_t kLongFrom = 16;
    Automaton long_;
    // Runs the automaton from `pos` (a head passed there) until no word is
    // under way, reporting what ends on the way.
    void RunLong(const char* p, std::size_t pos, std::size_t n, Sink& out) const;
    // The words that end at node `node`, before `end`.
    void ReportLong(const char* p, std::size_t n, std::size_t end, std::uint32_t node,
                    Sink& out) const;
    // Nibbles: for each of the first four bytes of a word, bucket masks by
    // low and by high nibble.
    static constexpr std::size_t kNibbleBytes = 4;
    std::array<std::array<std::uint8_t, 16>, kNibbleBytes> lo_{}, hi_{};
    bool deep_ = false;  // all four bytes, not the first two only
};

}  // namespace korvalen
