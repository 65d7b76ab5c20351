// The chunked line reader against the whole-buffer split, with chunk sizes
// taken from the input.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "text/lines.hpp"

namespace {

// Hands out the data in chunks whose sizes cycle through `sizes` (1-16).
class CycleSource : public korvalen::ByteSource {
  public:
    CycleSource(std::string_view data, std::string_view sizes) : data_(data), sizes_(sizes) {}
    std::size_t Read(char* buf, std::size_t n) override {
        const std::size_t want =
            (static_cast<unsigned char>(sizes_[next_++ % sizes_.size()]) & 15) + 1;
        korvalen::MemorySource part(data_, want);
        const std::size_t got = part.Read(buf, n);
        data_.remove_prefix(got);
        return got;
    }

  private:
    std::string_view data_;
    std::string_view sizes_;
    std::size_t next_ = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) {
        return 0;
    }
    // Byte 0: the reader's chunk; byte 1: how many following bytes give the
    // source's chunk sizes; the rest is the text.
    const std::size_t chunk = data[0] % 64 + 1;
    const std::size_t n_sizes = std::min<std::size_t>(data[1] % 8 + 1, size - 2);
    const std::string_view all(reinterpret_cast<const char*>(data), size);
    const std::string_view sizes = n_sizes ? all.substr(2, n_sizes) : std::string_view("\x03");
    const std::string_view text = all.substr(2 + n_sizes);

    std::vector<std::string> whole;
    korvalen::ForEachLine(text, [&](std::string_view line) { whole.emplace_back(line); });

    CycleSource source(text, sizes);
    korvalen::LineReader reader(source, chunk);
    std::string_view line;
    std::size_t i = 0;
    while (reader.Next(line)) {
        if (i >= whole.size() || line != whole[i]) {
            std::abort();
        }
        ++i;
    }
    if (i != whole.size() || reader.Next(line)) {
        std::abort();
    }
    return 0;
}
