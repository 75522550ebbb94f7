// G.723 24 kbit/s packet decoding and u-law expansion: counts, bit unpacking,
// state handling, and values worked out by hand from the standard's formulas.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "audio/g723.h"

namespace {

g72x_state initialState() {
    g72x_state s;
    std::memset(&s, 0x5A, sizeof s); // the initialiser must set every field
    g72x_init_state(&s);
    return s;
}

bool sameState(const g72x_state &x, const g72x_state &y) {
    return x.yl == y.yl && x.yu == y.yu && x.dms == y.dms && x.dml == y.dml && x.ap == y.ap &&
           std::memcmp(x.a, y.a, sizeof x.a) == 0 && std::memcmp(x.b, y.b, sizeof x.b) == 0 &&
           std::memcmp(x.pk, y.pk, sizeof x.pk) == 0 && std::memcmp(x.dq, y.dq, sizeof x.dq) == 0 &&
           std::memcmp(x.sr, y.sr, sizeof x.sr) == 0 && x.td == y.td;
}

// Decodes the given codes one by one from the initial state.
std::vector<short> decodeCodes(const std::vector<int> &codes) {
    g72x_state s = initialState();
    std::vector<short> out;
    for (int c : codes) {
        out.push_back(static_cast<short>(g723_24_decoder(c, AUDIO_ENCODING_LINEAR, &s)));
    }
    return out;
}

std::vector<short> decodePacket(const std::vector<uint8_t> &packet) {
    std::vector<short> out(packet.size() * 8 / 3 + 1, 0x7777);
    int n = CG723Decode(packet.data(), static_cast<int>(packet.size()), out.data(),
                        static_cast<int>(out.size()), initialState());
    EXPECT_GE(n, 0);
    out.resize(n < 0 ? 0 : static_cast<size_t>(n));
    return out;
}

} // namespace

TEST(G723Decode, SampleCountsAndSizeQueries) {
    std::vector<uint8_t> packet(3000, 0x5B);
    std::vector<short> out(9000);
    const struct {
        int bytes;
        int samples;
    } cases[] = {{0, 0}, {1, 2}, {2, 5}, {3, 8}, {4, 10}, {5, 13}, {48, 128}, {50, 133}, {3000, 8000}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.bytes);
        EXPECT_EQ(
            CG723Decode(packet.data(), c.bytes, out.data(), static_cast<int>(out.size()), initialState()),
            c.samples);
        // A size query answers whatever the capacity.
        EXPECT_EQ(CG723Decode(packet.data(), c.bytes, nullptr, 0, initialState()), c.samples);
        EXPECT_EQ(CG723Decode(packet.data(), c.bytes, nullptr, -7, initialState()), c.samples);
    }
}

TEST(G723Decode, RefusesTooSmallOutputWithoutTouchingIt) {
    const uint8_t packet[3] = {0x12, 0x34, 0x56};
    short out[8];
    for (short &s : out) {
        s = 0x1234;
    }
    EXPECT_EQ(CG723Decode(packet, 3, out, 7, initialState()), -1);
    for (short s : out) {
        EXPECT_EQ(s, 0x1234);
    }
    EXPECT_EQ(CG723Decode(packet, 3, out, 8, initialState()), 8);
}

TEST(G723Decode, RefusesBadArguments) {
    short out[16];
    EXPECT_EQ(CG723Decode(nullptr, 3, out, 16, initialState()), -1);
    const uint8_t packet[3] = {1, 2, 3};
    EXPECT_EQ(CG723Decode(packet, -3, out, 16, initialState()), -1);
    // A count past the int range cannot be reported.
    EXPECT_EQ(CG723Decode(packet, 0x7FFFFFFF, nullptr, 0, initialState()), -1);
}

TEST(G723Decode, UnpacksThreeBitCodesFromTheLowBitsUp) {
    // 0x88 0xC6 0xFA holds the codes 0 to 7 in order; 0xFF 0xFF 0xFF eight 7s.
    EXPECT_EQ(decodePacket({0x88, 0xC6, 0xFA}), decodeCodes({0, 1, 2, 3, 4, 5, 6, 7}));
    EXPECT_EQ(decodePacket({0xFF, 0xFF, 0xFF}), decodeCodes({7, 7, 7, 7, 7, 7, 7, 7}));
    // A last single byte gives two codes (its top two bits are ignored), a
    // last pair five (only the top bit of its second byte is left over).
    EXPECT_EQ(decodePacket({0x88, 0xC6, 0xFA, 0xC8}), decodeCodes({0, 1, 2, 3, 4, 5, 6, 7, 0, 1}));
    EXPECT_EQ(decodePacket({0x88, 0xC6, 0xFA, 0x88, 0xC6}),
              decodeCodes({0, 1, 2, 3, 4, 5, 6, 7, 0, 1, 2, 3, 4}));
    EXPECT_EQ(decodePacket({0x88, 0xC6, 0xFA, 0x88, 0x46}),
              decodeCodes({0, 1, 2, 3, 4, 5, 6, 7, 0, 1, 2, 3, 4}));
    EXPECT_EQ(decodePacket({0x88, 0xC6, 0xFA, 0x88, 0x07}),
              decodeCodes({0, 1, 2, 3, 4, 5, 6, 7, 0, 1, 6, 3, 0}));
}

