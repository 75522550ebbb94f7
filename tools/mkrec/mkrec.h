// Shared types of the test-recording generator.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace mkrec {

enum class Kind { Dv4H264, Dv4Mpeg4, Dv5Nvr, Dv5Dvr700, Avc };
enum class VCodec { H264, Mpeg4, Mjpeg };
enum class AFormat { None, Ulaw, Pcm8, Pcm16, Pcm16b, G723 };
enum class Fields { None, Stacked, Split };

const char *kindName(Kind k);
const char *vcodecName(VCodec c);
const char *aformatName(AFormat f);

struct Damage {
    int unit = -1;      // unit index the damage applies to
    int64_t value = -1; // new field value (-1: the option's default)
};

struct Options {
    Kind kind = Kind::Avc;
    std::string out;
    int width = 176, height = 144, fps = 25;
    double duration = 2.0;
    int frames = -1; // overrides duration when >= 0
    int gop = 25;
    int keyStaggerMs = -1;          // >= 0: channel n's key-frame interval starts n * this later (see README)
    std::map<int, int> channelGops; // 1-based video channel: its own key-frame interval
    std::map<int, int> channelStops; // 1-based video channel: first video frame not written
    int64_t startUnix = 1704164645;  // 2024-01-02T03:04:05Z
    uint32_t videoMask = 1, audioMask = 1;
    std::vector<VCodec> codecs{VCodec::H264};
    std::vector<AFormat> audioFormats{AFormat::Ulaw};
    int audioSamples = 320;
    std::string preset = "ultrafast";
    int qp = -1;         // x264 constant quantiser; -1 = encoder default rate control
    int qscale = 4;      // mpeg4 / mjpeg quantiser
    int bitrateKbps = 0; // libx264 average bit rate; 0 = encoder default rate control
    bool noise = false;
    int grain = 0;   // per-frame grain amplitude in levels
    int threads = 0; // 0 = hardware concurrency
    Fields fields = Fields::None;
    std::vector<std::pair<int, double>> gaps; // from video frame index: shift in seconds
    std::string esDir;

    // AVC
    int version = 8;
    std::string prefix = "none"; // none | video | all
    int extendInfo = -1;         // version 9: extend-info bytes in video prefixes (-1 = flag off)
    int64_t mainFlags = -1;
    int64_t audioMaskWord = -1;                      // value of the 0x40 field (default: the audio mask)
    std::vector<std::pair<int, std::string>> titles; // 1-based channel, name
    int64_t vflags = -1, aflags = -1;
    int mpeg4Type = 1, mjpegType = 2;
    int64_t totalFrames = -1;
    int displayOffset = 0;
    int picStruct = -1;

    // DV5
    std::string minorId; // default: "700" for dv5-dvr700, "NVR" for dv5-nvr
    int dv5HeaderLen = 1448;
    int extLen = 0, extEvery = 0;
    std::string lead = "none"; // none | aud | sei
    int leadEvery = 1;

    // DV4
    int dv4AudioStartcode = -1; // type byte injected as 00 00 00 01 XX into audio payloads
    int dv4StartcodeEvery = 1;

    // damage
    int64_t truncate = -1;
    std::vector<Damage> oversize, zeroLength, badChannel, frameNumber;
    int flips = 0;
    uint64_t seed = 1;
    int64_t flipFrom = 0, flipTo = -1;
    bool endZero = false, empty = false;
};

// Returns an empty string on success, else the error text. Sets help=true for --help.
std::string parseOptions(int argc, char **argv, Options &o, bool &help);
const char *helpText();

// One encoded frame or audio packet of one channel, before it is put into a file.
struct Packet {
    std::vector<uint8_t> data;
    bool key = false;
    bool field = false; // two-field frame
    int frame = 0;      // video frame index / audio packet index
};

struct ChannelStream {
    int channel = 0; // 0-based
    bool video = true;
    VCodec codec = VCodec::H264;
    AFormat format = AFormat::None;
    int toneHz = 0;
    std::vector<Packet> packets;
    std::vector<uint8_t> es; // the encoder's own output, verbatim, for --es-dir
};

// A unit as laid into the file, for the manifest.
struct Unit {
    bool video = true;
    int channel = 0;
    bool key = false;
    int frame = 0;
    uint64_t offset = 0;    // first byte of the unit's header
    uint32_t headerLen = 0; // bytes before the payload (header, extension, ...)
    uint64_t payloadOff = 0;
    uint32_t payloadLen = 0;
    uint32_t prefixLen = 0; // in-band prefix bytes at the start of the payload (AVC)
    std::string md5, esMd5;
    int64_t tUs = 0;                    // unix time of the unit in microseconds
    uint64_t sec = 0, usec = 0, ms = 0; // values as stored
    std::vector<std::pair<std::string, std::string>> extra;
};

struct Layout {
    std::vector<uint8_t> bytes;
    std::vector<std::pair<std::string, std::string>> fileAttrs;
    std::vector<Unit> units;
    std::vector<uint8_t> expectedIdx; // AVC only
    std::vector<std::string> damageLines;
    // Field offsets inside each unit (relative to the unit start) for the damage options.
    struct Fieldpos {
        int64_t len = -1;
        int lenWidth = 4;
        int64_t channel = -1;
        int64_t number = -1;
    };
    std::vector<Fieldpos> fieldpos;
};

// synth
void drawPicture(int ch, double frameTime, int frameNo, int w, int h, bool noise, int grain, uint64_t seed,
                 uint8_t *y, uint8_t *u, uint8_t *v, int ys, int cs);
int toneFrequency(int ch);
void toneSamples(int ch, int64_t first, int count, int16_t *out);

// Channel ch's (0-based) key-frame interval: its --channel-gop, else --gop.
int channelGop(const Options &o, int ch);

// The frame, 0..N-1, from which channel ch's key frames repeat every N = channelGop frames
// under --key-stagger (0 without it).
int keyPhase(const Options &o, int ch);

// encode: fills the packets of every stream; returns "" or an error.
std::string encodeAll(const Options &o, int frames, std::vector<ChannelStream> &streams);

// fields: builds a second-field picture for split two-field frames.
std::string makeSecondField(const std::vector<uint8_t> &firstFieldAu, const std::vector<uint8_t> &spsPps,
                            int mbCount, std::vector<uint8_t> &out);

// layout
std::string buildLayout(const Options &o, int frames, const std::vector<ChannelStream> &streams, Layout &L);
std::string applyDamage(const Options &o, Layout &L);

// manifest
std::string md5Hex(const uint8_t *p, size_t n);
std::string writeManifest(const Options &o, const Layout &L, const std::vector<ChannelStream> &streams,
                          const std::string &path);

} // namespace mkrec
