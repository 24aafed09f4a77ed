#pragma once

#include <condition_variable>
#include <cstddef>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

namespace quern::base {

// A number of bytes that one producer may have outstanding: it acquires
// before it hands data on and the consumer releases once it is done with it,
// so a producer that runs ahead waits instead of growing memory. Thread-safe.
class ByteBudget {
public:
    explicit ByteBudget(std::size_t limit) : limit_(limit) {}

    // Waits until bytes more fit. When nothing is outstanding any size fits, so
    // one piece larger than the limit can never wait forever. False once closed.
    bool acquire(std::size_t bytes) {
        std::unique_lock<std::mutex> lock(mutex_);
        room_.wait(lock, [&] { return closed_ || used_ == 0 || used_ + bytes <= limit_; });
        if (closed_) return false;
        used_ += bytes;
        return true;
    }

    void release(std::size_t bytes) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            used_ -= bytes < used_ ? bytes : used_;
        }
        room_.notify_all();
    }
    // release, handing back the piece's memory for the producer's next one, so
    // that a steady flow allocates nothing. It is kept only while what is kept
    // and what is outstanding stay within the limit.
    void release(std::size_t bytes, std::string&& buffer) {
        std::string dropped;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            used_ -= bytes < used_ ? bytes : used_;
            if (!closed_ && kept_.size() < kMaxKept && used_ + kept_bytes_ + buffer.capacity() <= limit_) {
                kept_bytes_ += buffer.capacity();
                kept_.push_back(std::move(buffer));
            } else {
                dropped = std::move(buffer);  // freed outside the lock
            }
        }
        room_.notify_all();
    }
    // A buffer handed back (empty, with its memory), or a new empty string.
    std::string take_buffer() {
        std::lock_guard<std::mutex> lock(mutex_);
        if (kept_.empty()) return {};
        std::string buffer = std::move(kept_.back());
        kept_.pop_back();
        kept_bytes_ -= buffer.capacity();
        buffer.clear();
        return buffer;
    }

    // Wakes every waiter; later acquires fail.
    void close() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            closed_ = true;
        }
        room_.notify_all();
    }

    std::size_t used() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return used_;
    }

private:
    static constexpr std::size_t kMaxKept = 64;

    mutable std::mutex mutex_;
    std::condition_variable room_;
    std::vector<std::string> kept_;
    std::size_t kept_bytes_ = 0;
    std::size_t limit_;
    std::size_t used_ = 0;
    bool closed_ = false;
};

// Bytes acquired from a budget, given back when the lease is destroyed or
// reset. Move-only.
class BudgetLease {
public:
    BudgetLease() = default;
    BudgetLease(std::shared_ptr<ByteBudget> budget, std::size_t bytes) : budget_(std::move(budget)), bytes_(bytes) {}
    BudgetLease(BudgetLease&& other) noexcept : budget_(std::move(other.budget_)), bytes_(other.bytes_) {}
    BudgetLease& operator=(BudgetLease&& other) noexcept {
        if (this != &other) {
            reset();
            budget_ = std::move(other.budget_);
            bytes_ = other.bytes_;
        }
        return *this;
    }
    BudgetLease(const BudgetLease&) = delete;
    BudgetLease& operator=(const BudgetLease&) = delete;
    ~BudgetLease() { reset(); }

    void reset() {
        if (budget_) budget_->release(bytes_);
        budget_.reset();
        bytes_ = 0;
    }
    // reset, handing the piece's memory back to the budget for reuse.
    void reset(std::string&& buffer) {
        if (budget_) budget_->release(bytes_, std::move(buffer));
        budget_.reset();
        bytes_ = 0;
    }

private:
    std::shared_ptr<ByteBudget> budget_;
    std::size_t bytes_ = 0;
};

}  // namespace quern::base
