#include "text/sjis.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <string_view>

#include "tests/text/sjis_oracle.hpp"

namespace korvalen {
namespace {

// Every byte against the plain range test; the character walk itself is
// checked against the oracle in RandomWalks.
TEST(Sjis, IsLeadByte) {
    for (int b = 0; b < 256; ++b) {
        EXPECT_EQ(IsLeadByte(static_cast<unsigned char>(b)), oracle::Lead(static_cast<char>(b)))
            << b;
        EXPECT_EQ(IsLeadByte(static_cast<char>(b)), oracle::Lead(static_cast<char>(b))) << b;
    }
}

TEST(Sjis, ByteTrims) {
    struct Row {
        std::string_view s, left, right, both;
    };
    for (const Row& r : {
             Row{" \tab \t", "ab \t", " \tab", "ab"},
             Row{"\t \t", "", "", ""},
             Row{"", "", "", ""},
             Row{"\x81\x40\x61 ", "\x81\x40\x61 ", "\x81\x40\x61", "\x81\x40\x61"},
             Row{" a b ", "a b ", " a b", "a b"},
         }) {
        EXPECT_EQ(TrimLeftSpaces(r.s), r.left) << oracle::Hex(r.s);
        EXPECT_EQ(TrimRightSpaces(r.s), r.right) << oracle::Hex(r.s);
        EXPECT_EQ(TrimSpaces(r.s), r.both) << oracle::Hex(r.s);
    }
}

TEST(Sjis, BlankTrims) {
    struct Row {
        std::string_view s, left, right;
    };
    for (const Row& r : {
             Row{" \x81\x40\ta b ", "a b ", " \x81\x40\ta b"},
             Row{"\x81\x40\x81\x40\x81\x40", "", ""},
             Row{"a\x81\x40\x62\x81\x40 ", "a\x81\x40\x62\x81\x40 ", "a\x81\x40\x62"},
             Row{" a", "a", " a"},
             Row{"\x88\x81\x40", "\x88\x81\x40", "\x88\x81\x40"},
             Row{"\x81\x40\x81", "\x81", "\x81\x40\x81"},
             Row{"a\x81", "a\x81", "a\x81"},
             Row{"\x81\x41 ", "\x81\x41 ", "\x81\x41"},
             Row{"", "", ""},
         }) {
        EXPECT_EQ(TrimLeftBlanks(r.s), r.left) << oracle::Hex(r.s);
        EXPECT_EQ(TrimRightBlanks(r.s), r.right) << oracle::Hex(r.s);
    }
}

TEST(Sjis, CutHead) {
    struct Row {
        std::string_view s;
        std::int32_t n;
        std::string_view head, rest;
    };
    constexpr std::string_view kAbAc = "\x61\x62\x82\xA0\x63";
    for (const Row& r : {
             Row{kAbAc, 3, "\x61\x62\x20", "\x82\xA0\x63"},
             Row{kAbAc, 4, "\x61\x62\x82\xA0", "\x63"},
             Row{kAbAc, 5, kAbAc, ""},
             Row{kAbAc, 6, kAbAc, ""},
             Row{kAbAc, 0, "", kAbAc},
             Row{kAbAc, -7, "", kAbAc},
             Row{"\x82\xA0\x78", 1, "\x20", "\x82\xA0\x78"},
             Row{"\x61\x62\x82", 3, "\x61\x62\x20", "\x82"},
             Row{"\x81\x81\x81", 3, "\x81\x81\x20", "\x81"},
             Row{"\x81\x81\x81", 2, "\x81\x81", "\x81"},
             Row{"", 0, "", ""},
             Row{"", 1, "", ""},
         }) {
        std::string_view s = r.s;
        EXPECT_EQ(CutHead(s, r.n), r.head) << oracle::Hex(r.s) << " n=" << r.n;
        EXPECT_EQ(s, r.rest) << oracle::Hex(r.s) << " n=" << r.n;
    }
}

TEST(Sjis, AlignedPos) {
    struct Row {
        std::string_view word, line;
        std::int32_t pos;
    };
    for (const Row& r : {
             Row{"a", "xa", 2},
             Row{"A", "\x83\x41", 0},
             Row{"A", "\x83\x41\x41", 2},
             Row{"", "\x83\x41", 1},
             Row{"", "", 1},
             Row{"abc", "ab", 0},
             Row{"\x83\x41", "\x83\x83\x41", 0},
             Row{"\x83\x41", "a\x83\x41", 2},
             Row{"b", "\x82\xA0\x61\x62", 3},
             Row{"ab", "ab", 1},
             Row{"\x82", "a\x82", 2},
         }) {
        EXPECT_EQ(AlignedPos(r.word, r.line), r.pos)
            << oracle::Hex(r.word) << " in " << oracle::Hex(r.line);
    }
}

// Random strings against the plain walk of the oracle.
TEST(Sjis, RandomWalks) {
    std::mt19937 rng(20240611);
    for (int round = 0; round < 4000; ++round) {
        const std::string s = oracle::RandomBytes(rng, 24);
        const std::vector<std::size_t> starts = oracle::CharStarts(s);

        std::string_view rest = s;
        std::string joined;
        std::size_t k = 0;
        for (std::string_view ch = TakeChar(rest); !ch.empty(); ch = TakeChar(rest), ++k) {
            ASSERT_EQ(ch.data() - s.data(), static_cast<std::ptrdiff_t>(starts[k]));
            joined += ch;
        }
        ASSERT_EQ(joined, s);
        ASSERT_EQ(k + 1, starts.size());

        std::uniform_int_distribution<int> width(-1, static_cast<int>(s.size()) + 2);
        const std::int32_t n = width(rng);
        std::string_view cut = s;
        std::string head = CutHead(cut, n);
        if (n < 1) {
            ASSERT_TRUE(head.empty());
            ASSERT_EQ(cut, s);
        } else if (static_cast<std::size_t>(n) > s.size()) {
            ASSERT_EQ(head, s);
            ASSERT_TRUE(cut.empty());
        } else {
            const auto un = static_cast<std::size_t>(n);
            const bool on_boundary = std::find(starts.begin(), starts.end(), un) != starts.end();
            ASSERT_EQ(head.size(), un);
            if (!on_boundary) {
                ASSERT_EQ(head.back(), ' ');
                head.pop_back();
            }
            ASSERT_EQ(head + std::string(cut), s);
        }

        // A piece of the line itself, so that hits are common; and 0x40, a
        // common second byte.
        std::uniform_int_distribution<std::size_t> at(0, s.size());
        const std::size_t from = at(rng);
        for (const std::string& word : {s.substr(from, at(rng) % 4), std::string("\x40")}) {
            const std::int32_t pos = AlignedPos(word, s);
            ASSERT_EQ(pos, oracle::AlignedPos(word, s)) << "word of " << word.size() << " bytes";
            if (pos > 0) {
                ASSERT_EQ(s.compare(starts[pos - 1], word.size(), word), 0);
                ASSERT_LE(s.find(word), starts[pos - 1]);
            }
        }
    }
}

}  // namespace
}  // namespace korvalen
