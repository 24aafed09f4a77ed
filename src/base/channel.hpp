#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <limits>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <utility>

namespace quern::base {

// A queue between threads: any number of senders, one receiver. It closes for
// the receiver when the last sender is gone and nothing is left, and for the
// senders when the receiver is gone.
inline constexpr std::size_t kUnbounded = std::numeric_limits<std::size_t>::max();

enum class SendResult { Sent, Full, Closed };

template <typename T>
class Sender;
template <typename T>
class Receiver;
template <typename T>
std::pair<Sender<T>, Receiver<T>> make_channel(std::size_t capacity = kUnbounded);

namespace detail {
template <typename T>
struct ChannelState {
    explicit ChannelState(std::size_t capacity_) : capacity(capacity_) {}
    std::mutex mutex;
    std::condition_variable ready;
    std::deque<T> values;
    std::size_t capacity;
    int senders = 0;
    bool receiver_alive = true;
    bool receiver_stalled = false;
    std::size_t taken = 0;  // received by receive_all and not yet begun on
};
}  // namespace detail

// One sender handle. Releasing the last one (or destroying it) is what tells
// the receiver that nothing more will come.
template <typename T>
class Sender {
public:
    Sender(Sender&& other) noexcept : state_(std::move(other.state_)) {}
    Sender& operator=(Sender&& other) noexcept {
        if (this != &other) {
            release();
            state_ = std::move(other.state_);
        }
        return *this;
    }
    Sender(const Sender&) = delete;
    Sender& operator=(const Sender&) = delete;
    ~Sender() { release(); }

    // A new handle on the same channel.
    Sender another() const { return Sender(state_); }

    // Never blocks. Full when the channel holds its capacity while the receiver
    // is stalled (see Receiver::set_stalled): a receiver that is merely slow to
    // be scheduled is not behind, so a burst it will take is not refused.
    // Closed once the receiver is gone or this handle has been released.
    SendResult send(T value) { return push(std::move(value), /*bounded=*/true); }

    // The same, but never Full: for the one value that must not be lost to a
    // full channel (it takes a place beyond the capacity).
    SendResult send_beyond_capacity(T value) { return push(std::move(value), /*bounded=*/false); }

    void release() {
        if (!state_) return;
        {
            std::lock_guard<std::mutex> lock(state_->mutex);
            --state_->senders;
        }
        state_->ready.notify_one();
        state_.reset();
    }

private:
    friend std::pair<Sender<T>, Receiver<T>> make_channel<T>(std::size_t);

    SendResult push(T value, bool bounded) {
        if (!state_) return SendResult::Closed;
        {
            std::lock_guard<std::mutex> lock(state_->mutex);
            if (!state_->receiver_alive) return SendResult::Closed;
            if (bounded && state_->receiver_stalled && state_->values.size() + state_->taken >= state_->capacity) {
                return SendResult::Full;
            }
            state_->values.push_back(std::move(value));
        }
        state_->ready.notify_one();
        return SendResult::Sent;
    }

    explicit Sender(std::shared_ptr<detail::ChannelState<T>> state) : state_(std::move(state)) {
        std::lock_guard<std::mutex> lock(state_->mutex);
        ++state_->senders;
    }

    std::shared_ptr<detail::ChannelState<T>> state_;
};

// The one receiving end.
template <typename T>
class Receiver {
public:
    enum class Wait { Value, TimedOut, Closed };

    Receiver(Receiver&& other) noexcept : state_(std::move(other.state_)) {}
    Receiver& operator=(Receiver&& other) noexcept {
        if (this != &other) {
            close();
            state_ = std::move(other.state_);
        }
        return *this;
    }
    Receiver(const Receiver&) = delete;
    Receiver& operator=(const Receiver&) = delete;
    ~Receiver() { close(); }

    // Waits as long as it takes; nullopt once every sender is gone and nothing
    // is left.
    std::optional<T> receive() {
        if (!state_) return std::nullopt;
        std::unique_lock<std::mutex> lock(state_->mutex);
        state_->ready.wait(lock, [this] { return !state_->values.empty() || state_->senders == 0; });
        return take(lock);
    }

    // Waits as long as it takes for at least one value, then moves every queued
    // value to the end of into; false once every sender is gone and nothing is
    // left. Each still counts against the capacity until the receiver begins
    // on it (begin_one_taken): it waits behind the receiver as much as the
    // queued ones do.
    bool receive_all(std::deque<T>& into, std::chrono::microseconds spin = std::chrono::microseconds(0)) {
        if (!state_) return false;
        std::unique_lock<std::mutex> lock(state_->mutex);
        look_again_for(spin, lock);
        state_->ready.wait(lock, [this] { return !state_->values.empty() || state_->senders == 0; });
        if (state_->values.empty()) return false;
        state_->taken += state_->values.size();
        move_all(into);
        return true;
    }

