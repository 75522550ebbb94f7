// Windows-named critical sections over POSIX mutexes.
//
// Every critical section made here is recursive: the thread that holds one may
// enter it again and must leave it as often as it entered.
#pragma once

#include <pthread.h>

struct _CRITICAL_SECTION {
    pthread_mutex_t mutex;
};
typedef _CRITICAL_SECTION CRITICAL_SECTION;

// Initialises the mutex with the recursive type.
void InitializeCriticalSection(_CRITICAL_SECTION *cs);
// The POSIX result of lock / unlock / destroy (0 = success); EINVAL for NULL.
int EnterCriticalSection(_CRITICAL_SECTION *cs);
int LeaveCriticalSection(_CRITICAL_SECTION *cs);
int DeleteCriticalSection(_CRITICAL_SECTION *cs);

// One POSIX mutex, recursive or with default attributes.
class CCriticalSection {
  public:
    explicit CCriticalSection(bool recursive);
    ~CCriticalSection();
    CCriticalSection(const CCriticalSection &) = delete;
    CCriticalSection &operator=(const CCriticalSection &) = delete;

    int lock() { return pthread_mutex_lock(&mutex_); }
    int unlock() { return pthread_mutex_unlock(&mutex_); }

    // Holds the section for the life of the guard.
    class Guard {
      public:
        explicit Guard(CCriticalSection &cs) : cs_(cs) { cs_.lock(); }
        ~Guard() { cs_.unlock(); }
        Guard(const Guard &) = delete;
        Guard &operator=(const Guard &) = delete;

      private:
        CCriticalSection &cs_;
    };

  private:
    pthread_mutex_t mutex_;
};
