// Command line of mkrec.
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "mkrec.h"

namespace mkrec {

const char *kindName(Kind k) {
    switch (k) {
    case Kind::Dv4H264:
        return "dv4-h264";
    case Kind::Dv4Mpeg4:
        return "dv4-mpeg4";
    case Kind::Dv5Nvr:
        return "dv5-nvr";
    case Kind::Dv5Dvr700:
        return "dv5-dvr700";
    case Kind::Avc:
        return "avc";
    }
    return "?";
}
const char *vcodecName(VCodec c) {
    return c == VCodec::H264 ? "h264" : c == VCodec::Mpeg4 ? "mpeg4" : "mjpeg";
}
const char *aformatName(AFormat f) {
    switch (f) {
    case AFormat::Ulaw:
        return "ulaw";
    case AFormat::Pcm8:
        return "pcm8";
    case AFormat::Pcm16:
        return "pcm16";
    case AFormat::Pcm16b:
        return "pcm16b";
    case AFormat::G723:
        return "g723";
    default:
        return "none";
    }
}

const char *helpText() {
    return R"(usage: mkrec --kind KIND --out FILE [options]

Writes a test recording FILE from synthetic pictures (channel number and frame counter
drawn in) and tones, encoded with FFmpeg's encoders, plus FILE.manifest (every unit's
offset, channel, kind, key flag, time stamps, payload length and MD5; format below) and,
for AVC, FILE.expected-idx (the 36-byte index records a reader should build).
The same options always give the same bytes.

General
  --kind KIND           dv4-h264 | dv4-mpeg4 | dv5-nvr | dv5-dvr700 | avc
  --out FILE            output file
  --size WxH            picture size (default 176x144; even; a multiple of 4 with --fields)
  --fps N               frames per second, 1..60 (default 25)
  --duration SEC        length in seconds (default 2)
  --frames N            video frames per channel (overrides --duration)
  --gop N               key frame every N frames (default 25)
  --key-stagger MS      the channels' encoders started MS milliseconds apart: video channel n
                        (0-based channel number) has a key frame at its first frame and at
                        every frame f >= 1 with (f - s) % gop == 0, s = round(n * MS * fps /
                        1000) % gop; all key frames are forced, the encoder adds none (Motion
                        JPEG frames are all key frames anyway)
  --channel-gop CH:N    video channel CH (1-based) gets a key frame every N frames instead of
                        --gop; with --key-stagger its phase is s % N instead of s % gop;
                        may be repeated
  --channel-stop CH:F   video channel CH (1-based) writes no video units from its frame F on
                        (its audio and every other channel go on); may be repeated
  --start TIME          first time stamp, UTC, YYYY-MM-DDTHH:MM:SS (default 2024-01-02T03:04:05)
  --video-mask M        video channels, bit n = channel n+1 (default 0x1; DV4 has channel 1 only)
  --audio-mask M        audio channels, bit n = channel n+1 (default 0x1; 0 = no audio)
  --codec LIST          video codecs h264|mpeg4|mjpeg, comma-separated, taken in turn by the
                        video channels in increasing order (AVC; DV files fix the codec)
  --audio LIST          audio formats ulaw|pcm8|pcm16|pcm16b|g723|none, taken in turn by the
                        audio channels (default ulaw); pcm16b is the second 16-bit PCM kind,
                        g723 is 24 kbit/s ADPCM, 3-bit codes packed least significant bit
                        first, each packet encoded from a fresh encoder state
  --audio-samples N     samples per audio packet, 8000 Hz mono (default 320 = 40 ms)
  --preset NAME         libx264 preset (default ultrafast)
  --qp N                libx264 constant quantiser (default: libx264 rate control)
  --bitrate KBPS        libx264 average bit rate in kbit/s, with a one-second buffer, as
                        recorders encode (default: libx264 rate control)
  --grain N             per-frame sensor-like grain of +-N levels over the picture (0..31,
                        default 0), so that a bit rate is actually spent
  --qscale N            mpeg4 and mjpeg quantiser (default 4)
  --noise               per-frame noise over the picture: large frames, for long GOPs
  --fields MODE         none | stacked: each picture holds its two fields one above the other
                        and is marked field-coded | split: H.264 only, each frame is the first
                        field then the second, a non-reference picture starting 00 00 00 01 01
  --gap F:SEC           from video frame F on, all time stamps move by SEC seconds (negative:
                        backwards); may be repeated
  --threads N           encoder threads, one channel each (default: all cores); output does
                        not depend on it
  --es-dir DIR          also write each channel's stream as the encoder gave it:
                        DIR/video-chN.{h264,m4v,mjpeg}, DIR/audio-chN.{ulaw,u8,s16le,g726}
  --help                this text

AVC files
  --version N           main-header version byte (default 8; 9 selects the long prefixes)
  --prefix MODE         in-band recorder prefix: none | video (00 00 00 01 1F 0F before video
                        payloads) | all (also 00 00 00 01 1E 0F before audio payloads);
                        20 bytes, or with version 9: video 44, audio 42 (default none)
  --extend-info N       version 9: set the extend-info flag, N bytes of extend info
  --main-flags HEX      main-header flags (default 0x4, | 0x20 with audio, | 0x8 with titles)
  --audio-mask-word HEX value of the 0x40 audio-mask word (default the audio mask)
  --title N=TEXT        title of channel N (1-based); repeatable. The header then holds one
                        "CHn.Title=NAME\n" line per channel from 1 to the highest video (or
                        titled) channel, in order, NAME empty where no title is given
  --vflags HEX          frame-header flags of video records (default 0x31bf)
  --aflags HEX          frame-header flags of audio records (default 0x1b3)
  --mpeg4-type N        stream type of MPEG-4 channels, 1 or 4 (default 1)
  --mjpeg-type N        stream type of Motion JPEG channels, 2 or 5 (default 2)
  --total-frames N      value of the total-frames field (default: the record count)
  --display-offset SEC  display time = frame time + SEC (also the DV5 NVR shown time)
  --pic-struct B        picture-structure byte of video records (default 1 with --fields,
                        else 0)

DV5 files
  --minor-id TEXT       header minor_id (default "700" for dv5-dvr700, "NVR" for dv5-nvr)
  --header-len N        file header length (default 1448)
  --ext-len N           extension block length for --ext-every (default 0)
  --ext-every K         every K-th video unit of a channel (from its first) has an extension
                        block of --ext-len bytes (default 0: none)
  --lead aud|sei        the payload of every --lead-every K-th video unit of a channel (from
                        its first; default K=1) begins with an access-unit delimiter or SEI

DV4 files
  --dv4-audio-startcode XX  (dv4-h264) insert 00 00 00 01 XX into the middle of every
                        --startcode-every K-th audio payload (default K=1)

Damage (applied after the layout; the manifest keeps the clean values and lists each change
as a "damage" line)
  --truncate N          cut the file to N bytes
  --oversize U[:V]      length field of unit U set to V (default 0x7fffffff)  (AVC, DV5)
  --zero-length U       length field of unit U set to 0                        (AVC, DV5)
  --bad-channel U[:V]   channel byte of unit U set to V (default: DV5 16, AVC 17) (AVC, DV5)
  --frame-number U:V    frame-number field of AVC record U set to V
  --flip N              XOR N random bytes with random non-zero values
  --seed S              seed of --flip (default 1)
  --flip-range A:B      --flip only inside bytes [A, B)
  --end-zero            append one zero byte
  --empty               write an empty file
Damage options may be repeated; U is a unit index of the manifest (from 0).

Manifest (FILE.manifest), plain text, one record per line, fields "key=value" separated by
single spaces, values never hold spaces (title text escapes space, '%', '=' as %XX):
  mkrec-manifest 1
  file kind= bytes= units= video_units= audio_units= width= height= fps= gop= start_unix=
       video_mask= audio_mask= audio_samples= fields= [key_stagger_ms=]
       [channel_gop=CH:N,...] [channel_stop=CH:F,...] header_len=
       [AVC: version= main_flags=
       total_frames= title_len= audio_mask_word= prefix= extend_info= vflags= aflags=]
       [DV5: minor_id=]
  video ch= codec= frames= [title=]                     one per video channel (ch 0-based;
                                                        frames = units written)
  audio ch= format= tone_hz= packets=                   one per audio channel
  unit i= type=video|audio ch= key=0|1 frame= off= hdr_len= payload_off= len= prefix=
       es_off= es_len= md5= es_md5= t_us= sec= usec= ms= [extras]
                                                        one per unit, in file order
  damage kind= [unit=] at= [old= new=]                  one per change
Unit fields: off = first header byte; hdr_len = bytes before the payload (header, DV5
extension block); len = payload bytes as stored; es_* = the payload without an AVC in-band
prefix; md5/es_md5 = MD5 of those bytes; frame = video frame or audio packet index of the
channel; t_us = unix time in microseconds; sec/usec = stored seconds (AVC: since 1900, DV:
since 1970) and microseconds; ms = AVC millisecond time stamp. Extras: AVC number=
stream_type= flags= idx_type=; DV5 ext= lead=; DV4 inject_at=; field=stacked|split.
)";
}

