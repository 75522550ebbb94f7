// What the player reads of a recorder file itself before an engine starts: the channel masks
// (AVC main header, DV5 file header), the DV5 recorder variant and the DV4 video codec.
//
// Pure functions, no Qt, callable from any thread; the path probe does blocking reads of at
// most recorderFileProbeLength() bytes of a regular file and never waits on anything else.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

// File kinds, numbered as checkTotalChannelsAndSetVideoViewCut takes them.
enum class RecorderFileKind { Unknown = -1, AVC = 0, DV4 = 1, DV5 = 2 };

// The kind a file name's extension (without the dot) names, compared without regard to case:
// "avc", "dv4", "dv5"; anything else is Unknown.
RecorderFileKind recorderFileKindFromExtension(std::string_view extension);

enum class RecorderProbeStatus {
    Read,          // the bytes were read (a short or empty file is still Read)
    CannotOpen,    // the file could not be opened or read: masks as for an empty file
    NotRegularFile // a folder, FIFO, device or socket: refused at once, nothing read
};

// DV engine codec numbers (setDvFmtVideoCodec) and AVI video format indexes (setVdoFmtIdx).
constexpr int kDvFmtVideoCodecH264 = 0;
constexpr int kDvFmtVideoCodecMpeg4 = 1;
constexpr int kDvFmtVideoCodecDV5 = 2;
constexpr int kVdoFmtIdxH264 = 0;
constexpr int kVdoFmtIdxMpeg4 = 1;

struct RecorderFileProbe {
    RecorderFileKind kind = RecorderFileKind::Unknown;
    RecorderProbeStatus status = RecorderProbeStatus::Read;

    // Channel masks, bit n set = channel n+1 present, as stored in the file. AVC and DV5: the
    // video mask is 1 when the header holds none or names none of the 16 channels; the AVC
    // audio mask is the 0x20 byte. DV4: both 0 (the file holds channel 1; the DV4 parser picks
    // the audio channel itself).
    uint32_t videoMask = 0;
    uint32_t audioMask = 0;

    // DV5: the header's minor_id text (at most 32 bytes, ends at its first zero byte; empty when
    // the header is too short to hold it) and whether it is exactly "700" (the DVR variant;
    // any other text is the NVR variant).
    std::string minorId;
    bool isDVRType700 = false;

    // DV4: the codec that the first start code in the first 1024 bytes names; with no start
    // code there, H.264 (dv4StartCodeFound false). For the other kinds these keep the H.264
    // values and are not used.
    bool dv4StartCodeFound = false;
    int dvFmtVideoCodec = kDvFmtVideoCodecH264;
    int vdoFmtIdx = kVdoFmtIdxH264;

    // The file could not be used at all and the caller shows "Unsupported format!" at once.
    bool refused() const {
        return status == RecorderProbeStatus::NotRegularFile || kind == RecorderFileKind::Unknown;
    }
};

// Whether the player refuses the file before any engine starts, for playback and conversion
// alike: not a recorder kind, not a regular file (a folder, FIFO, device or socket), or a file
// that cannot be opened or read (a dangling link, a link loop, no permission).
bool playerRefusesFile(const RecorderFileProbe &probe);

// How many bytes from the start of a file of `kind` the probe looks at (AVC: the longest main
// header that can reach the audio mask; DV5: the 1448-byte header; DV4: 1024).
size_t recorderFileProbeLength(RecorderFileKind kind);

// The probe over the first bytes of a file (`size` may be anything, 0 included). A header field
// that does not lie whole within the bytes is treated as absent. status is always Read.
RecorderFileProbe probeRecorderFileBytes(RecorderFileKind kind, const uint8_t *data, size_t size);

// The probe of the file at `path`: opened without blocking, refused unless it is a regular
// file, then its first recorderFileProbeLength(kind) bytes are read and probed as above.
// Unknown kinds are checked for a regular file but not read.
RecorderFileProbe probeRecorderFile(const std::string &path, RecorderFileKind kind);

// The DV4 sniff alone: over at most the first 1024 of `size` bytes, the first position holding
// 00 00 01 B2 (MPEG-4 Part 2) or 00 00 00 01 (H.264) with all four bytes inside decides.
// Fills dv4StartCodeFound, dvFmtVideoCodec and vdoFmtIdx of `probe`.
void getDV4FileVideoCodec(const uint8_t *data, size_t size, RecorderFileProbe &probe);
