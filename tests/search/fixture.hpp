// Shared pieces of the search tests: a temporary folder, file helpers, a
// front end that records every call, and a file layer that fails on demand.
#pragma once

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "platform/file.hpp"
#include "search/run_host.hpp"
#include "search/search_run.hpp"
#include "tests/support/temp_dir.hpp"
#include "text/cp932.hpp"

namespace korvalen::test {

using korvalen::TempDir;

// Random switches of what a hit line and a scan depend on; no message boxes,
// no minimising. The width is one of `widths`.
template <std::size_t N>
iset RandomOptions(std::mt19937& rng, const std::int32_t (&widths)[N]) {
    iset o;
    o.TagJump = (rng() & 1) != 0;
    o.FileSeparate = (rng() & 1) != 0;
    o.JapaneseWord = (rng() & 1) != 0;
    o.CRText = (rng() & 1) != 0;
    o.ErrorStop = false;
    o.SearchIconize = false;
    o.OutputStrLength = widths[rng() % N];
    return o;
}

inline void WriteBytes(const std::string& path, std::string_view bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out) {
        throw std::runtime_error("cannot write " + path);
    }
}

inline std::string ReadBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// Code page 932 bytes of UTF-8 source text.
inline std::string Sj(std::string_view utf8) {
    return Utf8ToCp932(utf8);
}

class RecordingHost : public RunHost {
  public:
    std::vector<std::string> log;         // every call but the per-line ones
    std::vector<std::int64_t> positions;  // every progress position
    std::vector<std::string> words;
    std::uint64_t generation = 1;
    std::int64_t memory = std::int64_t{1} << 40;
    bool shiftCtrl = false;
    std::string dialogAnswer;
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
    std::uint64_t WordsGeneration() override { return generation; }
    std::vector<std::string> SearchWords() override { return words; }
    void OpenWithEditor(const std::string& p) override { log.push_back("editor " + p); }
    std::int64_t AvailablePhysicalMemory() override { return memory; }
    bool ShiftCtrlDown() override { return shiftCtrl; }
    std::string AskOutputPath() override {
        log.push_back("ask");
        return dialogAnswer;
    }
    void SetDropTarget(bool on) override { log.push_back(on ? "drop on" : "drop off"); }

    SearchRun* run = nullptr;  // for Stop from onProcess

    std::vector<std::string> Only(std::string_view prefix) const {
        std::vector<std::string> out;
        for (const std::string& entry : log) {
            if (entry.rfind(prefix, 0) == 0) {
                out.push_back(entry);
            }
        }
        return out;
    }
};

// A file layer that fails one kind of call on one file.
class FailingOps : public FileOps {
  public:
    enum class Fail { Open, Read, Write, Close };
    FailingOps(std::string path, Fail what, int okCalls = 0, int err = EIO)
        : path_(std::move(path)), what_(what), okCalls_(okCalls), err_(err) {}

    int Open(const char* path, int flags, mode_t mode) override {
        if (path_ == path) {
            if (what_ == Fail::Open && Due()) {
                errno = err_;
                return -1;
            }
            const int fd = FileOps::Open(path, flags, mode);
            fd_ = fd;
            return fd;
        }
        return FileOps::Open(path, flags, mode);
    }
    int OpenIn(int folder, const char* path, std::size_t leaf, int flags, mode_t mode) override {
        if (path_ == path) {
            if (what_ == Fail::Open && Due()) {
                errno = err_;
                return -1;
            }
            fd_ = FileOps::OpenIn(folder, path, leaf, flags, mode);
            return fd_;
        }
        return FileOps::OpenIn(folder, path, leaf, flags, mode);
    }
    ssize_t Read(int fd, void* buf, std::size_t n) override {
        if (fd == fd_ && what_ == Fail::Read && Due()) {
            errno = err_;
            return -1;
        }
        return FileOps::Read(fd, buf, n);
    }
    ssize_t Write(int fd, const void* buf, std::size_t n) override {
        if (fd == fd_ && what_ == Fail::Write && Due()) {
            errno = err_;
            return -1;
        }
        return FileOps::Write(fd, buf, n);
    }
    int Close(int fd) override {
        const bool fail = fd == fd_ && what_ == Fail::Close && Due();
        if (fd == fd_) {
            fd_ = -1;
        }
        const int rc = FileOps::Close(fd);  // the descriptor goes either way
        if (fail) {
            errno = err_;
            return -1;
        }
        return rc;
    }

  private:
    bool Due() { return okCalls_-- <= 0; }

    std::string path_;
    Fail what_;
    int okCalls_;
    int err_;
    int fd_ = -1;
};

}  // namespace korvalen::test
