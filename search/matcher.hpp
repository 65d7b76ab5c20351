// Every occurrence of every search word in a buffer, in one pass: the filter
// in front of the exact per-line rules of the scanners.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace korvalen {

class Matcher {
  public:
    enum class Engine {
        Best,    // the vector filter where the processor has AVX2 and the words suit it
        Scalar,  // one position at a time (the reference for the vector filter)
    };

    struct Match {
        std::size_t end;     // one past the last byte of the occurrence
        std::uint32_t word;  // index in the word list given to the constructor
    };

    // Words that can never occur in a line (empty ones, ones holding CR or LF)
    // are left out. Of equal words only the first is reported: it always wins.
    explicit Matcher(const std::vector<std::string>& words, Engine engine = Engine::Best);

    // Appends every occurrence in `buf`, overlapping ones included, sorted by
    // end. `buf` may be of any size.
    void FindAll(std::string_view buf, std::vector<Match>& out) const;

    // No word can occur anywhere.
    bool Empty() const noexcept { return ids_.empty(); }
    std::size_t Length(std::uint32_t word) const noexcept { return lengths_[word]; }
    bool Vectorised() const noexcept { return vector_; }

  private:
    // The occurrences that start at `pos`.
    void At(const char* p, std::size_t pos, std::size_t n, std::vector<Match>& out) const;
    void FindScalar(const char* p, std::size_t n, std::vector<Match>& out) const;
    void FindVector(const char* p, std::size_t n, std::vector<Match>& out) const;

    std::vector<std::string> words_;    // all words, by index
    std::vector<std::size_t> lengths_;  // by index
    std::vector<std::uint32_t> ids_;    // the words that take part
    bool any_single_ = false;
    // Words of one byte by that byte; longer ones by their first two bytes.
    std::vector<std::vector<std::uint32_t>> single_;                   // 256 lists
    std::vector<std::uint64_t> pair_bits_;                             // 65536 bits
    std::vector<std::pair<std::uint16_t, std::uint32_t>> pair_words_;  // sorted, 2 or 3 bytes
    // Words of four bytes or more by their first four, behind a hashed bitset.
    std::vector<std::uint64_t> quad_bits_;                             // 65536 bits
    std::vector<std::pair<std::uint32_t, std::uint32_t>> quad_words_;  // sorted
    // The vector filter: for the first and the second byte of a word, bucket
    // masks by low and by high nibble (a word of one byte accepts any second).
    bool vector_ = false;
    std::array<std::uint8_t, 16> lo0_{}, hi0_{}, lo1_{}, hi1_{};
};

}  // namespace korvalen
