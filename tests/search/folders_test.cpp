// Dropped folders: the filter, the walk, and a folder run against its files dropped by name.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <tuple>

#include "fixture.hpp"
#include "run/folders.hpp"

namespace korvalen::test {
namespace {

namespace fs = std::filesystem;
using Names = std::vector<std::string>;
const auto kGoOn = [](std::size_t) { return true; };  // a host that never stops the walk

TEST(Folders, FilterPatterns) {
    const std::tuple<const char*, const char*, bool> rows[] = {
        // filter, name, match
        {"*.txt", "A.TXT", true},
        {"*.txt", "a.txt.bak", false},
        {"?.txt", "あ.txt", true},
        {"?.txt", "ab.txt", false},
        {"a*b*c", "aXbYbZc", true},
        {"a*b*c", "aXbYbZ", false},
        {"*.c; *.h", "x.h", true},
        {"*.c;*.h", "x.cc", false},
        {"", "x", true},
        {" ; ", "x", true},
        {";*.c", "x.h", false},
        {"*", "", true},
        {"?", "", false},
        {"[ab].txt", "a.txt", false},
        // Names from Windows in code page 932 are matched on their characters.
        {"日本*", "\x93\xFA\x96\x7B.txt", true},
        {"*\\*", "\x95\x5C.txt", false},
        {"?.txt", "\x95\x5C.txt", true},
        {"*\\*", "a\\b", true},
        {"\x93\xFA*", "日本.txt", true},  // a code page 932 filter (an old INI file)
    };
    for (const auto& [filter, name, match] : rows) {
        EXPECT_EQ(MatchesFolderFilter(filter, name), match) << filter << " " << name;
    }
}

// d/ holds files in every case, hidden names, a link to a file below it, a
// loop back up, a dangling link and two levels of sub-folders.
struct Tree {
    TempDir t;
    std::string d = t / "d";

    Tree() {
        for (const char* folder : {"d", "d/sub", "d/sub/deep", "d/sub2", "d/.git"}) {
            fs::create_directory(t / folder);
        }
        for (const char* file :
             {"d/b.txt", "d/a.TXT", "d/B.txt", "d/c.md", "d/.h.txt", "d/sub/x.txt",
              "d/sub/deep/y.txt", "d/sub2/z.txt", "d/.git/g.txt"}) {
            TempDir::Write(t / file, "a " + std::string(file) + "\r\n");
        }
        fs::create_symlink("sub/x.txt", t / "d/link.txt");  // reached before sub/x.txt
        fs::create_symlink("..", t / "d/sub/up.txt");       // a loop, named like a file
        fs::create_symlink("none", t / "d/sub/dangling.txt");
    }

