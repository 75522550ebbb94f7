// Generated AVC recordings read back through the header and frame readers and
// the index functions, compared with the generator's manifest and its
// expected ".idx".
#include <gtest/gtest.h>

#include <algorithm>
#include <ctime>
#include <map>
#include <string>
#include <vector>

#include "common/mkrec_fixture.h"
#include "recorderfile/avc_reading.h"

namespace {

using Args = std::vector<std::string>;

constexpr int64_t kSeconds1900To1970 = 2208988800LL;

uint32_t hexAttr(const mkrec::Unit &u, const char *key) {
    return std::strtoul(u.attr(key).c_str(), nullptr, 0);
}

// Calendar fields of a Unix time, from the C library.
struct tm utc(int64_t unixSeconds) {
    time_t t = static_cast<time_t>(unixSeconds);
    struct tm out = {};
    gmtime_r(&t, &out);
    return out;
}

void expectTime(const _SYSTEMTIME &st, int64_t unixSeconds, const std::string &what) {
    const struct tm tm = utc(unixSeconds);
    EXPECT_EQ(st.wYear, tm.tm_year + 1900) << what;
    EXPECT_EQ(st.wMonth, tm.tm_mon + 1) << what;
    EXPECT_EQ(st.wDay, tm.tm_mday) << what;
    EXPECT_EQ(st.wHour, tm.tm_hour) << what;
    EXPECT_EQ(st.wMinute, tm.tm_min) << what;
    EXPECT_EQ(st.wSecond, tm.tm_sec) << what;
    EXPECT_EQ(st.wDayOfWeek, tm.tm_wday) << what;
    EXPECT_EQ(st.wMilliseconds, 0) << what;
}

// One line per channel from 1 to the highest video channel, empty where no title was given.
std::string titleText(const mkrec::Manifest &m) {
    std::map<int, std::string> names;
    int lines = 0;
    for (const auto &v : m.videoChannels) {
        const int channel = std::stoi(v.at("ch")) + 1;
        lines = std::max(lines, channel);
        auto it = v.find("title");
        if (it != v.end()) names[channel] = it->second;
    }
    std::string text;
    for (int channel = 1; channel <= lines; ++channel)
        text += "CH" + std::to_string(channel) + ".Title=" + names[channel] + "\n";
    return text;
}

struct Config {
    std::string name;
    Args args;
    int displayOffset = 0;
    int picStruct = -1; // the picture-structure byte written, when the test sets it
};

const Args kAllStreams = {"--video-mask", "0x7",  "--codec", "h264,mpeg4,mjpeg",
                          "--audio-mask", "0x1f", "--audio", "ulaw,pcm8,pcm16,pcm16b,g723",
                          "--frames",     "9",    "--gop",   "4"};

Args with(Args a, const Args &more) {
    a.insert(a.end(), more.begin(), more.end());
    return a;
}

std::vector<Config> configs() {
    return {
        {"v8-plain", with(kAllStreams, {"--version", "8"})},
        {"v8-prefix-all", with(kAllStreams, {"--version", "8", "--prefix", "all"})},
        {"v9-prefix-all", with(kAllStreams, {"--version", "9", "--prefix", "all", "--title", "1=Front door",
                                             "--title", "3=Yard"})},
        {"v9-prefix-video", with(kAllStreams, {"--version", "9", "--prefix", "video"})},
        {"v9-extend-info", with(kAllStreams, {"--version", "9", "--prefix", "all", "--extend-info", "8"})},
        {"v9-extend-info-0",
         with(kAllStreams, {"--version", "9", "--prefix", "video", "--extend-info", "0"})},
        {"every-flag",
         {"--video-mask",
          "0x8003",
          "--codec",
          "h264,mpeg4,mjpeg",
          "--audio-mask",
          "0x1f",
          "--audio",
          "ulaw,pcm8,pcm16,pcm16b,g723",
          "--frames",
          "9",
          "--gop",
          "4",
          "--vflags",
          "0xE001FFFF",
          "--aflags",
          "0xE001FFFF",
          "--main-flags",
          "0xFF",
          "--audio-mask-word",
          "0x1f",
          "--mpeg4-type",
          "4",
          "--mjpeg-type",
          "5",
          "--display-offset",
          "3600",
          "--title",
          "2=Two",
          "--title",
          "16=Sixteen"},
         3600},
        {"few-flags", with(kAllStreams, {"--vflags", "0x83", "--aflags", "0x83", "--main-flags", "0x0"})},
        {"mask-byte-and-word",
         with(kAllStreams, {"--main-flags", "0x64", "--audio-mask-word", "0xABCD", "--pic-struct", "16"}), 0,
         16},
        {"fields",
         {"--codec", "h264", "--fields", "stacked", "--size", "176x144", "--frames", "6", "--audio-mask", "0",
          "--version", "9", "--prefix", "video"},
         0,
         1},
        {"start-2036", with(kAllStreams, {"--start", "2036-02-07T06:00:00", "--frames", "3"})},
    };
}

class GeneratedFiles : public ::testing::Test {
  protected:
    mkrec::TempDir dir;
};

} // namespace

