// The run's only window on its front end: the run's events out, a few
// questions in (a box, the save dialog, the free memory). The window, the
// command line and the tests each implement it; the run never talks to a
// toolkit directly, and Stop (SearchRun::Stop) is the only way into a running
// run. A host may be called from the run's own thread.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace korvalen {

class RunHost {
  public:
    virtual ~RunHost() = default;

    // Texts shown to the user are UTF-8.
    virtual void SetStatusText(std::string_view utf8) = 0;
    // The main window's own title ("Korvalen+", "Korvalen-", "Korvalen").
    virtual void SetCaption(std::string_view utf8) = 0;
    // What a minimised program shows ("1/3検索中", "Korvalen").
    virtual void SetAppTitle(std::string_view utf8) = 0;

    // Byte counts, 64-bit; a host with a narrower bar scales them itself.
    virtual void SetProgressMax(std::int64_t max) = 0;
    virtual void SetProgressPos(std::int64_t pos) = 0;
    virtual void SetProgressVisible(bool visible) = 0;

    // Disable / enable everything that could change the words' source, the
    // output path or the options during a run; Stop stays usable.
    virtual void LockControls() = 0;
    virtual void UnlockControls() = 0;
    virtual void Minimize() = 0;
    virtual void Restore() = 0;

    // A modal OK box; the run waits until it is closed.
    virtual void ShowMessage(std::string_view utf8) = 0;

    // Called after every line (or block) of every file and every folder
    // entry: a host that shares the run's thread looks for a Stop here. It is
    // on the hot path.
    virtual void ProcessMessages() = 0;

    // Opens `path` (file-system bytes, may be empty) with the editor or the
    // desktop's default program; never waits and reports nothing.
    virtual void OpenWithEditor(const std::string& path) = 0;

    // Bytes of physical memory free for the program at this moment.
    virtual std::int64_t AvailablePhysicalMemory() = 0;

    // The save dialog for a run started without an output path: the dialog's
    // file name whether confirmed or cancelled (its last one; empty at first).
    virtual std::string AskOutputPath() = 0;

    // Accept dropped files or not.
    virtual void SetDropTarget(bool on) = 0;

    // A name that could not be read (missing, no permission, a failed read;
    // `why` says so in UTF-8, naming it). The run goes on with the next.
    virtual void FileUnreadable(const std::string& name, std::string_view why) {
        static_cast<void>(name);
        static_cast<void>(why);
    }
};

// A host that shows nothing and asks nothing: for scans whose front end is
// elsewhere (a crew thread's word set-up, fuzzers, benchmarks).
class SilentHost : public RunHost {
  public:
    void SetStatusText(std::string_view) override {}
    void SetCaption(std::string_view) override {}
    void SetAppTitle(std::string_view) override {}
    void SetProgressMax(std::int64_t) override {}
    void SetProgressPos(std::int64_t) override {}
    void SetProgressVisible(bool) override {}
    void LockControls() override {}
    void UnlockControls() override {}
    void Minimize() override {}
    void Restore() override {}
    void ShowMessage(std::string_view) override {}
    void ProcessMessages() override {}
    void OpenWithEditor(const std::string&) override {}
    std::int64_t AvailablePhysicalMemory() override { return 0; }
    std::string AskOutputPath() override { return {}; }
    void SetDropTarget(bool) override {}
};

}  // namespace korvalen
