// Checks the MPEG-4 Part 2 probes against streams made by FFmpeg's mpeg4
// encoder and libxvid and read back by ffprobe.
#include "streaminfo/mpeg4_probe.h"

#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "oracle_util.h"

namespace {

struct Mpeg4Spec {
    std::string name;
    std::string source; // lavfi source options
    std::string encode;
};

TEST(Mpeg4Oracle, DimensionsMatchFfprobe) {
    REQUIRE_FFMPEG();
    testutil::TempDir dir;
    const std::string bitexact = "-c:v mpeg4 -flags +bitexact";
    const std::vector<Mpeg4Spec> streams = {
        {"odd_ntsc_par", "testsrc=size=641x481:rate=30000/1001", "-vf setsar=17/11 " + bitexact},
        {"qcif", "testsrc=size=176x144:rate=25", bitexact},
        {"odd_wide", "testsrc=size=1279x719:rate=25", bitexact + " -bf 2"},
        {"tiny_odd", "testsrc=size=33x17:rate=24", bitexact},
        {"interlaced", "testsrc=size=720x576:rate=25", "-c:v mpeg4 -flags +bitexact+ildct"},
        {"vbv", "testsrc=size=352x288:rate=30000/1001", bitexact + " -b:v 400k -maxrate 800k -bufsize 400k"},
        {"xvid_vga", "testsrc=size=640x480:rate=30000/1001", "-c:v libxvid"},
        {"xvid_cif_par", "testsrc=size=352x288:rate=25", "-vf setsar=12/11 -c:v libxvid"},
        {"xvid_hd", "testsrc=size=1280x720:rate=50", "-c:v libxvid -bf 0"},
    };
    for (const auto &s : streams) {
        SCOPED_TRACE(s.name);
        const std::string path = dir.file(s.name + ".m4v");
        ASSERT_TRUE(
            ffmpeg("-f lavfi -i " + s.source + " -frames:v 3 " + s.encode + " -f m4v '" + path + "'"));
        std::vector<uint8_t> data = read_file(path);
        ASSERT_GT(data.size(), 20u);
        int pw = 0, ph = 0;
        ASSERT_TRUE(ffprobe_size(path, &pw, &ph));
        int w = -1, h = -1;
        ASSERT_EQ(getMpeg4Dimensions(reinterpret_cast<const char *>(data.data()), int(data.size()), &w, &h),
                  1);
        EXPECT_EQ(w, pw);
        EXPECT_EQ(h, ph);
    }
}

// Our frame type of every packet against ffprobe's pict_type of the frame
// decoded from it (matched by the packet's byte position).
void check_frame_types(const std::string &path, size_t min_packets, bool want_b) {
    std::vector<uint8_t> data = read_file(path);
    std::string out;
    ASSERT_EQ(testutil::runCommand(
                  "ffprobe -v error -show_entries packet=pos,size -of compact=p=0 '" + path + "'", &out),
              0);
    std::map<long, int> packet_size;
    for (const auto &line : split_lines(out)) {
        auto kv = parse_compact(line);
        packet_size[std::atol(kv["pos"].c_str())] = std::atoi(kv["size"].c_str());
    }
    out.clear();
    ASSERT_EQ(
        testutil::runCommand(
            "ffprobe -v error -show_entries frame=pkt_pos,pict_type -of compact=p=0 '" + path + "'", &out),
        0);
    const std::map<std::string, int> codes = {{"I", 0}, {"P", 1}, {"B", 2}, {"S", 3}};
    size_t checked = 0;
    int counts[4] = {0, 0, 0, 0};
    for (const auto &line : split_lines(out)) {
        auto kv = parse_compact(line);
        long pos = std::atol(kv["pkt_pos"].c_str());
        ASSERT_TRUE(packet_size.count(pos)) << line;
        ASSERT_TRUE(codes.count(kv["pict_type"])) << line;
        int size = packet_size[pos];
        ASSERT_LE(size_t(pos) + size, data.size());
        int type = getMpeg4FrameType(data.data() + pos, size);
        EXPECT_EQ(type, codes.at(kv["pict_type"])) << "packet at " << pos;
        counts[codes.at(kv["pict_type"])]++;
        checked++;
    }
    EXPECT_GE(checked, min_packets);
    EXPECT_GT(counts[0], 1);
    EXPECT_GT(counts[1], 10);
    if (want_b) {
        EXPECT_GT(counts[2], 10);
    }
}

TEST(Mpeg4Oracle, FrameTypesMatchFfprobe) {
    REQUIRE_FFMPEG();
    testutil::TempDir dir;
    const std::string mp4 = dir.file("bframes.m4v");
    ASSERT_TRUE(ffmpeg("-f lavfi -i testsrc=size=176x144:rate=25 -frames:v 240 -c:v mpeg4 -flags +bitexact "
                       "-bf 2 -g 24 -f m4v '" +
                       mp4 + "'"));
    check_frame_types(mp4, 200, true);
    // libxvid packs B-frames together with others, so without them here.
    const std::string xvid = dir.file("xvid.m4v");
    ASSERT_TRUE(ffmpeg("-f lavfi -i testsrc=size=176x144:rate=25 -frames:v 60 -c:v libxvid -bf 0 -g 20 "
                       "-f m4v '" +
                       xvid + "'"));
    check_frame_types(xvid, 60, false);
}

} // namespace
