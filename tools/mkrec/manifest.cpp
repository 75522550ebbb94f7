// The manifest: one line per file fact, channel and unit; see README.md for the format.
#include <cstdio>

extern "C" {
#include <libavutil/md5.h>
}

#include "mkrec.h"

namespace mkrec {

std::string md5Hex(const uint8_t *p, size_t n) {
    uint8_t d[16];
    av_md5_sum(d, p, n);
    char s[33];
    for (int i = 0; i < 16; ++i)
        std::snprintf(s + 2 * i, 3, "%02x", d[i]);
    return std::string(s, 32);
}

namespace {
// Values never hold spaces: titles are written with %XX escapes for space, '%' and '='.
std::string escape(const std::string &v) {
    std::string o;
    for (unsigned char c : v) {
        if (c <= ' ' || c == '%' || c == '=' || c >= 0x7F) {
            char b[4];
            std::snprintf(b, sizeof b, "%%%02X", c);
            o += b;
        } else {
            o += static_cast<char>(c);
        }
    }
    return o;
}
} // namespace

std::string writeManifest(const Options &o, const Layout &L, const std::vector<ChannelStream> &streams,
                          const std::string &path) {
    FILE *f = std::fopen(path.c_str(), "w");
    if (!f) return "cannot write " + path;
    size_t nv = 0, na = 0;
    for (const Unit &u : L.units)
        (u.video ? nv : na)++;
    std::fprintf(f, "mkrec-manifest 1\n");
    std::fprintf(f,
                 "file kind=%s bytes=%zu units=%zu video_units=%zu audio_units=%zu width=%d height=%d fps=%d",
                 kindName(o.kind), L.bytes.size(), L.units.size(), nv, na, o.width, o.height, o.fps);
    std::fprintf(f, " gop=%d start_unix=%lld video_mask=0x%x audio_mask=0x%x audio_samples=%d fields=%s",
                 o.gop, static_cast<long long>(o.startUnix), o.videoMask, o.audioMask, o.audioSamples,
                 o.fields == Fields::None      ? "none"
                 : o.fields == Fields::Stacked ? "stacked"
                                               : "split");
    if (o.keyStaggerMs >= 0) std::fprintf(f, " key_stagger_ms=%d", o.keyStaggerMs);
    // 1-based channels as on the command line, in channel order.
    auto channelList = [f](const char *key, const std::map<int, int> &m) {
        const char *sep = "=";
        if (!m.empty()) std::fprintf(f, " %s", key);
        for (const auto &cv : m) {
            std::fprintf(f, "%s%d:%d", sep, cv.first, cv.second);
            sep = ",";
        }
    };
    channelList("channel_gop", o.channelGops);
    channelList("channel_stop", o.channelStops);
    for (auto &a : L.fileAttrs)
        std::fprintf(f, " %s=%s", a.first.c_str(), escape(a.second).c_str());
    std::fprintf(f, "\n");
    for (const ChannelStream &s : streams) {
        if (s.video) {
            std::fprintf(f, "video ch=%d codec=%s frames=%zu", s.channel, vcodecName(s.codec),
                         s.packets.size());
            for (auto &t : o.titles)
                if (t.first == s.channel + 1) std::fprintf(f, " title=%s", escape(t.second).c_str());
        } else {
            std::fprintf(f, "audio ch=%d format=%s tone_hz=%d packets=%zu", s.channel, aformatName(s.format),
                         s.toneHz, s.packets.size());
        }
        std::fprintf(f, "\n");
    }
    for (size_t i = 0; i < L.units.size(); ++i) {
        const Unit &u = L.units[i];
        std::fprintf(
            f,
            "unit i=%zu type=%s ch=%d key=%d frame=%d off=%llu hdr_len=%u payload_off=%llu len=%u prefix=%u "
            "es_off=%llu es_len=%u md5=%s es_md5=%s t_us=%lld sec=%llu usec=%llu ms=%llu",
            i, u.video ? "video" : "audio", u.channel, u.key ? 1 : 0, u.frame,
            static_cast<unsigned long long>(u.offset), u.headerLen,
            static_cast<unsigned long long>(u.payloadOff), u.payloadLen, u.prefixLen,
            static_cast<unsigned long long>(u.payloadOff + u.prefixLen), u.payloadLen - u.prefixLen,
            u.md5.c_str(), u.esMd5.c_str(), static_cast<long long>(u.tUs),
            static_cast<unsigned long long>(u.sec), static_cast<unsigned long long>(u.usec),
            static_cast<unsigned long long>(u.ms));
        for (auto &e : u.extra)
            std::fprintf(f, " %s=%s", e.first.c_str(), escape(e.second).c_str());
        std::fprintf(f, "\n");
    }
    for (auto &d : L.damageLines)
        std::fprintf(f, "%s\n", d.c_str());
    bool ok = std::fflush(f) == 0;
    ok = std::fclose(f) == 0 && ok;
    return ok ? "" : "cannot write " + path;
}

} // namespace mkrec
