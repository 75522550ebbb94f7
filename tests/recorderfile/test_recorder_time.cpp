// Recorder time conversion, checked against fixed calendar facts and against
// the C library's own calendar (gmtime_r) on every day of the 32-bit range.
#include "recorderfile/recorder_time.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>
#include <thread>

namespace {

// Seconds between 1900-01-01 and 1970-01-01.
constexpr int64_t kSeconds1900To1970 = 2208988800LL;

struct Expect {
    int year, month, day, hour, minute, second, weekday;
};

void expectFields(const _SYSTEMTIME &st, const Expect &e, const std::string &what) {
    EXPECT_EQ(st.wYear, e.year) << what;
    EXPECT_EQ(st.wMonth, e.month) << what;
    EXPECT_EQ(st.wDay, e.day) << what;
    EXPECT_EQ(st.wHour, e.hour) << what;
    EXPECT_EQ(st.wMinute, e.minute) << what;
    EXPECT_EQ(st.wSecond, e.second) << what;
    EXPECT_EQ(st.wDayOfWeek, e.weekday) << what;
}

_SYSTEMTIME parserConvert(uint32_t seconds, uint32_t fraction = 0) {
    _tagNtpTime ntp{{fraction, seconds}};
    _SYSTEMTIME st;
    std::memset(&st, 0xAB, sizeof st);
    parser_time::TransferNtp2Sys(&ntp, &st);
    return st;
}

// Compares a conversion with gmtime_r of the same instant; returns false on the
// first mismatch so an exhaustive loop reports one day, not thousands.
bool matchesGmtime(const _SYSTEMTIME &st, int64_t unixSeconds, std::string &why) {
    time_t t = static_cast<time_t>(unixSeconds);
    struct tm tm;
    if (!gmtime_r(&t, &tm)) {
        why = "gmtime_r failed";
        return false;
    }
    if (st.wYear != tm.tm_year + 1900 || st.wMonth != tm.tm_mon + 1 || st.wDay != tm.tm_mday ||
        st.wHour != tm.tm_hour || st.wMinute != tm.tm_min || st.wSecond != tm.tm_sec ||
        st.wDayOfWeek != tm.tm_wday) {
        char buf[200];
        std::snprintf(buf, sizeof buf,
                      "unix %lld: got %04u-%02u-%02u %02u:%02u:%02u wd%u, want %04d-%02d-%02d "
                      "%02d:%02d:%02d wd%d",
                      static_cast<long long>(unixSeconds), st.wYear, st.wMonth, st.wDay, st.wHour, st.wMinute,
                      st.wSecond, st.wDayOfWeek, tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour,
                      tm.tm_min, tm.tm_sec, tm.tm_wday);
        why = buf;
        return false;
    }
    return true;
}

// A time of day that changes from one day to the next, so every hour, minute
// and second value is exercised across the range.
uint32_t timeOfDayFor(uint64_t day) {
    return static_cast<uint32_t>((day * 7919u + 13u) % 86400u);
}

} // namespace

TEST(ParserTime, KnownInstants) {
    expectFields(parserConvert(0), {1900, 1, 1, 0, 0, 0, 1}, "epoch");
    expectFields(parserConvert(86399), {1900, 1, 1, 23, 59, 59, 1}, "last second of day 0");
    expectFields(parserConvert(86400), {1900, 1, 2, 0, 0, 0, 2}, "day 1");
    expectFields(parserConvert(3913056000u), {2024, 1, 1, 0, 0, 0, 1}, "2024-01-01");
    expectFields(parserConvert(2208988800u), {1970, 1, 1, 0, 0, 0, 4}, "1970-01-01");
    // 1900 is not a leap year: 28 February is followed by 1 March.
    expectFields(parserConvert(58u * 86400u), {1900, 2, 28, 0, 0, 0, 3}, "1900-02-28");
    expectFields(parserConvert(59u * 86400u), {1900, 3, 1, 0, 0, 0, 4}, "1900-03-01");
    expectFields(parserConvert(0xFFFFFFFFu), {2036, 2, 7, 6, 28, 15, 4}, "last representable second");
    EXPECT_EQ(parserConvert(0).wMilliseconds, 0);
}

TEST(ParserTime, GregorianDateAndMilliseconds) {
    unsigned short y = 0, m = 0, d = 0;
    parser_time::GetGregorianDate(2451545, y, m, d);
    EXPECT_EQ(y, 2000);
    EXPECT_EQ(m, 1);
    EXPECT_EQ(d, 1);
    parser_time::GetGregorianDate(2451604, y, m, d);
    EXPECT_EQ(y, 2000);
    EXPECT_EQ(m, 2);
    EXPECT_EQ(d, 29);
    parser_time::GetGregorianDate(JAN_1ST_1900, y, m, d);
    EXPECT_EQ(y, 1900);
    EXPECT_EQ(m, 1);
    EXPECT_EQ(d, 1);

    EXPECT_EQ(parser_time::NtpFractionToMs(0), 0);
    EXPECT_EQ(parser_time::NtpFractionToMs(2147483648UL), 500);
    EXPECT_EQ(parser_time::NtpFractionToMs(4294967295UL), 1000);
    EXPECT_EQ(app_time::NtpFractionToMs(2147483648UL), 500);
    // 1 ms is 4294967.295 units: just below half of it rounds down, above rounds up.
    EXPECT_EQ(parser_time::NtpFractionToMs(2147483), 0);
    EXPECT_EQ(parser_time::NtpFractionToMs(2147484), 1);

    // The library copy fills milliseconds from the fraction.
    EXPECT_EQ(parserConvert(100, 2147483648u).wMilliseconds, 500);

    _SYSTEMTIME viaValue;
    parser_time::sec_to_server_client_time(_tagNtpTime{{0, 3913056000u}}, &viaValue);
    expectFields(viaValue, {2024, 1, 1, 0, 0, 0, 1}, "by value");
}

