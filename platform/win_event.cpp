#include "platform/win_event.h"

#include "platform/critical_section.h"

#include <sys/time.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <memory>
#include <new>

namespace {

// The lock taken before any event's own mutex: it guards the set of live
// events, every signal (so subscriber sets are walked under it), subscribing,
// and the checks of the wait for any. Both objects are made on first use and
// never destroyed, so events work during static initialisation and at exit.
CCriticalSection &s_CritSect() {
    static CCriticalSection *cs = new CCriticalSection(true);
    return *cs;
}

std::set<CWinEventHandle *> &s_Set() {
    static auto *set = new std::set<CWinEventHandle *>;
    return *set;
}

[[noreturn]] void assertionFailed(const char *expr, const char *file, int line, const char *func) {
    std::fprintf(stderr, "%s:%d: %s: Assertion `%s' failed.\n", file, line, func, expr);
    std::fflush(stderr);
    std::abort();
}

// Checked in every build type: a wrong argument here must not go on silently.
#define EVENT_ASSERT(expr) ((expr) ? (void)0 : assertionFailed(#expr, __FILE__, __LINE__, __func__))

// Time-outs past 32 bits mean "no limit".
unsigned int toWaitMs(unsigned long ms) {
    return ms >= INFINITE ? static_cast<unsigned int>(INFINITE) : static_cast<unsigned int>(ms);
}

// Now on the monotonic clock, truncated to whole milliseconds, plus ms.
timespec deadlineAfter(unsigned int ms) {
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    const uint64_t total = static_cast<uint64_t>(now.tv_nsec / 1000000) + ms;
    timespec deadline;
    deadline.tv_sec = now.tv_sec + static_cast<time_t>(total / 1000);
    deadline.tv_nsec = static_cast<long>(total % 1000) * 1000000L;
    return deadline;
}

CWinEventHandle *asEvent(CBaseHandle *handle) {
    return dynamic_cast<CWinEventHandle *>(handle);
}

unsigned long waitForAny(unsigned long n, CWinEventHandle *const *events, unsigned long ms);

} // namespace

CWinEventHandle::CWinEventHandle(bool manualReset, bool initialState, const wchar_t *name)
    : manualReset_(manualReset), signaled_(initialState), name_(name ? name : L"") {
    pthread_mutex_init(&mutex_, nullptr);
    pthread_condattr_t attr;
    pthread_condattr_init(&attr);
    // Deadlines must not move when someone sets the wall clock.
    pthread_condattr_setclock(&attr, CLOCK_MONOTONIC);
    pthread_cond_init(&cond_, &attr);
    pthread_condattr_destroy(&attr);
}

CWinEventHandle::~CWinEventHandle() {
    pthread_cond_destroy(&cond_);
    pthread_mutex_destroy(&mutex_);
}

bool CWinEventHandle::wait(unsigned int ms) {
    pthread_mutex_lock(&mutex_);
    const uint32_t startCount = signalCount_;
    bool timedOut = false;
    // A moved count releases a thread that was waiting when the event was set,
    // even if it has been reset since.
    while (!signaled_ && signalCount_ == startCount) {
        if (ms == INFINITE) {
            pthread_cond_wait(&cond_, &mutex_);
            continue;
        }
        if (ms == 0) {
            timedOut = true;
            break;
        }
        const timespec deadline = deadlineAfter(ms);
        if (pthread_cond_timedwait(&cond_, &mutex_, &deadline) == ETIMEDOUT) {
            // A signal that came in just as the time ran out is not lost.
            timedOut = !signaled_ && signalCount_ == startCount;
            break;
        }
    }
    if (!timedOut && !manualReset_) signaled_ = false;
    pthread_mutex_unlock(&mutex_);
    return !timedOut;
}

bool CWinEventHandle::close() {
    CWinEventHandleSet::closeHandle(this);
    return true;
}

