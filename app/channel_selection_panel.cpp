#include "app/channel_selection_panel.h"

// A frameless tool window like the settings and colour panels: it unfolds over the main window
// and its only way out is its button. Not of fixed size, so that the fold can narrow it.
ChannelSelectionPanel::ChannelSelectionPanel(QWidget *parent)
    : ContentBorderWindow(parent, Qt::Tool | Qt::FramelessWindowHint) {
    ui.setupUi(this);
}
