#include "platform/log.h"

#include <cstdarg>
#include <cstdio>
#include <mutex>
#include <syslog.h>
#include <vector>

namespace {
std::mutex g_sinkLock;
PlayerLogSink g_sink;
} // namespace

void player_log(const char *fmt, ...) {
    va_list ap;
    va_start(ap, fmt);
    va_list copy;
    va_copy(copy, ap);
    int n = std::vsnprintf(nullptr, 0, fmt, copy);
    va_end(copy);
    std::string text;
    if (n > 0) {
        std::vector<char> buf(static_cast<size_t>(n) + 1);
        std::vsnprintf(buf.data(), buf.size(), fmt, ap);
        text.assign(buf.data(), static_cast<size_t>(n));
    }
    va_end(ap);

    PlayerLogSink sink;
    {
        std::lock_guard<std::mutex> lock(g_sinkLock);
        sink = g_sink;
    }
    if (sink) {
        sink(text);
        return;
    }
    syslog(LOG_INFO, "%s", text.c_str());
    std::fputs(text.c_str(), stderr);
    if (text.empty() || text.back() != '\n') std::fputc('\n', stderr);
}

PlayerLogSink player_log_set_sink(PlayerLogSink sink) {
    std::lock_guard<std::mutex> lock(g_sinkLock);
    PlayerLogSink old = std::move(g_sink);
    g_sink = std::move(sink);
    return old;
}
