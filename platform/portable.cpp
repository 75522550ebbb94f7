#include "platform/portable.h"

#include "platform/critical_section.h"
#include "platform/handle_registry.h"
#include "platform/win_event.h"

#include <fcntl.h>
#include <pthread.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <cerrno>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>

namespace {

using platform::processHandles;

struct ThreadRecord {
    pthread_t thread;
};

// The registry owns one reference of the event; the event is closed when the
// registry and every call still using it have let go.
struct EventCloser {
    void operator()(CWinEventHandle *event) const { CloseHandle(event); }
};

struct MutexDeleter {
    void operator()(_CRITICAL_SECTION *cs) const {
        DeleteCriticalSection(cs);
        delete cs;
    }
};

std::shared_ptr<CWinEventHandle> findEvent(int event) {
    return event == 0 ? nullptr : processHandles().get<CWinEventHandle>(event);
}

std::shared_ptr<_CRITICAL_SECTION> findMutex(int mutex) {
    return mutex == 0 ? nullptr : processHandles().get<_CRITICAL_SECTION>(mutex);
}

} // namespace

int thread_create(void *(*fn)(void *), void *arg) {
    if (!fn) return 0;
    std::shared_ptr<ThreadRecord> record;
    try {
        record = std::make_shared<ThreadRecord>();
    } catch (const std::bad_alloc &) {
        return 0;
    }
    if (pthread_create(&record->thread, nullptr, fn, arg) != 0) return 0;
    const int id = processHandles().add(record);
    if (id == 0) {
        // No handle to join it by: let it end on its own.
        pthread_detach(record->thread);
    }
    return id;
}

int thread_close(int thread) {
    if (thread == 0) return 0;
    std::shared_ptr<ThreadRecord> record = processHandles().take<ThreadRecord>(thread);
    if (record) pthread_join(record->thread, nullptr);
    return 0;
}

void thread_exit() {
    pthread_exit(nullptr);
}

bool thread_raise_priority() {
    // On Linux a thread id names the one thread; nice values run from -20 (first) to 19.
    const auto self = static_cast<id_t>(gettid());
    errno = 0;
    const int now = getpriority(PRIO_PROCESS, self);
    if (now == -1 && errno != 0) return false;
    constexpr int kRaise = 10;
    const int raised = now - kRaise < -20 ? -20 : now - kRaise;
    return raised < now && setpriority(PRIO_PROCESS, self, raised) == 0;
}

int event_create(int manualReset, int initialState) {
    CBaseHandle *handle = CreateEvent(nullptr, manualReset != 0, initialState != 0, nullptr);
    auto *event = dynamic_cast<CWinEventHandle *>(handle);
    if (!event) return 0;
    std::shared_ptr<CWinEventHandle> owner;
    try {
        owner.reset(event, EventCloser());
    } catch (const std::bad_alloc &) {
        return 0; // the closer has already run
    }
    return processHandles().add(std::move(owner));
}

int event_signal(int event) {
    std::shared_ptr<CWinEventHandle> e = findEvent(event);
    return e ? SetEvent(e.get()) : 0;
}

int event_nonsignal(int event) {
    std::shared_ptr<CWinEventHandle> e = findEvent(event);
    return e ? ResetEvent(e.get()) : 0;
}

int event_close(int event) {
    if (event != 0) processHandles().take<CWinEventHandle>(event);
    return 0;
}

int event_wait(int event) {
    std::shared_ptr<CWinEventHandle> e = findEvent(event);
    if (!e) return -1;
    return static_cast<int>(WaitForSingleObject(e.get(), 0));
}

int event_wait_ex(int *events, int n, unsigned long ms) {
    if (!events || n < 1 || n > static_cast<int>(MAXIMUM_WAIT_OBJECTS)) return -1;
    // The copies keep every event alive until the wait is over, even when
    // another thread closes its handle meanwhile.
    std::shared_ptr<CWinEventHandle> held[MAXIMUM_WAIT_OBJECTS];
    CBaseHandle *raw[MAXIMUM_WAIT_OBJECTS];
    for (int i = 0; i < n; ++i) {
        held[i] = findEvent(events[i]);
        if (!held[i]) return -1;
        raw[i] = held[i].get();
    }
    const unsigned long result = WaitForMultipleObjects(static_cast<unsigned long>(n), raw, false, ms);
    return result == WAIT_FAILED ? -1 : static_cast<int>(result);
}

int mutex_open() {
    auto *cs = new (std::nothrow) _CRITICAL_SECTION;
    if (!cs) return 0;
    InitializeCriticalSection(cs);
    std::shared_ptr<_CRITICAL_SECTION> owner;
    try {
        owner.reset(cs, MutexDeleter());
    } catch (const std::bad_alloc &) {
        return 0; // the deleter has already run
    }
    return processHandles().add(std::move(owner));
}

int mutex_lock(int mutex) {
    std::shared_ptr<_CRITICAL_SECTION> cs = findMutex(mutex);
    return cs ? EnterCriticalSection(cs.get()) : -1;
}

int mutex_unlock(int mutex) {
    std::shared_ptr<_CRITICAL_SECTION> cs = findMutex(mutex);
    return cs ? LeaveCriticalSection(cs.get()) : -1;
}

int mutex_close(int mutex) {
    if (mutex != 0) processHandles().take<_CRITICAL_SECTION>(mutex);
    return 0;
}

unsigned long file_read(void *buffer, unsigned long n, FILE *stream, unsigned long *total) {
    if (!buffer || !stream || n == 0) return 0;
    const unsigned long got = std::fread(buffer, 1, n, stream);
    if (total) *total += got;
    return got;
}

int file_move_pointer(FILE *stream, int64_t offset, int whence, uint64_t *position) {
    if (!stream) return -1;
    const int result = fseeko(stream, static_cast<off_t>(offset), whence);
    const off_t now = ftello(stream);
    if (position && now >= 0) *position = static_cast<uint64_t>(now);
    return result;
}

namespace {

// Takes over fd when it names a regular file: blocking again, wrapped in a stream.
FILE *regularStream(int fd, const char *mode) {
    if (fd < 0) return nullptr;
    struct stat st {};
    const int flags = fcntl(fd, F_GETFL);
    if (fstat(fd, &st) != 0 || flags < 0) {
        close(fd);
        return nullptr;
    }
    if (!S_ISREG(st.st_mode)) {
        close(fd);
        errno = EINVAL;
        return nullptr;
    }
    FILE *stream = nullptr;
    if (fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) == 0) stream = fdopen(fd, mode);
    if (!stream) close(fd);
    return stream;
}

} // namespace

FILE *file_open_regular(const char *path) {
    if (!path) return nullptr;
    // Non-blocking, so that a FIFO without a writer opens at once and can be refused.
    return regularStream(open(path, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC), "rb");
}

FILE *file_create_regular(const char *path) {
    if (!path) return nullptr;
    return regularStream(open(path, O_WRONLY | O_CREAT | O_EXCL | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0644),
                         "wb");
}

void *buffer_new(unsigned long n) {
    return std::calloc(n == 0 ? 1 : n, 1);
}

void buffer_clear(void *buffer, unsigned long n) {
    if (buffer) std::memset(buffer, 0, n);
}

void buffer_free(void **slot) {
    if (slot && *slot) {
        std::free(*slot);
        *slot = nullptr;
    }
}

void buffer_copy(void *destination, const void *source, unsigned long n) {
    if (n != 0) std::memcpy(destination, source, n);
}
