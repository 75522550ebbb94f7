// Reads the generated recordings back with independent little-endian reads of every header
// field and compares with the manifest and with the options given.
#include <gtest/gtest.h>

#include "common/mkrec_fixture.h"

namespace {

using mkrec::le;

constexpr uint64_t kNtpOffset = 2208988800;

void expectPayloadsMatch(const std::vector<uint8_t> &bytes, const mkrec::Manifest &m) {
    for (const mkrec::Unit &u : m.units) {
        ASSERT_LE(u.payloadOffset + u.payloadLen, bytes.size()) << "unit " << u.index;
        EXPECT_EQ(mkrec::md5Hex(mkrec::payload(bytes, u)), u.md5) << "unit " << u.index;
        EXPECT_EQ(mkrec::md5Hex(mkrec::payload(bytes, u, true)), u.esMd5) << "unit " << u.index;
        EXPECT_EQ(u.payloadOffset, u.offset + u.headerLen);
    }
}

TEST(MkrecCommandLine, HelpAndBadOptions) {
    mkrec::TempDir dir;
    std::string log = dir.file("help.txt");
    ASSERT_EQ(mkrec::runProgram({mkrec::mkrecPath(), "--help"}, log), 0);
    std::string help = mkrec::readText(log);
    for (const char *k : {"dv4-h264", "dv4-mpeg4", "dv5-nvr", "dv5-dvr700", "avc", "mkrec-manifest 1",
                          "--truncate", "--fields", "--gap", "--key-stagger", "--channel-gop",
                          "--channel-stop", "--lead", "--ext-every", "--dv4-audio-startcode", "--prefix"})
        EXPECT_NE(help.find(k), std::string::npos) << k;

    for (auto args : std::vector<std::vector<std::string>>{
             {"--kind", "avi"},
             {"--kind", "avc", "--size", "100"},
             {"--kind", "avc", "--bogus", "1"},
             {"--kind", "avc", "--audio-samples", "4100"},
             {"--kind", "avc", "--key-stagger", "-1"},
             {"--kind", "dv4-h264", "--oversize", "1"}, // DV4 has no length field
             {"--kind", "avc", "--codec", "mpeg4", "--fields", "split"},
             {"--out", dir.file("x")}}) {
        mkrec::Recording r = mkrec::make(dir, "bad.avc", args);
        EXPECT_NE(r.status, 0) << r.output;
        EXPECT_NE(r.output.find("mkrec:"), std::string::npos) << r.output;
    }

    // Per-channel options: the message says what is wrong.
    for (auto c : std::vector<std::pair<std::vector<std::string>, std::string>>{
             {{"--kind", "avc", "--channel-gop", "2:10"}, "channel 2 is not in the video mask"},
             {{"--kind", "dv5-nvr", "--video-mask", "0x3", "--channel-stop", "3:5"},
              "channel 3 is not in the video mask"},
             {{"--kind", "dv4-h264", "--channel-gop", "2:10"}, "DV4 has channel 1 only"},
             {{"--kind", "avc", "--channel-gop", "1:0"}, "bad value for --channel-gop: 1:0"},
             {{"--kind", "avc", "--channel-stop", "1:-1"}, "bad value for --channel-stop: 1:-1"},
             {{"--kind", "avc", "--channel-gop", "17:5"}, "bad value for --channel-gop"},
             {{"--kind", "avc", "--channel-gop", "1"}, "bad value for --channel-gop"},
             {{"--kind", "avc", "--channel-stop", "1:5:6"}, "bad value for --channel-stop"},
             {{"--kind", "avc", "--channel-stop", "a:5"}, "bad value for --channel-stop"},
             {{"--kind", "avc", "--channel-gop", "1:5", "--channel-gop", "1:6"}, "names channel 1 twice"}}) {
        mkrec::Recording r = mkrec::make(dir, "bad.avc", c.first);
        EXPECT_EQ(r.status, 1) << r.output;
        EXPECT_NE(r.output.find("mkrec: "), std::string::npos) << r.output;
        EXPECT_NE(r.output.find(c.second), std::string::npos) << r.output;
    }
}

TEST(MkrecCommandLine, SameOptionsGiveSameBytes) {
    mkrec::TempDir dir;
    std::vector<std::string> args{"--kind",  "dv5-nvr",    "--video-mask", "0x5", "--audio-mask", "0x3",
                                  "--audio", "g723,pcm16", "--frames",     "12",  "--gop",        "5"};
    mkrec::Recording a = mkrec::make(dir, "a.dv5", args);
    mkrec::Recording b = mkrec::make(dir, "b.dv5", args);
    ASSERT_TRUE(a.ok()) << a.output;
    ASSERT_TRUE(b.ok()) << b.output;
    EXPECT_EQ(mkrec::readFile(a.path), mkrec::readFile(b.path));
    args.push_back("--threads");
    args.push_back("1");
    mkrec::Recording c = mkrec::make(dir, "c.dv5", args);
    ASSERT_TRUE(c.ok()) << c.output;
    EXPECT_EQ(mkrec::readFile(a.path), mkrec::readFile(c.path));
}

// Walks an AVC file by its own rules and checks each field against the manifest.
struct AvcWalk {
    uint32_t flags = 0, version = 0, total = 0, videoMask = 0, audioMask8 = 0, audioMask32 = 0;
    std::string title;
    uint64_t headerLen = 0;
};

AvcWalk walkAvcHeader(const std::vector<uint8_t> &b) {
    AvcWalk w;
    w.total = le(b, 48, 4);
    w.version = b.at(58);
    w.flags = le(b, 76, 4);
    uint64_t p = 80;
    if (w.flags & 0x2) p += 8;
    if (w.flags & 0x4) {
        w.videoMask = le(b, p, 4);
        p += 4;
    }
    if (w.flags & 0x8) {
        uint32_t len = le(b, p, 2);
        w.title.assign(b.begin() + static_cast<long>(p + 2), b.begin() + static_cast<long>(p + 2 + len));
        p += 2 + len;
    }
    if (w.flags & 0x10) p += 4;
    if (w.flags & 0x20) {
        w.audioMask8 = b.at(p);
        p += 1;
    }
    if (w.flags & 0x40) {
        w.audioMask32 = le(b, p, 4);
        p += 4;
    }
    if (w.flags & 0x80) p += 2;
    w.headerLen = p + 2;
    return w;
}

void checkAvcRecords(const std::vector<uint8_t> &b, const mkrec::Manifest &m, uint64_t first) {
    uint64_t p = first;
    for (const mkrec::Unit &u : m.units) {
        SCOPED_TRACE("unit " + std::to_string(u.index));
        ASSERT_EQ(p, u.offset);
        uint32_t f = le(b, p, 4);
        EXPECT_EQ(f, std::strtoul(u.attr("flags").c_str(), nullptr, 0));
        uint64_t q = p + 4;
        uint32_t len = 0;
        if (f & 0x1) {
            EXPECT_EQ(le(b, q, 4), u.index + 1);
            q += 4;
        }
        if (f & 0x2) {
            len = le(b, q, 4);
            q += 4;
        }
        if (f & 0x4) {
            EXPECT_EQ(le(b, q, 2), u.video ? std::stoul(m.get("width")) : 0u);
            q += 2;
        }
        if (f & 0x8) {
            EXPECT_EQ(le(b, q, 2), u.video ? std::stoul(m.get("height")) : 0u);
            q += 2;
        }
        if (f & 0x10) {
            EXPECT_EQ(le(b, q, 4), static_cast<uint32_t>(u.tUs / 1000));
            q += 4;
        }
        if (f & 0x20) {
            EXPECT_EQ(b.at(q), u.channel + 1);
            q += 1;
        }
        if (f & 0x40) q += 1;
        if (f & 0x80) {
            EXPECT_EQ(std::to_string(b.at(q)), u.attr("stream_type"));
            q += 1;
        }
        if (f & 0x100) {
            EXPECT_EQ(le(b, q, 4), static_cast<uint64_t>(u.tUs / 1000000) + kNtpOffset);
            q += 4;
        }
        if (f & 0x200) q += 8;
        if (f & 0x400) q += 1;
        if (f & 0x800) q += 1;
        if (f & 0x1000) {
            EXPECT_EQ(b.at(q), u.has("field") ? 1 : 0);
            q += 1;
        }
        if (f & 0x2000) {
            EXPECT_EQ(le(b, q, 4), static_cast<uint64_t>(u.tUs / 1000000) + kNtpOffset);
            q += 4;
        }
        if (f & 0x4000) q += 40;
        if (f & 0x8000) q += 16;
        if (f & 0x10000) q += 4;
        if (f & 0x20000000) {
            EXPECT_EQ(le(b, q, 2), 0x5641u);
            q += 2;
        }
        if (f & 0x40000000) q += 2;
        if (f & 0x80000000) q += 2;
        q += 2;
        EXPECT_EQ(q, u.payloadOffset);
        EXPECT_EQ(len, u.payloadLen);
        p = q + len;
    }
    EXPECT_EQ(p, b.size());
}

TEST(MkrecAvcLayout, MainHeaderFieldsAndRecords) {
    mkrec::TempDir dir;
    mkrec::Recording r =
        mkrec::make(dir, "t.avc", {"--kind",       "avc",          "--video-mask",      "0x203",
                                   "--audio-mask", "0x5",          "--codec",           "h264,mpeg4,mjpeg",
                                   "--audio",      "ulaw,g723",    "--frames",          "10",
                                   "--main-flags", "0xfe",         "--audio-mask-word", "0x9",
                                   "--title",      "1=Front door", "--title",           "10=Yard",
                                   "--vflags",     "0xe001ffff",   "--version",         "9",
                                   "--prefix",     "all",          "--extend-info",     "8"});
    ASSERT_TRUE(r.ok()) << r.output;
    std::vector<uint8_t> b = mkrec::readFile(r.path);
    const mkrec::Manifest &m = r.manifest;
    AvcWalk w = walkAvcHeader(b);
    EXPECT_EQ(w.flags, 0xFEu);
    EXPECT_EQ(w.version, 9u);
    EXPECT_EQ(w.videoMask, 0x203u);
    EXPECT_EQ(w.audioMask8, 0x5u);
    EXPECT_EQ(w.audioMask32, 0x9u);
    // One line per channel up to the highest video channel (10), in channel order.
    EXPECT_EQ(w.title,
              "CH1.Title=Front door\nCH2.Title=\nCH3.Title=\nCH4.Title=\nCH5.Title=\nCH6.Title=\nCH7.Title=\n"
              "CH8.Title=\nCH9.Title=\nCH10.Title=Yard\n");
    EXPECT_EQ(w.total, m.units.size());
    EXPECT_EQ(w.headerLen, static_cast<uint64_t>(m.num("header_len")));
    // Three video channels of 10 frames and two audio channels of 10 packets of 40 ms.
    EXPECT_EQ(m.video().size(), 30u);
    EXPECT_EQ(m.audio().size(), 20u);
    ASSERT_EQ(m.videoChannels.size(), 3u);
    EXPECT_EQ(m.videoChannels[0].at("title"), "Front door");
    EXPECT_EQ(m.videoChannels[2].at("ch"), "9");
    EXPECT_EQ(m.videoChannels[2].at("codec"), "mjpeg");
    checkAvcRecords(b, m, w.headerLen);
    expectPayloadsMatch(b, m);

    // Version 9 prefixes: video 48 + 8 bytes of extend info, audio 42; each starts as the
    // recorder's own header does.
    for (const mkrec::Unit &u : m.units) {
        SCOPED_TRACE("unit " + std::to_string(u.index));
        ASSERT_EQ(u.prefixLen, u.video ? 56u : 42u);
        EXPECT_EQ(le(b, u.payloadOffset, 4), 0x01000000u);
        EXPECT_EQ(b[u.payloadOffset + 4], u.video ? 0x1F : 0x1E);
        EXPECT_EQ(b[u.payloadOffset + 5], 0x0F);
        if (u.video) {
            EXPECT_EQ(b[u.payloadOffset + 22] & 0x20, 0x20);
            EXPECT_EQ(le(b, u.payloadOffset + 44, 4), 8u);
        }
    }
}

TEST(MkrecAvcLayout, HeaderWithoutOptionalFieldsAndShortPrefixes) {
    mkrec::TempDir dir;
    mkrec::Recording r = mkrec::make(dir, "t.avc",
                                     {"--kind", "avc", "--main-flags", "0", "--frames", "5", "--prefix",
                                      "video", "--aflags", "0x1b3", "--vflags", "0x2"});
    ASSERT_TRUE(r.ok()) << r.output;
    std::vector<uint8_t> b = mkrec::readFile(r.path);
    EXPECT_EQ(walkAvcHeader(b).headerLen, 82u);
    checkAvcRecords(b, r.manifest, 82);
    for (const mkrec::Unit *u : r.manifest.video()) {
        EXPECT_EQ(u->prefixLen, 20u);
        EXPECT_EQ(u->headerLen, 4u + 4u + 2u); // flags, length, trailing word
    }
    for (const mkrec::Unit *u : r.manifest.audio())
        EXPECT_EQ(u->prefixLen, 0u);
}

TEST(MkrecAvcLayout, ExpectedIndexRecords) {
    mkrec::TempDir dir;
    // 150 video frames and 150 audio packets: 300 records.
    mkrec::Recording r =
        mkrec::make(dir, "t.avc", {"--kind", "avc", "--size", "64x48", "--frames", "150", "--gop", "30"});
    ASSERT_TRUE(r.ok()) << r.output;
    std::vector<uint8_t> idx = mkrec::readFile(r.expectedIdxPath);
    ASSERT_EQ(r.manifest.units.size(), 300u);
    ASSERT_EQ(idx.size(), 10800u);
    for (const mkrec::Unit &u : r.manifest.units) {
        uint64_t at = u.index * 36;
        EXPECT_EQ(le(idx, at, 4), 0u);
        EXPECT_EQ(le(idx, at + 4, 4), 0u);
        EXPECT_EQ(le(idx, at + 8, 4), u.offset);
        uint32_t type = le(idx, at + 12, 4);
        EXPECT_EQ(type, u.video ? (u.key ? 0x1001u : 0x1002u) : 0x8001u) << u.index;
        for (uint64_t k = 16; k < 36; ++k)
            EXPECT_EQ(idx[at + k], 0) << u.index;
    }
    // One key frame every 30 frames.
    size_t keys = 0;
    for (const mkrec::Unit *u : r.manifest.video())
        keys += u->key;
    EXPECT_EQ(keys, 5u);
}

TEST(MkrecDv5Layout, NvrAndDvrUnits) {
    for (std::string kind : {"dv5-nvr", "dv5-dvr700"}) {
        SCOPED_TRACE(kind);
        const bool nvr = kind == "dv5-nvr";
        mkrec::TempDir dir;
        mkrec::Recording r =
            mkrec::make(dir, "t.dv5",
                        {"--kind", kind, "--video-mask", "0x8001", "--audio-mask", "0x2", "--audio", "pcm8",
                         "--frames", "8", "--ext-len", "8", "--ext-every", "2", "--fields", "stacked"});
        ASSERT_TRUE(r.ok()) << r.output;
        std::vector<uint8_t> b = mkrec::readFile(r.path);
        const mkrec::Manifest &m = r.manifest;
        ASSERT_GE(b.size(), 1448u);
        EXPECT_EQ(std::string(reinterpret_cast<const char *>(&b[36])), nvr ? "NVR" : "700");
        EXPECT_EQ(le(b, 416, 4), 0x8001u);
        EXPECT_EQ(le(b, 420, 4), 0x2u);
        uint64_t p = 1448;
        std::map<int, int> seen;
        for (const mkrec::Unit &u : m.units) {
            SCOPED_TRACE("unit " + std::to_string(u.index));
            ASSERT_EQ(p, u.offset);
            ASSERT_EQ(le(b, p, 4), 0x01000000u);
            ASSERT_EQ(b[p + 4], u.video ? 0x1F : 0x1E);
            uint64_t q;
            uint32_t len;
            if (u.video) {
                EXPECT_EQ(b[p + 8], 1); // field flag
                const int n = seen[u.channel]++;
                const bool ext = n % 2 == 0;
                EXPECT_EQ(b[p + 10] & 0x20, ext ? 0x20 : 0);
                EXPECT_EQ(le(b, p + 12, 4), static_cast<uint64_t>(u.tUs / 1000000));
                if (nvr) {
                    EXPECT_EQ(le(b, p + 20, 4), static_cast<uint64_t>(u.tUs / 1000000));
                    EXPECT_EQ(le(b, p + 24, 4), static_cast<uint64_t>(u.tUs % 1000000));
                    len = le(b, p + 32, 4);
                    EXPECT_EQ(b[p + 40], u.channel);
                    q = p + 41;
                } else {
                    EXPECT_EQ(le(b, p + 16, 4), static_cast<uint64_t>(u.tUs % 1000000));
                    len = le(b, p + 20, 4);
                    EXPECT_EQ(b[p + 28], u.channel);
                    q = p + 29;
                }
                if (ext) q += 4 + le(b, q, 4);
                // Payload starts with a start code; key frames with the sequence parameter set.
                EXPECT_EQ(le(b, q, 4), 0x01000000u);
                if (u.key) {
                    EXPECT_EQ(b[q + 4] & 0x1F, 7);
                }
            } else {
                EXPECT_EQ(b[p + 6], 0x06); // 8-bit PCM
                len = le(b, p + 8, 4);
                EXPECT_EQ(b[p + (nvr ? 42 : 20)], u.channel);
                q = p + (nvr ? 43 : 21);
            }
            EXPECT_EQ(q, u.payloadOffset);
            EXPECT_EQ(len, u.payloadLen);
            p = q + len;
        }
        EXPECT_EQ(p, b.size());
        EXPECT_EQ(seen[0], 8);
        EXPECT_EQ(seen[15], 8);
        expectPayloadsMatch(b, m);
    }
}

TEST(MkrecDv4Layout, H264AndMpeg4Units) {
    for (std::string kind : {"dv4-h264", "dv4-mpeg4"}) {
        SCOPED_TRACE(kind);
        const bool h264 = kind == "dv4-h264";
        mkrec::TempDir dir;
        mkrec::Recording r = mkrec::make(dir, "t.dv4",
                                         {"--kind", kind, "--frames", "10", "--audio", "g723", "--start",
                                          "2023-05-06T07:08:09", "--gap", "5:-3.5"});
        ASSERT_TRUE(r.ok()) << r.output;
        std::vector<uint8_t> b = mkrec::readFile(r.path);
        const uint64_t start = 1683356889; // 2023-05-06T07:08:09Z
        for (const mkrec::Unit &u : r.manifest.units) {
            SCOPED_TRACE("unit " + std::to_string(u.index));
            const uint64_t p = u.offset;
            uint64_t sec, usec;
            if (h264) {
                ASSERT_EQ(le(b, p, 4), 0x01000000u);
                ASSERT_EQ(b[p + 4], u.video ? 0x1F : 0x1E);
                if (!u.video) {
                    EXPECT_EQ(b[p + 6], 0x09);
                }
                sec = le(b, p + 12, 4);
                usec = le(b, p + 16, 4);
                EXPECT_EQ(u.headerLen, 20u);
            } else {
                ASSERT_EQ(le(b, p, 4), 0xB2010000u);
                EXPECT_EQ(b[p + 4], 0x0F);
                EXPECT_EQ(b[p + 5], u.video ? 0x01 : 0x09);
                sec = le(b, p + 6, 4);
                usec = le(b, p + 10, 4);
                EXPECT_EQ(u.headerLen, u.video ? 14u : 18u);
            }
            // 25 frames a second; from frame 5 on the clock is 3.5 s behind.
            const int64_t rel = u.frame * 40000LL; // audio packets are 40 ms, like the frames
            const int64_t t = static_cast<int64_t>(start) * 1000000 + rel - (u.frame >= 5 ? 3500000 : 0);
            EXPECT_EQ(sec, static_cast<uint64_t>(t / 1000000));
            EXPECT_EQ(usec, static_cast<uint64_t>(t % 1000000));
            if (u.index + 1 < r.manifest.units.size()) {
                EXPECT_EQ(u.payloadOffset + u.payloadLen, r.manifest.units[u.index + 1].offset);
            }
            if (u.video && u.key && h264) {
                EXPECT_EQ(b[p + 24], 0x67);
            }
        }
        expectPayloadsMatch(b, r.manifest);
    }
}

} // namespace
