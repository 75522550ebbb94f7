// Handle calls when memory runs out: every allocation they make is failed in
// turn; each attempt must give 0 and leave nothing behind.
#include "platform/handle_registry.h"
#include "platform/portable.h"
#include "platform/win_event.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>

namespace {

// -1: allocations succeed; otherwise the number that still succeed before all fail.
std::atomic<long> g_allocationsLeft{-1};

void *allocate(std::size_t n) {
    long left = g_allocationsLeft.load();
    while (left >= 0) {
        if (left == 0) return nullptr;
        if (g_allocationsLeft.compare_exchange_weak(left, left - 1)) break;
    }
    return std::malloc(n ? n : 1);
}

__attribute__((noinline)) void release(void *p) {
    std::free(p);
}

} // namespace

void *operator new(std::size_t n) {
    if (void *p = allocate(n)) return p;
    throw std::bad_alloc();
}
void *operator new[](std::size_t n) {
    return operator new(n);
}
void *operator new(std::size_t n, const std::nothrow_t &) noexcept {
    return allocate(n);
}
void *operator new[](std::size_t n, const std::nothrow_t &) noexcept {
    return allocate(n);
}
void operator delete(void *p) noexcept {
    release(p);
}
void operator delete[](void *p) noexcept {
    release(p);
}
void operator delete(void *p, std::size_t) noexcept {
    release(p);
}
void operator delete[](void *p, std::size_t) noexcept {
    release(p);
}
void operator delete(void *p, const std::nothrow_t &) noexcept {
    release(p);
}
void operator delete[](void *p, const std::nothrow_t &) noexcept {
    release(p);
}

namespace {

void *doNothing(void *) {
    return nullptr;
}

TEST(OutOfMemory, HandleCallsReturnZeroAndLeaveNothingBehind) {
    event_close(event_create(0, 0));
    mutex_close(mutex_open());
    const std::size_t handlesBefore = platform::processHandles().size();

    struct Case {
        const char *what;
        int (*make)();
        int (*close)(int);
    };
    const Case cases[] = {
        {"event", [] { return event_create(1, 1); }, event_close},
        {"mutex", [] { return mutex_open(); }, mutex_close},
        {"thread", [] { return thread_create(doNothing, nullptr); }, thread_close},
    };
    for (int k = 0; k < 3; ++k) {
        const Case &c = cases[k];
        long failedAttempts = 0;
        int handle = 0;
        for (long allowed = 0; allowed < 100 && handle == 0; ++allowed) {
            g_allocationsLeft = allowed;
            handle = c.make();
            g_allocationsLeft = -1;
            if (handle == 0) {
                ++failedAttempts;
                ASSERT_EQ(platform::processHandles().size(), handlesBefore) << c.what;
                ASSERT_EQ(OpenEvent(0, false, L""), nullptr) << c.what << ": an event was left alive";
            }
        }
        EXPECT_GT(failedAttempts, 0) << c.what << " made no allocation that could fail";
        ASSERT_NE(handle, 0) << c.what;
        if (k == 0) {
            EXPECT_EQ(event_wait(handle), 0);
        } else if (k == 1) {
            EXPECT_EQ(mutex_lock(handle), 0);
            EXPECT_EQ(mutex_unlock(handle), 0);
        }
        EXPECT_EQ(c.close(handle), 0);
    }
    EXPECT_EQ(platform::processHandles().size(), handlesBefore);
}

} // namespace
