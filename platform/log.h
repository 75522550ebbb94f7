// Developer diagnostics: one line per call to the system log (and standard error).
// Tests can capture the lines through a sink.
#pragma once

#include <functional>
#include <string>

void player_log(const char *fmt, ...) __attribute__((format(printf, 1, 2)));

// Replaces where diagnostics go (nullptr restores the default); returns the previous sink.
using PlayerLogSink = std::function<void(const std::string &)>;
PlayerLogSink player_log_set_sink(PlayerLogSink sink);
