// The settings panel: the AVI and snapshot folders, the snapshot type, the AVI frame rate and
// whether conversions keep the audio. A window of its own, shown beside the main window.
#pragma once

#include <QWidget>

class ConfigSettingPanel : public QWidget {
    Q_OBJECT
  public:
    explicit ConfigSettingPanel(QWidget *parent = nullptr);
};
