#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string_view>
#include <utility>

#include "json/value.hpp"

namespace quern::request {

inline constexpr std::size_t kBackendInputCapacity = 32;

enum class Offer { Queued, Full, Closed };

// "sending on a full channel" / "sending on a closed channel"
std::string_view offer_refusal_text(Offer offer);

namespace detail {
struct InputQueueState {
    explicit InputQueueState(std::size_t capacity_) : capacity(capacity_) {}
    std::mutex mutex;
    std::condition_variable ready;
    std::deque<json::Value> values;
    std::size_t capacity;
    bool sender_alive = true;
    bool receiver_alive = true;
};
}  // namespace detail

// The event loop's end: never blocks. Destroying it (or close()) tells the
// writer that nothing more will come once the queue is empty.
class BackendInputSender {
public:
    BackendInputSender(BackendInputSender&&) noexcept = default;
    BackendInputSender& operator=(BackendInputSender&& other) noexcept {
        if (this != &other) {
            close();
            state_ = std::move(other.state_);
        }
        return *this;
    }
    ~BackendInputSender() { close(); }

    // Closed once the writer has stopped, even with room left.
    Offer offer(json::Value value);
    void close();

private:
    friend std::pair<BackendInputSender, class BackendInputReceiver> make_backend_input_queue(std::size_t);
    explicit BackendInputSender(std::shared_ptr<detail::InputQueueState> state) : state_(std::move(state)) {}
    std::shared_ptr<detail::InputQueueState> state_;
};

// The writer's end: blocks until a value comes.
class BackendInputReceiver {
public:
    BackendInputReceiver(BackendInputReceiver&&) noexcept = default;
    BackendInputReceiver& operator=(BackendInputReceiver&& other) noexcept {
        if (this != &other) {
            close();
            state_ = std::move(other.state_);
        }
        return *this;
    }
    ~BackendInputReceiver() { close(); }

    // The next value; nullopt once the sender has let go and the queue is empty.
    std::optional<json::Value> receive();
    // Later offers answer Closed; what is still queued is dropped.
    void close();

private:
    friend std::pair<BackendInputSender, BackendInputReceiver> make_backend_input_queue(std::size_t);
    explicit BackendInputReceiver(std::shared_ptr<detail::InputQueueState> state) : state_(std::move(state)) {}
    std::shared_ptr<detail::InputQueueState> state_;
};

std::pair<BackendInputSender, BackendInputReceiver> make_backend_input_queue(
    std::size_t capacity = kBackendInputCapacity);

}  // namespace quern::request
