// G.723 and u-law decoding checked against tools nobody here wrote.
//
// Streams are encoded by FFmpeg's G.726 encoder at 24 kbit/s (little-endian
// packing) from a tone, noise and synthetic speech, cut into packets, and
// each packet is decoded by
//  - sox, whose decoder uses the standard's reference decomposition: exact,
//    sample for sample, with one explained exception (below);
//  - FFmpeg's own decoder, which rounds its step size differently: only the
//    same signal can be asked of it (SNR of at least 20 dB per packet).
//
// The exception: sox's floating multiply treats a predictor coefficient of
// magnitude 0 as if it had magnitude 1 (exponent 1 instead of 0). The
// standard gives a zero magnitude exponent 0 and mantissa 32, as our decoder
// does. The tests prove that this is the only way the two part: sox's output
// equals, exactly, the standard's decoder with that one multiply changed,
// and ours equals sox exactly up to the first sample at which that multiply
// changes a prediction term.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "audio/audio_mgr.h"
#include "audio/g723.h"
#include "audio_test_util.h"
#include "recorderfile/audio_format.h"

using namespace audiotest;

namespace {

// The standard's 24 kbit/s decoder tables, by 3-bit code.
const int kDqln[8] = {-2048, 135, 273, 373, 373, 273, 135, -2048};
const int kWi[8] = {-128, 960, 4384, 18624, 18624, 4384, 960, -128};
const int kFi[8] = {0, 0x200, 0x400, 0xE00, 0xE00, 0x400, 0x200, 0};

// sox's multiply: a coefficient magnitude of 0 is taken as 1.
int soxFmult(int an, int srn) {
    int anmag = (an > 0) ? an : ((-an) & 0x1FFF);
    if (anmag == 0) {
        return g72x::fmult(an < 0 ? -1 : 1, srn);
    }
    return g72x::fmult(an, srn);
}

std::vector<int> unpackCodes(const std::vector<uint8_t> &packet) {
    std::vector<int> codes;
    for (size_t g = 0; g < packet.size(); g += 3) {
        size_t left = packet.size() - g;
        uint32_t bits = packet[g];
        int n = 2;
        if (left >= 2) {
            bits |= static_cast<uint32_t>(packet[g + 1]) << 8;
            n = 5;
        }
        if (left >= 3) {
            bits |= static_cast<uint32_t>(packet[g + 2]) << 16;
            n = 8;
        }
        for (int k = 0; k < n; k++) {
            codes.push_back(static_cast<int>((bits >> (3 * k)) & 7));
        }
    }
    return codes;
}

struct StepDecode {
    std::vector<short> samples;
    size_t firstRuleDifference = SIZE_MAX; // first sample whose prediction the two multiplies disagree on
};

// The standard's decoder assembled from the building blocks, with either
// multiply.
StepDecode decodeWithRule(const std::vector<uint8_t> &packet, bool soxRule) {
    StepDecode result;
    g72x_state s;
    g72x_init_state(&s);
    std::vector<int> codes = unpackCodes(packet);
    for (size_t k = 0; k < codes.size(); k++) {
        int code = codes[k];
        bool differ = false;
        auto mult = [&](int an, int srn) {
            int standard = g72x::fmult(an, srn);
            int sox = soxFmult(an, srn);
            differ = differ || standard != sox;
            return soxRule ? sox : standard;
        };
        int sum = 0;
        for (int i = 0; i < 6; i++) {
            sum += mult(s.b[i] >> 2, s.dq[i]);
        }
        short sezi = static_cast<short>(sum);
        short sez = static_cast<short>(sezi >> 1);
        short sei = static_cast<short>(sezi + mult(s.a[1] >> 2, s.sr[1]) + mult(s.a[0] >> 2, s.sr[0]));
        short se = static_cast<short>(sei >> 1);
        short y = static_cast<short>(g72x::step_size(&s));
        short dq = static_cast<short>(g72x::reconstruct(code & 4, kDqln[code], y));
        short sr = static_cast<short>(dq < 0 ? se - (dq & 0x3FFF) : se + dq);
        short dqsez = static_cast<short>(sr - se + sez);
        g72x::update(3, y, kWi[code], kFi[code], dq, sr, dqsez, &s);
        result.samples.push_back(static_cast<short>(sr * 4));
        if (differ && result.firstRuleDifference == SIZE_MAX) {
            result.firstRuleDifference = k;
        }
    }
    return result;
}

std::vector<short> ourDecode(const std::vector<uint8_t> &packet) {
    g72x_state s;
    g72x_init_state(&s);
    int count = CG723Decode(packet.data(), static_cast<int>(packet.size()), nullptr, 0, s);
    std::vector<short> out(static_cast<size_t>(count));
    int n = CG723Decode(packet.data(), static_cast<int>(packet.size()), out.data(), count, s);
    EXPECT_EQ(n, count);
    return out;
}

// One packet wrapped as a Sun audio file of 3-bit G.723 and decoded by sox.
std::vector<short> soxDecode(const TempDir &dir, const std::vector<uint8_t> &packet) {
    std::vector<uint8_t> au = {'.', 's', 'n', 'd'};
    auto be32 = [&au](uint32_t v) {
        for (int shift = 24; shift >= 0; shift -= 8) {
            au.push_back(static_cast<uint8_t>(v >> shift));
        }
    };
    be32(28);
    be32(static_cast<uint32_t>(packet.size()));
    be32(25); // G.723 3-bit
    be32(8000);
    be32(1);
    be32(0);
    au.insert(au.end(), packet.begin(), packet.end());
    EXPECT_TRUE(writeFile(dir.file("pkt.au"), au));
    EXPECT_TRUE(
        run("sox '" + dir.file("pkt.au") + "' -t raw -e signed -b 16 -L '" + dir.file("sox.raw") + "'"));
    return samplesLE(readFile(dir.file("sox.raw")));
}

std::vector<short> ffmpegDecode(const TempDir &dir, const std::vector<uint8_t> &packet) {
    EXPECT_TRUE(writeFile(dir.file("pkt.g726"), packet));
    EXPECT_TRUE(run("ffmpeg -nostdin -loglevel fatal -y -f g726le -code_size 3 -sample_rate 8000 -i '" +
                    dir.file("pkt.g726") + "' -f s16le '" + dir.file("ff.raw") + "'"));
    return samplesLE(readFile(dir.file("ff.raw")));
}

double snrDb(const std::vector<short> &ref, const std::vector<short> &test) {
    double signal = 0;
    double noise = 0;
    for (size_t i = 0; i < ref.size() && i < test.size(); i++) {
        signal += static_cast<double>(ref[i]) * ref[i];
        double d = static_cast<double>(ref[i]) - test[i];
        noise += d * d;
    }
    if (noise == 0) {
        return 1000;
    }
    return 10 * std::log10(signal / noise);
}

class G723Oracle : public ::testing::TestWithParam<std::string> {
  protected:
    // Encodes two seconds of the named signal; empty when it cannot be made.
    std::vector<uint8_t> encode(const std::string &signal) {
        std::string wav = dir_.file(signal + ".wav");
        std::string made;
        if (signal == "sine") {
            made = "ffmpeg -nostdin -loglevel error -y -f lavfi -i "
                   "'sine=frequency=440:sample_rate=8000:duration=2' "
                   "-af volume=0.5 '" +
                   wav + "'";
        } else if (signal == "noise") {
            made = "ffmpeg -nostdin -loglevel error -y -f lavfi "
                   "-i 'anoisesrc=color=white:sample_rate=8000:amplitude=0.6:duration=2:seed=7' '" +
                   wav + "'";
        } else {
            made = "espeak-ng -w '" + dir_.file("speech22k.wav") +
                   "' 'Channel four, north entrance. The gate opened at seven fifteen and closed again.' && "
                   "sox -D '" +
                   dir_.file("speech22k.wav") + "' -r 8000 -c 1 '" + wav +
                   "'"; // no dither: the same speech every run
        }
        if (!run(made)) {
            return {};
        }
        std::string g726 = dir_.file(signal + ".g726");
        if (!run("ffmpeg -nostdin -loglevel error -y -i '" + wav +
                 "' -ac 1 -ar 8000 -c:a adpcm_g726le -b:a 24k "
                 "-f g726le '" +
                 g726 + "'")) {
            return {};
        }
        return readFile(g726);
    }

