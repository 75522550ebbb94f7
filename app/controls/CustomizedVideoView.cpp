#include "app/controls/CustomizedVideoView.h"

#include <QMouseEvent>

#include "app/controls/FrameRepaintCoalescer.h"

CustomizedVideoView::CustomizedVideoView(QWidget *parent) : LayerView(parent) {}

void CustomizedVideoView::showPicture(const QImage &picture) {
    if (!coalescer_) {
        setContents(picture);
        return;
    }
    replaceContents(picture);
    coalescer_->markDirty(this);
}

void CustomizedVideoView::mousePressEvent(QMouseEvent *event) {
    // The click is the tile's alone; it does not reach the pane below.
    event->accept();
    if (event->button() != Qt::LeftButton) return;
    emit clicked(channelID_);
}
