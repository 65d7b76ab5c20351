// korvalen-cli: the search run of a drop on the window, from the command line.
#include <fcntl.h>
#include <getopt.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "cli/cli_host.hpp"
#include "cli/terminal.hpp"
#include "config/settings.hpp"
#include "platform/file.hpp"
#include "platform/file_info.hpp"
#include "run/search_run.hpp"
#include "text/lines.hpp"
#include "words/relation.hpp"

namespace korvalen {
namespace {

constexpr int kExitHits = 0;
constexpr int kExitNoHits = 1;
constexpr int kExitFailed = 2;
constexpr int kExitSignalBase = 128;

bool g_wroteOut = false;  // something went to standard output

constexpr const char* kUsage =
    "Usage: korvalen-cli [OPTION]... FILE...\n"
    "Search FILEs (code page 932 text) for a family of related words and write every\n"
    "matching line to the output file as a tag-jump line, as a drop of the FILEs onto\n"
    "the Korvalen window would.\n"
    "\n"
    "  -o, --output PATH        the output file (created, or appended to after a line\n"
    "                           \"----------\" unless FileOverWrite is set)\n"
    "  -r, --relation PATH      the relation file (lines of key=word,word,...)\n"
    "  -k, --key KEY            search for the words of KEY in the relation file, as\n"
    "                           choosing KEY in the window loads them (with AddSortWord\n"
    "                           set, KEY itself comes first)\n"
    "  -w, --word WORD          one search word; repeatable\n"
    "  -W, --words-file PATH    search words, one per line, taken byte for byte as the\n"
    "                           lines of the word box (code page 932); repeatable;\n"
    "                           - reads them from standard input\n"
    "      --list-keys          print the key list of --relation, as the drop-down\n"
    "                           shows it, and exit\n"
    "      --list-words         print the search words the options above give, and exit\n"
    "      --ini PATH           read the options from this INI file (section Other and\n"
    "                           Editor); without it the built-in defaults apply. A\n"
    "                           file that is missing or cannot be read is refused\n"
    "      --set KEY=VALUE      set one option by its INI key (TagJump, FileSeparate,\n"
    "                           ErrorStop, FileOverWrite, CloseFileDelete, AddSortWord,\n"
    "                           OutputFileOpen, SearchIconize, JapaneseWord, CRText,\n"
    "                           OutputStrLength, InputEncoding, SearchFolders,\n"
    "                           FolderFilter, ShowResults, Threads, Editor,\n"
    "                           EditorLine, Delete), VALUE as the INI file holds it\n"
    "                           (1 or 0 for a switch, a whole number for\n"
    "                           OutputStrLength and Threads, 0 to 255 for Delete; any\n"
    "                           other value or KEY is refused); applied after --ini,\n"
    "                           in order; repeatable\n"
    "  -j, --threads N          --set Threads=N: search with N threads (0, the\n"
    "                           default: one for each core; 1: one thread)\n"
    "      --by-line            read every file line by line (as Shift+Ctrl held at a\n"
    "                           drop)\n"
    "  -q, --quiet              no progress bar (one is drawn on standard error when it\n"
    "                           is a terminal)\n"
    "  -s, --no-messages        do not name the FILEs that cannot be read\n"
    "  -h, --help               show this text and exit\n"
    "      --version            show the version and exit\n"
    "\n"
    "The search words are the words of KEY, then the lines of each -W file, then each\n"
    "-w, in that order. KEY and WORD are read in the terminal's encoding and searched\n"
    "for in code page 932. FILE paths are written into the hit lines as given.\n"
    "With InputEncoding=1, a FILE in UTF-8 (valid throughout, or with a byte order\n"
    "mark) or in UTF-16 (with a byte order mark) is searched as its code page 932\n"
    "form; the hit lines hold that form.\n"
    "\n"
    "The final status and any file-access messages (ErrorStop) go to standard error,\n"
    "and so does the name of every FILE that cannot be read (missing, no permission,\n"
    "a failed read; -s silences these): the run goes on with the others.\n"
    "With OutputFileOpen set, the output file is opened afterwards with Editor, or\n"
    "with xdg-open when no Editor is set.\n"
    "\n"
    "Exit status: 0 the run wrote at least one hit line; 1 it finished with none;\n"
    "2 it was refused or failed (no words, empty ones not counted; no output path;\n"
    "the output file failed, the message says why; standard output closed for a\n"
    "listing; bad arguments) or a FILE could not be read; 128 + the signal's number\n"
    "when interrupted (130 for Ctrl-C): Ctrl-C, SIGTERM and SIGHUP stop the run as\n"
    "the Stop command does, every line already written kept whole.\n";

enum : int {
    kOptListKeys = 256,
    kOptListWords,
    kOptIni,
    kOptSet,
    kOptByLine,
    kOptVersion,
};

struct Args {
    std::string output;
    std::optional<std::string> relation;
    std::optional<std::string> key;
    std::vector<std::string> wordsFiles;
    std::vector<std::string> words;
    std::optional<std::string> ini;
    std::vector<std::pair<std::string, std::string>> sets;  // as given, KEY=VALUE
    bool listKeys = false;
    bool listWords = false;
    bool byLine = false;
    bool quiet = false;
    bool silent = false;
    bool help = false;
    bool version = false;
    std::vector<std::string> files;
};

class Cli {
  public:
    explicit Cli(const Terminal& terminal) : term_(terminal) {}

