// Lays the encoded streams out as DV4, DV5 or AVC files, byte for byte, and records every
// unit for the manifest. Then applies the damage options.
#include <algorithm>
#include <cstring>
#include <ctime>
#include <map>

#include "mkrec.h"

namespace mkrec {
namespace {

constexpr int64_t kNtpUnixOffset = 2208988800LL; // seconds from 1900-01-01 to 1970-01-01

void put8(std::vector<uint8_t> &b, uint32_t v) {
    b.push_back(static_cast<uint8_t>(v));
}
void put16(std::vector<uint8_t> &b, uint32_t v) {
    b.push_back(static_cast<uint8_t>(v));
    b.push_back(static_cast<uint8_t>(v >> 8));
}
void put32(std::vector<uint8_t> &b, uint32_t v) {
    for (int i = 0; i < 4; ++i)
        b.push_back(static_cast<uint8_t>(v >> (8 * i)));
}
void put64(std::vector<uint8_t> &b, uint64_t v) {
    for (int i = 0; i < 8; ++i)
        b.push_back(static_cast<uint8_t>(v >> (8 * i)));
}
void set32(std::vector<uint8_t> &b, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i)
        b[at + i] = static_cast<uint8_t>(v >> (8 * i));
}
void fill(std::vector<uint8_t> &b, size_t n, uint8_t v) {
    b.insert(b.end(), n, v);
}

std::string hex(uint64_t v) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "0x%llx", static_cast<unsigned long long>(v));
    return buf;
}

void putSystemTime(std::vector<uint8_t> &b, int64_t unixSec) {
    time_t t = static_cast<time_t>(unixSec);
    struct tm tm {};
    gmtime_r(&t, &tm);
    put16(b, static_cast<uint32_t>(tm.tm_year + 1900));
    put16(b, static_cast<uint32_t>(tm.tm_mon + 1));
    put16(b, static_cast<uint32_t>(tm.tm_wday));
    put16(b, static_cast<uint32_t>(tm.tm_mday));
    put16(b, static_cast<uint32_t>(tm.tm_hour));
    put16(b, static_cast<uint32_t>(tm.tm_min));
    put16(b, static_cast<uint32_t>(tm.tm_sec));
    put16(b, 0);
}

uint8_t dvAudioCode(AFormat f) {
    switch (f) {
    case AFormat::Pcm8:
        return 0x06;
    case AFormat::G723:
        return 0x09;
    case AFormat::Ulaw:
        return 0x0C;
    case AFormat::Pcm16:
        return 0x14;
    case AFormat::Pcm16b:
        return 0x18;
    default:
        return 0;
    }
}

uint8_t avcAudioType(AFormat f) {
    switch (f) {
    case AFormat::Ulaw:
        return 6;
    case AFormat::Pcm8:
        return 7;
    case AFormat::G723:
        return 9;
    case AFormat::Pcm16:
        return 10;
    case AFormat::Pcm16b:
        return 11;
    default:
        return 0;
    }
}

uint8_t avcVideoType(const Options &o, VCodec c) {
    if (c == VCodec::H264) return 8;
    if (c == VCodec::Mpeg4) return static_cast<uint8_t>(o.mpeg4Type);
    return static_cast<uint8_t>(o.mjpegType);
}

// The index entry type that a reader derives from the stripped payload and the stream type.
uint32_t idxType(uint8_t streamType, const uint8_t *d, size_t n) {
    switch (streamType) {
    case 8:
        return (n >= 5 && d[0] == 0 && d[1] == 0 && d[2] == 0 && d[3] == 1 && (d[4] & 0x0F) == 7) ? 0x1001
                                                                                                  : 0x1002;
    case 1:
    case 4: {
        uint32_t win = 0;
        for (size_t i = 0; i < n; ++i) {
            win = ((win << 8) | d[i]) & 0xFFFFFFFFu;
            if (win == 0x000001B6u) return (i + 1 < n && d[i + 1] < 0x40) ? 0x1001 : 0x1002;
        }
        return 0x1002;
    }
    case 3:
        return 0x8000;
    case 6:
        return 0x8001;
    case 7:
        return 0x8002;
    case 9:
        return 0x8004;
    case 10:
        return 0x8008;
    case 11:
        return 0x8010;
    default:
        return 0;
    }
}

