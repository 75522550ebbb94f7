// Where a snapshot goes: the folder of the open recording inside the chosen snapshot folder,
// and the file name made of the recorder time of the picture. Date and time separators are the
// fullwidth solidus and colon, so that the name reads like a date and time but holds no path
// separator and no character some file systems refuse.
//
// All strings are UTF-8.
#pragma once

#include <functional>
#include <string>

// Snapshot image types, in the order of the settings panel's menu.
enum class SnapshotType { Jpeg = 0, Png = 1, Tiff = 2 };

// The recorder time that names a snapshot.
struct SnapshotTime {
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
};

// The file name (no folder) for a snapshot of `typeIndex` (0 JPEG, 1 PNG, 2 TIFF): the JPEG name
// carries the recording's name and the channel, the PNG and TIFF names only the time (the
// recording's name is in their folder). Empty for any other index: nothing is written then.
std::string snapshotFileName(int typeIndex, const std::string &recordingName, int channel,
                             const SnapshotTime &time);

// A recording's name made safe as one path component: path separators and NULs become "_",
// and a name that is empty or only dots ("." and ".." would leave the folder) becomes
// underscores, so the result never names the folder itself or its parent.
std::string safePathComponent(const std::string &name);

// `folder` and `name` with exactly one "/" between them (a folder from a dialog has no
// trailing "/", a default one does). An empty folder gives `name` alone.
std::string joinPath(const std::string &folder, const std::string &name);

// The folder of the open recording's snapshots: the chosen snapshot folder joined with the
// recording's safe name.
std::string snapshotFolderPath(const std::string &snapshotFolder, const std::string &recordingName);

// `path` itself when `exists` says it is free, else the first free of "stem_2.ext",
// "stem_3.ext", ... (the extension is what follows the last dot of the last component; a
// leading dot starts a name). Empty when no free name is found among the first `limit`.
std::string firstFreePath(const std::string &path, const std::function<bool(const std::string &)> &exists,
                          int limit = 100000);

// The n-th candidate of firstFreePath: n <= 1 gives `path`, n >= 2 the "_n" form.
std::string numberedPath(const std::string &path, int n);
