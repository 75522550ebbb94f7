// Frame records that the DV parsers fill and hand to the DV engine's playback threads.
//
// Each record starts with a copy of (part of) its unit header, followed by the payload. The
// playback side reads the fields at fixed byte offsets of the record, given in the layouts
// below; multi-byte fields are little-endian u32 (the engine runs on little-endian hosts only).
// A record is valid only while the playback thread that received it works on it.
#pragma once

#include <cstddef>
#include <cstdint>

static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "DV frame records are read as little-endian");

// Room for the payload of one record.
constexpr uint32_t kDVVideoPayloadRoom = 2048000;
constexpr uint32_t kDVAudioPayloadRoom = 4096;

// DV4, H.264 video: the 20 header bytes (field flag at 8, seconds at 12, microseconds at 16),
// the payload length, the payload.
struct DV4VideoStreamH264 {
    uint8_t header[20];
    uint32_t len;
    uint8_t data[kDVVideoPayloadRoom];
};

// DV4, MPEG-4 Part 2 video: seconds, microseconds (header bytes 6 to 13), length, payload.
struct DV4VideoStreamMPEG4 {
    uint32_t seconds;
    uint32_t microseconds;
    uint32_t len;
    uint8_t data[kDVVideoPayloadRoom];
};

// DV4, H.264 file, audio: the 20 header bytes whose bytes 8 to 11 hold the payload length
// when the record is handed off, then the payload.
struct DV4AudioStreamH264 {
    uint8_t header[20];
    uint8_t data[kDVAudioPayloadRoom];
};

// DV4, MPEG-4 file, audio: header bytes 6 to 17, the payload length, the payload.
struct DV4AudioStreamMPEG4 {
    uint8_t header[12];
    uint32_t len;
    uint8_t data[kDVAudioPayloadRoom];
};

// DV5 NVR video: the 41 header bytes (field flag at 8, date seconds at 12, time stamp seconds
// at 20 and microseconds at 24, payload length at 32, channel at 40), the payload.
struct DV5VideoStreamH264 {
    uint8_t header[41];
    uint8_t streamBuf[kDVVideoPayloadRoom];
};

// DV5 DVR "700" video: the 29 header bytes (field flag at 8, seconds at 12, microseconds at
// 16, payload length at 20, channel at 28), the payload.
struct DV5DVRVideoStreamH264 {
    uint8_t header[29];
    uint8_t streamBuf[kDVVideoPayloadRoom];
};

// DV5 NVR audio: the 43 header bytes (payload length at 8, channel at 42), the payload.
struct DV5AudioStreamH264 {
    uint8_t header[43];
    uint8_t data[kDVAudioPayloadRoom];
};

// DV5 DVR "700" audio: the 21 header bytes (payload length at 8, channel at 20), the payload.
struct DV5DVRAudioStreamH264 {
    uint8_t header[21];
    uint8_t data[kDVAudioPayloadRoom];
};

static_assert(offsetof(DV4VideoStreamH264, len) == 20 && offsetof(DV4VideoStreamH264, data) == 24, "layout");
static_assert(offsetof(DV4VideoStreamMPEG4, len) == 8 && offsetof(DV4VideoStreamMPEG4, data) == 12, "layout");
static_assert(offsetof(DV4AudioStreamH264, data) == 20, "layout");
static_assert(offsetof(DV4AudioStreamMPEG4, len) == 12 && offsetof(DV4AudioStreamMPEG4, data) == 16,
              "layout");
static_assert(offsetof(DV5VideoStreamH264, streamBuf) == 41, "layout");
static_assert(offsetof(DV5DVRVideoStreamH264, streamBuf) == 29, "layout");
static_assert(offsetof(DV5AudioStreamH264, data) == 43, "layout");
static_assert(offsetof(DV5DVRAudioStreamH264, data) == 21, "layout");

// Which playback routine a record goes to; each reads its own record kind above.
enum class DVVideoSelector {
    DV4H264,  // DV4VideoStreamH264
    DV4MPEG4, // DV4VideoStreamMPEG4
    DV5NVR,   // DV5VideoStreamH264
    DV5DVR,   // DV5DVRVideoStreamH264
};
enum class DVAudioSelector {
    DV4H264,  // DV4AudioStreamH264
    DV4MPEG4, // DV4AudioStreamMPEG4
    DV5NVR,   // DV5AudioStreamH264
    DV5DVR,   // DV5DVRAudioStreamH264
};

// Where each video / audio record kind keeps its fields (byte offsets into the record;
// -1 = not present).
struct DVVideoRecordLayout {
    int channel; // -1: always channel 0
    int payload;
    int length;
    int stampSeconds;
    int stampMicroseconds;
    int dateSeconds;
    int fieldFlag;   // -1: no field flag (and the deinterlace button is left alone)
    bool targetSize; // decode to the application's target size
};
struct DVAudioRecordLayout {
    int channel; // -1: always channel 0
    int payload;
    int length;
};

const DVVideoRecordLayout &dvVideoRecordLayout(DVVideoSelector selector);
const DVAudioRecordLayout &dvAudioRecordLayout(DVAudioSelector selector);

// The channel a record belongs to, as stored (may be above 15 for a damaged file).
int dvVideoRecordChannel(DVVideoSelector selector, const void *record);
int dvAudioRecordChannel(DVAudioSelector selector, const void *record);
// Little-endian u32 at a byte offset of a record.
uint32_t dvRecordU32(const void *record, int offset);
// A video record's time stamp in microseconds (the pacing clock).
uint64_t dvVideoRecordStampUs(const DVVideoRecordLayout &layout, const void *record);