TEST_F(GeneratedFiles, ReadsBackAsTheManifestSays) {
    for (const Config &c : configs()) {
        SCOPED_TRACE(c.name);
        const mkrec::Recording rec = mkrec::make(dir, c.name + ".avc", with({"--kind", "avc"}, c.args));
        ASSERT_TRUE(rec.ok()) << rec.output;
        const mkrec::Manifest &m = rec.manifest;
        const auto file = avcread::readAll(rec.path);
        ASSERT_TRUE(file->opened);
        ASSERT_EQ(file->headerResult, 1);

        // Main header.
        const uint32_t mainFlags = static_cast<uint32_t>(m.num("main_flags"));
        EXPECT_EQ(file->headerLen, static_cast<unsigned long>(m.num("header_len")));
        EXPECT_EQ(file->main.main.dwTotalFrames, static_cast<uint32_t>(m.num("total_frames")));
        EXPECT_EQ(file->main.main.byVersion, m.num("version"));
        EXPECT_EQ(file->main.main.dwFlags, mainFlags);
        if (mainFlags & 0x4) {
            EXPECT_EQ(file->main.dwVideoChannelMask, static_cast<uint32_t>(m.num("video_mask")));
        }
        if (mainFlags & 0x40) {
            EXPECT_EQ(file->main.dwAudioChannelMask, static_cast<uint32_t>(m.num("audio_mask_word")));
        } else if (mainFlags & 0x20) {
            EXPECT_EQ(file->main.dwAudioChannelMask, static_cast<uint32_t>(m.num("audio_mask")) & 0xFF);
        }
        if (mainFlags & 0x8) {
            ASSERT_NE(file->main.pTitle, nullptr);
            EXPECT_EQ(file->main.wTitleLength, m.num("title_len"));
            EXPECT_EQ(std::string(file->main.pTitle), titleText(m));
            char rows[AVC_TITLE_ROWS][AVC_TITLE_ROW_SIZE] = {};
            get_channel_title(&rows[0][0], file->main.pTitle, file->main.wTitleLength);
            for (const auto &v : m.videoChannels) {
                auto it = v.find("title");
                EXPECT_EQ(std::string(rows[std::stoi(v.at("ch"))]), it == v.end() ? "" : it->second);
            }
        }

        // Every frame record, in file order, then a clean end.
        ASSERT_EQ(file->frames.size(), m.units.size());
        EXPECT_EQ(file->endResult, 0);
        EXPECT_EQ(file->endPos, static_cast<uint64_t>(m.num("bytes")));
        std::map<int, int> strippedSeen;
        for (size_t i = 0; i < m.units.size(); ++i) {
            const mkrec::Unit &u = m.units[i];
            const avcread::Frame &f = file->frames[i];
            const HEADER_FRAME &h = f.header;
            const uint32_t flags = hexAttr(u, "flags");
            SCOPED_TRACE("unit " + std::to_string(i));
            EXPECT_EQ(f.offset, u.offset);
            EXPECT_EQ(f.result, (flags & 0x20000000) ? 2 : 1) << "the generator writes the 0x5641 marker";
            if (flags & 0x1) {
                EXPECT_EQ(h.dwFrameNo, hexAttr(u, "number"));
            }
            EXPECT_EQ(f.payloadLen, (flags & 0x2) ? u.payloadLen : 0u);
            if (flags & 0x20) {
                EXPECT_EQ(h.byChannel, u.channel + 1);
            }
            if (flags & 0x80) {
                EXPECT_EQ(h.byStreamType, hexAttr(u, "stream_type"));
            }
            if (flags & 0x10) {
                EXPECT_EQ(h.dwTimeStamp, static_cast<uint32_t>(u.ms));
            }
            if (u.video && (flags & 0x4) && (flags & 0x8)) {
                EXPECT_EQ(h.wWidth, m.num("width"));
                EXPECT_EQ(h.wHeight, m.num("height"));
            }
            if (flags & 0x100) {
                const int64_t unixSec = static_cast<int64_t>(u.sec) - kSeconds1900To1970;
                EXPECT_EQ(unixSec, u.tUs / 1000000);
                expectTime(h.stFrameTime, unixSec, "frame time");
                expectTime(h.stDisplayTime, unixSec + ((flags & 0x2000) ? c.displayOffset : 0),
                           "display time");
            }
            if (u.video && c.picStruct >= 0 && (flags & 0x1000)) {
                const int first = (c.picStruct & 1) || (c.picStruct & 2) || c.picStruct == 0x10;
                EXPECT_EQ(h.byFirstField, first);
                EXPECT_EQ(h.byFieldCoded, c.picStruct & 1);
            }
            if (!(flags & 0x2)) continue; // no payload to compare
            EXPECT_EQ(f.stripResult, 1);
            EXPECT_EQ(static_cast<uint64_t>(f.stripped), u.prefixLen);
            EXPECT_EQ(f.es.size(), u.esLen);
            EXPECT_EQ(mkrec::md5Hex(f.es), u.esMd5);
            EXPECT_EQ(f.key, u.video ? static_cast<int>(u.key) : 0);
            EXPECT_EQ(f.entryType, hexAttr(u, "idx_type"));
            if (u.prefixLen) strippedSeen[static_cast<int>(u.prefixLen)]++;
        }
        if (c.name == "v8-prefix-all") {
            EXPECT_GT(strippedSeen[20], 0);
        } else if (c.name == "v9-prefix-all") {
            EXPECT_GT(strippedSeen[44], 0);
            EXPECT_GT(strippedSeen[42], 0);
        } else if (c.name == "v9-extend-info") {
            EXPECT_GT(strippedSeen[56], 0);
            EXPECT_GT(strippedSeen[42], 0);
        } else if (c.name == "v9-extend-info-0") {
            EXPECT_GT(strippedSeen[48], 0);
        }
    }
}

