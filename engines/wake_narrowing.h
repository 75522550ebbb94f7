// Whether a hand-off wakes the other side on the waker's processor.
//
// On a quiet machine that is the cheaper wake: the waker sleeps at once and leaves its processor
// to the woken side. When another program runs on the same processors, narrowed hand-offs stay
// on one processor and share it with that program all the time, where unnarrowed ones move
// between processors and are mostly let run first. So a side woken that way tells how long it
// was ready to run but waited for its processor (before it ran, and while it did its work);
// when such long waits come close after each other the wakes stop being narrowed for a while
// and are then tried again. Shared by the two sides of a thread's hand-offs, without a lock: a
// lost update only moves a pause by a wake or two.
#pragma once

#include <atomic>
#include <chrono>

struct WakeNarrowingLimits {
    // A narrowed wake that waited longer than this in all counts as held up. An unhindered one
    // waits some microseconds to tens of microseconds on a virtual machine; one held up by
    // another program waits for that program's time slice, some milliseconds.
    std::chrono::microseconds slowWait;
    // This many held-up wakes, each at most `within` narrowed wakes after the one before, stop
    // the narrowing... (another program preempts a narrowed playback thread about once in
    // twenty wakes; on a quiet machine not one in a thousand waits that long)
    int heldUpToPause;
    unsigned within;
    // ...for this many wakes (a playback channel has about 50 a second).
    int pausedWakes;
};

class WakeNarrowing {
  public:
    static constexpr WakeNarrowingLimits kDefaultLimits{std::chrono::microseconds(1000), 2, 128, 1024};

    explicit WakeNarrowing(WakeNarrowingLimits limits = kDefaultLimits) : limits_(limits) {}

    // Whether to narrow the next wake; a wake not narrowed during a pause counts it down.
    bool narrowNextWake() {
        if (paused_.load(std::memory_order_relaxed) <= 0) return true;
        paused_.fetch_sub(1, std::memory_order_relaxed);
        return false;
    }

    // A side woken on the waker's processor was ready to run but waited `waited` in all.
    void woke(std::chrono::microseconds waited) {
        const unsigned wake = wakes_.fetch_add(1, std::memory_order_relaxed) + 1;
        if (waited <= limits_.slowWait) return;
        const unsigned previous = lastHeldUp_.exchange(wake, std::memory_order_relaxed);
        int heldUp = 1;
        if (previous != 0 && wake - previous <= limits_.within)
            heldUp = heldUp_.fetch_add(1, std::memory_order_relaxed) + 1;
        else
            heldUp_.store(1, std::memory_order_relaxed);
        if (heldUp < limits_.heldUpToPause) return;
        heldUp_.store(0, std::memory_order_relaxed);
        lastHeldUp_.store(0, std::memory_order_relaxed);
        paused_.store(limits_.pausedWakes, std::memory_order_relaxed);
    }

  private:
    const WakeNarrowingLimits limits_;
    std::atomic<unsigned> wakes_{0};      // narrowed wakes reported
    std::atomic<unsigned> lastHeldUp_{0}; // the number of the last held-up one, 0 for none
    std::atomic<int> heldUp_{0};          // held-up wakes close enough after each other
    std::atomic<int> paused_{0};
};
