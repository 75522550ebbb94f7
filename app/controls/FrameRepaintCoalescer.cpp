#include "app/controls/FrameRepaintCoalescer.h"

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

FrameRepaintCoalescer::FrameRepaintCoalescer(QWidget *wall) : QObject(wall), wall_(wall) {
    timer_.setSingleShot(true);
    timer_.setTimerType(Qt::PreciseTimer);
    connect(&timer_, &QTimer::timeout, this, [this] { repaintDirty(); });
}

int FrameRepaintCoalescer::frameIntervalMs() const {
    const QScreen *screen = wall_ ? wall_->screen() : nullptr;
    const qreal hz = screen && screen->refreshRate() > 1.0 ? screen->refreshRate() : kDefaultRefreshHz;
    return std::clamp(static_cast<int>(std::lround(1000.0 / hz)), kShortestFrameMs, kLongestFrameMs);
}

void FrameRepaintCoalescer::markDirty(QWidget *view) {
    if (!view) return;
    if (std::find(dirty_.begin(), dirty_.end(), view) == dirty_.end()) dirty_.emplace_back(view);
    if (!timer_.isActive()) timer_.start(frameIntervalMs());
}

void FrameRepaintCoalescer::repaintDirty() {
    // Every update here lands in the same pending repaint of the window.
    std::vector<QPointer<QWidget>> views;
    views.swap(dirty_);
    for (const QPointer<QWidget> &view : views)
        if (view) view->update();
}
