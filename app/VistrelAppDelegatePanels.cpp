// The delegate's part in snapshots, the colour controls of the tiles and the two panels: short
// forwards to the snapshot taker, the colour filter and the panels, which do the work.
#include <QPushButton>

#include "app/ColorSettingPanel.h"
#include "app/ConfigSettingPanel.h"
#include "app/VistrelAppDelegate.h"
#include "app/controls/CustomizedVideoView.h"
#include "app/controls/LayerView.h"
#include "app/image_named.h"
#include "app/logic/player_state.h"
#include "app/logic/snapshot_name.h"
#include "app/main_window.h"
#include "app/panel_fold.h"

namespace {} // namespace

void VistrelAppDelegate::initColorSettingPanel() {
    colorSettingPanel = std::make_unique<ColorSettingPanel>();
    colorSettingPanel->backgroundView()->setContents(imageNamed("background.png").toImage());
    colorSettingPanel->setColorBrightnessValue(0.0f);
    colorSettingPanel->setColorSaturationValue(1.0f);
    colorSettingPanel->setColorContrastValue(1.0f);
    // Moving a control while nothing plays adjusts the shown pictures again.
    connect(colorSettingPanel.get(), &ColorSettingPanel::colourValuesChanged, this,
            [this] { windowDidUpdate(); });
    if (colorAdjustBtn)
        connect(colorAdjustBtn, &QPushButton::clicked, this, [this] { showColorSettingPanel(); });
    if (snapShotBtn) connect(snapShotBtn, &QPushButton::clicked, this, [this] { snapshotAction(); });
}

void VistrelAppDelegate::initConfigSettingPanel() {
    configSettingPanel = std::make_unique<ConfigSettingPanel>();
    if (configSettingBtn)
        connect(configSettingBtn, &QPushButton::clicked, this, [this] { showConfigSettingPanel(); });
}

void VistrelAppDelegate::showConfigSettingPanel() {
    if (configSettingPanel) unfoldPanel(configSettingPanel.get(), window);
}

void VistrelAppDelegate::showColorSettingPanel() {
    if (!colorSettingPanel) return;
    unfoldPanel(colorSettingPanel.get(), window);
    colorSettingPanel->setColorSettingPanelOpenedNow(true);
    // Values moved while the panel was closed reach the still pictures as it opens.
    windowDidUpdate();
}

void VistrelAppDelegate::snapshotAction() {
    snapshotTaker.request();
}

void VistrelAppDelegate::setSnapshotFileLocation() {
    snapshotTaker.cancel();
    const QString folder =
        configSettingPanel ? configSettingPanel->snapshotFilePathField()->text() : QString();
    snapshotSavedFilePath =
        QString::fromStdString(snapshotFolderPath(folder.toStdString(), fileName.toStdString()));
}

QString VistrelAppDelegate::saveSnapshotImage(const QImage &picture, const _SYSTEMTIME &t) {
    if (!snapshotTaker.pending()) return QString();
    const SnapshotTime time{t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond};
    const int type = configSettingPanel ? configSettingPanel->snapshotFileTypeIndex() : 0;
    return snapshotTaker.takePendingSnapshot(iCurrentSelectedVideoCH(), picture, time, fileName,
                                             snapshotSavedFilePath, type);
}

QImage VistrelAppDelegate::colourFilteredPicture(int tileIndex, const QImage &picture) {
    if (colorSettingPanel && colorSettingPanel->colorSettingPanelOpenedNow() &&
        playerState() != kPlayerStateConverting)
        applyColorFilterToImageView(picture);
    return colorFilter.filterTilePicture(tileIndex, picture);
}

void VistrelAppDelegate::applyColorFilterToImageView(const QImage &) {
    if (colorSettingPanel) colorFilter.setControls(colorSettingPanel->colourControls());
}

void VistrelAppDelegate::windowDidUpdate() {
    if (!colorSettingPanel || !colorSettingPanel->colorSettingPanelOpenedNow() || isPlaybackNow() ||
        imageRealHeight() == 0)
        return;
    applyColorFilterToImageView(colorFilter.tilePicture(0));
    const int tiles = std::min<int>(channelIndex(), static_cast<int>(videoView.size()));
    for (int i = 0; i < tiles; ++i) {
        const QImage picture = colorFilter.tilePicture(i);
        if (videoView[static_cast<size_t>(i)] && !picture.isNull())
            videoView[static_cast<size_t>(i)]->setContents(colorFilter.apply(picture));
    }
}
