#include "engines/run_loop_thread.h"

#include "common/thread_state.h"

#include <gtest/gtest.h>

#include <sched.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <future>
#include <thread>
#include <utility>
#include <vector>

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {
long long msSince(Clock::time_point t0) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t0).count();
}
} // namespace

TEST(RunLoopThread, PerformRunsOnTheWorkerAndWaitsUntilDone) {
    RunLoopThread worker("worker");
    ASSERT_TRUE(worker.start());
    EXPECT_TRUE(worker.isExecuting());

    std::thread::id ranOn;
    int value = 0; // plain: the synchronous hand-off must make it visible
    bool sawCurrent = false;
    const pid_t caller = testutil::currentTid();
    ASSERT_TRUE(worker.performSync([&] {
        // The work ends only once the caller has gone to sleep in its wait for it.
        EXPECT_TRUE(testutil::waitUntilAsleep(caller)) << "the caller did not wait";
        ranOn = std::this_thread::get_id();
        sawCurrent = RunLoopThread::current() == &worker && worker.isCurrentThread();
        value = 42;
    }));
    EXPECT_EQ(value, 42);
    EXPECT_NE(ranOn, std::this_thread::get_id());
    EXPECT_TRUE(sawCurrent);
    EXPECT_EQ(RunLoopThread::current(), nullptr);

    // Requests from several threads are served one at a time, each waited for.
    std::atomic<int> running{0}, maxRunning{0}, count{0};
    std::vector<std::thread> senders;
    for (int t = 0; t < 4; ++t) {
        senders.emplace_back([&] {
            for (int i = 0; i < 25; ++i) {
                ASSERT_TRUE(worker.performSync([&] {
                    int now = ++running;
                    int prev = maxRunning.load();
                    while (now > prev && !maxRunning.compare_exchange_weak(prev, now)) {
                    }
                    ++count;
                    --running;
                }));
            }
        });
    }
    for (auto &s : senders)
        s.join();
    EXPECT_EQ(count.load(), 100);
    EXPECT_EQ(maxRunning.load(), 1);

    // Work handed to the worker from its own thread runs at once instead of deadlocking.
    int nested = 0;
    ASSERT_TRUE(worker.performSync([&] { worker.performSync([&] { nested = 1; }); }));
    EXPECT_EQ(nested, 1);
}

namespace {
// Sends `work` from a thread of its own and returns once the worker has looked at its gate
// with the request queued (the sender asleep in its wait, then the gate asked twice more), or
// once the sender has been served.
std::future<bool> sendPastTheGate(RunLoopThread &worker, const std::function<void()> &work,
                                  const std::atomic<int> &gateLooks) {
    std::atomic<pid_t> tid{0};
    auto sender = std::async(std::launch::async, [&worker, &tid, work] {
        tid = testutil::currentTid();
        return worker.performSync(work);
    });
    while (tid == 0)
        std::this_thread::yield();
    const auto served = [&] { return sender.wait_for(0ms) == std::future_status::ready; };
    const auto deadline = Clock::now() + 10s;
    for (int asleep = 0; asleep < 3 && !served() && Clock::now() < deadline;) {
        asleep = testutil::threadState(tid) == 'S' ? asleep + 1 : 0;
        std::this_thread::sleep_for(2ms);
    }
    const int looked = gateLooks.load();
    while (gateLooks.load() < looked + 2 && !served() && Clock::now() < deadline)
        std::this_thread::sleep_for(1ms);
    EXPECT_TRUE(served() || gateLooks.load() >= looked + 2) << "the gate was not looked at";
    return sender;
}
} // namespace

