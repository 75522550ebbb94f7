// The video pane. It holds the channel tiles and reports mouse activity over itself (moves,
// with or without a pressed button, and presses); the full-screen control panel is shown on it.
#pragma once

#include "app/controls/LayerView.h"

class CustomizedView : public LayerView {
    Q_OBJECT
  public:
    explicit CustomizedView(QWidget *parent = nullptr);

    // Pointer activity over `child` (a widget on the pane that keeps its own mouse events, such
    // as the full-screen control panel) and over everything on it counts as activity over the
    // pane. The events themselves go on to the widgets as before.
    void reportPointerOver(QWidget *child);

  signals:
    // The mouse moved over the pane or pressed a button on it.
    void pointerActivity();

  protected:
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;
};
