// The byte readers and writers: every byte position, bytes at and above 0x80 (which must not
// spread a sign), and positions that are not aligned for the width read.
#include "platform/byte_order.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>

namespace {

struct Row {
    uint8_t bytes[8];
    uint16_t le16;
    uint32_t le32;
    uint64_t le64;
    uint32_t be32;
};

const Row kRows[] = {
    {{0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08}, 0x0201, 0x04030201, 0x0807060504030201, 0x01020304},
    {{0xFF, 0xFE, 0xFD, 0xFC, 0xFB, 0xFA, 0xF9, 0xF8}, 0xFEFF, 0xFCFDFEFF, 0xF8F9FAFBFCFDFEFF, 0xFFFEFDFC},
    {{0x80, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x80}, 0x0080, 0x00000080, 0x8000000000000080, 0x80000000},
    {{0x00, 0x80, 0x00, 0x80, 0x00, 0x00, 0x00, 0x00}, 0x8000, 0x80008000, 0x0000000080008000, 0x00800080},
    {{0x7F, 0xFF, 0xFF, 0x7F, 0xFF, 0xFF, 0xFF, 0xFF}, 0xFF7F, 0x7FFFFF7F, 0xFFFFFFFF7FFFFF7F, 0x7FFFFF7F},
};

TEST(ByteOrder, ReadsAndWritesEveryRowAtAnOddPosition) {
    for (const Row &row : kRows) {
        SCOPED_TRACE(testing::Message() << std::hex << row.le64);
        uint8_t buf[10] = {};
        std::memcpy(buf + 1, row.bytes, 8);
        EXPECT_EQ(readLE16(buf + 1), row.le16);
        EXPECT_EQ(readLE32(buf + 1), row.le32);
        EXPECT_EQ(readLE64(buf + 1), row.le64);
        EXPECT_EQ(readBE32(buf + 1), row.be32);

        // The writers lay down exactly the row's bytes and touch nothing beside them.
        uint8_t out[10];
        std::memset(out, 0xAA, sizeof out);
        writeLE32(out + 1, row.le32);
        writeLE16(out + 5, static_cast<uint16_t>(row.le64 >> 32));
        EXPECT_EQ(std::memcmp(out + 1, row.bytes, 6), 0);
        EXPECT_EQ(out[0], 0xAA);
        EXPECT_EQ(out[7], 0xAA);
    }
}

} // namespace
