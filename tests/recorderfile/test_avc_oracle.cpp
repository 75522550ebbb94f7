// Picture sizes and key frames that the recorder-file code finds in generated
// AVC recordings, against what FFmpeg's ffprobe reports for the same
// elementary streams (as extracted by our reader).
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "common/mkrec_fixture.h"
#include "common/run_cmd.h"
#include "recorderfile/avc_reading.h"

namespace {

struct Probe {
    int width = 0, height = 0;
    std::vector<int> keys; // per packet: 1 when ffprobe flags it as a key packet
};

Probe ffprobe(const std::string &path, const std::string &format) {
    Probe p;
    std::string out;
    if (testutil::runCommand("ffprobe -v error -f " + format +
                                 " -show_entries stream=width,height -of csv=p=0 '" + path + "'",
                             &out) == 0)
        std::sscanf(out.c_str(), "%d,%d", &p.width, &p.height);
    out.clear();
    if (testutil::runCommand("ffprobe -v error -f " + format + " -show_entries packet=flags -of csv=p=0 '" +
                                 path + "'",
                             &out) == 0) {
        std::istringstream lines(out);
        std::string line;
        while (std::getline(lines, line))
            if (!line.empty()) p.keys.push_back(line[0] == 'K' ? 1 : 0);
    }
    return p;
}

} // namespace

TEST(AvcOracle, SizesAndKeyFramesMatchFfprobe) {
    if (!testutil::haveTool("ffprobe")) GTEST_SKIP() << "ffprobe is not installed";
    mkrec::TempDir dir;
    struct Stream {
        int channel;
        const char *format;
        unsigned char type;
    };
    const Stream streams[] = {{0, "h264", 8}, {1, "m4v", 1}, {2, "mjpeg", 2}};
    for (const char *size : {"200x120", "352x288", "320x180", "64x48"}) {
        SCOPED_TRACE(size);
        // No width or height in the frame headers: the sizes come from the streams.
        const std::string name = std::string("s") + size + ".avc";
        const mkrec::Recording rec = mkrec::make(
            dir, name,
            {"--kind",    "avc", "--video-mask", "0x7", "--codec",  "h264,mpeg4,mjpeg", "--size",       size,
             "--frames",  "8",   "--gop",        "3",   "--vflags", "0x31b3",           "--audio-mask", "0x1",
             "--version", "9",   "--prefix",     "all"});
        ASSERT_TRUE(rec.ok()) << rec.output;
        const auto file = avcread::readAll(rec.path);
        ASSERT_EQ(file->endResult, 0);
        for (const Stream &s : streams) {
            SCOPED_TRACE(s.format);
            std::vector<uint8_t> es;
            std::vector<const avcread::Frame *> frames;
            for (const auto &f : file->frames) {
                if (f.header.byChannel == s.channel + 1 && f.header.byStreamType == s.type) {
                    es.insert(es.end(), f.es.begin(), f.es.end());
                    frames.push_back(&f);
                }
            }
            ASSERT_EQ(frames.size(), 8u);
            const std::string esPath = dir.file(name + "." + s.format);
            FILE *out = std::fopen(esPath.c_str(), "wb");
            ASSERT_NE(out, nullptr);
            std::fwrite(es.data(), 1, es.size(), out);
            std::fclose(out);
            const Probe p = ffprobe(esPath, s.format);
            ASSERT_GT(p.width, 0);
            ASSERT_EQ(p.keys.size(), frames.size());

            int sized = 0;
            for (size_t i = 0; i < frames.size(); ++i) {
                const avcread::Frame &f = *frames[i];
                EXPECT_EQ(f.header.wWidth, 0) << "the header carries no size";
                EXPECT_EQ(f.key, p.keys[i]) << "frame " << i;
                if (s.type == 2) {
                    EXPECT_EQ(f.width, 0) << "Motion JPEG sizes are not probed";
                    continue;
                }
                if (f.width != 0 || f.height != 0) {
                    EXPECT_EQ(f.width, p.width) << "frame " << i;
                    EXPECT_EQ(f.height, p.height) << "frame " << i;
                    ++sized;
                }
            }
            if (s.type != 2) {
                EXPECT_NE(frames[0]->width, 0) << "the first frame carries the stream headers";
                EXPECT_GT(sized, 0);
                // A size is taken from the stream when either half is missing,
                // and a header that gives both keeps its own.
                std::vector<uint8_t> first = frames[0]->es;
                unsigned short w = 704, h = 0;
                fix_width_hight(reinterpret_cast<char *>(first.data()), first.size(), s.type, &w, &h);
                EXPECT_EQ(w, p.width);
                EXPECT_EQ(h, p.height);
                w = 704;
                h = 576;
                fix_width_hight(reinterpret_cast<char *>(first.data()), first.size(), s.type, &w, &h);
                EXPECT_EQ(w, 704);
                EXPECT_EQ(h, 576);
            }
        }
    }
}
