// UTF-8 files scanned from their own bytes, with lines that cannot hold a
// hit counted instead of converted: the same hits, line numbers and progress
// as scanning the converted text, and as the literal scanners.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "fixture.hpp"
#include "search/fast_scan.hpp"
#include "search/scanner.hpp"
#include "text/cp932.hpp"
#include "text/encoding.hpp"

namespace korvalen::test {
namespace {

// Pieces of text: ASCII, kana, kanji, half-width katakana (one byte in code
// page 932), full-width forms (EF lead bytes), characters without a code
// page 932 form, the forms Linux input methods type for ～－∥￠￡￢― (which
// convert to the same codes; a run of them has too many forms to look for
// all), and blanks.
const std::vector<std::string>
    kPieces = {"a",  "b",  "ab", " ",  "\t",         "x1",          "検", "索", "検索", "エ",
               "ン", "の", "ｶ",  "ﾀ",  "ﾟ",          "｡",           "（", "）", "～",   "＄",
               "　", "😀",  "€",  "Ω",  "é",          "ü",           "〓", "丂", "﨑",   "①",
               "Ⅰ",  "¬",  "∵",  "￢", "ｰ",          "･",           "〜", "−",  "‖",    "¢",
               "£",  "—",  "―",  "∥",  "〜～〜〜～", "\xEF\xBD\xA0"};  // U+FF60: no form

const char* const kBreaks[] = {"\r\n", "\n", "\r"};

std::string RandomText(std::mt19937& rng, std::size_t lines) {
    std::string text;
    for (std::size_t i = 0; i < lines; ++i) {
        const std::size_t n = rng() % 12;
        for (std::size_t k = 0; k < n; ++k) {
            text += kPieces[rng() % kPieces.size()];
        }
        if (i + 1 < lines || rng() % 2 == 0) {
            text += kBreaks[rng() % 3];
        }
    }
    return text;
}

// Words as code page 932 bytes, mostly taken from the text's pieces; some
// break the filter's conditions (the mark, a lone lead byte, an empty word).
std::vector<std::string> RandomWords(std::mt19937& rng, bool exact) {
    std::vector<std::string> words;
    const std::size_t count = 1 + rng() % 4;
    for (std::size_t i = 0; i < count; ++i) {
        std::string w;
        const std::size_t n = 1 + rng() % 3;
        for (std::size_t k = 0; k < n; ++k) {
            w += kPieces[rng() % kPieces.size()];
        }
        words.push_back(Utf8ToCp932(w));
    }
    if (!exact) {
        switch (rng() % 3) {
            case 0:
                words.push_back(Sj("〓"));
                break;
            case 1:
                words.push_back("\x88");  // a lead byte without its trail
                break;
            default:
                words.push_back(Sj("検\x81\xAC"));  // the mark's bytes inside a word
        }
    }
    if (rng() % 4 == 0) {
        words.push_back("");
    }
    return words;
}

struct Recorder : FastScanner::Host {
    std::string hits;
    std::int64_t progress = 0;
    std::size_t blocks = 0;
    std::vector<std::string> next_words;  // set on the second block
    FastScanner* scanner = nullptr;

