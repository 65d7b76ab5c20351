// The run as a front end sees it.
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <utility>

#include "fixture.hpp"

namespace korvalen::test {
namespace {

using Log = std::vector<std::string>;

struct Trial {
    TempDir dir;
    RecordingHost host;
    iset options = Quiet();
    std::string out = dir / "out.txt";
    Scan scan = Scan::LiteralInMemory;  // these tests pin the per-line calls
    std::size_t holdBound = HeldLines::kDefaultBound;
    Ran ran;

    Trial() { host.words = {"a"}; }
    RunOutcome Drop(const std::vector<std::string>& names, const std::string& to = "") {
        ran = RunScan(host, scan, names, to.empty() ? out : to, options, holdBound);
        return ran.outcome;
    }
    std::string Output() const { return TempDir::Read(out); }
    // The last `n` calls, one string.
    std::string Tail(std::size_t n) const {
        n = std::min(n, host.log.size());  // a short log fails the check, not the test program
        return Joined(Log(host.log.end() - static_cast<std::ptrdiff_t>(n), host.log.end()));
    }
    static std::string Joined(const Log& log) {
        std::string s;
        for (const std::string& e : log) {
            s += e + "|";
        }
        return s;
    }
};

std::string Hit(const std::string& path, int number, std::string_view text = "a") {
    return HitOf(path, number, "a", text);
}

const std::string kErr = "ファイルアクセスでエラーが生じました：";

TEST(Run, NormalRunShowsEveryStepInOrder) {
    Trial r;
    r.options.SearchIconize = true;
    r.options.OutputFileOpen = true;
    const std::string a = r.dir.File("a.txt", "a1\r\nxx\r\n");        // 8 bytes
    const std::string b = r.dir.File("b.txt", "zz\r\na2\r\na3\r\n");  // 12 bytes
    EXPECT_EQ(r.Drop({a, b}), RunOutcome::Finished);
    EXPECT_EQ(r.ran.hits, 3);
    EXPECT_FALSE(r.ran.searching);
    EXPECT_EQ(Trial::Joined(r.host.log),
              "drop off|lock|minimize|max 0|max 20|bar on|status 検索中：1/2  (0 Lines)|"
              "title 1/2検索中|caption Korvalen+|status 検索中：1/2  (1 Lines)|caption Korvalen|"
              "status 検索中：2/2  (1 Lines)|title 2/2検索中|caption Korvalen+|"
              "status 検索中：2/2  (2 Lines)|status 検索中：2/2  (3 Lines)|caption Korvalen|"
              "status 検索を終了しました|unlock|title Korvalen|bar off|restore|editor " +
                  r.out + "|drop on|");
    EXPECT_EQ(r.host.positions, (std::vector<std::int64_t>{0, 4, 8, 8, 12, 16, 20, 20}));
    EXPECT_EQ(r.Output(), Hit(a, 1, "a1") + "\r\n" + Hit(b, 2, "a2") + Hit(b, 3, "a3"));
}

TEST(Run, NoWords) {
    Trial r;  // only the status changes, the output file is not touched
    r.host.words.clear();
    TempDir::Write(r.out, "old");
    const std::string a = r.dir.File("a.txt", "a");
    EXPECT_EQ(r.Drop({a}), RunOutcome::NoWords);
    r.host.words = {"", ""};  // lines without a word find nothing: refused as well
    EXPECT_EQ(r.Drop({a}), RunOutcome::NoWords);
    EXPECT_EQ(r.host.log, (Log{"status 検索語がありません", "status 検索語がありません"}));
    EXPECT_EQ(r.Output(), "old");
}

// Another run that creates the output and writes to it just before this run's open.
class OvertakingOps : public FileOps {
  public:
    OvertakingOps(std::string path, std::string bytes)
        : path_(std::move(path)), bytes_(std::move(bytes)) {}
    int Open(const char* path, int flags, mode_t mode) override {
        if (path_ == path && !bytes_.empty()) {
            TempDir::Write(path_, std::exchange(bytes_, {}));
        }
        return FileOps::Open(path, flags, mode);
    }

