#include "clips.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>

#include <gtest/gtest.h>

extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/imgutils.h>
#include <libavutil/md5.h>
}

#include "decoder/decoder_internal.h"

namespace cliptest {

int run(const std::string &cmd, std::string *out) {
    if (out) out->clear();
    return testutil::runCommand(cmd, out);
}

bool makeClip(const std::string &path, int w, int h, int frames, const std::string &encoder,
              const std::string &extraFilters) {
    return ffclips::makeClip(path, w, h, frames, encoder, extraFilters);
}

std::vector<Bytes> readFrames(const std::string &path) {
    std::vector<Bytes> frames;
    for (ffclips::Packet &p : ffclips::readPackets(path))
        frames.push_back(std::move(p.data));
    return frames;
}

std::vector<Bytes> rawFrames(const std::string &input, const std::string &filters, const std::string &pixFmt,
                             size_t frameBytes) {
    return ffclips::rawFrames(input, filters, frameBytes, pixFmt);
}

Bytes lastSourcePacked(const _Decoder *dec) {
    decoder_internal::SourceView v;
    if (!decoder_internal::lastSource(dec, &v)) return {};
    const AVPixelFormat fmt = static_cast<AVPixelFormat>(v.format);
    const int size = av_image_get_buffer_size(fmt, v.width, v.height, 1);
    if (size <= 0) return {};
    Bytes b(size);
    av_image_copy_to_buffer(b.data(), size, v.data, v.linesize, fmt, v.width, v.height, 1);
    return b;
}

Bytes readFile(const std::string &path) {
    std::ifstream f(path, std::ios::binary);
    return Bytes((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
}

bool writeFile(const std::string &path, const Bytes &data) {
    std::ofstream f(path, std::ios::binary);
    f.write(reinterpret_cast<const char *>(data.data()), static_cast<std::streamsize>(data.size()));
    return static_cast<bool>(f);
}

Picture decode(_Decoder *dec, const Bytes &frame, int flags, int targetW, int targetH, size_t capacity) {
    Picture p;
    Bytes buf(capacity);
    p.result = Decoder_Decode(dec, frame.data(), static_cast<int>(frame.size()), targetW, targetH, flags,
                              &p.streamW, &p.streamH, buf.data(), buf.size(), &p.outW, &p.outH);
    if (p.result == 1) {
        buf.resize(static_cast<size_t>(p.outW) * p.outH * dec->bytesPerPixel);
        p.pixels = std::move(buf);
    }
    return p;
}

} // namespace cliptest