struct Event {
    int64_t relUs;
    int order; // 0 video, 1 audio
    int channel;
    size_t stream;
    size_t packet;
};

bool findPattern(const std::vector<uint8_t> &d, const uint8_t *pat, size_t n, size_t from, size_t to) {
    if (to > d.size()) to = d.size();
    for (size_t i = from; i + n <= to; ++i)
        if (std::memcmp(d.data() + i, pat, n) == 0) return true;
    return false;
}

// Stray start codes in a payload that the DV parsers would take for a unit header.
std::string checkPayload(Kind k, bool video, const std::vector<uint8_t> &d, size_t from, size_t to,
                         int unit) {
    static const uint8_t sc4[] = {0, 0, 0, 1};
    static const uint8_t v4[] = {0, 0, 0, 1, 0x1F}, a4[] = {0, 0, 0, 1, 0x1E}, z4[] = {0, 0, 0, 1, 0};
    static const uint8_t b2[] = {0, 0, 1, 0xB2}, b6[] = {0, 0, 1, 0xB6};
    bool bad = false;
    if (k == Kind::Dv4H264)
        bad = findPattern(d, v4, 5, from, to) || findPattern(d, a4, 5, from, to) ||
              findPattern(d, z4, 5, from, to) || (!video && findPattern(d, sc4, 4, from, to));
    else if (k == Kind::Dv4Mpeg4)
        bad = findPattern(d, b2, 4, from, to) || (!video && findPattern(d, b6, 4, from, to));
    if (!bad) return "";
    return "unit " + std::to_string(unit) +
           " would hold a stray start code that the file's parser takes for a unit header; "
           "choose other sizes, audio format or quantiser";
}

std::vector<uint8_t> auNal() {
    return {0, 0, 0, 1, 0x09, 0xF0};
}

// A user-data-unregistered SEI carrying a short text.
std::vector<uint8_t> seiNal() {
    std::vector<uint8_t> s = {0, 0, 0, 1, 0x06, 0x05};
    static const uint8_t uuid[16] = {0x6D, 0x6B, 0x72, 0x65, 0x63, 0x2D, 0x74, 0x65,
                                     0x73, 0x74, 0x2D, 0x73, 0x65, 0x69, 0x21, 0x21};
    const char *text = "mkrec";
    s.push_back(static_cast<uint8_t>(16 + std::strlen(text)));
    s.insert(s.end(), uuid, uuid + 16);
    s.insert(s.end(), text, text + std::strlen(text));
    s.push_back(0x80);
    return s;
}

} // namespace

