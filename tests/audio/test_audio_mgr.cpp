// The output manager's ring and render side, driven directly (the render
// callback is called by the test, as the sound output's thread would).
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <string>
#include <vector>

#include "audio/audio_mgr.h"
#include "audio_test_util.h"
#include "platform/log.h"
#include "recorderfile/audio_format.h"

using audiotest::EnvSetting;

namespace {

// 16-bit little-endian samples first, first + 1, ... as bytes; no byte is 0.
std::vector<uint8_t> ramp16(int samples, int first) {
    std::vector<uint8_t> b;
    for (int i = 0; i < samples; i++) {
        int v = first + i;
        b.push_back(static_cast<uint8_t>(1 + v % 255));
        b.push_back(static_cast<uint8_t>(1 + (v / 255) % 127));
    }
    return b;
}

// Collects log lines while alive.
class LogCapture {
  public:
    LogCapture() {
        player_log_set_sink([this](const std::string &line) { lines_.push_back(line); });
    }
    ~LogCapture() { player_log_set_sink(nullptr); }
    int count(const std::string &text) const {
        int n = 0;
        for (const std::string &l : lines_) {
            n += l.find(text) != std::string::npos ? 1 : 0;
        }
        return n;
    }

  private:
    std::vector<std::string> lines_;
};

// A manager playing through a silent stand-in output, in the given format.
struct Playing {
    explicit Playing(int format) {
        mgr.setFormat(format);
        EXPECT_TRUE(mgr.createDefaultAudioOuputDevice());
        EXPECT_TRUE(mgr.play());
    }
    bool write(const std::vector<uint8_t> &packet) {
        return mgr.addAudioData(packet.data(), static_cast<int>(packet.size()), nullptr, 0, nullptr, false);
    }
    // One render cycle into a buffer full of stale bytes.
    std::vector<uint8_t> render(size_t bytes, uint8_t stale = 0xA5) {
        std::vector<uint8_t> out(bytes, stale);
        EXPECT_EQ(AudioMgr::AudioRender(&mgr, out.data(), static_cast<uint32_t>(bytes)), 0);
        return out;
    }
    AudioMgr mgr{&createNullAudioOutput};
};

std::vector<uint8_t> slice(const std::vector<uint8_t> &v, size_t from, size_t n) {
    return std::vector<uint8_t>(v.begin() + static_cast<long>(from), v.begin() + static_cast<long>(from + n));
}

bool allEqual(const std::vector<uint8_t> &v, size_t from, uint8_t value) {
    for (size_t i = from; i < v.size(); i++) {
        if (v[i] != value) {
            return false;
        }
    }
    return true;
}

} // namespace

TEST(AudioMgrRing, BufferIsHandedOverWhenTheNextPacketWouldNotFit) {
    Playing p(enAudioFormat_PCM16);
    std::vector<uint8_t> all = ramp16(128 * 16, 0);
    // 14 packets of 256 bytes: 3584 bytes, room for another; nothing ready.
    for (int i = 0; i < 14; i++) {
        ASSERT_TRUE(p.write(slice(all, static_cast<size_t>(i) * 256, 256)));
    }
    uint32_t copied = 99;
    std::vector<uint8_t> probe(64, 0xA5);
    EXPECT_FALSE(p.mgr.processAudioBuffer(probe.data(), 64, &copied));
    EXPECT_EQ(copied, 0u);
    EXPECT_TRUE(allEqual(probe, 0, 0xA5));
    // The render callback turns the cycle into silence, not a replay of stale bytes.
    EXPECT_TRUE(allEqual(p.render(512), 0, 0));

    // The 15th makes 3840 bytes, and 3840 + 256 reaches 4096: handed over.
    ASSERT_TRUE(p.write(slice(all, 14 * 256, 256)));
    std::vector<uint8_t> out = p.render(4096);
    EXPECT_EQ(slice(out, 0, 3840), slice(all, 0, 3840));
    EXPECT_TRUE(allEqual(out, 3840, 0));
    // Drained: the next cycle is silence again.
    EXPECT_TRUE(allEqual(p.render(256), 0, 0));
}

