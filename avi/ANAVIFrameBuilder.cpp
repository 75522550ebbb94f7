#include "avi/ANAVIFrameBuilder.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <random>
#include <set>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#include "avi/AudioCommonInfo.h"
#include "platform/byte_order.h"
#include "platform/log.h"

const char VDO_FMT[3][8] = {"H264", "MP4V", "MJPG"};

const char *aviResultText(AviResult r) {
    switch (r) {
    case AviResult::Ok:
        return "ok";
    case AviResult::SizeLimitReached:
        return "size limit reached";
    case AviResult::TargetExists:
        return "target exists";
    case AviResult::IoError:
        return "file error";
    case AviResult::NameTaken:
        return "name taken by another file";
    case AviResult::FolderGone:
        return "folder moved or removed";
    case AviResult::NoVideo:
        return "no video frame";
    case AviResult::NotRecording:
        return "not recording";
    case AviResult::AlreadyRecording:
        return "already recording";
    }
    return "?";
}

namespace {

// Everything before the first chunk: "RIFF", its size and the 2040-byte header block.
constexpr uint32_t kHeaderBytes = 2048;
constexpr uint32_t kHeaderBlockBytes = 2040;
// A window is the time of five frames at the stated 30/s, 1/6 s. Frame intervals are summed in
// sixths of a microsecond, where that is a whole number, so no rounding adds up over a long file
// and the slots keep pace with the recording's time, its sound and its subtitles.
constexpr uint64_t kUnitsPerMicrosecond = 6;
constexpr uint64_t kWindowUnits = 1000000;
constexpr uint16_t kFramesPerWindow = 5;
constexpr size_t kCopyBlock = 65536;

void putCode(uint8_t *p, const char *code) {
    std::memcpy(p, code, 4);
}

// A file we created ourselves (never an existing one), written with unbuffered calls so that
// every failure is seen where it happens.
class OwnFile {
  public:
    ~OwnFile() { closeQuietly(); }

    // Creates `name` in the folder that `dirFd` refers to (`path` names it for the log and
    // the caller); fails with EEXIST when anything is there already.
    bool create(int dirFd, const std::string &name, const std::string &path, bool readBack) {
        int flags = (readBack ? O_RDWR : O_WRONLY) | O_CREAT | O_EXCL | O_CLOEXEC;
        fd_ = ::openat(dirFd, name.c_str(), flags, 0644);
        if (fd_ < 0) return false;
        struct stat st;
        if (::fstat(fd_, &st) != 0) {
            // Never to be told from another file later: it goes now, while it surely is ours.
            const int err = errno;
            closeQuietly();
            ::unlinkat(dirFd, name.c_str(), 0);
            errno = err;
            return false;
        }
        dirFd_ = dirFd;
        name_ = name;
        path_ = path;
        dev_ = st.st_dev;
        ino_ = st.st_ino;
        created_ = true;
        return true;
    }

    bool writeAll(const void *data, size_t len) {
        const char *p = static_cast<const char *>(data);
        while (len > 0) {
            ssize_t n = ::write(fd_, p, len);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) return false;
            p += n;
            len -= static_cast<size_t>(n);
        }
        return true;
    }

