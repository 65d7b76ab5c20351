// The results window on a large output: 1,000,000 hit lines (~100 MB) of
// Japanese text. Times, medians of 5: reading the file whole (the floor any
// viewer pays), the window opening on it (read in slices, index, first
// paint) and the longest slice, paging through it; peak memory against the
// file's size, and what stays after closing. In each round also the same
// lines with hit text that reads like a head (as after searching an earlier
// output) while the files named are missing: each line has two readings and
// asks whether files exist; it should open in the same time.
//
//   results_bench [LINES]      (QT_QPA_PLATFORM=offscreen is set when unset)
#include <time.h>
#include <QApplication>
#include <QListView>
#include <QScrollBar>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "app/results.hpp"
#include "text/cp932.hpp"

namespace {

using Clock = std::chrono::steady_clock;

double Ms(Clock::time_point since) {
    return std::chrono::duration<double, std::milli>(Clock::now() - since).count();
}

// CPU time of the calling thread (the window's).
double ThreadCpuMs() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) * 1e3 + static_cast<double>(now.tv_nsec) / 1e6;
}

// A figure of /proc/self/status in kB ("VmHWM:" the peak, "VmRSS:" now).
long Kb(const std::string& key) {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind(key, 0) == 0) {
            return std::strtol(line.c_str() + key.size(), nullptr, 10);
        }
    }
    return -1;
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
    if (std::getenv("QT_QPA_PLATFORM") == nullptr) {
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    }
    const long lines = argc > 1 ? std::atol(argv[1]) : 1000000;
    QApplication app(argc, argv);
    const std::string dir = std::filesystem::temp_directory_path() / "korvalen_results_bench";
    std::filesystem::create_directories(dir);
    const std::string out = dir + "/out.txt";
    const std::string lookalike = dir + "/lookalike.txt";
    for (const bool heads : {false, true}) {
        std::ofstream file(heads ? lookalike : out, std::ios::binary | std::ios::trunc);
        const std::string text = korvalen::Utf8ToCp932(
            "　吾輩は猫である。名前はまだ無い。どこで生れたかとんと見当がつかぬ。何でも薄暗い");
        for (long i = 0; i < lines; ++i) {
            const std::string path =
                korvalen::Utf8ToCp932("資料/日本語 (" + std::to_string(i / 1000) + ").txt");
            file << path << '(' << (i % 1000 + 1) << ") :(" << korvalen::Utf8ToCp932("猫") << ')';
            // The same bytes in both files, only the brackets differ.
            file << "old/" << i << (heads ? ".txt(" : ".txt[") << i
                 << (heads ? ") :(x)" : "] :[x]");
            file << text << "\r\n";
        }
    }
    const auto size = static_cast<double>(std::filesystem::file_size(out));
    std::vector<double> read, open, openCpu, page, openHeads, openHeadsCpu, longest;
    double firstPaint = 0;
    for (int round = 0; round < 5; ++round) {
        const auto t = Clock::now();
        std::ifstream in(out, std::ios::binary);
        std::string all(static_cast<std::size_t>(size), '\0');
        in.read(all.data(), static_cast<std::streamsize>(all.size()));
        read.push_back(Ms(t));
    }
    korvalen::TResultsForm form([](const std::string&, std::int64_t, korvalen::WordColumns) {});
    form.resize(800, 600);
    // Opens the window afresh on `file` (a closed window keeps nothing) and
    // waits till it is read and painted; notes the longest the window's
    // thread was kept at once.
    const auto openOn = [&](const std::string& file) {
        form.close();
        const auto t = Clock::now();
        double cpu = ThreadCpuMs();
        form.ShowFile(file);
        double most = ThreadCpuMs() - cpu;
        // Then the slices of reading and of the list's layout, each between
        // events, till the whole list is laid out.
        // (The first turn paints the window newly shown: noted apart.)
        const QScrollBar* bar = form.LResults->verticalScrollBar();
        for (bool first = true; form.Loading() || bar->maximum() < form.Model()->rowCount() - 100;
             first = false) {
            cpu = ThreadCpuMs();
            QCoreApplication::processEvents();
            (first ? firstPaint : most) = std::max(first ? 0.0 : most, ThreadCpuMs() - cpu);
        }
        (void)form.LResults->viewport()->grab();
        longest.push_back(most);
        return Ms(t);
    };
    // The window shown once on a few lines and closed: what painting brings
    // in (fonts, libraries) is not the file's.
    {
        std::ifstream in(out, std::ios::binary);
        std::string some(1 << 16, '\0');
        in.read(some.data(), static_cast<std::streamsize>(some.size()));
        std::ofstream(dir + "/some.txt", std::ios::binary) << some;
    }
    openOn(dir + "/some.txt");
    form.close();
    // The peak from here on: the window on the file (writing 5 resets the kernel's mark).
    std::ofstream("/proc/self/clear_refs") << "5";
    const long baseKb = Kb("VmHWM:");
    const long baseRssKb = Kb("VmRSS:");
    longest.clear();
    long openRssKb = 0;
    for (int round = 0; round < 5; ++round) {
        const std::clock_t cpu = std::clock();
        open.push_back(openOn(out));
        openCpu.push_back(1000.0 * static_cast<double>(std::clock() - cpu) / CLOCKS_PER_SEC);
        openRssKb = Kb("VmRSS:");

        // 200 jumps spread over the whole list, each page painted (grabbed).
        const auto t = Clock::now();
        QScrollBar* bar = form.LResults->verticalScrollBar();
        for (int k = 0; k < 200; ++k) {
            bar->setValue(static_cast<int>(static_cast<long>(bar->maximum()) * k / 200));
            (void)form.LResults->viewport()->grab();
        }
        page.push_back(Ms(t) / 200);
        // The same lines with text that reads like heads, in the same round.
        const std::clock_t headsCpu = std::clock();
        openHeads.push_back(openOn(lookalike));
        openHeadsCpu.push_back(1000.0 * static_cast<double>(std::clock() - headsCpu) /
                               CLOCKS_PER_SEC);
    }
    const int rows = form.Model()->rowCount();
    const long peakKb = Kb("VmHWM:");
    form.close();
    const long closedRssKb = Kb("VmRSS:");
    std::printf("lines %ld, file %.1f MB, rows %d\n", lines, size / 1e6, rows);
    std::printf("read the file whole     %8.1f ms\n", Median(read));
    std::printf("open the window on it   %8.1f ms   (%.2f x reading it)\n", Median(open),
                Median(open) / Median(read));
    std::printf("  of which CPU time     %8.1f ms   (the rest is waiting: disk, other work)\n",
                Median(openCpu));
    std::printf(
        "  window's thread busy  %8.1f ms CPU at most at once (median of the longest;\n"
        "                        the window's first paint apart: %.1f ms)\n",
        Median(longest), firstPaint);
    std::printf("one page, painted       %8.2f ms\n", Median(page));
    std::printf("open, text like heads   %8.1f ms   (%.2f x the plain lines)\n", Median(openHeads),
                Median(openHeads) / Median(open));
    std::printf("  of which CPU time     %8.1f ms   (%.2f x the plain lines)\n",
                Median(openHeadsCpu), Median(openHeadsCpu) / Median(openCpu));
    std::printf("peak memory %.1f MB (before opening %.1f MB): %.2f x the file\n", peakKb / 1024.0,
                baseKb / 1024.0, (peakKb - baseKb) * 1024.0 / size);
    std::printf(
        "resident: %.1f MB before opening (shown once on a few lines), %.1f MB open, "
        "%.1f MB after closing\n",
        baseRssKb / 1024.0, openRssKb / 1024.0, closedRssKb / 1024.0);
    std::filesystem::remove_all(dir);
    return 0;
}
