// The run as a front end sees it: the order of every call, the refusals, the
// skip rules, stop, file errors and failures of the output file.
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <new>

#include "fixture.hpp"

namespace korvalen::test {
namespace {

using Log = std::vector<std::string>;

struct Trial {
    TempDir dir;
    RecordingHost host;
    iset options;
    std::string out = dir / "out.txt";
    std::int64_t hits = -1;
    bool searchingAfter = true;

    Trial() {
        options.OutputStrLength = 0;
        options.ErrorStop = false;
        options.SearchIconize = false;
        host.words = {"a"};
    }

    std::string File(const std::string& name, std::string_view bytes) {
        const std::string path = dir / name;
        WriteBytes(path, bytes);
        return path;
    }

    RunOutcome Drop(const std::vector<std::string>& names) {
        std::string output = out;
        return Drop(names, output);
    }

    RunOutcome Drop(const std::vector<std::string>& names, std::string& output) {
        SearchRun run(host);
        run.UseLiteralScanners(true);  // these tests pin the per-line calls
        host.run = &run;
        const RunOutcome outcome = run.Drop(names, output, options);
        host.run = nullptr;
        hits = run.State().HitCount;
        searchingAfter = run.State().Searching;
        return outcome;
    }

    std::string Output() const { return ReadBytes(out); }
};

std::string Hit(const std::string& path, int number, std::string_view word, std::string_view text) {
    return path + "(" + std::to_string(number) + ") :(" + std::string(word) + ")" +
           std::string(text) + "\r\n";
}

TEST(Run, NormalRunShowsEveryStepInOrder) {
    Trial r;
    r.options.SearchIconize = true;
    r.options.OutputFileOpen = true;
    const std::string a = r.File("a.txt", "a1\r\nxx\r\n");        // 8 bytes
    const std::string b = r.File("b.txt", "zz\r\na2\r\na3\r\n");  // 12 bytes
    EXPECT_EQ(r.Drop({a, b}), RunOutcome::Finished);
    EXPECT_EQ(r.hits, 3);
    EXPECT_FALSE(r.searchingAfter);
    EXPECT_EQ(r.host.log, (Log{"drop off",
                               "lock",
                               "minimize",
                               "max 0",
                               "max 20",
                               "bar on",
                               "status 検索中：1/2  (0 Lines)",
                               "title 1/2検索中",
                               "caption Korvalen+",
                               "status 検索中：1/2  (1 Lines)",
                               "caption Korvalen",
                               "status 検索中：2/2  (1 Lines)",
                               "title 2/2検索中",
                               "caption Korvalen+",
                               "status 検索中：2/2  (2 Lines)",
                               "status 検索中：2/2  (3 Lines)",
                               "caption Korvalen",
                               "status 検索を終了しました",
                               "unlock",
                               "title Korvalen",
                               "bar off",
                               "restore",
                               "editor " + r.out,
                               "drop on"}));
    EXPECT_EQ(r.host.positions, (std::vector<std::int64_t>{0, 4, 8, 8, 12, 16, 20, 20}));
    EXPECT_EQ(r.Output(),
              Hit(a, 1, "a", "a1") + "\r\n" + Hit(b, 2, "a", "a2") + Hit(b, 3, "a", "a3"));
}

TEST(Run, Refusals) {
    {  // no words: only the status changes, the output file is not touched
        Trial r;
        r.host.words.clear();
        WriteBytes(r.out, "old");
        EXPECT_EQ(r.Drop({r.File("a.txt", "a")}), RunOutcome::NoWords);
        EXPECT_EQ(r.host.log, Log{"status 検索語がありません"});
        EXPECT_EQ(r.Output(), "old");
    }
    {  // no output path, the dialog cancelled
        Trial r;
        std::string output;
        EXPECT_EQ(r.Drop({r.File("a.txt", "a")}, output), RunOutcome::NoOutputPath);
        EXPECT_EQ(r.host.log, (Log{"ask", "status 出力ファイルが指定されていません"}));
    }
    {  // the dialog's answer becomes the output path
        Trial r;
        r.host.dialogAnswer = r.out;
        std::string output;
        const std::string a = r.File("a.txt", "a");
        EXPECT_EQ(r.Drop({a}, output), RunOutcome::Finished);
        EXPECT_EQ(output, r.out);
        EXPECT_EQ(r.Output(), Hit(a, 1, "a", "a"));
    }
}

TEST(Run, AppendingAddsASeparatorLineAndKeepsTheOldBytes) {
    Trial r;
    r.options.FileOverWrite = false;
    r.host.words = {""};  // only empty words: a run that can find nothing
    const std::string a = r.File("a.txt", "a\r\n");
    EXPECT_EQ(r.Drop({a}), RunOutcome::Finished);  // a missing file is created without it
    EXPECT_EQ(r.Output(), "");
    EXPECT_EQ(r.Drop({a}), RunOutcome::Finished);
    r.host.words = {"a"};
    EXPECT_EQ(r.Drop({a}), RunOutcome::Finished);
    EXPECT_EQ(r.Output(), "----------\r\n----------\r\n" + Hit(a, 1, "a", "a"));
    r.options.FileOverWrite = true;
    EXPECT_EQ(r.Drop({a}), RunOutcome::Finished);
    EXPECT_EQ(r.Output(), Hit(a, 1, "a", "a"));
}

TEST(Run, StopDuringTheThirdOfFiveFiles) {
    Trial r;
    r.options.OutputFileOpen = true;
    std::vector<std::string> names;
    for (int i = 1; i <= 5; ++i) {
        names.push_back(r.File("f" + std::to_string(i) + ".txt", "a\r\na\r\na\r\n"));
    }
    r.host.onProcess = [](RecordingHost& h) {
        if (h.status.rfind("検索中：3/5", 0) == 0) {
            h.run->Stop();
        }
    };
    EXPECT_EQ(r.Drop(names), RunOutcome::Stopped);
    // The third file ends after its first line; its separator is still due.
    std::string want;
    for (int i = 0; i < 2; ++i) {
        want += Hit(names[i], 1, "a", "a") + Hit(names[i], 2, "a", "a") +
                Hit(names[i], 3, "a", "a") + "\r\n";
    }
    want += Hit(names[2], 1, "a", "a") + "\r\n";
    EXPECT_EQ(r.Output(), want);
    EXPECT_EQ(r.host.Only("title"),
              (Log{"title 1/5検索中", "title 2/5検索中", "title 3/5検索中", "title Korvalen"}));
    EXPECT_EQ(r.host.Only("status").back(), "status 検索を中止しました");
    EXPECT_TRUE(r.host.Only("editor").empty());
    EXPECT_EQ(r.host.log.back(), "drop on");
    EXPECT_EQ(r.host.Only("bar").back(), "bar off");
    EXPECT_EQ(r.host.positions.back(), 27);  // three files of 9 bytes each
}

TEST(Run, SkipsTheOutputFileUnderAnyNameAndFolders) {
    Trial r;
    const std::string a = r.File("a.txt", "a\r\n");
    WriteBytes(r.out, "a\r\n");
    ASSERT_EQ(::link(r.out.c_str(), (r.dir / "hard.txt").c_str()), 0);
    ASSERT_EQ(::symlink(r.out.c_str(), (r.dir / "soft.txt").c_str()), 0);
    ASSERT_EQ(::mkdir((r.dir / "sub").c_str(), 0755), 0);
    const std::vector<std::string> names = {a,
                                            r.out,
                                            r.dir / "hard.txt",
                                            r.dir / "soft.txt",
                                            r.dir / "./out.txt",
                                            r.dir / "sub/../out.txt",
                                            r.dir / "sub",
                                            r.dir / "missing.txt",
                                            a};
    EXPECT_EQ(r.Drop(names), RunOutcome::Finished);
    // The first a.txt is not the last name: its separator line follows.
    EXPECT_EQ(r.Output(), Hit(a, 1, "a", "a") + "\r\n" + Hit(a, 1, "a", "a"));
    EXPECT_EQ(r.host.Only("caption Korvalen+").size(), 2u);
}

TEST(Run, OutputPathIsComparedByteForByte) {
    Trial r;
    r.options.FileOverWrite = false;
    const std::string upper = r.dir / "OUT.TXT";
    WriteBytes(upper, "a\r\n");
    r.out = upper;
    // Another name of another file is searched like any other.
    const std::string lower = r.File("out.txt", "a\r\n");
    EXPECT_EQ(r.Drop({lower}), RunOutcome::Finished);
    EXPECT_EQ(r.Output(), "a\r\n----------\r\n" + Hit(lower, 1, "a", "a"));
}

TEST(Run, ErrorBlocks) {
    for (const bool separate : {true, false}) {
        Trial r;
        r.options.FileSeparate = separate;
        r.options.ErrorStop = true;
        const std::string fifo = r.dir / "fifo";
        ASSERT_EQ(::mkfifo(fifo.c_str(), 0644), 0);
        const std::string a = r.File("a.txt", "a\r\n");
        EXPECT_EQ(r.Drop({fifo, a}), RunOutcome::Finished);
        const std::string block = Sj("ファイルアクセスでエラーが生じました：") + fifo + "\r\n\r\n";
        EXPECT_EQ(r.Output(), (separate ? "" : "\r\n") + block + Hit(a, 1, "a", "a"));
        EXPECT_EQ(r.host.Only("message"),
                  Log{"message ファイルアクセスでエラーが生じました：" + fifo});
    }
}

TEST(Run, ReadErrorAfterHits) {
    // Enough lines that the second read of the file comes after some hits.
    std::string data;
    while (data.size() < 200000) {
        data += "a line\r\n";
    }
    for (const bool byLine : {true, false}) {
        Trial r;
        r.host.shiftCtrl = byLine;
        const std::string a = r.File("a.txt", data);
        const std::string b = r.File("b.txt", "a\r\n");
        FailingOps ops(a, FailingOps::Fail::Read, /*okCalls=*/1);
        ScopedFileOps scoped(ops);
        EXPECT_EQ(r.Drop({a, b}), RunOutcome::Finished);
        const std::string output = r.Output();
        const std::string block =
            "\r\n" + Sj("ファイルアクセスでエラーが生じました：") + a + "\r\n\r\n";
        if (byLine) {  // the hits before the failure stay, no separator follows the block
            const std::string tail = block + Hit(b, 1, "a", "a");
            ASSERT_GE(output.size(), tail.size());
            EXPECT_EQ(output.substr(output.size() - tail.size()), tail);
            EXPECT_EQ(output.substr(0, output.find(block)), [&] {
                std::string hits;
                for (int n = 1; n <= 65536 / 8; ++n) {
                    hits += Hit(a, n, "a", "a line");
                }
                return hits;
            }());
        } else {  // the load failed before any hit: no empty line before the block
            EXPECT_EQ(output, block.substr(2) + Hit(b, 1, "a", "a"));
        }
    }
}

struct OutputFailure {
    const char* name;
    std::function<std::string(Trial&)> setUp;  // the output path
    std::optional<FailingOps::Fail> seam;
};

TEST(Run, OutputFailuresEndTheRunAndKeepOldBytes) {
    const std::vector<OutputFailure> cases = {
        {"disk full", [](Trial&) { return std::string("/dev/full"); }, std::nullopt},
        {"missing folder", [](Trial& r) { return r.dir / "no/such/out.txt"; }, std::nullopt},
        {"a folder", [](Trial& r) { return r.dir.Path(); }, std::nullopt},
        {"open fails", [](Trial& r) { return r.out; }, FailingOps::Fail::Open},
        {"write fails", [](Trial& r) { return r.out; }, FailingOps::Fail::Write},
        {"close fails", [](Trial& r) { return r.out; }, FailingOps::Fail::Close},
    };
    for (const OutputFailure& c : cases) {
        for (const bool overwrite : {false, true}) {
            SCOPED_TRACE(std::string(c.name) + (overwrite ? " overwrite" : " append"));
            Trial r;
            r.options.FileOverWrite = overwrite;
            r.options.OutputFileOpen = true;
            const std::string a = r.File("a.txt", "a\r\n");
            WriteBytes(r.out, "kept\r\n");
            std::string output = c.setUp(r);
            std::optional<FailingOps> ops;
            std::optional<ScopedFileOps> scoped;
            if (c.seam) {
                ops.emplace(output, *c.seam);
                scoped.emplace(*ops);
            }
            EXPECT_EQ(r.Drop({a}, output), RunOutcome::OutputFailed);
            scoped.reset();
            EXPECT_EQ(r.host.status, "ファイルに出力できません");
            EXPECT_FALSE(r.searchingAfter);
            // The tail runs as after a normal end; the editor opens as the run was not stopped.
            const Log tail(r.host.log.end() - 5, r.host.log.end());
            EXPECT_EQ(tail,
                      (Log{"unlock", "title Korvalen", "bar off", "editor " + output, "drop on"}));
            if (!overwrite) {
                EXPECT_EQ(r.Output().substr(0, 6), "kept\r\n");
            }
        }
    }
}

TEST(Run, ScannerChoiceByAvailableMemory) {
    Trial r;
    const std::string a = r.File("a.txt", std::string(1000, 'x'));
    r.host.memory = 1000 + 262144;  // the file is as large as the memory to spare
    r.Drop({a});
    r.host.memory = 1000 + 262145;
    r.Drop({a});
    r.host.shiftCtrl = true;
    r.Drop({a});
    EXPECT_EQ(r.host.Only("caption"),
              (Log{"caption Korvalen-", "caption Korvalen", "caption Korvalen+", "caption Korvalen",
                   "caption Korvalen-", "caption Korvalen"}));
}

TEST(Run, SizesAreSixtyFourBit) {
    Trial r;
    const std::string big = r.dir / "big.bin";
    for (const std::string& path : {big, r.dir / "big2.bin"}) {
        WriteBytes(path, "");
        ASSERT_EQ(::truncate(path.c_str(), 3'000'000'000), 0);
    }
    r.host.onLock = [](RecordingHost& h) { h.run->Stop(); };  // measured, never read
    EXPECT_EQ(r.Drop({big, r.dir / "big2.bin", r.dir / "missing"}), RunOutcome::Stopped);
    EXPECT_EQ(r.host.Only("max"), (Log{"max 0", "max 6000000000"}));
}

// Memory running out outside a file's scan still ends the run cleanly.
class ThrowingHost : public RecordingHost {
  public:
    std::vector<std::string> SearchWords() override {
        if (++calls > 1) {
            throw std::bad_alloc();
        }
        return words;
    }
    int calls = 0;
};

TEST(Run, EndsUnlockedWhateverFails) {
    TempDir dir;
    ThrowingHost host;
    host.words = {"a"};
    host.onProcess = [](RecordingHost& h) { ++h.generation; };
    const std::string a = dir / "a.txt";
    WriteBytes(a, "a\r\nb\r\n");
    SearchRun run(host);
    host.run = &run;
    iset options;
    options.OutputFileOpen = true;
    std::string output = dir / "out.txt";
    EXPECT_EQ(run.Drop({a}, output, options), RunOutcome::Aborted);
    EXPECT_FALSE(run.State().Searching);
    EXPECT_EQ(host.status, "検索を中止しました");
    const Log tail(host.log.end() - 5, host.log.end());
    EXPECT_EQ(tail, (Log{"unlock", "title Korvalen", "bar off", "restore", "drop on"}));
    EXPECT_EQ(host.Only("caption").back(), "caption Korvalen");
}

}  // namespace
}  // namespace korvalen::test
