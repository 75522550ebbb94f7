#include "engines/run_loop_thread.h"

#include <algorithm>
#include <cstdlib>
#include <fcntl.h>
#include <pthread.h>
#include <sys/prctl.h>
#include <system_error>
#include <unistd.h>
#include <utility>
#include <vector>

#include "platform/portable.h"

namespace {
thread_local RunLoopThread *tlsCurrent = nullptr;

// Lets thread `tid` run only on the calling thread's processor until it takes its own processors
// back; nothing when that processor is not among `allowed` or there is no other to choose from.
bool narrowToCallingCpu(int tid, const cpu_set_t &allowed) {
    const int cpu = sched_getcpu();
    if (tid == 0 || cpu < 0 || cpu >= CPU_SETSIZE || CPU_COUNT(&allowed) < 2 || !CPU_ISSET(cpu, &allowed))
        return false;
    cpu_set_t one;
    CPU_ZERO(&one);
    CPU_SET(cpu, &one);
    return sched_setaffinity(tid, sizeof one, &one) == 0;
}

void restoreCpus(const cpu_set_t &cpus) {
    sched_setaffinity(0, sizeof cpus, &cpus);
}

// Nanoseconds the thread has been ready to run but waited for a processor so far, read from its
// /proc schedstat file; -1 when that cannot be read.
long long runQueueNs(int schedstat) {
    if (schedstat < 0) return -1;
    char text[96];
    const ssize_t n = pread(schedstat, text, sizeof text - 1, 0);
    if (n <= 0) return -1;
    text[n] = '\0';
    char *end = nullptr;
    std::strtoull(text, &end, 10); // the time it ran, then the time it waited
    return static_cast<long long>(std::strtoull(end, nullptr, 10));
}

std::chrono::microseconds since(std::chrono::steady_clock::time_point t) {
    return std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - t);
}
} // namespace

RunLoopThread::RunLoopThread(std::string name, ServeGate gate, std::chrono::milliseconds idlePoll)
    : name_(std::move(name)), gate_(std::move(gate)), idlePoll_(idlePoll) {}

RunLoopThread::~RunLoopThread() {
    cancelAndJoin();
}

bool RunLoopThread::start() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (started_) return false;
    // The thread inherits these.
    if (sched_getaffinity(0, sizeof homeCpus_, &homeCpus_) != 0) CPU_ZERO(&homeCpus_);
    try {
        thread_ = std::thread(&RunLoopThread::run, this);
    } catch (const std::system_error &) {
        return false;
    }
    started_ = true;
    threadId_ = thread_.get_id();
    // Thread names are limited to 15 characters; longer ones are cut.
    std::string shortName = name_.substr(0, 15);
    pthread_setname_np(thread_.native_handle(), shortName.c_str());
    return true;
}

bool RunLoopThread::gateOpen() const {
    return !gate_ || gate_();
}

void RunLoopThread::run() {
    tlsCurrent = this;
    // The playback threads pace the pictures: a busy machine must not make them late.
    thread_raise_priority();
    // The playback threads' sleeps pace the pictures; the default timer slack (50 us) would
    // lengthen every one of them, and add up to a drift behind the recording's clock.
    prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
    tid_ = static_cast<int>(gettid());
    // Kept open: a narrowed wake's work reads it twice.
    const int schedstat = open("/proc/thread-self/schedstat", O_RDONLY | O_CLOEXEC);
    std::unique_lock<std::mutex> lock(mutex_);
    // Only a request that woke the idle thread tells how long a wake took; one queued while the
    // thread was busy or its gate closed waited for other reasons.
    bool idle = false;
    while (!cancelled_) {
        const bool open = gateOpen();
        if (open && !queue_.empty()) {
            Request *request = queue_.front();
            queue_.pop_front();
            lock.unlock();
            const bool wokeByRequest = std::exchange(idle, false);
            const bool narrowedWake =
                wokeByRequest && request->handedAt != std::chrono::steady_clock::time_point();
            const std::chrono::microseconds waited =
                narrowedWake ? since(request->handedAt) : std::chrono::microseconds(0);
            if (narrowed_.exchange(false)) restoreCpus(homeCpus_);
            // Another program sharing the processor also holds the work up while it runs.
            const long long queuedBefore = narrowedWake ? runQueueNs(schedstat) : -1;
            (*request->work)();
            if (narrowedWake) {
                const long long queuedAfter = queuedBefore < 0 ? -1 : runQueueNs(schedstat);
                const long long queuedUs =
                    queuedAfter > queuedBefore ? (queuedAfter - queuedBefore) / 1000 : 0;
                wakeNarrowing_.woke(waited + std::chrono::microseconds(queuedUs));
            }
            // Read before the outcome is set: the caller's request ends with its wait.
            const bool narrowCaller = request->callerCpus && wakeNarrowing_.narrowNextWake() &&
                                      narrowToCallingCpu(request->callerTid, *request->callerCpus);
            finishRequests(&request, 1, Outcome::Done, narrowCaller);
            lock.lock();
            continue;
        }
        idle = open;
        if (open) {
            // Serving: wait for the next request (or the cancel).
            cv_.wait(lock);
        } else {
            // Not serving: look at the gate again after a while.
            cv_.wait_for(lock, idlePoll_);
        }
    }
    // Requests that never started are released; their callers see false.
    const std::vector<Request *> dropped(queue_.begin(), queue_.end());
    queue_.clear();
    finished_ = true;
    lock.unlock();
    if (schedstat >= 0) close(schedstat);
    finishRequests(dropped.data(), dropped.size(), Outcome::Dropped);
    tlsCurrent = nullptr;
}

