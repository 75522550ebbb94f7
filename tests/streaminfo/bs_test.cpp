#include "streaminfo/bs.h"

#include <memory>
#include <vector>

#include <gtest/gtest.h>

#include "bit_writer.h"

namespace {

// A heap copy of exactly the given bytes, so that AddressSanitizer sees any
// read past the end.
struct Buf {
    explicit Buf(const std::vector<uint8_t> &v)
        : size(int(v.size())), data(new uint8_t[v.size() ? v.size() : 1]) {
        std::copy(v.begin(), v.end(), data.get());
    }
    int size;
    std::unique_ptr<uint8_t[]> data;
};

long bit_pos(const bs_t &b) {
    return long(b.p - b.start) * 8 + (8 - b.bits_left);
}

TEST(BitReader, FixedWidthFieldsAndWidthLimits) {
    Buf buf({0xA6, 0x42, 0xDE, 0xAD, 0xBE, 0xEF, 0x12});
    bs_t b;
    bs_init(&b, buf.data.get(), buf.size);
    EXPECT_EQ(bs_read_f(&b, 0), 0u);
    EXPECT_EQ(bs_read_f(&b, -5), 0u);
    EXPECT_EQ(bit_pos(b), 0);
    EXPECT_EQ(bs_read_f(&b, 1), 1u);
    EXPECT_EQ(bs_read_f(&b, 7), 0x26u);
    EXPECT_EQ(bs_read_u8(&b), 0x42u);
    // A width above 32 reads 32 bits.
    EXPECT_EQ(bs_read_f(&b, 40), 0xDEADBEEFu);
    EXPECT_EQ(bit_pos(b), 48);
    EXPECT_EQ(bs_read_f(&b, 8), 0x12u);
    EXPECT_EQ(b.p, b.end);
    EXPECT_EQ(b.bits_left, 8);
}

TEST(BitReader, ExpGolombCodes) {
    // ue codes 1, 010, 011, 00100 are 0, 1, 2, 3 and as se 0, 1, -1, 2.
    BitWriter w;
    w.bits("1 010 011 00100  1 010 011 00100");
    Buf buf(w.bytes());
    bs_t b;
    bs_init(&b, buf.data.get(), buf.size);
    EXPECT_EQ(bs_read_ue(&b), 0u);
    EXPECT_EQ(bs_read_ue(&b), 1u);
    EXPECT_EQ(bs_read_ue(&b), 2u);
    EXPECT_EQ(bs_read_ue(&b), 3u);
    EXPECT_EQ(bs_read_se(&b), 0);
    EXPECT_EQ(bs_read_se(&b), 1);
    EXPECT_EQ(bs_read_se(&b), -1);
    EXPECT_EQ(bs_read_se(&b), 2);
}

TEST(BitReader, MixedReadsRunningPastTheEnd) {
    Buf buf({0xA6, 0x42});
    bs_t b;
    bs_init(&b, buf.data.get(), buf.size);
    EXPECT_EQ(bs_read_f(&b, 3), 5u);
    EXPECT_EQ(bs_read_ue(&b), 5u);
    EXPECT_EQ(b.bits_left, 8);
    EXPECT_EQ(b.p, b.start + 1);
    EXPECT_EQ(bs_read_se(&b), 1);
    // 0001 then the last real bit 0 and two zeros from beyond the end: k = 7.
    EXPECT_EQ(bs_read_se(&b), 4);
    EXPECT_EQ(b.p, b.end);
    EXPECT_EQ(b.bits_left, 8);
    EXPECT_EQ(bs_read_f(&b, 32), 0u);
    EXPECT_EQ(bs_read_ue(&b), 0u);
    EXPECT_EQ(bs_read_se(&b), 0);
    EXPECT_EQ(b.p, b.end);
}

TEST(BitReader, EmptyAndInvalidBuffers) {
    bs_t b;
    bs_init(&b, nullptr, 0);
    EXPECT_EQ(bs_read_f(&b, 8), 0u);
    EXPECT_EQ(bs_read_ue(&b), 0u);
    EXPECT_EQ(bs_read_se(&b), 0);
    EXPECT_TRUE(bs_eof(&b));

    uint8_t one = 0xFF;
    bs_init(&b, &one, -3);
    EXPECT_EQ(bs_read_f(&b, 8), 0u);
    EXPECT_EQ(b.p, b.start);

    bs_t *h = bs_new(&one, 1);
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(bs_read_f(h, 12), 0xFF0u); // real bits first, then zeros
    EXPECT_EQ(h->p, h->end);
    EXPECT_EQ(h->bits_left, 8);
    bs_free(h);
}

TEST(BitReader, UeOverTrailingZeroBits) {
    // With only z zero bits left, ue consumes them all and gives 2^(z-1) - 1.
    for (int z = 1; z <= 32; z++) {
        SCOPED_TRACE(z);
        int nbytes = (z + 7) / 8;
        Buf buf(std::vector<uint8_t>(nbytes, 0));
        bs_t b;
        bs_init(&b, buf.data.get(), buf.size);
        bs_read_f(&b, nbytes * 8 - z);
        EXPECT_EQ(bs_read_ue(&b), (uint32_t)((1ull << (z - 1)) - 1));
        EXPECT_TRUE(bs_eof(&b));
    }
}

TEST(BitReader, UeWithThirtyTwoOrMoreLeadingZeros) {
    // 33 zeros then 32 value bits: the value bits alone.
    {
        BitWriter w;
        w.u(33, 0).u(32, 0xDEADBEEF).u(7, 0x55);
        Buf buf(w.bytes());
        bs_t b;
        bs_init(&b, buf.data.get(), buf.size);
        EXPECT_EQ(bs_read_ue(&b), 0xDEADBEEFu);
        EXPECT_EQ(bit_pos(b), 65);
        EXPECT_EQ(bs_read_f(&b, 7), 0x55u);
    }
    // 32 zeros then a 1: the same, the 1 ends the prefix.
    {
        BitWriter w;
        w.u(32, 0).bit(1).u(32, 0x7FFFFFFF).u(7, 0);
        Buf buf(w.bytes());
        bs_t b;
        bs_init(&b, buf.data.get(), buf.size);
        EXPECT_EQ(bs_read_ue(&b), 0x7FFFFFFFu);
        EXPECT_EQ(bit_pos(b), 65);
    }
    // The largest se magnitudes come out without overflow.
    {
        BitWriter w;
        w.u(33, 0).u(32, 0x7FFFFFFF).u(33, 0).u(32, 0x80000000).u(33, 0).u(32, 0xFFFFFFFF);
        Buf buf(w.bytes());
        bs_t b;
        bs_init(&b, buf.data.get(), buf.size);
        EXPECT_EQ(bs_read_se(&b), 0x40000000);
        EXPECT_EQ(bs_read_se(&b), 0x40000000);
        EXPECT_EQ(bs_read_se(&b), 0); // k = -1 taken as odd
    }
    // A long run of zeros to the end stops after 33 of them.
    {
        Buf buf(std::vector<uint8_t>(16, 0));
        bs_t b;
        bs_init(&b, buf.data.get(), buf.size);
        EXPECT_EQ(bs_read_ue(&b), 0u);
        EXPECT_EQ(bit_pos(b), 65);
    }
}

} // namespace
