#include "app/channel_selection_panel.h"

ChannelSelectionPanel::ChannelSelectionPanel(QWidget *parent) : ContentBorderWindow(parent, Qt::Dialog) {
    ui.setupUi(this);
    setFixedSize(size());
}