void CWinEventHandle::signal() {
    CCriticalSection::Guard guard(s_CritSect());
    pthread_mutex_lock(&mutex_);
    signaled_ = true;
    ++signalCount_;
    pthread_cond_broadcast(&cond_);
    pthread_mutex_unlock(&mutex_);
    // The own mutex is released first: no two event mutexes are ever held together.
    for (CWinEventHandle *waiter : subscribers_)
        waiter->signal();
}

bool CWinEventHandle::pulse() {
    signal();
    return true;
}

void CWinEventHandle::reset() {
    pthread_mutex_lock(&mutex_);
    signaled_ = false;
    pthread_mutex_unlock(&mutex_);
}

void CWinEventHandle::subscribe(CWinEventHandle *waiter) {
    subscribers_.insert(waiter);
}

void CWinEventHandle::unSubscribe(CWinEventHandle *waiter) {
    subscribers_.erase(waiter);
}

bool CWinEventHandle::testSignaled(bool consume) {
    pthread_mutex_lock(&mutex_);
    const bool set = signaled_;
    if (set && consume && !manualReset_) signaled_ = false;
    pthread_mutex_unlock(&mutex_);
    return set;
}

uint32_t CWinEventHandle::currentSignalCount() {
    pthread_mutex_lock(&mutex_);
    const uint32_t count = signalCount_;
    pthread_mutex_unlock(&mutex_);
    return count;
}

CWinEventHandle *CWinEventHandleSet::createEvent(bool manualReset, bool initialState, const wchar_t *name) {
    CWinEventHandle *event = nullptr;
    try {
        event = new CWinEventHandle(manualReset, initialState, name);
        CCriticalSection::Guard guard(s_CritSect());
        s_Set().insert(event);
    } catch (const std::bad_alloc &) {
        delete event;
        return nullptr;
    }
    return event;
}

CWinEventHandle *CWinEventHandleSet::openEvent(const wchar_t *name) {
    if (!name) return nullptr;
    CCriticalSection::Guard guard(s_CritSect());
    for (CWinEventHandle *event : s_Set()) {
        if (event->name_ == name) {
            ++event->refCount_;
            return event;
        }
    }
    return nullptr;
}

void CWinEventHandleSet::closeHandle(CWinEventHandle *event) {
    CCriticalSection::Guard guard(s_CritSect());
    if (--event->refCount_ < 1) {
        s_Set().erase(event);
        delete event;
    }
}

CBaseHandle *CreateEvent(SECURITY_ATTRIBUTES *, bool manualReset, bool initialState, const wchar_t *name) {
    return CWinEventHandleSet::createEvent(manualReset, initialState, name);
}

CBaseHandle *OpenEvent(unsigned long, bool, const wchar_t *name) {
    return CWinEventHandleSet::openEvent(name);
}

int CloseHandle(CBaseHandle *handle) {
    if (!handle) return 0;
    if (!handle->close()) {
        std::fputs("Closing unknown HANDLE type\n", stdout);
        std::fflush(stdout);
    }
    return 1;
}

int SetEvent(CBaseHandle *handle) {
    CWinEventHandle *event = asEvent(handle);
    if (!event) return 0;
    CCriticalSection::Guard guard(s_CritSect());
    event->signal();
    return 1;
}

int ResetEvent(CBaseHandle *handle) {
    CWinEventHandle *event = asEvent(handle);
    if (!event) return 0;
    event->reset();
    return 1;
}

int PulseEvent(CBaseHandle *handle) {
    CWinEventHandle *event = asEvent(handle);
    if (!event) return 0;
    CCriticalSection::Guard guard(s_CritSect());
    event->pulse();
    return 1;
}

unsigned long WaitForSingleObject(CBaseHandle *handle, unsigned long ms) {
    if (!handle) return WAIT_FAILED;
    return handle->wait(toWaitMs(ms)) ? WAIT_OBJECT_0 : WAIT_TIMEOUT;
}

