// Recorder time stamps and their calendar form.
//
// Recorders count time in whole seconds (plus, in principle, a fraction of a
// second) from an epoch. The AVC frame-header reader counts from 1900-01-01 and
// uses the parser library's conversion (namespace parser_time); the DV engine
// and the AVI export pass seconds since 1970-01-01 and use the application's
// conversion (namespace app_time). The two are kept apart on purpose: they share
// the date algorithm but not the epoch or the milliseconds.
#pragma once

#include <cstdint>
#include <ctime>

// Calendar time, eight unsigned 16-bit fields; wDayOfWeek 0 = Sunday.
struct _SYSTEMTIME {
    uint16_t wYear;
    uint16_t wMonth;
    uint16_t wDayOfWeek;
    uint16_t wDay;
    uint16_t wHour;
    uint16_t wMinute;
    uint16_t wSecond;
    uint16_t wMilliseconds;
};

// Recorder time: dwTime[0] = fraction of a second (units of 1/4294967295 s),
// dwTime[1] = whole seconds.
struct _tagNtpTime {
    uint32_t dwTime[2];
};

// Julian day number of 1900-01-01.
constexpr long JAN_1ST_1900 = 2415021;
// Julian day number of 1970-01-01.
constexpr long JAN_1ST_1970 = 2440588;
// The fraction is divided by 2^32 - 1, not 2^32: that is how recorders scale it.
constexpr double NTP_FRACTIONAL_TO_MS = 1000.0 / 4294967295.0;
constexpr double NTP_TO_SECOND = 1.0 / 4294967295.0;

// The parser library's conversion: seconds counted from 1900-01-01.
namespace parser_time {

// Gregorian date of Julian day number J (integer algorithm, truncating divisions).
void GetGregorianDate(long J, unsigned short &year, unsigned short &month, unsigned short &day);

// Fills all eight fields; milliseconds from the fraction.
void TransferNtp2Sys(const _tagNtpTime *ntp, _SYSTEMTIME *out);

// Milliseconds of an NTP fraction, rounded; 0xFFFFFFFF gives 1000.
unsigned short NtpFractionToMs(unsigned long fraction);

// Same as TransferNtp2Sys, taking the time by value.
void sec_to_server_client_time(_tagNtpTime ntp, _SYSTEMTIME *out);

// UTC broken-down time of seconds since 1970; the record is per thread and is
// overwritten by the next call on the same thread.
struct tm *SecToTime(unsigned int seconds);

// Local-time seconds since 1970 of a calendar time (daylight saving decided by
// the C library); -1 when it cannot be represented.
time_t SystemtimeToSec(_SYSTEMTIME st);

} // namespace parser_time

// The application's conversion: seconds counted from 1970-01-01 (DV stream
// units, AVI subtitles). wMilliseconds is left as the caller had it.
namespace app_time {

void GetGregorianDate(long J, unsigned short &year, unsigned short &month, unsigned short &day);

void TransferNtp2Sys(const _tagNtpTime *ntp, _SYSTEMTIME *out);

unsigned short NtpFractionToMs(unsigned long fraction);

} // namespace app_time
