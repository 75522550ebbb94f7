// Events, waits and handles across threads; also run under ThreadSanitizer.
#include "platform/portable.h"
#include "platform/win_event.h"

#include "common/thread_state.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using testutil::currentTid;
using testutil::waitUntilAsleep;

// A thread that reports its kernel id before doing its work.
struct Sleeper {
    std::atomic<pid_t> tid{0};
    std::atomic<bool> done{false};
    std::atomic<unsigned long> result{12345};
    std::thread thread;

    template <class F> void start(F work) {
        thread = std::thread([this, work] {
            tid = currentTid();
            result = work();
            done = true;
        });
        while (tid == 0)
            std::this_thread::yield();
    }
    bool finishesWithin(std::chrono::milliseconds limit) {
        const auto deadline = Clock::now() + limit;
        while (!done && Clock::now() < deadline)
            std::this_thread::sleep_for(1ms);
        return done;
    }
};

TEST(EventThreads, SetThenResetReleasesEveryoneAlreadyWaiting) {
    for (bool manual : {true, false}) {
        CBaseHandle *ev = CreateEvent(nullptr, manual, false, nullptr);
        std::vector<Sleeper> sleepers(4);
        for (Sleeper &s : sleepers)
            s.start([ev] { return WaitForSingleObject(ev, INFINITE); });
        for (Sleeper &s : sleepers)
            ASSERT_TRUE(waitUntilAsleep(s.tid));
        SetEvent(ev);
        ResetEvent(ev);
        for (Sleeper &s : sleepers) {
            EXPECT_TRUE(s.finishesWithin(10s)) << (manual ? "manual" : "automatic");
            if (!s.done) SetEvent(ev); // let it go so the test can end
            s.thread.join();
            EXPECT_EQ(s.result.load(), 0UL);
        }
        // One who comes after the reset sleeps.
        EXPECT_EQ(WaitForSingleObject(ev, 80), 258UL);
        CloseHandle(ev);
    }
}

TEST(EventThreads, WaitAnyWokenBySetLeavesAutomaticEventSet) {
    CBaseHandle *h[2] = {CreateEvent(nullptr, false, false, nullptr),
                         CreateEvent(nullptr, false, false, nullptr)};
    Sleeper s;
    s.start([&h] { return WaitForMultipleObjects(2, h, false, INFINITE); });
    ASSERT_TRUE(waitUntilAsleep(s.tid));
    SetEvent(h[1]);
    ASSERT_TRUE(s.finishesWithin(10s));
    s.thread.join();
    EXPECT_EQ(s.result.load(), 1UL);
    // The same set also serves a later poll by someone else.
    EXPECT_EQ(WaitForSingleObject(h[1], 0), 0UL);
    EXPECT_EQ(WaitForSingleObject(h[0], 0), 258UL);

    // A finite wait that is woken returns the index too.
    Sleeper t;
    t.start([&h] { return WaitForMultipleObjects(2, h, false, 5000); });
    ASSERT_TRUE(waitUntilAsleep(t.tid));
    SetEvent(h[0]);
    ASSERT_TRUE(t.finishesWithin(10s));
    t.thread.join();
    EXPECT_EQ(t.result.load(), 0UL);
    CloseHandle(h[0]);
    CloseHandle(h[1]);
}

TEST(EventThreads, WaitAllWithoutLimitWaitsForEveryHandle) {
    CBaseHandle *h[2] = {CreateEvent(nullptr, false, true, nullptr),
                         CreateEvent(nullptr, true, false, nullptr)};
    Sleeper s;
    s.start([&h] { return WaitForMultipleObjects(2, h, true, INFINITE); });
    ASSERT_TRUE(waitUntilAsleep(s.tid));
    EXPECT_FALSE(s.done);
    SetEvent(h[1]);
    ASSERT_TRUE(s.finishesWithin(10s));
    s.thread.join();
    EXPECT_EQ(s.result.load(), 0UL);
    EXPECT_EQ(WaitForSingleObject(h[0], 0), 258UL) << "consumed on the way";
    EXPECT_EQ(WaitForSingleObject(h[1], 0), 0UL);
    CloseHandle(h[0]);
    CloseHandle(h[1]);
}