    bool writevAll(iovec *iov, int count) {
        while (count > 0) {
            ssize_t n = ::writev(fd_, iov, count);
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) return false;
            size_t left = static_cast<size_t>(n);
            while (count > 0 && left >= iov->iov_len) {
                left -= iov->iov_len;
                ++iov;
                --count;
            }
            if (count > 0) {
                if (n == 0 && left == 0) return false;
                iov->iov_base = static_cast<char *>(iov->iov_base) + left;
                iov->iov_len -= left;
            }
        }
        return true;
    }

    bool pwriteAll(const void *data, size_t len, off_t at) {
        const char *p = static_cast<const char *>(data);
        while (len > 0) {
            ssize_t n = ::pwrite(fd_, p, len, at);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) return false;
            p += n;
            at += n;
            len -= static_cast<size_t>(n);
        }
        return true;
    }

    bool preadAll(void *data, size_t len, off_t at) {
        char *p = static_cast<char *>(data);
        while (len > 0) {
            ssize_t n = ::pread(fd_, p, len, at);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) return false;
            p += n;
            at += n;
            len -= static_cast<size_t>(n);
        }
        return true;
    }

    // Flushes to the device and closes; a failure of either means the data may not be there.
    bool syncAndClose() {
        if (fd_ < 0) return false;
        bool ok = ::fsync(fd_) == 0;
        ok = (::close(fd_) == 0) && ok;
        fd_ = -1;
        return ok;
    }

    void closeQuietly() {
        if (fd_ >= 0) ::close(fd_);
        fd_ = -1;
    }

    // Closes the file and deletes it if we created it and its name still holds it: a file that
    // took the name meanwhile is someone else's. True when it was deleted.
    bool discard() {
        closeQuietly();
        bool removed = false;
        struct stat st;
        if (created_ && ::fstatat(dirFd_, name_.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 &&
            st.st_dev == dev_ && st.st_ino == ino_)
            removed = ::unlinkat(dirFd_, name_.c_str(), 0) == 0;
        created_ = false;
        return removed;
    }

    // Renamed within its folder: still ours, under the new name.
    void renamedTo(const std::string &name, const std::string &path) {
        name_ = name;
        path_ = path;
    }

    // The file now belongs to someone else (kept as a result): never delete it.
    void release() { created_ = false; }

    const std::string &path() const { return path_; }

  private:
    int fd_ = -1;
    bool created_ = false;
    int dirFd_ = -1;
    std::string name_;
    std::string path_;
    dev_t dev_ = 0;
    ino_t ino_ = 0;
};

// Renames without ever replacing what is at the destination: the target either appears whole
// or not at all, and a file that turned up there meanwhile is left alone.
bool renameNoReplace(const std::string &from, const std::string &to) {
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return true;
    if (errno != EINVAL && errno != ENOSYS) return false;
    // File systems without the no-replace flag: a hard link cannot replace either.
    if (::link(from.c_str(), to.c_str()) == 0) {
        if (::unlink(from.c_str()) != 0)
            player_log("AVI: cannot remove %s after linking it into place\n", from.c_str());
        return true;
    }
    if (errno == EEXIST) return false;
    // Nor hard links (e.g. FAT): rename only while the destination is still absent.
    struct stat st;
    if (::lstat(to.c_str(), &st) == 0) {
        errno = EEXIST;
        return false;
    }
    return ::rename(from.c_str(), to.c_str()) == 0;
}

// The final files and the plain side names beside them: anything at one of them (a user's
// file, an earlier conversion's result) makes the name taken, and is never opened for
// writing nor removed.
std::string subtitlePathOf(const std::string &avi) {
    return avi + ".srt";
}
const char *const kTakenSuffixes[] = {"", ".srt", ".tmp", ".index", ".srt.tmp"};

// The temporaries of one run carry a token of that run and are created exclusively, so they
// can only be ours: no file of anyone else is truncated, and what a killed run leaves behind
// never blocks the name of a later one (it is left alone, under its own name).
std::string runToken() {
    uint64_t bits = 0;
    try {
        std::random_device rd;
        bits = (uint64_t(rd()) << 32) | rd();
    } catch (const std::exception &) {
        // No entropy source: the process and the clock still tell runs apart, and the
        // exclusive creation refuses any clash.
        bits = (uint64_t(::getpid()) << 40) ^
               uint64_t(std::chrono::steady_clock::now().time_since_epoch().count());
    }
    char text[32];
    std::snprintf(text, sizeof text, "%016" PRIx64, bits);
    return text;
}

// The AVI paths of the conversions running in this process: a second one to the same name is
// refused while the first lives.
std::mutex liveTargetsMutex;
std::set<std::string> liveTargets;

} // namespace

struct ANAVIFrameBuilder::Impl {
    enum class State { Idle, Recording, Stopped };

    std::mutex mu;
    State state = State::Idle;
    bool ioFailed = false;
    bool limitReached = false;
    // Mirrors of the two above for readers that do not take the lock.
    std::atomic<int> lastErrno{0};
    std::atomic<bool> limitSeen{false};
    uint32_t maxRiffSize = kDefaultMaxRiffSize;

