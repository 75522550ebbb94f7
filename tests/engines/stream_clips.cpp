#include "stream_clips.h"

#include <cstring>
#include <sstream>

#include <gtest/gtest.h>

#include "common/ffmpeg_clips.h"

namespace enginetest {

const char *const kRgbaFilter = "scale=w=iw:h=ih:flags=fast_bilinear,format=rgba";

std::string x264Args(int gop) {
    return "-c:v libx264 -preset ultrafast -pix_fmt yuv420p -bf 0 -g " + std::to_string(gop) +
           " -keyint_min " + std::to_string(gop) + " -sc_threshold 0 -f h264";
}

std::string mpeg4Args(int gop) {
    return "-c:v mpeg4 -flags +bitexact -qscale:v 4 -pix_fmt yuv420p -bf 0 -g " + std::to_string(gop) +
           " -f m4v";
}

bool makeClip(const std::string &path, int w, int h, int frames, const std::string &encoder) {
    return ffclips::makeClip(path, w, h, frames, encoder);
}

std::vector<Frame> readFrames(const std::string &path) {
    std::vector<Frame> frames;
    for (ffclips::Packet &p : ffclips::readPackets(path))
        frames.push_back({std::move(p.data), p.key});
    return frames;
}

std::vector<Bytes> rawFrames(const std::string &input, const std::string &filters, size_t frameBytes) {
    return ffclips::rawFrames(input, filters, frameBytes);
}

static void putU32(uint8_t *at, uint32_t v) {
    for (int i = 0; i < 4; ++i)
        at[i] = static_cast<uint8_t>(v >> (8 * i));
}

std::unique_ptr<DV4VideoStreamH264> dv4H264Record(const Bytes &payload, uint32_t seconds, uint32_t micro,
                                                  uint8_t fieldFlag) {
    auto r = std::make_unique<DV4VideoStreamH264>();
    static const uint8_t start[5] = {0, 0, 0, 1, 0x1F};
    std::memcpy(r->header, start, 5);
    r->header[8] = fieldFlag;
    putU32(r->header + 12, seconds);
    putU32(r->header + 16, micro);
    r->len = static_cast<uint32_t>(payload.size());
    std::memcpy(r->data, payload.data(), payload.size());
    return r;
}

std::unique_ptr<DV4VideoStreamMPEG4> dv4Mpeg4Record(const Bytes &payload, uint32_t seconds, uint32_t micro) {
    auto r = std::make_unique<DV4VideoStreamMPEG4>();
    r->seconds = seconds;
    r->microseconds = micro;
    r->len = static_cast<uint32_t>(payload.size());
    std::memcpy(r->data, payload.data(), payload.size());
    return r;
}

std::unique_ptr<DV5VideoStreamH264> dv5NvrRecord(const Bytes &payload, uint8_t channel, uint32_t dateSeconds,
                                                 uint32_t seconds, uint32_t micro, uint8_t fieldFlag) {
    auto r = std::make_unique<DV5VideoStreamH264>();
    static const uint8_t start[5] = {0, 0, 0, 1, 0x1F};
    std::memcpy(r->header, start, 5);
    r->header[8] = fieldFlag;
    putU32(r->header + 12, dateSeconds);
    putU32(r->header + 20, seconds);
    putU32(r->header + 24, micro);
    putU32(r->header + 32, static_cast<uint32_t>(payload.size()));
    r->header[40] = channel;
    std::memcpy(r->streamBuf, payload.data(), payload.size());
    return r;
}

std::unique_ptr<DV5DVRVideoStreamH264> dv5DvrRecord(const Bytes &payload, uint8_t channel, uint32_t seconds,
                                                    uint32_t micro, uint8_t fieldFlag) {
    auto r = std::make_unique<DV5DVRVideoStreamH264>();
    static const uint8_t start[5] = {0, 0, 0, 1, 0x1F};
    std::memcpy(r->header, start, 5);
    r->header[8] = fieldFlag;
    putU32(r->header + 12, seconds);
    putU32(r->header + 16, micro);
    putU32(r->header + 20, static_cast<uint32_t>(payload.size()));
    r->header[28] = channel;
    std::memcpy(r->streamBuf, payload.data(), payload.size());
    return r;
}

} // namespace enginetest
