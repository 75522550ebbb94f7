// The snapshot button's work: a press asks for a snapshot of the shown channel, which the next
// picture of that channel answers, saved in the settings' snapshot folder under the open
// file's name. GUI thread.
#pragma once

#include <QImage>
#include <QString>

#include <memory>

#include "app/snapshot/snapshot_taker.h"
#include "recorderfile/recorder_time.h"

class ConfigSettingPanel;
class OpenFile;

class Snapshots {
  public:
    // The settings panel is made at launch, after this.
    Snapshots(const OpenFile &file, const std::unique_ptr<ConfigSettingPanel> &settings);

    SnapshotTaker &taker() { return taker_; }
    // The snapshot button.
    void snapshotAction() { taker_.request(); }
    // At every playback start: drops a pending snapshot; the open file's snapshot folder.
    void setSnapshotFileLocation();
    // Saves `picture` of the shown channel when a snapshot is pending, named with its own
    // recorder `time`. Returns the path written or "".
    QString saveSnapshotImage(const QImage &picture, const _SYSTEMTIME &time);
    QString snapshotSavedFilePath() const { return folder_; }
    void setSnapshotSavedFilePath(const QString &folder) { folder_ = folder; }

  private:
    const OpenFile &file_;
    const std::unique_ptr<ConfigSettingPanel> &settings_;
    SnapshotTaker taker_;
    QString folder_;
};
