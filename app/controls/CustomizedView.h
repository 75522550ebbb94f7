// The video pane. It holds the channel tiles and reports mouse activity over itself (moves,
// with or without a pressed button, and presses); the full-screen control panel is shown on it.
#pragma once

#include "app/controls/LayerView.h"

class CustomizedView : public LayerView {
    Q_OBJECT
  public:
    explicit CustomizedView(QWidget *parent = nullptr);

  signals:
    // The mouse moved over the pane or pressed a button on it.
    void pointerActivity();

  protected:
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
};
