// Several files searched at once: the output, the hit count and every call
// the host hears are those of one thread, whatever the thread count and the
// bound on what a file searched ahead may hold.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <random>

#include "fixture.hpp"

namespace korvalen::test {
namespace {

Ran RunOn(Scan scan, const std::vector<std::string>& names, const std::string& out, iset o,
          const std::vector<std::string>& words, std::int32_t threads, std::size_t bound,
          const std::function<void(RecordingHost&)>& onProcess = {}) {
    o.Threads = threads;
    RecordingHost host;
    host.words = words;
    host.onProcess = onProcess;
    host.memory = 2 << 20;  // lines over a megabyte end their file with the error block
    if (std::filesystem::is_regular_file(out)) {
        std::filesystem::remove(out);
    }
    return RunScan(host, scan, names, out, o, bound);
}

// Files of every kind a run meets, shared by the rounds.
struct Corpus {
    TempDir dir;
    std::string out = dir / "out.txt";
    // A UTF-8 start, code page 932 far on: read again as such once that is seen.
    std::string late =
        dir.File("late.txt", "検索\r\n" + Times("x\r\n", 200'000) + Sj("検索") + "\r\n");
    std::string longLine = dir.File("long.txt", "a\r\n" + std::string(1 << 20, 'b') + "\r\na\r\n");
    std::string utf8 = dir.File("utf8.txt", "検索 a\r\nb\r\n");
    std::string empty = dir.File("empty.txt", "");
    std::string missing = dir / "missing.txt";
    std::string folder = [this] {
        std::filesystem::create_directory(dir / "sub");
        return dir / "sub";
    }();
};

TEST(Crew, RandomRunsGiveOneThreadsBytesAndCalls) {
    std::mt19937 rng(2026);
    Corpus c;
    const std::string fixed[] = {c.late, c.longLine, c.utf8, c.empty, c.missing, c.folder};
    for (int round = 0; round < 16; ++round) {
        // Odd rounds drop the round's folder in place of its files: walked
        // on a thread of its own with a crew.
        const bool walk = round % 2 == 1;
        const std::string folder = c.dir / ("r" + std::to_string(round));
        std::filesystem::create_directory(folder);
        std::vector<std::string> names;
        std::string sample;
        for (std::size_t i = 0, n = 3 + rng() % 12; i < n; ++i) {
            if (rng() % 3 == 0) {
                names.push_back(fixed[rng() % std::size(fixed)]);
            } else {
                const std::string text = RandomSjis(rng, rng() % 4 == 0 ? 20'000 : 400);
                names.push_back(c.dir.File(folder + "/f" + std::to_string(i), text));
                sample += text;
                if (walk && names.size() > 1 && names[names.size() - 2].starts_with(folder)) {
                    names.pop_back();
                } else if (walk) {
                    names.back() = folder;
                }
            }
        }
        std::vector<std::string> words = {"a", Sj("検索")};
        for (std::size_t i = rng() % 3; i > 0 && !sample.empty(); --i) {
            words.push_back(sample.substr(rng() % sample.size(), 1 + rng() % 3));
        }
        iset o = Quiet();
        o.SearchFolders = walk;
        o.FolderFilter = "";
        o.FileSeparate = rng() % 2 == 0;
        o.CRText = rng() % 3 == 0;
        o.InputEncoding = static_cast<std::int32_t>(rng() % 2);
        o.ErrorStop = rng() % 2 == 0;
        o.TagJump = rng() % 2 == 0;
        const Scan scan = rng() % 3 == 0 ? Scan::FastByLine : Scan::FastInMemory;
        const Scan literal = ByLine(scan) ? Scan::LiteralByLine : Scan::LiteralInMemory;
        const auto trace = ::testing::PrintToString(std::tuple(round, names, words));
        const Ran one = RunOn(scan, names, c.out, o, words, 1, HeldLines::kDefaultBound);
        // The literal scanners know no line limit: the long line's file is the
        // fast scanners' alone.
        if (std::find(names.begin(), names.end(), c.longLine) == names.end()) {
            const Ran want = RunOn(literal, names, c.out, o, words, 1, HeldLines::kDefaultBound);
            ASSERT_EQ(one.output, want.output) << trace;
            ASSERT_EQ(one.hits, want.hits) << trace;
        }
        for (const std::int32_t threads : {2, 3, 4}) {
            const std::size_t bound = rng() % 2 == 0 ? 1 + rng() % 64 : HeldLines::kDefaultBound;
            const Ran got = RunOn(scan, names, c.out, o, words, threads, bound);
            ASSERT_EQ(got.output, one.output) << threads << " " << bound << trace;
            EXPECT_EQ(got.hits, one.hits);
            EXPECT_EQ(got.log, one.log) << threads << " " << bound << trace;
            EXPECT_EQ(got.processCalls, one.processCalls) << threads << " " << bound << trace;
            EXPECT_EQ(got.positions, one.positions) << threads << " " << bound << trace;
        }
    }
}

// The first file's open waits until the second was opened (for at most a
// few seconds): only a run that searches more than one file at a time
// gets past it at once.
class WaitForSecond : public FileOps {
  public:
    WaitForSecond(std::string first, std::string second)
        : first_(std::move(first)), second_(std::move(second)) {}
    bool waited = false;  // the first open saw the second's

    int Open(const char* path, int flags, mode_t mode) override {
        std::unique_lock lock(mutex_);
        if (path == second_) {
            secondOpened_ = true;
            opened_.notify_all();
        } else if (path == first_) {
            waited = opened_.wait_for(lock, std::chrono::seconds(5), [&] { return secondOpened_; });
        }
        lock.unlock();
        return FileOps::Open(path, flags, mode);
    }

  private:
    std::string first_, second_;
    std::mutex mutex_;
    std::condition_variable opened_;
    bool secondOpened_ = false;
};

TEST(Crew, FilesAreSearchedAtOnce) {
    Corpus c;
    // Each a batch of its own.
    const std::string first = c.dir.File("1", Times("a line\r\n", 150'000));
    const std::string second = c.dir.File("2", Times("a line\r\n", 150'000));
    WaitForSecond ops(first, second);
    const ScopedFileOps scoped(ops);
    const Ran got = RunOn(Scan::FastInMemory, {first, second}, c.out, Quiet(), {"a"}, 2,
                          HeldLines::kDefaultBound);
    EXPECT_EQ(got.hits, 300'000);
    EXPECT_TRUE(ops.waited);
}

// A Stop while file k is written ends the run there: no line of a later
// file, the file in hand whole or cut as one thread cuts it.
TEST(Crew, StopEndsTheRunAtTheFileInHand) {
    Corpus c;
    std::vector<std::string> names;
    std::filesystem::create_directory(c.dir / "stop");
    for (int i = 0; i < 8; ++i) {
        names.push_back(c.dir.File("stop/s" + std::to_string(i), Times("a line\r\n", 5'000)));
    }
    const Ran full = RunOn(Scan::FastByLine, names, c.out, Quiet(), {"a"}, 1, 64);
    iset walk = Quiet();  // the same files as a folder
    walk.SearchFolders = true;
    walk.FolderFilter = "";
    for (const auto& [scan, o] :
         {std::pair{Scan::FastInMemory, Quiet()}, std::pair{Scan::FastByLine, Quiet()},
          std::pair{Scan::FastInMemory, walk}}) {
        const std::vector<std::string> dropped =
            o.SearchFolders ? std::vector{c.dir / "stop"} : names;
        for (const std::int32_t threads : {1, 2, 4}) {
            for (const std::size_t k : {1, 3, 8}) {
                const std::string showing = "検索中：" + std::to_string(k) + "/";
                const Ran got =
                    RunOn(scan, dropped, c.out, o, {"a"}, threads, 64, [&](RecordingHost& h) {
                        if (h.status.starts_with(showing)) {
                            h.run->Stop();
                        }
                    });
                SCOPED_TRACE(std::to_string(threads) + " " + std::to_string(k) +
                             (o.SearchFolders ? " folder" : ""));
                EXPECT_EQ(got.outcome, RunOutcome::Stopped);
                std::string kept = got.output;
                if (kept.ends_with("\r\n\r\n")) {
                    kept.resize(kept.size() - 2);  // the separator after a cut file
                }
                EXPECT_TRUE(full.output.starts_with(kept));
                EXPECT_GE(kept.size(), (k - 1) * 5'000 * names[0].size());
                if (k < names.size()) {
                    EXPECT_EQ(got.output.find(names[k]), std::string::npos);
                }
                EXPECT_EQ(got.log.back(), "drop on");
            }
        }
    }
}

// A failure of the output ends every thread; the run says so.
TEST(Crew, OutputFailureEndsTheRun) {
    Corpus c;
    std::vector<std::string> names;
    for (int i = 0; i < 40; ++i) {
        names.push_back(c.dir.File("o" + std::to_string(i), Times("a\r\n", 2'000)));
    }
    for (const std::string& out : {std::string("/dev/full"), c.folder}) {
        for (const std::int32_t threads : {2, 3}) {
            const Ran got = RunOn(Scan::FastInMemory, names, out, Quiet(), {"a"}, threads, 64);
            EXPECT_EQ(got.outcome, RunOutcome::OutputFailed) << out << threads;
            EXPECT_EQ(std::count(got.log.begin(), got.log.end(), "status ファイルに出力できません"),
                      1);
        }
    }
}

}  // namespace
}  // namespace korvalen::test
