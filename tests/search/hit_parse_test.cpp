// Reading output lines back: the shared table of line forms, and every hit
// the writer composes read back as itself.
#include <gtest/gtest.h>

#include <fstream>
#include <random>
#include <set>

#include "search/hit_parse.hpp"
#include "search/hit_writer.hpp"
#include "text/cp932.hpp"

namespace korvalen::test {
namespace {

std::vector<std::string> Fields(const std::string& row) {
    std::vector<std::string> fields;
    std::size_t at = 0;
    for (std::size_t tab; (tab = row.find('\t', at)) != std::string::npos; at = tab + 1) {
        fields.push_back(row.substr(at, tab - at));
    }
    fields.push_back(row.substr(at));
    return fields;
}

TEST(HitParse, SharedTable) {
    std::ifstream in(KORVALEN_HIT_LINES);
    ASSERT_TRUE(in) << KORVALEN_HIT_LINES;
    std::vector<std::vector<std::string>> rows;
    std::set<std::string> existing;  // code page 932 paths
    for (std::string row; std::getline(in, row);) {
        if (!row.empty() && row[0] != '#') {
            rows.push_back(Fields(row));
            ASSERT_EQ(rows.back().size(), 7u) << row;
            if (rows.back()[6] == "1") {
                existing.insert(Utf8ToCp932(rows.back()[2]));
            }
        }
    }
    const std::map<std::string, OutputLineKind> kinds = {{"hit", OutputLineKind::Hit},
                                                         {"error", OutputLineKind::FileError},
                                                         {"sep", OutputLineKind::Separator},
                                                         {"empty", OutputLineKind::Empty},
                                                         {"other", OutputLineKind::Other}};
    const PathExists exists = [&](std::string_view p) { return existing.contains(std::string(p)); };
    for (const auto& f : rows) {
        const std::string line = Utf8ToCp932(f[0]);
        const OutputLine got = ReadOutputLine(line, exists);
        EXPECT_EQ(got.kind, kinds.at(f[1])) << f[0];
        if (got.kind == OutputLineKind::Hit || got.kind == OutputLineKind::FileError) {
            EXPECT_EQ(Cp932ToUtf8(got.path), f[2]) << f[0];
        }
        if (got.kind == OutputLineKind::Hit) {
            EXPECT_EQ(got.number, std::stoll(f[3])) << f[0];
            EXPECT_EQ(Cp932ToUtf8(got.word), f[4]) << f[0];
            EXPECT_EQ(Cp932ToUtf8(got.text), f[5]) << f[0];
        }
    }
}

// Random hits, paths and texts full of look-alikes of both heads: each line
// the writer composes reads back as its own file, line, word and text (the
// text as written: cut and trimmed).
TEST(HitParse, RoundTripThroughTheWriter) {
    std::mt19937 rng(14);
    const std::vector<std::string> pieces = {
        "a", " ",    "(",        ")", ":", "(1) :(", " 2:(", "3", "\xE6\x97\xA5", "\xEF\xBD\xB1",
        "/", ".txt", "\x81\x40", "\t"};
    auto random = [&](std::size_t most, bool forWord) {
        std::string s;
        for (std::size_t n = rng() % most; n > 0; --n) {
            std::string piece = pieces[rng() % pieces.size()];
            if (!forWord || piece.find(')') == std::string::npos) {
                s += piece;
            }
        }
        return s;
    };
    for (int i = 0; i < 20000; ++i) {
        iset options;
        options.TagJump = (rng() & 1) != 0;
        options.OutputStrLength = std::int32_t(rng() % 4 == 0 ? 0 : rng() % 120);
        const std::string path = "x" + random(8, false);
        const std::int64_t number = 1 + std::int64_t(rng() % 100000);
        const std::string word = random(3, true);
        const std::string text = random(10, false);
        const std::string line = ComposeHitLine(path, number, word, text, options);
        const std::string written = OutputPath(path);
        const OutputLine got =
            ReadOutputLine(line, [&](std::string_view p) { return p == written; });
        ASSERT_EQ(got.kind, OutputLineKind::Hit) << line;
        EXPECT_EQ(got.path, written) << line;
        EXPECT_EQ(got.number, number) << line;
        EXPECT_EQ(got.word, word) << line;
        const std::size_t head = written.size() + (options.TagJump ? 5 : 3) +
                                 std::to_string(number).size() + word.size() + 1;
        EXPECT_EQ(got.text, line.substr(std::min(head, line.size()))) << line;
    }
}

}  // namespace
}  // namespace korvalen::test