    int Main(int argc, char** argv) {
        Args args;
        if (!Parse(argc, argv, args)) {
            Err("Try 'korvalen-cli --help' for more information.\n");
            return kExitFailed;
        }
        if (args.help) {
            std::fputs(kUsage, stdout);
            return kExitHits;
        }
        if (args.version) {
            Out("korvalen-cli " KORVALEN_VERSION "\n");
            return kExitHits;
        }
        iset options;
        if (!BuildOptions(args, options)) {
            return kExitFailed;
        }
        if (args.listKeys) {
            return ListKeys(args);
        }
        std::vector<std::string> words;
        if (!BuildWords(args, options, words)) {
            return kExitFailed;
        }
        if (args.listWords) {
            for (const std::string& word : words) {
                Out(term_.FromCp932(word) + "\n");
            }
            return kExitHits;
        }
        if (args.files.empty()) {
            Err("korvalen-cli: no FILE to search\n");
            Err("Try 'korvalen-cli --help' for more information.\n");
            return kExitFailed;
        }
        return Run(args, options, std::move(words));
    }

  private:
    static constexpr const char* kShort = ":o:r:k:w:W:j:qsh";  // ':' tells a missing argument

    // What getopt refused. A short option is named by its letter: inside a
    // cluster like -xq the argument at optind - 1 is an earlier one.
    static std::string BadOption(int c, char** argv) {
        const bool ours = optopt >= 256 || (optopt != ':' && std::strchr(kShort + 1, optopt));
        if (c == '?' && optopt != 0 && !ours) {
            return std::string("unrecognized option: -") + static_cast<char>(optopt);
        }
        // Otherwise getopt has passed the whole argument: a long option, or
        // a short one at the end of its cluster that lacks its argument.
        const std::string arg = argv[optind - 1];
        if (c == ':') {
            return "option needs an argument: " + arg;
        }
        if (optopt != 0) {
            return "option takes no argument: " + arg;
        }
        return "unrecognized or ambiguous option: " + arg;
    }

