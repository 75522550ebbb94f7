// Developer diagnostics of the audio path (standard error; never shown to users).
#pragma once

#if defined(__GNUC__)
#define AUDIO_LOG_PRINTF_LIKE __attribute__((format(printf, 1, 2)))
#else
#define AUDIO_LOG_PRINTF_LIKE
#endif

void audioLog(const char* format, ...) AUDIO_LOG_PRINTF_LIKE;
