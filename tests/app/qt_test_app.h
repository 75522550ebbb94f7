// The one QApplication of a widget test program, made on first use (on the main thread, where
// GoogleTest runs the cases), and small helpers around its event loop.
#pragma once

#include <QApplication>
#include <QElapsedTimer>
#include <QImage>
#include <QThread>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "platform/log.h"

inline QApplication &testApp() {
    static int argc = 1;
    static char name[] = "app_shell_test";
    static char *argv[] = {name, nullptr};
    static QApplication *app = new QApplication(argc, argv);
    return *app;
}

// Serves events until `done` holds or the time is up; returns `done`'s last answer.
inline bool serveEventsUntil(const std::function<bool()> &done, int timeoutMs = 5000) {
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > timeoutMs) return done();
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(2);
    }
    return true;
}

inline void serveEvents() {
    for (int i = 0; i < 3; ++i)
        QCoreApplication::processEvents(QEventLoop::AllEvents);
}

// Collects the developer log lines written while it exists, from any thread.
class LogCapture {
  public:
    LogCapture() {
        previous_ = player_log_set_sink([this](const std::string &line) {
            std::lock_guard<std::mutex> lock(mutex_);
            lines_.push_back(line);
        });
    }
    ~LogCapture() { player_log_set_sink(previous_); }
    std::vector<std::string> lines() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return lines_;
    }
    int count(const std::string &line) const {
        int n = 0;
        for (const std::string &l : lines())
            n += (l == line);
        return n;
    }

  private:
    mutable std::mutex mutex_;
    std::vector<std::string> lines_;
    PlayerLogSink previous_;
};

// Pixels compared in one format, so that two pictures of the same content compare equal.
inline QImage comparable(const QImage &image) {
    return image.convertToFormat(QImage::Format_ARGB32_Premultiplied);
}
