// The panel on which the user picks the one channel to convert (ChannelSelectionPanel.ui).
#pragma once

#include "app/content_border_window.h"
#include "ui_ChannelSelectionPanel.h"

class ChannelSelectionPanel : public ContentBorderWindow {
    Q_OBJECT
  public:
    explicit ChannelSelectionPanel(QWidget *parent = nullptr);

    Ui::ChannelSelectionPanel ui;
};
