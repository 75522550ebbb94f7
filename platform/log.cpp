#include "platform/log.h"

#include <cstdarg>
#include <cstdio>
#include <mutex>
#include <syslog.h>
#include <vector>

namespace {
std::mutex g_sinkLock;
PlayerLogSink g_sink;

// How many bytes from `i` on form one printable character: 1 for printable ASCII, a new line
// or a tab; 2 to 4 for a well-formed UTF-8 sequence other than a C1 control; 0 otherwise.
size_t printableLength(const std::string &s, size_t i) {
    const auto at = [&](size_t k) { return static_cast<unsigned char>(s[k]); };
    const unsigned char c = at(i);
    if (c < 0x80) return (c >= 0x20 && c != 0x7F) || c == '\n' || c == '\t' ? 1 : 0;
    size_t n = 0;
    unsigned char lo = 0x80, hi = 0xBF; // the range of the second byte
    if (c >= 0xC2 && c <= 0xDF) {
        n = 2;
        if (c == 0xC2) lo = 0xA0;
    } else if (c >= 0xE0 && c <= 0xEF) {
        n = 3;
        if (c == 0xE0) lo = 0xA0;
        if (c == 0xED) hi = 0x9F;
    } else if (c >= 0xF0 && c <= 0xF4) {
        n = 4;
        if (c == 0xF0) lo = 0x90;
        if (c == 0xF4) hi = 0x8F;
    } else {
        return 0;
    }
    if (s.size() - i < n || at(i + 1) < lo || at(i + 1) > hi) return 0;
    for (size_t k = 2; k < n; ++k)
        if (at(i + k) < 0x80 || at(i + k) > 0xBF) return 0;
    return n;
}

// Log text may carry bytes from a file (a header's id, a name): every byte that is not part of
// printable text is written as \xHH, so that no raw binary reaches the log or the terminal.
std::string printable(const std::string &text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size();) {
        const size_t n = printableLength(text, i);
        if (n > 0) {
            out.append(text, i, n);
            i += n;
            continue;
        }
        char escaped[8];
        std::snprintf(escaped, sizeof escaped, "\\x%02X", static_cast<unsigned char>(text[i]));
        out += escaped;
        ++i;
    }
    return out;
}
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
        text = printable(std::string(buf.data(), static_cast<size_t>(n)));
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
