#include <gtest/gtest.h>

#include <vector>

#include "MainQueueVirtual.h"

namespace orvane {
namespace {

TEST(MainQueueVirtual, RunsWorkInOrderAndTimersAtTheirTime) {
    MainQueueVirtual queue;
    std::vector<std::string> ran;
    queue.after(2, [&] { ran.emplace_back("t2"); });
    queue.after(1, [&] { ran.emplace_back("t1"); });
    queue.async([&] {
        ran.emplace_back("a");
        queue.async([&] { ran.emplace_back("nested"); });
    });
    EXPECT_TRUE(ran.empty()) << "nothing runs inside the call that schedules it";
    queue.runUntilIdle();
    EXPECT_EQ(ran, (std::vector<std::string>{"a", "nested"}));
    queue.advance(1.5);
    EXPECT_EQ(ran.back(), "t1");
    queue.advance(0.5);
    EXPECT_EQ(ran.back(), "t2");
}

TEST(MainQueueVirtual, CancelledTaskNeverRunsAndMonotonicClockIgnoresWallChanges) {
    MainQueueVirtual queue;
    bool fired = false;
    Task task = queue.after(10, [&] { fired = true; });
    Task copy = task;  // NOLINT(performance-unnecessary-copy-initialization): the copy is what is tested
    copy.cancel();
    const auto before = queue.now();
    queue.setWall(std::chrono::system_clock::time_point{});
    queue.advance(11);
    EXPECT_FALSE(fired);
    EXPECT_TRUE(task.cancelled());
    EXPECT_EQ(queue.now() - before, std::chrono::seconds(11));
    EXPECT_EQ(queue.pending(), 0u);
}

}  // namespace
}  // namespace orvane