std::string buildLayout(const Options &o, int frames, const std::vector<ChannelStream> &streams, Layout &L) {
    std::vector<uint8_t> &B = L.bytes;
    const bool avc = o.kind == Kind::Avc;
    const bool dv4 = o.kind == Kind::Dv4H264 || o.kind == Kind::Dv4Mpeg4;
    const bool nvr = o.kind == Kind::Dv5Nvr;
    const int64_t startUs = o.startUnix * 1000000LL;

    auto gapUs = [&](int frameIdx) {
        int64_t s = 0;
        for (auto &g : o.gaps)
            if (frameIdx >= g.first) s += static_cast<int64_t>(g.second * 1e6);
        return s;
    };

    // File order: by time since the start, video before audio, then by channel.
    std::vector<Event> ev;
    for (size_t si = 0; si < streams.size(); ++si) {
        const ChannelStream &s = streams[si];
        for (size_t p = 0; p < s.packets.size(); ++p) {
            int64_t rel = s.video ? static_cast<int64_t>(p) * 1000000LL / o.fps
                                  : static_cast<int64_t>(p) * o.audioSamples * 1000000LL / 8000;
            ev.push_back({rel, s.video ? 0 : 1, s.channel, si, p});
        }
    }
    std::stable_sort(ev.begin(), ev.end(), [](const Event &a, const Event &b) {
        if (a.relUs != b.relUs) return a.relUs < b.relUs;
        if (a.order != b.order) return a.order < b.order;
        return a.channel < b.channel;
    });

    uint32_t audioMaskEff = 0;
    for (auto &s : streams)
        if (!s.video) audioMaskEff |= 1u << s.channel;
    uint32_t videoMaskEff = 0;
    for (auto &s : streams)
        if (s.video) videoMaskEff |= 1u << s.channel;

    // Channel titles in the AVC header: readers give names to channels by line order, so there
    // is one line per channel from 1 to the highest video (or titled) channel, in channel order,
    // with an empty name where none was given (the last --title for a channel wins).
    std::string titleText;
    if (!o.titles.empty()) {
        int lines = videoMaskEff ? 32 - __builtin_clz(videoMaskEff) : 0;
        std::map<int, std::string> names;
        for (auto &t : o.titles) {
            names[t.first] = t.second;
            lines = std::max(lines, t.first);
        }
        for (int ch = 1; ch <= lines; ++ch)
            titleText += "CH" + std::to_string(ch) + ".Title=" + names[ch] + "\n";
    }

    const int64_t endUnix = o.startUnix + (frames > 0 ? (static_cast<int64_t>(frames - 1) / o.fps) : 0) +
                            gapUs(frames > 0 ? frames - 1 : 0) / 1000000;
    uint32_t mainFlags = 0;
    if (avc) {
        mainFlags = o.mainFlags >= 0 ? static_cast<uint32_t>(o.mainFlags)
                                     : (0x4u | (audioMaskEff ? 0x20u : 0u) | (o.titles.empty() ? 0u : 0x8u));
        uint32_t total =
            o.totalFrames >= 0 ? static_cast<uint32_t>(o.totalFrames) : static_cast<uint32_t>(ev.size());
        put16(B, 1);
        put16(B, 80);
        B.insert(B.end(), {'M', 'K', 'R', 'C'});
        putSystemTime(B, o.startUnix);
        putSystemTime(B, endUnix);
        put32(B, static_cast<uint32_t>(__builtin_popcount(videoMaskEff)));
        put32(B, static_cast<uint32_t>(__builtin_popcount(audioMaskEff)));
        put32(B, total);
        put32(B, 0);
        put16(B, 0);
        put8(B, static_cast<uint32_t>(o.version));
        put8(B, 0);
        char model[16] = "MKREC TEST";
        B.insert(B.end(), model, model + 16);
        put32(B, mainFlags);
        if (mainFlags & 0x2) put64(B, 0x1122334455667788ULL);
        if (mainFlags & 0x4) put32(B, o.videoMask);
        if (mainFlags & 0x8) {
            put16(B, static_cast<uint32_t>(titleText.size()));
            B.insert(B.end(), titleText.begin(), titleText.end());
        }
        if (mainFlags & 0x10) put32(B, 0xCAFEF00Du);
        if (mainFlags & 0x20) put8(B, o.audioMask & 0xFF);
        if (mainFlags & 0x40)
            put32(B, o.audioMaskWord >= 0 ? static_cast<uint32_t>(o.audioMaskWord) : o.audioMask);
        if (mainFlags & 0x80) put16(B, 0x7788);
        put16(B, 0);
        L.fileAttrs.push_back({"version", std::to_string(o.version)});
        L.fileAttrs.push_back({"main_flags", hex(mainFlags)});
        L.fileAttrs.push_back({"total_frames", std::to_string(total)});
        L.fileAttrs.push_back({"title_len", std::to_string(titleText.size())});
        L.fileAttrs.push_back(
            {"audio_mask_word",
             hex(o.audioMaskWord >= 0 ? static_cast<uint64_t>(o.audioMaskWord) : o.audioMask)});
        L.fileAttrs.push_back({"prefix", o.prefix});
        L.fileAttrs.push_back({"extend_info", std::to_string(o.extendInfo)});
    } else if (!dv4) {
        std::string minor = !o.minorId.empty() ? o.minorId : (nvr ? "NVR" : "700");
        B.assign(static_cast<size_t>(o.dv5HeaderLen), 0);
        const char magic[] = "MKREC DV5";
        std::memcpy(B.data(), magic, sizeof magic - 1);
        std::memcpy(B.data() + 36, minor.data(), std::min<size_t>(minor.size(), 31));
        set32(B, 416, o.videoMask);
        set32(B, 420, o.audioMask);
        L.fileAttrs.push_back({"minor_id", minor});
    }
    L.fileAttrs.push_back({"header_len", std::to_string(B.size())});

    const uint32_t vflags = o.vflags >= 0 ? static_cast<uint32_t>(o.vflags) : 0x31BFu;
    const uint32_t aflags = o.aflags >= 0 ? static_cast<uint32_t>(o.aflags) : 0x01B3u;
    if (avc) {
        L.fileAttrs.push_back({"vflags", hex(vflags)});
        L.fileAttrs.push_back({"aflags", hex(aflags)});
    }

    std::vector<int> videoCount(16, 0), audioCount(16, 0);
    uint32_t number = 0;
    for (const Event &e : ev) {
        const ChannelStream &s = streams[e.stream];
        const Packet &pk = s.packets[e.packet];
        Unit u;
        Layout::Fieldpos fp;
        u.video = s.video;
        u.channel = s.channel;
        u.key = s.video ? pk.key : false;
        u.frame = pk.frame;
        int anchor = s.video ? pk.frame : static_cast<int>(e.relUs * o.fps / 1000000);
        u.tUs = startUs + e.relUs + gapUs(anchor);
        const int64_t unixSec = u.tUs >= 0 ? u.tUs / 1000000 : (u.tUs - 999999) / 1000000;
        const uint32_t micro = static_cast<uint32_t>(u.tUs - unixSec * 1000000);
        u.offset = B.size();

        std::vector<uint8_t> payload = pk.data;
        std::vector<uint8_t> hdr;
        uint32_t prefixLen = 0;

        if (s.video && o.kind != Kind::Avc && !dv4 && o.lead != "none") {
            int idx = videoCount[static_cast<size_t>(s.channel)];
            if (o.leadEvery > 0 && idx % o.leadEvery == 0) {
                std::vector<uint8_t> lead = o.lead == "aud" ? auNal() : seiNal();
                payload.insert(payload.begin(), lead.begin(), lead.end());
                u.extra.push_back({"lead", o.lead});
            }
        }
        int injectAt = -1;
        if (!s.video && o.kind == Kind::Dv4H264 && o.dv4AudioStartcode >= 0) {
            int idx = audioCount[static_cast<size_t>(s.channel)];
            if (o.dv4StartcodeEvery > 0 && idx % o.dv4StartcodeEvery == 0) {
                injectAt = static_cast<int>(payload.size() / 2);
                const uint8_t sc[] = {0, 0, 0, 1, static_cast<uint8_t>(o.dv4AudioStartcode)};
                payload.insert(payload.begin() + injectAt, sc, sc + 5);
                u.extra.push_back({"inject_at", std::to_string(injectAt)});
            }
        }

        switch (o.kind) {
        case Kind::Dv4H264:
            u.sec = static_cast<uint32_t>(unixSec);
            u.usec = micro;
            put32(hdr, 0x01000000u); // 00 00 00 01
            if (s.video) {
                put8(hdr, 0x1F);
                fill(hdr, 3, 0);
                put8(hdr, pk.field ? 1 : 0);
                fill(hdr, 3, 0);
            } else {
                put8(hdr, 0x1E);
                put8(hdr, 0);
                put8(hdr, dvAudioCode(s.format));
                put8(hdr, 0);
                put32(hdr, static_cast<uint32_t>(payload.size()));
            }
            put32(hdr, static_cast<uint32_t>(u.sec));
            put32(hdr, micro);
            break;
        case Kind::Dv4Mpeg4:
            u.sec = static_cast<uint32_t>(unixSec);
            u.usec = micro;
            hdr = {0, 0, 1, 0xB2, 0x0F, static_cast<uint8_t>(s.video ? 0x01 : dvAudioCode(s.format))};
            put32(hdr, static_cast<uint32_t>(u.sec));
            put32(hdr, micro);
            if (!s.video) put32(hdr, static_cast<uint32_t>(payload.size()));
            break;
        case Kind::Dv5Nvr:
        case Kind::Dv5Dvr700: {
            u.sec = static_cast<uint32_t>(unixSec);
            u.usec = micro;
            const uint32_t shown = static_cast<uint32_t>(unixSec + o.displayOffset);
            put32(hdr, 0x01000000u);
            put8(hdr, s.video ? 0x1F : 0x1E);
            put8(hdr, 0);
            bool ext = false;
            if (s.video) {
                int idx = videoCount[static_cast<size_t>(s.channel)];
                ext = o.extEvery > 0 && idx % o.extEvery == 0;
                fill(hdr, 2, 0);
                put8(hdr, pk.field ? 1 : 0);
                put8(hdr, 0);
                put8(hdr, ext ? 0x20 : 0);
                put8(hdr, 0);
                put32(hdr, shown);
                if (nvr) {
                    put32(hdr, 0);
                    put32(hdr, static_cast<uint32_t>(u.sec));
                    put32(hdr, micro);
                    put32(hdr, 0);
                    fp.len = static_cast<int64_t>(hdr.size());
                    put32(hdr, static_cast<uint32_t>(payload.size()));
                    put32(hdr, 0);
                } else {
                    put32(hdr, micro);
                    fp.len = static_cast<int64_t>(hdr.size());
                    put32(hdr, static_cast<uint32_t>(payload.size()));
                    put32(hdr, 0);
                }
                fp.channel = static_cast<int64_t>(hdr.size());
                put8(hdr, static_cast<uint32_t>(s.channel));
                if (ext) {
                    put32(hdr, static_cast<uint32_t>(o.extLen));
                    fill(hdr, static_cast<size_t>(o.extLen), 0xEE);
                    u.extra.push_back({"ext", std::to_string(o.extLen)});
                }
            } else {
                put8(hdr, dvAudioCode(s.format));
                put8(hdr, 0);
                fp.len = static_cast<int64_t>(hdr.size());
                put32(hdr, static_cast<uint32_t>(payload.size()));
                put32(hdr, shown);
                if (nvr) {
                    put32(hdr, 0);
                    put32(hdr, static_cast<uint32_t>(u.sec));
                    put32(hdr, micro);
                    fill(hdr, 42 - hdr.size(), 0);
                } else {
                    put32(hdr, micro);
                }
                fp.channel = static_cast<int64_t>(hdr.size());
                put8(hdr, static_cast<uint32_t>(s.channel));
            }
            break;
        }
        case Kind::Avc: {
            const bool pv = o.prefix == "video" || o.prefix == "all";
            const bool pa = o.prefix == "all";
            if ((s.video && pv) || (!s.video && pa)) {
                std::vector<uint8_t> pre = {0, 0, 0, 1, static_cast<uint8_t>(s.video ? 0x1F : 0x1E), 0x0F};
                if (o.version == 9 && s.video) {
                    pre.resize(44, 0);
                    if (o.extendInfo >= 0) {
                        pre[22] = 0x20;
                        put32(pre, static_cast<uint32_t>(o.extendInfo));
                        fill(pre, static_cast<size_t>(o.extendInfo), 0xE1);
                    }
                } else {
                    pre.resize(o.version == 9 ? 42 : 20, 0);
                }
                prefixLen = static_cast<uint32_t>(pre.size());
                payload.insert(payload.begin(), pre.begin(), pre.end());
            }
            const uint32_t flags = s.video ? vflags : aflags;
            const uint8_t type = s.video ? avcVideoType(o, s.codec) : avcAudioType(s.format);
            const uint32_t sec1900 = static_cast<uint32_t>(unixSec + kNtpUnixOffset);
            u.sec = sec1900;
            u.usec = micro;
            u.ms = static_cast<uint32_t>(static_cast<uint64_t>(u.tUs / 1000));
            ++number;
            put32(hdr, flags);
            if (flags & 0x1) {
                fp.number = static_cast<int64_t>(hdr.size());
                put32(hdr, number);
            }
            if (flags & 0x2) {
                fp.len = static_cast<int64_t>(hdr.size());
                put32(hdr, static_cast<uint32_t>(payload.size()));
            }
            if (flags & 0x4) put16(hdr, s.video ? static_cast<uint32_t>(o.width) : 0);
            if (flags & 0x8) put16(hdr, s.video ? static_cast<uint32_t>(o.height) : 0);
            if (flags & 0x10) put32(hdr, static_cast<uint32_t>(u.ms));
            if (flags & 0x20) {
                fp.channel = static_cast<int64_t>(hdr.size());
                put8(hdr, static_cast<uint32_t>(s.channel + 1));
            }
            if (flags & 0x40) put8(hdr, 0x5A);
            if (flags & 0x80) put8(hdr, type);
            if (flags & 0x100) put32(hdr, sec1900);
            if (flags & 0x200) {
                put32(hdr, 0x11223344u);
                put32(hdr, static_cast<uint32_t>(-5));
            }
            if (flags & 0x400) put8(hdr, 0x44);
            if (flags & 0x800) put8(hdr, 0x88);
            if (flags & 0x1000)
                put8(hdr, static_cast<uint32_t>(o.picStruct >= 0 ? o.picStruct : (pk.field ? 0x01 : 0x00)));
            if (flags & 0x2000)
                put32(hdr, static_cast<uint32_t>(sec1900 + static_cast<uint32_t>(o.displayOffset)));
            if (flags & 0x4000) fill(hdr, 40, 0xA5);
            if (flags & 0x8000) fill(hdr, 16, 0x5C);
            if (flags & 0x10000) put32(hdr, 0xDEADBEEFu);
            if (flags & 0x20000000) put16(hdr, 0x5641);
            if (flags & 0x40000000) put16(hdr, 0x1234);
            if (flags & 0x80000000) put16(hdr, 0x4321);
            put16(hdr, 0);
            if (!(flags & 0x2)) payload.clear(); // without a length field a record has no payload
            uint32_t it = idxType(type, payload.data() + prefixLen, payload.size() - prefixLen);
            put32(L.expectedIdx, 0);
            put32(L.expectedIdx, 0);
            put32(L.expectedIdx, static_cast<uint32_t>(u.offset));
            put32(L.expectedIdx, it);
            fill(L.expectedIdx, 20, 0);
            u.extra.push_back({"number", std::to_string(number)});
            u.extra.push_back({"stream_type", std::to_string(type)});
            u.extra.push_back({"flags", hex(flags)});
            u.extra.push_back({"idx_type", hex(it)});
            break;
        }
        }
        if (s.video && pk.field)
            u.extra.push_back({"field", o.fields == Fields::Split ? "split" : "stacked"});

        u.headerLen = static_cast<uint32_t>(hdr.size());
        u.payloadOff = u.offset + hdr.size();
        u.payloadLen = static_cast<uint32_t>(payload.size());
        u.prefixLen = prefixLen;
        u.md5 = md5Hex(payload.data(), payload.size());
        u.esMd5 = md5Hex(payload.data() + prefixLen, payload.size() - prefixLen);
        B.insert(B.end(), hdr.begin(), hdr.end());
        B.insert(B.end(), payload.begin(), payload.end());
        if (dv4) {
            // The unit's own payload, apart from an injected start code, must stay free of headers.
            std::vector<uint8_t> clean = payload;
            if (injectAt >= 0) clean.erase(clean.begin() + injectAt, clean.begin() + injectAt + 5);
            std::string err =
                checkPayload(o.kind, s.video, clean, 0, clean.size(), static_cast<int>(L.units.size()));
            if (!err.empty()) return err;
        }
        if (s.video)
            ++videoCount[static_cast<size_t>(s.channel)];
        else
            ++audioCount[static_cast<size_t>(s.channel)];
        L.units.push_back(std::move(u));
        L.fieldpos.push_back(fp);
    }
    return "";
}

