// Helpers of the snapshot and panel tests: synthetic pictures, a folder listing by raw names,
// the compression tag of a TIFF file, and a settings store of the test's own.
#pragma once

#include <QCoreApplication>
#include <QImage>
#include <QSettings>

#include <cstdint>
#include <cstdlib>
#include <dirent.h>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <vector>

namespace snapshotfixture {

// Smooth colours; the fourth byte is not alpha to a video picture, so it is left at 0 here and a
// snapshot must still come out opaque.
inline QImage syntheticPicture(int width, int height) {
    QImage image(width, height, QImage::Format_RGBA8888);
    for (int y = 0; y < height; ++y) {
        uint8_t *row = image.scanLine(y);
        for (int x = 0; x < width; ++x) {
            row[4 * x] = static_cast<uint8_t>(x * 255 / (width > 1 ? width - 1 : 1));
            row[4 * x + 1] = static_cast<uint8_t>(y * 255 / (height > 1 ? height - 1 : 1));
            row[4 * x + 2] = static_cast<uint8_t>((x + y) * 3);
            row[4 * x + 3] = 0;
        }
    }
    return image;
}

// Noise compresses badly: its files are large.
inline QImage noisePicture(int width, int height) {
    QImage image(width, height, QImage::Format_RGBA8888);
    uint32_t state = 12345;
    for (int y = 0; y < height; ++y) {
        uint8_t *row = image.scanLine(y);
        for (int x = 0; x < 4 * width; ++x) {
            state = state * 1664525u + 1013904223u;
            row[x] = static_cast<uint8_t>(state >> 24);
        }
    }
    return image;
}

// Mean absolute difference of the colour channels.
inline double meanDifference(const QImage &a, const QImage &b) {
    const QImage x = a.convertToFormat(QImage::Format_RGBA8888),
                 y = b.convertToFormat(QImage::Format_RGBA8888);
    if (x.size() != y.size()) return 1e9;
    double sum = 0;
    for (int row = 0; row < x.height(); ++row)
        for (int i = 0; i < 4 * x.width(); ++i)
            if (i % 4 != 3) sum += std::abs(int(x.constScanLine(row)[i]) - int(y.constScanLine(row)[i]));
    return sum / (3.0 * x.width() * x.height());
}

// The raw names in a folder (without "." and "..").
inline std::set<std::string> listFolder(const std::string &path) {
    std::set<std::string> names;
    if (DIR *d = opendir(path.c_str())) {
        while (dirent *e = readdir(d)) {
            const std::string n = e->d_name;
            if (n != "." && n != "..") names.insert(n);
        }
        closedir(d);
    }
    return names;
}

// The Compression tag (259) of the first image of a TIFF file; -1 when unreadable.
inline int tiffCompression(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    const std::vector<uint8_t> b((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (b.size() < 8) return -1;
    const bool little = b[0] == 'I' && b[1] == 'I';
    if (!little && !(b[0] == 'M' && b[1] == 'M')) return -1;
    auto u16 = [&](size_t at) -> uint32_t {
        return at + 2 > b.size() ? 0 : little ? b[at] | b[at + 1] << 8 : b[at] << 8 | b[at + 1];
    };
    auto u32 = [&](size_t at) -> uint32_t {
        return at + 4 > b.size() ? 0 : little ? u16(at) | u16(at + 2) << 16 : u16(at) << 16 | u16(at + 2);
    };
    if (u16(2) != 42) return -1;
    const size_t ifd = u32(4);
    const uint32_t count = u16(ifd);
    for (uint32_t i = 0; i < count; ++i) {
        const size_t entry = ifd + 2 + 12 * i;
        if (entry + 12 > b.size()) return -1;
        if (u16(entry) == 259) return static_cast<int>(u16(entry + 2) == 3 ? u16(entry + 8) : u32(entry + 8));
    }
    return -1;
}

// The application's settings go to a folder of the test's own while it exists.
class SettingsScope {
  public:
    explicit SettingsScope(const std::string &folder) {
        previousOrganization_ = QCoreApplication::organizationName();
        previousApplication_ = QCoreApplication::applicationName();
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope,
                           QString::fromStdString(folder + "/config"));
        QSettings::setPath(QSettings::IniFormat, QSettings::UserScope,
                           QString::fromStdString(folder + "/config"));
        QCoreApplication::setOrganizationName(QStringLiteral("playertest"));
        QCoreApplication::setApplicationName(QStringLiteral("panels"));
    }
    ~SettingsScope() {
        QCoreApplication::setOrganizationName(previousOrganization_);
        QCoreApplication::setApplicationName(previousApplication_);
    }

  private:
    QString previousOrganization_, previousApplication_;
};

} // namespace snapshotfixture
