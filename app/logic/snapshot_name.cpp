#include "app/logic/snapshot_name.h"

#include <cstdio>

namespace {
const char kFullwidthSolidus[] = "\xEF\xBC\x8F";
const char kFullwidthColon[] = "\xEF\xBC\x9A";

// "YYYY／MM／DD_hh：mm：ss". Fields are formatted as numbers only, so nothing in them is
// read as a format.
std::string timeText(const SnapshotTime &t) {
    char buffer[96];
    std::snprintf(buffer, sizeof buffer, "%04d%s%02d%s%02d_%02d%s%02d%s%02d", t.year, kFullwidthSolidus,
                  t.month, kFullwidthSolidus, t.day, t.hour, kFullwidthColon, t.minute, kFullwidthColon,
                  t.second);
    return buffer;
}

std::string withoutSeparators(const std::string &name) {
    std::string out = name;
    for (char &c : out)
        if (c == '/' || c == '\0') c = '_';
    return out;
}
} // namespace

std::string snapshotFileName(int typeIndex, const std::string &recordingName, int channel,
                             const SnapshotTime &time) {
    switch (typeIndex) {
    case static_cast<int>(SnapshotType::Jpeg):
        return withoutSeparators(recordingName) + "_CH" + std::to_string(channel) + "_" + timeText(time) +
               ".jpg";
    case static_cast<int>(SnapshotType::Png):
        return "PlaybackTime_" + timeText(time) + ".png";
    case static_cast<int>(SnapshotType::Tiff):
        return "PlaybackTime_" + timeText(time) + ".tiff";
    default:
        return std::string();
    }
}

std::string safePathComponent(const std::string &name) {
    std::string out = withoutSeparators(name);
    if (out.find_first_not_of('.') == std::string::npos) {
        for (char &c : out)
            c = '_';
        if (out.empty()) out = "_";
    }
    return out;
}

std::string joinPath(const std::string &folder, const std::string &name) {
    if (folder.empty()) return name;
    if (folder.back() == '/') return folder + name;
    return folder + "/" + name;
}

std::string snapshotFolderPath(const std::string &snapshotFolder, const std::string &recordingName) {
    return joinPath(snapshotFolder, safePathComponent(recordingName));
}

std::string numberedPath(const std::string &path, int n) {
    if (n <= 1) return path;
    const size_t slash = path.rfind('/');
    const size_t nameStart = slash == std::string::npos ? 0 : slash + 1;
    size_t dot = path.rfind('.');
    if (dot == std::string::npos || dot <= nameStart) dot = path.size();
    return path.substr(0, dot) + "_" + std::to_string(n) + path.substr(dot);
}

std::string firstFreePath(const std::string &path, const std::function<bool(const std::string &)> &exists,
                          int limit) {
    for (int n = 1; n <= limit; ++n) {
        const std::string candidate = numberedPath(path, n);
        if (!exists(candidate)) return candidate;
    }
    return std::string();
}
