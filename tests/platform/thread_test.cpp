#include <gtest/gtest.h>

#include <future>
#include <memory>
#include <thread>

#include "platform/thread.hpp"
#include "support/waits.hpp"

namespace quern::platform {
namespace {

TEST(DetachedThread, RunsAMoveOnlyBodyOnceOnAThreadOfItsOwnAndDestroysItThere) {
    std::promise<std::thread::id> ran;
    std::future<std::thread::id> ran_on = ran.get_future();
    std::promise<std::thread::id> destroyed;
    std::future<std::thread::id> destroyed_on = destroyed.get_future();
    // Destroyed with the body: tells on which thread that happened.
    struct Witness {
        std::promise<std::thread::id>* destroyed;
        ~Witness() { destroyed->set_value(std::this_thread::get_id()); }
    };
    std::unique_ptr<Witness> witness(new Witness{&destroyed});
    spawn_detached_thread([witness = std::move(witness), &ran]() mutable { ran.set_value(std::this_thread::get_id()); });
    ASSERT_EQ(ran_on.wait_for(testing::kPromptWait), std::future_status::ready);
    ASSERT_EQ(destroyed_on.wait_for(testing::kPromptWait), std::future_status::ready);
    const std::thread::id body_thread = ran_on.get();
    EXPECT_NE(body_thread, std::this_thread::get_id());
    EXPECT_EQ(destroyed_on.get(), body_thread);
}

}  // namespace
}  // namespace quern::platform