TEST(RunLoopThread, ServesOnlyWhileTheGateIsOpen) {
    std::atomic<bool> open{false};
    std::atomic<int> gateLooks{0};
    RunLoopThread worker(
        "gated",
        [&] {
            ++gateLooks;
            return open.load();
        },
        20ms);
    ASSERT_TRUE(worker.start());

    std::atomic<bool> ran{false};
    auto sender = sendPastTheGate(
        worker, [&] { ran = true; }, gateLooks);
    EXPECT_EQ(sender.wait_for(0ms), std::future_status::timeout);
    EXPECT_FALSE(ran.load());

    const auto opened = Clock::now();
    open = true;
    EXPECT_TRUE(sender.get());
    EXPECT_TRUE(ran.load());
    EXPECT_LT(msSince(opened), 150); // within a few polls

    // Closing again holds the next request.
    open = false;
    ran = false;
    auto second = sendPastTheGate(
        worker, [&] { ran = true; }, gateLooks);
    EXPECT_EQ(second.wait_for(0ms), std::future_status::timeout);
    EXPECT_FALSE(ran.load());
    open = true;
    EXPECT_TRUE(second.get());
}

TEST(RunLoopThread, CancelReleasesWaitersAndFinishesTheRunningRequest) {
    RunLoopThread never(
        "never", [] { return false; }, 20ms);
    ASSERT_TRUE(never.start());
    std::atomic<int> ran{0};
    std::vector<std::future<bool>> waiters;
    std::atomic<pid_t> tids[3] = {};
    for (auto &tid : tids)
        waiters.push_back(std::async(std::launch::async, [&] {
            tid = testutil::currentTid();
            return never.performSync([&] { ++ran; });
        }));
    for (auto &tid : tids) {
        while (tid == 0)
            std::this_thread::yield();
        EXPECT_TRUE(testutil::waitUntilAsleep(tid)) << "a sender never came to wait";
    }
    const auto t0 = Clock::now();
    never.cancel();
    for (auto &w : waiters)
        EXPECT_FALSE(w.get());
    EXPECT_LT(msSince(t0), 200);
    EXPECT_EQ(ran.load(), 0);
    EXPECT_FALSE(never.performSync([&] { ++ran; })); // cancelled: nothing more runs
    never.cancelAndJoin();
    EXPECT_FALSE(never.isExecuting());

    // A request already running is finished before its sender is released.
    RunLoopThread busy("busy");
    ASSERT_TRUE(busy.start());
    std::atomic<bool> started{false}, finished{false};
    const pid_t self = testutil::currentTid();
    auto sender = std::async(std::launch::async, [&] {
        return busy.performSync([&] {
            started = true;
            // Still running when the cancel comes, and after it while this test waits for the sender.
            const auto deadline = Clock::now() + 10s;
            while (!busy.isCancelled() && Clock::now() < deadline)
                std::this_thread::sleep_for(1ms);
            finished = busy.isCancelled() && testutil::waitUntilAsleep(self);
        });
    });
    while (!started)
        std::this_thread::yield();
    busy.cancel();
    EXPECT_TRUE(sender.get());
    EXPECT_TRUE(finished.load());
}

namespace {
// Sets its flag when the thread that owns it ends (thread_local destructors run at thread exit).
struct ExitSignal {
    std::atomic<bool> *flag = nullptr;
    ~ExitSignal() {
        if (flag) flag->store(true);
    }
};
thread_local ExitSignal tlsExitSignal;
} // namespace

TEST(RunLoopThread, JoinsOnDestructionAndNeverStartedIsHarmless) {
    std::atomic<bool> threadEnded{false};
    {
        RunLoopThread worker("scoped", {}, 20ms);
        ASSERT_TRUE(worker.start());
        EXPECT_FALSE(worker.start()); // one thread only
        std::thread::id first, second;
        ASSERT_TRUE(worker.performSync([&] {
            tlsExitSignal.flag = &threadEnded;
            first = std::this_thread::get_id();
        }));
        // The same thread serves the next request: it had not ended after the first.
        ASSERT_TRUE(worker.performSync([&] { second = std::this_thread::get_id(); }));
        EXPECT_EQ(first, second);
        EXPECT_FALSE(threadEnded.load());
    }
    // The destructor returned only after the thread had ended.
    EXPECT_TRUE(threadEnded.load());

    RunLoopThread idle("idle");
    EXPECT_FALSE(idle.isExecuting());
    EXPECT_FALSE(idle.performSync([] {}));
    idle.cancelAndJoin();

    // Teardown of a gated thread that is not serving does not wait out its poll.
    auto t0 = Clock::now();
    {
        RunLoopThread slow(
            "slowpoll", [] { return false; }, 5000ms);
        ASSERT_TRUE(slow.start());
        ASSERT_TRUE(testutil::waitUntilAsleep(testutil::threadNamed("slowpoll"))) << "not in its poll";
    }
    EXPECT_LT(msSince(t0), 1000);
}

