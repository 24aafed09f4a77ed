#include "request/backend_input_queue.hpp"

namespace quern::request {

std::string_view offer_refusal_text(Offer offer) {
    return offer == Offer::Full ? "sending on a full channel" : "sending on a closed channel";
}

Offer BackendInputSender::offer(json::Value value) {
    if (!state_) return Offer::Closed;
    {
        std::lock_guard<std::mutex> lock(state_->mutex);
        if (!state_->receiver_alive) return Offer::Closed;
        if (state_->values.size() >= state_->capacity) return Offer::Full;
        state_->values.push_back(std::move(value));
    }
    state_->ready.notify_one();
    return Offer::Queued;
}

void BackendInputSender::close() {
    if (!state_) return;
    {
        std::lock_guard<std::mutex> lock(state_->mutex);
        state_->sender_alive = false;
    }
    state_->ready.notify_one();
    state_.reset();
}

std::optional<json::Value> BackendInputReceiver::receive() {
    if (!state_) return std::nullopt;
    std::unique_lock<std::mutex> lock(state_->mutex);
    state_->ready.wait(lock, [this] { return !state_->values.empty() || !state_->sender_alive; });
    if (state_->values.empty()) return std::nullopt;
    json::Value value = std::move(state_->values.front());
    state_->values.pop_front();
    return value;
}

void BackendInputReceiver::close() {
    if (!state_) return;
    std::deque<json::Value> dropped;
    {
        std::lock_guard<std::mutex> lock(state_->mutex);
        state_->receiver_alive = false;
        dropped.swap(state_->values);
    }
    state_.reset();
}

std::pair<BackendInputSender, BackendInputReceiver> make_backend_input_queue(std::size_t capacity) {
    auto state = std::make_shared<detail::InputQueueState>(capacity);
    return {BackendInputSender(state), BackendInputReceiver(state)};
}

}  // namespace quern::request
