// A folder walk on a thread of its own, a little ahead of the run's thread:
// opening and looking at many small files costs as much as searching them,
// and the run's thread has the hand-over of every file besides.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "run/folders.hpp"

namespace korvalen {

class WalkAhead {
  public:
    // The walk of DropWalk over the same arguments (`names` and `filter` are
    // read from the walk's thread: they outlive this); it goes on while
    // `going` holds (`listings`: what a count read, see DropWalk::Listings).
    // Throws when no thread can be had.
    WalkAhead(const std::vector<std::string>& names, std::string_view filter, bool folders,
              const std::atomic<bool>& going, std::shared_ptr<DropListings> listings = {});
    // Ends the walk where it is.
    ~WalkAhead();
    WalkAhead(const WalkAhead&) = delete;
    WalkAhead& operator=(const WalkAhead&) = delete;

    // The next name, as DropWalk::Next gives it. `pause` is called as often
    // as that walk would have called its own before reaching this name, in
    // the caller's thread; false from it ends the walk there. What the walk
    // threw comes out here, where it would have on one thread.
    bool Next(DropName& out, const std::function<bool()>& pause);
    // DropWalk::OverCounted as of the last name taken.
    std::size_t OverCounted() const noexcept { return overCounted_; }

  private:
    struct Item {
        DropName name;
        bool more = false;             // false: the walk's end, `name` unused
        std::size_t pausesBefore = 0;  // the walk's pauses so far
        std::size_t overCounted = 0;
    };

    void Walk(const std::vector<std::string>& names, std::string_view filter, bool folders,
              std::shared_ptr<DropListings> listings);
    // Hands the chunk over, waiting while the items not taken are many.
    bool Put();
    // The walk's pauses up to `upTo` in the caller's thread; false: stop.
    bool Replay(std::size_t upTo, const std::function<bool()>& pause);

    const std::atomic<bool>& going_;
    std::vector<Item> chunk_;  // the walk's thread's, not yet put
    std::mutex mutex_;
    std::condition_variable ready_;  // items were put, or the walk ended
    std::condition_variable room_;   // items were taken, or the end
    std::vector<Item> put_;          // under the mutex
    std::exception_ptr failure_;     // under the mutex
    bool quit_ = false;              // under the mutex
    // Pauses that come before every item not yet put: the run's thread may
    // make them while it waits, in the order one thread would have.
    std::atomic<std::size_t> safe_{0};
    std::vector<Item> taken_;  // the run's thread's
    std::size_t next_ = 0;     // in taken_
    std::size_t replayed_ = 0;
    bool ended_ = false;  // the run's thread met the end
    std::size_t overCounted_ = 0;
    std::thread thread_;  // last: started when the rest is ready
};

}  // namespace korvalen