TEST(EventThreads, WaitAnyWithoutLimitIsReleasedEvenWhenTheSetIsTakenAway) {
    // Quit is automatic and may be consumed by a poll on another thread before
    // the sleeper looks; run is manual and may be reset again at once. The
    // sleeper was waiting when they were set, so it is released with their index.
    const int quit = event_create(0, 0);
    const int run = event_create(1, 0);
    for (int round = 0; round < 20; ++round) {
        const bool useQuit = round % 2 == 0;
        Sleeper s;
        s.start([quit, run] {
            int pair[2] = {quit, run};
            return static_cast<unsigned long>(event_wait_ex(pair, 2, 0xFFFFFFFFUL));
        });
        ASSERT_TRUE(waitUntilAsleep(s.tid));
        if (useQuit) {
            event_signal(quit);
            event_wait(quit);
        } else {
            event_signal(run);
            event_nonsignal(run);
        }
        EXPECT_TRUE(s.finishesWithin(10s)) << "round " << round;
        if (!s.done) event_signal(run);
        s.thread.join();
        EXPECT_EQ(s.result.load(), useQuit ? 0UL : 1UL) << "round " << round;
        event_nonsignal(quit);
    }
    event_close(quit);
    event_close(run);
}

TEST(EventThreads, ClosingAHandleWhileAnotherThreadWaitsOnIt) {
    const int quit = event_create(0, 0);
    const int other = event_create(0, 0);
    Sleeper s;
    s.start([quit, other] {
        int pair[2] = {quit, other};
        return static_cast<unsigned long>(event_wait_ex(pair, 2, 0xFFFFFFFFUL));
    });
    ASSERT_TRUE(waitUntilAsleep(s.tid));
    EXPECT_EQ(event_close(other), 0);
    EXPECT_EQ(event_signal(other), 0) << "the handle is gone at once";
    event_signal(quit);
    ASSERT_TRUE(s.finishesWithin(10s));
    s.thread.join();
    EXPECT_EQ(s.result.load(), 0UL);
    event_close(quit);
}

// Rounds of many sleepers on one event: every sleeper present when the event
// is set wakes, for both reset modes, single waits and waits for any, with the
// event reset or consumed straight after the set.
TEST(EventThreads, StressEveryWaiterPresentAtASetIsReleased) {
    const int kThreads = 6;
    const int kRounds = 12;
    for (int mode = 0; mode < 4; ++mode) {
        const bool manual = mode % 2 == 0;
        const bool waitAny = mode >= 2;
        CBaseHandle *ev = CreateEvent(nullptr, manual, false, nullptr);
        CBaseHandle *idle = CreateEvent(nullptr, true, false, nullptr);
        for (int round = 0; round < kRounds; ++round) {
            std::vector<Sleeper> sleepers(kThreads);
            for (int i = 0; i < kThreads; ++i) {
                const bool any = waitAny && i % 2 == 0;
                sleepers[i].start([ev, idle, any] {
                    if (any) {
                        CBaseHandle *pair[2] = {idle, ev};
                        return WaitForMultipleObjects(2, pair, false, INFINITE);
                    }
                    return WaitForSingleObject(ev, INFINITE) + 1;
                });
            }
            for (Sleeper &s : sleepers)
                ASSERT_TRUE(waitUntilAsleep(s.tid));
            SetEvent(ev);
            if (manual)
                ResetEvent(ev);
            else
                WaitForSingleObject(ev, 0); // a poll that takes what may be left
            for (int i = 0; i < kThreads; ++i) {
                Sleeper &s = sleepers[i];
                EXPECT_TRUE(s.finishesWithin(10s))
                    << "mode " << mode << " round " << round << " sleeper " << i;
                if (!s.done) SetEvent(idle);
                s.thread.join();
                // Wait-any sleepers get index 1 (ev); single sleepers report 0 + 1.
                EXPECT_EQ(s.result.load(), 1UL) << "mode " << mode << " round " << round << " sleeper " << i;
            }
            ResetEvent(idle);
        }
        CloseHandle(ev);
        CloseHandle(idle);
    }
}