    std::string filePath;
    std::string tmpPath;
    std::string indexPath;
    std::string subtitleTmpPath;
    // The AVI file's folder, held open so that this run's files are found in it (to be
    // removed) wherever it goes, and its path.
    int dirFd = -1;
    std::string folder;
    std::string takenPath;
    std::vector<std::string> removedFiles;
    OwnFile fpAVI; // the file being assembled: reserved header space, then the chunks
    OwnFile fpAVIIndex;
    OwnFile fpAVISubTitle;

    int width = 0;
    int height = 0;
    uint32_t nframes = 0;
    uint32_t fileSize = 0;
    uint32_t indexRows = 0;
    uint32_t audioFrameTotalLen = 0;
    uint32_t videoFrameTotalLen = 0;
    int audioFmt = 0;
    uint32_t subTitleStartSec = 0;
    uint32_t subTitleEndSec = 0;
    // Recorder second of the last subtitle entry; kNoSubtitleYet before the first, so that the
    // first frame opens entry 1 whatever its second (0 included).
    static constexpr uint16_t kNoSubtitleYet = 0xFFFF;
    uint16_t prevSystemTimeSec = kNoSubtitleYet;
    uint16_t rounds = 0;
    uint32_t counterInSeconds = 0;
    bool needHandleSpecialCase = false;
    uint64_t intervals5Frames = 0; // in sixths of a microsecond
    uint16_t tmpFrames = 0;

    bool takingData() const { return state == State::Recording && !ioFailed && !limitReached; }

    // Whether addPayload more chunk bytes and addRows more index rows keep every 32-bit size of
    // the finished file (RIFF, "movi", "idx1"; RIFF is the largest) within the limit.
    bool fits(uint64_t addPayload, uint64_t addRows) const {
        uint64_t riff =
            uint64_t(kHeaderBlockBytes) + fileSize + addPayload + 8 + 16 * (uint64_t(indexRows) + addRows);
        return riff <= maxRiffSize;
    }

    void reachLimit() {
        if (!limitReached)
            player_log("AVI: size limit reached at %" PRIu32 " payload bytes, the file ends here\n",
                       fileSize);
        limitReached = true;
        limitSeen.store(true);
    }

    void fail(const char *what) {
        const int err = errno;
        if (!ioFailed) {
            player_log("AVI: %s failed: %s\n", what, std::strerror(err));
            lastErrno.store(err != 0 ? err : EIO);
        }
        ioFailed = true;
    }

    void discardFiles() {
        for (OwnFile *f : {&fpAVI, &fpAVIIndex, &fpAVISubTitle}) {
            const std::string path = f->path();
            if (f->discard()) removedFiles.push_back(path);
        }
    }

    void closeFolder() {
        if (dirFd >= 0) ::close(dirFd);
        dirFd = -1;
    }

    // The folder at its path is still the one this run's files are in.
    bool folderInPlace() const {
        struct stat now, ours;
        return ::stat(folder.c_str(), &now) == 0 && ::fstat(dirFd, &ours) == 0 && now.st_dev == ours.st_dev &&
               now.st_ino == ours.st_ino;
    }

    // A finished file could not be moved to `target`: taken by another file, its folder gone,
    // or a plain failure.
    AviResult placingFailed(const std::string &target, const char *what) {
        const int err = errno;
        fail(what);
        if (err == EEXIST) {
            takenPath = target;
            return AviResult::NameTaken;
        }
        return folderInPlace() ? AviResult::IoError : AviResult::FolderGone;
    }

    // The name is free again for another conversion of this process.
    void leaveTarget() {
        if (filePath.empty()) return;
        std::lock_guard<std::mutex> lock(liveTargetsMutex);
        liveTargets.erase(filePath);
    }

