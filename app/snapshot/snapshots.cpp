#include "app/snapshot/snapshots.h"

#include "app/ConfigSettingPanel.h"
#include "app/logic/snapshot_name.h"
#include "app/open_file/open_file.h"

Snapshots::Snapshots(const OpenFile &file, const std::unique_ptr<ConfigSettingPanel> &settings,
                     std::function<bool()> picturesHeld)
    : file_(file), settings_(settings), picturesHeld_(std::move(picturesHeld)) {}

void Snapshots::snapshotAction() {
    taker_.request();
    if (!picturesHeld_ || !picturesHeld_()) return;
    // No picture comes by itself: the one on screen answers the request, and with none the
    // request goes (Play would answer it with a picture nobody asked for).
    const int channel = file_.selectedVideoChannel() - 1;
    if (channel >= 0 && channel < static_cast<int>(shown_.size()) && !shown_[channel].picture.isNull())
        saveSnapshotImage(shown_[channel].picture, shown_[channel].time);
    taker_.cancel();
}

void Snapshots::keepShownPicture(int channel, const QImage &picture, const _SYSTEMTIME &time) {
    if (channel >= 0 && channel < static_cast<int>(shown_.size())) shown_[channel] = {picture, time};
}

void Snapshots::forgetShownPicture(int channel) {
    if (channel >= 0 && channel < static_cast<int>(shown_.size())) shown_[channel] = Shown{};
}

void Snapshots::setSnapshotFileLocation() {
    taker_.cancel();
    forgetShownPictures();
    const QString folder = settings_ ? settings_->snapshotFilePathField()->text() : QString();
    folder_ =
        QString::fromStdString(snapshotFolderPath(folder.toStdString(), file_.fileName().toStdString()));
}

QString Snapshots::saveSnapshotImage(const QImage &picture, const _SYSTEMTIME &t) {
    if (!taker_.pending()) return QString();
    const SnapshotTime time{t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond};
    const int type = settings_ ? settings_->snapshotFileTypeIndex() : 0;
    return taker_.takePendingSnapshot(file_.selectedVideoChannel(), picture, time, file_.fileName(), folder_,
                                      type);
}