namespace {

bool toInt(const std::string &s, int64_t &v) {
    if (s.empty()) return false;
    char *end = nullptr;
    errno = 0;
    long long x = std::strtoll(s.c_str(), &end, 0);
    if (errno || *end) return false;
    v = x;
    return true;
}

bool toDouble(const std::string &s, double &v) {
    if (s.empty()) return false;
    char *end = nullptr;
    v = std::strtod(s.c_str(), &end);
    return *end == 0;
}

std::vector<std::string> split(const std::string &s, char sep) {
    std::vector<std::string> v;
    size_t a = 0;
    for (;;) {
        size_t b = s.find(sep, a);
        v.push_back(s.substr(a, b == std::string::npos ? std::string::npos : b - a));
        if (b == std::string::npos) return v;
        a = b + 1;
    }
}

// CH:V with CH a 1-based channel (1..16) and V in [lo, hi].
bool channelArg(const std::string &s, int64_t lo, int64_t hi, int &ch, int &v) {
    auto parts = split(s, ':');
    int64_t c = 0, x = 0;
    if (parts.size() != 2 || !toInt(parts[0], c) || c < 1 || c > 16 || !toInt(parts[1], x) || x < lo ||
        x > hi)
        return false;
    ch = static_cast<int>(c);
    v = static_cast<int>(x);
    return true;
}

bool damageArg(const std::string &s, bool needValue, Damage &d) {
    auto parts = split(s, ':');
    int64_t u = 0, v = -1;
    if (parts.size() > 2 || !toInt(parts[0], u) || u < 0) return false;
    if (parts.size() == 2 && (!toInt(parts[1], v) || v < 0)) return false;
    if (needValue && parts.size() != 2) return false;
    d.unit = static_cast<int>(u);
    d.value = v;
    return true;
}

} // namespace