std::string applyDamage(const Options &o, Layout &L) {
    std::vector<uint8_t> &B = L.bytes;
    auto field = [&](const std::vector<Damage> &list, const char *what, int64_t Layout::Fieldpos::*member,
                     int width, int64_t def) -> std::string {
        for (const Damage &d : list) {
            if (d.unit < 0 || d.unit >= static_cast<int>(L.units.size()))
                return std::string("--") + what + ": no unit " + std::to_string(d.unit);
            int64_t rel = L.fieldpos[static_cast<size_t>(d.unit)].*member;
            if (rel < 0)
                return std::string("--") + what + ": unit " + std::to_string(d.unit) + " has no such field";
            uint64_t at = L.units[static_cast<size_t>(d.unit)].offset + static_cast<uint64_t>(rel);
            int64_t v = d.value >= 0 ? d.value : def;
            uint64_t old = 0;
            for (int i = 0; i < width; ++i)
                old |= static_cast<uint64_t>(B[at + i]) << (8 * i);
            for (int i = 0; i < width; ++i)
                B[at + i] = static_cast<uint8_t>(static_cast<uint64_t>(v) >> (8 * i));
            L.damageLines.push_back(std::string("damage kind=") + what + " unit=" + std::to_string(d.unit) +
                                    " at=" + std::to_string(at) + " old=" + std::to_string(old) +
                                    " new=" + std::to_string(v));
        }
        return "";
    };
    const bool dv4 = o.kind == Kind::Dv4H264 || o.kind == Kind::Dv4Mpeg4;
    if (dv4 && (!o.oversize.empty() || !o.zeroLength.empty() || !o.badChannel.empty()))
        return "DV4 units have no length or channel field";
    if (o.kind != Kind::Avc && !o.frameNumber.empty()) return "--frame-number applies to AVC files only";
    std::string err;
    if (!(err = field(o.oversize, "oversize", &Layout::Fieldpos::len, 4, 0x7FFFFFFF)).empty()) return err;
    if (!(err = field(o.zeroLength, "zero-length", &Layout::Fieldpos::len, 4, 0)).empty()) return err;
    if (!(err = field(o.badChannel, "bad-channel", &Layout::Fieldpos::channel, 1,
                      o.kind == Kind::Avc ? 17 : 16))
             .empty())
        return err;
    if (!(err = field(o.frameNumber, "frame-number", &Layout::Fieldpos::number, 4, 0)).empty()) return err;

    if (o.flips > 0 && !B.empty()) {
        uint64_t s = o.seed;
        auto next = [&]() {
            uint64_t z = (s += 0x9E3779B97F4A7C15ULL);
            z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
            z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
            return z ^ (z >> 31);
        };
        uint64_t from = static_cast<uint64_t>(std::max<int64_t>(0, o.flipFrom));
        uint64_t to =
            o.flipTo >= 0 ? std::min<uint64_t>(static_cast<uint64_t>(o.flipTo), B.size()) : B.size();
        if (from >= to) return "--flip-range is empty";
        for (int i = 0; i < o.flips; ++i) {
            uint64_t at = from + next() % (to - from);
            uint8_t x = static_cast<uint8_t>(1 + next() % 255);
            L.damageLines.push_back("damage kind=flip at=" + std::to_string(at) +
                                    " old=" + std::to_string(B[at]) + " new=" + std::to_string(B[at] ^ x));
            B[at] ^= x;
        }
    }
    if (o.truncate >= 0 && static_cast<uint64_t>(o.truncate) < B.size()) {
        L.damageLines.push_back("damage kind=truncate at=" + std::to_string(o.truncate));
        B.resize(static_cast<size_t>(o.truncate));
    }
    if (o.endZero) {
        B.push_back(0);
        L.damageLines.push_back("damage kind=end-zero at=" + std::to_string(B.size() - 1));
    }
    if (o.empty) {
        B.clear();
        L.damageLines.push_back("damage kind=empty");
    }
    return "";
}

} // namespace mkrec