TEST(AudioMgrRing, RenderGoesOnIntoTheNextReadyBuffer) {
    Playing p(enAudioFormat_PCM16);
    std::vector<uint8_t> all = ramp16(1024 * 5 + 500, 0);
    // 2048-byte packets: 2048 + 2048 reaches 4096, so each goes over alone.
    for (int i = 0; i < 5; i++) {
        ASSERT_TRUE(p.write(slice(all, static_cast<size_t>(i) * 2048, 2048)));
    }
    ASSERT_TRUE(p.write(slice(all, 10240, 1000))); // stays with the writer
    std::vector<uint8_t> out = p.render(1000);
    EXPECT_EQ(out, slice(all, 0, 1000));
    out = p.render(4000); // 1048 left in the first, all of the second, 904 of the third
    EXPECT_EQ(out, slice(all, 1000, 4000));
    // More than is ready: the ready part, the rest of the destination untouched.
    std::vector<uint8_t> dest(8192, 0xA5);
    uint32_t copied = 0;
    EXPECT_TRUE(p.mgr.processAudioBuffer(dest.data(), 8192, &copied));
    EXPECT_EQ(copied, 10240u - 5000u);
    EXPECT_EQ(slice(dest, 0, copied), slice(all, 5000, copied));
    EXPECT_TRUE(allEqual(dest, copied, 0xA5));
}

TEST(AudioMgrRing, WriterOvertakesTheRenderSideInsteadOfRefusing) {
    Playing p(enAudioFormat_PCM);
    // 16 full buffers with no rendering: the ring holds 15.
    std::vector<std::vector<uint8_t>> chunks;
    for (int c = 0; c < 16; c++) {
        chunks.push_back(std::vector<uint8_t>(4096, static_cast<uint8_t>(c + 1)));
        ASSERT_TRUE(p.write(chunks.back()));
    }
    // The oldest buffer was emptied for the 16th chunk, and the render side,
    // still at that buffer, plays the newest audio.
    std::vector<uint8_t> out = p.render(4096);
    EXPECT_EQ(out, chunks[15]);
    // The writer now owns the next buffer (chunk 2 was dropped with it).
    EXPECT_TRUE(allEqual(p.render(64), 0, 0x80));
}

TEST(AudioMgrRing, StopAndPlayKeepTheQueue) {
    Playing p(enAudioFormat_PCM16);
    std::vector<uint8_t> all = ramp16(2048 * 2, 5);
    ASSERT_TRUE(p.write(slice(all, 0, 4096)));
    ASSERT_TRUE(p.write(slice(all, 4096, 4096)));
    EXPECT_TRUE(p.mgr.stop());
    EXPECT_TRUE(p.mgr.play());
    EXPECT_EQ(p.render(4096), slice(all, 0, 4096));
    EXPECT_EQ(p.render(4096), slice(all, 4096, 4096));
}

TEST(AudioMgrFormat, UnknownCodesChangeNothingAndPacketsPassAsTheyAre) {
    AudioMgr fresh(&createNullAudioOutput);
    fresh.setFormat(0);
    fresh.setFormat(6);
    EXPECT_EQ(fresh.audioFormat(), 0);
    const std::vector<uint8_t> packet = {0x01, 0xFF, 0x7F};
    std::vector<char> copy(16, 0);
    int copied = -1;
    ASSERT_TRUE(fresh.addAudioData(packet.data(), 3, copy.data(), 16, &copied, true));
    EXPECT_EQ(copied, 3);
    EXPECT_EQ(std::vector<uint8_t>(copy.begin(), copy.begin() + 3), packet);

    AudioMgr ulaw(&createNullAudioOutput);
    ulaw.setFormat(enAudioFormat_ULAW);
    ulaw.setFormat(6);
    EXPECT_EQ(ulaw.audioFormat(), enAudioFormat_ULAW);
    EXPECT_EQ(ulaw.streamFormat().mBitsPerChannel, 16u);
}

TEST(AudioMgrFormat, PcmSizesPerFormat) {
    std::vector<uint8_t> packet(300, 0x35);
    const struct {
        int format;
        int bytes;
        int pcm;
    } cases[] = {{enAudioFormat_ULAW, 100, 200},   {enAudioFormat_G723, 48, 256},
                 {enAudioFormat_G723, 50, 266},    {enAudioFormat_G723, 4, 20},
                 {enAudioFormat_PCM, 300, 300},    {enAudioFormat_PCM16, 300, 300},
                 {enAudioFormat_PCM16_2, 300, 300}};
    for (const auto &c : cases) {
        SCOPED_TRACE(std::to_string(c.format) + "/" + std::to_string(c.bytes));
        AudioMgr mgr(&createNullAudioOutput);
        mgr.setFormat(c.format);
        std::vector<char> copy(4096);
        int copied = -1;
        ASSERT_TRUE(mgr.addAudioData(packet.data(), c.bytes, copy.data(), 4096, &copied, true));
        EXPECT_EQ(copied, c.pcm);
        // Without a copy wanted, nothing is reported copied.
        ASSERT_TRUE(mgr.addAudioData(packet.data(), c.bytes, copy.data(), 4096, &copied, false));
        EXPECT_EQ(copied, 0);
    }
}

