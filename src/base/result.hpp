#pragma once

#include <string>
#include <utility>
#include <variant>

namespace quern::base {

// The message of an operation that did not succeed; it reads "what failed: why".
struct Failure {
    std::string message;
};

// Either a value or a failure message. Failures are values here: nothing in the
// runtime throws across threads, queues or the event loop.
template <typename T>
class [[nodiscard]] Result {
public:
    Result(T value) : state_(std::move(value)) {}
    Result(Failure failure) : state_(std::move(failure)) {}

    bool ok() const { return state_.index() == 0; }
    explicit operator bool() const { return ok(); }

    T& value() & { return std::get<0>(state_); }
    const T& value() const& { return std::get<0>(state_); }
    T&& value() && { return std::get<0>(std::move(state_)); }

    const std::string& error() const { return std::get<1>(state_).message; }

private:
    std::variant<T, Failure> state_;
};

// A Result without a value: success, or a failure message.
class [[nodiscard]] Status {
public:
    Status() = default;
    Status(Failure failure) : failed_(true), message_(std::move(failure.message)) {}

    bool ok() const { return !failed_; }
    explicit operator bool() const { return ok(); }
    const std::string& error() const { return message_; }

private:
    bool failed_ = false;
    std::string message_;
};

}  // namespace quern::base