TEST_F(GeneratedFiles, IndexEqualsExpectedAndSearchesLandOnKeys) {
    for (const Config &c : configs()) {
        SCOPED_TRACE(c.name);
        const mkrec::Recording rec = mkrec::make(dir, c.name + ".avc", with({"--kind", "avc"}, c.args));
        ASSERT_TRUE(rec.ok()) << rec.output;
        const std::string idx = dir.file(c.name + ".idx");
        const avcread::Built b = avcread::buildIndex(rec.path, idx);
        ASSERT_EQ(b.result, 1);
        ASSERT_EQ(b.built, rec.manifest.units.size());
        EXPECT_EQ(mkrec::readFile(idx), mkrec::readFile(rec.expectedIdxPath)) << "byte for byte";
        EXPECT_EQ(avcread::loadAndCheck(rec.path, idx), 1);

        // The searches against a plain walk over the manifest's entry types.
        const auto &units = rec.manifest.units;
        const unsigned long n = b.built;
        auto isKey = [&](size_t i) {
            const uint32_t t = hexAttr(units[i], "idx_type");
            return t == 0x1001 || t == 0;
        };
        for (unsigned long from = 0; from <= n; ++from) {
            long expectNext = -1;
            for (unsigned long i = from; i < n && expectNext < 0; ++i)
                if (isKey(i)) expectNext = static_cast<long>(i);
            unsigned long index = 12345;
            const int found = seek_i_index_next(b.table.data(), n, from, &index);
            EXPECT_EQ(found, expectNext >= 0 ? 1 : 0) << "next from " << from;
            EXPECT_EQ(index, expectNext >= 0 ? static_cast<unsigned long>(expectNext) : 0u)
                << "next from " << from;

            unsigned long expectLast = 1;
            for (long i = static_cast<long>(from) - 1; i >= 0 && from >= 2; --i) {
                if (isKey(static_cast<size_t>(i))) {
                    expectLast = static_cast<unsigned long>(i) + 1;
                    break;
                }
            }
            unsigned long number = 0;
            EXPECT_EQ(seek_i_index_last(b.table.data(), n, from, &number), 1);
            EXPECT_EQ(number, expectLast) << "last from " << from;
        }
    }
}

