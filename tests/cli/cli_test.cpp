// korvalen-cli end to end (the built program on temporary files), and text
// to and from the terminal in its encoding.
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <thread>

#include "../search/fixture.hpp"
#include "cli/cli_host.hpp"
#include "cli/terminal.hpp"
#include "tests/support/jis_forms.hpp"

namespace korvalen::test {
namespace {

struct Result {
    int code = -1;
    std::string out, err;
};

struct Cli {
    TempDir dir;

    // The arguments of `line` split at spaces, "@name" for the temporary file `name`;
    // descriptors 0 to 2 are /dev/null and two files, or closed when `closed` names them.
    pid_t Start(std::string_view line, const std::string& locale = "C.UTF-8",
                const std::vector<int>& closed = {}) {
        std::vector<std::string> args = {KORVALEN_CLI_PATH};
        for (std::size_t at = 0, end = 0; end != std::string_view::npos; at = end + 1) {
            end = line.find(' ', at);
            const std::string_view arg = line.substr(at, end - at);
            args.push_back(arg.starts_with('@') ? dir / arg.substr(1) : std::string(arg));
        }
        std::vector<char*> argv;
        for (std::string& a : args) {
            argv.push_back(a.data());
        }
        argv.push_back(nullptr);
        std::string env[] = {"LC_ALL=" + locale, "PATH=/usr/bin:/bin"};
        char* envp[] = {env[0].data(), env[1].data(), nullptr};
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
        for (const int fd : {1, 2}) {
            posix_spawn_file_actions_addopen(&actions, fd, (dir / std::to_string(fd)).c_str(),
                                             O_WRONLY | O_CREAT | O_TRUNC, 0644);
        }
        for (const int fd : closed) {
            posix_spawn_file_actions_addclose(&actions, fd);
        }
        pid_t pid = -1;
        EXPECT_EQ(posix_spawn(&pid, KORVALEN_CLI_PATH, &actions, nullptr, argv.data(), envp), 0);
        posix_spawn_file_actions_destroy(&actions);
        return pid;
    }
    Result Wait(pid_t pid) {
        int status = 0;
        EXPECT_EQ(::waitpid(pid, &status, 0), pid);
        return {WIFEXITED(status) ? WEXITSTATUS(status) : 1000 + WTERMSIG(status),
                TempDir::Read(dir / "1"), TempDir::Read(dir / "2")};
    }
    Result Run(std::string_view line, const std::string& locale = "C.UTF-8",
               const std::vector<int>& closed = {}) {
        return Wait(Start(line, locale, closed));
    }
    std::string Out() const { return TempDir::Read(dir / "out.txt"); }
};

TEST(Cli, ExitStatusMessagesAndListings) {
    Cli cli;
    cli.dir.File("a.txt", Sj("雨の日\r\n晴れの日\r\n"));
    cli.dir.File("rel.kvl", Sj("天気=晴れ,雨\r\n乗り物=電車\r\n"));
    cli.dir.File("w.txt", Sj("一\r\n\r\n二") + "\n\x88\r");
    cli.dir.File("bom.INI", "\xEF\xBB\xBF[Other]\r\nAddSortWord=1\r\n");
    std::filesystem::create_directory(cli.dir / "c");
    cli.dir.File("c/a.txt", Sj("雨\r\n"));
    const std::string fifo = cli.dir / "fifo.INI";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const std::string k = "korvalen-cli: ";
    struct Row {
        const char* args;
        int code;
        std::string err;  // all of it when it ends in a line break, else its start
        const char* out = "";
        const char* locale = "C.UTF-8";
    };
    const Row rows[] = {
        {"-q -o @out.txt -w 雨 @a.txt", 0, "検索を終了しました\n"},
        // A status text the terminal cannot show comes out as marks, not mojibake.
        {"-o @out.txt -w x @a.txt", 1, "?????????\n", "", "C"},
        {"-o @out.txt @a.txt", 2, "検索語がありません\n"},
        {"-w 雨 @a.txt", 2, "出力ファイルが指定されていません\n"},
        {"-o @no/out.txt -w 雨 @a.txt", 2,
         k + "cannot open " + (cli.dir / "no/out.txt") + ": No such file or directory\n" +
             "ファイルに出力できません\n"},
        // A name that cannot be read is named, the others searched, the status 2.
        {"-q -o @out.txt -w 雨 @none.txt @a.txt", 2,
         k + "cannot open " + (cli.dir / "none.txt") +
             ": No such file or directory\n検索を終了しました\n"},
        {"-q -s -o @out.txt -w 雨 @none.txt @a.txt", 2, "検索を終了しました\n"},
        {"--list-words -W - -w x", 0, "", "x\n"},  // standard input is empty here
        // The INI file is read first, then each --set whatever its place.
        {"--ini @bom.INI --list-words -r @rel.kvl -k 天気", 0, "", "天気\n晴れ\n雨\n"},
        {"--set AddSortWord=0 --ini @bom.INI --list-words -r @rel.kvl -k 天気", 0, "",
         "晴れ\n雨\n"},
        // A folder reaches the run as it stands, searched when the option says so.
        {"-q -o @out.txt -w 雨 --set SearchFolders=1 @c", 0, "検索を終了しました\n"},
        {"-q -o @out.txt -w 雨 @c", 1, "検索を終了しました\n"},
        {"-o @out.txt -w 雨", 2, k + "no FILE"},
        {"-o @out.txt -w 😀 @a.txt", 2, k + "--word: has characters"},
        {"-o @out.txt --set NoSuch=1 -w a @a.txt", 2,
         k + "--set NoSuch=1: NoSuch is not an option key; the keys are TagJump, "},
        {"-o @out.txt --set TagJump -w a @a.txt", 2, k + "--set TagJump: not "},
        {"--set tagjump=false @a.txt", 2, k + "--set tagjump=false: TagJump takes 1 or 0\n"},
        {"--set OutputStrLength=wide @a.txt", 2,
         k + "--set OutputStrLength=wide: OutputStrLength takes a whole number\n"},
        {"--set Delete=256 @a.txt", 2, k + "--set Delete=256: Delete takes a number "},
        {"--set Delete=255 --list-words -w a", 0, "", "a\n"},
        {"-j many @a.txt", 2, k + "-j many: Threads takes a whole number\n"},
        {"--bogus @a.txt", 2, k + "unrecognized or ambiguous option: --bogus"},
        {"-xq @a.txt", 2, k + "unrecognized option: -x"},
        {"@a.txt -qx", 2, k + "unrecognized option: -x"},
        {"-q -w", 2, k + "option needs an argument: -w"},
        {"--quiet=1 @a.txt", 2, k + "option takes no argument: --quiet=1"},
        {"--ini @fifo.INI -o @out.txt -w a @a.txt", 2,
         k + "cannot read the INI file " + fifo + ": "},
        {"-o @out.txt -k x @a.txt", 2, k + "--key needs --relation"},
        {"--ini @none.ini -o @out.txt -w a @a.txt", 2, k + "no INI"},
        {"--help", 0, "", "Usage: korvalen-cli"},  // help goes to standard output
        {"--version", 0, "", "korvalen-cli " KORVALEN_VERSION "\n"},
        {"--list-keys -r @rel.kvl", 0, "", "（なし）\n天気\n乗り物\n"},
        {"--list-words -r @rel.kvl -w 末 -W @w.txt -k 天気 --set AddSortWord=1", 0, "",
         "天気\n晴れ\n雨\n一\n\n二\n\\x88\n末\n"},
        {"--list-keys -r @none.kvl", 2, "関連ファイルがありません\n"},
        {"-o @o.txt -r @none.kvl -k 天気 @w.txt", 2, "関連ファイルがありません\n"},
    };
    for (const Row& row : rows) {
        const Result r = cli.Run(row.args, row.locale);
        EXPECT_EQ(r.code, row.code) << row.args << " " << r.err;
        EXPECT_EQ(row.err.ends_with('\n') ? r.err : r.err.substr(0, row.err.size()), row.err)
            << row.args;
        EXPECT_EQ(std::string(row.out).ends_with('\n') ? r.out : r.out.substr(0, strlen(row.out)),
                  row.out)
            << row.args;
    }
}

// Closed standard descriptors at start and a file-size limit change nothing
// but what the limit must: the output failure is reported.
TEST(Cli, HostileStart) {
    Cli cli;
    cli.dir.File("a.txt", Sj("雨の日\r\n"));
    ASSERT_EQ(::mkfifo((cli.dir / "pipe").c_str(), 0600), 0);  // a file error, with its message
    const std::string args = "-q -o @out.txt -w 雨 @a.txt @pipe";
    ASSERT_EQ(cli.Run(args).code, 2);
    const std::string expected = cli.Out();
    for (const std::vector<int>& closed : {std::vector<int>{2}, std::vector<int>{0, 1, 2}}) {
        EXPECT_EQ(cli.Run(args, "C.UTF-8", closed).code, 2);
        EXPECT_EQ(cli.Out(), expected) << closed.size();
    }
    // A listing that cannot reach standard output fails.
    EXPECT_EQ(cli.Run("--list-words -w a", "C.UTF-8", {1}).code, 2);
    cli.dir.File("b.txt", Times(Sj("雨\r\n"), 1000));
    rlimit old{};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &old), 0);
    rlimit low = old;
    low.rlim_cur = 4096;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &low), 0);
    const pid_t pid = cli.Start("-q -o @out.txt -w 雨 @b.txt");
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &old), 0);
    const Result r = cli.Wait(pid);
    EXPECT_EQ(r.code, 2);
    EXPECT_TRUE(r.err.ends_with("ファイルに出力できません\n")) << r.err;
}

