#pragma once
// Stand-in for the recorder time and audio format types until the recorder-file library
// provides them; the builder only needs the calendar record and the 8-bit PCM code.
#include <cstdint>

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

enum enAudioFormat {
    enAudioFormat_ULAW = 1,
    enAudioFormat_PCM = 2,
    enAudioFormat_PCM16 = 3,
    enAudioFormat_PCM16_2 = 4,
    enAudioFormat_G723 = 5,
};
