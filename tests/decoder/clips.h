#pragma once
// Test fixtures for the decoder: short clips made by the installed ffmpeg in a temporary
// folder, split into frames with libavformat, and ffmpeg's own per-frame MD5s as reference.

#include <cstdint>
#include <string>
#include <vector>

#include "common/ffmpeg_clips.h"
#include "decoder/decoder.h"
#include "platform/log.h"

namespace cliptest {

using Bytes = std::vector<uint8_t>;

// A temporary folder removed with everything in it at destruction.
class TempDir : public testutil::TempDir {
  public:
    std::string path(const std::string &name) const { return file(name); }
};

// Runs a shell command; returns its exit status and fills out with its standard output.
int run(const std::string &cmd, std::string *out = nullptr);

// Runs "ffmpeg -hide_banner -loglevel error -nostdin -y <args>"; fails the test on error.
using ffclips::ffmpeg;

// Encodes `frames` frames of testsrc2 (w x h, 25 fps) with the given encoder arguments
// (e.g. "-c:v libx264 ...") into the raw elementary stream file path.
bool makeClip(const std::string &path, int w, int h, int frames, const std::string &encoder,
              const std::string &extraFilters = "");

// The frames (packets) of a raw elementary stream file, in stream order.
std::vector<Bytes> readFrames(const std::string &path);

// ffmpeg's "-f framemd5" hashes of the decoded frames of input after filters, one per frame.
// input is a file path, or ffmpeg input arguments when it starts with '-'.
using ffclips::frameMd5;

// ffmpeg's decoded frames of input after filters, as raw bytes of pixFmt, one per frame.
std::vector<Bytes> rawFrames(const std::string &input, const std::string &filters, const std::string &pixFmt,
                             size_t frameBytes);

// MD5 (lower-case hex) of a buffer.
using ffclips::md5;
inline std::string md5(const Bytes &b) {
    return md5(b.data(), b.size());
}

// The source picture of the last decode packed without padding (as ffmpeg's rawvideo packs it).
Bytes lastSourcePacked(const _Decoder *dec);

// Reads a whole file.
Bytes readFile(const std::string &path);
bool writeFile(const std::string &path, const Bytes &data);

// Collects the diagnostics lines written while it lives.
class LogCapture {
  public:
    LogCapture() {
        previous_ = player_log_set_sink([this](const std::string &line) { lines.push_back(line); });
    }
    ~LogCapture() { player_log_set_sink(previous_); }
    std::vector<std::string> lines;

  private:
    PlayerLogSink previous_;
};

// One decoded picture: result code and the bytes written.
struct Picture {
    int result = 0;
    int streamW = 0, streamH = 0, outW = 0, outH = 0;
    Bytes pixels;
};

// Decodes one frame into a buffer of exactly `capacity` bytes (or the output size when 0).
Picture decode(_Decoder *dec, const Bytes &frame, int flags, int targetW = 0, int targetH = 0,
               size_t capacity = 1920 * 1080 * 4);

} // namespace cliptest
