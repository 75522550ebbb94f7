// One channel's tile in the video pane. A left click on it is reported with the tile's channel;
// what the click does is up to whoever owns the tiles.
#pragma once

#include "app/controls/LayerView.h"

class FrameRepaintCoalescer;

class CustomizedVideoView : public LayerView {
    Q_OBJECT
  public:
    explicit CustomizedVideoView(QWidget *parent = nullptr);

    // The tile's channel, 1 to 16.
    int channelID() const { return channelID_; }
    void setChannelID(int channel) { channelID_ = channel; }

    // The wall's repaints this tile joins; null repaints each picture at once.
    void setRepaintCoalescer(FrameRepaintCoalescer *coalescer) { coalescer_ = coalescer; }
    // A new picture: contents() holds it at once, and it is painted with the wall's next frame.
    void showPicture(const QImage &picture);

  signals:
    // A left button press on the tile.
    void clicked(int channelID);

  protected:
    void mousePressEvent(QMouseEvent *event) override;

  private:
    int channelID_ = 0;
    FrameRepaintCoalescer *coalescer_ = nullptr;
};
