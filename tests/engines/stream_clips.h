// Short compressed clips made by the installed ffmpeg for engine tests, split into frames with
// libavformat, and ffmpeg's own decode of the same streams as reference.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "common/ffmpeg_clips.h"
#include "engines/dv_records.h"

namespace enginetest {

using Bytes = std::vector<uint8_t>;

struct Frame {
    Bytes data;
    bool key = false;
};

// Encodes `frames` frames of testsrc2 (w x h, 25 fps) with the encoder arguments into `path`.
bool makeClip(const std::string &path, int w, int h, int frames, const std::string &encoder);
// The frames of a raw elementary stream file in stream order, with their key-frame marks.
std::vector<Frame> readFrames(const std::string &path);
// ffmpeg's "-f framemd5" hashes of the decoded frames of input after the filters.
using ffclips::frameMd5;
// ffmpeg's decoded frames after the filters, raw, frameBytes each.
std::vector<Bytes> rawFrames(const std::string &input, const std::string &filters, size_t frameBytes);
using ffclips::md5;

// H.264, one access unit per frame, a key frame every `gop` frames.
std::string x264Args(int gop);
// MPEG-4 Part 2, bit-exact.
std::string mpeg4Args(int gop);
// The picture filter that gives what the engines deliver: RGBA by the fast bilinear method.
extern const char *const kRgbaFilter;

// Frame records as the DV parsers fill them. Times are recorder seconds and microseconds.
std::unique_ptr<DV4VideoStreamH264> dv4H264Record(const Bytes &payload, uint32_t seconds, uint32_t micro,
                                                  uint8_t fieldFlag = 0);
std::unique_ptr<DV4VideoStreamMPEG4> dv4Mpeg4Record(const Bytes &payload, uint32_t seconds, uint32_t micro);
std::unique_ptr<DV5VideoStreamH264> dv5NvrRecord(const Bytes &payload, uint8_t channel, uint32_t dateSeconds,
                                                 uint32_t seconds, uint32_t micro, uint8_t fieldFlag = 0);
std::unique_ptr<DV5DVRVideoStreamH264> dv5DvrRecord(const Bytes &payload, uint8_t channel, uint32_t seconds,
                                                    uint32_t micro, uint8_t fieldFlag = 0);

} // namespace enginetest
