// The snapshot button's work: a press asks for a snapshot of the shown channel, which the next
// picture of that channel answers, saved in the settings' snapshot folder under the open
// file's name. While no next picture comes (paused, at the end, stopped) the press saves the
// one on screen at once, or nothing; it never waits for a later picture.
// GUI thread.
#pragma once

#include <QImage>
#include <QString>

#include <array>
#include <functional>
#include <memory>

#include "app/snapshot/snapshot_taker.h"
#include "recorderfile/recorder_time.h"

class ConfigSettingPanel;
class OpenFile;

class Snapshots {
  public:
    // The settings panel is made at launch, after this. `picturesHeld` tells whether the open
    // file's pictures have stopped coming (paused, at its end, stopped).
    Snapshots(const OpenFile &file, const std::unique_ptr<ConfigSettingPanel> &settings,
              std::function<bool()> picturesHeld);

    SnapshotTaker &taker() { return taker_; }
    // The snapshot button.
    void snapshotAction();
    // At every playback start: drops a pending snapshot and the pictures kept; the open file's
    // snapshot folder.
    void setSnapshotFileLocation();
    // Every picture shown, of channel `channel` (0-based), before any colour adjustment: the
    // last of the shown channel is what a press saves while no picture comes.
    void keepShownPicture(int channel, const QImage &picture, const _SYSTEMTIME &time);
    void forgetShownPictures() { shown_.fill(Shown{}); }
    void forgetShownPicture(int channel);
    // Saves `picture` of the shown channel when a snapshot is pending, named with its own
    // recorder `time`. Returns the path written or "".
    QString saveSnapshotImage(const QImage &picture, const _SYSTEMTIME &time);
    QString snapshotSavedFilePath() const { return folder_; }
    void setSnapshotSavedFilePath(const QString &folder) { folder_ = folder; }

  private:
    struct Shown {
        QImage picture;
        _SYSTEMTIME time{};
    };
    const OpenFile &file_;
    const std::unique_ptr<ConfigSettingPanel> &settings_;
    const std::function<bool()> picturesHeld_;
    SnapshotTaker taker_;
    QString folder_;
    std::array<Shown, 16> shown_;
};
