#include "MainQueueVirtual.h"

namespace orvane {

void MainQueueVirtual::async(Work work) {
    queue_.emplace(std::make_pair(now_, sequence_++), Entry{std::move(work), nullptr});
}

Task MainQueueVirtual::after(double seconds, Work work) {
    auto cancelled = std::make_shared<bool>(false);
    const auto delay =
        std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds > 0 ? seconds : 0));
    queue_.emplace(std::make_pair(now_ + delay, sequence_++), Entry{std::move(work), cancelled});
    return Task(cancelled);
}

std::size_t MainQueueVirtual::runUntilIdle() {
    std::size_t ran = 0;
    while (!queue_.empty() && queue_.begin()->first.first <= now_) {
        auto entry = std::move(queue_.begin()->second);
        queue_.erase(queue_.begin());
        if (entry.cancelled && *entry.cancelled) continue;
        entry.work();
        ++ran;
    }
    return ran;
}

void MainQueueVirtual::advance(double seconds) {
    const auto delay = std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
    const auto end = now_ + delay;
    runUntilIdle();
    while (!queue_.empty() && queue_.begin()->first.first <= end) {
        const auto due = queue_.begin()->first.first;
        const auto wallStep = due - now_;
        now_ = due;
        wall_ += std::chrono::duration_cast<std::chrono::system_clock::duration>(wallStep);
        runUntilIdle();
    }
    wall_ += std::chrono::duration_cast<std::chrono::system_clock::duration>(end - now_);
    now_ = end;
}

std::size_t MainQueueVirtual::pending() const {
    std::size_t count = 0;
    for (const auto& [when, entry] : queue_)
        if (!entry.cancelled || !*entry.cancelled) ++count;
    return count;
}

}  // namespace orvane