    bool appendIndexRow(const char *code, uint32_t flags, uint32_t offset, uint32_t length) {
        uint8_t row[16];
        putCode(row, code);
        writeLE32(row + 4, flags);
        writeLE32(row + 8, offset);
        writeLE32(row + 12, length);
        if (!fpAVIIndex.writeAll(row, sizeof row)) {
            fail("writing the index");
            return false;
        }
        ++indexRows;
        return true;
    }

    // One chunk: code, size, data and a pad byte after odd data. The size field holds the data
    // length alone, so readers get the frame or PCM back unchanged; the pad keeps chunks even.
    bool appendChunk(const char *code, const char *data, uint32_t length) {
        uint8_t head[8];
        putCode(head, code);
        writeLE32(head + 4, length);
        static const char pad = 0;
        iovec iov[3];
        int n = 0;
        iov[n++] = {head, sizeof head};
        if (length > 0) iov[n++] = {const_cast<char *>(data), length};
        if (length & 1) iov[n++] = {const_cast<char *>(&pad), 1};
        if (!fpAVI.writevAll(iov, n)) {
            fail("writing a chunk");
            return false;
        }
        return true;
    }

    bool appendSubtitle(uint32_t n, const _SYSTEMTIME &t, uint32_t channel) {
        // Entry n runs from second n - 1 to second n of the AVI; hours simply keep counting.
        unsigned long s0 = subTitleStartSec, s1 = subTitleEndSec;
        char text[256];
        int len = std::snprintf(text, sizeof text,
                                "%lu\n%02lu:%02lu:%02lu,%03d --> %02lu:%02lu:%02lu,%03d\n"
                                "%04u/%02u/%02u %02u:%02u:%02u CH%llu\n\n",
                                static_cast<unsigned long>(n), s0 / 3600, s0 / 60 % 60, s0 % 60, 0, s1 / 3600,
                                s1 / 60 % 60, s1 % 60, 0, unsigned(t.wYear), unsigned(t.wMonth),
                                unsigned(t.wDay), unsigned(t.wHour), unsigned(t.wMinute), unsigned(t.wSecond),
                                static_cast<unsigned long long>(channel) + 1);
        if (len < 0 || static_cast<size_t>(len) >= sizeof text ||
            !fpAVISubTitle.writeAll(text, size_t(len))) {
            fail("writing the subtitle file");
            return false;
        }
        return true;
    }

    std::vector<uint8_t> buildHeader(bool withAudio, int fmtIdx) const;
    AviResult finish(bool withAudio, int fmtIdx);
};

ANAVIFrameBuilder::ANAVIFrameBuilder() : d_(new Impl) {}

ANAVIFrameBuilder::~ANAVIFrameBuilder() {
    std::lock_guard<std::mutex> lock(d_->mu);
    if (d_->state == Impl::State::Recording) {
        player_log("AVI: conversion to %s abandoned, its files are removed\n", d_->filePath.c_str());
        d_->discardFiles();
        d_->leaveTarget();
    }
    d_->closeFolder();
}

void ANAVIFrameBuilder::setFps(double fps) {
    fps_.store(fps);
}
double ANAVIFrameBuilder::fps() const {
    return fps_.load();
}

bool ANAVIFrameBuilder::setVdoFmtIdx(int idx) {
    if (idx < 0 || idx > 2) {
        player_log("AVI: video format index %d ignored\n", idx);
        return false;
    }
    vdoFmtIdx_.store(idx);
    return true;
}
int ANAVIFrameBuilder::vdoFmtIdx() const {
    return vdoFmtIdx_.load();
}

int ANAVIFrameBuilder::lastErrno() const {
    return d_->lastErrno.load();
}
bool ANAVIFrameBuilder::sizeLimitReached() const {
    return d_->limitSeen.load();
}

std::string ANAVIFrameBuilder::takenPath() const {
    std::lock_guard<std::mutex> lock(d_->mu);
    return d_->takenPath;
}
std::vector<std::string> ANAVIFrameBuilder::removedFiles() const {
    std::lock_guard<std::mutex> lock(d_->mu);
    return d_->removedFiles;
}

void ANAVIFrameBuilder::setMaxRiffSize(uint32_t bytes) {
    std::lock_guard<std::mutex> lock(d_->mu);
    d_->maxRiffSize = bytes;
}

