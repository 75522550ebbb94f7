#include "app/ColorSettingPanel.h"

ColorSettingPanel::ColorSettingPanel(QWidget *parent) : QWidget(parent, Qt::Tool) {
    setWindowTitle(tr("Colour"));
}
