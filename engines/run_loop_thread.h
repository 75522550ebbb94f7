// A worker thread that serves work handed to it synchronously.
//
// Another thread calls performSync(work): the work runs on this thread and performSync returns
// when it has finished. The thread serves requests only while its serve gate answers true;
// while the gate is closed, requests wait (the gate is polled every idlePoll). cancel() ends the
// thread: requests not yet started are released at once (performSync returns false), a request
// already running is finished first. The destructor cancels and joins; a thread is never joined
// from itself (it is detached instead).
//
// Each side of a hand-off is woken on the processor of the side that wakes it, which goes to
// sleep right after: an idle processor is not woken (on a virtual machine that costs tens of
// microseconds per hand-off) and the data just handed over is still in that processor's cache.
// The narrowing lasts until the woken side runs; it then gets back the processors it had. While
// narrowed sides keep waiting long for their processor (another program shares it), wakes are
// left to the scheduler for a while (WakeNarrowing).
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include <sched.h>

#include "engines/wake_narrowing.h"

class RunLoopThread {
  public:
    using ServeGate = std::function<bool()>;

    // An empty gate means "always serve".
    explicit RunLoopThread(std::string name, ServeGate gate = {},
                           std::chrono::milliseconds idlePoll = std::chrono::milliseconds(250));
    ~RunLoopThread();
    RunLoopThread(const RunLoopThread &) = delete;
    RunLoopThread &operator=(const RunLoopThread &) = delete;

    // Starts the thread; false when it could not be created (or was started before).
    bool start();

    // Runs `work` on this thread and waits until it has run. False when the thread was never
    // started or was cancelled before the work began (the work then does not run).
    // Called on this thread itself, the work runs at once.
    bool performSync(const std::function<void()> &work);

    // No more work: pending requests are released, the run loop leaves after the running one.
    void cancel();
    // Cancels and waits for the thread to end (detaches when called on the thread itself).
    void cancelAndJoin();

    bool isCancelled() const;
    // Started, and its run loop has not left yet.
    bool isExecuting() const;
    bool isCurrentThread() const;
    const std::string &name() const { return name_; }

    // Sleeps up to `duration` on the calling thread. The sleep ends early when `interrupt`
    // answers true (polled every `poll`) or, when the caller is a RunLoopThread, when that
    // thread is cancelled. Returns true when the whole duration was slept.
    static bool interruptibleSleep(std::chrono::microseconds duration, const std::function<bool()> &interrupt,
                                   std::chrono::milliseconds poll = std::chrono::milliseconds(10));
    // The RunLoopThread whose thread is calling, or nullptr.
    static RunLoopThread *current();

  private:
    // A request's end is signalled under its own mutex, apart from the one that guards the
    // queue: the caller waiting for its frame and the thread taking the next request never
    // contend for a lock, and each side is woken once, after the other has let go.
    enum class Outcome { Pending, Done, Dropped };
    struct Request {
        const std::function<void()> *work;
        Outcome outcome = Outcome::Pending; // guarded by doneMutex_
        // The caller's kernel thread id and processors; whether it was narrowed to wake on ours.
        int callerTid = 0;
        const cpu_set_t *callerCpus = nullptr;
        bool callerNarrowed = false; // guarded by doneMutex_
        // When the side narrowed to wake was woken: this thread (set before the request is
        // queued), the caller (guarded by doneMutex_).
        std::chrono::steady_clock::time_point handedAt{}, finishedAt{};
    };

    void run();
    bool gateOpen() const;
    // Ends the requests with the outcome and wakes their callers.
    // `callerNarrowed`: the callers were narrowed to this thread's processor.
    void finishRequests(Request *const *requests, size_t count, Outcome outcome, bool callerNarrowed = false);

    const std::string name_;
    const ServeGate gate_;
    const std::chrono::milliseconds idlePoll_;

    mutable std::mutex mutex_;
    std::condition_variable cv_; // requests, cancel
    std::mutex doneMutex_;
    std::condition_variable doneCv_; // completions
    std::deque<Request *> queue_;
    bool started_ = false;
    bool cancelled_ = false;
    bool finished_ = false;
    std::thread::id threadId_;
    std::thread thread_;
    // The processors the thread was started with (set before it starts), its kernel id once it
    // runs, and whether a caller has narrowed it to the caller's processor.
    cpu_set_t homeCpus_{};
    std::atomic<int> tid_{0};
    std::atomic<bool> narrowed_{false};
    WakeNarrowing wakeNarrowing_;
};