unsigned long WaitForMultipleObjects(unsigned long count, CBaseHandle *const *handles, bool waitAll,
                                     unsigned long ms) {
    const unsigned long numObj = count;
    EVENT_ASSERT(numObj <= MAXIMUM_WAIT_OBJECTS);
    if (!handles || numObj == 0) return WAIT_FAILED;
    CWinEventHandle *events[MAXIMUM_WAIT_OBJECTS];
    for (unsigned long i = 0; i < numObj; ++i) {
        CWinEventHandle *event = asEvent(handles[i]);
        EVENT_ASSERT(event);
        events[i] = event;
    }

    if (!waitAll) return waitForAny(numObj, events, ms);

    if (ms >= INFINITE) {
        // No limit: the tick counter's wrap must not turn into a time-out.
        for (unsigned long i = 0; i < numObj; ++i)
            events[i]->wait();
        return WAIT_OBJECT_0;
    }
    const unsigned long start = GetTickCount();
    for (unsigned long i = 0; i < numObj; ++i) {
        const unsigned long elapsed = GetTickCount() - start;
        if (elapsed > ms) return WAIT_TIMEOUT;
        if (!events[i]->wait(toWaitMs(ms - elapsed))) return WAIT_TIMEOUT;
    }
    return WAIT_OBJECT_0;
}

namespace {

unsigned long waitForAny(unsigned long n, CWinEventHandle *const *events, unsigned long ms) {
    CCriticalSection &lock = s_CritSect();
    lock.lock();
    for (unsigned long i = 0; i < n; ++i) {
        if (events[i]->testSignaled(true)) {
            lock.unlock();
            return i;
        }
    }
    if (ms == 0) {
        lock.unlock();
        return WAIT_TIMEOUT;
    }

    // A private waiter that every handle signals along with itself. Subscribing
    // happens under the lock that every signal needs, so a signal either was
    // seen above or reaches the waiter.
    std::unique_ptr<CWinEventHandle> waiter;
    uint32_t startCounts[MAXIMUM_WAIT_OBJECTS];
    unsigned long subscribed = 0;
    try {
        waiter.reset(new CWinEventHandle(false, false, nullptr));
        for (; subscribed < n; ++subscribed) {
            events[subscribed]->subscribe(waiter.get());
            startCounts[subscribed] = events[subscribed]->currentSignalCount();
        }
    } catch (const std::bad_alloc &) {
        for (unsigned long i = 0; i < subscribed; ++i)
            events[i]->unSubscribe(waiter.get());
        lock.unlock();
        return WAIT_FAILED;
    }
    lock.unlock();

    unsigned long result = WAIT_TIMEOUT;
    for (;;) {
        const bool woken = waiter->wait(toWaitMs(ms));
        lock.lock();
        if (woken) {
            // The first handle that is set now; it keeps its state.
            for (unsigned long i = 0; i < n && result == WAIT_TIMEOUT; ++i)
                if (events[i]->testSignaled(false)) result = i;
            // Set during the sleep but already reset or taken by another thread:
            // this thread was waiting when it was set, so it is still released.
            for (unsigned long i = 0; i < n && result == WAIT_TIMEOUT; ++i)
                if (events[i]->currentSignalCount() != startCounts[i]) result = i;
        }
        if (result != WAIT_TIMEOUT || !woken || ms < INFINITE) break;
        lock.unlock(); // without a limit, never report a time-out: sleep again
    }
    for (unsigned long i = 0; i < n; ++i)
        events[i]->unSubscribe(waiter.get());
    lock.unlock();
    return result;
}

} // namespace

namespace platform {

unsigned long tickCountAt(long long seconds, long microseconds) {
    return static_cast<unsigned long>(seconds % 10000) * 1000UL +
           static_cast<unsigned long>(microseconds / 1000);
}

} // namespace platform

unsigned long GetTickCount() {
    timeval now;
    gettimeofday(&now, nullptr);
    return platform::tickCountAt(now.tv_sec, now.tv_usec);
}