TEST(ParserTime, EveryDayOfRangeMatchesCalendar) {
    const uint64_t lastDay = 0xFFFFFFFFull / 86400;
    for (uint64_t day = 0; day <= lastDay; ++day) {
        uint64_t s = day * 86400 + timeOfDayFor(day);
        if (s > 0xFFFFFFFFull) s = 0xFFFFFFFFull;
        std::string why;
        const _SYSTEMTIME st = parserConvert(static_cast<uint32_t>(s));
        ASSERT_TRUE(matchesGmtime(st, static_cast<int64_t>(s) - kSeconds1900To1970, why)) << why;
    }
}

TEST(AppTime, EveryDayOfRangeMatchesCalendar) {
    const uint64_t lastDay = 0xFFFFFFFFull / 86400;
    for (uint64_t day = 0; day <= lastDay; ++day) {
        for (uint32_t tod : {0u, timeOfDayFor(day), 86399u}) {
            uint64_t s = day * 86400 + tod;
            if (s > 0xFFFFFFFFull) s = 0xFFFFFFFFull;
            _tagNtpTime ntp{{0, static_cast<uint32_t>(s)}};
            _SYSTEMTIME st;
            app_time::TransferNtp2Sys(&ntp, &st);
            std::string why;
            ASSERT_TRUE(matchesGmtime(st, static_cast<int64_t>(s), why)) << why;
        }
    }
}

TEST(AppTime, DatesAfterLeapDaysAndMillisecondsKept) {
    struct Case {
        int year, month, day, weekday;
    };
    // Days that a 1900-based count plus 70 years gets wrong.
    const Case cases[] = {{2025, 6, 1, 0}, {2025, 2, 28, 5}, {2025, 3, 1, 6}, {2024, 2, 29, 4},
                          {2024, 3, 1, 5}, {2026, 2, 28, 6}, {1970, 1, 1, 4}, {2000, 2, 29, 2}};
    for (const Case &c : cases) {
        struct tm tm = {};
        tm.tm_year = c.year - 1900;
        tm.tm_mon = c.month - 1;
        tm.tm_mday = c.day;
        tm.tm_hour = 12;
        tm.tm_min = 34;
        tm.tm_sec = 56;
        const time_t t = timegm(&tm);
        _tagNtpTime ntp{{0, static_cast<uint32_t>(t)}};
        _SYSTEMTIME st;
        st.wMilliseconds = 777;
        app_time::TransferNtp2Sys(&ntp, &st);
        expectFields(st, {c.year, c.month, c.day, 12, 34, 56, c.weekday},
                     std::to_string(c.year) + "-" + std::to_string(c.month) + "-" + std::to_string(c.day));
        EXPECT_EQ(st.wMilliseconds, 777) << "the application copy leaves milliseconds alone";
    }
}

TEST(ParserTime, SecToTimeAndSystemtimeToSec) {
    const struct tm *tm = parser_time::SecToTime(0);
    ASSERT_NE(tm, nullptr);
    EXPECT_EQ(tm->tm_year, 70);
    EXPECT_EQ(tm->tm_mon, 0);
    EXPECT_EQ(tm->tm_mday, 1);
    tm = parser_time::SecToTime(0xFFFFFFFFu); // beyond 2038 with a 64-bit time_t
    ASSERT_NE(tm, nullptr);
    EXPECT_EQ(tm->tm_year + 1900, 2106);
    EXPECT_EQ(tm->tm_mon + 1, 2);
    EXPECT_EQ(tm->tm_mday, 7);

    // Each thread has its own record.
    const struct tm *mine = parser_time::SecToTime(86400);
    int otherDay = 0;
    std::thread([&] { otherDay = parser_time::SecToTime(5 * 86400)->tm_mday; }).join();
    EXPECT_EQ(otherDay, 6);
    EXPECT_EQ(mine->tm_mday, 2);

    // Local time round trip through the C library's own conversion.
    _SYSTEMTIME st{2023, 11, 0, 15, 8, 30, 45, 0};
    const time_t t = parser_time::SystemtimeToSec(st);
    ASSERT_NE(t, static_cast<time_t>(-1));
    struct tm back;
    ASSERT_NE(localtime_r(&t, &back), nullptr);
    EXPECT_EQ(back.tm_year + 1900, 2023);
    EXPECT_EQ(back.tm_mon + 1, 11);
    EXPECT_EQ(back.tm_mday, 15);
    EXPECT_EQ(back.tm_hour, 8);
    EXPECT_EQ(back.tm_min, 30);
    EXPECT_EQ(back.tm_sec, 45);
}