    bool Parse(int argc, char** argv, Args& args) {
        static const option kLong[] = {
            {"output", required_argument, nullptr, 'o'},
            {"relation", required_argument, nullptr, 'r'},
            {"key", required_argument, nullptr, 'k'},
            {"word", required_argument, nullptr, 'w'},
            {"words-file", required_argument, nullptr, 'W'},
            {"list-keys", no_argument, nullptr, kOptListKeys},
            {"list-words", no_argument, nullptr, kOptListWords},
            {"ini", required_argument, nullptr, kOptIni},
            {"set", required_argument, nullptr, kOptSet},
            {"by-line", no_argument, nullptr, kOptByLine},
            {"threads", required_argument, nullptr, 'j'},
            {"quiet", no_argument, nullptr, 'q'},
            {"no-messages", no_argument, nullptr, 's'},
            {"help", no_argument, nullptr, 'h'},
            {"version", no_argument, nullptr, kOptVersion},
            {nullptr, 0, nullptr, 0},
        };
        opterr = 0;  // the messages below name the program without its path
        for (;;) {
            const int c = getopt_long(argc, argv, kShort, kLong, nullptr);
            if (c == -1) {
                break;
            }
            switch (c) {
                case 'o':
                    args.output = optarg;
                    break;
                case 'r':
                    args.relation = optarg;
                    break;
                case 'k':
                    args.key = optarg;
                    break;
                case 'w':
                    args.words.emplace_back(optarg);
                    break;
                case 'W':
                    args.wordsFiles.emplace_back(optarg);
                    break;
                case kOptListKeys:
                    args.listKeys = true;
                    break;
                case kOptListWords:
                    args.listWords = true;
                    break;
                case kOptIni:
                    args.ini = optarg;
                    break;
                case kOptSet:
                    args.sets.emplace_back("--set " + std::string(optarg), optarg);
                    break;
                case 'j':
                    args.sets.emplace_back("-j " + std::string(optarg),
                                           "Threads=" + std::string(optarg));
                    break;
                case kOptByLine:
                    args.byLine = true;
                    break;
                case 'q':
                    args.quiet = true;
                    break;
                case 's':
                    args.silent = true;
                    break;
                case kOptVersion:
                    args.version = true;
                    break;
                case 'h':
                    args.help = true;
                    break;
                default:
                    Err("korvalen-cli: " + BadOption(c, argv) + "\n");
                    return false;
            }
        }
        for (int i = optind; i < argc; ++i) {
            args.files.emplace_back(argv[i]);
        }
        return true;
    }

    bool BuildOptions(const Args& args, iset& options) {
        if (args.ini) {
            const std::optional<Settings> read = ReadSettingsFile(*args.ini);
            if (!read) {
                const char* why = errno == EINVAL ? "not a regular file" : std::strerror(errno);
                Err(errno == ENOENT ? "korvalen-cli: no INI file at " + *args.ini + "\n"
                                    : "korvalen-cli: cannot read the INI file " + *args.ini + ": " +
                                          why + "\n");
                return false;
            }
            options = read->Options;
        }
        for (const auto& [given, set] : args.sets) {
            const std::size_t eq = set.find('=');
            if (eq == std::string::npos) {
                Err("korvalen-cli: " + given + ": not KEY=VALUE\n");
                return false;
            }
            const std::string_view key = std::string_view(set).substr(0, eq);
            const std::string why =
                SetOptionChecked(options, key, std::string_view(set).substr(eq + 1));
            if (!why.empty()) {
                Err("korvalen-cli: " + given + ": " + why + "\n");
                return false;
            }
        }
        return true;
    }

    int ListKeys(const Args& args) {
        if (!args.relation) {
            Err("korvalen-cli: --list-keys needs --relation\n");
            return kExitFailed;
        }
        const RelKeysResult result = LoadRelKeys(*args.relation);
        for (const std::string& key : result.keys) {
            Out(term_.FromCp932(key) + "\n");
        }
        if (!result.message.empty()) {
            Err(term_.FromUtf8(result.message) + "\n");
            return kExitFailed;
        }
        return kExitHits;
    }

    bool BuildWords(const Args& args, const iset& options, std::vector<std::string>& words) {
        if (args.key) {
            if (!args.relation) {
                Err("korvalen-cli: --key needs --relation\n");
                return false;
            }
            if (!FileExists(*args.relation)) {
                Err(term_.FromUtf8(kMsgNoRelFile) + "\n");
                return false;
            }
            const std::optional<std::string> key = ToCp932(*args.key, "--key");
            if (!key) {
                return false;
            }
            RelWordsResult result = LoadRelWords(*args.relation, *key, options.AddSortWord);
            if (!result.message.empty()) {
                Err(term_.FromUtf8(result.message) + "\n");
                return false;
            }
            words = std::move(result.words);
        }
        for (const std::string& path : args.wordsFiles) {
            std::string data;
            if (path == "-") {
                if (!ReadStandardInput(data)) {
                    return false;
                }
                ForEachLine(data, [&](std::string_view line) { words.emplace_back(line); });
                continue;
            }
            try {
                File file(path, File::Mode::Read);
                char buf[1 << 16];
                for (std::size_t got; (got = file.Read(buf, sizeof buf)) > 0;) {
                    data.append(buf, got);
                }
                file.Close();
            } catch (const FileError& e) {
                Err(std::string("korvalen-cli: ") + e.what() + "\n");
                return false;
            }
            ForEachLine(data, [&](std::string_view line) { words.emplace_back(line); });
        }
        for (const std::string& word : args.words) {
            std::optional<std::string> sjis = ToCp932(word, "--word");
            if (!sjis) {
                return false;
            }
            words.push_back(std::move(*sjis));
        }
        return true;
    }

