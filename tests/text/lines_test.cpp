#include "text/lines.hpp"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "tests/support/random_chunks.hpp"
#include "tests/text/sjis_oracle.hpp"

namespace korvalen {
namespace {

using namespace std::string_literals;
using Lines = std::vector<std::string>;

Lines Whole(std::string_view buf) {
    Lines lines;
    ForEachLine(buf, [&](std::string_view line) { lines.emplace_back(line); });
    return lines;
}

Lines Chunked(ByteSource& source, std::size_t chunk) {
    LineReader reader(source, chunk);
    Lines lines;
    std::string_view line;
    while (reader.Next(line)) {
        lines.emplace_back(line);
    }
    EXPECT_FALSE(reader.Next(line));  // the end stays the end
    return lines;
}

TEST(Lines, BreaksAtEveryChunkSize) {
    struct Row {
        std::string s;
        Lines lines;
    };
    const std::string long_line(300, 'x');
    for (const Row& r : std::vector<Row>{
             {"", {}},
             {"a", {"a"}},
             {"a\n", {"a"}},
             {"a\r\n", {"a"}},
             {"a\r", {"a"}},
             {"\n", {""}},
             {"\r\n\r\n", {"", ""}},
             {"a\r\r\nb", {"a", "", "b"}},
             {"a\n\rb", {"a", "", "b"}},
             {"a\n\n", {"a", ""}},
             {"\r\r", {"", ""}},
             {"\n\r\n", {"", ""}},
             {"a\rb\r\nc\nd", {"a", "b", "c", "d"}},
             {"x\0y\x1Az\r\n\x1A"s, {"x\0y\x1Az"s, "\x1A"}},
             {"\x82\r\n\x82\n", {"\x82", "\x82"}},
             {long_line + "\r\n" + long_line + "\r", {long_line, long_line}},
         }) {
        EXPECT_EQ(Whole(r.s), r.lines) << oracle::Hex(r.s);
        std::vector<std::string_view> views = SplitLines(r.s);
        EXPECT_EQ(Lines(views.begin(), views.end()), r.lines) << oracle::Hex(r.s);
        // Both the reader's own chunk and a source that gives less than asked.
        for (std::size_t chunk = 1; chunk <= r.s.size() + 1; ++chunk) {
            MemorySource whole(r.s);
            EXPECT_EQ(Chunked(whole, chunk), r.lines) << oracle::Hex(r.s) << " chunk " << chunk;
            MemorySource dribble(r.s, chunk);
            EXPECT_EQ(Chunked(dribble, 4096), r.lines) << oracle::Hex(r.s) << " source " << chunk;
        }
    }
}

TEST(Lines, RandomChunksAgreeWithWholeBuffer) {
    std::mt19937 rng(77);
    std::uniform_int_distribution<std::size_t> chunk(1, 40);
    for (int round = 0; round < 3000; ++round) {
        const std::string s = oracle::RandomBytes(rng, round % 10 == 0 ? 2000 : 120);
        const Lines expected = Whole(s);
        RandomChunks source(s, rng);
        ASSERT_EQ(Chunked(source, chunk(rng)), expected) << oracle::Hex(s);
    }
}

}  // namespace
}  // namespace korvalen
