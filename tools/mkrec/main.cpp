// mkrec: writes a DV4, DV5 or AVC test recording, its manifest and (AVC) the expected index.
#include <cstdio>
#include <string>
#include <sys/stat.h>

#include "mkrec.h"

using namespace mkrec;

namespace {

bool writeFile(const std::string &path, const std::vector<uint8_t> &b) {
    FILE *f = std::fopen(path.c_str(), "wb");
    if (!f) return false;
    bool ok = b.empty() || std::fwrite(b.data(), 1, b.size(), f) == b.size();
    ok = std::fclose(f) == 0 && ok;
    return ok;
}

const char *esExt(const ChannelStream &s) {
    if (s.video) return s.codec == VCodec::H264 ? "h264" : s.codec == VCodec::Mpeg4 ? "m4v" : "mjpeg";
    switch (s.format) {
    case AFormat::Ulaw:
        return "ulaw";
    case AFormat::Pcm8:
        return "u8";
    case AFormat::G723:
        return "g726";
    default:
        return "s16le";
    }
}

int fail(const std::string &msg) {
    std::fprintf(stderr, "mkrec: %s\n", msg.c_str());
    return 1;
}

} // namespace

int main(int argc, char **argv) {
    Options o;
    bool help = false;
    std::string err = parseOptions(argc, argv, o, help);
    if (help) {
        std::fputs(helpText(), stdout);
        return 0;
    }
    if (!err.empty()) return fail(err);

    const int frames = o.frames >= 0 ? o.frames : static_cast<int>(o.duration * o.fps + 0.5);
    std::vector<ChannelStream> streams;
    size_t vi = 0, ai = 0;
    for (int ch = 0; ch < 16; ++ch) {
        if (o.videoMask & (1u << ch)) {
            ChannelStream s;
            s.channel = ch;
            s.video = true;
            s.codec = o.codecs[vi++ % o.codecs.size()];
            streams.push_back(std::move(s));
        }
    }
    for (int ch = 0; ch < 16; ++ch) {
        if (o.audioMask & (1u << ch)) {
            AFormat f = o.audioFormats[ai++ % o.audioFormats.size()];
            if (f == AFormat::None) continue;
            ChannelStream s;
            s.channel = ch;
            s.video = false;
            s.format = f;
            s.toneHz = toneFrequency(ch);
            streams.push_back(std::move(s));
        }
    }

    err = encodeAll(o, frames, streams);
    if (!err.empty()) return fail(err);

    Layout L;
    err = buildLayout(o, frames, streams, L);
    if (!err.empty()) return fail(err);
    err = applyDamage(o, L);
    if (!err.empty()) return fail(err);

    if (!writeFile(o.out, L.bytes)) return fail("cannot write " + o.out);
    if (o.kind == Kind::Avc && !writeFile(o.out + ".expected-idx", L.expectedIdx))
        return fail("cannot write " + o.out + ".expected-idx");
    if (!o.esDir.empty()) {
        mkdir(o.esDir.c_str(), 0777);
        for (const ChannelStream &s : streams) {
            std::string p = o.esDir + "/" + (s.video ? "video" : "audio") + "-ch" +
                            std::to_string(s.channel) + "." + esExt(s);
            if (!writeFile(p, s.es)) return fail("cannot write " + p);
        }
    }
    err = writeManifest(o, L, streams, o.out + ".manifest");
    if (!err.empty()) return fail(err);
    return 0;
}
