#include "audio/audio_log.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

void audioLog(const char* format, ...) {
    char line[512];
    va_list args;
    va_start(args, format);
    int n = std::vsnprintf(line, sizeof line, format, args);
    va_end(args);
    if (n < 0) {
        return;
    }
    // One message a line, whether or not the text brings its own line end.
    size_t len = std::strlen(line);
    const char* end = (len > 0 && line[len - 1] == '\n') ? "" : "\n";
    std::fprintf(stderr, "%s%s", line, end);
}
