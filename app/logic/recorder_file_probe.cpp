#include "app/logic/recorder_file_probe.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

// DV5 file header.
constexpr size_t kDv5MinorIdOffset = 36;
constexpr size_t kDv5MinorIdSize = 32;
constexpr size_t kDv5VideoMaskOffset = 416;
constexpr size_t kDv5AudioMaskOffset = 420;
constexpr size_t kDv5HeaderLength = 424 + 1024;

// AVC main header: the flags word, then the optional fields from offset 80 in flag order.
constexpr size_t kAvcMainFlagsOffset = 76;
constexpr size_t kAvcOptionalFieldsOffset = 80;
constexpr uint32_t kAvcFlagReserved8 = 0x2;
constexpr uint32_t kAvcFlagVideoMask = 0x4;
constexpr uint32_t kAvcFlagTitle = 0x8;
constexpr uint32_t kAvcFlagReserved4 = 0x10;
constexpr uint32_t kAvcFlagAudioMask = 0x20;
// The furthest the walk can reach: the audio byte behind the longest title.
constexpr size_t kAvcProbeLength = kAvcOptionalFieldsOffset + 8 + 4 + 2 + 0xFFFF + 4 + 1;

constexpr size_t kDv4SniffLength = 1024;

// A header that names none of the 16 video channels would lay out no pane while the file's
// pictures play on unseen: such a file shows channel 1.
void showChannel1WithoutVideoMask(RecorderFileProbe &probe) {
    if ((probe.videoMask & 0xFFFF) == 0) probe.videoMask = 1;
}

// A little-endian field of `width` bytes at `offset`, or false when it does not lie whole
// within the bytes (a short file has no such field).
bool readLE(const uint8_t *data, size_t size, size_t offset, size_t width, uint32_t &value) {
    if (offset > size || width > size - offset) return false;
    value = 0;
    for (size_t i = 0; i < width; ++i)
        value |= static_cast<uint32_t>(data[offset + i]) << (8 * i);
    return true;
}

void probeDv5(const uint8_t *data, size_t size, RecorderFileProbe &probe) {
    if (kDv5MinorIdOffset + kDv5MinorIdSize <= size) {
        const char *text = reinterpret_cast<const char *>(data + kDv5MinorIdOffset);
        probe.minorId.assign(text, strnlen(text, kDv5MinorIdSize));
        probe.isDVRType700 = probe.minorId == "700";
    }
    uint32_t mask = 0;
    if (readLE(data, size, kDv5VideoMaskOffset, 4, mask)) probe.videoMask = mask;
    if (readLE(data, size, kDv5AudioMaskOffset, 4, mask)) probe.audioMask = mask;
    showChannel1WithoutVideoMask(probe);
}

void probeAvc(const uint8_t *data, size_t size, RecorderFileProbe &probe) {
    uint32_t flags = 0;
    if (readLE(data, size, kAvcMainFlagsOffset, 4, flags)) {
        size_t pos = kAvcOptionalFieldsOffset;
        uint32_t value = 0;
        if (flags & kAvcFlagReserved8) pos += 8;
        if (flags & kAvcFlagVideoMask) {
            if (readLE(data, size, pos, 4, value)) probe.videoMask = value;
            pos += 4;
        }
        // Without its length the title's end, and so every field behind it, is unknown.
        bool located = true;
        if (flags & kAvcFlagTitle) {
            if (readLE(data, size, pos, 2, value))
                pos += 2 + value;
            else
                located = false;
        }
        if (flags & kAvcFlagReserved4) pos += 4;
        // The field is one byte; only that byte is the mask.
        if (located && (flags & kAvcFlagAudioMask) && readLE(data, size, pos, 1, value))
            probe.audioMask = value;
    }
    showChannel1WithoutVideoMask(probe);
}

} // namespace

