#include "app/ConfigSettingPanel.h"

ConfigSettingPanel::ConfigSettingPanel(QWidget *parent) : QWidget(parent, Qt::Tool) {
    setWindowTitle(tr("Settings"));
}
