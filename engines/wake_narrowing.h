// Whether a hand-off wakes the other side on the waker's processor.
//
// On a quiet machine that is the cheaper wake: the waker sleeps at once and leaves its processor
// to the woken side. When another program keeps that processor busy, the woken side waits for
// it although the other processor may be free. So each side woken that way tells how long it
// waited to run; after several long waits in a row the wakes stop being narrowed for a while and
// are then tried again. Shared by the two sides of a thread's hand-offs, without a lock: a lost
// update only moves a pause by a wake or two.
#pragma once

#include <atomic>
#include <chrono>

struct WakeNarrowingLimits {
    // A narrowed wake that waited longer than this counts as held up; an unhindered one takes
    // some microseconds to tens of microseconds on a virtual machine.
    std::chrono::microseconds slowWait;
    // Held-up wakes in a row that stop the narrowing...
    int slowInARow;
    // ...for this many wakes (a playback channel has about 50 a second).
    int pausedWakes;
};

class WakeNarrowing {
  public:
    static constexpr WakeNarrowingLimits kDefaultLimits{std::chrono::microseconds(200), 3, 250};

    explicit WakeNarrowing(WakeNarrowingLimits limits = kDefaultLimits) : limits_(limits) {}

    // Whether to narrow the next wake; a wake not narrowed during a pause counts it down.
    bool narrowNextWake() {
        if (paused_.load(std::memory_order_relaxed) <= 0) return true;
        paused_.fetch_sub(1, std::memory_order_relaxed);
        return false;
    }

    // A side woken on the waker's processor waited `waited` before it ran.
    void woke(std::chrono::microseconds waited) {
        if (waited <= limits_.slowWait) {
            slowInARow_.store(0, std::memory_order_relaxed);
            return;
        }
        if (slowInARow_.fetch_add(1, std::memory_order_relaxed) + 1 < limits_.slowInARow) return;
        slowInARow_.store(0, std::memory_order_relaxed);
        paused_.store(limits_.pausedWakes, std::memory_order_relaxed);
    }

  private:
    const WakeNarrowingLimits limits_;
    std::atomic<int> slowInARow_{0};
    std::atomic<int> paused_{0};
};