    Names Full(Names names) const {
        for (std::string& n : names) {
            n = t / n;
        }
        return names;
    }
    // Names below the scratch folder, in and out.
    Names Expand(const Names& names, std::string_view filter) const {
        const Names full = Full(names);
        Names got;
        DropWalk walk(full, filter, true, kGoOn);
        for (DropName n; walk.Next(n);) {
            got.push_back((n.unreadableFolder ? "!" : "") + n.name.substr(t.Path().size() + 1));
        }
        return got;
    }
};

TEST(Folders, WalkOrderDepthAndWhatIsLeftOut) {
    Tree tr;
    tr.t.File("loose.txt", "a\r\n");
    const Names txt = {"d/B.txt",    "d/a.TXT",          "d/b.txt",
                       "d/link.txt", "d/sub/deep/y.txt", "d/sub2/z.txt"};
    const std::tuple<Names, const char*, Names> rows[] = {
        {{"d"}, "*.txt", txt},
        {{"d/"}, "*.txt", txt},  // no doubled slash
        {{"d"}, "?.MD;b*", {"d/B.txt", "d/b.txt", "d/c.md"}},
        {{"d/sub"}, "", {"d/sub/x.txt", "d/sub/deep/y.txt"}},
        // Dropped files stay as dropped; what was reached once is not taken again.
        {{"loose.txt", "d/b.txt", "d/sub2", "d", "d"},
         "*.txt",
         {"loose.txt", "d/b.txt", "d/sub2/z.txt", "d/B.txt", "d/a.TXT", "d/link.txt",
          "d/sub/deep/y.txt"}},
        {{"missing", "d/c.md"}, "*.txt", {"missing", "d/c.md"}},
        // Whichever comes first, a file is taken once.
        {{"d/sub2", "d/sub2/z.txt", "d/sub/x.txt", "loose.txt", "d/../loose.txt"},
         "*.txt",
         {"d/sub2/z.txt", "d/sub/x.txt", "loose.txt"}},
    };
    for (const auto& [dropped, filter, expected] : rows) {
        EXPECT_EQ(tr.Expand(dropped, filter), expected) << dropped.back() << " " << filter;
    }
    // Names that share their first eight bytes, made in a mixed order.
    fs::create_directory(tr.t / "ch");
    Names chapters;
    for (int i = 10; i < 50; ++i) {
        chapters.push_back("ch/chapter_" + std::to_string(i) + ".txt");
    }
    for (int i = 0; i < 40; ++i) {
        TempDir::Write(tr.t / chapters[static_cast<std::size_t>(i * 17 % 40)], "a\r\n");
    }
    EXPECT_EQ(tr.Expand({"ch"}, "*.txt"), chapters);
    // A folder that cannot be opened (through the file layer, so it fails as root too).
    FailingOps ops(tr.d + "/sub", FailingOps::Fail::Open, 0, EACCES);
    ScopedFileOps scoped(ops);
    EXPECT_EQ(tr.Expand({"d"}, "*.txt"),
              (Names{"d/B.txt", "d/a.TXT", "d/b.txt", "d/link.txt", "!d/sub", "d/sub2/z.txt"}));
}

// One folder's names held at a time, and only the files that can be reached twice remembered.
TEST(Folders, WalkKeepsLittleAndTakesEachFileOnce) {
    TempDir t;
    Names expected = {"m/a.txt", "m/h1.txt", "m/z.txt"};
    for (const char* folder : {"m", "m/s0", "m/s1", "m/s2"}) {
        fs::create_directory(t / folder);
    }
    for (const char* file : {"m/a.txt", "m/h1.txt", "m/z.txt", "m/s2/a0.txt", "m/s2/zz.txt"}) {
        TempDir::Write(t / file, "");
    }
    for (const char* folder : {"m/s0/f", "m/s1/g"}) {
        for (int i = 10; i < 40; ++i) {
            expected.push_back(folder + std::to_string(i) + ".txt");
            TempDir::Write(t / expected.back(), "x");
        }
    }
    expected.insert(expected.end(), {"m/s2/a0.txt", "m/s2/ln0.txt"});
    fs::create_hard_link(t / "m/h1.txt", t / "m/s1/h2.txt");
    fs::create_symlink("../a.txt", t / "m/s0/back.txt");  // its file was taken before
    fs::create_symlink("zz.txt", t / "m/s2/ln0.txt");     // comes before its file
    fs::create_symlink("a0.txt", t / "m/s2/zlate.txt");   // comes after it
    fs::create_directory_symlink("m", t / "ml");
    const Names dropped = {t / "m", t / "ml"};
    // Looked at by name, the same files come unopened.
    for (const bool byName : {false, true}) {
        DropWalk walk(dropped, "*.txt", true, kGoOn);
        if (byName) {
            walk.LookByName();
        }
        Names got;
        std::size_t held = 0, opened = 0;
        for (DropName n; walk.Next(n);) {
            got.push_back(n.name.substr(t.Path().size() + 1));
            held = std::max(held, walk.Held());
            // A file that is no link comes open: the file its name names.
            struct stat viaName {
            }, viaOpen{};
            if (n.open.Valid() && ::fstat(n.open.Get(), &viaOpen) == 0 &&
                ::stat(n.name.c_str(), &viaName) == 0 && viaOpen.st_ino == viaName.st_ino) {
                ++opened;
            }
        }
        EXPECT_EQ(got, expected);
        EXPECT_EQ(opened, byName ? 0 : expected.size() - 1);
        EXPECT_EQ(Descriptor::Held(), 0u);
        EXPECT_LE(held, 40u);  // 66 files
    }
    const DropTotals totals = CountDrop(dropped, "*.txt", true, kGoOn);
    // Counted without a look before the first link: h1.txt's second link is taken too.
    EXPECT_EQ(totals.names, expected.size() + 1);
    EXPECT_EQ(totals.bytes, 60);
    EXPECT_FALSE(totals.exact);
}

// Each folder read once: the walk after a count takes it as the count read it.
TEST(Folders, WalkTakesTheFoldersItsCountRead) {
    // A change made between the count and the walk, the pause that says stop (0: none), and
    // a name the walk after a count leaves out.
    const std::tuple<std::string, std::size_t, const char*> rows[] = {
        {"", 0, ""}, {"", 14, ""}, {"d/sub2/new.txt", 0, "d/sub2/new.txt"}, {"d/sub2", 0, ""}};
    for (const auto& [change, stopAt, unseen] : rows) {
        std::vector<std::pair<Names, Names>> runs;  // names, pauses
        for (const bool counted : {false, true}) {
            Tree tr;
            const Names dropped = {tr.d};
            const std::shared_ptr<DropListings> listings =
                counted ? CountDrop(dropped, "*.txt", true, kGoOn, true).listings : nullptr;
            if (change == "d/sub2") {
                fs::rename(tr.t / change, tr.t / "old2");
                fs::create_directory(tr.t / change);
                TempDir::Write(tr.t / "d/sub2/w.txt", "");
            } else if (!change.empty()) {
                TempDir::Write(tr.t / change, "");
            }
            Names names, pauses;
            DropWalk walk(dropped, "*.txt", true, [&](std::size_t handed) {
                pauses.push_back(std::to_string(handed));
                return pauses.size() != stopAt;
            });
            walk.Listings(listings);
            for (DropName n; walk.Next(n);) {
                names.push_back(n.name.substr(tr.t.Path().size() + 1));
            }
            runs.emplace_back(names, pauses);
        }
        const bool same = std::string_view(unseen).empty();
        EXPECT_EQ(std::erase(runs[0].first, unseen), same ? 0u : 1u);
        EXPECT_EQ(runs[0].first, runs[1].first) << change << " " << stopAt;
        if (same) {  // (otherwise one entry fewer was read)
            EXPECT_EQ(runs[0].second, runs[1].second) << change << " " << stopAt;
        }
    }
}

struct FolderRun {
    Tree tr;
    RecordingHost host;
    iset options = Quiet();
    std::string out = tr.d + "/out.txt";  // inside the dropped folder

