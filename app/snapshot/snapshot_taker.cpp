#include "app/snapshot/snapshot_taker.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImageWriter>
#include <QTemporaryFile>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/log.h"

namespace {

QByteArray local(const QString &path) {
    return QFile::encodeName(path);
}

bool pathExists(const std::string &path) {
    struct stat st;
    return ::lstat(path.c_str(), &st) == 0;
}

// Moves `from` to `to` unless something is already called `to`. 0 on success, EEXIST when the
// name is taken, another errno on failure.
int renameWithoutReplacing(const std::string &from, const std::string &to) {
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return 0;
    if (errno != EINVAL && errno != ENOSYS && errno != ENOTSUP) return errno;
    // File systems without the flag: a hard link fails on a taken name; without links, look
    // first (a narrow race that only another writer of the same name could lose).
    if (::link(from.c_str(), to.c_str()) == 0) {
        ::unlink(from.c_str());
        return 0;
    }
    if (errno == EEXIST) return EEXIST;
    if (pathExists(to)) return EEXIST;
    return ::rename(from.c_str(), to.c_str()) == 0 ? 0 : errno;
}

// Writes the picture under a temporary name in the target's folder and moves it to the first
// free name from `path` on.
QString writeImageFile(const QImage &picture, const QString &path, const char *format, int quality,
                       int compression) {
    const QFileInfo target(path);
    QTemporaryFile temporary(target.absolutePath() + QStringLiteral("/.snapshot-XXXXXX"));
    if (picture.isNull()) {
        player_log("Error: No picture to save as %s\n", local(path).constData());
        return QString();
    }
    if (!temporary.open()) {
        player_log("Error: Cannot write snapshot %s: %s\n", local(path).constData(),
                   temporary.errorString().toLocal8Bit().constData());
        return QString();
    }
    // Video has no transparency: whatever the fourth byte of a picture holds, the file is opaque.
    const QImage opaque =
        picture.hasAlphaChannel() ? picture.convertToFormat(QImage::Format_RGBX8888) : picture;
    QImageWriter writer(&temporary, format);
    if (quality >= 0) writer.setQuality(quality);
    if (compression >= 0) writer.setCompression(compression);
    const bool written = writer.write(opaque) && temporary.flush() && ::fsync(temporary.handle()) == 0;
    if (!written) {
        const QString reason =
            writer.error() != QImageWriter::UnknownError || temporary.error() == QFile::NoError
                ? writer.errorString()
                : temporary.errorString();
        player_log("Error: Cannot write snapshot %s: %s\n", local(path).constData(),
                   reason.toLocal8Bit().constData());
        return QString(); // the temporary file goes with `temporary`
    }
    const std::string from = local(temporary.fileName()).toStdString();
    const std::string wanted = local(path).toStdString();
    for (int n = 1; n <= 100000; ++n) {
        const std::string candidate = numberedPath(wanted, n);
        const int result = renameWithoutReplacing(from, candidate);
        if (result == EEXIST) continue;
        if (result != 0) {
            player_log("Error: Cannot write snapshot %s: %s\n", candidate.c_str(), std::strerror(result));
            return QString();
        }
        temporary.setAutoRemove(false);
        // Snapshots are the user's files: readable as any file they make, not private as a
        // temporary one.
        const mode_t mask = ::umask(0);
        ::umask(mask);
        ::chmod(candidate.c_str(), 0666 & ~mask);
        return QFile::decodeName(QByteArray::fromStdString(candidate));
    }
    player_log("Error: Cannot write snapshot %s: no free name\n", wanted.c_str());
    return QString();
}

} // namespace

bool SnapshotTaker::tiffSupported() {
    return QImageWriter::supportedImageFormats().contains("tiff");
}

QString SnapshotTaker::saveJPEGImage(const QImage &picture, const QString &path) {
    return writeImageFile(picture, path, "jpeg", 80, -1);
}

QString SnapshotTaker::savePNGImage(const QImage &picture, const QString &path) {
    return writeImageFile(picture, path, "png", -1, -1);
}

QString SnapshotTaker::saveTIFFImage(const QImage &picture, const QString &path) {
    if (!tiffSupported()) {
        player_log("Error: Cannot write snapshot %s: no TIFF writer (Qt image formats plugin missing)\n",
                   local(path).constData());
        return QString();
    }
    // Compression 1 is LZW for Qt's TIFF writer.
    return writeImageFile(picture, path, "tiff", -1, 1);
}

QString SnapshotTaker::saveSnapshotImage(const QImage &picture, const QString &folder, int typeIndex,
                                         const QString &recordingName, int channel,
                                         const SnapshotTime &time) {
    const std::string name = snapshotFileName(typeIndex, recordingName.toStdString(), channel, time);
    if (name.empty()) return QString();
    QDir dir(folder);
    if (!dir.exists() && !QDir().mkpath(folder))
        player_log("Error: Create folder failed %s\n", local(folder).constData());
    const QString path = QString::fromStdString(joinPath(folder.toStdString(), name));
    switch (static_cast<SnapshotType>(typeIndex)) {
    case SnapshotType::Jpeg:
        return saveJPEGImage(picture, path);
    case SnapshotType::Png:
        return savePNGImage(picture, path);
    case SnapshotType::Tiff:
        return saveTIFFImage(picture, path);
    }
    return QString();
}

QString SnapshotTaker::takePendingSnapshot(int channel, const QImage &picture, const SnapshotTime &time,
                                           const QString &recordingName, const QString &folder,
                                           int typeIndex) {
    if (!pending_) return QString();
    pending_ = false;
    return saveSnapshotImage(picture, folder, typeIndex, recordingName, channel, time);
}
