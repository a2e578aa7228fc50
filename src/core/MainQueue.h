#pragma once
// The one loop everything runs on. The product wires the GLib default main
// context (MainQueueGlib); tests wire virtual time (MainQueueVirtual) so that a
// 10-second time-out takes microseconds and never depends on the machine.

#include <chrono>
#include <functional>
#include <memory>

namespace orvane {

// A scheduled piece of work that can be called off before it runs. Copies
// share the same work; cancelling any copy cancels it. An empty Task is valid
// and cancelling it does nothing.
class Task {
public:
    Task() = default;
    explicit Task(std::shared_ptr<bool> cancelled) : cancelled_(std::move(cancelled)) {}
    void cancel() const {
        if (cancelled_) *cancelled_ = true;
    }
    bool cancelled() const { return cancelled_ && *cancelled_; }
    explicit operator bool() const { return static_cast<bool>(cancelled_); }

private:
    std::shared_ptr<bool> cancelled_;
};

class MainQueue {
public:
    using Work = std::function<void()>;
    using Clock = std::chrono::steady_clock;

    virtual ~MainQueue() = default;

    // Runs `work` on a later turn of the loop, after what is running now.
    // The one call a worker thread may make, to hand its result back (the
    // GLib queue allows it; the virtual one is single-threaded by design).
    virtual void async(Work work) = 0;
    // Runs `work` once, `seconds` from now, unless the returned task is cancelled.
    virtual Task after(double seconds, Work work) = 0;
    // Monotonic time: never jumps when the wall clock is set.
    virtual Clock::time_point now() const = 0;
    // Wall-clock time, for what the user sees; never for intervals.
    virtual std::chrono::system_clock::time_point wallNow() const = 0;
};

}  // namespace orvane
