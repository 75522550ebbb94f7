// The video pane. Besides holding the channel tiles it shows the full-screen control panel on
// mouse activity while the player is in full-screen mode, and hides it again when the mouse
// has rested for a few seconds.
#pragma once

#include "app/controls/LayerView.h"

class QTimer;
class VistrelAppDelegate;

class CustomizedView : public LayerView {
    Q_OBJECT
  public:
    explicit CustomizedView(QWidget *parent = nullptr);

    // Shows the full-screen control panel and restarts the hiding count, in full-screen mode
    // only. May be called from any thread; the work is done on the GUI thread.
    void showFullScreenControlPanel();

    // One tick of the hiding count (every kCounterIntervalMs).
    void viewCounter();

    int elapsedTimeForControlPanelTriggered() const { return elapsedTimeForControlPanelTriggered_; }

    // Seconds between two ticks, and the count at which the panel hides.
    static constexpr int kCounterIntervalMs = 2000;
    static constexpr int kCounterStepSeconds = 2;
    static constexpr int kHideAfterSeconds = 6;

  protected:
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;

  private:
    VistrelAppDelegate *appDelg_ = nullptr;
    QTimer *counterTimer_ = nullptr;
    int elapsedTimeForControlPanelTriggered_ = 0;
};
