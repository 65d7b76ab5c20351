// Plain, slow stand-ins for the character walk, written without the library,
// and a generator of byte strings that favours the bytes where walks go wrong.
// Shared by the text tests and the text fuzzers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <random>
#include <string>
#include <string_view>
#include <vector>

namespace korvalen::oracle {

inline bool Lead(char c) {
    const auto b = static_cast<unsigned char>(c);
    return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC);
}

// Byte offsets at which a character starts, walking from the front, followed
// by the offset where the walk ends (s.size(), or s.size() + 1 after a lone
// lead byte at the end).
inline std::vector<std::size_t> CharStarts(std::string_view s) {
    std::vector<std::size_t> starts;
    std::size_t i = 0;
    while (i < s.size()) {
        starts.push_back(i);
        i += Lead(s[i]) ? 2 : 1;
    }
    starts.push_back(i);
    return starts;
}

inline std::int32_t AlignedPos(std::string_view word, std::string_view line) {
    const std::vector<std::size_t> starts = CharStarts(line);
    for (std::size_t k = 0; k < starts.size(); ++k) {
        const std::size_t at = starts[k];
        if (at + word.size() <= line.size() && line.compare(at, word.size(), word) == 0) {
            return static_cast<std::int32_t>(k + 1);
        }
    }
    return 0;
}

// "61 82 A0" for failure messages.
inline std::string Hex(std::string_view s) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string out;
    for (char c : s) {
        const auto b = static_cast<unsigned char>(c);
        out += out.empty() ? "" : " ";
        out += kDigits[b >> 4];
        out += kDigits[b & 15];
    }
    return out;
}

// Random bytes, mostly lead bytes, 0x40, blanks, quotes, commas and breaks.
inline std::string RandomBytes(std::mt19937& rng, std::size_t max_len) {
    static constexpr unsigned char kFavoured[] = {0x81, 0x82, 0x9F, 0xE0, 0xFC, 0x40, 0x40,
                                                  0x20, 0x09, '"',  ',',  '\r', '\n', 'a',
                                                  0xA0, 0xA6, 0x00, 0x1A, 0x5C, 0x7F};
    std::uniform_int_distribution<std::size_t> length(0, max_len);
    std::uniform_int_distribution<int> kind(0, 3);
    std::uniform_int_distribution<int> any(0, 255);
    std::uniform_int_distribution<int> lead(0, 0x1F + 0x1D - 1);
    std::uniform_int_distribution<std::size_t> favoured(0, sizeof kFavoured - 1);
    std::string s(length(rng), '\0');
    for (char& c : s) {
        switch (kind(rng)) {
            case 0:
                c = static_cast<char>(any(rng));
                break;
            case 1: {
                const int k = lead(rng);
                c = static_cast<char>(k < 0x1F ? 0x81 + k : 0xE0 + (k - 0x1F));
                break;
            }
            default:
                c = static_cast<char>(kFavoured[favoured(rng)]);
        }
    }
    return s;
}

}  // namespace korvalen::oracle