// Records are looked at where they lie in the reader's buffer, and read field by field where
// they span a refill: small buffers put that seam at every place in headers and payloads.
TEST_F(GeneratedFiles, IndexIsTheSameWhateverTheReaderBuffer) {
    for (const Config &c : configs()) {
        SCOPED_TRACE(c.name);
        const mkrec::Recording rec = mkrec::make(dir, c.name + ".avc", with({"--kind", "avc"}, c.args));
        ASSERT_TRUE(rec.ok()) << rec.output;
        const std::vector<uint8_t> expected = mkrec::readFile(rec.expectedIdxPath);
        for (unsigned long capacity : {1UL, 5UL, 47UL, 333UL, 4096UL}) {
            const std::string idx = dir.file(c.name + "-" + std::to_string(capacity) + ".idx");
            const avcread::Built b = avcread::buildIndex(rec.path, idx, capacity);
            ASSERT_EQ(b.result, 1) << "capacity " << capacity;
            EXPECT_EQ(mkrec::readFile(idx), expected) << "capacity " << capacity;
        }
    }
}

TEST_F(GeneratedFiles, PartialStaleAndTruncatedIndexesAreRebuilt) {
    // 300 records: more than one 256-record block of the index file.
    const Args args = {"--kind",       "avc", "--video-mask", "0x3",  "--codec",  "h264,mjpeg",
                       "--audio-mask", "0x1", "--audio",      "ulaw", "--frames", "100",
                       "--gop",        "10",  "--size",       "64x48"};
    const mkrec::Recording rec = mkrec::make(dir, "long.avc", args);
    ASSERT_TRUE(rec.ok()) << rec.output;
    ASSERT_EQ(rec.manifest.units.size(), 300u);
    const auto expected = mkrec::readFile(rec.expectedIdxPath);
    ASSERT_EQ(expected.size(), 10800u);
    const std::string idx = dir.file("long.idx");
    auto writeIdx = [&](const std::vector<uint8_t> &bytes) {
        FILE *f = std::fopen(idx.c_str(), "wb");
        ASSERT_NE(f, nullptr);
        if (!bytes.empty()) std::fwrite(bytes.data(), 1, bytes.size(), f);
        std::fclose(f);
    };
    auto rebuildGivesExpected = [&] {
        const avcread::Built b = avcread::buildIndex(rec.path, idx);
        EXPECT_EQ(b.result, 1);
        EXPECT_EQ(mkrec::readFile(idx), expected);
        EXPECT_EQ(avcread::loadAndCheck(rec.path, idx), 1);
    };

    writeIdx(expected);
    EXPECT_EQ(avcread::loadAndCheck(rec.path, idx), 1) << "the generator's own index is trusted";

    // An interrupted build: the first full block only, or a cut record.
    writeIdx(std::vector<uint8_t>(expected.begin(), expected.begin() + 9216));
    EXPECT_EQ(avcread::loadAndCheck(rec.path, idx), 0);
    rebuildGivesExpected();
    writeIdx(std::vector<uint8_t>(expected.begin(), expected.end() - 10));
    EXPECT_EQ(avcread::loadAndCheck(rec.path, idx), -1) << "not a whole number of records";
    rebuildGivesExpected();
    writeIdx({1, 2, 3, 4, 5});
    EXPECT_EQ(avcread::loadAndCheck(rec.path, idx), -1);
    rebuildGivesExpected();
    writeIdx({});
    EXPECT_EQ(avcread::loadAndCheck(rec.path, idx), 0) << "no entries";
    rebuildGivesExpected();

    // Stale: the index of a recording made with other options under the same name.
    const mkrec::Recording other = mkrec::make(dir, "other.avc", with(args, {"--gop", "7", "--qscale", "9"}));
    ASSERT_TRUE(other.ok()) << other.output;
    ASSERT_NE(mkrec::readFile(other.expectedIdxPath), expected);
    writeIdx(mkrec::readFile(other.expectedIdxPath));
    EXPECT_EQ(avcread::loadAndCheck(rec.path, idx), 0);
    rebuildGivesExpected();

    // A truncated recording: cut inside the 200th record.
    const mkrec::Unit &cutUnit = rec.manifest.units[199];
    const uint64_t cutAt = cutUnit.offset + cutUnit.headerLen + cutUnit.payloadLen / 2;
    const mkrec::Recording cut =
        mkrec::make(dir, "cut.avc", with(args, {"--truncate", std::to_string(cutAt)}));
    ASSERT_TRUE(cut.ok()) << cut.output;
    const std::string cutIdx = dir.file("cut.idx");
    const avcread::Built b = avcread::buildIndex(cut.path, cutIdx);
    EXPECT_EQ(b.result, 1);
    EXPECT_EQ(b.built, 199u) << "the complete records";
    EXPECT_EQ(mkrec::readFile(cutIdx), std::vector<uint8_t>(expected.begin(), expected.begin() + 199 * 36));
    EXPECT_EQ(avcread::loadAndCheck(cut.path, cutIdx), 1) << "trusted: the data ends after its last entry";
    // The full recording's index does not fit the cut one, nor the reverse.
    writeIdx(expected);
    EXPECT_EQ(avcread::loadAndCheck(cut.path, idx), 0);
    EXPECT_EQ(avcread::loadAndCheck(rec.path, cutIdx), 0);
}