    void Hit(std::int64_t number, std::uint32_t word, std::string_view text) override {
        hits +=
            std::to_string(number) + ":" + std::to_string(word) + ":" + std::string(text) + "\n";
    }
    bool AfterBlock(std::int64_t p) override {
        progress += p;
        if (++blocks == 2 && !next_words.empty()) {
            scanner->SetWords(next_words);
        }
        return true;
    }
};

// Scans `utf8` from its own bytes and, as before, its conversion.
void ExpectSame(const std::string& utf8, const std::vector<std::string>& words,
                FastScanner::Config config, std::size_t block) {
    FastScanner fast(config);
    fast.SetBlockSize(block);
    fast.SetWords(words);
    Recorder got;
    MemorySource raw(utf8, 1 + block / 3);
    fast.ScanUtf8Source(raw, got,
                        /*provisional=*/false);

    FastScanner plain(config);
    plain.SetBlockSize(block);
    plain.SetWords(words);
    Recorder want;
    const std::string converted = ToCp932(utf8, TextEncoding::Utf8);
    MemorySource converted_src(converted);
    plain.ScanSource(converted_src, want);

    EXPECT_EQ(got.hits, want.hits);
    EXPECT_EQ(got.progress, want.progress);
    EXPECT_EQ(fast.LinesDone(), plain.LinesDone());
}

TEST(FastUtf8, RandomTextsMatchTheConvertedScan) {
    std::mt19937 rng(20261206);
    for (int round = 0; round < 3000; ++round) {
        const bool exact = round % 4 != 0;
        const std::string text =
            (round % 7 == 0 ? "\xEF\xBB\xBF" : "") + RandomText(rng, 1 + rng() % 40);
        const std::vector<std::string> words = RandomWords(rng, exact);
        FastScanner::Config config;
        config.japanese_word = round % 5 != 1;
        config.cr_text = round % 6 == 2;
        config.trim_prev = round % 2 == 0;
        const std::size_t block = 1 + rng() % 300;
        SCOPED_TRACE("round " + std::to_string(round));
        ExpectSame(text, words, config, block);
        if (HasFailure()) {
            return;
        }
    }
}

TEST(FastUtf8, InvalidBytesAndLongGaps) {
    // Invalid sequences (cut by breaks, lone continuation bytes, overlong
    // forms) and lines far apart, so that gaps are counted and candidates
    // grouped; blocks both small and large.
    std::mt19937 rng(7);
    const std::vector<std::string> bad = {"\xE3\x81", "\xE3",         "\x80",
                                          "\xC0\xAF", "\xED\xA0\x80", "\xF4\x90\x80\x80",
                                          "\xEF\xBD", "\xEF"};
    for (int round = 0; round < 200; ++round) {
        std::string text = "\xEF\xBB\xBF";
        const std::size_t lines = 50 + rng() % 400;
        for (std::size_t i = 0; i < lines; ++i) {
            if (rng() % 9 == 0) {
                text += bad[rng() % bad.size()];
            }
            text += RandomText(rng, 1);
            if (rng() % 50 == 0) {
                text += std::string(5000, 'z');
            }
            text += kBreaks[rng() % 3];
        }
        text += bad[rng() % bad.size()];  // the file ends inside a sequence
        const std::vector<std::string> words = RandomWords(rng, true);
        SCOPED_TRACE("round " + std::to_string(round));
        for (const std::size_t block : {std::size_t{64}, std::size_t{4096}, FastScanner::kBlock}) {
            ExpectSame(text, words, {}, block);
        }
        if (HasFailure()) {
            return;
        }
    }
}

TEST(FastUtf8, WordsChangeBetweenBlocks) {
    // Many lines per block; the words change after the second block, to a
    // set that the filter can use or cannot.
    std::mt19937 rng(11);
    for (int round = 0; round < 300; ++round) {
        const std::string text = RandomText(rng, 200);
        const std::vector<std::string> first = RandomWords(rng, true);
        const std::vector<std::string> second = RandomWords(rng, round % 2 == 0);
        const std::size_t block = 100 + rng() % 400;
        // Both sides see their second block end at a different line: change
        // the words where the UTF-8 scan did and cut the converted scan there.
        FastScanner fast({});
        fast.SetBlockSize(block);
        fast.SetWords(first);
        Recorder got;
        got.next_words = second;
        got.scanner = &fast;
        MemorySource raw(text);
        fast.ScanUtf8Source(raw, got, /*provisional=*/false);

        // The converted scan, words changed after the same lines: line by line.
        FastScanner plain({});
        plain.SetWords(first);
        Recorder want;
        std::size_t lines_before_change = 0;
        {
            FastScanner probe({});
            probe.SetBlockSize(block);
            probe.SetWords(first);
            struct Count : FastScanner::Host {
                std::size_t blocks = 0;
                std::int64_t lines = 0;
                FastScanner* s = nullptr;
                void Hit(std::int64_t, std::uint32_t, std::string_view) override {}
                bool AfterBlock(std::int64_t) override {
                    if (++blocks == 2) {
                        lines = s->LinesDone();
                        return false;
                    }
                    return true;
                }
            } count;
            count.s = &probe;
            MemorySource again(text);
            probe.ScanUtf8Source(again, count, /*provisional=*/false);
            lines_before_change = static_cast<std::size_t>(count.lines);
            if (count.blocks < 2) {
                lines_before_change = SIZE_MAX;
            }
        }
        const std::string converted = ToCp932(text, TextEncoding::Utf8);
        std::size_t cut = 0;
        for (std::size_t line = 0; line < lines_before_change && cut < converted.size(); ++line) {
            cut = converted.find_first_of("\r\n", cut);
            if (cut == std::string::npos) {
                cut = converted.size();
                break;
            }
            cut += (converted.compare(cut, 2, "\r\n") == 0) ? 2 : 1;
        }
        MemorySource head(std::string_view(converted).substr(0, cut));
        plain.ScanSource(head, want);
        plain.SetWords(second);
        MemorySource tail(std::string_view(converted).substr(cut));
        plain.ScanSource(tail, want);
        SCOPED_TRACE("round " + std::to_string(round));
        EXPECT_EQ(got.hits, want.hits);
        EXPECT_EQ(got.progress, want.progress);
        if (HasFailure()) {
            return;
        }
    }
}

// Whole runs, four scanners, files on disk: byte-identical output and the
// same progress before each file's end.
TEST(FastUtf8, RunsMatchTheLiteralScanners) {
    std::mt19937 rng(3);
    TempDir dir;
    for (int round = 0; round < 60; ++round) {
        const std::string path = dir / "u.txt";
        std::string text = RandomText(rng, 30 + rng() % 300);
        if (round % 3 == 0) {
            text = "\xEF\xBB\xBF" + text;
        }
        if (text.find_first_of("\x80\xFF") == std::string::npos) {
            text += "検";  // detected as UTF-8
        }
        WriteBytes(path, text);
        iset options;
        options.OutputStrLength = round % 2 == 0 ? 0 : 40;
        options.ErrorStop = false;
        options.SearchIconize = false;
        options.InputEncoding = 1;
        options.JapaneseWord = round % 4 != 3;
        options.CRText = round % 5 == 4;
        const std::vector<std::string> words = RandomWords(rng, round % 3 != 1);
        // By line, a line joined with the next is right-trimmed first; in
        // memory it is not: the two may differ with CRText.
        std::string expected[2];
        std::int64_t expected_progress = -1;
        for (const bool by_line : {false, true}) {
            for (const bool literal : {true, false}) {
                RecordingHost host;
                host.words = words;
                host.shiftCtrl = by_line;
                SearchRun run(host);
                run.UseLiteralScanners(literal);
                host.run = &run;
                std::string out = dir / "out.txt";
                run.Drop({path}, out, options);
                const std::string output = ReadBytes(out);
                ASSERT_GE(host.positions.size(), 2u);
                const std::int64_t progress = host.positions[host.positions.size() - 2];
                SCOPED_TRACE("round " + std::to_string(round) + " by line " +
                             std::to_string(by_line) + " literal " + std::to_string(literal));
                if (expected_progress < 0) {
                    expected_progress = progress;
                }
                if (literal) {
                    expected[by_line] = output;
                }
                EXPECT_EQ(output, expected[by_line]);
                EXPECT_EQ(progress, expected_progress);
            }
        }
        if (HasFailure()) {
            return;
        }
    }
}

// Files whose first megabyte is ASCII or valid UTF-8 are scanned as UTF-8
// before the rest is known; what comes later decides. Whatever it is, the
// output, the hit count and the file's progress are those of the literal
// scanners, which read the whole file first.
TEST(FastUtf8, FilesDecidedLateMatchTheLiteralScanners) {
    TempDir dir;
    // Long paths make long hit lines: the in-memory twin writes out what it
    // holds before the end of the larger files.
    const std::string folder = dir / std::string(200, 'd');
    std::filesystem::create_directory(folder);
    const std::string ascii = "a plain line with abc in it, and some more text to pad it out\n";
    const std::string utf8 = "検索の行です、abc もあります。もう少し長くしておきます\n";
    const std::string sjis = Sj("検索の行です、abc もあります") + "\n";
    auto times = [](const std::string& line, int n) {
        std::string text;
        for (int i = 0; i < n; ++i) {
            text += line;
        }
        return text;
    };
    struct Case {
        const char* name;
        std::string text;
    };
    const std::vector<Case> cases = {
        {"ascii then utf8", times(ascii, 18000) + times(utf8, 50)},
        {"ascii throughout", times(ascii, 18000)},
        {"ascii then sjis", times(ascii, 18000) + sjis + times(ascii, 50)},
        {"utf8 then sjis", times(utf8, 16000) + sjis + times(utf8, 50)},
        {"utf8 then sjis, many hits", times(utf8, 60000) + sjis},
        {"utf8 cut short at the end", times(utf8, 16000) + "\xE6\xA4"},
    };
    const std::string second = dir / "second.txt";
    WriteBytes(second, Sj("二つ目の検索\r\n"));
    const std::string out = dir / "out.txt";
    for (const Case& c : cases) {
        const std::string path = folder + "/" + "f.txt";
        WriteBytes(path, c.text);
        const auto size = static_cast<std::int64_t>(c.text.size());
        for (int variant = 0; variant < 3; ++variant) {
            iset options;
            options.ErrorStop = false;
            options.SearchIconize = false;
            options.InputEncoding = 1;
            options.OutputStrLength = 0;
            options.CRText = variant == 1;
            options.JapaneseWord = variant != 2;
            options.FileOverWrite = variant != 0;
            std::string expected, expected_status;
            std::int64_t expected_progress = -1;
            for (const bool by_line : {false, true}) {
                for (const bool literal : {true, false}) {
                    RecordingHost host;
                    host.words = {"abc", Sj("検索")};
                    host.shiftCtrl = by_line;
                    SearchRun run(host);
                    run.UseLiteralScanners(literal);
                    host.run = &run;
                    WriteBytes(out, "an earlier run\r\n");
                    std::string target = out;
                    run.Drop({path, second}, target, options);
                    // The first file's own progress comes just before the
                    // run sets it to the file's size.
                    const auto& pos = host.positions;
                    const auto at = std::find(pos.rbegin(), pos.rend(), size);
                    ASSERT_TRUE(at != pos.rend() && at + 1 != pos.rend());
                    const std::int64_t progress = *(at + 1);
                    const std::vector<std::string> status = host.Only("status 検索中：2/2");
                    ASSERT_FALSE(status.empty());
                    const std::string output = ReadBytes(out);
                    SCOPED_TRACE(std::string(c.name) + " variant " + std::to_string(variant) +
                                 " by line " + std::to_string(by_line) + " literal " +
                                 std::to_string(literal));
                    if (expected_progress < 0) {
                        expected = output;
                        expected_status = status.front();
                        expected_progress = progress;
                    }
                    EXPECT_EQ(output.size(), expected.size());
                    EXPECT_TRUE(output == expected);
                    EXPECT_EQ(status.front(), expected_status);
                    EXPECT_EQ(progress, expected_progress);
                }
            }
        }
        if (HasFailure()) {
            return;
        }
    }
}

// Reading `path` fails once it would go past `limit` bytes.
class FailPast : public FileOps {
  public:
    FailPast(std::string path, std::size_t limit) : path_(std::move(path)), limit_(limit) {}
    int Open(const char* path, int flags, mode_t mode) override {
        const int fd = FileOps::Open(path, flags, mode);
        if (path_ == path) {
            fd_ = fd;
            read_ = 0;
        }
        return fd;
    }
    ssize_t Read(int fd, void* buf, std::size_t n) override {
        if (fd == fd_ && read_ + n > limit_) {
            errno = EIO;
            return -1;
        }
        const ssize_t got = FileOps::Read(fd, buf, n);
        read_ += got > 0 ? static_cast<std::size_t>(got) : 0;
        return got;
    }

