#include "recorderfile/recorder_time.h"

namespace {

// Julian day number to Gregorian date, integer arithmetic only.
void julianToGregorian(long J, unsigned short &year, unsigned short &month, unsigned short &day) {
    long t = 4 * J - 6884477;
    long c = t / 146097; // century
    long r = t - 146097 * c;
    r = 4 * (r / 4) + 3;
    long y = r / 1461;
    r = r - 1461 * y;
    r = (r + 4) / 4;
    long u = 5 * r - 3;
    long m = u / 153;
    long d = (5 * r + 2 - 153 * m) / 5;
    long yr = 100 * c + y;
    long mo;
    if (u < 1530) {
        mo = m + 3;
    } else {
        mo = m - 9;
        yr += 1;
    }
    year = static_cast<unsigned short>(yr);
    month = static_cast<unsigned short>(mo);
    day = static_cast<unsigned short>(d);
}

unsigned short fractionToMs(unsigned long fraction) {
    return static_cast<unsigned short>(
        static_cast<int>(static_cast<double>(fraction) * NTP_FRACTIONAL_TO_MS + 0.5));
}

void timeOfDay(uint32_t s, _SYSTEMTIME *out) {
    out->wSecond = static_cast<uint16_t>(s % 60);
    out->wMinute = static_cast<uint16_t>((s / 60) % 60);
    out->wHour = static_cast<uint16_t>((s / 3600) % 24);
}

} // namespace

namespace parser_time {

void GetGregorianDate(long J, unsigned short &year, unsigned short &month, unsigned short &day) {
    julianToGregorian(J, year, month, day);
}

void TransferNtp2Sys(const _tagNtpTime *ntp, _SYSTEMTIME *out) {
    if (!ntp || !out) return;
    const uint32_t s = ntp->dwTime[1];
    timeOfDay(s, out);
    const long days = static_cast<long>(s / 86400); // since 1900-01-01, a Monday
    out->wDayOfWeek = static_cast<uint16_t>((days + 2415022) % 7);
    GetGregorianDate(days + JAN_1ST_1900, out->wYear, out->wMonth, out->wDay);
    out->wMilliseconds = fractionToMs(ntp->dwTime[0]);
}

unsigned short NtpFractionToMs(unsigned long fraction) {
    return fractionToMs(fraction);
}

void sec_to_server_client_time(_tagNtpTime ntp, _SYSTEMTIME *out) {
    TransferNtp2Sys(&ntp, out);
}

struct tm *SecToTime(unsigned int seconds) {
    // A per-thread record instead of gmtime's shared one: callers on different
    // threads must not overwrite each other's result.
    static thread_local struct tm record;
    const time_t t = static_cast<time_t>(seconds);
    if (!gmtime_r(&t, &record)) return nullptr;
    return &record;
}

time_t SystemtimeToSec(_SYSTEMTIME st) {
    struct tm t = {};
    t.tm_year = st.wYear - 1900;
    t.tm_mon = st.wMonth - 1;
    t.tm_mday = st.wDay;
    t.tm_hour = st.wHour;
    t.tm_min = st.wMinute;
    t.tm_sec = st.wSecond;
    t.tm_isdst = -1; // let the C library decide whether daylight saving applies
    return mktime(&t);
}

} // namespace parser_time

namespace app_time {

void GetGregorianDate(long J, unsigned short &year, unsigned short &month, unsigned short &day) {
    julianToGregorian(J, year, month, day);
}

void TransferNtp2Sys(const _tagNtpTime *ntp, _SYSTEMTIME *out) {
    if (!ntp || !out) return;
    // Seconds since 1970-01-01, converted from that day exactly. (Counting from
    // 1900 and adding 70 years shifts the date by one day on about half of the
    // days of the range.)
    const uint32_t s = ntp->dwTime[1];
    timeOfDay(s, out);
    const long days = static_cast<long>(s / 86400);
    out->wDayOfWeek = static_cast<uint16_t>((days + 4) % 7); // 1970-01-01 was a Thursday
    GetGregorianDate(days + JAN_1ST_1970, out->wYear, out->wMonth, out->wDay);
}

unsigned short NtpFractionToMs(unsigned long fraction) {
    return fractionToMs(fraction);
}

} // namespace app_time