TEST_F(GeneratedFiles, DamagedFilesEndWithACleanZero) {
    const Args base = with({"--kind", "avc"}, with(kAllStreams, {"--version", "9", "--prefix", "all",
                                                                 "--extend-info", "4", "--title", "1=A"}));
    const mkrec::Recording clean = mkrec::make(dir, "clean.avc", base);
    ASSERT_TRUE(clean.ok()) << clean.output;
    const auto &units = clean.manifest.units;
    const uint64_t size = static_cast<uint64_t>(clean.manifest.num("bytes"));

    std::vector<Args> damage;
    for (uint64_t at : {uint64_t{0}, uint64_t{1}, uint64_t{50}, uint64_t{81}, units[0].offset,
                        units[0].offset + 3, units[1].offset + units[1].headerLen + 10, size / 2, size - 1})
        damage.push_back({"--truncate", std::to_string(at)});
    damage.push_back({"--oversize", "3"});
    damage.push_back({"--oversize", "5:0xFFFFFFFF"});
    damage.push_back({"--oversize", "0:3000000"});
    damage.push_back({"--zero-length", "2"});
    damage.push_back({"--bad-channel", "4"});
    damage.push_back({"--frame-number", "6:0"});
    damage.push_back({"--frame-number", "7:4000000000"});
    damage.push_back({"--end-zero"});
    damage.push_back({"--empty"});
    for (int seed = 1; seed <= 12; ++seed)
        damage.push_back({"--flip", std::to_string(seed * 3), "--seed", std::to_string(seed)});
    damage.push_back(
        {"--flip", "40", "--seed", "99", "--flip-range", "0:" + std::to_string(units[0].offset)});

    int n = 0;
    for (const Args &d : damage) {
        std::string what;
        for (const auto &a : d)
            what += a + " ";
        SCOPED_TRACE(what);
        const std::string name = "damaged" + std::to_string(n++) + ".avc";
        const mkrec::Recording rec = mkrec::make(dir, name, with(base, d));
        ASSERT_EQ(rec.status, 0) << rec.output;
        const auto file = avcread::readAll(rec.path, 100000);
        ASSERT_TRUE(file->opened);
        if (file->headerResult != 1) continue; // a file too short for its header: nothing to read
        EXPECT_EQ(file->endResult, 0) << "reading ends with 0";
        const avcread::Built b = avcread::buildIndex(rec.path, dir.file(name + ".idx"));
        if (b.result != avcread::kTotalRefused) {
            EXPECT_EQ(b.result, 1);
            EXPECT_LE(b.built, b.total);
        }
        avcread::loadAndCheck(rec.path, dir.file(name + ".idx"));

        if (d[0] == "--truncate") {
            // Every record that lies whole before the cut is read, then 0.
            const uint64_t at = std::stoull(d[1]);
            size_t whole = 0;
            while (whole < units.size() && units[whole].payloadOffset + units[whole].payloadLen <= at)
                ++whole;
            EXPECT_EQ(file->frames.size(), whole);
            EXPECT_EQ(b.built, whole);
        } else if (d[0] == "--oversize" && d[1] == "0:3000000") {
            // The first record claims more bytes than the file holds.
            EXPECT_TRUE(file->frames.empty());
        } else if (d[0] == "--bad-channel") {
            ASSERT_GT(file->frames.size(), 4u);
            EXPECT_EQ(file->frames[4].header.byChannel, 17) << "reported as stored; the engine drops it";
            EXPECT_EQ(file->frames.size(), units.size());
        } else if (d[0] == "--frame-number") {
            // The index follows positions, not the numbers in the records.
            EXPECT_EQ(file->frames.size(), units.size());
            EXPECT_EQ(mkrec::readFile(dir.file(name + ".idx")), mkrec::readFile(clean.expectedIdxPath));
        } else if (d[0] == "--end-zero") {
            EXPECT_EQ(file->frames.size(), units.size());
        }
    }
}