    static bool ReadStandardInput(std::string& data) {
        char buf[1 << 16];
        for (;;) {
            const ssize_t got = ::read(STDIN_FILENO, buf, sizeof buf);
            if (got == 0) {
                return true;
            }
            if (got < 0 && errno != EINTR) {
                Err(std::string("korvalen-cli: -W -: cannot read standard input: ") +
                    std::strerror(errno) + "\n");
                return false;
            }
            if (got > 0) {
                data.append(buf, static_cast<std::size_t>(got));
            }
        }
    }

    int Run(const Args& args, const iset& options, std::vector<std::string> words) {
        const bool bar = !args.quiet && isatty(STDERR_FILENO) != 0;
        CliHost host(term_, options, bar);
        host.SetSilent(args.silent);
        SearchRun run(host);
        host.SetRun(&run);
        InstallInterruptHandler();
        const RunOutcome outcome =
            run.Drop({args.files, std::move(words), args.output, options, args.byLine});
        if (outcome == RunOutcome::OutputFailed && !run.OutputFailure().empty()) {
            Err("korvalen-cli: " + term_.FromUtf8(run.OutputFailure()) + "\n");
        }
        Err(term_.FromUtf8(host.StatusText()) + "\n");
        const int interrupted = kExitSignalBase + (g_interrupted != 0 ? g_interrupted : SIGINT);
        if (g_interrupted != 0 && outcome == RunOutcome::Finished) {
            return interrupted;  // the signal came after the last line was read
        }
        switch (outcome) {
            case RunOutcome::Finished:
                if (host.UnreadableCount() > 0) {
                    return kExitFailed;  // as grep: hits or not, a file was not searched
                }
                return run.State().HitCount > 0 ? kExitHits : kExitNoHits;
            case RunOutcome::Stopped:
                return interrupted;
            default:
                return kExitFailed;
        }
    }

    std::optional<std::string> ToCp932(const std::string& text, const char* what) {
        std::optional<std::string> sjis = term_.ToCp932(text);
        if (!sjis) {
            Err(std::string("korvalen-cli: ") + what +
                ": has characters without a code page 932 form\n");
        }
        return sjis;
    }

    static void Out(const std::string& text) {
        g_wroteOut = true;
        std::fwrite(text.data(), 1, text.size(), stdout);
    }
    static void Err(const std::string& text) { std::fwrite(text.data(), 1, text.size(), stderr); }

    const Terminal& term_;
};

// Descriptors 0 to 2 open, on /dev/null where they were closed: otherwise a
// file this program opens takes the number and messages meant for standard
// error land in it. False when that is not possible. `stdoutClosed` tells
// that what goes to standard output would be lost.
bool OpenStandardDescriptors(bool& stdoutClosed) {
    for (int fd = 0; fd <= 2; ++fd) {
        if (::fcntl(fd, F_GETFD) != -1 || errno != EBADF) {
            continue;
        }
        stdoutClosed = stdoutClosed || fd == STDOUT_FILENO;
        const int opened = ::open("/dev/null", O_RDWR);  // the lowest free number: fd
        if (opened != fd) {
            return false;
        }
    }
    return true;
}

}  // namespace
}  // namespace korvalen

int main(int argc, char** argv) {
    bool stdoutClosed = false;
    if (!korvalen::OpenStandardDescriptors(stdoutClosed)) {
        return 2;
    }
    // A write past the file-size limit then fails with EFBIG and the run
    // reports the output failure; the signal would end the program unheard.
    std::signal(SIGXFSZ, SIG_IGN);
    const korvalen::Terminal terminal = korvalen::Terminal::FromEnvironment();
    korvalen::Cli cli(terminal);
    try {
        const int status = cli.Main(argc, argv);
        if (std::fflush(stdout) != 0) {
            std::perror("korvalen-cli: standard output");
            return 2;
        }
        if (stdoutClosed && korvalen::g_wroteOut) {
            std::fputs("korvalen-cli: standard output: Bad file descriptor\n", stderr);
            return 2;
        }
        return status;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "korvalen-cli: %s\n", e.what());
        return 2;
    }
}
