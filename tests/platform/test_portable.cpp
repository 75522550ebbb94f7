// Integer-handle threads, events and mutexes; the handle registry; file and
// buffer functions.
#include "platform/handle_registry.h"
#include "platform/portable.h"

#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "common/run_cmd.h"
#include "common/watchdog.h"

#include <atomic>
#include <climits>
#include <cstdio>
#include <set>
#include <thread>
#include <vector>

namespace {

TEST(HandleRegistry, IdsAreTypedAndNotReusedWhileLive) {
    platform::HandleRegistry reg;
    const int a = reg.add(std::make_shared<int>(7));
    const int b = reg.add(std::make_shared<double>(2.5));
    EXPECT_GE(a, 1);
    EXPECT_NE(a, b);
    EXPECT_EQ(reg.add(std::shared_ptr<int>()), 0);

    ASSERT_TRUE(reg.get<int>(a));
    EXPECT_EQ(*reg.get<int>(a), 7);
    EXPECT_FALSE(reg.get<double>(a)) << "an id of another type names nothing";
    EXPECT_FALSE(reg.take<double>(a));
    EXPECT_TRUE(reg.get<int>(a)) << "a mistyped take leaves the entry";
    EXPECT_FALSE(reg.get<int>(0));
    EXPECT_FALSE(reg.get<int>(-5));

    // A removed object lives on while a caller still holds it.
    std::shared_ptr<int> held = reg.get<int>(a);
    EXPECT_TRUE(reg.take<int>(a));
    EXPECT_FALSE(reg.get<int>(a));
    EXPECT_EQ(*held, 7);
    EXPECT_EQ(reg.size(), 1u);

    const int c = reg.add(std::make_shared<int>(8));
    EXPECT_NE(c, a) << "a closed id is not handed out again at once";
    EXPECT_NE(c, b);
}

TEST(IntegerHandles, TenThousandLiveEventsAndMutexes) {
    std::vector<int> events, mutexes;
    std::set<int> ids;
    for (int i = 0; i < 10000; ++i) {
        events.push_back(event_create(i % 2, i % 3 == 0));
        mutexes.push_back(mutex_open());
        ASSERT_NE(events.back(), 0);
        ASSERT_NE(mutexes.back(), 0);
        ids.insert(events.back());
        ids.insert(mutexes.back());
    }
    EXPECT_EQ(ids.size(), 20000u) << "every live handle has its own id";
    for (int i = 0; i < 10000; ++i) {
        ASSERT_EQ(event_wait(events[i]), i % 3 == 0 ? 0 : 258) << i;
        ASSERT_EQ(mutex_lock(mutexes[i]), 0);
        ASSERT_EQ(mutex_unlock(mutexes[i]), 0);
    }
    // A mutex id is not an event and an event id is not a mutex.
    EXPECT_EQ(event_wait(mutexes[0]), -1);
    EXPECT_EQ(mutex_lock(events[0]), -1);
    int pair[2] = {events[0], mutexes[0]};
    EXPECT_EQ(event_wait_ex(pair, 2, 0), -1);

    for (int i = 0; i < 10000; ++i) {
        events[i] = event_close(events[i]);
        mutexes[i] = mutex_close(mutexes[i]);
        ASSERT_EQ(events[i], 0);
        ASSERT_EQ(mutexes[i], 0);
    }
    EXPECT_EQ(event_wait(*ids.begin()), -1) << "a closed handle is missing";
}

TEST(IntegerHandles, UnknownIdsGiveTheMissingHandleResult) {
    for (int bogus : {0, -1, 12345678, INT_MAX}) {
        EXPECT_EQ(event_wait(bogus), -1);
        EXPECT_EQ(mutex_lock(bogus), -1);
        EXPECT_EQ(mutex_unlock(bogus), -1);
        EXPECT_EQ(event_signal(bogus), 0);
        EXPECT_EQ(event_nonsignal(bogus), 0);
        EXPECT_EQ(event_close(bogus), 0);
        EXPECT_EQ(mutex_close(bogus), 0);
        EXPECT_EQ(thread_close(bogus), 0);
    }
    const int ev = event_create(1, 1);
    int withBogus[2] = {ev, 987654};
    EXPECT_EQ(event_wait_ex(withBogus, 2, 0xFFFFFFFFUL), -1) << "refused, not a sleep without end";
    EXPECT_EQ(event_wait_ex(nullptr, 2, 0), -1);
    EXPECT_EQ(event_wait_ex(withBogus, 0, 0), -1);
    EXPECT_EQ(event_wait_ex(withBogus, 33, 0), -1);
    event_close(ev);
}

TEST(IntegerHandles, EventCalls) {
    const int autoEv = event_create(0, 0);
    const int manualEv = event_create(1, 0);
    EXPECT_EQ(event_wait(autoEv), 258);
    EXPECT_EQ(event_signal(autoEv), 1);
    EXPECT_EQ(event_wait(autoEv), 0);
    EXPECT_EQ(event_wait(autoEv), 258);

    EXPECT_EQ(event_signal(manualEv), 1);
    EXPECT_EQ(event_wait(manualEv), 0);
    EXPECT_EQ(event_wait(manualEv), 0);
    EXPECT_EQ(event_nonsignal(manualEv), 1);
    EXPECT_EQ(event_wait(manualEv), 258);

    int both[2] = {autoEv, manualEv};
    event_signal(autoEv);
    event_signal(manualEv);
    EXPECT_EQ(event_wait_ex(both, 2, 0xFFFFFFFFUL), 0);
    EXPECT_EQ(event_wait_ex(both, 2, 0xFFFFFFFFUL), 1) << "only the second is still set";
    EXPECT_EQ(event_wait(autoEv), 258);
    event_nonsignal(manualEv);
    EXPECT_EQ(event_wait_ex(both, 2, 30), 258);
    event_close(autoEv);
    event_close(manualEv);
}

TEST(IntegerHandles, MutexIsRecursive) {
    const int m = mutex_open();
    EXPECT_EQ(mutex_lock(m), 0);
    EXPECT_EQ(mutex_lock(m), 0);
    EXPECT_EQ(mutex_unlock(m), 0);
    EXPECT_EQ(mutex_unlock(m), 0);
    EXPECT_NE(mutex_unlock(m), 0) << "not held any more";
    EXPECT_EQ(mutex_close(m), 0);
    EXPECT_EQ(mutex_lock(m), -1);
}

std::atomic<int> g_ran{0};

void *countRun(void *arg) {
    g_ran += *static_cast<int *>(arg);
    return nullptr;
}

void *exitEarly(void *arg) {
    g_ran += *static_cast<int *>(arg);
    thread_exit();
}

TEST(IntegerHandles, ThreadsRunAndAreJoined) {
    g_ran = 0;
    int one = 1, ten = 10;
    const int a = thread_create(countRun, &one);
    const int b = thread_create(exitEarly, &ten);
    ASSERT_NE(a, 0);
    ASSERT_NE(b, 0);
    EXPECT_NE(a, b);
    EXPECT_EQ(thread_close(a), 0);
    EXPECT_EQ(thread_close(b), 0);
    EXPECT_EQ(g_ran.load(), 11) << "close returns only after the thread has ended";
    EXPECT_EQ(thread_close(a), 0) << "already reclaimed";
    EXPECT_EQ(thread_create(nullptr, nullptr), 0);
}

// Only the calling thread is raised, where the system allows it.
TEST(IntegerHandles, RaiseLiftsTheCallingThreadOnly) {
    const auto nice = [] { return getpriority(PRIO_PROCESS, static_cast<id_t>(gettid())); };
    const int before = nice();
    int change = 0;
    bool raised = false;
    std::thread([&] {
        const int was = nice();
        raised = thread_raise_priority();
        change = nice() - was;
    }).join();
    EXPECT_EQ(nice(), before);
    EXPECT_EQ(change < 0, raised);
}

// A temporary file holding bytes 0..n-1 (mod 251).
FILE *makeFile(unsigned n) {
    FILE *f = std::tmpfile();
    for (unsigned i = 0; i < n; ++i)
        std::fputc(static_cast<int>(i % 251), f);
    std::rewind(f);
    return f;
}

TEST(FileFunctions, ReadCountsOnlyWhatWasRead) {
    FILE *f = makeFile(10);
    ASSERT_NE(f, nullptr);
    unsigned char buf[16] = {};
    unsigned long total = 100;
    EXPECT_EQ(file_read(buf, 4, f, &total), 4UL);
    EXPECT_EQ(total, 104UL);
    EXPECT_EQ(buf[3], 3);
    EXPECT_EQ(file_read(buf, 16, f, &total), 6UL) << "a short read";
    EXPECT_EQ(total, 110UL);
    EXPECT_EQ(buf[5], 9);
    EXPECT_EQ(file_read(buf, 16, f, &total), 0UL);
    EXPECT_EQ(total, 110UL);

    uint64_t pos = 999;
    EXPECT_EQ(file_move_pointer(f, 3, 0, &pos), 0);
    EXPECT_EQ(pos, 3u);
    EXPECT_EQ(file_move_pointer(f, 2, 1, &pos), 0);
    EXPECT_EQ(pos, 5u);
    EXPECT_EQ(file_move_pointer(f, -1, 2, &pos), 0);
    EXPECT_EQ(pos, 9u);
    EXPECT_NE(file_move_pointer(f, -20, 0, &pos), 0) << "before the start";
    EXPECT_EQ(pos, 9u) << "the position where the stream still stands";
    std::fclose(f);
}

TEST(BufferFunctions, NewClearCopyFree) {
    auto *p = static_cast<unsigned char *>(buffer_new(64));
    ASSERT_NE(p, nullptr);
    for (int i = 0; i < 64; ++i)
        ASSERT_EQ(p[i], 0);
    const unsigned char src[4] = {1, 2, 3, 4};
    buffer_copy(p + 10, src, 4);
    EXPECT_EQ(p[13], 4);
    buffer_clear(p, 12);
    EXPECT_EQ(p[11], 0);
    EXPECT_EQ(p[12], 3);
    void *slot = p;
    buffer_free(&slot);
    EXPECT_EQ(slot, nullptr);
    buffer_free(&slot); // an empty slot: nothing happens
    EXPECT_EQ(slot, nullptr);
}

} // namespace