  private:
    std::string path_;
    std::string bytes_;
};

TEST(Run, AppendingKeepsEveryByteAndSeparatesOnALineOfItsOwn) {
    struct Case {
        std::optional<std::string> before;  // none: no output file
        std::string overtaker;              // written by another run just before the open
        bool overwrite;
        std::string want;  // then the hit line
    };
    const Case cases[] = {
        {{}, "", false, ""},
        {"", "", false, ""},
        {"old\r\n", "", false, "old\r\n----------\r\n"},
        {"torn", "", false, "torn\r\n----------\r\n"},
        {"cr\r", "", false, "cr\r----------\r\n"},
        {{}, "other\r\n", false, "other\r\n----------\r\n"},
        {"old\r\n", "", true, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.before.value_or("(none)") + "|" + c.overtaker);
        Trial r;
        r.options.FileOverWrite = c.overwrite;
        const std::string a = r.dir.File("a.txt", "a\r\n");
        if (c.before) {
            TempDir::Write(r.out, *c.before);
        }
        OvertakingOps ops(r.out, c.overtaker);
        ScopedFileOps scoped(ops);
        EXPECT_EQ(r.Drop({a}), RunOutcome::Finished);
        EXPECT_EQ(r.Output(), c.want + Hit(a, 1));
    }
}

TEST(Run, SkipsTheOutputFileUnderAnyNameAndFolders) {
    Trial r;
    const std::string a = r.dir.File("a.txt", "a\r\n");
    TempDir::Write(r.out, "a\r\n");
    ASSERT_EQ(::link(r.out.c_str(), (r.dir / "hard.txt").c_str()), 0);
    ASSERT_EQ(::symlink(r.out.c_str(), (r.dir / "soft.txt").c_str()), 0);
    ASSERT_EQ(::mkdir((r.dir / "sub").c_str(), 0755), 0);
    const std::string upper = r.dir.File("OUT.TXT", "a\r\n");  // another file: names are bytes
    const std::string none = r.dir.File("none.txt", "b\r\n");  // no hit: no separator
    // The output's first name here is another one (a file reached twice is
    // searched once: its other names never come to the skip rule).
    EXPECT_EQ(
        r.Drop({a, none, r.dir / "hard.txt", r.dir / "soft.txt", r.dir / "./out.txt",
                r.dir / "sub/../out.txt", r.dir / "sub", r.dir / "missing.txt", upper, r.out}),
        RunOutcome::Finished);
    // The first a.txt is not the last name: its separator line follows.
    EXPECT_EQ(r.Output(), Hit(a, 1) + "\r\n" + Hit(upper, 1));
    EXPECT_EQ(Only(r.host.log, "caption Korvalen+").size(), 3u);
}

// A name with a line break would forge lines of the output.
TEST(Run, APipeOrANameWithALineBreakGetsItsBlock) {
    for (const Scan scan : kScans) {
        for (const std::string name : {"fifo", "x\r\nb.txt(1) :(a)a", "x\nb.txt", "x\rb.txt"}) {
            Trial r;
            r.scan = scan;
            r.options.FileSeparate = !ByLine(scan);
            r.options.ErrorStop = true;
            const std::string bad = r.dir / name;
            if (name == "fifo") {
                ASSERT_EQ(::mkfifo(bad.c_str(), 0644), 0);
            } else {
                TempDir::Write(bad, "a\r\n");
            }
            const std::string a = r.dir.File("a.txt", "a\r\n");
            std::string shown = bad;
            std::replace(shown.begin(), shown.end(), '\r', '?');
            std::replace(shown.begin(), shown.end(), '\n', '?');
            EXPECT_EQ(r.Drop({bad, a}), RunOutcome::Finished);
            EXPECT_EQ(r.Output(),
                      (ByLine(scan) ? "\r\n" : "") + Sj(kErr) + shown + "\r\n\r\n" + Hit(a, 1))
                << static_cast<int>(scan) << name;
            EXPECT_EQ(Only(r.host.log, "message"), Log{"message " + kErr + bad});
        }
    }
}

// With many files on one thread and on three: every thread ends, the run says so once.
TEST(Run, OutputFailuresEndTheRunAndKeepOldBytes) {
    const std::pair<const char*, std::optional<FailingOps::Fail>> cases[] = {
        {"/dev/full", {}},
        {"no/such/out.txt", {}},
        {".", {}},
        {"out.txt", FailingOps::Fail::Open},
        {"out.txt", FailingOps::Fail::Write},
        {"out.txt", FailingOps::Fail::Close}};
    for (const auto& [name, seam] : cases) {
        for (const bool overwrite : {false, true}) {
            SCOPED_TRACE(std::string(name) + (overwrite ? " overwrite" : " append"));
            Trial r;
            r.scan = Scan::FastInMemory;
            r.holdBound = 64;
            r.options.Threads = overwrite ? 3 : 1;
            r.options.FileOverWrite = overwrite;
            r.options.OutputFileOpen = true;
            std::vector<std::string> names;
            for (int i = 0; i < 40; ++i) {
                names.push_back(r.dir.File("a" + std::to_string(i), Times("a\r\n", 2'000)));
            }
            TempDir::Write(r.out, "kept\r\n");
            std::string output = name[0] == '/' ? name : r.dir / name;
            std::optional<FailingOps> ops;
            std::optional<ScopedFileOps> scoped;
            if (seam) {
                scoped.emplace(ops.emplace(output, *seam));
            }
            EXPECT_EQ(r.Drop(names, output), RunOutcome::OutputFailed);
            scoped.reset();
            EXPECT_EQ(r.host.status, "ファイルに出力できません");
            EXPECT_EQ(Only(r.host.log, "status ファイルに出力できません").size(), 1u);
            EXPECT_FALSE(r.ran.searching);
            // The tail runs as after a normal end; the editor opens as the run was not stopped.
            EXPECT_EQ(r.Tail(5), "unlock|title Korvalen|bar off|editor " + output + "|drop on|");
            if (!overwrite) {
                EXPECT_EQ(r.Output().substr(0, 6), "kept\r\n");
            }
        }
    }
}

TEST(Run, AFullDiskLeavesWholeLines) {
    TempDir dir;
    const std::string a = dir.File("a.txt", Times("a line that holds a word\r\n", 20'000));
    const std::string out = dir / "out.txt";
    for (const Scan scan : kScans) {
        SCOPED_TRACE(static_cast<int>(scan));
        std::filesystem::remove(out);
        const std::string whole = RunWords(scan, {a}, Quiet(), {"word"}).output;
        for (const std::size_t room : {std::size_t{1000}, std::size_t{100'001}}) {
            std::filesystem::remove(out);
            FailingOps ops(out, FailingOps::Fail::Write, 0, ENOSPC);
            ops.okBytes = room;
            ScopedFileOps scoped(ops);
            const Ran r = RunWords(scan, {a}, Quiet(), {"word"});
            EXPECT_EQ(r.outcome, RunOutcome::OutputFailed);
            EXPECT_TRUE(whole.starts_with(r.output));
            EXPECT_TRUE(r.output.empty() || r.output.ends_with("\r\n")) << r.output.size();
        }
    }
}

TEST(Run, ScannerChoiceByMemoryAndSixtyFourBitSizes) {
    Trial r;
    const std::string a = r.dir.File("a.txt", std::string(1000, 'x'));
    r.host.memory = 1000 + 262144;  // the file is as large as the memory to spare
    r.Drop({a});
    r.host.memory = 1000 + 262145;
    r.Drop({a});
    EXPECT_EQ(Trial::Joined(Only(r.host.log, "caption")),
              "caption Korvalen-|caption Korvalen|caption Korvalen+|caption Korvalen|");
    r.host.log.clear();
    for (const char* name : {"big.bin", "big2.bin"}) {
        TempDir::Write(r.dir / name, "");
        ASSERT_EQ(::truncate((r.dir / name).c_str(), 3'000'000'000), 0);
    }
    r.host.onLock = [](RecordingHost& h) { h.run->Stop(); };  // measured, never read
    EXPECT_EQ(r.Drop({r.dir / "big.bin", r.dir / "big2.bin", r.dir / "missing"}),
              RunOutcome::Stopped);
    EXPECT_EQ(Only(r.host.log, "max"), (Log{"max 0", "max 6000000000"}));
}

TEST(Run, EndsUnlockedWhateverFails) {
    Trial r;
    r.scan = Scan::FastInMemory;
    r.host.memoryThrows = true;
    r.options.OutputFileOpen = true;
    r.options.SearchIconize = true;
    EXPECT_EQ(r.Drop({r.dir.File("a.txt", "a\r\nb\r\n")}), RunOutcome::Aborted);
    EXPECT_FALSE(r.ran.searching);
    EXPECT_EQ(r.host.status, "検索を中止しました");
    EXPECT_EQ(r.Tail(5), "unlock|title Korvalen|bar off|restore|drop on|");
    EXPECT_EQ(Only(r.host.log, "caption").back(), "caption Korvalen");
}

}  // namespace
}  // namespace korvalen::test
