// Snapshots: a press of the snapshot button asks for one; the next picture shown is saved as a
// JPEG, PNG or TIFF file in the open recording's snapshot folder, named by its recorder time.
//
// A file is written beside its final name under a hidden temporary name and then moved to the
// first free name without replacing anything: an earlier snapshot is never overwritten and a
// write that fails (full disk, unwritable folder) leaves no partial file. Failures are logged
// and playback goes on.
//
// GUI thread; saving touches no widget.
#pragma once

#include <QImage>
#include <QString>

#include "app/logic/snapshot_name.h"

class SnapshotTaker {
  public:
    // A snapshot of the next picture; pressing again before it arrives still gives one file.
    void request() { pending_ = true; }
    // Forgets a request (at every playback start).
    void cancel() { pending_ = false; }
    bool pending() const { return pending_; }

    // When a snapshot is pending: clears the request and saves `picture` (before any colour
    // adjustment) in `folder` as `typeIndex` (0 JPEG, 1 PNG, 2 TIFF; any other index writes
    // nothing). Returns the path written, or an empty string.
    QString takePendingSnapshot(int channel, const QImage &picture, const SnapshotTime &time,
                                const QString &recordingName, const QString &folder, int typeIndex);

    // Saves at once: creates the folder when needed, names the file, writes it. Returns the
    // path written, or an empty string (the reason is logged).
    static QString saveSnapshotImage(const QImage &picture, const QString &folder, int typeIndex,
                                     const QString &recordingName, int channel, const SnapshotTime &time);

    // The writers: the picture to `path`, or to the first free numbered name beside it.
    // JPEG at quality 80, PNG as it is, TIFF with LZW compression.
    static QString saveJPEGImage(const QImage &picture, const QString &path);
    static QString savePNGImage(const QImage &picture, const QString &path);
    static QString saveTIFFImage(const QImage &picture, const QString &path);

    // TIFF needs Qt's image-formats plugin; without it TIFF snapshots fail with a log line.
    static bool tiffSupported();

  private:
    bool pending_ = false;
};