// A waiter polls an automatic event with 1 ms waits that keep timing out; a
// setter sets it at random moments across those time-outs and then waits until
// the waiter has taken it. A set that lands just as a wait gives up must still
// be taken, by that wait or the next.
TEST(EventThreads, StressNoSetIsLostAtATimeOut) {
    struct Pair {
        CBaseHandle *event = CreateEvent(nullptr, false, false, nullptr);
        std::atomic<int> taken{0};
        std::atomic<bool> over{false};
    };
    const int kPairs = 4;
    const int kSets = 1500;
    std::vector<Pair> pairs(kPairs);
    std::atomic<int> lost{0};
    std::vector<std::thread> threads;
    for (int p = 0; p < kPairs; ++p) {
        Pair &pair = pairs[p];
        threads.emplace_back([&pair] {
            while (!pair.over)
                if (WaitForSingleObject(pair.event, 1) == 0) ++pair.taken;
        });
        threads.emplace_back([&pair, &lost, p] {
            std::mt19937 rng(77 + p);
            for (int i = 0; i < kSets; ++i) {
                std::this_thread::sleep_for(std::chrono::microseconds(rng() % 1100));
                SetEvent(pair.event);
                const auto deadline = Clock::now() + 3s;
                while (pair.taken <= i && Clock::now() < deadline)
                    std::this_thread::sleep_for(20us);
                if (pair.taken <= i) {
                    ++lost;
                    break;
                }
            }
            pair.over = true;
        });
    }
    for (std::thread &t : threads)
        t.join();
    for (Pair &pair : pairs)
        CloseHandle(pair.event);
    EXPECT_EQ(lost.load(), 0);
}

// Many threads set, reset, poll and wait on a handful of events at random; the
// waits without limit must never report a time-out, and finish once stop is set.
TEST(EventThreads, StressRandomTraffic) {
    const int kEvents = 4;
    int events[kEvents];
    for (int i = 0; i < kEvents; ++i)
        events[i] = event_create(i % 2, 0);
    const int stop = event_create(1, 0);
    std::atomic<int> badResults{0};
    std::atomic<bool> stopping{false};
    std::vector<std::thread> threads;
    for (int t = 0; t < 6; ++t) {
        threads.emplace_back([&, t] {
            std::mt19937 rng(1000 + t);
            while (!stopping) {
                const int e = events[rng() % kEvents];
                switch (rng() % 6) {
                case 0:
                    event_signal(e);
                    break;
                case 1:
                    event_nonsignal(e);
                    break;
                case 2: {
                    const int r = event_wait(e);
                    if (r != 0 && r != 258) ++badResults;
                    break;
                }
                case 3: {
                    int set[2] = {stop, e};
                    const int r = event_wait_ex(set, 2, 0xFFFFFFFFUL);
                    if (r != 0 && r != 1) ++badResults;
                    break;
                }
                case 4: {
                    int set[3] = {events[0], events[1], events[2]};
                    const int r = event_wait_ex(set, 3, rng() % 3);
                    if (r != 258 && (r < 0 || r > 2)) ++badResults;
                    break;
                }
                default:
                    if (WaitForSingleObject(nullptr, 0) != WAIT_FAILED) ++badResults;
                    break;
                }
            }
        });
    }
    std::this_thread::sleep_for(300ms);
    stopping = true;
    event_signal(stop);
    for (std::thread &th : threads)
        th.join();
    EXPECT_EQ(badResults.load(), 0);
    for (int e : events)
        event_close(e);
    event_close(stop);
}

TEST(EventThreads, MutexHandlesExcludeEachOther) {
    const int m = mutex_open();
    long counter = 0; // guarded by m only
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([m, &counter] {
            for (int i = 0; i < 5000; ++i) {
                mutex_lock(m);
                mutex_lock(m); // recursive
                ++counter;
                mutex_unlock(m);
                mutex_unlock(m);
            }
        });
    }
    for (std::thread &th : threads)
        th.join();
    EXPECT_EQ(counter, 20000);
    mutex_close(m);
}

} // namespace
