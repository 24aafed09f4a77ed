#include "core/event_queue.hpp"

namespace quern {

EventProducer::EventProducer(std::shared_ptr<detail::EventQueueState> state)
    : state_(std::move(state)) {
    std::lock_guard<std::mutex> lock(state_->mutex);
    ++state_->producers;
}

EventProducer& EventProducer::operator=(EventProducer&& other) noexcept {
    if (this != &other) {
        release();
        state_ = std::move(other.state_);
    }
    return *this;
}

EventProducer EventProducer::another() const { return EventProducer(state_); }

bool EventProducer::send(RuntimeEvent event) {
    if (!state_) return false;
    {
        std::lock_guard<std::mutex> lock(state_->mutex);
        if (!state_->consumer_alive) return false;
        state_->events.push_back(std::move(event));
    }
    state_->ready.notify_one();
    return true;
}

void EventProducer::release() {
    if (!state_) return;
    {
        std::lock_guard<std::mutex> lock(state_->mutex);
        --state_->producers;
    }
    state_->ready.notify_one();
    state_.reset();
}

EventConsumer::Wait EventConsumer::wait_for(std::chrono::milliseconds timeout,
                                            RuntimeEvent& event) {
    std::unique_lock<std::mutex> lock(state_->mutex);
    const bool woken = state_->ready.wait_for(lock, timeout, [this] {
        return !state_->events.empty() || state_->producers == 0;
    });
    if (!woken) return Wait::TimedOut;
    if (state_->events.empty()) return Wait::Closed;
    event = std::move(state_->events.front());
    state_->events.pop_front();
    return Wait::Event;
}

void EventConsumer::release() {
    if (!state_) return;
    {
        std::lock_guard<std::mutex> lock(state_->mutex);
        state_->consumer_alive = false;
        state_->events.clear();
    }
    // The shared state lives on while producers still hold it.
    state_.reset();
}

std::pair<EventProducer, EventConsumer> make_event_queue() {
    auto state = std::make_shared<detail::EventQueueState>();
    EventProducer producer(state);
    return {std::move(producer), EventConsumer(std::move(state))};
}

}  // namespace quern