  private:
    std::string path_;
    std::size_t limit_;
    int fd_ = -1;
    std::size_t read_ = 0;
};

TEST(FastUtf8, AReadFailureBeforeTheEncodingIsKnownLeavesNoHit) {
    // As when the whole file is read first to know its encoding: the hits
    // found before the failure go, and the file gets its error block.
    TempDir dir;
    const std::string path = dir / "u.txt";
    std::string text;
    for (int i = 0; i < 60000; ++i) {
        text += "検索の行です、もう少し長くしておきます\n";
    }
    WriteBytes(path, text);
    const std::string out = dir / "out.txt";
    iset options;
    options.ErrorStop = false;
    options.SearchIconize = false;
    options.InputEncoding = 1;
    std::string expected;
    for (const bool by_line : {false, true}) {
        for (const bool literal : {true, false}) {
            RecordingHost host;
            host.words = {Sj("検索")};
            host.shiftCtrl = by_line;
            SearchRun run(host);
            run.UseLiteralScanners(literal);
            FailPast ops(path, 3 << 20);
            std::string target = out;
            {
                ScopedFileOps scoped(ops);
                run.Drop({path}, target, options);
            }
            const std::string output = ReadBytes(out);
            SCOPED_TRACE("by line " + std::to_string(by_line) + " literal " +
                         std::to_string(literal));
            EXPECT_EQ(output.find(Sj("検索の行")), std::string::npos);
            EXPECT_NE(output.find(FileErrorText()), std::string::npos);
            if (expected.empty()) {
                expected = output;
            }
            EXPECT_TRUE(output == expected);
        }
    }
}

}  // namespace
}  // namespace korvalen::test
