#include "app/snapshot/snapshots.h"

#include "app/ConfigSettingPanel.h"
#include "app/logic/snapshot_name.h"
#include "app/open_file/open_file.h"

Snapshots::Snapshots(const OpenFile &file, const std::unique_ptr<ConfigSettingPanel> &settings)
    : file_(file), settings_(settings) {}

void Snapshots::setSnapshotFileLocation() {
    taker_.cancel();
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
