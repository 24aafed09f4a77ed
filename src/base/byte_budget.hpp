#pragma once

#include <condition_variable>
#include <cstddef>
#include <memory>
#include <mutex>
#include <utility>

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
    mutable std::mutex mutex_;
    std::condition_variable room_;
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

private:
    std::shared_ptr<ByteBudget> budget_;
    std::size_t bytes_ = 0;
};

}  // namespace quern::base