RecorderFileKind recorderFileKindFromExtension(std::string_view extension) {
    if (extension.size() != 3) return RecorderFileKind::Unknown;
    char lower[3];
    for (size_t i = 0; i < 3; ++i) {
        const char c = extension[i];
        lower[i] = (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
    }
    const std::string_view ext(lower, 3);
    if (ext == "avc") return RecorderFileKind::AVC;
    if (ext == "dv4") return RecorderFileKind::DV4;
    if (ext == "dv5") return RecorderFileKind::DV5;
    return RecorderFileKind::Unknown;
}

bool playerRefusesFile(const RecorderFileProbe &probe) {
    return probe.refused() || probe.status != RecorderProbeStatus::Read;
}

size_t recorderFileProbeLength(RecorderFileKind kind) {
    switch (kind) {
    case RecorderFileKind::AVC:
        return kAvcProbeLength;
    case RecorderFileKind::DV4:
        return kDv4SniffLength;
    case RecorderFileKind::DV5:
        return kDv5HeaderLength;
    case RecorderFileKind::Unknown:
        break;
    }
    return 0;
}

void getDV4FileVideoCodec(const uint8_t *data, size_t size, RecorderFileProbe &probe) {
    probe.dv4StartCodeFound = false;
    probe.dvFmtVideoCodec = kDvFmtVideoCodecH264;
    probe.vdoFmtIdx = kVdoFmtIdxH264;
    const size_t n = std::min(size, kDv4SniffLength);
    for (size_t i = 0; i + 4 <= n; ++i) {
        if (data[i] != 0 || data[i + 1] != 0) continue;
        if (data[i + 2] == 0x01 && data[i + 3] == 0xB2) {
            probe.dv4StartCodeFound = true;
            probe.dvFmtVideoCodec = kDvFmtVideoCodecMpeg4;
            probe.vdoFmtIdx = kVdoFmtIdxMpeg4;
            return;
        }
        if (data[i + 2] == 0x00 && data[i + 3] == 0x01) {
            probe.dv4StartCodeFound = true;
            return;
        }
    }
}

RecorderFileProbe probeRecorderFileBytes(RecorderFileKind kind, const uint8_t *data, size_t size) {
    RecorderFileProbe probe;
    probe.kind = kind;
    if (!data) size = 0;
    switch (kind) {
    case RecorderFileKind::AVC:
        probeAvc(data, size, probe);
        break;
    case RecorderFileKind::DV5:
        probeDv5(data, size, probe);
        break;
    case RecorderFileKind::DV4:
        getDV4FileVideoCodec(data, size, probe);
        break;
    case RecorderFileKind::Unknown:
        break;
    }
    return probe;
}

RecorderFileProbe probeRecorderFile(const std::string &path, RecorderFileKind kind) {
    // O_NONBLOCK: opening a FIFO without a writer, or a device, must not wait; the type check
    // below refuses them before any read.
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        RecorderFileProbe probe = probeRecorderFileBytes(kind, nullptr, 0);
        // Nothing could be read: no video mask either.
        probe.videoMask = 0;
        probe.status = RecorderProbeStatus::CannotOpen;
        return probe;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        RecorderFileProbe probe;
        probe.kind = kind;
        probe.status = RecorderProbeStatus::NotRegularFile;
        return probe;
    }
    std::vector<uint8_t> bytes(recorderFileProbeLength(kind));
    size_t got = 0;
    bool failed = false;
    while (got < bytes.size()) {
        const ssize_t r = ::pread(fd, bytes.data() + got, bytes.size() - got, static_cast<off_t>(got));
        if (r > 0) {
            got += static_cast<size_t>(r);
        } else if (r == 0) {
            break;
        } else if (errno != EINTR) {
            failed = true;
            break;
        }
    }
    ::close(fd);
    RecorderFileProbe probe = probeRecorderFileBytes(kind, bytes.data(), got);
    if (failed && got == 0) {
        probe.videoMask = 0;
        probe.status = RecorderProbeStatus::CannotOpen;
    }
    return probe;
}
