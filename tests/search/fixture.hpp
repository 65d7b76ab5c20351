// Shared pieces of the search tests: a recording front end, a failing file layer, runs.
#pragma once

#include <fcntl.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <new>
#include <random>
#include <string>
#include <vector>

#include "platform/file.hpp"
#include "run/run_host.hpp"
#include "run/search_run.hpp"
#include "tests/support/literal_scan.hpp"
#include "tests/support/temp_dir.hpp"
#include "text/cp932.hpp"

namespace korvalen::test {

// Code page 932 bytes of UTF-8 source text.
inline std::string Sj(std::string_view utf8) {
    return Utf8ToCp932(utf8);
}

inline std::string Times(std::string_view line, std::size_t n) {
    std::string text;
    for (; n > 0; --n) {
        text += line;
    }
    return text;
}

// Options that neither cut hit lines nor show messages.
inline iset Quiet() {
    iset o;
    o.OutputStrLength = 0;
    o.ErrorStop = false;
    o.SearchIconize = false;
    o.Threads = 1;  // the order of per-line calls; tests of the crew set their own
    return o;
}

// One hit line as the output file holds it.
inline std::string HitOf(const std::string& path, std::int64_t number, std::string_view word,
                         std::string_view text) {
    return path + "(" + std::to_string(number) + ") :(" + std::string(word) + ")" +
           std::string(text) + "\r\n";
}

// Code page 932 pieces that put lead bytes, possible second bytes, blanks and
// breaks next to each other in every order.
// clang-format off
inline const std::vector<std::string> kSjisPieces = {
    "a", "b", "A", "@", " ", "\t", "\x81\x40", "\x81", "\x82", "\x88", "\xE0", "\xFC", "\x40",
    "\x41", "\x82\xA0", "\x88\x9F", "\x83\x41", "\xA0", "\xDF", std::string(1, '\0'), "\x1A",
    "\x81\x20", "\x83\x40"};
// clang-format on
inline const char* const kBreaks[] = {"\r\n", "\n", "\r"};

// Up to `maxLength` bytes of pieces, one in ten a line break.
inline std::string RandomSjis(std::mt19937& rng, std::size_t maxLength) {
    std::string s;
    for (const std::size_t length = rng() % (maxLength + 1); s.size() < length;) {
        s += rng() % 10 == 0 ? kBreaks[rng() % 3] : kSjisPieces[rng() % kSjisPieces.size()];
    }
    return s;
}

// UTF-8 pieces: one-byte katakana, EF lead bytes, characters without a code page 932 form,
// the forms input methods type for ～－∥￠￡￢― (a run has too many forms to look for all).
// clang-format off
inline const std::vector<std::string> kUtf8Pieces = {
    "a", "b", "ab", " ", "\t", "x1", "検", "索", "検索", "エ", "ン", "の", "ｶ", "ﾀ", "ﾟ", "｡", "（",
    "）", "～", "＄", "　", "😀", "€", "Ω", "é", "ü", "〓", "丂", "﨑", "①", "Ⅰ", "¬", "∵", "￢",
    "ｰ", "･", "〜", "−", "‖", "¢", "£", "—", "―", "∥", "〜～〜〜～", "\xEF\xBD\xA0"};  // U+FF60: no form
// clang-format on

// `lines` lines of UTF-8 pieces, the last one without its break at times.
inline std::string RandomUtf8(std::mt19937& rng, std::size_t lines) {
    std::string text;
    for (std::size_t i = 0; i < lines; ++i) {
        for (std::size_t n = rng() % 12; n > 0; --n) {
            text += kUtf8Pieces[rng() % kUtf8Pieces.size()];
        }
        if (i + 1 < lines || rng() % 2 == 0) {
            text += kBreaks[rng() % 3];
        }
    }
    return text;
}

// Code page 932 words of UTF-8 pieces. Unless `exact`, one that the UTF-8
// filter cannot use (the mark, a lone lead byte, the mark's bytes inside).
inline std::vector<std::string> Utf8PieceWords(std::mt19937& rng, bool exact) {
    std::vector<std::string> words;
    for (std::size_t i = 1 + rng() % 4; i > 0; --i) {
        std::string w;
        for (std::size_t k = 1 + rng() % 3; k > 0; --k) {
            w += kUtf8Pieces[rng() % kUtf8Pieces.size()];
        }
        words.push_back(Utf8ToCp932(w));
    }
    if (!exact) {
        const std::string odd[] = {Utf8ToCp932("〓"), "\x88", Utf8ToCp932("検\x81\xAC")};
        words.push_back(odd[rng() % 3]);
    }
    if (rng() % 4 == 0) {
        words.emplace_back();
    }
    return words;
}

// The entries of a log that start with `prefix`.
inline std::vector<std::string> Only(const std::vector<std::string>& log, std::string_view prefix) {
    std::vector<std::string> out;
    std::copy_if(log.begin(), log.end(), std::back_inserter(out),
                 [&](const std::string& e) { return e.starts_with(prefix); });
    return out;
}

class RecordingHost : public RunHost {
  public:
    std::vector<std::string> log;         // every call but the per-line ones
    std::vector<std::int64_t> positions;  // every progress position
    std::vector<std::string> words;       // the request's
    std::int64_t memory = std::int64_t{1} << 40;
    std::int64_t processCalls = 0;
    std::string status;
    // Called after every line, with this host; a test stops or edits here.
    std::function<void(RecordingHost&)> onProcess;
    std::function<void(RecordingHost&)> onLock;

