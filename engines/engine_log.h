// Developer diagnostics of the engines (stderr).
#pragma once

#if defined(__GNUC__)
#define ENGINE_LOG_FORMAT(a, b) __attribute__((format(printf, a, b)))
#else
#define ENGINE_LOG_FORMAT(a, b)
#endif

// Writes the formatted text as it is (lines carry their own new line).
void engineLog(const char *format, ...) ENGINE_LOG_FORMAT(1, 2);