TEST(G723Decode, EveryPacketStartsFromTheCallersState) {
    std::vector<uint8_t> packet;
    for (int i = 0; i < 48; i++) {
        packet.push_back(static_cast<uint8_t>(i * 37 + 11));
    }
    g72x_state caller = initialState();
    const g72x_state before = caller;
    std::vector<short> first(128), second(128);
    ASSERT_EQ(CG723Decode(packet.data(), 48, first.data(), 128, caller), 128);
    EXPECT_TRUE(sameState(caller, before));
    ASSERT_EQ(CG723Decode(packet.data(), 48, second.data(), 128, caller), 128);
    EXPECT_EQ(first, second);
    // Within the packet the state runs on: the codes decoded one at a time
    // from one state give the same samples.
    std::vector<int> codes;
    for (size_t g = 0; g < packet.size(); g += 3) {
        uint32_t bits = packet[g] | (packet[g + 1] << 8) | (packet[g + 2] << 16);
        for (int k = 0; k < 8; k++) {
            codes.push_back(static_cast<int>((bits >> (3 * k)) & 7));
        }
    }
    EXPECT_EQ(first, decodeCodes(codes));
}

TEST(G723Decoder, MasksTheCodeAndRejectsOtherOutputCodings) {
    g72x_state a = initialState();
    g72x_state b = initialState();
    EXPECT_EQ(g723_24_decoder(0xF9, AUDIO_ENCODING_LINEAR, &a),
              g723_24_decoder(1, AUDIO_ENCODING_LINEAR, &b));
    EXPECT_TRUE(sameState(a, b));

    // Any other output coding answers -1, but the state still moves on.
    g72x_state linear = initialState();
    g72x_state other = initialState();
    g723_24_decoder(3, AUDIO_ENCODING_LINEAR, &linear);
    EXPECT_EQ(g723_24_decoder(3, 1, &other), -1);
    EXPECT_TRUE(sameState(linear, other));
    EXPECT_FALSE(sameState(other, initialState()));
}

TEST(G723Decoder, FloatingMultiplyFollowsTheStandard) {
    // Worked by hand from the standard's FMULT: a zero coefficient magnitude
    // has exponent 0 and mantissa 32; 878 is exponent 13, mantissa 46:
    // ((46 * 32 + 48) >> 4) = 95, (95 << 7) >> (26 - 13) = 1.
    EXPECT_EQ(g72x::fmult(0, 878), 1);
    // The same with a negative signal (sign bit of the floating form set).
    EXPECT_EQ(g72x::fmult(0, 878 - 0x400), -1);
    // Magnitude 1: exponent 1, mantissa 32; 875 is exponent 13, mantissa 43:
    // ((43 * 32 + 48) >> 4) = 89, (89 << 7) >> (26 - 14) = 2, negative.
    EXPECT_EQ(g72x::fmult(-1, 875), -2);
    // Exponents adding past 26 shift left and keep 15 bits: 4096 is
    // exponent 13, mantissa 32; 1023 is exponent 15, mantissa 63:
    // ((63 * 32 + 48) >> 4) = 129, ((129 << 7) << 2) & 32767 = 512.
    EXPECT_EQ(g72x::fmult(4096, 1023), 512);
}

TEST(ULaw, ExpandsToSigned16Bit) {
    EXPECT_EQ(ulaw_to_s16(0xFF), 0);
    EXPECT_EQ(ulaw_to_s16(0x7F), 0);
    EXPECT_EQ(ulaw_to_s16(0x80), 32124);
    EXPECT_EQ(ulaw_to_s16(0x00), -32124);
    EXPECT_EQ(ulaw_to_s16(0x8F), 16764);
    EXPECT_EQ(ulaw_to_s16(0x0F), -16764);
    for (int b = 0; b < 256; b++) {
        EXPECT_EQ(ulaw_to_PCMs16(static_cast<uint8_t>(b)), ulaw_to_s16(static_cast<uint8_t>(b)));
        // Bit 7 is the sign: the two halves mirror each other.
        EXPECT_EQ(ulaw_to_s16(static_cast<uint8_t>(b)), -ulaw_to_s16(static_cast<uint8_t>(b ^ 0x80)));
    }
}