    void SetStatusText(std::string_view t) override {
        status = t;
        log.push_back("status " + status);
    }
    void SetCaption(std::string_view t) override { log.push_back("caption " + std::string(t)); }
    void SetAppTitle(std::string_view t) override { log.push_back("title " + std::string(t)); }
    void SetProgressMax(std::int64_t m) override { log.push_back("max " + std::to_string(m)); }
    void SetProgressPos(std::int64_t p) override { positions.push_back(p); }
    void SetProgressVisible(bool v) override { log.push_back(v ? "bar on" : "bar off"); }
    void LockControls() override {
        log.push_back("lock");
        if (onLock) {
            onLock(*this);
        }
    }
    void UnlockControls() override { log.push_back("unlock"); }
    void Minimize() override { log.push_back("minimize"); }
    void Restore() override { log.push_back("restore"); }
    void ShowMessage(std::string_view t) override { log.push_back("message " + std::string(t)); }
    void ProcessMessages() override {
        ++processCalls;
        if (onProcess) {
            onProcess(*this);
        }
    }
    void OpenWithEditor(const std::string& p) override { log.push_back("editor " + p); }
    bool memoryThrows = false;  // memory running out outside a file's scan
    std::int64_t AvailablePhysicalMemory() override {
        if (memoryThrows) {
            throw std::bad_alloc();
        }
        return memory;
    }
    std::string AskOutputPath() override { return {}; }
    void SetDropTarget(bool on) override { log.push_back(on ? "drop on" : "drop off"); }

    SearchRun* run = nullptr;  // for Stop from onProcess
};

// A file layer that fails one kind of call on one file ("": on any file;
// kTemporary: on the temporary files, wherever they are made).
class FailingOps : public FileOps {
  public:
    enum class Fail { Open, Read, Write, Close, Access };
    static constexpr const char* kTemporary = "(temporary)";
    FailingOps(std::string path, Fail what, int okCalls = 0, int err = EIO)
        : path_(std::move(path)), what_(what), okCalls_(okCalls), err_(err) {}
    // Set: reads fail instead once they would go past this many bytes; writes
    // put what is left of them, then fail (a disk filling up).
    std::size_t okBytes = SIZE_MAX;
    std::vector<std::string> opened;  // the paths of our opens
    // Set: reads give it over and over instead of the file's bytes (a file
    // that says 0 bytes and reads on, as some files under /proc do).
    std::string endless;
    std::size_t readBytes = 0;  // since our last open

