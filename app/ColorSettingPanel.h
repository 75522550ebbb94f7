// The colour panel: brightness, saturation and contrast of the pictures, and the colours of
// the on-screen text. A window of its own, shown beside the main window.
#pragma once

#include <QWidget>

class ColorSettingPanel : public QWidget {
    Q_OBJECT
  public:
    explicit ColorSettingPanel(QWidget *parent = nullptr);
};
