// A byte source that hands out a random count of bytes at every read: 1 up to
// what was asked, capped at `max`. Readers must give the same result however
// their input arrives.
#pragma once

#include <algorithm>
#include <cstdint>
#include <random>
#include <string_view>

#include "text/lines.hpp"

namespace korvalen {

class RandomChunks : public ByteSource {
  public:
    RandomChunks(std::string_view data, std::mt19937& rng, std::size_t max = SIZE_MAX)
        : data_(data), rng_(rng), max_(max) {}
    std::size_t Read(char* buf, std::size_t n) override {
        std::uniform_int_distribution<std::size_t> count(
            1, std::max<std::size_t>(1, std::min(n, max_)));
        MemorySource part(data_, count(rng_));
        const std::size_t got = part.Read(buf, n);
        data_.remove_prefix(got);
        return got;
    }

  private:
    std::string_view data_;
    std::mt19937& rng_;
    std::size_t max_;
};

}  // namespace korvalen
