#include "run/workers.hpp"

#include <algorithm>

namespace korvalen {

unsigned ThreadsFor(std::int32_t option) noexcept {
    constexpr unsigned kMost = 64;  // windows of pieces stay within FastScanner::kWindow
    if (option > 0) {
        return std::min(static_cast<unsigned>(option), kMost);
    }
    // Asked once: the library reads /sys for it, a cost per file of a run.
    static const unsigned cores = std::thread::hardware_concurrency();
    return std::clamp(cores, 1u, kMost);
}

Workers::Workers(unsigned helpers) {
    threads_.reserve(helpers);
    for (unsigned i = 0; i < helpers; ++i) {
        threads_.emplace_back([this] { Loop(); });
    }
}

Workers::~Workers() {
    {
        const std::lock_guard lock(mutex_);
        quit_ = true;
    }
    wake_.notify_all();
    for (std::thread& t : threads_) {
        t.join();
    }
}

bool Workers::TakeOne(std::unique_lock<std::mutex>& lock) {
    if (task_ == nullptr || next_ >= count_) {
        return false;
    }
    const std::size_t i = next_++;
    ++running_;
    const auto& task = *task_;
    lock.unlock();
    std::exception_ptr error;
    try {
        task(i);
    } catch (...) {
        error = std::current_exception();
    }
    lock.lock();
    if (error && !error_) {
        error_ = error;
    }
    --running_;
    done_.notify_all();
    return true;
}

void Workers::Loop() {
    std::unique_lock lock(mutex_);
    for (;;) {
        wake_.wait(lock, [&] { return quit_ || (task_ != nullptr && next_ < count_); });
        if (quit_) {
            return;
        }
        TakeOne(lock);
    }
}

void Workers::Run(std::size_t count, const std::function<void(std::size_t)>& task) {
    if (count == 0) {
        return;
    }
    std::unique_lock lock(mutex_);
    task_ = &task;
    next_ = 1;  // task 0 is this thread's
    count_ = count;
    error_ = nullptr;
    ++running_;
    lock.unlock();
    if (count > 1) {
        wake_.notify_all();
    }
    std::exception_ptr first;
    try {
        task(0);
    } catch (...) {
        first = std::current_exception();
    }
    lock.lock();
    --running_;
    // What no helper took yet is done here.
    while (TakeOne(lock)) {
    }
    done_.wait(lock, [&] { return running_ == 0; });
    task_ = nullptr;
    std::exception_ptr error = first ? first : error_;
    error_ = nullptr;
    if (error) {
        std::rethrow_exception(error);
    }
}

}  // namespace korvalen