TEST(RunLoopThread, InterruptibleSleep) {
    // Whole duration when nothing interrupts.
    auto t0 = Clock::now();
    EXPECT_TRUE(RunLoopThread::interruptibleSleep(60ms, {}));
    EXPECT_GE(msSince(t0), 60);

    // A predicate ends it early.
    std::atomic<bool> stop{false};
    const pid_t self = testutil::currentTid();
    std::thread setter([&] {
        testutil::waitUntilAsleep(self); // set while the sleep runs
        stop = true;
    });
    t0 = Clock::now();
    EXPECT_FALSE(RunLoopThread::interruptibleSleep(5s, [&] { return stop.load(); }));
    EXPECT_LT(msSince(t0), 1000);
    setter.join();

    // Cancelling the worker ends a long sleep inside its work.
    RunLoopThread worker("sleeper");
    ASSERT_TRUE(worker.start());
    std::atomic<bool> sleeping{false};
    bool completed = true;
    auto sender = std::async(std::launch::async, [&] {
        return worker.performSync([&] {
            sleeping = true;
            completed = RunLoopThread::interruptibleSleep(5s, {}, 1000ms);
        });
    });
    while (!sleeping)
        std::this_thread::yield();
    ASSERT_TRUE(testutil::waitUntilAsleep(testutil::threadNamed("sleeper")));
    t0 = Clock::now();
    worker.cancel();
    EXPECT_TRUE(sender.get());
    EXPECT_FALSE(completed);
    EXPECT_LT(msSince(t0), 500);
}

// A hand-off may wake either side on the other's processor; neither keeps that narrowing, and
// neither is ever moved to a processor it was not given.
TEST(RunLoopThread, HandOffsLeaveEachThreadItsOwnProcessors) {
    cpu_set_t all, a, b, ab;
    sched_getaffinity(0, sizeof all, &all);
    std::vector<int> cpus;
    for (int c = 0; c < CPU_SETSIZE; ++c)
        if (CPU_ISSET(c, &all)) cpus.push_back(c);
    if (cpus.size() < 2) GTEST_SKIP() << "needs two processors";
    CPU_ZERO(&a);
    CPU_SET(cpus[0], &a);
    CPU_ZERO(&b);
    CPU_SET(cpus[1], &b);
    CPU_OR(&ab, &a, &b);
    const std::pair<cpu_set_t, cpu_set_t> cases[] = {{ab, ab}, {ab, b}, {a, ab}, {a, b}}; // worker, caller
    for (const auto &c : cases) {
        std::thread([&] {
            sched_setaffinity(0, sizeof c.first, &c.first);
            RunLoopThread worker("cpus");
            ASSERT_TRUE(worker.start());
            sched_setaffinity(0, sizeof c.second, &c.second);
            for (int i = 0; i < 20; ++i) {
                pid_t tid = 0;
                cpu_set_t inWork, caller, idleWorker;
                ASSERT_TRUE(worker.performSync([&] {
                    tid = testutil::currentTid();
                    sched_getaffinity(0, sizeof inWork, &inWork);
                }));
                sched_getaffinity(0, sizeof caller, &caller);
                sched_getaffinity(tid, sizeof idleWorker, &idleWorker);
                EXPECT_TRUE(CPU_EQUAL(&inWork, &c.first) && CPU_EQUAL(&idleWorker, &c.first));
                EXPECT_TRUE(CPU_EQUAL(&caller, &c.second));
            }
        }).join();
    }
}
