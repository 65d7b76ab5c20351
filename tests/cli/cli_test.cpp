// korvalen-cli end to end: the built program on temporary files.
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <clocale>
#include <thread>

#include "../search/fixture.hpp"
#include "tests/support/jis_forms.hpp"

namespace korvalen::test {
namespace {

struct Result {
    int code = -1;
    std::string out;
    std::string err;
};

class Cli {
  public:
    TempDir dir;

    // Descriptors 0 to 2 are /dev/null and two files, or closed when `closed`
    // names them.
    pid_t Start(const std::vector<std::string>& args, const std::string& locale = "C.UTF-8",
                const std::vector<int>& closed = {}) {
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 1, (dir / "stdout").c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0644);
        posix_spawn_file_actions_addopen(&actions, 2, (dir / "stderr").c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0644);
        for (const int fd : closed) {
            posix_spawn_file_actions_addclose(&actions, fd);
        }
        std::vector<std::string> argStore = {KORVALEN_CLI_PATH};
        argStore.insert(argStore.end(), args.begin(), args.end());
        std::vector<char*> argv;
        for (std::string& a : argStore) {
            argv.push_back(a.data());
        }
        argv.push_back(nullptr);
        std::string lcAll = "LC_ALL=" + locale;
        std::string path = "PATH=/usr/bin:/bin";
        char* envp[] = {lcAll.data(), path.data(), nullptr};
        pid_t pid = -1;
        const int rc = posix_spawn(&pid, KORVALEN_CLI_PATH, &actions, nullptr, argv.data(), envp);
        posix_spawn_file_actions_destroy(&actions);
        EXPECT_EQ(rc, 0);
        return pid;
    }

    Result Wait(pid_t pid) {
        int status = 0;
        EXPECT_EQ(::waitpid(pid, &status, 0), pid);
        Result r;
        r.code = WIFEXITED(status) ? WEXITSTATUS(status) : 1000 + WTERMSIG(status);
        r.out = ReadBytes(dir / "stdout");
        r.err = ReadBytes(dir / "stderr");
        return r;
    }

    Result Run(const std::vector<std::string>& args, const std::string& locale = "C.UTF-8",
               const std::vector<int>& closed = {}) {
        return Wait(Start(args, locale, closed));
    }