AviResult ANAVIFrameBuilder::startRecordingToFile(const std::string &aviPath) {
    std::lock_guard<std::mutex> lock(d_->mu);
    Impl &s = *d_;
    if (s.state == Impl::State::Recording) return AviResult::AlreadyRecording;
    if (aviPath.empty()) return AviResult::IoError;

    // Nothing that is already there is ever opened for writing or removed: the caller picks
    // another name instead.
    for (const char *suffix : kTakenSuffixes) {
        const std::string taken = aviPath + suffix;
        struct stat st;
        if (::lstat(taken.c_str(), &st) == 0) return AviResult::TargetExists;
        if (errno != ENOENT) {
            player_log("AVI: cannot check %s: %s\n", taken.c_str(), std::strerror(errno));
            return AviResult::IoError;
        }
    }
    {
        std::lock_guard<std::mutex> live(liveTargetsMutex);
        if (!liveTargets.insert(aviPath).second) return AviResult::TargetExists;
    }
    s.ioFailed = false;
    s.limitReached = false;
    s.lastErrno.store(0);
    s.limitSeen.store(false);
    s.filePath = aviPath;
    s.takenPath.clear();
    s.removedFiles.clear();
    const size_t slash = aviPath.rfind('/');
    const std::string base = slash == std::string::npos ? aviPath : aviPath.substr(slash + 1);
    s.folder = slash == std::string::npos ? "." : slash == 0 ? "/" : aviPath.substr(0, slash);
    s.closeFolder();
    s.dirFd = ::open(s.folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    // Both finished files appear only through the renames at stop: a conversion killed at any
    // point leaves nothing at a final name, only its own temporaries.
    bool created = false;
    for (int attempt = 0; attempt < 3 && !created && s.dirFd >= 0; ++attempt) {
        const std::string token = "." + runToken();
        s.tmpPath = aviPath + token + ".tmp";
        s.indexPath = aviPath + token + ".index";
        s.subtitleTmpPath = aviPath + token + ".srt.tmp";
        created = s.fpAVIIndex.create(s.dirFd, base + token + ".index", s.indexPath, true) &&
                  s.fpAVI.create(s.dirFd, base + token + ".tmp", s.tmpPath, false) &&
                  s.fpAVISubTitle.create(s.dirFd, base + token + ".srt.tmp", s.subtitleTmpPath, false);
        if (!created) {
            const int err = errno;
            s.discardFiles();
            errno = err;
            if (err != EEXIST) break; // a clash of tokens is tried again with a new one
        }
    }
    if (!created) {
        const int err = errno;
        s.lastErrno.store(err);
        player_log("AVI: cannot create the files of %s: %s\n", aviPath.c_str(), std::strerror(err));
        s.closeFolder();
        s.leaveTarget();
        return AviResult::IoError;
    }
    static const uint8_t reserved[kHeaderBytes] = {};
    static const uint8_t indexHead[8] = {'i', 'd', 'x', '1', 0, 0, 0, 0};
    static const uint8_t srtHead[4] = {0xEF, 0xBB, 0xBF, '\n'};
    if (!s.fpAVI.writeAll(reserved, sizeof reserved) || !s.fpAVIIndex.writeAll(indexHead, sizeof indexHead) ||
        !s.fpAVISubTitle.writeAll(srtHead, sizeof srtHead)) {
        s.lastErrno.store(errno != 0 ? errno : EIO);
        player_log("AVI: cannot write the files of %s: %s\n", aviPath.c_str(), std::strerror(errno));
        s.discardFiles();
        s.closeFolder();
        s.leaveTarget();
        return AviResult::IoError;
    }

    s.nframes = 0;
    s.fileSize = 0;
    s.indexRows = 0;
    s.audioFrameTotalLen = 0;
    s.videoFrameTotalLen = 0;
    s.subTitleStartSec = 0;
    s.subTitleEndSec = 0;
    s.counterInSeconds = 0;
    s.prevSystemTimeSec = Impl::kNoSubtitleYet;
    s.rounds = 0;
    s.intervals5Frames = 0;
    s.tmpFrames = 0;
    s.needHandleSpecialCase = true;
    s.state = Impl::State::Recording;
    return AviResult::Ok;
}

void ANAVIFrameBuilder::handleSpecialCaseSeperatorWithBuf(const uint8_t *frame, uint32_t *part1DataLen,
                                                          uint32_t dataLen) {
    if (!frame || !part1DataLen) return;
    uint64_t i = 0;
    while (i + 5 <= dataLen) {
        if (frame[i] == 0 && frame[i + 1] == 0 && frame[i + 2] == 0 && frame[i + 3] == 1) {
            if (frame[i + 4] == 1) {
                *part1DataLen = static_cast<uint32_t>(i);
                return;
            }
            i += 5;
        } else {
            i += 1;
        }
    }
}

int ANAVIFrameBuilder::videoDataWrappingForAVIConversion(const char *frame, int length, int imageWidth,
                                                         int imageHeight, bool isIFrame, uint32_t interval,
                                                         _SYSTEMTIME sysTime, uint32_t currChannel) {
    std::lock_guard<std::mutex> lock(d_->mu);
    Impl &s = *d_;
    if (!s.takingData() || length < 0 || (length > 0 && !frame)) return 0;

    s.intervals5Frames += interval * kUnitsPerMicrosecond;
    if (s.intervals5Frames != 0) ++s.tmpFrames;

    uint32_t part = static_cast<uint32_t>(length);
    bool found = false;
    if (s.needHandleSpecialCase) {
        handleSpecialCaseSeperatorWithBuf(reinterpret_cast<const uint8_t *>(frame), &part, uint32_t(length));
        found = part != uint32_t(length);
    }
    if (!found) {
        if (s.rounds < 3)
            ++s.rounds;
        else
            s.needHandleSpecialCase = false;
    }

    const uint32_t p = s.fileSize;
    s.videoFrameTotalLen = part + 8;
    s.width = imageWidth;
    s.height = imageHeight;

    if (s.indexRows == 0 && !isIFrame) {
        player_log("First frame is not I frame...return\n");
        return 0;
    }

    const uint32_t pad = part & 1;
    if (!s.fits(uint64_t(part) + 8 + pad, 1)) {
        s.reachLimit();
        return 0;
    }
    if (!s.appendChunk("00dc", frame, part)) return 0;
    s.videoFrameTotalLen += pad;
    s.fileSize += s.videoFrameTotalLen;
    ++s.nframes;
    if (!s.appendIndexRow("00dc", isIFrame ? 0x10 : 0, p + kHeaderBytes, part)) return 0;

    // Empty chunks keep every settled window at five frames or more against the stated 30/s.
    if (s.intervals5Frames >= kWindowUnits) {
        int n = int(kFramesPerWindow) - int(s.tmpFrames);
        s.intervals5Frames -= kWindowUnits;
        s.tmpFrames = 0;
        for (int i = 0; i < n; ++i) {
            if (!s.fits(8, 1)) {
                s.reachLimit();
                break;
            }
            const uint32_t at = s.fileSize;
            if (!s.appendChunk("00dc", nullptr, 0)) return 0;
            s.fileSize += 8;
            ++s.nframes;
            if (!s.appendIndexRow("00dc", 0, at + kHeaderBytes, 0)) return 0;
        }
    }

    if (sysTime.wSecond == s.prevSystemTimeSec) return 0;
    const uint32_t n = ++s.counterInSeconds;
    s.prevSystemTimeSec = sysTime.wSecond;
    s.subTitleEndSec = n;
    if (!s.appendSubtitle(n, sysTime, currChannel)) return 0;
    s.subTitleStartSec = s.subTitleEndSec;
    return 2 - int(n & 1);
}

void ANAVIFrameBuilder::audioDataWrappingForAVIConversion(const char *pcm, int length,
                                                          unsigned short /*numberOfChannels*/,
                                                          int audioFormat) {
    std::lock_guard<std::mutex> lock(d_->mu);
    Impl &s = *d_;
    if (!s.takingData() || length < 0 || (length > 0 && !pcm)) return;
    if (s.nframes == 0) return; // audio before the first stored video chunk is dropped

    const uint32_t len = static_cast<uint32_t>(length);
    const uint32_t pad = len & 1;
    const uint32_t p = s.fileSize;
    if (!s.fits(uint64_t(len) + 8 + pad, 1)) {
        s.reachLimit();
        return;
    }
    s.audioFrameTotalLen = len + 8 + pad;
    s.audioFmt = audioFormat;
    if (!s.appendChunk("01wb", pcm, len)) return;
    s.fileSize += s.audioFrameTotalLen;
    s.appendIndexRow("01wb", 0, p + kHeaderBytes, len);
}

std::vector<uint8_t> ANAVIFrameBuilder::Impl::buildHeader(bool withAudio, int fmtIdx) const {
    std::vector<uint8_t> h(kHeaderBytes, 0);
    uint8_t *b = h.data();
    const uint32_t w = static_cast<uint32_t>(width);
    const uint32_t ht = static_cast<uint32_t>(height);
    const uint64_t area = uint64_t(w) * ht;
    const uint32_t bufSize = area * 4 > 0xFFFFFFFFu ? 0xFFFFFFFFu : uint32_t(area * 4);
    const uint32_t imageSize = area * 3 > 0xFFFFFFFFu ? 0xFFFFFFFFu : uint32_t(area * 3);
    const char *fcc = VDO_FMT[fmtIdx];

    putCode(b + 0, "RIFF");
    writeLE32(b + 4, kHeaderBlockBytes + fileSize + 8 + 16 * indexRows);
    putCode(b + 8, "AVI ");
    putCode(b + 12, "LIST");
    writeLE32(b + 16, 2016);
    putCode(b + 20, "hdrl");
    putCode(b + 24, "avih");
    writeLE32(b + 28, 56);
    writeLE32(b + 32, 0); // microseconds per frame: left 0, the stream header carries the rate
    writeLE32(b + 44, 0x130);
    writeLE32(b + 48, nframes);
    writeLE32(b + 56, withAudio ? 2 : 1);
    writeLE32(b + 60, bufSize);
    writeLE32(b + 64, w);
    writeLE32(b + 68, ht);

    putCode(b + 88, "LIST");
    writeLE32(b + 92, 116);
    putCode(b + 96, "strl");
    putCode(b + 100, "strh");
    writeLE32(b + 104, 56);
    putCode(b + 108, "vids");
    putCode(b + 112, fcc);
    writeLE32(b + 128, 1);
    writeLE32(b + 132, 30);
    writeLE32(b + 140, nframes);
    writeLE32(b + 144, bufSize);
    writeLE32(b + 148, 10000);
    writeLE16(b + 160, static_cast<uint16_t>(w));
    writeLE16(b + 162, static_cast<uint16_t>(ht));
    putCode(b + 164, "strf");
    writeLE32(b + 168, 40);
    writeLE32(b + 172, 40);
    writeLE32(b + 176, w);
    writeLE32(b + 180, ht);
    writeLE16(b + 184, 1);
    writeLE16(b + 186, 24);
    putCode(b + 188, fcc);
    writeLE32(b + 192, imageSize);

    uint32_t junkAt = 212;
    if (withAudio) {
        AudioCommonInfo audioWavInfo;
        audioWavInfo.setAudioCommonInfoWithFormat(audioFmt);
        putCode(b + 212, "LIST");
        writeLE32(b + 216, 92);
        putCode(b + 220, "strl");
        putCode(b + 224, "strh");
        writeLE32(b + 228, 56);
        putCode(b + 232, "auds");
        writeLE32(b + 252, audioWavInfo.getAudioScaleValueForAVIHeader());
        writeLE32(b + 256, uint32_t(audioWavInfo.nAvgBytesPerSec()));
        writeLE32(b + 264, 1);
        writeLE32(b + 272, 0xFFFFFFFFu);
        writeLE32(b + 276, uint32_t(uint16_t(audioWavInfo.wBlockAlign())));
        putCode(b + 288, "strf");
        writeLE32(b + 292, 16);
        writeLE16(b + 296, uint16_t(audioWavInfo.wFormatTag()));
        writeLE16(b + 298, uint16_t(audioWavInfo.wChannels()));
        writeLE32(b + 300, uint32_t(audioWavInfo.nSamplesPerSec()));
        writeLE32(b + 304, uint32_t(audioWavInfo.nAvgBytesPerSec()));
        writeLE16(b + 308, uint16_t(audioWavInfo.wBlockAlign()));
        writeLE16(b + 310, uint16_t(audioWavInfo.wBitsPerSample()));
        junkAt = 312;
    }
    putCode(b + junkAt, "JUNK");
    writeLE32(b + junkAt + 4, 2036 - (junkAt + 8));

    putCode(b + 2036, "LIST");
    writeLE32(b + 2040, fileSize + 4);
    putCode(b + 2044, "movi");
    return h;
}

AviResult ANAVIFrameBuilder::Impl::finish(bool withAudio, int fmtIdx) {
    std::vector<uint8_t> header = buildHeader(withAudio, fmtIdx);
    player_log("width = %d, height = %d, nframes = %" PRIu32 ", VDO_FMT[vdoFmtIdx] = %s\n", width, height,
               nframes, VDO_FMT[fmtIdx]);

    const uint32_t indexBytes = 8 + 16 * indexRows;
    uint8_t sizeField[4];
    writeLE32(sizeField, indexBytes - 8);
    if (!fpAVIIndex.pwriteAll(sizeField, sizeof sizeField, 4))
        return fail("writing the index size"), AviResult::IoError;
    if (!fpAVI.pwriteAll(header.data(), header.size(), 0))
        return fail("writing the header"), AviResult::IoError;

    // The index goes behind the chunks, where the sequential writes left the file position.
    std::vector<uint8_t> block(kCopyBlock);
    for (uint32_t done = 0; done < indexBytes;) {
        size_t n = std::min<size_t>(kCopyBlock, indexBytes - done);
        if (!fpAVIIndex.preadAll(block.data(), n, done))
            return fail("reading the index back"), AviResult::IoError;
        if (!fpAVI.writeAll(block.data(), n)) return fail("appending the index"), AviResult::IoError;
        done += uint32_t(n);
    }
    if (!fpAVI.syncAndClose()) return fail("flushing the AVI file"), AviResult::IoError;
    if (!fpAVISubTitle.syncAndClose()) return fail("flushing the subtitle file"), AviResult::IoError;
    if (!renameNoReplace(tmpPath, filePath)) return placingFailed(filePath, "moving the AVI file into place");
    const size_t slash = filePath.rfind('/');
    fpAVI.renamedTo(slash == std::string::npos ? filePath : filePath.substr(slash + 1), filePath);
    // Without its subtitles the pair is incomplete: the AVI file just placed goes again with
    // the rest of this run's files.
    if (!renameNoReplace(subtitleTmpPath, subtitlePathOf(filePath)))
        return placingFailed(subtitlePathOf(filePath), "moving the subtitle file into place");
    fpAVI.release();
    fpAVISubTitle.release();
    fpAVIIndex.discard();
    return limitReached ? AviResult::SizeLimitReached : AviResult::Ok;
}

AviResult ANAVIFrameBuilder::stopRecording(bool withAudio) {
    std::lock_guard<std::mutex> lock(d_->mu);
    Impl &s = *d_;
    player_log("stopRecording:\n");
    if (s.state != Impl::State::Recording) return AviResult::NotRecording;
    s.state = Impl::State::Stopped;
    AviResult r = s.ioFailed ? AviResult::IoError : AviResult::NoVideo;
    // A file without a single video frame would only look like a result.
    if (!s.ioFailed && s.nframes != 0) r = s.finish(withAudio, vdoFmtIdx_.load());
    if (r != AviResult::Ok && r != AviResult::SizeLimitReached) {
        player_log("AVI: conversion to %s %s, its files are removed\n", s.filePath.c_str(), aviResultText(r));
        s.discardFiles();
    }
    s.closeFolder();
    s.leaveTarget();
    return r;
}