std::string parseOptions(int argc, char **argv, Options &o, bool &help) {
    help = false;
    bool haveKind = false;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        if (a == "--help" || a == "-h") {
            help = true;
            return "";
        }
        // Options without a value.
        if (a == "--noise") {
            o.noise = true;
            continue;
        }
        if (a == "--end-zero") {
            o.endZero = true;
            continue;
        }
        if (a == "--empty") {
            o.empty = true;
            continue;
        }
        if (i + 1 >= argc) return "missing value after " + a;
        std::string v = argv[++i];
        int64_t n = 0;
        double x = 0;
        auto intIn = [&](int64_t lo, int64_t hi) { return toInt(v, n) && n >= lo && n <= hi; };
        const std::string bad = "bad value for " + a + ": " + v;
        if (a == "--kind") {
            if (v == "dv4-h264")
                o.kind = Kind::Dv4H264;
            else if (v == "dv4-mpeg4")
                o.kind = Kind::Dv4Mpeg4;
            else if (v == "dv5-nvr")
                o.kind = Kind::Dv5Nvr;
            else if (v == "dv5-dvr700")
                o.kind = Kind::Dv5Dvr700;
            else if (v == "avc")
                o.kind = Kind::Avc;
            else
                return bad;
            haveKind = true;
        } else if (a == "--out") {
            o.out = v;
        } else if (a == "--size") {
            auto p = split(v, 'x');
            int64_t w = 0, h = 0;
            if (p.size() != 2 || !toInt(p[0], w) || !toInt(p[1], h) || w < 16 || h < 16 || w > 1920 ||
                h > 1088 || (w & 1) || (h & 1))
                return bad;
            o.width = static_cast<int>(w);
            o.height = static_cast<int>(h);
        } else if (a == "--fps") {
            if (!intIn(1, 60)) return bad;
            o.fps = static_cast<int>(n);
        } else if (a == "--duration") {
            if (!toDouble(v, x) || x < 0 || x > 3600) return bad;
            o.duration = x;
        } else if (a == "--frames") {
            if (!intIn(0, 1000000)) return bad;
            o.frames = static_cast<int>(n);
        } else if (a == "--gop") {
            if (!intIn(1, 100000)) return bad;
            o.gop = static_cast<int>(n);
        } else if (a == "--key-stagger") {
            if (!intIn(0, 3600000)) return bad;
            o.keyStaggerMs = static_cast<int>(n);
        } else if (a == "--channel-gop" || a == "--channel-stop") {
            const bool gop = a == "--channel-gop";
            int ch = 0, val = 0;
            if (!channelArg(v, gop ? 1 : 0, gop ? 100000 : 1000000, ch, val))
                return bad +
                       (gop ? " (CH:N, channel 1..16, N >= 1)" : " (CH:F, channel 1..16, frame F >= 0)");
            std::map<int, int> &m = gop ? o.channelGops : o.channelStops;
            if (!m.emplace(ch, val).second) return a + " names channel " + std::to_string(ch) + " twice";
        } else if (a == "--start") {
            struct tm tm {};
            const char *end = strptime(v.c_str(), "%Y-%m-%dT%H:%M:%S", &tm);
            if (!end || *end) return bad;
            o.startUnix = static_cast<int64_t>(timegm(&tm));
        } else if (a == "--video-mask") {
            if (!intIn(0, 0xFFFF)) return bad;
            o.videoMask = static_cast<uint32_t>(n);
        } else if (a == "--audio-mask") {
            if (!intIn(0, 0xFFFF)) return bad;
            o.audioMask = static_cast<uint32_t>(n);
        } else if (a == "--codec") {
            o.codecs.clear();
            for (auto &c : split(v, ',')) {
                if (c == "h264")
                    o.codecs.push_back(VCodec::H264);
                else if (c == "mpeg4")
                    o.codecs.push_back(VCodec::Mpeg4);
                else if (c == "mjpeg")
                    o.codecs.push_back(VCodec::Mjpeg);
                else
                    return bad;
            }
        } else if (a == "--audio") {
            o.audioFormats.clear();
            for (auto &c : split(v, ',')) {
                if (c == "ulaw")
                    o.audioFormats.push_back(AFormat::Ulaw);
                else if (c == "pcm8")
                    o.audioFormats.push_back(AFormat::Pcm8);
                else if (c == "pcm16")
                    o.audioFormats.push_back(AFormat::Pcm16);
                else if (c == "pcm16b")
                    o.audioFormats.push_back(AFormat::Pcm16b);
                else if (c == "g723")
                    o.audioFormats.push_back(AFormat::G723);
                else if (c == "none")
                    o.audioFormats.push_back(AFormat::None);
                else
                    return bad;
            }
        } else if (a == "--audio-samples") {
            // Up to 4096 payload bytes, the most a DV audio unit can carry, and whole G.723 bytes.
            if (!intIn(8, 2048) || n % 8) return bad + " (8..2048, a multiple of 8)";
            o.audioSamples = static_cast<int>(n);
        } else if (a == "--preset") {
            o.preset = v;
        } else if (a == "--qp") {
            if (!intIn(0, 51)) return bad;
            o.qp = static_cast<int>(n);
        } else if (a == "--bitrate") {
            if (!intIn(10, 200000)) return bad;
            o.bitrateKbps = static_cast<int>(n);
        } else if (a == "--grain") {
            if (!intIn(0, 31)) return bad;
            o.grain = static_cast<int>(n);
        } else if (a == "--qscale") {
            if (!intIn(1, 31)) return bad;
            o.qscale = static_cast<int>(n);
        } else if (a == "--fields") {
            if (v == "none")
                o.fields = Fields::None;
            else if (v == "stacked")
                o.fields = Fields::Stacked;
            else if (v == "split")
                o.fields = Fields::Split;
            else
                return bad;
        } else if (a == "--gap") {
            auto p = split(v, ':');
            int64_t f = 0;
            if (p.size() != 2 || !toInt(p[0], f) || f < 0 || !toDouble(p[1], x)) return bad;
            o.gaps.push_back({static_cast<int>(f), x});
        } else if (a == "--threads") {
            if (!intIn(1, 256)) return bad;
            o.threads = static_cast<int>(n);
        } else if (a == "--es-dir") {
            o.esDir = v;
        } else if (a == "--version") {
            if (!intIn(0, 255)) return bad;
            o.version = static_cast<int>(n);
        } else if (a == "--prefix") {
            if (v != "none" && v != "video" && v != "all") return bad;
            o.prefix = v;
        } else if (a == "--extend-info") {
            if (!intIn(0, 65536)) return bad;
            o.extendInfo = static_cast<int>(n);
        } else if (a == "--main-flags") {
            if (!intIn(0, 0xFFFFFFFFLL)) return bad;
            o.mainFlags = n;
        } else if (a == "--audio-mask-word") {
            if (!intIn(0, 0xFFFFFFFFLL)) return bad;
            o.audioMaskWord = n;
        } else if (a == "--title") {
            size_t eq = v.find('=');
            int64_t c = 0;
            if (eq == std::string::npos || !toInt(v.substr(0, eq), c) || c < 1 || c > 16) return bad;
            o.titles.push_back({static_cast<int>(c), v.substr(eq + 1)});
        } else if (a == "--vflags" || a == "--aflags") {
            if (!intIn(0, 0xFFFFFFFFLL)) return bad;
            (a == "--vflags" ? o.vflags : o.aflags) = n;
        } else if (a == "--mpeg4-type") {
            if (!toInt(v, n) || (n != 1 && n != 4)) return bad;
            o.mpeg4Type = static_cast<int>(n);
        } else if (a == "--mjpeg-type") {
            if (!toInt(v, n) || (n != 2 && n != 5)) return bad;
            o.mjpegType = static_cast<int>(n);
        } else if (a == "--total-frames") {
            if (!intIn(0, 0xFFFFFFFFLL)) return bad;
            o.totalFrames = n;
        } else if (a == "--display-offset") {
            if (!intIn(-1000000000, 1000000000)) return bad;
            o.displayOffset = static_cast<int>(n);
        } else if (a == "--pic-struct") {
            if (!intIn(0, 255)) return bad;
            o.picStruct = static_cast<int>(n);
        } else if (a == "--minor-id") {
            if (v.size() > 31) return bad;
            o.minorId = v;
        } else if (a == "--header-len") {
            if (!intIn(424, 1 << 20)) return bad;
            o.dv5HeaderLen = static_cast<int>(n);
        } else if (a == "--ext-len") {
            if (!intIn(0, 65536)) return bad;
            o.extLen = static_cast<int>(n);
        } else if (a == "--ext-every") {
            if (!intIn(0, 1000000)) return bad;
            o.extEvery = static_cast<int>(n);
        } else if (a == "--lead") {
            if (v != "none" && v != "aud" && v != "sei") return bad;
            o.lead = v;
        } else if (a == "--lead-every") {
            if (!intIn(1, 1000000)) return bad;
            o.leadEvery = static_cast<int>(n);
        } else if (a == "--dv4-audio-startcode") {
            if (!intIn(0, 255) || n == 0 || n == 0x1E || n == 0x1F) return bad + " (not 0, 0x1e or 0x1f)";
            o.dv4AudioStartcode = static_cast<int>(n);
        } else if (a == "--startcode-every") {
            if (!intIn(1, 1000000)) return bad;
            o.dv4StartcodeEvery = static_cast<int>(n);
        } else if (a == "--truncate") {
            if (!intIn(0, INT64_MAX)) return bad;
            o.truncate = n;
        } else if (a == "--oversize" || a == "--zero-length" || a == "--bad-channel" ||
                   a == "--frame-number") {
            Damage d;
            if (!damageArg(v, a == "--frame-number", d)) return bad;
            if (a == "--zero-length") d.value = 0;
            (a == "--oversize"      ? o.oversize
             : a == "--zero-length" ? o.zeroLength
             : a == "--bad-channel" ? o.badChannel
                                    : o.frameNumber)
                .push_back(d);
        } else if (a == "--flip") {
            if (!intIn(0, 100000000)) return bad;
            o.flips = static_cast<int>(n);
        } else if (a == "--seed") {
            if (!toInt(v, n)) return bad;
            o.seed = static_cast<uint64_t>(n);
        } else if (a == "--flip-range") {
            auto p = split(v, ':');
            int64_t lo = 0, hi = 0;
            if (p.size() != 2 || !toInt(p[0], lo) || !toInt(p[1], hi) || lo < 0 || hi <= lo) return bad;
            o.flipFrom = lo;
            o.flipTo = hi;
        } else {
            return "unknown option " + a + " (see --help)";
        }
    }
    if (!haveKind) return "--kind is required (see --help)";
    if (o.out.empty()) return "--out is required (see --help)";
    if (o.fields != Fields::None && o.height % 4) return "--fields needs a height that is a multiple of 4";
    if (o.kind == Kind::Dv4H264 || o.kind == Kind::Dv4Mpeg4) {
        o.videoMask = 1; // DV4 units carry no channel number
        if (o.audioMask) o.audioMask = 1;
    }
    for (const auto *m : {&o.channelGops, &o.channelStops})
        for (const auto &cv : *m)
            if (!(o.videoMask & (1u << (cv.first - 1))))
                return std::string(m == &o.channelGops ? "--channel-gop" : "--channel-stop") + ": channel " +
                       std::to_string(cv.first) + " is not in the video mask" +
                       (o.kind == Kind::Dv4H264 || o.kind == Kind::Dv4Mpeg4 ? " (DV4 has channel 1 only)"
                                                                            : "");
    if (o.kind != Kind::Avc) {
        VCodec c = o.kind == Kind::Dv4Mpeg4 ? VCodec::Mpeg4 : VCodec::H264;
        o.codecs.assign(1, c);
    }
    if (o.fields == Fields::Split) {
        for (VCodec c : o.codecs)
            if (c != VCodec::H264) return "--fields split needs H.264";
    }
    if (o.fields != Fields::None && o.kind == Kind::Dv4Mpeg4) return "DV4 MPEG-4 units carry no field flag";
    if (o.dv4AudioStartcode >= 0 && o.kind != Kind::Dv4H264)
        return "--dv4-audio-startcode applies to dv4-h264";
    if (o.lead != "none" && o.kind != Kind::Dv5Nvr && o.kind != Kind::Dv5Dvr700)
        return "--lead applies to DV5 files";
    if (o.extEvery > 0 && o.kind != Kind::Dv5Nvr && o.kind != Kind::Dv5Dvr700)
        return "--ext-every applies to DV5 files";
    if (o.extendInfo >= 0 && (o.kind != Kind::Avc || o.version != 9))
        return "--extend-info needs --kind avc --version 9";
    return "";
}

} // namespace mkrec
