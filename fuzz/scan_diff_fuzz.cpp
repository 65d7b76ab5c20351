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

// Ends the fuzzer's run where the two sides differ.
void Same(bool same, const char* what) {
    if (!same) {
        std::fprintf(stderr, "%s differ\n", what);
        std::abort();
    }
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
    Same(Run(host, one, in, dir / "got.txt", true, byLine, 64) ==
             Run(host, one, in, dir / "want.txt", false, byLine, 64),
         "fast and literal scanners");

    // The text cut into up to four files of equal parts: a run on one thread
    // with the literal scanners, one on the input's threads with the fast ones.
    std::vector<std::string> names;
    const std::size_t parts = 1 + (data[1] & 3);
    const std::size_t step = (text.size() + parts - 1) / parts;
    for (std::size_t p = 0; p < parts; ++p) {
        const std::string_view part =
            p * step < text.size() ? text.substr(p * step, step) : std::string_view();
        names.push_back(dir.File("part" + std::to_string(p), part));
    }
    Same(Run(host, options, names, dir / "got.txt", true, byLine, 1 + (data[1] >> 2)) ==
             Run(host, one, names, dir / "want.txt", false, byLine, HeldLines::kDefaultBound),
         "a run on several threads and one on one thread");

    // Block boundaries anywhere, pieces of a few lines or of one on up to four
    // threads: the hits of the word loop, for the text as code page 932 and as
    // a UTF-8 file. A provisional UTF-8 scan that settled on code page 932 reads
    // it as that (mark dropped), one that gave up must have met bytes not UTF-8.
    const FastScanner::Config config{options.JapaneseWord, options.CRText, byLine};
    const Matcher::Engine engines[] = {Matcher::Engine::Scalar, Matcher::Engine::Nibbles,
                                       Matcher::Engine::NibblesNarrow, Matcher::Engine::Hashed};
    const bool fromSource = (opt & 64) != 0;
    for (const bool utf8 : {false, true}) {
        FastScanner scanner(config, engines[(data[2] >> 3) & 3]);
        scanner.SetWords(host.words);
        scanner.SetBlockSize(block);
        scanner.SetThreads(options.Threads, 1 + block / 4);
        test::Recorder rec(scanner, {}, -1);
        MemorySource source(text, 1 + block / 3);
        bool stands = true;
        std::string read(text);
        if (utf8) {
            stands = scanner.ScanUtf8Source(source, rec, fromSource);
            read = rec.settled > 0 ? read.substr(text.starts_with("\xEF\xBB\xBF") ? 3 : 0)
                                   : ToCp932(read, TextEncoding::Utf8);
        } else if (fromSource) {
            scanner.ScanSource(source, rec);
        } else {
            scanner.ScanBuffer(text, rec);
        }
        rec.result.lines = scanner.LinesDone();
        Same(stands ? rec.result == test::Literal(read, config, host.words, {}, INT64_MAX)
                    : fromSource && !SummarizeUtf8(text).valid,
             utf8 ? "UTF-8 scan and word loop" : "fast scanner and word loop");
    }
    return 0;
}
