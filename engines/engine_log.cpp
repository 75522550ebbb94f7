#include "engines/engine_log.h"

#include <cstdarg>
#include <cstdio>

void engineLog(const char *format, ...) {
    va_list args;
    va_start(args, format);
    std::vfprintf(stderr, format, args);
    va_end(args);
}
