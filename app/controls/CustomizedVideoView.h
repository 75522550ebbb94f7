// One channel's tile in the video pane. A click switches between the grid and the single view
// of this channel, unless the open file has only one channel.
#pragma once

#include "app/controls/LayerView.h"

class VistrelAppDelegate;

class CustomizedVideoView : public LayerView {
    Q_OBJECT
  public:
    explicit CustomizedVideoView(QWidget *parent = nullptr);

    // The tile's channel, 1 to 16.
    int channelID() const { return channelID_; }
    void setChannelID(int channel) { channelID_ = channel; }

  protected:
    void mousePressEvent(QMouseEvent *event) override;

  private:
    VistrelAppDelegate *appDelg_ = nullptr;
    int channelID_ = 0;
};