    FolderRun() {
        options.FileOverWrite = false;
        host.words = {"a"};
    }

    // The output bytes of one run on an output file that held a hit line before.
    std::string Drop(const Names& names, bool folders, RunOutcome expected = RunOutcome::Finished) {
        TempDir::Write(out, "a old\r\n");
        options.SearchFolders = folders;
        host.log.clear();
        host.positions.clear();
        const Ran ran = RunScan(host, Scan::FastInMemory, names, out, options);
        EXPECT_EQ(ran.outcome, expected);
        return ran.output;
    }
};

TEST(Folders, FolderRunWritesWhatTheFilesDroppedOneByOneWrite) {
    FolderRun r;
    const std::string& d = r.tr.d;
    // The progress maximum of a folder run is a guess until its last file.
    const auto steps = [](Names log) {
        const auto isMax = [](const std::string& e) { return e.starts_with("max "); };
        const std::string max = *std::find_if(log.rbegin(), log.rend(), isMax);
        std::erase_if(log, isMax);
        log.push_back(max);
        return log;
    };
    const std::string viaFolder = r.Drop({d}, true);
    Names log = r.host.log;
    EXPECT_EQ(std::erase(log, "status フォルダを調べています"), 1u);
    log = steps(log);
    const auto positions = r.host.positions;
    const Names files = r.tr.Full({"d/B.txt", "d/a.TXT", "d/b.txt", "d/link.txt", "d/out.txt",
                                   "d/sub/deep/y.txt", "d/sub2/z.txt"});
    EXPECT_EQ(viaFolder, r.Drop(files, false));
    EXPECT_EQ(log, steps(r.host.log));  // the same numbering and steps
    EXPECT_EQ(positions, r.host.positions);
    // A count that took a file twice (two links of it): the numbering mends, and the
    // maximum, guessed as twice the first file, is the bytes of both at the last.
    fs::create_directory(r.tr.t / "h");
    TempDir::Write(r.tr.t / "h/a.txt", std::string(64, 'a'));
    TempDir::Write(r.tr.t / "h/c.txt", std::string(65, 'a'));
    fs::create_hard_link(r.tr.t / "h/a.txt", r.tr.t / "h/b.txt");
    r.Drop({r.tr.t / "h"}, true);
    EXPECT_EQ(Only(r.host.log, "title"),
              (Names{"title 1/2検索中", "title 2/2検索中", "title Korvalen"}));
    EXPECT_EQ(Only(r.host.log, "max"), (Names{"max 0", "max 0", "max 128", "max 129"}));
    EXPECT_NE(viaFolder.find(d + "/sub2/z.txt(1)"), std::string::npos);
    // A Stop during the walk: no file is opened, the output file is left as it was.
    r.host.onProcess = [](RecordingHost& h) { h.run->Stop(); };
    for (const bool overwrite : {false, true}) {
        r.options.FileOverWrite = overwrite;
        EXPECT_EQ(r.Drop({d}, true, RunOutcome::Stopped), "a old\r\n");
    }
    EXPECT_EQ(r.host.status, "検索を中止しました");
    EXPECT_TRUE(Only(r.host.log, "caption").empty());
    EXPECT_EQ(Descriptor::Held(), 0u);
    r.host.onProcess = {};
    {
        // A file the walk cannot open is still taken, and fails as it would by name.
        FailingOps ops(d + "/b.txt", FailingOps::Fail::Open, 0, EACCES);
        ScopedFileOps scoped(ops);
        const std::string output = r.Drop({d}, true);
        EXPECT_NE(output.find(FileErrorText() + d + "/b.txt"), std::string::npos);
        EXPECT_EQ(output, r.Drop(files, false));
    }
    // A folder that cannot be read is reported and the run goes on.
    r.options.ErrorStop = true;
    FailingOps ops(d + "/sub", FailingOps::Fail::Open, 0, EACCES);
    ScopedFileOps scoped(ops);
    const std::string block = FileErrorText() + d + "/sub\r\n\r\n";
    EXPECT_NE(r.Drop({d}, true).find("\r\n" + block + d + "/sub2/z.txt(1)"), std::string::npos);
    EXPECT_EQ(Only(r.host.log, "message"),
              Names{"message ファイルアクセスでエラーが生じました：" + d + "/sub"});
}

}  // namespace
}  // namespace korvalen::test
