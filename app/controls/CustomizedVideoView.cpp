#include "app/controls/CustomizedVideoView.h"

#include <QMouseEvent>

CustomizedVideoView::CustomizedVideoView(QWidget *parent) : LayerView(parent) {
    // Pointer moves over the tile go on to the pane below (QWidget ignores them), which shows
    // the full-screen controls; without tracking they would stop here.
    setMouseTracking(true);
}

void CustomizedVideoView::mousePressEvent(QMouseEvent *event) {
    // The click is the tile's alone; it does not reach the pane below.
    event->accept();
    if (event->button() != Qt::LeftButton) return;
    emit clicked(channelID_);
}