// Opening must never wait on what sits at a path: only regular files are taken, others are
// refused at once (a FIFO without a writer would block a plain open forever).
TEST(FileFunctions, OnlyRegularFilesOpen) {
    testutil::TempDir dir;
    const std::string regular = dir.file("rec.dv5"), fifo = dir.file("x.dv5"), folder = dir.file("d.avc");
    FILE *made = file_create_regular(regular.c_str());
    ASSERT_NE(made, nullptr);
    std::fputs("abc", made);
    ASSERT_EQ(std::fclose(made), 0);
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    ASSERT_EQ(mkdir(folder.c_str(), 0700), 0);

    testutil::Watchdog dog(5, "opening special files");
    FILE *f = file_open_regular(regular.c_str());
    ASSERT_NE(f, nullptr);
    char buf[4] = {};
    EXPECT_EQ(std::fread(buf, 1, sizeof buf, f), 3u) << "reads as usual (blocking again)";
    std::fclose(f);
    for (const std::string &path : {fifo, folder, std::string("/dev/null")}) {
        errno = 0;
        EXPECT_EQ(file_open_regular(path.c_str()), nullptr) << path;
        EXPECT_EQ(errno, EINVAL) << path;
    }
    EXPECT_EQ(file_create_regular(regular.c_str()), nullptr) << "never replaces";
    EXPECT_EQ(file_create_regular(fifo.c_str()), nullptr);
}
