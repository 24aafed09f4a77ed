#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <utility>

#include "core/events.hpp"

namespace quern {

namespace detail {
struct EventQueueState {
    std::mutex mutex;
    std::condition_variable ready;
    std::deque<RuntimeEvent> events;
    int producers = 0;
    bool consumer_alive = true;
};
}  // namespace detail

// One producer handle of the event queue; each worker thread holds its own.
// Releasing the last handle (destroying it) is what tells the consumer that
// no more events will come.
class EventProducer {
public:
    EventProducer(EventProducer&& other) noexcept : state_(std::move(other.state_)) {}
    EventProducer& operator=(EventProducer&& other) noexcept;
    EventProducer(const EventProducer&) = delete;
    EventProducer& operator=(const EventProducer&) = delete;
    ~EventProducer() { release(); }

    // A new handle on the same queue.
    EventProducer another() const;

    // Never blocks; false once the consumer is gone.
    bool send(RuntimeEvent event);

    void release();

private:
    friend std::pair<EventProducer, class EventConsumer> make_event_queue();
    explicit EventProducer(std::shared_ptr<detail::EventQueueState> state);

    std::shared_ptr<detail::EventQueueState> state_;
};

// The one consumer end, held by the event loop.
class EventConsumer {
public:
    enum class Wait { Event, TimedOut, Closed };

    EventConsumer(EventConsumer&&) noexcept = default;
    EventConsumer& operator=(EventConsumer&& other) noexcept {
        if (this != &other) {
            release();
            state_ = std::move(other.state_);
        }
        return *this;
    }
    EventConsumer(const EventConsumer&) = delete;
    EventConsumer& operator=(const EventConsumer&) = delete;
    ~EventConsumer() { release(); }

    // Waits at most timeout for an event. Closed means every producer handle
    // has been released and no event is left; it then answers at once.
    Wait wait_for(std::chrono::milliseconds timeout, RuntimeEvent& event);

    // Later sends fail; queued events are dropped.
    void release();

private:
    friend std::pair<EventProducer, EventConsumer> make_event_queue();
    explicit EventConsumer(std::shared_ptr<detail::EventQueueState> state)
        : state_(std::move(state)) {}

    std::shared_ptr<detail::EventQueueState> state_;
};

// An unbounded queue, with its first producer handle and its consumer.
std::pair<EventProducer, EventConsumer> make_event_queue();

}  // namespace quern