TEST_F(GeneratedFiles, FrameLargerThanTheBufferIsSkippedInStep) {
    // Frames of a large noisy picture exceed a small frame buffer: they are
    // dropped and the records after them are read exactly.
    const mkrec::Recording rec =
        mkrec::make(dir, "big.avc",
                    {"--kind", "avc", "--codec", "h264", "--size", "352x288", "--noise", "--frames", "6",
                     "--gop", "3", "--audio-mask", "0x1", "--qp", "10"});
    ASSERT_TRUE(rec.ok()) << rec.output;
    const auto &units = rec.manifest.units;
    uint64_t largest = 0, smallest = UINT64_MAX;
    for (const auto &u : units) {
        if (u.video) {
            largest = std::max(largest, u.payloadLen);
            smallest = std::min(smallest, u.payloadLen);
        }
    }
    const unsigned long capacity = static_cast<unsigned long>((largest + smallest) / 2);
    ASSERT_LT(smallest, largest);
    const auto file = avcread::readAll(rec.path, 1000, capacity);
    ASSERT_EQ(file->frames.size(), units.size());
    EXPECT_EQ(file->endResult, 0);
    int dropped = 0;
    for (size_t i = 0; i < units.size(); ++i) {
        if (units[i].payloadLen > capacity) {
            EXPECT_EQ(file->frames[i].result, AVC_READ_DROPPED);
            EXPECT_TRUE(file->frames[i].es.empty());
            ++dropped;
        } else {
            EXPECT_EQ(file->frames[i].result, 1);
            EXPECT_EQ(mkrec::md5Hex(file->frames[i].es), units[i].esMd5) << "unit " << i;
        }
        EXPECT_EQ(file->frames[i].offset, units[i].offset);
    }
    EXPECT_GT(dropped, 0);
}
