// Windows-style events over POSIX threads.
//
// An event is manual-reset (stays signalled until reset) or automatic-reset (a
// successful wait clears it). Waits take a time-out in milliseconds, INFINITE
// for none, and return WAIT_OBJECT_0 (or the index of the signalled handle for
// a wait for any) or WAIT_TIMEOUT.
//
// Wake-up rules callers rely on:
// - a thread already waiting when an event is set is released, even if the
//   event is reset again before that thread runs (every set is counted);
// - setting an event releases every thread already waiting on it, whatever its
//   reset mode;
// - a wait for any that finds a handle set on entry consumes it (automatic
//   reset); one that is woken from its sleep leaves the handle set, so another
//   thread polling the same event sees the same set.
//
// Events made by CreateEvent live in a process-wide set until their last
// CloseHandle. A handle must not be used after its last close; the integer
// handles of platform/portable.h take care of that for their callers.
#pragma once

#include <pthread.h>

#include <cstdint>
#include <set>
#include <string>

struct SECURITY_ATTRIBUTES; // accepted and ignored

constexpr unsigned long WAIT_OBJECT_0 = 0;
constexpr unsigned long WAIT_TIMEOUT = 258;
constexpr unsigned long WAIT_FAILED = 0xFFFFFFFFUL; // a NULL, non-event or empty handle argument
constexpr unsigned long INFINITE = 0xFFFFFFFFUL;
constexpr unsigned long MAXIMUM_WAIT_OBJECTS = 32;

class CBaseHandle {
  public:
    virtual ~CBaseHandle() = default;
    // True when the object was signalled within ms milliseconds.
    virtual bool wait(unsigned int ms) = 0;
    // True when the object knew how to close itself.
    virtual bool close() = 0;
};

class CWinEventHandleSet;

class CWinEventHandle : public CBaseHandle {
  public:
    CWinEventHandle(bool manualReset, bool initialState, const wchar_t *name);
    ~CWinEventHandle() override;
    CWinEventHandle(const CWinEventHandle &) = delete;
    CWinEventHandle &operator=(const CWinEventHandle &) = delete;

    bool wait(unsigned int ms) override;
    // Drops one reference; the event is destroyed at its last close.
    bool close() override;

    bool wait() { return wait(static_cast<unsigned int>(INFINITE)); }
    // Sets the event, wakes its waiters and then signals every subscriber.
    void signal();
    // signal(); the event stays set.
    bool pulse();
    void reset();
    // Subscribers are the private waiters of waits for any; callers hold the
    // events module's lock.
    void subscribe(CWinEventHandle *waiter);
    void unSubscribe(CWinEventHandle *waiter);

    bool manualReset() const { return manualReset_; }
    const std::wstring &name() const { return name_; }

    // Under the event's own mutex: whether it is set; an automatic-reset event
    // that is set is cleared when consume is true.
    bool testSignaled(bool consume);
    // Number of signals so far (wraps at 2^32).
    uint32_t currentSignalCount();

  private:
    friend class CWinEventHandleSet;

    pthread_mutex_t mutex_;
    pthread_cond_t cond_;
    bool manualReset_;
    bool signaled_;
    uint32_t signalCount_ = 0;
    int32_t refCount_ = 1;
    std::wstring name_;
    std::set<CWinEventHandle *> subscribers_;
};

// The process-wide set of live events.
class CWinEventHandleSet {
  public:
    // NULL when memory runs out.
    static CWinEventHandle *createEvent(bool manualReset, bool initialState, const wchar_t *name);
    // The first live event (in the set's order) with that name, its reference
    // count raised; NULL when none has it.
    static CWinEventHandle *openEvent(const wchar_t *name);
    static void closeHandle(CWinEventHandle *event);
};

CBaseHandle *CreateEvent(SECURITY_ATTRIBUTES *attributes, bool manualReset, bool initialState,
                         const wchar_t *name);
CBaseHandle *OpenEvent(unsigned long access, bool inherit, const wchar_t *name);
// 0 for NULL; otherwise 1 (an object that cannot close itself is reported on
// standard output).
int CloseHandle(CBaseHandle *handle);
// 1; 0 for NULL or a handle that is not an event (nothing is done).
int SetEvent(CBaseHandle *handle);
int ResetEvent(CBaseHandle *handle);
int PulseEvent(CBaseHandle *handle);
// WAIT_OBJECT_0 or WAIT_TIMEOUT; WAIT_FAILED for NULL.
unsigned long WaitForSingleObject(CBaseHandle *handle, unsigned long ms);
// Wait for all: WAIT_OBJECT_0 or WAIT_TIMEOUT. Wait for any: the index of the
// signalled handle (the lowest when several are set) or WAIT_TIMEOUT; without
// a time limit it never times out. More than MAXIMUM_WAIT_OBJECTS handles, or a
// NULL or non-event entry, stops the process. WAIT_FAILED for a NULL array, no
// handles, or when memory runs out.
unsigned long WaitForMultipleObjects(unsigned long count, CBaseHandle *const *handles, bool waitAll,
                                     unsigned long ms);
// Milliseconds on a wall-clock counter that wraps to 0 every 10,000 seconds.
unsigned long GetTickCount();

namespace platform {
// GetTickCount's value at that time of day.
unsigned long tickCountAt(long long seconds, long microseconds);
} // namespace platform
