// Checks the generated payloads with FFmpeg's and sox's own decoders: the video payloads of
// each channel decode to the same frames as the encoder's own stream, and the audio payloads
// decode to each channel's tone.
#include <gtest/gtest.h>

#include <cmath>
#include <fstream>

#include "common/mkrec_fixture.h"

namespace {

void writeBytes(const std::string &path, const std::vector<uint8_t> &b) {
    std::ofstream f(path, std::ios::binary);
    f.write(reinterpret_cast<const char *>(b.data()), static_cast<std::streamsize>(b.size()));
}

// The per-frame MD5s that ffmpeg prints for a raw stream.
std::vector<std::string> frameMd5s(const mkrec::TempDir &dir, const std::string &format,
                                   const std::string &in) {
    std::string out = in + ".framemd5";
    int rc = mkrec::runProgram(
        {"ffmpeg", "-nostdin", "-v", "error", "-f", format, "-i", in, "-f", "framemd5", "-y", out},
        dir.file("ffmpeg.log"));
    EXPECT_EQ(rc, 0) << mkrec::readText(dir.file("ffmpeg.log"));
    std::vector<std::string> md5s;
    std::ifstream f(out);
    std::string line;
    while (std::getline(f, line)) {
        if (line.empty() || line[0] == '#') continue;
        md5s.push_back(line.substr(line.rfind(' ') + 1));
    }
    return md5s;
}

// ffprobe's key-frame flag of each decoded frame.
std::vector<int> keyFlags(const mkrec::TempDir &dir, const std::string &format, const std::string &in) {
    std::string out = in + ".keys";
    EXPECT_EQ(mkrec::runProgram({"ffprobe", "-v", "error", "-f", format, "-select_streams", "v:0",
                                 "-show_entries", "frame=key_frame", "-of", "csv=p=0", "-o", out, in},
                                dir.file("ffprobe.log")),
              0)
        << mkrec::readText(dir.file("ffprobe.log"));
    std::vector<int> keys;
    std::ifstream f(out);
    std::string line;
    while (std::getline(f, line))
        if (!line.empty()) keys.push_back(line[0] == '1');
    return keys;
}

std::vector<uint8_t> concatPayloads(const std::vector<uint8_t> &file,
                                    const std::vector<const mkrec::Unit *> &units) {
    std::vector<uint8_t> all;
    for (const mkrec::Unit *u : units) {
        std::vector<uint8_t> p = mkrec::payload(file, *u, true);
        all.insert(all.end(), p.begin(), p.end());
    }
    return all;
}

// Decodes raw audio with ffmpeg to 16-bit samples.
std::vector<int16_t> decodeAudio(const mkrec::TempDir &dir, const std::vector<std::string> &inputArgs,
                                 const std::string &in) {
    std::string out = in + ".s16";
    std::vector<std::string> argv{"ffmpeg", "-nostdin", "-v", "error"};
    argv.insert(argv.end(), inputArgs.begin(), inputArgs.end());
    for (const char *a : {"-i", in.c_str(), "-f", "s16le", "-acodec", "pcm_s16le", "-y", out.c_str()})
        argv.push_back(a);
    EXPECT_EQ(mkrec::runProgram(argv, dir.file("ffmpeg.log")), 0) << mkrec::readText(dir.file("ffmpeg.log"));
    std::vector<uint8_t> b = mkrec::readFile(out);
    std::vector<int16_t> s(b.size() / 2);
    for (size_t i = 0; i < s.size(); ++i)
        s[i] = static_cast<int16_t>(b[2 * i] | (b[2 * i + 1] << 8));
    return s;
}

// Frequency of a tone by counting rising zero crossings (with a little hysteresis).
double toneHz(const std::vector<int16_t> &s) {
    int crossings = 0;
    bool low = true;
    for (int16_t x : s) {
        if (low && x > 500) {
            ++crossings;
            low = false;
        } else if (!low && x < -500)
            low = true;
    }
    return s.empty() ? 0.0 : crossings * 8000.0 / static_cast<double>(s.size());
}

double rms(const std::vector<int16_t> &s) {
    double a = 0;
    for (int16_t x : s)
        a += static_cast<double>(x) * x;
    return s.empty() ? 0 : std::sqrt(a / static_cast<double>(s.size()));
}

TEST(MkrecOracle, VideoPayloadsDecodeLikeTheEncoderOutput) {
    struct Case {
        std::string kind, codec, esExt, format;
        int gop5 = 10; // key-frame interval of channel 5 (0-based 4); others have 10
    };
    for (const Case &c : std::vector<Case>{{"avc", "h264", "h264", "h264"},
                                           {"avc", "mpeg4", "m4v", "m4v"},
                                           {"avc", "mjpeg", "mjpeg", "mjpeg"},
                                           {"dv4-h264", "h264", "h264", "h264"},
                                           {"dv4-mpeg4", "mpeg4", "m4v", "m4v"},
                                           {"dv5-nvr", "h264", "h264", "h264"},
                                           {"dv5-dvr700", "h264", "h264", "h264"},
                                           {"avc", "mpeg4", "m4v", "m4v", 4},
                                           {"dv5-nvr", "h264", "h264", "h264", 7}}) {
        SCOPED_TRACE(c.kind + " " + c.codec + " channel 5 gop " + std::to_string(c.gop5));
        mkrec::TempDir dir;
        std::vector<std::string> args{"--kind", c.kind,  "--codec", c.codec,    "--frames",
                                      "30",     "--gop", "10",      "--es-dir", dir.file("es")};
        if (c.kind == "avc" || c.kind.rfind("dv5", 0) == 0) {
            args.insert(args.end(), {"--video-mask", "0x11"});
        }
        if (c.kind == "avc") args.insert(args.end(), {"--prefix", "all", "--version", "9"});
        if (c.gop5 != 10) args.insert(args.end(), {"--channel-gop", "5:" + std::to_string(c.gop5)});
        mkrec::Recording r = mkrec::make(dir, "t.rec", args);
        ASSERT_TRUE(r.ok()) << r.output;
        std::vector<uint8_t> file = mkrec::readFile(r.path);
        for (const auto &ch : r.manifest.videoChannels) {
            int n = std::stoi(ch.at("ch"));
            std::vector<const mkrec::Unit *> units = r.manifest.video(n);
            ASSERT_EQ(units.size(), 30u);
            std::string cat = dir.file("cat-" + std::to_string(n) + "." + c.esExt);
            writeBytes(cat, concatPayloads(file, units));
            std::vector<std::string> got = frameMd5s(dir, c.format, cat);
            std::vector<std::string> want =
                frameMd5s(dir, c.format, dir.file("es/video-ch" + std::to_string(n) + "." + c.esExt));
            EXPECT_EQ(got.size(), 30u);
            EXPECT_EQ(got, want);
            // The manifest's key frames are the ones the decoder sees as key frames.
            std::vector<int> keys = keyFlags(dir, c.format, cat);
            ASSERT_EQ(keys.size(), units.size());
            for (size_t i = 0; i < units.size(); ++i) {
                EXPECT_EQ(keys[i], units[i]->key ? 1 : 0) << i;
                if (c.codec != "mjpeg") {
                    EXPECT_EQ(units[i]->key, i % static_cast<size_t>(n == 4 ? c.gop5 : 10) == 0) << i;
                }
            }
        }
    }
}

// Payloads that begin with an access-unit delimiter or SEI, or whose units carry extension
// blocks, still decode to the encoder's frames.
TEST(MkrecOracle, Dv5LeadNalUnitsAndExtensionsKeepTheFrames) {
    for (std::string lead : {"aud", "sei"}) {
        mkrec::TempDir dir;
        mkrec::Recording r =
            mkrec::make(dir, "t.dv5",
                        {"--kind", "dv5-nvr", "--lead", lead, "--lead-every", "2", "--ext-len", "12",
                         "--ext-every", "3", "--frames", "16", "--gop", "8", "--es-dir", dir.file("es")});
        ASSERT_TRUE(r.ok()) << r.output;
        std::vector<uint8_t> file = mkrec::readFile(r.path);
        std::string cat = dir.file("cat.h264");
        writeBytes(cat, concatPayloads(file, r.manifest.video(0)));
        std::vector<std::string> got = frameMd5s(dir, "h264", cat);
        EXPECT_EQ(got.size(), 16u);
        EXPECT_EQ(got, frameMd5s(dir, "h264", dir.file("es/video-ch0.h264")));
    }
}

TEST(MkrecOracle, SplitFieldFramesDecodeAsTwoPictures) {
    mkrec::TempDir dir;
    mkrec::Recording r =
        mkrec::make(dir, "t.dv5", {"--kind", "dv5-nvr", "--fields", "split", "--frames", "12", "--gop", "6"});
    ASSERT_TRUE(r.ok()) << r.output;
    std::vector<uint8_t> file = mkrec::readFile(r.path);
    std::vector<const mkrec::Unit *> units = r.manifest.video(0);
    ASSERT_EQ(units.size(), 12u);
    for (const mkrec::Unit *u : units) {
        std::vector<uint8_t> p = mkrec::payload(file, *u);
        // Exactly one second-field marker, not at the start.
        int marks = 0;
        for (size_t i = 1; i + 5 <= p.size(); ++i)
            marks += p[i] == 0 && p[i + 1] == 0 && p[i + 2] == 0 && p[i + 3] == 1 && p[i + 4] == 1;
        EXPECT_EQ(marks, 1) << u->index;
    }
    std::string cat = dir.file("cat.h264");
    writeBytes(cat, concatPayloads(file, units));
    std::vector<std::string> md5s = frameMd5s(dir, "h264", cat);
    ASSERT_EQ(md5s.size(), 24u);
    // The second field shows the picture moved, so it differs from the first.
    for (size_t i = 0; i < md5s.size(); i += 2)
        EXPECT_NE(md5s[i], md5s[i + 1]) << i;
    // Field pictures have half the frame height.
    std::string log = dir.file("probe.txt");
    ASSERT_EQ(mkrec::runProgram({"ffprobe", "-v", "error", "-select_streams", "v:0", "-show_entries",
                                 "stream=width,height", "-of", "csv=p=0", cat},
                                log),
              0);
    EXPECT_EQ(mkrec::readText(log).substr(0, 6), "176,72");
}

TEST(MkrecOracle, AudioPayloadsDecodeToEachChannelsTone) {
    struct Case {
        std::string format;
        std::vector<std::string> ffmpegIn;
    };
    for (const Case &c : std::vector<Case>{{"ulaw", {"-f", "mulaw", "-ar", "8000", "-ac", "1"}},
                                           {"pcm8", {"-f", "u8", "-ar", "8000", "-ac", "1"}},
                                           {"pcm16", {"-f", "s16le", "-ar", "8000", "-ac", "1"}},
                                           {"pcm16b", {"-f", "s16le", "-ar", "8000", "-ac", "1"}}}) {
        for (std::string kind : {"avc", "dv5-dvr700", "dv4-h264"}) {
            SCOPED_TRACE(c.format + " " + kind);
            mkrec::TempDir dir;
            std::string mask = kind == "dv4-h264" ? "0x1" : "0x9";
            mkrec::Recording r = mkrec::make(dir, "t.rec",
                                             {"--kind", kind, "--audio", c.format, "--audio-mask", mask,
                                              "--frames", "25", "--size", "64x48"});
            ASSERT_TRUE(r.ok()) << r.output;
            std::vector<uint8_t> file = mkrec::readFile(r.path);
            ASSERT_FALSE(r.manifest.audioChannels.empty());
            for (const auto &ch : r.manifest.audioChannels) {
                int n = std::stoi(ch.at("ch"));
                std::vector<const mkrec::Unit *> units = r.manifest.audio(n);
                ASSERT_EQ(units.size(), 25u); // 1 s of 40 ms packets
                std::string raw = dir.file("a" + std::to_string(n) + ".raw");
                writeBytes(raw, concatPayloads(file, units));
                std::vector<int16_t> s = decodeAudio(dir, c.ffmpegIn, raw);
                EXPECT_EQ(s.size(), 8000u);
                double want = std::stod(ch.at("tone_hz"));
                EXPECT_NEAR(toneHz(s), want, want * 0.02);
                EXPECT_GT(rms(s), 5000.0);
            }
        }
    }
}

// Each G.723 packet is decoded on its own, from a fresh decoder, by sox (as a Sun audio file
// with encoding 25, 3-bit G.723 ADPCM) and by ffmpeg.
TEST(MkrecOracle, G723PacketsDecodeOneByOne) {
    mkrec::TempDir dir;
    mkrec::Recording r = mkrec::make(dir, "t.avc",
                                     {"--kind", "avc", "--audio", "g723", "--audio-mask", "0x22", "--frames",
                                      "25", "--size", "64x48", "--audio-samples", "800"});
    ASSERT_TRUE(r.ok()) << r.output;
    std::vector<uint8_t> file = mkrec::readFile(r.path);
    for (const auto &ch : r.manifest.audioChannels) {
        int n = std::stoi(ch.at("ch"));
        double want = std::stod(ch.at("tone_hz"));
        std::vector<const mkrec::Unit *> units = r.manifest.audio(n);
        ASSERT_EQ(units.size(), 10u);
        std::vector<int16_t> soxAll, ffAll;
        for (const mkrec::Unit *u : units) {
            std::vector<uint8_t> p = mkrec::payload(file, *u);
            ASSERT_EQ(p.size(), 300u); // 800 samples of 3 bits
            // Sun .au header, big-endian: magic, data offset, size, encoding 25, rate, channels.
            std::vector<uint8_t> au;
            for (uint32_t v : {0x2e736e64u, 24u, static_cast<uint32_t>(p.size()), 25u, 8000u, 1u})
                for (int k = 3; k >= 0; --k)
                    au.push_back(static_cast<uint8_t>(v >> (8 * k)));
            au.insert(au.end(), p.begin(), p.end());
            std::string auPath = dir.file("p.au"), out = dir.file("p.s16");
            writeBytes(auPath, au);
            ASSERT_EQ(
                mkrec::runProgram({"sox", auPath, "-t", "raw", "-e", "signed-integer", "-b", "16", "-L", out},
                                  dir.file("sox.log")),
                0)
                << mkrec::readText(dir.file("sox.log"));
            std::vector<uint8_t> b = mkrec::readFile(out);
            for (size_t i = 0; i + 1 < b.size(); i += 2)
                soxAll.push_back(static_cast<int16_t>(b[i] | (b[i + 1] << 8)));
            std::string raw = dir.file("p.g726");
            writeBytes(raw, p);
            std::vector<int16_t> s =
                decodeAudio(dir, {"-f", "g726le", "-code_size", "3", "-ar", "8000", "-ac", "1"}, raw);
            EXPECT_EQ(s.size(), 800u);
            ffAll.insert(ffAll.end(), s.begin(), s.end());
        }
        EXPECT_EQ(soxAll.size(), 8000u);
        EXPECT_NEAR(toneHz(soxAll), want, want * 0.03);
        EXPECT_NEAR(toneHz(ffAll), want, want * 0.03);
        EXPECT_GT(rms(soxAll), 3000.0);
    }
}

// The fixture's own MD5 agrees with md5sum.
TEST(MkrecOracle, FixtureMd5MatchesMd5sum) {
    mkrec::TempDir dir;
    std::vector<uint8_t> data;
    for (int i = 0; i < 1000; ++i)
        data.push_back(static_cast<uint8_t>(i * 7 + (i >> 3)));
    for (size_t n : {0u, 1u, 55u, 56u, 64u, 1000u}) {
        std::vector<uint8_t> part(data.begin(), data.begin() + static_cast<long>(n));
        writeBytes(dir.file("d"), part);
        ASSERT_EQ(mkrec::runProgram({"md5sum", dir.file("d")}, dir.file("m")), 0);
        EXPECT_EQ(mkrec::readText(dir.file("m")).substr(0, 32), mkrec::md5Hex(part)) << n;
    }
}

} // namespace
