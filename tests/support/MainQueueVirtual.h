#pragma once
// Virtual time for tests: nothing runs until the test turns the loop, and
// time moves only when the test advances it.

#include <cstdint>
#include <map>
#include <utility>

#include "MainQueue.h"

namespace orvane {

class MainQueueVirtual final : public MainQueue {
public:
    void async(Work work) override;
    Task after(double seconds, Work work) override;
    Clock::time_point now() const override { return now_; }
    std::chrono::system_clock::time_point wallNow() const override { return wall_; }

    // Runs everything that is due now, including work it queues, until idle.
    // Returns how many pieces of work ran.
    std::size_t runUntilIdle();
    // Moves time forward by `seconds`, running timers in time order as it goes.
    void advance(double seconds);
    // Sets the wall clock (it may go backwards); the monotonic clock is untouched.
    void setWall(std::chrono::system_clock::time_point wall) { wall_ = wall; }
    // Pieces of work that are scheduled and not cancelled.
    std::size_t pending() const;

private:
    struct Entry {
        Work work;
        std::shared_ptr<bool> cancelled;
    };
    // Ordered by due time, then by scheduling order.
    std::map<std::pair<Clock::time_point, std::uint64_t>, Entry> queue_;
    std::uint64_t sequence_ = 0;
    Clock::time_point now_{};
    std::chrono::system_clock::time_point wall_ =
        std::chrono::system_clock::time_point{} + std::chrono::hours(24 * 365 * 50);
};

}  // namespace orvane
