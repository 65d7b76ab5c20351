// Threads kept for the life of a run that share the tasks of a batch with the
// thread that hands it over.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace korvalen {

// The threads a run searches with for the option Threads: 0 (or less) one
// for each core, else as many as it says, up to a sane bound.
unsigned ThreadsFor(std::int32_t option) noexcept;

class Workers {
  public:
    // `helpers` threads besides the caller's.
    explicit Workers(unsigned helpers);
    ~Workers();
    Workers(const Workers&) = delete;
    Workers& operator=(const Workers&) = delete;

    unsigned Helpers() const noexcept { return static_cast<unsigned>(threads_.size()); }

    // Runs task(i) for every i in [0, count), task 0 on the caller's thread
    // first, and returns when all are done. The first exception a task
    // threw is thrown again here, after the others ended.
    void Run(std::size_t count, const std::function<void(std::size_t)>& task);

  private:
    void Loop();
    // Takes the next task of the batch and runs it; false when none was left.
    bool TakeOne(std::unique_lock<std::mutex>& lock);

    std::mutex mutex_;
    std::condition_variable wake_;  // a batch came, or the end
    std::condition_variable done_;  // a task of the batch ended
    const std::function<void(std::size_t)>* task_ = nullptr;
    std::size_t next_ = 0;
    std::size_t count_ = 0;
    std::size_t running_ = 0;
    std::exception_ptr error_;
    bool quit_ = false;
    std::vector<std::thread> threads_;
};

}  // namespace korvalen
