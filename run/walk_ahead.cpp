#include "run/walk_ahead.hpp"

#include <chrono>
#include <iterator>
#include <utility>

namespace korvalen {

namespace {

// Names are handed over in chunks (a lock for each name would cost as much as
// its look), with at most this many waiting: the files opened ahead stay few.
// A chunk also goes once the walk read this many entries since its first
// name, so that the run's thread can make the pauses that follow it.
constexpr std::size_t kChunk = 64;
constexpr std::size_t kWaiting = 512;
constexpr std::size_t kChunkPauses = 256;
// The run's thread waits in slices, making the walk's pauses meanwhile.
constexpr std::chrono::milliseconds kSlice{10};

}  // namespace

WalkAhead::WalkAhead(const std::vector<std::string>& names, std::string_view filter, bool folders,
                     const std::atomic<bool>& going, std::shared_ptr<DropListings> listings)
    : going_(going), thread_([this, &names, filter, folders, listings = std::move(listings)] {
          Walk(names, filter, folders, listings);
      }) {}

WalkAhead::~WalkAhead() {
    {
        const std::lock_guard lock(mutex_);
        quit_ = true;
    }
    room_.notify_all();
    thread_.join();
}

void WalkAhead::Walk(const std::vector<std::string>& names, std::string_view filter, bool folders,
                     std::shared_ptr<DropListings> listings) {
    try {
        std::size_t pauses = 0;
        // The run's thread asks its host at each pause as it takes the names;
        // here the walk only looks whether the run goes on.
        DropWalk walk(names, filter, folders, [&](std::size_t) {
            ++pauses;
            if (!chunk_.empty() && pauses - chunk_.front().pausesBefore >= kChunkPauses && !Put()) {
                return false;
            }
            if (chunk_.empty()) {
                safe_.store(pauses, std::memory_order_release);
            }
            return going_.load();
        });
        walk.Listings(std::move(listings));
        // Opening costs as much as the look: left to the crew, which reads
        // the files on as many threads as it has, the walk stays ahead.
        walk.LookByName();
        for (DropName name;;) {
            const bool more = walk.Next(name);
            chunk_.push_back(Item{std::move(name), more, pauses, walk.OverCounted()});
            if (!more) {
                Put();
                return;
            }
            if (chunk_.size() >= kChunk && !Put()) {
                return;
            }
        }
    } catch (...) {
        // The names before the failure go first, as on one thread.
        const std::exception_ptr failure = std::current_exception();
        try {
            if (!chunk_.empty() && !Put()) {
                return;
            }
        } catch (...) {
        }
        const std::lock_guard lock(mutex_);
        failure_ = failure;
        ready_.notify_one();
    }
}

bool WalkAhead::Put() {
    std::unique_lock lock(mutex_);
    room_.wait(lock, [&] { return quit_ || put_.size() < kWaiting; });
    if (quit_) {
        return false;
    }
    if (put_.empty()) {
        put_.swap(chunk_);
    } else {
        std::move(chunk_.begin(), chunk_.end(), std::back_inserter(put_));
    }
    chunk_.clear();
    ready_.notify_one();
    return true;
}

bool WalkAhead::Replay(std::size_t upTo, const std::function<bool()>& pause) {
    for (; replayed_ < upTo; ++replayed_) {
        if (!pause()) {
            ended_ = true;
            return false;
        }
    }
    return true;
}

bool WalkAhead::Next(DropName& out, const std::function<bool()>& pause) {
    while (!ended_) {
        if (next_ == taken_.size()) {
            taken_.clear();
            next_ = 0;
            std::unique_lock lock(mutex_);
            while (!ready_.wait_for(lock, kSlice, [&] { return !put_.empty() || failure_; })) {
                lock.unlock();
                if (!Replay(safe_.load(std::memory_order_acquire), pause)) {
                    return false;
                }
                lock.lock();
            }
            if (put_.empty()) {
                ended_ = true;
                std::rethrow_exception(failure_);
            }
            taken_.swap(put_);
            room_.notify_one();
            continue;
        }
        Item& item = taken_[next_++];
        if (!Replay(item.pausesBefore, pause)) {
            return false;
        }
        overCounted_ = item.overCounted;
        if (!item.more) {
            ended_ = true;
            return false;
        }
        out = std::move(item.name);
        return true;
    }
    return false;
}

}  // namespace korvalen