    // Waits at most timeout for at least one value, then moves every queued
    // value to the end of into (Value); the first spin of it is spent looking
    // instead of sleeping. Closed answers at once once every
    // sender is gone and nothing is left. Unlike receive_all, what it takes no
    // longer counts against the capacity.
    Wait receive_all_for(std::chrono::milliseconds timeout, std::deque<T>& into,
                         std::chrono::microseconds spin = std::chrono::microseconds(0)) {
        if (!state_) return Wait::Closed;
        std::unique_lock<std::mutex> lock(state_->mutex);
        look_again_for(spin, lock);
        const bool woken = state_->ready.wait_for(
            lock, timeout, [this] { return !state_->values.empty() || state_->senders == 0; });
        if (!woken) return Wait::TimedOut;
        if (state_->values.empty()) return Wait::Closed;
        move_all(into);
        return Wait::Value;
    }

    // The receiver begins on the next of the values receive_all took.
    void begin_one_taken() {
        if (!state_) return;
        std::lock_guard<std::mutex> lock(state_->mutex);
        if (state_->taken > 0) --state_->taken;
    }

    // Whether the receiver is held up by its own consumer (e.g. a full pipe).
    // Only while it is does the channel refuse values past its capacity.
    void set_stalled(bool stalled) {
        if (!state_) return;
        std::lock_guard<std::mutex> lock(state_->mutex);
        state_->receiver_stalled = stalled;
    }

    // Waits at most timeout. Closed answers at once once every sender is gone
    // and nothing is left.
    Wait receive_for(std::chrono::milliseconds timeout, T& value) {
        if (!state_) return Wait::Closed;
        std::unique_lock<std::mutex> lock(state_->mutex);
        const bool woken = state_->ready.wait_for(
            lock, timeout, [this] { return !state_->values.empty() || state_->senders == 0; });
        if (!woken) return Wait::TimedOut;
        std::optional<T> taken = take(lock);
        if (!taken) return Wait::Closed;
        value = std::move(*taken);
        return Wait::Value;
    }

    // Later sends answer Closed; what is still queued is dropped.
    void close() {
        if (!state_) return;
        std::deque<T> dropped;
        {
            std::lock_guard<std::mutex> lock(state_->mutex);
            state_->receiver_alive = false;
            dropped.swap(state_->values);
        }
        // The shared state lives on while senders still hold it; the dropped
        // values are destroyed here, outside the lock.
        state_.reset();
    }

private:
    friend std::pair<Sender<T>, Receiver<T>> make_channel<T>(std::size_t);
    explicit Receiver(std::shared_ptr<detail::ChannelState<T>> state) : state_(std::move(state)) {}

    // A receiver that expects a value any moment looks again for a short
    // while before it sleeps: being woken costs a sender far more.
    void look_again_for(std::chrono::microseconds spin, std::unique_lock<std::mutex>& lock) {
        if (spin.count() <= 0) return;
        const auto until = std::chrono::steady_clock::now() + spin;
        while (state_->values.empty() && state_->senders > 0 && std::chrono::steady_clock::now() < until) {
            lock.unlock();
            std::this_thread::yield();
            lock.lock();
        }
    }

    // With the lock held.
    void move_all(std::deque<T>& into) {
        if (into.empty()) {
            into.swap(state_->values);
        } else {
            for (T& value : state_->values) into.push_back(std::move(value));
            state_->values.clear();
        }
    }

    std::optional<T> take(std::unique_lock<std::mutex>&) {
        if (state_->values.empty()) return std::nullopt;
        std::optional<T> value(std::move(state_->values.front()));
        state_->values.pop_front();
        return value;
    }

    std::shared_ptr<detail::ChannelState<T>> state_;
};

// A channel with its first sender handle. Its capacity bounds what waits
// behind a stalled receiver (kUnbounded: nothing is ever Full).
template <typename T>
std::pair<Sender<T>, Receiver<T>> make_channel(std::size_t capacity) {
    auto state = std::make_shared<detail::ChannelState<T>>(capacity);
    Sender<T> sender(state);
    return {std::move(sender), Receiver<T>(std::move(state))};
}

}  // namespace quern::base
