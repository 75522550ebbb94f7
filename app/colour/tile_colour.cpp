#include "app/colour/tile_colour.h"

#include <algorithm>

#include "app/ColorSettingPanel.h"
#include "app/controls/CustomizedVideoView.h"
#include "app/open_file/open_file.h"
#include "app/panel_fold.h"

TileColour::TileColour(const OpenFile &file, const EngineShared &shared,
                       const std::unique_ptr<ColorSettingPanel> &panel)
    : file_(file), shared_(shared), panel_(panel) {}

QImage TileColour::colourFilteredPicture(int tileIndex, const QImage &picture) {
    if (panel_ && panel_->colorSettingPanelOpenedNow() && file_.playerState() != PlayerState::Converting)
        applyColorFilterToImageView(picture);
    return filter_.filterTilePicture(tileIndex, picture);
}

void TileColour::applyColorFilterToImageView(const QImage &) {
    if (panel_) filter_.setControls(panel_->colourControls());
}

void TileColour::windowDidUpdate() {
    if (!panel_ || !panel_->colorSettingPanelOpenedNow() || shared_.playbackNow.load() ||
        shared_.imageRealHeight.load() == 0)
        return;
    applyColorFilterToImageView(filter_.tilePicture(0));
    const int tiles = std::min<int>(file_.channelIndex(), static_cast<int>(tiles_.size()));
    for (int i = 0; i < tiles; ++i) {
        const QImage picture = filter_.tilePicture(i);
        if (tiles_[static_cast<size_t>(i)] && !picture.isNull())
            tiles_[static_cast<size_t>(i)]->setContents(filter_.apply(picture));
    }
}

void TileColour::showColorSettingPanel(QWidget *window) {
    if (!panel_) return;
    unfoldPanel(panel_.get(), window);
    panel_->setColorSettingPanelOpenedNow(true);
    windowDidUpdate();
}
