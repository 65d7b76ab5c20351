// One file through one scanner, for the benchmark: the fast scanners or the
// line-by-line reference, with the default options of the INI file.
//   scan_bench [--ref] [--by-line] [--cr-text] WORDS-FILE OUTPUT INPUT
// Prints the hit-line count to standard output.
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "platform/file.hpp"
#include "search/fast_search.hpp"
#include "search/scanner.hpp"
#include "text/lines.hpp"

namespace korvalen {
namespace {

class BenchHost : public RunHost {
  public:
    explicit BenchHost(std::vector<std::string> words) : words_(std::move(words)) {}
    void SetStatusText(std::string_view) override {}
    void SetCaption(std::string_view) override {}
    void SetAppTitle(std::string_view) override {}
    void SetProgressMax(std::int64_t) override {}
    void SetProgressPos(std::int64_t) override {}
    void SetProgressVisible(bool) override {}
    void LockControls() override {}
    void UnlockControls() override {}
    void Minimize() override {}
    void Restore() override {}
    void ShowMessage(std::string_view utf8) override {
        std::fprintf(stderr, "%.*s\n", static_cast<int>(utf8.size()), utf8.data());
    }
    void ProcessMessages() override {}
    std::uint64_t WordsGeneration() override { return 1; }
    std::vector<std::string> SearchWords() override { return words_; }
    void OpenWithEditor(const std::string&) override {}
    std::int64_t AvailablePhysicalMemory() override { return 0; }
    bool ShiftCtrlDown() override { return false; }
    std::string AskOutputPath() override { return {}; }
    void SetDropTarget(bool) override {}

  private:
    std::vector<std::string> words_;
};

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

int Main(int argc, char** argv) {
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
        std::fprintf(stderr, "usage: scan_bench [--ref] [--by-line] [--cr-text] WORDS OUT IN\n");
        return 2;
    }
    std::vector<std::string> words;
    const std::string wordData = ReadAll(argv[i]);
    ForEachLine(wordData, [&](std::string_view w) { words.emplace_back(w); });
    BenchHost host(words);
    RunState state;
    state.Searching = true;
    OutFile out;
    out.Open(argv[i + 1], true);
    WordCache cache(host);
    ScanContext ctx{host, state, out, options, cache};
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
