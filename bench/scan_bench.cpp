// One file through one scanner, for the benchmark: the fast scanners or the
// line-by-line reference, with the default options of the INI file.
//   scan_bench [--ref] [--by-line] [--cr-text] WORDS-FILE OUTPUT INPUT
// Prints the hit-line count to standard output.
//   scan_bench --engines WORDS-FILE INPUT
// Times the matcher alone with each of its engines over INPUT (held in
// memory, copied block by block into a buffer as a read would), best of 3.
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "match/matcher.hpp"
#include "platform/file.hpp"
#include "run/fast_scan.hpp"
#include "run/fast_search.hpp"
#include "run/scanner.hpp"
#include "tests/support/literal_scan.hpp"
#include "tests/support/quiet_host.hpp"
#include "text/lines.hpp"

namespace korvalen {
namespace {

std::string ReadAll(const std::string& path) {
    File f(path, File::Mode::Read);
    std::string data(static_cast<std::size_t>(f.Size()), '\0');
    std::size_t used = 0;
    while (used < data.size()) {
        const std::size_t got = f.Read(data.data() + used, data.size() - used);
        if (got == 0) {
            break;
        }
        used += got;
    }
    data.resize(used);
    return data;
}

// The matcher alone: how long each engine takes over the file, and which one
// the scanners would use.
int Engines(const std::vector<std::string>& words, const std::string& input) {
    const std::string data = ReadAll(input);
    std::string buf(FastScanner::kBlock, '\0');
    const std::pair<const char*, Matcher::Engine> engines[] = {
        {"best", Matcher::Engine::Best},
        {"scalar", Matcher::Engine::Scalar},
        {"nibbles", Matcher::Engine::Nibbles},
        {"nibbles (32 bytes)", Matcher::Engine::NibblesNarrow},
        {"hashed", Matcher::Engine::Hashed}};
    const char* names[] = {"best", "scalar", "nibbles", "nibbles (32 bytes)", "hashed"};
    std::printf("| engine | used | seconds | occurrences |\n|---|---|---:|---:|\n");
    for (const auto& [name, engine] : engines) {
        const Matcher matcher(words, engine);
        std::vector<Matcher::Match> found;
        Matcher::Breaks breaks;
        double best = 1e9;
        std::size_t count = 0;
        for (int round = 0; round < 3; ++round) {
            double seconds = 0;
            count = 0;
            for (std::size_t at = 0; at < data.size(); at += buf.size()) {
                const std::size_t n = std::min(buf.size(), data.size() - at);
                std::memcpy(buf.data(), data.data() + at, n);
                const auto t0 = std::chrono::steady_clock::now();
                found.clear();
                matcher.FindAll(std::string_view(buf.data(), n), found, &breaks);
                seconds +=
                    std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
                count += found.size();
            }
            best = std::min(best, seconds);
        }
        std::printf("| %s | %s | %.3f | %zu |\n", name, names[static_cast<int>(matcher.Used())],
                    best, count);
    }
    return 0;
}

int Main(int argc, char** argv) {
    if (argc == 4 && std::string_view(argv[1]) == "--engines") {
        std::vector<std::string> words;
        const std::string wordData = ReadAll(argv[2]);
        ForEachLine(wordData, [&](std::string_view w) { words.emplace_back(w); });
        return Engines(words, argv[3]);
    }
    bool ref = false;
    bool byLine = false;
    iset options;  // the INI defaults
    int i = 1;
    for (; i < argc && argv[i][0] == '-'; ++i) {
        const std::string_view a = argv[i];
        if (a == "--ref") {
            ref = true;
        } else if (a == "--by-line") {
            byLine = true;
        } else if (a == "--cr-text") {
            options.CRText = true;
        } else {
            std::fprintf(stderr, "unknown option %s\n", argv[i]);
            return 2;
        }
    }
    if (argc - i != 3) {
        std::fprintf(stderr,
                     "usage: scan_bench [--ref] [--by-line] [--cr-text] WORDS OUT IN\n"
                     "       scan_bench --engines WORDS IN\n");
        return 2;
    }
    std::vector<std::string> words;
    const std::string wordData = ReadAll(argv[i]);
    ForEachLine(wordData, [&](std::string_view w) { words.emplace_back(w); });
    QuietHost host;
    host.words = words;
    host.echoMessages = true;
    RunState state;
    state.Searching = true;
    OutFile out;
    out.Open(argv[i + 1], true);
    WordCache cache(host);
    HeldLines held(argv[i + 1], HeldLines::kDefaultBound);
    ScanContext ctx{host, state, out, options, cache, held};
    const std::string name = argv[i + 2];
    if (ref) {
        if (byLine) {
            SearchByLine(ctx, name, true);
        } else {
            SearchInMemory(ctx, name, true);
        }
    } else if (byLine) {
        FastSearchByLine(ctx, name, true);
    } else {
        FastSearchInMemory(ctx, name, true);
    }
    out.Close();
    std::printf("%lld\n", static_cast<long long>(state.HitCount));
    return 0;
}

}  // namespace
}  // namespace korvalen

int main(int argc, char** argv) {
    try {
        return korvalen::Main(argc, argv);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "scan_bench: %s\n", e.what());
        return 2;
    }
}
