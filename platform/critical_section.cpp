#include "platform/critical_section.h"

#include <cerrno>

namespace {

void initMutex(pthread_mutex_t *m, bool recursive) {
    if (!recursive) {
        pthread_mutex_init(m, nullptr);
        return;
    }
    pthread_mutexattr_t attr;
    pthread_mutexattr_init(&attr);
    pthread_mutexattr_settype(&attr, PTHREAD_MUTEX_RECURSIVE);
    pthread_mutex_init(m, &attr);
    pthread_mutexattr_destroy(&attr);
}

} // namespace

void InitializeCriticalSection(_CRITICAL_SECTION *cs) {
    if (cs) initMutex(&cs->mutex, true);
}

int EnterCriticalSection(_CRITICAL_SECTION *cs) {
    return cs ? pthread_mutex_lock(&cs->mutex) : EINVAL;
}

int LeaveCriticalSection(_CRITICAL_SECTION *cs) {
    return cs ? pthread_mutex_unlock(&cs->mutex) : EINVAL;
}

int DeleteCriticalSection(_CRITICAL_SECTION *cs) {
    return cs ? pthread_mutex_destroy(&cs->mutex) : EINVAL;
}

CCriticalSection::CCriticalSection(bool recursive) {
    initMutex(&mutex_, recursive);
}

CCriticalSection::~CCriticalSection() {
    pthread_mutex_destroy(&mutex_);
}