void RunLoopThread::finishRequests(Request *const *requests, size_t count, Outcome outcome,
                                   bool callerNarrowed) {
    if (count == 0) return;
    {
        std::lock_guard<std::mutex> done(doneMutex_);
        const auto now =
            callerNarrowed ? std::chrono::steady_clock::now() : std::chrono::steady_clock::time_point();
        for (size_t i = 0; i < count; ++i) {
            requests[i]->callerNarrowed = callerNarrowed;
            requests[i]->finishedAt = now;
            requests[i]->outcome = outcome;
        }
    }
    // Woken after the lock is let go, so that the caller does not wake only to wait for it.
    doneCv_.notify_all();
}

bool RunLoopThread::performSync(const std::function<void()> &work) {
    if (isCurrentThread()) {
        work();
        return true;
    }
    cpu_set_t callerCpus;
    Request request{&work};
    if (sched_getaffinity(0, sizeof callerCpus, &callerCpus) == 0) {
        request.callerTid = static_cast<int>(gettid());
        request.callerCpus = &callerCpus;
    }
    // A thread that runs has its processors set (before it was started).
    if (wakeNarrowing_.narrowNextWake() && narrowToCallingCpu(tid_.load(), homeCpus_)) {
        narrowed_ = true;
        request.handedAt = std::chrono::steady_clock::now();
    }
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!started_ || cancelled_ || finished_) return false;
        queue_.push_back(&request);
    }
    cv_.notify_all();
    std::unique_lock<std::mutex> done(doneMutex_);
    doneCv_.wait(done, [&] { return request.outcome != Outcome::Pending; });
    if (request.callerNarrowed) {
        wakeNarrowing_.woke(since(request.finishedAt));
        restoreCpus(callerCpus);
    }
    return request.outcome == Outcome::Done;
}

void RunLoopThread::cancel() {
    std::vector<Request *> dropped;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        cancelled_ = true;
        // Requests not yet taken are released now, not after the one running.
        dropped.assign(queue_.begin(), queue_.end());
        queue_.clear();
    }
    cv_.notify_all();
    finishRequests(dropped.data(), dropped.size(), Outcome::Dropped);
}

void RunLoopThread::cancelAndJoin() {
    cancel();
    std::thread toJoin;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!thread_.joinable()) return;
        toJoin = std::move(thread_);
    }
    if (toJoin.get_id() == std::this_thread::get_id()) {
        toJoin.detach();
    } else {
        toJoin.join();
    }
}

bool RunLoopThread::isCancelled() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return cancelled_;
}

bool RunLoopThread::isExecuting() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return started_ && !finished_;
}

bool RunLoopThread::isCurrentThread() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return started_ && threadId_ == std::this_thread::get_id();
}

RunLoopThread *RunLoopThread::current() {
    return tlsCurrent;
}

bool RunLoopThread::interruptibleSleep(std::chrono::microseconds duration,
                                       const std::function<bool()> &interrupt,
                                       std::chrono::milliseconds poll) {
    using Clock = std::chrono::steady_clock;
    const Clock::time_point deadline = Clock::now() + duration;
    if (poll <= std::chrono::milliseconds(0)) poll = std::chrono::milliseconds(1);
    RunLoopThread *self = current();
    if (self) {
        std::unique_lock<std::mutex> lock(self->mutex_);
        for (;;) {
            if (self->cancelled_) return false;
            if (interrupt && interrupt()) return false;
            const Clock::time_point now = Clock::now();
            if (now >= deadline) return true;
            self->cv_.wait_until(lock, std::min(deadline, now + poll));
        }
    }
    for (;;) {
        if (interrupt && interrupt()) return false;
        const Clock::time_point now = Clock::now();
        if (now >= deadline) return true;
        std::this_thread::sleep_until(std::min(deadline, now + poll));
    }
}
