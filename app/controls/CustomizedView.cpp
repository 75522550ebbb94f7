#include "app/controls/CustomizedView.h"

#include <QMetaObject>
#include <QMouseEvent>
#include <QThread>
#include <QTimer>

#include "app/VistrelAppDelegate.h"

CustomizedView::CustomizedView(QWidget *parent)
    : LayerView(parent), appDelg_(VistrelAppDelegate::GetAppDelg()) {
    counterTimer_ = new QTimer(this);
    counterTimer_->setInterval(kCounterIntervalMs);
    connect(counterTimer_, &QTimer::timeout, this, [this] { viewCounter(); });
    counterTimer_->start();
    // Mouse moves without a pressed button reach the view only with tracking on.
    setMouseTracking(true);
}

void CustomizedView::showFullScreenControlPanel() {
    if (QThread::currentThread() != thread()) {
        QMetaObject::invokeMethod(
            this, [this] { showFullScreenControlPanel(); }, Qt::QueuedConnection);
        return;
    }
    if (!appDelg_ || !appDelg_->isInFullScreenMode()) return;
    elapsedTimeForControlPanelTriggered_ = 0;
    if (QWidget *panel = appDelg_->fullScreenControlPanel) panel->setVisible(true);
}

void CustomizedView::viewCounter() {
    if (!appDelg_ || !appDelg_->isInFullScreenMode()) return;
    elapsedTimeForControlPanelTriggered_ += kCounterStepSeconds;
    if (elapsedTimeForControlPanelTriggered_ >= kHideAfterSeconds) {
        if (QWidget *panel = appDelg_->fullScreenControlPanel) panel->setVisible(false);
        elapsedTimeForControlPanelTriggered_ = 0;
    }
}

void CustomizedView::mousePressEvent(QMouseEvent *event) {
    showFullScreenControlPanel();
    event->accept();
}

void CustomizedView::mouseMoveEvent(QMouseEvent *event) {
    showFullScreenControlPanel();
    event->accept();
}