    TempDir dir_;
};

} // namespace

TEST_P(G723Oracle, PacketsMatchSoxAndFfmpeg) {
    const std::string signal = GetParam();
    if (signal == "speech" && !haveTool("espeak-ng")) {
        GTEST_SKIP() << "espeak-ng is not installed: no speech to encode";
    }
    std::vector<uint8_t> stream = encode(signal);
    ASSERT_GE(stream.size(), 6000u) << "could not encode " << signal;

    int packetsChecked = 0;
    int packetsDiverging = 0;
    double lowestSnr = 1000;
    const int sizes[] = {3, 4, 5, 48, 50, 3000};
    for (int size : sizes) {
        for (size_t offset : {size_t{0}, size_t{999}, size_t{2997}}) { // on code boundaries
            SCOPED_TRACE("packet of " + std::to_string(size) + " bytes at " + std::to_string(offset));
            std::vector<uint8_t> packet(stream.begin() + static_cast<long>(offset),
                                        stream.begin() + static_cast<long>(offset) + size);
            std::vector<short> ours = ourDecode(packet);
            ASSERT_EQ(ours.size(), static_cast<size_t>(size) * 8 / 3);

            std::vector<short> sox = soxDecode(dir_, packet);
            ASSERT_EQ(sox.size(), ours.size());
            StepDecode soxRule = decodeWithRule(packet, true);
            EXPECT_EQ(soxRule.samples, sox)
                << "sox parts from the standard in more than the zero-magnitude multiply";

            StepDecode standard = decodeWithRule(packet, false);
            size_t exactUpTo = std::min(standard.firstRuleDifference, ours.size());
            for (size_t i = 0; i < exactUpTo; i++) {
                ASSERT_EQ(ours[i], sox[i]) << "sample " << i;
            }
            if (ours != sox) {
                packetsDiverging++;
            }

            std::vector<short> ff = ffmpegDecode(dir_, packet);
            ASSERT_EQ(ff.size(), ours.size());
            double snr = snrDb(ours, ff);
            EXPECT_GE(snr, 20.0);
            lowestSnr = std::min(lowestSnr, snr);
            packetsChecked++;
        }
    }
    std::printf("%s: %d packets, %d part from sox after a zero-magnitude multiply, lowest SNR against FFmpeg "
                "%.1f dB\n",
                signal.c_str(), packetsChecked, packetsDiverging, lowestSnr);
}

