#include "app/controls/WindowPaintPacer.h"

#include <QCoreApplication>
#include <QEvent>
#include <QScreen>

#include <algorithm>
#include <cmath>

namespace {
// Without a screen that states its rate, a common monitor's.
constexpr qreal kDefaultRefreshHz = 60.0;
// A screen that claims more than 250 Hz, or less than 25, is not taken at its word.
constexpr int kShortestFrameMs = 4;
constexpr int kLongestFrameMs = 40;
} // namespace

WindowPaintPacer::WindowPaintPacer(QWidget *window, int frameIntervalMs)
    : QObject(window), window_(window), fixedIntervalMs_(frameIntervalMs) {
    timer_.setSingleShot(true);
    timer_.setTimerType(Qt::PreciseTimer);
    connect(&timer_, &QTimer::timeout, this, [this] { release(); });
    if (window) window->installEventFilter(this);
}

int WindowPaintPacer::frameIntervalMs() const {
    if (fixedIntervalMs_ > 0) return fixedIntervalMs_;
    const QScreen *screen = window_ ? window_->screen() : nullptr;
    const qreal hz = screen && screen->refreshRate() > 1.0 ? screen->refreshRate() : kDefaultRefreshHz;
    return std::clamp(static_cast<int>(std::lround(1000.0 / hz)), kShortestFrameMs, kLongestFrameMs);
}

bool WindowPaintPacer::eventFilter(QObject *watched, QEvent *event) {
    if (watched != window_ || event->type() != QEvent::UpdateRequest || releasing_) return false;
    if (timer_.isActive()) return true; // already held: the pass at the frame's end paints it all
    const qint64 interval = frameIntervalMs();
    if (!sinceLastPass_.isValid() || sinceLastPass_.elapsed() >= interval) {
        sinceLastPass_.start();
        return false;
    }
    // The toolkit asks for no further pass while this one is pending, and the widgets changed
    // meanwhile join it; it is sent again when the frame is over.
    timer_.start(static_cast<int>(interval - sinceLastPass_.elapsed()));
    return true;
}

void WindowPaintPacer::paintNow() {
    timer_.stop();
    release();
}

void WindowPaintPacer::release() {
    if (!window_) return;
    sinceLastPass_.start();
    releasing_ = true;
    QEvent pass(QEvent::UpdateRequest);
    QCoreApplication::sendEvent(window_, &pass);
    releasing_ = false;
}
