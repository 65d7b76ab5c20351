// Files searched ahead of the one being written, on threads of their own.
// Each file's output lines and its calls to the host are kept in the file's
// record; the run's thread hands them on when the file's turn comes, so the
// output and the host hear exactly what one thread would have given them.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "config/options.hpp"
#include "platform/file.hpp"
#include "run/scanner.hpp"

namespace korvalen {

// The folder of the files found in it, held open while they are searched in
// turn: each is opened by its own name, and the kernel does not look up the
// whole path again for every file.
class HeldFolder {
  public:
    HeldFolder() = default;
    HeldFolder(const HeldFolder&) = delete;
    HeldFolder& operator=(const HeldFolder&) = delete;
    ~HeldFolder() { Close(); }

    // A descriptor of the folder `path`; -1 when it cannot be opened (its
    // files are then opened by their whole paths, and fail as they would).
    int Of(std::string_view path);

  private:
    void Close() noexcept;

    std::string path_;
    int fd_ = -1;
};

// What a file's search needs off the run's thread, decided on it.
struct AheadFile {
    std::size_t index = 0;  // in the run's order
    std::string name;
    std::int64_t size = 0;
    std::size_t leaf = 0;  // see DropName
    bool isLast = false;
    bool fits = false;           // it may be searched as a whole
    std::int64_t lineLimit = 0;  // see ScanContext
    std::int64_t available = 0;  // the free memory it was chosen by
    Descriptor open;             // see DropName
};

class FileCrew {
  public:
    // One file's scan on a crew thread: its name, sight and lines limit are
    // `file`'s; `ctx` is the thread's own, its host the file's record.
    using Search =
        std::function<void(ScanContext& ctx, const AheadFile& file, const FileSight& sight)>;

    // `threads` threads; the words are those of `lead`, whose fast scanner is
    // set up. A file's record keeps up to `bound` bytes of lines in memory;
    // a thread whose files ahead of the one being written hold more than
    // `bound` waits.
    FileCrew(unsigned threads, const WordCache& lead, const iset& options,
             const std::string& outputPath, std::size_t bound, std::atomic<bool>& searching,
             Search search);
    // Ends every thread: a file in hand is searched to its end (or to a Stop).
    ~FileCrew();
    FileCrew(const FileCrew&) = delete;
    FileCrew& operator=(const FileCrew&) = delete;

    // Files are added in the run's order and handed to the threads in
    // batches: Send closes the batch in hand. The run's thread alone calls
    // these and Write. `file` comes without its name: the record's room
    // for it is used again.
    void Add(AheadFile file, std::string_view name);
    void Send();
    // Files added and not yet written.
    std::size_t Pending() const noexcept { return records_.size(); }
    // Files added since the last Send.
    std::size_t BatchSize() const noexcept { return open_.size(); }

    // The file at `index`, the next to be written, if it was added: its
    // record handed to the run's `ctx` (host, state, output). False when it
    // was not added, or is the run's thread's to search after all (no crew
    // thread began it yet: its descriptor is handed back into `open`; or its
    // search met what one thread would meet differently: memory running
    // out, no room for the lines held).
    bool Write(std::size_t index, ScanContext& ctx, Descriptor& open);

  private:
    class Record;
    struct Hand;
    // A record as a batch names it: the record is used again for a later
    // file once written, and a thread that comes to it late passes it by.
    struct Slot {
        Record* record;
        std::size_t index;
    };

    void End() noexcept;
    void Loop(Hand& hand);
    // Runs `record`'s file with `hand`; false when it failed.
    bool Run(Hand& hand, Record& record);
    // `bytes` more held by `record`: waits while the files ahead hold too
    // many. False when the crew is ending.
    bool Hold(Record& record, std::size_t bytes);
    // A thread ended file `index`'s search: wakes the run's thread if it
    // waits for that file.
    void Ended(std::size_t index);

    const WordCache& lead_;
    iset options_;  // the run's, one thread for each file
    const std::string outputPath_;
    const std::size_t bound_;
    std::atomic<bool>& searching_;
    const Search search_;

    // The run's thread's: every record made (each used again once written),
    // those free, those added and not written (in order), the batch in hand.
    std::vector<std::unique_ptr<Record>> made_;
    std::vector<Record*> free_;
    std::deque<Record*> records_;
    std::vector<Slot> open_;

    std::mutex mutex_;
    std::condition_variable wake_;  // a batch came, or the end
    std::condition_variable done_;  // a file's record ended
    std::condition_variable room_;  // lines went out, or another file is being written
    std::deque<std::vector<Slot>> batches_;
    std::size_t writing_ = 0;  // index of the file being written
    std::uint64_t held_ = 0;   // bytes held by the records of files not being written
    std::size_t holding_ = 0;  // threads waiting for room
    std::atomic<bool> quit_{false};
    // The file the run's thread waits for, + 1 (0: none): the thread that
    // ends it tells it, and no other wakes it.
    std::atomic<std::size_t> waiting_{0};
    std::vector<std::unique_ptr<Hand>> hands_;  // one for each thread
    std::vector<std::thread> threads_;
};

}  // namespace korvalen