TEST(AudioMgrVolume, OutOfRangeValuesChangeNothing) {
    AudioMgr mgr(&createNullAudioOutput);
    mgr.setVolumeViaProgramming(0.25f);
    mgr.setVolumeViaProgramming(1.5f);
    mgr.setVolumeViaProgramming(-0.1f);
    mgr.setVolumeViaProgramming(std::nanf(""));
    EXPECT_EQ(mgr.volume(), 0.25f);
    mgr.setVolumeViaProgramming(0.0f);
    EXPECT_EQ(mgr.volume(), 0.0f);
}

TEST(AudioMgrVolume, GainScalesRenderedSamples) {
    Playing p16(enAudioFormat_PCM16);
    std::vector<int16_t> values;
    std::vector<uint8_t> packet;
    for (int i = 0; i < 2048; i++) {
        int16_t v = static_cast<int16_t>((i % 2 ? -1 : 1) * (2 * i + 2));
        values.push_back(v);
        packet.push_back(static_cast<uint8_t>(static_cast<uint16_t>(v) & 0xFF));
        packet.push_back(static_cast<uint8_t>(static_cast<uint16_t>(v) >> 8));
    }
    p16.mgr.setVolumeViaProgramming(0.5f);
    ASSERT_TRUE(p16.write(packet));
    std::vector<uint8_t> out = p16.render(4096);
    for (size_t i = 0; i < values.size(); i++) {
        int16_t got = static_cast<int16_t>(static_cast<uint16_t>(out[2 * i] | (out[2 * i + 1] << 8)));
        ASSERT_EQ(got, values[i] / 2) << "sample " << i;
    }

    // Unsigned 8-bit samples are scaled about their mid level 128.
    Playing p8(enAudioFormat_PCM);
    std::vector<uint8_t> bytes;
    for (int i = 0; i < 4096; i++) {
        bytes.push_back(static_cast<uint8_t>(128 + ((i % 64) - 32) * 2));
    }
    p8.mgr.setVolumeViaProgramming(0.5f);
    ASSERT_TRUE(p8.write(bytes));
    out = p8.render(4096);
    for (size_t i = 0; i < bytes.size(); i++) {
        ASSERT_EQ(out[i], 128 + (bytes[i] - 128) / 2) << "sample " << i;
    }
    // Silence of an 8-bit stream is the mid level.
    EXPECT_TRUE(allEqual(p8.render(100), 0, 0x80));
}

TEST(AudioMgrWriter, OversizedPacketsStayInsideRingAndCopyTarget) {
    LogCapture log;
    const struct {
        int format;
        int bytes;
        int pcm; // PCM bytes of the whole packet
    } cases[] = {{enAudioFormat_PCM, 10000, 10000},   {enAudioFormat_PCM16, 10000, 10000},
                 {enAudioFormat_PCM16_2, 9001, 9000}, {enAudioFormat_ULAW, 3000, 6000},
                 {enAudioFormat_G723, 1000, 5332},    {0, 5000, 5000}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.format);
        std::vector<uint8_t> packet(static_cast<size_t>(c.bytes));
        for (size_t i = 0; i < packet.size(); i++) {
            packet[i] = static_cast<uint8_t>(i * 7 + 3);
        }
        // The full PCM of the packet, for reference: copied through a target
        // large enough for it.
        AudioMgr whole(&createNullAudioOutput);
        whole.setFormat(c.format);
        std::vector<char> big(static_cast<size_t>(c.pcm));
        int bigCopied = 0;
        ASSERT_TRUE(whole.addAudioData(packet.data(), c.bytes, big.data(), c.pcm, &bigCopied, true));
        ASSERT_EQ(bigCopied, c.pcm);

        // A copy target of exactly its capacity (heap, so an overrun shows).
        Playing p(c.format);
        AudioMgr &mgr = p.mgr;
        const int capacity = 2500;
        std::vector<char> copy(capacity);
        int copied = -1;
        ASSERT_TRUE(mgr.addAudioData(packet.data(), c.bytes, copy.data(), capacity, &copied, true));
        EXPECT_EQ(copied, capacity);
        EXPECT_EQ(std::vector<char>(copy.begin(), copy.end()),
                  std::vector<char>(big.begin(), big.begin() + capacity));
        // The ring got the first 4096 bytes and handed the buffer over.
        std::vector<uint8_t> out = p.render(5000);
        EXPECT_EQ(std::vector<char>(out.begin(), out.begin() + 4096),
                  std::vector<char>(big.begin(), big.begin() + 4096));
        EXPECT_TRUE(allEqual(out, 4096, mgr.streamFormat().mBitsPerChannel == 8 ? 0x80 : 0));
    }
    EXPECT_GE(log.count("Input audio data is too large!"), 6);
}

