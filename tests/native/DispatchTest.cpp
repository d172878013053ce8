// The main queue stand-in, without a Java VM in the process.
#include "platform/dispatch/Dispatch.h"

#include <mutex>
#include <stdexcept>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "tests/native/StderrCapture.h"

namespace {

using namespace platform::dispatch;

TEST(MainQueue, RunsBlocksInOrderOnOneOtherThread) {
    std::mutex lock;
    std::vector<int> order;
    std::vector<std::thread::id> threads;
    for (int i = 0; i < 100; ++i) {
        dispatch_async(dispatch_get_main_queue(), [&, i] {
            const std::lock_guard<std::mutex> hold(lock);
            order.push_back(i);
            threads.push_back(std::this_thread::get_id());
        });
    }
    dispatch_sync(dispatch_get_main_queue(), [] {});  // every earlier block has run
    ASSERT_EQ(order.size(), 100u);
    for (int i = 0; i < 100; ++i) EXPECT_EQ(order[static_cast<std::size_t>(i)], i);
    for (const auto& id : threads) EXPECT_EQ(id, threads.front());
    EXPECT_NE(threads.front(), std::this_thread::get_id());
    EXPECT_FALSE(dispatch_is_queue_thread(dispatch_get_main_queue()));
}

TEST(MainQueue, ABlockThatThrowsIsLoggedAndTheQueueGoesOn) {
    bool after = false;
    const std::string log = bfgtest::captureStderr([&] {
        dispatch_async(dispatch_get_main_queue(), [] { throw std::runtime_error("sheet failed"); });
        dispatch_sync(dispatch_get_main_queue(), [&] { after = true; });
    });
    EXPECT_TRUE(after);
    EXPECT_NE(log.find("] A block on the main queue raised: sheet failed\n"), std::string::npos) << log;
}

TEST(MainQueue, SyncFromTheQueueThreadRunsAtOnce) {
    bool inner = false, onQueue = false;
    dispatch_sync(dispatch_get_main_queue(), [&] {
        onQueue = dispatch_is_queue_thread(dispatch_get_main_queue());
        dispatch_sync(dispatch_get_main_queue(), [&] { inner = true; });  // no deadlock
    });
    EXPECT_TRUE(onQueue);
    EXPECT_TRUE(inner);
}

}  // namespace
