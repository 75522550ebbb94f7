// One channel's tile in the video pane. A left click on it is reported with the tile's channel;
// what the click does is up to whoever owns the tiles. Pointer moves pass on to the pane.
#pragma once

#include "app/controls/LayerView.h"

class CustomizedVideoView : public LayerView {
    Q_OBJECT
  public:
    explicit CustomizedVideoView(QWidget *parent = nullptr);

    // The tile's channel, 1 to 16.
    int channelID() const { return channelID_; }
    void setChannelID(int channel) { channelID_ = channel; }

  signals:
    // A left button press on the tile.
    void clicked(int channelID);

  protected:
    void mousePressEvent(QMouseEvent *event) override;

  private:
    int channelID_ = 0;
};
