// Short clips made by the installed ffmpeg, split into packets with libavformat, and ffmpeg's
// own decode of the same streams: the reference the decoder and engine tests compare against.
// Failures of the ffmpeg tool are reported to GoogleTest.
#pragma once

#include <cstdint>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "common/run_cmd.h"

namespace ffclips {

using Bytes = std::vector<uint8_t>;

struct Packet {
    Bytes data;
    bool key = false;
};

// ffmpeg input arguments: a file path, or arguments already (starting with '-').
std::string inputArgs(const std::string &input);

// Runs "ffmpeg -hide_banner -loglevel error -nostdin -y <args>"; fails the test on error.
bool ffmpeg(const std::string &args, std::string *out = nullptr);

// Encodes `frames` frames of testsrc2 (w x h, 25 fps, then extraFilters, e.g. ",format=...")
// with the encoder arguments into `path`.
bool makeClip(const std::string &path, int w, int h, int frames, const std::string &encoder,
              const std::string &extraFilters = "");

// The packets of a raw elementary stream file in stream order, with their key-frame marks.
std::vector<Packet> readPackets(const std::string &path);

// ffmpeg's decode of input after the filters, every frame kept, written as `output` (e.g. "-f framemd5 -").
std::string decode(const std::string &input, const std::string &filters, const std::string &output);

// ffmpeg's "-f framemd5" hashes of the decoded frames of input after the filters.
std::vector<std::string> frameMd5(const std::string &input, const std::string &filters);

// ffmpeg's decoded frames after the filters (and in pixFmt when given), raw, frameBytes each.
std::vector<Bytes> rawFrames(const std::string &input, const std::string &filters, size_t frameBytes,
                             const std::string &pixFmt = "");

// MD5 (lower-case hex) of a buffer.
std::string md5(const uint8_t *p, size_t n);

} // namespace ffclips
