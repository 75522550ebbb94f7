#include "app/controls/CustomizedVideoView.h"

#include <QMouseEvent>

#include "app/VistrelAppDelegate.h"
#include "platform/log.h"

CustomizedVideoView::CustomizedVideoView(QWidget *parent)
    : LayerView(parent), appDelg_(VistrelAppDelegate::GetAppDelg()) {}

void CustomizedVideoView::mousePressEvent(QMouseEvent *event) {
    // The click is the tile's alone; it does not reach the pane below.
    event->accept();
    if (event->button() != Qt::LeftButton) return;
    VistrelAppDelegate *delegate = appDelg_;
    if (!delegate || delegate->videoPaneLockCutStateFlag()) return;

    if (delegate->videoPaneCutState() == 1) {
        const int mask = delegate->iSubVideoChannelEnabledValue();
        player_log("channelID = %d\n", channelID_);
        player_log("appDelg.iSubVideoChannelEnabledValue = 0x%x\n", static_cast<unsigned>(mask));
        const bool present = channelID_ >= 1 && channelID_ <= 16 &&
                             ((static_cast<unsigned>(mask) >> (channelID_ - 1)) & 1u) != 0;
        if (!present) {
            delegate->setViewCutChangedAndResetDecoder(false);
            return;
        }
        delegate->setICurrentSelectedVideoCH(channelID_);
        delegate->setVideoPaneCutState(0);
    } else {
        delegate->setVideoPaneCutState(1);
    }
    delegate->setViewCutChangedAndResetDecoder(true);
    delegate->setDecoderTargetWidth(0.0f);
    delegate->setDecoderTargetHeight(0.0f);
    delegate->setPreviousVideoPaneWidth(0.0f);
}