TEST(Cli, SignalsStopTheRun) {
    const std::string data = Times("line a\r\n", 2'000'000);
    const std::string settled = Times("a settled\r\n", 8'000);  // flushed once settled
    for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
        SCOPED_TRACE(signal);
        Cli cli;
        const std::string c = cli.dir.File("c.txt", settled);
        cli.dir.File("a.txt", data);
        const std::string b = cli.dir.File("b.txt", "a\r\n");
        const pid_t pid = cli.Start("-q -o @out.txt -w a @c.txt @a.txt @b.txt");
        // c.txt's lines in the output: the run is in a.txt, its handlers in place.
        for (int i = 0; i < 4000 && cli.Out().empty(); ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        ASSERT_EQ(::kill(pid, signal), 0);
        const Result r = cli.Wait(pid);
        EXPECT_EQ(r.code, 128 + signal);
        EXPECT_EQ(r.err, "検索を中止しました\n");
        const std::string written = cli.Out();
        EXPECT_NE(written.find(c + "(8000) :(a)a settled\r\n"), std::string::npos);
        EXPECT_LT(written.size(), data.size() * 2);  // stopped long before the end
        EXPECT_EQ(written.find(b), std::string::npos);
        EXPECT_TRUE(written.ends_with("\r\n"));
    }
}

TEST(Terminal, Conversions) {
    const Terminal utf8("UTF-8"), ascii("ANSI_X3.4-1968"), euc("EUC-JP"), sjis("SHIFT_JIS");
    EXPECT_TRUE(utf8.IsUtf8());
    EXPECT_FALSE(ascii.IsUtf8());
    const std::string eucKensaku = "\xB8\xA1\xBA\xF7";  // 検索
    const std::string none = "<none>";
    struct Row {
        const Terminal& t;
        std::string cp932, shown;     // FromCp932
        std::string utf8, utf8Shown;  // FromUtf8
        std::string typed, toCp932;   // ToCp932, "<none>" for no form
    };
    const Row rows[] = {
        {utf8, Sj("検索") + "a\x88", "検索a\\x88", "検索を終了しました", "検索を終了しました",
         "検索 abc", Sj("検索 abc")},
        {utf8, std::string("\x00\xff", 2), std::string("\0\\xFF", 5), "", "", "\xF0\x9F\x98\x80",
         none},                                    // no code page 932 form
        {utf8, "", "", "", "", "\xE6\xA4", none},  // cut UTF-8
        {ascii, "ab" + Sj("検"), "ab\\x8C\\x9F", "x検索y", "x??y", "abc", "abc"},
        {ascii, "", "", "", "", "ab\xE6", none},
        {euc, Sj("検索"), eucKensaku, "検索", eucKensaku, eucKensaku, Sj("検索")},
        // Through Unicode, Shift-JIS 5C and 7E were the yen sign and the overline.
        {sjis, "C:\\dir~", "C:\\dir~", "", "", "C:\\dir~", "C:\\dir~"},
        {sjis, "\x87\x40", "\\x87\\x40", "", "", "a\x82", none},  // ① is not in Shift-JIS
    };
    for (const Row& r : rows) {
        EXPECT_EQ(r.t.FromCp932(r.cp932), r.shown) << r.cp932;
        EXPECT_EQ(r.t.FromUtf8(r.utf8), r.utf8Shown) << r.utf8;
        EXPECT_EQ(r.t.ToCp932(r.typed).value_or(none), r.toCp932) << r.typed;
    }
    for (const JisFormRow& r : kJisForms) {
        EXPECT_EQ(sjis.FromCp932(r.cp932), r.cp932) << r.typed;
    }
}

// The bar is redrawn about ten times a second whatever the calls' pace: one
// call per block of a slow disk, or many per millisecond.
TEST(CliHost, BarRedrawnByTime) {
    using namespace std::chrono_literals;
    const Terminal t("UTF-8");
    const iset options;
    CliHost host(t, options, true);
    auto now = std::chrono::steady_clock::time_point() + 1h;
    int draws = 0;
    host.SetClock([&] { return now; });
    host.SetWriter([&](const std::string& s) { draws += s.starts_with("\r[") ? 1 : 0; });
    host.SetProgressMax(std::int64_t{1} << 40);
    host.SetProgressVisible(true);
    EXPECT_EQ(draws, 1);
    for (std::int64_t block = 1; block <= 100; ++block) {  // 5 s, 256 KB every 50 ms
        now += 50ms;
        host.SetProgressPos(block << 18);
        host.ProcessMessages();
    }
    EXPECT_EQ(draws, 51);
    for (std::int64_t line = 0; line < 100'000; ++line) {  // 1 s, a line every 10 us
        now += 10us;
        host.SetProgressPos((std::int64_t{100} << 18) + line * 80);
        host.ProcessMessages();
    }
    EXPECT_GE(draws, 51 + 9);
    EXPECT_LE(draws, 51 + 10);
}

}  // namespace
}  // namespace korvalen::test