INSTANTIATE_TEST_SUITE_P(Signals, G723Oracle, ::testing::Values("sine", "noise", "speech"));

TEST(ULawOracle, AllByteValuesMatchFfmpeg) {
    TempDir dir;
    std::vector<uint8_t> all(256);
    for (int b = 0; b < 256; b++) {
        all[static_cast<size_t>(b)] = static_cast<uint8_t>(b);
    }
    ASSERT_TRUE(writeFile(dir.file("all.ul"), all));
    ASSERT_TRUE(run("ffmpeg -nostdin -loglevel error -y -f mulaw -ar 8000 -ac 1 -i '" + dir.file("all.ul") +
                    "' -f s16le '" + dir.file("all.raw") + "'"));
    std::vector<short> ff = samplesLE(readFile(dir.file("all.raw")));
    ASSERT_EQ(ff.size(), 256u);
    for (int b = 0; b < 256; b++) {
        EXPECT_EQ(ulaw_to_s16(static_cast<uint8_t>(b)), ff[static_cast<size_t>(b)]) << "byte " << b;
    }

    // The manager's u-law path hands out the same samples, low byte first.
    AudioMgr mgr(&createNullAudioOutput);
    mgr.setFormat(enAudioFormat_ULAW);
    std::vector<char> copy(512);
    int copied = -1;
    ASSERT_TRUE(mgr.addAudioData(all.data(), 256, copy.data(), 512, &copied, true));
    ASSERT_EQ(copied, 512);
    std::vector<uint8_t> bytes(copy.begin(), copy.end());
    EXPECT_EQ(samplesLE(bytes), ff);
}

TEST(G723Oracle, ManagerCopiesTheDecodedPacket) {
    // A 48-byte packet through the manager yields 128 samples equal to sox's.
    TempDir dir;
    std::vector<uint8_t> packet(48);
    for (size_t i = 0; i < packet.size(); i++) {
        packet[i] = static_cast<uint8_t>(0x93 * i + 0x41);
    }
    std::vector<short> sox = soxDecode(dir, packet);
    StepDecode standard = decodeWithRule(packet, false);
    ASSERT_EQ(sox.size(), 128u);

    AudioMgr mgr(&createNullAudioOutput);
    mgr.setFormat(enAudioFormat_G723);
    std::vector<char> copy(256);
    int copied = -1;
    ASSERT_TRUE(mgr.addAudioData(packet.data(), 48, copy.data(), 256, &copied, true));
    ASSERT_EQ(copied, 256);
    std::vector<short> got = samplesLE(std::vector<uint8_t>(copy.begin(), copy.end()));
    for (size_t i = 0; i < std::min(standard.firstRuleDifference, got.size()); i++) {
        ASSERT_EQ(got[i], sox[i]) << "sample " << i;
    }
}
