// Events, waits and critical sections, as seen from one thread.
#include "platform/critical_section.h"
#include "platform/win_event.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>

namespace {

using Clock = std::chrono::steady_clock;

long long msSince(Clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

// A handle of some other kind, which cannot close itself.
class ForeignHandle : public CBaseHandle {
  public:
    bool wait(unsigned int) override { return true; }
    bool close() override { return false; }
};

TEST(WinEvent, PollConsumesOnlyAutomaticReset) {
    CBaseHandle *autoEv = CreateEvent(nullptr, false, true, nullptr);
    CBaseHandle *manualEv = CreateEvent(nullptr, true, true, nullptr);
    CBaseHandle *clearEv = CreateEvent(nullptr, true, false, nullptr);
    ASSERT_TRUE(autoEv && manualEv && clearEv);

    EXPECT_EQ(WaitForSingleObject(autoEv, 0), 0UL);
    EXPECT_EQ(WaitForSingleObject(autoEv, 0), 258UL);
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(WaitForSingleObject(manualEv, 0), 0UL);
    EXPECT_EQ(ResetEvent(manualEv), 1);
    EXPECT_EQ(WaitForSingleObject(manualEv, 0), 258UL);

    // A poll of a clear event returns at once.
    const auto start = Clock::now();
    EXPECT_EQ(WaitForSingleObject(clearEv, 0), 258UL);
    EXPECT_LT(msSince(start), 50);

    // PulseEvent leaves the event set.
    EXPECT_EQ(PulseEvent(clearEv), 1);
    EXPECT_EQ(WaitForSingleObject(clearEv, 0), 0UL);
    EXPECT_EQ(WaitForSingleObject(clearEv, 0), 0UL);

    EXPECT_EQ(CloseHandle(autoEv), 1);
    EXPECT_EQ(CloseHandle(manualEv), 1);
    EXPECT_EQ(CloseHandle(clearEv), 1);
}

TEST(WinEvent, TimedWaitTimesOutAfterAboutItsLimit) {
    CBaseHandle *ev = CreateEvent(nullptr, false, false, nullptr);
    const auto start = Clock::now();
    EXPECT_EQ(WaitForSingleObject(ev, 120), 258UL);
    const long long took = msSince(start);
    EXPECT_GE(took, 110);
    EXPECT_LT(took, 2000);
    CloseHandle(ev);
}

TEST(WinEvent, WaitAnyTakesLowestSetIndexAndResetsOnlyIt) {
    CBaseHandle *h[4];
    h[0] = CreateEvent(nullptr, false, false, nullptr); // clear
    h[1] = CreateEvent(nullptr, false, true, nullptr);  // automatic, set
    h[2] = CreateEvent(nullptr, false, true, nullptr);  // automatic, set
    h[3] = CreateEvent(nullptr, true, true, nullptr);   // manual, set

    EXPECT_EQ(WaitForMultipleObjects(4, h, false, 0), 1UL);
    EXPECT_EQ(WaitForSingleObject(h[1], 0), 258UL) << "the automatic event it returned is consumed";
    EXPECT_EQ(WaitForMultipleObjects(4, h, false, 0), 2UL);
    // Only the manual event is left; it stays set however often it wins.
    EXPECT_EQ(WaitForMultipleObjects(4, h, false, 0), 3UL);
    EXPECT_EQ(WaitForMultipleObjects(4, h, false, INFINITE), 3UL);
    EXPECT_EQ(WaitForSingleObject(h[3], 0), 0UL);
    EXPECT_EQ(WaitForSingleObject(h[0], 0), 258UL);

    ResetEvent(h[3]);
    auto start = Clock::now();
    EXPECT_EQ(WaitForMultipleObjects(4, h, false, 0), 258UL);
    EXPECT_LT(msSince(start), 50);
    start = Clock::now();
    EXPECT_EQ(WaitForMultipleObjects(4, h, false, 100), 258UL);
    EXPECT_GE(msSince(start), 90);
    for (CBaseHandle *e : h)
        CloseHandle(e);
}

TEST(WinEvent, WaitAllConsumesEachAndTimesOut) {
    CBaseHandle *h[3];
    h[0] = CreateEvent(nullptr, false, true, nullptr);
    h[1] = CreateEvent(nullptr, true, true, nullptr);
    h[2] = CreateEvent(nullptr, false, true, nullptr);
    EXPECT_EQ(WaitForMultipleObjects(3, h, true, 0), 0UL);
    EXPECT_EQ(WaitForSingleObject(h[0], 0), 258UL);
    EXPECT_EQ(WaitForSingleObject(h[1], 0), 0UL);
    EXPECT_EQ(WaitForSingleObject(h[2], 0), 258UL);

    // The first handle is set and consumed, the second never comes: time-out,
    // and the first stays consumed.
    SetEvent(h[0]);
    ResetEvent(h[1]);
    const auto start = Clock::now();
    EXPECT_EQ(WaitForMultipleObjects(3, h, true, 100), 258UL);
    const long long took = msSince(start);
    EXPECT_GE(took, 90);
    EXPECT_LT(took, 2000);
    EXPECT_EQ(WaitForSingleObject(h[0], 0), 258UL);
    for (CBaseHandle *e : h)
        CloseHandle(e);
}

TEST(WinEvent, NamedEventsAreReferenceCounted) {
    const wchar_t *name = L"platform-test-named";
    CBaseHandle *created = CreateEvent(nullptr, true, false, name);
    ASSERT_NE(created, nullptr);
    CBaseHandle *opened = OpenEvent(0, false, name);
    EXPECT_EQ(opened, created);
    EXPECT_EQ(OpenEvent(0, false, L"platform-test-other"), nullptr);

    // The first close leaves it fully usable.
    EXPECT_EQ(CloseHandle(created), 1);
    EXPECT_EQ(SetEvent(opened), 1);
    EXPECT_EQ(WaitForSingleObject(opened, 0), 0UL);
    EXPECT_EQ(OpenEvent(0, false, name), opened);
    EXPECT_EQ(CloseHandle(opened), 1);
    EXPECT_EQ(CloseHandle(opened), 1);
    EXPECT_EQ(OpenEvent(0, false, name), nullptr) << "destroyed at its last close";

    // A second event of the same name is a new event.
    CBaseHandle *a = CreateEvent(nullptr, false, false, name);
    CBaseHandle *b = CreateEvent(nullptr, false, false, name);
    EXPECT_NE(a, b);
    CloseHandle(a);
    EXPECT_EQ(OpenEvent(0, false, name), b);
    CloseHandle(b);
    CloseHandle(b);
}

TEST(WinEvent, UnnamedEventHasTheEmptyName) {
    CBaseHandle *ev = CreateEvent(nullptr, false, false, nullptr);
    CBaseHandle *found = OpenEvent(0, false, L"");
    ASSERT_NE(found, nullptr);
    EXPECT_EQ(static_cast<CWinEventHandle *>(found)->name(), L"");
    CloseHandle(found);
    EXPECT_EQ(OpenEvent(0, false, nullptr), nullptr);
    CloseHandle(ev);
}

TEST(WinEvent, BadArgumentsDoNotCrash) {
    EXPECT_EQ(CloseHandle(nullptr), 0);
    EXPECT_EQ(SetEvent(nullptr), 0);
    EXPECT_EQ(ResetEvent(nullptr), 0);
    EXPECT_EQ(PulseEvent(nullptr), 0);
    EXPECT_EQ(WaitForSingleObject(nullptr, 0), WAIT_FAILED);
    EXPECT_EQ(WaitForMultipleObjects(2, nullptr, false, 0), WAIT_FAILED);

    ForeignHandle foreign;
    EXPECT_EQ(SetEvent(&foreign), 0);
    testing::internal::CaptureStdout();
    EXPECT_EQ(CloseHandle(&foreign), 1);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Closing unknown HANDLE type\n");
}

TEST(WinEventDeathTest, WaitForMultipleRefusesBadArguments) {
    CBaseHandle *many[33];
    for (CBaseHandle *&h : many)
        h = CreateEvent(nullptr, true, true, nullptr);
    EXPECT_DEATH(WaitForMultipleObjects(33, many, false, 0), "Assertion `numObj <= MAXIMUM_WAIT_OBJECTS'");
    EXPECT_EQ(WaitForMultipleObjects(32, many, false, 0), 0UL);

    ForeignHandle foreign;
    CBaseHandle *mixed[2] = {many[0], &foreign};
    EXPECT_DEATH(WaitForMultipleObjects(2, mixed, false, 0), "Assertion `event'");
    CBaseHandle *withNull[2] = {many[0], nullptr};
    EXPECT_DEATH(WaitForMultipleObjects(2, withNull, true, 0), "Assertion `event'");
    for (CBaseHandle *h : many)
        CloseHandle(h);
}

TEST(TickCount, WrapsEveryTenThousandSeconds) {
    EXPECT_EQ(platform::tickCountAt(1234567890LL, 500000), 7890500UL);
    EXPECT_EQ(platform::tickCountAt(9999, 999999), 9999999UL);
    EXPECT_EQ(platform::tickCountAt(10000, 0), 0UL);

    // The live clock agrees with the wall clock, modulo the wrap.
    const auto wall = std::chrono::duration_cast<std::chrono::milliseconds>(
                          std::chrono::system_clock::now().time_since_epoch())
                          .count() %
                      10000000LL;
    const long long tick = static_cast<long long>(GetTickCount());
    const long long diff = (tick - wall + 10000000LL) % 10000000LL;
    EXPECT_TRUE(diff < 1000 || diff > 10000000LL - 1000) << tick << " vs " << wall;
}

TEST(CriticalSection, IsRecursive) {
    _CRITICAL_SECTION cs;
    InitializeCriticalSection(&cs);
    EXPECT_EQ(EnterCriticalSection(&cs), 0);
    EXPECT_EQ(EnterCriticalSection(&cs), 0);
    EXPECT_EQ(LeaveCriticalSection(&cs), 0);
    EXPECT_EQ(LeaveCriticalSection(&cs), 0);
    // Held no longer: a further unlock by its former owner is refused.
    EXPECT_NE(LeaveCriticalSection(&cs), 0);
    EXPECT_EQ(DeleteCriticalSection(&cs), 0);
    EXPECT_NE(EnterCriticalSection(nullptr), 0);
}

} // namespace
