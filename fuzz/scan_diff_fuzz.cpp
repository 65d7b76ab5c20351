// The fast scanners against the literal ones on one file: the same output
// bytes and hit count, for the options and words the input picks; the same
// for a run over the text cut into several files, the fast one on several
// threads with a tiny bound on what a file searched ahead holds; and the
// fast core gives the hits of the word loop whatever the size of its blocks
// and pieces, for code page 932 text and for the same bytes as UTF-8.
//
// Input: byte 0 options, byte 1 block size, byte 2 word count (0-7), the
// engine (bits 3-4) and the threads (bits 5-6), then each word as a length
// byte and its bytes, then the file's text.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <tuple>
#include <vector>

#include "run/fast_scan.hpp"
#include "run/search_run.hpp"
#include "tests/search/fast_oracle.hpp"
#include "tests/support/literal_scan.hpp"
#include "tests/support/quiet_host.hpp"
#include "tests/support/temp_dir.hpp"
#include "text/encoding.hpp"

namespace korvalen {
namespace {

// A run over `names` into `out`, with the literal or the fast scanners: its
// bytes and hit count.
std::tuple<std::string, std::int64_t> Run(QuietHost& host, const iset& options,
                                          const std::vector<std::string>& names,
                                          const std::string& out, bool fast, bool byLine,
                                          std::size_t bound) {
    SearchRun run(host);
    if (!fast) {
        run.UseScanners(kLiteralScanners);
    }
    run.SetHoldBound(bound);
    run.Drop({names, host.words, out, options, byLine});
    return {TempDir::Read(out), run.State().HitCount};
}

}  // namespace
}  // namespace korvalen

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace korvalen;
    if (size < 3) {
        return 0;
    }
    const std::uint8_t opt = data[0];
    const std::size_t block = 1 + data[1];
    std::size_t at = 3;
    QuietHost host;
    for (unsigned n = data[2] % 8; n > 0 && at < size; --n) {
        const std::size_t len = std::min<std::size_t>(data[at] % 8, size - at - 1);
        host.words.emplace_back(reinterpret_cast<const char*>(data + at + 1), len);
        at += 1 + len;
    }
    const std::string_view text(reinterpret_cast<const char*>(data + at), size - at);
    if (host.words.empty()) {
        return 0;  // a run refuses an empty word list
    }

    iset options;
    options.JapaneseWord = (opt & 1) != 0;
    options.CRText = (opt & 2) != 0;
    options.TagJump = (opt & 8) != 0;
    options.FileSeparate = (opt & 16) != 0;
    const std::int32_t widths[] = {0, 78, 9, -1};
    options.OutputStrLength = widths[(opt >> 5) & 3];
    options.Threads = 1 + ((data[2] >> 5) & 3);
    const bool byLine = (opt & 4) != 0;

    static const TempDir dir;
    // One file on one thread, with a tiny bound: held hit lines go through the
    // temporary file too.
    iset one = options;
    one.Threads = 1;
    const std::vector<std::string> in = {dir.File("in.txt", text)};
    if (Run(host, one, in, dir / "got.txt", true, byLine, 64) !=
        Run(host, one, in, dir / "want.txt", false, byLine, 64)) {
        std::fprintf(stderr, "fast and literal scanners differ\n");
        std::abort();
    }

    // The text cut into up to four files of equal parts: a run on one thread
    // with the literal scanners, one on the input's threads with the fast ones.
    {
        std::vector<std::string> names;
        const std::size_t parts = 1 + (data[1] & 3);
        const std::size_t step = (text.size() + parts - 1) / parts;
        for (std::size_t p = 0; p < parts; ++p) {
            const std::string_view part =
                p * step < text.size() ? text.substr(p * step, step) : std::string_view();
            names.push_back(dir.File("part" + std::to_string(p), part));
        }
        if (Run(host, options, names, dir / "got.txt", true, byLine, 1 + (data[1] >> 2)) !=
            Run(host, one, names, dir / "want.txt", false, byLine, HeldLines::kDefaultBound)) {
            std::fprintf(stderr, "a run on several threads and one on one thread differ\n");
            std::abort();
        }
    }

    // Block boundaries anywhere: the hits of the word loop.
    const FastScanner::Config config{options.JapaneseWord, options.CRText, byLine};
    const Matcher::Engine engines[] = {Matcher::Engine::Scalar, Matcher::Engine::Nibbles,
                                       Matcher::Engine::NibblesNarrow, Matcher::Engine::Hashed};
    FastScanner scanner(config, engines[(data[2] >> 3) & 3]);
    scanner.SetWords(host.words);
    scanner.SetBlockSize(block);
    // Pieces of a few lines or of one on up to four threads: the same hits.
    scanner.SetThreads(1 + ((data[2] >> 5) & 3), 1 + block / 4);
    test::Recorder rec(scanner, {}, -1);
    if ((opt & 64) != 0) {
        MemorySource source(text, 1 + block / 3);
        scanner.ScanSource(source, rec);
    } else {
        scanner.ScanBuffer(text, rec);
    }
    rec.result.lines = scanner.LinesDone();
    if (rec.result != test::Literal(text, config, host.words, {}, INT64_MAX)) {
        std::fprintf(stderr, "fast scanner and word loop differ\n");
        std::abort();
    }

    // The text as a UTF-8 file, in the same pieces: the hits of its code page
    // 932 form; a provisional scan that settled on code page 932 reads it as
    // that (mark dropped), one that gave up must have met bytes not UTF-8.
    {
        FastScanner utf8(config, engines[(data[2] >> 3) & 3]);
        utf8.SetWords(host.words);
        utf8.SetBlockSize(block);
        utf8.SetThreads(1 + ((data[2] >> 5) & 3), 1 + block / 4);
        test::Recorder r(utf8, {}, -1);
        MemorySource source(text, 1 + block / 3);
        const bool provisional = (opt & 64) != 0;
        const bool stands = utf8.ScanUtf8Source(source, r, provisional);
        r.result.lines = utf8.LinesDone();
        const std::string_view as_cp932 = text.substr(text.starts_with("\xEF\xBB\xBF") ? 3 : 0);
        const std::string read =
            r.settled > 0 ? std::string(as_cp932) : ToCp932(std::string(text), TextEncoding::Utf8);
        if (stands ? r.result != test::Literal(read, config, host.words, {}, INT64_MAX)
                   : !provisional || SummarizeUtf8(text).valid) {
            std::fprintf(stderr, "UTF-8 scan and word loop differ\n");
            std::abort();
        }
    }
    return 0;
}