    std::string File(const std::string& name, std::string_view bytes) {
        const std::string path = dir / name;
        WriteBytes(path, bytes);
        return path;
    }
};

TEST(Cli, ExitStatusAndStatusText) {
    Cli cli;
    const std::string a = cli.File("a.txt", Sj("雨の日\r\n晴れの日\r\n"));
    const std::string out = cli.dir / "out.txt";
    const std::string fifo = cli.dir / "fifo.INI";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    struct Case {
        std::vector<std::string> args;
        int code;
        std::string errStart;
    };
    const std::vector<Case> cases = {
        {{"-q", "-o", out, "-w", "雨", a}, 0, "検索を終了しました\n"},
        {{"-o", out, "-w", "雪", a}, 1, "検索を終了しました\n"},
        {{"-o", out, a}, 2, "検索語がありません\n"},
        {{"-w", "雨", a}, 2, "出力ファイルが指定されていません\n"},
        {{"-o", cli.dir / "no/out.txt", "-w", "雨", a}, 2, "ファイルに出力できません\n"},
        {{"-o", "/dev/full", "-w", "雨", a}, 2, "ファイルに出力できません\n"},
        {{"-o", out, "-w", "雨"}, 2, "korvalen-cli: no FILE"},
        {{"-o", out, "-w", "😀", a}, 2, "korvalen-cli: --word: has characters"},
        {{"-o", out, "--set", "NoSuch=1", "-w", "a", a},
         2,
         "korvalen-cli: --set NoSuch=1: NoSuch is not an option key; the keys are TagJump, "},
        {{"-o", out, "--set", "TagJump", "-w", "a", a}, 2, "korvalen-cli: --set TagJump: not "},
        {{"--set", "FileOverWrite=no", "-o", out, "-w", "a", a},
         2,
         "korvalen-cli: --set FileOverWrite=no: FileOverWrite takes 1 or 0\n"},
        {{"--set", "tagjump=false", a},
         2,
         "korvalen-cli: --set tagjump=false: TagJump takes 1 or 0\n"},
        {{"--set", "CRText=2", a}, 2, "korvalen-cli: --set CRText=2: CRText takes 1 or 0\n"},
        {{"--set", "OutputStrLength=wide", a},
         2,
         "korvalen-cli: --set OutputStrLength=wide: OutputStrLength takes a whole number\n"},
        {{"--set", "Delete=256", a}, 2, "korvalen-cli: --set Delete=256: Delete takes a number "},
        {{"--bogus", a}, 2, "korvalen-cli: unrecognized or ambiguous option: --bogus\n"},
        {{"-o", out, "-xq", a}, 2, "korvalen-cli: unrecognized option: -x\n"},
        {{"-xq", a}, 2, "korvalen-cli: unrecognized option: -x\n"},
        {{a, "-qx"}, 2, "korvalen-cli: unrecognized option: -x\n"},
        {{"-q", "-w"}, 2, "korvalen-cli: option needs an argument: -w\n"},
        {{"--quiet=1", a}, 2, "korvalen-cli: option takes no argument: --quiet=1\n"},
        {{"--ini", fifo, "-o", out, "-w", "a", a},
         2,
         "korvalen-cli: cannot read the INI file " + fifo + ": "},
        {{"-o", out, "-k", "x", a}, 2, "korvalen-cli: --key needs --relation"},
        {{"--ini", cli.dir / "none.ini", "-o", out, "-w", "a", a}, 2, "korvalen-cli: no INI"},
    };
    for (const Case& c : cases) {
        const Result r = cli.Run(c.args);
        EXPECT_EQ(r.code, c.code) << c.args.back() << " " << r.err;
        EXPECT_EQ(r.err.substr(0, c.errStart.size()), c.errStart) << r.err;
    }
    // A status text the terminal cannot show comes out as marks, not mojibake.
    const Result ascii = cli.Run({"-o", out, "-w", "x", a}, "C");
    EXPECT_EQ(ascii.code, 1);
    EXPECT_EQ(ascii.err, "?????????\n");
    // Help goes to standard output and counts as success.
    const Result help = cli.Run({"--help"});
    EXPECT_EQ(help.code, 0);
    EXPECT_TRUE(help.err.empty() && help.out.starts_with("Usage: korvalen-cli")) << help.err;
}

TEST(Cli, WordsInOrderAndListings) {
    Cli cli;
    const std::string rel = cli.File(
        "rel.kvl", Sj("天気=晴れ,雨\r\n乗り物=電車\r\n天気=\"雪, みぞれ\"\r\nabc=x\r\nABC=y\r\n"));
    const std::string words = cli.File("w.txt", Sj("一\r\n\r\n二") + "\n\x88\r");
    Result r = cli.Run({"--list-keys", "-r", rel});
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(r.out, "（なし）\n天気\n乗り物\nabc\n");
    r = cli.Run({"--list-words", "-r", rel, "-w", "末", "-W", words, "-k", "天気", "--set",
                 "AddSortWord=1"});
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(r.out, "天気\n晴れ\n雨\n雪, みぞれ\n一\n\n二\n\\x88\n末\n");
    r = cli.Run({"--list-words", "-w", "abc", "-W", words}, "C");
    EXPECT_EQ(r.out, "\\x88\\xEA\n\n\\x93\\xF1\n\\x88\nabc\n");
    r = cli.Run({"--list-keys", "-r", cli.dir / "none.kvl"});
    EXPECT_EQ(r.code, 2);
    EXPECT_EQ(r.err, "関連ファイルがありません\n");
    r = cli.Run({"-o", cli.dir / "o.txt", "-r", cli.dir / "none.kvl", "-k", "天気", words});
    EXPECT_EQ(r.code, 2);
    EXPECT_EQ(r.err, "関連ファイルがありません\n");
}

// The JIS-style code points a Linux input method types, in -w and -k, find
// the characters they stand for and not the mark; in a Shift-JIS terminal
// the typed bytes are the words, a backslash included.
TEST(Cli, TypedWordsAndKeys) {
    Cli cli;
    const bool sjis = std::setlocale(LC_ALL, "ja_JP.SJIS") != nullptr;
    std::setlocale(LC_ALL, "C");
    for (const JisFormRow& j : kJisForms) {
        const std::string c(j.cp932);
        const std::string rel = cli.File("rel.kvl", "k" + c + "=C:\\" + c + "\r\n");
        const std::string a = cli.File("a.txt", "1" + c + "\r\n2\x81\xAC\r\n3C:\\" + c + "\r\n");
        const std::string out = cli.dir / "out.txt";
        const std::string hit1 = a + "(1) :(" + c + ")1" + c + "\r\n";
        const std::string line3 = ")3C:\\" + c + "\r\n";
        const std::string hit3 = a + "(3) :(C:\\" + c + line3;
        Result r = cli.Run({"-o", out, "-w", std::string(j.typed), a});
        EXPECT_EQ(r.code, 0) << j.typed << r.err;
        EXPECT_EQ(ReadBytes(out), hit1 + a + "(3) :(" + c + line3) << j.typed;
        r = cli.Run({"-o", out, "-r", rel, "-k", "k" + std::string(j.typed), a});
        EXPECT_EQ(r.code, 0) << j.typed << r.err;
        EXPECT_EQ(ReadBytes(out), hit3) << j.typed;
        if (!sjis) {
            continue;  // scripts/deps.sh test makes the locale
        }
        r = cli.Run({"-o", out, "-r", rel, "-k", "k" + c, "-w", c, a}, "ja_JP.SJIS");
        EXPECT_EQ(r.code, 0) << j.typed << r.err;
        EXPECT_EQ(ReadBytes(out), hit1 + hit3) << j.typed;
        r = cli.Run({"--list-words", "-w", c, "-w", "C:\\dir"}, "ja_JP.SJIS");
        EXPECT_EQ(r.out, c + "\nC:\\dir\n") << j.typed;
    }
    if (!sjis) {
        GTEST_SKIP() << "no ja_JP.SJIS locale";
    }
}

// The program writes what a drop of the same files with the same words
// writes, byte for byte, for every combination of the options that shape
// the output, with either scanner.
TEST(Cli, SameBytesAsADrop) {
    Cli cli;
    const std::string a =
        cli.File("a.txt", Sj("朝から雨が降っていた。  \r\n検\r\n索エンジン\r\n\r\n雨検\r\n　索"));
    const std::string b = cli.File("b.txt", Sj("曇り\r\nのち雨。晴れ\r\n"));
    const std::string wordsFile = cli.File("w.txt", Sj("検索\r\n晴れ\r\n雨") + "\r\n");
    const std::int32_t widths[] = {0, 20, 33, -1};
    const std::pair<const char*, bool iset::*> flags[] = {{"TagJump", &iset::TagJump},
                                                          {"FileSeparate", &iset::FileSeparate},
                                                          {"FileOverWrite", &iset::FileOverWrite},
                                                          {"JapaneseWord", &iset::JapaneseWord},
                                                          {"CRText", &iset::CRText}};
    for (int combo = 0; combo < 64; ++combo) {
        const bool byLine = (combo & 32) != 0;
        const std::string cliOut = cli.dir / "cli.txt";
        const std::string dropOut = cli.dir / "drop.txt";
        WriteBytes(cliOut, "old\r\n");
        WriteBytes(dropOut, "old\r\n");
        std::vector<std::string> args = {"-q", "-o", cliOut, "-W", wordsFile};
        iset options;
        options.ErrorStop = false;
        options.OutputStrLength = widths[combo % 4];
        for (std::size_t i = 0; i < std::size(flags); ++i) {
            options.*flags[i].second = (combo >> i & 1) != 0;
            args.insert(args.end(), {"--set", std::string(flags[i].first) + "=" +
                                                  (combo >> i & 1 ? "1" : "0")});
        }
        if (byLine) {
            args.push_back("--by-line");
        }
        args.insert(args.end(),
                    {"--set", "OutputStrLength=" + std::to_string(options.OutputStrLength), a, b});
        const Result r = cli.Run(args);
        ASSERT_LE(r.code, 1) << r.err;

        RecordingHost host;
        host.words = {Sj("検索"), Sj("晴れ"), Sj("雨")};
        host.shiftCtrl = byLine;
        SearchRun run(host);
        std::string output = dropOut;
        run.Drop({a, b}, output, options);
        EXPECT_EQ(ReadBytes(cliOut), ReadBytes(dropOut)) << "combination " << combo;
        EXPECT_EQ(r.code, run.State().HitCount > 0 ? 0 : 1);
    }
}

TEST(Cli, IniThenSetsInOrder) {
    Cli cli;
    const std::string a = cli.File("a.txt", "abcdefghijklmnop\r\n");
    const std::string head = a + " 1:(a)";
    const std::string width = std::to_string(head.size() + 3);
    const std::string ini =
        cli.File("k.INI", "[Other]\r\nTagJump=0\r\nOutputStrLength=" + width + "\r\n");
    const std::string out = cli.dir / "out.txt";
    Result r = cli.Run({"--ini", ini, "-o", out, "-w", "a", a});
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(ReadBytes(out), head + "abc\r\n");
    r = cli.Run({"--set", "OutputStrLength=0", "--ini", ini, "--set", "TagJump=1", "-o", out, "-w",
                 "a", a});
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(ReadBytes(out), a + "(1) :(a)abcdefghijklmnop\r\n");
}

// Closed standard descriptors at start and a file-size limit change nothing
// but what the limit must: the output failure is reported.
TEST(Cli, HostileStart) {
    Cli cli;
    const std::string a = cli.File("a.txt", Sj("雨の日\r\n"));
    const std::string out = cli.dir / "out.txt";
    const std::string pipe = cli.dir / "pipe";  // a file error, with its message
    ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
    const std::vector<std::string> args = {"-q", "-o", out, "-w", "雨", a, pipe};
    ASSERT_EQ(cli.Run(args).code, 0);
    const std::string expected = ReadBytes(out);
    for (const std::vector<int>& closed : {std::vector<int>{2}, std::vector<int>{0, 1, 2}}) {
        EXPECT_EQ(cli.Run(args, "C.UTF-8", closed).code, 0);
        EXPECT_EQ(ReadBytes(out), expected) << closed.size();
    }

    std::string many;
    for (int i = 0; i < 1000; ++i) {
        many += Sj("雨\r\n");
    }
    const std::string b = cli.File("b.txt", many);
    rlimit old{};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &old), 0);
    rlimit low = old;
    low.rlim_cur = 4096;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &low), 0);
    const pid_t pid = cli.Start({"-q", "-o", out, "-w", "雨", b});
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &old), 0);
    const Result r = cli.Wait(pid);
    EXPECT_EQ(r.code, 2);
    EXPECT_EQ(r.err, "ファイルに出力できません\n");
}

TEST(Cli, CtrlCStopsTheRun) {
    Cli cli;
    std::string data;
    for (int i = 0; i < 2'000'000; ++i) {
        data += "line a\r\n";
    }
    const std::string a = cli.File("a.txt", data);
    const std::string b = cli.File("b.txt", "a\r\n");
    const std::string out = cli.dir / "out.txt";
    const pid_t pid = cli.Start({"-q", "--by-line", "-o", out, "-w", "a", a, b});
    // The output file exists once the run is under way, its handler in place.
    for (int i = 0; i < 2000 && ::access(out.c_str(), F_OK) != 0; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    ASSERT_EQ(::kill(pid, SIGINT), 0);
    const Result r = cli.Wait(pid);
    EXPECT_EQ(r.code, 130);
    EXPECT_EQ(r.err, "検索を中止しました\n");
    const std::string written = ReadBytes(out);
    EXPECT_LT(written.size(), data.size());  // stopped long before the end
    EXPECT_EQ(written.find(b), std::string::npos);
    EXPECT_TRUE(written.empty() || written.substr(written.size() - 2) == "\r\n");
}

}  // namespace
}  // namespace korvalen::test
