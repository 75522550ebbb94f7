#include "app/controls/CustomizedVideoView.h"

#include <QMouseEvent>

CustomizedVideoView::CustomizedVideoView(QWidget *parent) : LayerView(parent) {}

void CustomizedVideoView::mousePressEvent(QMouseEvent *event) {
    // The click is the tile's alone; it does not reach the pane below.
    event->accept();
    if (event->button() != Qt::LeftButton) return;
    emit clicked(channelID_);
}