    int Open(const char* path, int flags, mode_t mode) override {
        return Opened(path, flags, [&] { return FileOps::Open(path, flags, mode); });
    }
    int Access(const char* path, int mode) override {
        return Ours(path, 0) && Failed(Fail::Access) ? -1 : FileOps::Access(path, mode);
    }
    int OpenIn(int folder, const char* path, std::size_t leaf, int flags, mode_t mode) override {
        return Opened(path, flags,
                      [&] { return FileOps::OpenIn(folder, path, leaf, flags, mode); });
    }
    ssize_t Read(int fd, void* buf, std::size_t n) override {
        if (fd == fd_ && (okBytes == SIZE_MAX || readBytes + n > okBytes) && Failed(Fail::Read)) {
            return -1;
        }
        for (std::size_t i = 0; fd == fd_ && !endless.empty() && i < n; ++i) {
            static_cast<char*>(buf)[i] = endless[(readBytes + i) % endless.size()];
        }
        const ssize_t got =
            fd == fd_ && !endless.empty() ? static_cast<ssize_t>(n) : FileOps::Read(fd, buf, n);
        readBytes += got > 0 ? static_cast<std::size_t>(got) : 0;
        return got;
    }
    ssize_t Write(int fd, const void* buf, std::size_t n) override {
        const bool room = okBytes != SIZE_MAX && written_ < okBytes;
        if (fd == fd_ && !room && Failed(Fail::Write)) {
            return -1;
        }
        const ssize_t put =
            FileOps::Write(fd, buf, fd == fd_ && room ? std::min(n, okBytes - written_) : n);
        written_ += fd == fd_ && put > 0 ? static_cast<std::size_t>(put) : 0;
        return put;
    }
    int Reserve(int fd, off_t offset, off_t n) override {
        if (fd == fd_ && what_ == Fail::Write && written_ + static_cast<std::size_t>(n) > okBytes) {
            errno = err_;
            return -1;
        }
        return FileOps::Reserve(fd, offset, n);
    }
    int Close(int fd) override {
        const bool fail = fd == fd_ && Failed(Fail::Close);
        fd_ = fd == fd_ ? -1 : fd_;
        const int rc = FileOps::Close(fd);  // the descriptor goes either way
        errno = fail ? err_ : errno;
        return fail ? -1 : rc;
    }

  private:
    bool Ours(const char* path, int flags) const {
        return path_ == kTemporary ? (flags & O_TMPFILE) == O_TMPFILE
                                   : path_.empty() || path_ == path;
    }
    // An open of our file fails or starts a new count of bytes.
    int Opened(const char* path, int flags, const std::function<int()>& open) {
        if (!Ours(path, flags)) {
            return open();
        }
        opened.emplace_back(path);
        readBytes = written_ = 0;
        return fd_ = Failed(Fail::Open) ? -1 : open();
    }
    // Whether this call of kind `what` fails now; sets errno then.
    bool Failed(Fail what) {
        if (what != what_ || okCalls_-- > 0) {
            return false;
        }
        errno = err_;
        return true;
    }

    std::string path_;
    Fail what_;
    int okCalls_;
    int err_;
    int fd_ = -1;
    std::size_t written_ = 0;
};

// The four scanners: the literal twins (the host called per line) and the
// fast ones, each reading a line at a time or loading the file whole.
enum class Scan { LiteralInMemory, LiteralByLine, FastInMemory, FastByLine };
constexpr Scan kScans[] = {Scan::LiteralInMemory, Scan::LiteralByLine, Scan::FastInMemory,
                           Scan::FastByLine};
inline bool ByLine(Scan s) {
    return s == Scan::LiteralByLine || s == Scan::FastByLine;
}
inline bool IsLiteral(Scan s) {
    return s == Scan::LiteralInMemory || s == Scan::LiteralByLine;
}

struct Ran {
    RunOutcome outcome;
    std::string output;
    std::int64_t hits;
    std::vector<std::int64_t> positions;  // of the progress bar
    bool searching;                       // after the run
    std::vector<std::string> log;         // the host's
    std::int64_t processCalls;
};

// A run over `names` into `out` with the host's words.
inline Ran RunScan(RecordingHost& host, Scan scan, const std::vector<std::string>& names,
                   const std::string& out, const iset& options,
                   std::size_t holdBound = HeldLines::kDefaultBound) {
    SearchRun run(host);
    if (IsLiteral(scan)) {
        run.UseScanners(kLiteralScanners);
    }
    run.SetHoldBound(holdBound);
    host.run = &run;
    const RunOutcome outcome = run.Drop({names, host.words, out, options, ByLine(scan)});
    host.run = nullptr;
    // Not /dev/full nor a folder: reads of them do not end.
    const std::string bytes = std::filesystem::is_regular_file(out) ? TempDir::Read(out) : "";
    const RunState& state = run.State();
    return {outcome,         bytes,    state.HitCount,   host.positions,
            state.Searching, host.log, host.processCalls};
}

// A run with these words, into out.txt next to the first file.
inline Ran RunWords(Scan scan, const std::vector<std::string>& names, const iset& options,
                    const std::vector<std::string>& words,
                    std::size_t holdBound = HeldLines::kDefaultBound,
                    const std::function<void(RecordingHost&)>& onProcess = {}) {
    RecordingHost host;
    host.words = words;
    host.onProcess = onProcess;
    return RunScan(host, scan, names, std::filesystem::path(names[0]).parent_path() / "out.txt",
                   options, holdBound);
}

}  // namespace korvalen::test