TEST(AudioMgrWriter, PacketLargerThanWhatIsLeftFillsTheBufferWithWholeSamples) {
    Playing p(enAudioFormat_PCM16);
    std::vector<uint8_t> first = ramp16(500, 0);     // 1000 bytes
    std::vector<uint8_t> second = ramp16(2000, 500); // 4000 bytes; 3096 fit
    ASSERT_TRUE(p.write(first));
    std::vector<char> copy(3001); // odd capacity: whole samples only
    int copied = -1;
    ASSERT_TRUE(p.mgr.addAudioData(second.data(), 4000, copy.data(), 3001, &copied, true));
    EXPECT_EQ(copied, 3000);
    EXPECT_EQ(std::vector<uint8_t>(copy.begin(), copy.begin() + 3000), slice(second, 0, 3000));
    std::vector<uint8_t> out = p.render(4096);
    EXPECT_EQ(slice(out, 0, 1000), first);
    EXPECT_EQ(slice(out, 1000, 3096), slice(second, 0, 3096));
}

TEST(AudioMgrWriter, OddSixteenBitPacketsDropTheirLastByte) {
    LogCapture log;
    Playing p(enAudioFormat_PCM16);
    std::vector<uint8_t> expected;
    for (int i = 0; i < 16; i++) {
        std::vector<uint8_t> packet = ramp16(128, i * 128);
        expected.insert(expected.end(), packet.begin(), packet.end());
        packet.push_back(0xEE); // 257 bytes
        std::vector<char> copy(512);
        int copied = -1;
        ASSERT_TRUE(p.mgr.addAudioData(packet.data(), 257, copy.data(), 512, &copied, true));
        EXPECT_EQ(copied, 256);
    }
    // Samples stay aligned from packet to packet.
    std::vector<uint8_t> out = p.render(3840);
    EXPECT_EQ(out, slice(expected, 0, 3840));
    EXPECT_EQ(log.count("last byte dropped"), 16);
}

TEST(AudioMgrOutput, PlayWithoutOutputOrFormatFails) {
    AudioMgr noOutput(&createNullAudioOutput);
    noOutput.setFormat(enAudioFormat_PCM16);
    EXPECT_FALSE(noOutput.play());
    EXPECT_TRUE(noOutput.createDefaultAudioOuputDevice());
    EXPECT_FALSE(noOutput.createDefaultAudioOuputDevice()); // one output only

    // The SDL output refuses a stream with no format set.
    AudioMgr noFormat;
    ASSERT_TRUE(noFormat.createDefaultAudioOuputDevice());
    EXPECT_FALSE(noFormat.play());
}

TEST(AudioMgrOutput, NoSoundDeviceStillDecodesAndCopies) {
    // An audio driver that does not exist: SDL cannot open any device.
    EnvSetting driver("SDL_AUDIODRIVER", "no-such-driver");
    LogCapture log;
    std::vector<uint8_t> packet(100, 0x00); // u-law -32124
    for (int i = 0; i < 2; i++) {
        AudioMgr mgr;
        mgr.setFormat(enAudioFormat_ULAW);
        ASSERT_TRUE(mgr.createDefaultAudioOuputDevice());
        EXPECT_TRUE(mgr.play());
        std::vector<char> copy(200);
        int copied = -1;
        ASSERT_TRUE(mgr.addAudioData(packet.data(), 100, copy.data(), 200, &copied, true));
        EXPECT_EQ(copied, 200);
        EXPECT_EQ(static_cast<uint8_t>(copy[0]), 0x84); // -32124 low byte first
        EXPECT_EQ(static_cast<uint8_t>(copy[1]), 0x82);
        EXPECT_TRUE(mgr.stop());
    }
    EXPECT_EQ(log.count("No usable sound output"), 1);
}
