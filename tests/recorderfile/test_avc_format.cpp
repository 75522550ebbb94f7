// Readers and payload tests of the AVC recording format, on byte buffers built
// here field by field.
#include "recorderfile/avc_format.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "platform/log.h"
#include "recorderfile/byte_file.h"

namespace {

// The fixed 80-byte part with a distinct value in every field, so a field read
// from the wrong offset shows.
Bytes mainFixed(uint8_t version, uint32_t total, uint32_t flags) {
    Bytes b;
    b.u16(0x1111).u16(0x2222).u8(1).u8(2).u8(3).u8(4);
    for (uint32_t v : {2023u, 5u, 3u, 17u, 10u, 20u, 30u, 400u})
        b.u16(v);
    for (uint32_t v : {2024u, 6u, 1u, 18u, 11u, 21u, 31u, 500u})
        b.u16(v);
    b.u32(0xAABBCCDD).u32(0x01020304).u32(total).u32(0x55667788).u16(0x9999).u8(version).u8(0x77);
    b.text("ABCDEFGHIJKLMNOP").u32(flags);
    return b;
}

struct MainRead {
    int result = -1;
    unsigned long consumed = 12345;
    uint64_t filePos = 0;
};

MainRead readMain(const Bytes &bytes, HEADER_MAIN_EX &h) {
    ByteFile f(bytes.vec());
    EXPECT_TRUE(f.ok());
    MainRead r;
    r.result = parse_main_header(f.reader(), &h, &r.consumed);
    r.filePos = f.reader()->filePos;
    return r;
}

struct MainHeaderRecord {
    HEADER_MAIN_EX h{};
    ~MainHeaderRecord() { release_main_header(&h); }
};

} // namespace

TEST(MainHeader, FixedPartAndFlagsZero) {
    MainHeaderRecord rec;
    Bytes b = mainFixed(8, 300, 0);
    b.u16(0xBEEF);   // trailing field
    b.u32(0).u16(0); // a frame record follows
    const MainRead r = readMain(b, rec.h);
    ASSERT_EQ(r.result, 1);
    EXPECT_EQ(r.consumed, 82u);
    EXPECT_EQ(r.filePos, 82u) << "the first frame record starts right behind the header";
    const HEADER_MAIN &m = rec.h.main;
    EXPECT_EQ(m.wField0, 0x1111);
    EXPECT_EQ(m.wField2, 0x2222);
    EXPECT_EQ(m.byField4[3], 4);
    EXPECT_EQ(m.stTime8.wYear, 2023);
    EXPECT_EQ(m.stTime8.wMilliseconds, 400);
    EXPECT_EQ(m.stTime24.wYear, 2024);
    EXPECT_EQ(m.stTime24.wDay, 18);
    EXPECT_EQ(m.dwField40, 0xAABBCCDDu);
    EXPECT_EQ(m.dwField44, 0x01020304u);
    EXPECT_EQ(m.dwTotalFrames, 300u);
    EXPECT_EQ(m.dwField52, 0x55667788u);
    EXPECT_EQ(m.wField56, 0x9999);
    EXPECT_EQ(m.byVersion, 8);
    EXPECT_EQ(m.byField59, 0x77);
    EXPECT_EQ(std::string(m.szField60, 16), "ABCDEFGHIJKLMNOP");
    EXPECT_EQ(m.dwFlags, 0u);
    EXPECT_EQ(rec.h.byFlag1, 0);
    EXPECT_EQ(rec.h.qwField2, 4294967295ull) << "default when flag 0x2 is absent";
    EXPECT_EQ(rec.h.wTrailing, 0xBEEF);
    EXPECT_EQ(rec.h.pTitle, nullptr);
}

TEST(MainHeader, EveryOptionalField) {
    MainHeaderRecord rec;
    const std::string title = "CH1.Title=Gate\nCH2.Title=Yard\n";
    Bytes b = mainFixed(9, 7, 0xFF);
    b.u64(0x0102030405060708ull).u32(0x0000800F).u16(static_cast<uint32_t>(title.size())).text(title);
    b.u32(0xCAFEBABE).u8(0x21).u32(0x00010003).u16(0x4455).u16(0x6677);
    const MainRead r = readMain(b, rec.h);
    ASSERT_EQ(r.result, 1);
    EXPECT_EQ(r.consumed, 80u + 8 + 4 + 2 + title.size() + 4 + 1 + 4 + 2 + 2);
    EXPECT_EQ(r.consumed, b.size());
    EXPECT_EQ(rec.h.byFlag1, 1);
    EXPECT_EQ(rec.h.qwField2, 0x0102030405060708ull);
    EXPECT_EQ(rec.h.dwVideoChannelMask, 0x800Fu);
    EXPECT_EQ(rec.h.wTitleLength, title.size());
    ASSERT_NE(rec.h.pTitle, nullptr);
    EXPECT_EQ(std::string(rec.h.pTitle), title) << "terminated right after the text";
    EXPECT_EQ(rec.h.dwField10, 0xCAFEBABEu);
    EXPECT_EQ(rec.h.dwAudioChannelMask, 0x00010003u) << "the 0x40 word wins over the 0x20 byte";
    EXPECT_EQ(rec.h.wField80, 0x4455);
    EXPECT_EQ(rec.h.wTrailing, 0x6677);
}

TEST(MainHeader, SingleFlagsAndOwnerValues) {
    {
        MainHeaderRecord rec;
        Bytes b = mainFixed(8, 1, 0x20);
        b.u8(0x81).u16(0);
        ASSERT_EQ(readMain(b, rec.h).result, 1);
        EXPECT_EQ(rec.h.dwAudioChannelMask, 0x81u) << "one byte, zero-extended";
    }
    {
        MainHeaderRecord rec;
        Bytes b = mainFixed(8, 1, 0x8);
        b.u16(0).u16(0);
        const MainRead r = readMain(b, rec.h);
        ASSERT_EQ(r.result, 1);
        EXPECT_EQ(r.consumed, 84u);
        ASSERT_NE(rec.h.pTitle, nullptr) << "an empty title still gets a buffer";
        EXPECT_EQ(rec.h.pTitle[0], '\0');
        EXPECT_EQ(rec.h.wTitleLength, 0);
    }
    {
        // Fields whose flag is absent keep what the owner put there.
        MainHeaderRecord rec;
        rec.h.dwVideoChannelMask = 0x55;
        rec.h.dwAudioChannelMask = 0x66;
        rec.h.wField80 = 0x77;
        Bytes b = mainFixed(8, 1, 0x4);
        b.u32(0x3).u16(0);
        ASSERT_EQ(readMain(b, rec.h).result, 1);
        EXPECT_EQ(rec.h.dwVideoChannelMask, 0x3u);
        EXPECT_EQ(rec.h.dwAudioChannelMask, 0x66u);
        EXPECT_EQ(rec.h.wField80, 0x77);
    }
}

TEST(MainHeader, ShortAtEveryLength) {
    const std::string title = "CH3.Title=Garage\n";
    Bytes b = mainFixed(9, 7, 0xFE);
    b.u64(1).u32(2).u16(static_cast<uint32_t>(title.size())).text(title).u32(3).u8(4).u32(5).u16(6).u16(7);
    for (size_t cut = 0; cut < b.size(); ++cut) {
        Bytes part;
        part.raw(std::vector<uint8_t>(b.vec().begin(), b.vec().begin() + static_cast<long>(cut)));
        MainHeaderRecord rec;
        const MainRead r = readMain(part, rec.h);
        EXPECT_EQ(r.result, 0) << "cut at " << cut;
        EXPECT_LE(r.consumed, cut) << "cut at " << cut;
        if (rec.h.pTitle) {
            EXPECT_LE(std::strlen(rec.h.pTitle), title.size());
        }
    }
}

namespace {

struct FrameRead {
    int result = -1;
    unsigned long consumed = 0;
};

FrameRead readFrame(const Bytes &bytes, HEADER_FRAME &h, unsigned long startConsumed = 0) {
    ByteFile f(bytes.vec(), 16);
    EXPECT_TRUE(f.ok());
    FrameRead r;
    r.consumed = startConsumed;
    r.result = parse_frame_header(f.reader(), &h, r.consumed);
    return r;
}

// A header with every flag bit set (bits 0x20000..0x10000000 select nothing).
Bytes fullFrameHeader(uint16_t marker) {
    Bytes b;
    b.u32(0xFFFFFFFF);
    b.u32(42);                  // 0x1 frame number
    b.u32(1000);                // 0x2 payload length
    b.u16(704);                 // 0x4 width
    b.u16(576);                 // 0x8 height
    b.u32(123456);              // 0x10 time stamp
    b.u8(5);                    // 0x20 channel
    b.u8(0x40);                 // 0x40
    b.u8(8);                    // 0x80 stream type
    b.u32(3913056000u + 3661);  // 0x100 frame time: 2024-01-01 01:01:01
    b.u32(0xFFFFFFFE).u32(7);   // 0x200 two i32
    b.u8(0x44);                 // 0x400
    b.u8(0x88);                 // 0x800
    b.u8(0x03);                 // 0x1000 picture structure
    b.u32(3913056000u + 86400); // 0x2000 display time: 2024-01-02 00:00:00
    b.u8(1).u8(2).u8(3).u8(4);  // 0x4000 block
    for (int i = 0; i < 16; ++i)
        b.u8(0xA0 + i);
    b.u32(0x11223344);
    for (uint32_t v : {2020u, 2u, 6u, 29u, 23u, 59u, 58u, 999u})
        b.u16(v);
    for (int i = 0; i < 16; ++i) // 0x8000
        b.u8(0xB0 + i);
    b.u32(0x99887766); // 0x10000
    b.u16(marker);     // 0x20000000
    b.u16(0x1234);     // 0x40000000
    b.u16(0x5678);     // 0x80000000
    b.u16(0xDEAD);     // always, dropped
    return b;
}

} // namespace

TEST(FrameHeader, FlagsZeroIsSixBytes) {
    HEADER_FRAME h;
    std::memset(&h, 0xAB, sizeof h);
    Bytes b;
    b.u32(0).u16(0x1234);
    const FrameRead r = readFrame(b, h, 100);
    EXPECT_EQ(r.result, 1);
    EXPECT_EQ(r.consumed, 106u) << "bytes read are added to what the caller had";
    HEADER_FRAME zero;
    std::memset(&zero, 0, sizeof zero);
    EXPECT_EQ(std::memcmp(&h, &zero, sizeof h), 0) << "the record is zeroed before the read";
}

TEST(FrameHeader, EveryField) {
    HEADER_FRAME h;
    const Bytes b = fullFrameHeader(0x5641);
    const FrameRead r = readFrame(b, h);
    EXPECT_EQ(r.result, 2) << "marker 0x5641";
    EXPECT_EQ(r.consumed, b.size());
    EXPECT_EQ(r.consumed,
              4u + 4 + 4 + 2 + 2 + 4 + 1 + 1 + 1 + 4 + 8 + 1 + 1 + 1 + 4 + 40 + 16 + 4 + 2 + 2 + 2 + 2);
    EXPECT_EQ(h.dwFrameNo, 42u);
    EXPECT_EQ(h.dwLength, 1000u);
    EXPECT_EQ(h.wWidth, 704);
    EXPECT_EQ(h.wHeight, 576);
    EXPECT_EQ(h.dwTimeStamp, 123456u);
    EXPECT_EQ(h.byChannel, 5);
    EXPECT_EQ(h.byField40, 0x40);
    EXPECT_EQ(h.byStreamType, 8);
    EXPECT_EQ(h.stFrameTime.wYear, 2024);
    EXPECT_EQ(h.stFrameTime.wMonth, 1);
    EXPECT_EQ(h.stFrameTime.wDay, 1);
    EXPECT_EQ(h.stFrameTime.wHour, 1);
    EXPECT_EQ(h.stFrameTime.wMinute, 1);
    EXPECT_EQ(h.stFrameTime.wSecond, 1);
    EXPECT_EQ(h.stFrameTime.wDayOfWeek, 1);
    EXPECT_EQ(h.iField200[0], -2);
    EXPECT_EQ(h.iField200[1], 7);
    EXPECT_EQ(h.byField400, 0x44);
    EXPECT_EQ(h.byField800, 0x88);
    EXPECT_EQ(h.byFirstField, 1);
    EXPECT_EQ(h.byFieldCoded, 1);
    EXPECT_EQ(h.stDisplayTime.wDay, 2);
    EXPECT_EQ(h.stDisplayTime.wHour, 0);
    EXPECT_EQ(h.stDisplayTime.wDayOfWeek, 2);
    EXPECT_EQ(h.block4000.by0, 1);
    EXPECT_EQ(h.block4000.by3, 4);
    EXPECT_EQ(h.block4000.bytes[15], 0xAF);
    EXPECT_EQ(h.block4000.dwValue, 0x11223344u);
    EXPECT_EQ(h.block4000.stTime.wYear, 2020);
    EXPECT_EQ(h.block4000.stTime.wDay, 29);
    EXPECT_EQ(h.block4000.stTime.wMilliseconds, 999);
    EXPECT_EQ(h.byField8000[0], 0xB0);
    EXPECT_EQ(h.byField8000[15], 0xBF);
    EXPECT_EQ(h.dwField10000, 0x99887766u);
    EXPECT_EQ(h.wMarker, 0x5641);
    EXPECT_EQ(h.wField40000000, 0x1234);
    EXPECT_EQ(h.wField80000000, 0x5678);
    EXPECT_EQ(h.wUnused, 0);
    EXPECT_EQ(h.byIsKeyFrame, 0) << "set by the parser, never read";

    HEADER_FRAME other;
    EXPECT_EQ(readFrame(fullFrameHeader(0x4156), other).result, 1) << "any other marker value";
}

TEST(FrameHeader, TimesAndPictureStructure) {
    {
        HEADER_FRAME h;
        Bytes b;
        b.u32(0x100).u32(3913056000u + 45296).u16(0); // 12:34:56
        ASSERT_EQ(readFrame(b, h).result, 1);
        EXPECT_EQ(h.stFrameTime.wHour, 12);
        EXPECT_EQ(h.stFrameTime.wMinute, 34);
        EXPECT_EQ(h.stFrameTime.wSecond, 56);
        EXPECT_EQ(h.stFrameTime.wMilliseconds, 0);
        EXPECT_EQ(std::memcmp(&h.stDisplayTime, &h.stFrameTime, sizeof h.stFrameTime), 0)
            << "no display time: a copy of the frame time";
    }
    struct Case {
        uint8_t b, first, fieldCoded;
    };
    for (const Case &c : {Case{0x10, 1, 0}, Case{0x03, 1, 1}, Case{0x04, 0, 0}, Case{0x02, 1, 0},
                          Case{0x01, 1, 1}, Case{0x00, 0, 0}, Case{0x11, 1, 1}, Case{0x20, 0, 0}}) {
        HEADER_FRAME h;
        Bytes b;
        b.u32(0x1000).u8(c.b).u16(0);
        ASSERT_EQ(readFrame(b, h).result, 1);
        EXPECT_EQ(h.byFirstField, c.first) << "byte " << int(c.b);
        EXPECT_EQ(h.byFieldCoded, c.fieldCoded) << "byte " << int(c.b);
    }
}

TEST(FrameHeader, ShortAtEveryLength) {
    const Bytes b = fullFrameHeader(0x5641);
    for (size_t cut = 0; cut < b.size(); ++cut) {
        Bytes part;
        part.raw(std::vector<uint8_t>(b.vec().begin(), b.vec().begin() + static_cast<long>(cut)));
        HEADER_FRAME h;
        const FrameRead r = readFrame(part, h);
        EXPECT_EQ(r.result, 0) << "cut at " << cut;
        EXPECT_LE(r.consumed, cut);
    }
}

namespace {

Bytes frameRecord(uint32_t number, uint8_t type, const std::vector<uint8_t> &payload) {
    Bytes b;
    b.u32(0x1 | 0x2 | 0x20 | 0x80)
        .u32(number)
        .u32(static_cast<uint32_t>(payload.size()))
        .u8(1)
        .u8(type)
        .u16(0);
    b.raw(payload);
    return b;
}

std::vector<uint8_t> pattern(size_t n, uint8_t seed) {
    std::vector<uint8_t> v(n);
    for (size_t i = 0; i < n; ++i)
        v[i] = static_cast<uint8_t>(seed + i * 7);
    return v;
}

} // namespace

TEST(FrameRecord, PayloadsOversizeAndShort) {
    const auto p1 = pattern(300, 1), p2 = pattern(5000, 2), p3 = pattern(10, 3), p4 = pattern(200, 4);
    Bytes file;
    file.append(frameRecord(1, 8, p1)).append(frameRecord(2, 8, p2)).append(frameRecord(3, 6, p3));
    Bytes noLength;
    noLength.u32(0x1).u32(4).u16(0);
    file.append(noLength);
    file.append(frameRecord(5, 7, p4));
    Bytes tail = frameRecord(6, 7, pattern(50, 5));
    tail.vec().resize(tail.size() - 1); // the last payload is one byte short
    file.append(tail);

    ByteFile f(file.vec(), 256);
    ASSERT_TRUE(f.ok());
    // Exactly 1000 bytes of heap so any write past the capacity shows under ASan.
    std::unique_ptr<char[]> buf(new char[1000]);
    HEADER_FRAME h;
    unsigned long pos = 82;
    ASSERT_EQ(get_avc_frame(f.reader(), &h, buf.get(), 1000, &pos), 1);
    EXPECT_EQ(h.dwLength, 300u);
    EXPECT_EQ(std::memcmp(buf.get(), p1.data(), p1.size()), 0);
    EXPECT_EQ(pos, 82u + 16 + 300);

    // 5000 bytes do not fit into 1000: skipped, in step, dropped, logged.
    std::vector<std::string> lines;
    player_log_set_sink([&](const std::string &line) { lines.push_back(line); });
    const int dropped = get_avc_frame(f.reader(), &h, buf.get(), 1000, &pos);
    player_log_set_sink(nullptr);
    EXPECT_EQ(dropped, AVC_READ_DROPPED);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_NE(lines[0].find("5000"), std::string::npos) << lines[0];
    EXPECT_EQ(h.dwLength, 0u);
    EXPECT_EQ(h.dwFrameNo, 2u);
    EXPECT_EQ(pos, 82u + 16 + 300 + 16 + 5000);

    ASSERT_EQ(get_avc_frame(f.reader(), &h, buf.get(), 1000, &pos), 1);
    EXPECT_EQ(h.dwFrameNo, 3u);
    EXPECT_EQ(h.byStreamType, 6);
    EXPECT_EQ(std::memcmp(buf.get(), p3.data(), p3.size()), 0);

    ASSERT_EQ(get_avc_frame(f.reader(), &h, buf.get(), 1000, &pos), 1);
    EXPECT_EQ(h.dwFrameNo, 4u);
    EXPECT_EQ(h.dwLength, 0u) << "no length bit: no payload";

    // A capacity below the skip chunk size still skips exactly the payload.
    ASSERT_EQ(get_avc_frame(f.reader(), &h, buf.get(), 100, &pos), AVC_READ_DROPPED);
    EXPECT_EQ(h.dwFrameNo, 5u);

    EXPECT_EQ(get_avc_frame(f.reader(), &h, buf.get(), 1000, &pos), 0) << "short payload";
    EXPECT_EQ(get_avc_frame(f.reader(), &h, buf.get(), 1000, &pos), 0) << "nothing left";
}

namespace {

std::vector<uint8_t> prefixed(uint8_t kind, size_t total, bool extend, uint32_t extLen) {
    std::vector<uint8_t> v = pattern(total, 9);
    const uint8_t head[] = {0, 0, 0, 1, kind, 0x0F};
    std::copy(head, head + 6, v.begin());
    if (total > 22) v[22] = extend ? 0x20 : 0xDF;
    if (total >= 48) {
        v[44] = static_cast<uint8_t>(extLen);
        v[45] = static_cast<uint8_t>(extLen >> 8);
        v[46] = static_cast<uint8_t>(extLen >> 16);
        v[47] = static_cast<uint8_t>(extLen >> 24);
    }
    return v;
}

struct Stripped {
    int result;
    long offset; // bytes stripped
    unsigned long len;
};

Stripped strip(std::vector<uint8_t> v, unsigned char version) {
    // Exact-size heap copy: a read past the payload shows under ASan.
    std::unique_ptr<char[]> data(new char[v.size() ? v.size() : 1]);
    if (!v.empty()) std::memcpy(data.get(), v.data(), v.size());
    char *out = nullptr;
    unsigned long outLen = 999999;
    const int r = fix_avc_frame(data.get(), v.size(), &out, &outLen, version);
    return {r, out - data.get(), outLen};
}

} // namespace

TEST(Prefix, StripLengths) {
    struct Case {
        uint8_t kind;
        size_t total;
        bool extend;
        uint32_t ext;
        unsigned char version;
        long stripped;
    };
    const Case cases[] = {
        {0x1F, 200, true, 8, 9, 56},  // 48 + 8 bytes of extend info
        {0x1F, 200, true, 8, 8, 20},  // other versions: 20
        {0x1F, 200, false, 8, 9, 44}, // no extend info
        {0x1E, 200, true, 8, 9, 42},  // the 1E form ignores the flag
        {0x1E, 200, false, 0, 8, 20}, {0x1F, 200, true, 0, 9, 48},
        {0x1F, 44, false, 0, 9, 44}, // nothing left but the prefix
    };
    for (const Case &c : cases) {
        const Stripped s = strip(prefixed(c.kind, c.total, c.extend, c.ext), c.version);
        EXPECT_EQ(s.result, 1);
        EXPECT_EQ(s.offset, c.stripped) << "kind " << int(c.kind) << " version " << int(c.version);
        EXPECT_EQ(s.len, c.total - c.stripped);
    }

    // Not a prefix: passed on unchanged.
    for (std::vector<uint8_t> v :
         {std::vector<uint8_t>{0, 0, 0, 1, 0x67, 0x42, 0, 0}, std::vector<uint8_t>{0, 0, 0, 1, 0x1F, 0x0E, 1},
          std::vector<uint8_t>{0, 0, 0, 1, 0x1F}, std::vector<uint8_t>{}}) {
        const Stripped s = strip(v, 9);
        EXPECT_EQ(s.result, 1);
        EXPECT_EQ(s.offset, 0);
        EXPECT_EQ(s.len, v.size());
    }

    bk_video_frame_header prefix{};
    EXPECT_EQ(check_read_extend_info(&prefix), 0);
    prefix.bytes[22] = 0x20;
    EXPECT_EQ(check_read_extend_info(&prefix), 1);
    prefix.bytes[22] = 0xDF;
    EXPECT_EQ(check_read_extend_info(&prefix), 0);
}

TEST(Prefix, LongerThanPayloadIsDropped) {
    struct Case {
        uint8_t kind;
        size_t total;
        bool extend;
        uint32_t ext;
        unsigned char version;
    };
    const Case cases[] = {
        {0x1F, 30, false, 0, 9},           // 44-byte prefix in 30 bytes
        {0x1E, 41, false, 0, 9},           // 42-byte prefix in 41 bytes
        {0x1F, 10, false, 0, 8},           // 20-byte prefix in 10 bytes
        {0x1F, 20, false, 0, 9},           // the extend flag itself is missing
        {0x1F, 47, true, 0, 9},            // extend length field cut off
        {0x1F, 100, true, 53, 9},          // 48 + 53 > 100
        {0x1F, 100, true, 0xFFFFFFFFu, 9}, // would wrap in 32 bits
        {0x1F, 100, true, 0xFFFFFFD0u, 9}, // 48 + ext wraps to 0 in 32 bits
    };
    for (const Case &c : cases) {
        const Stripped s = strip(prefixed(c.kind, c.total, c.extend, c.ext), c.version);
        EXPECT_EQ(s.result, 0) << "total " << c.total << " ext " << c.ext;
        EXPECT_EQ(s.offset, 0);
        EXPECT_EQ(s.len, 0u);
    }
}

namespace {

int h264Key(std::vector<uint8_t> v) {
    std::unique_ptr<char[]> data(new char[v.size() ? v.size() : 1]);
    if (!v.empty()) std::memcpy(data.get(), v.data(), v.size());
    return check_h264_i_frame(data.get(), v.size());
}

int mpeg4Key(std::vector<uint8_t> v) {
    std::unique_ptr<char[]> data(new char[v.size() ? v.size() : 1]);
    if (!v.empty()) std::memcpy(data.get(), v.data(), v.size());
    return check_mpeg4_i_frame(data.get(), v.size());
}

} // namespace

TEST(KeyFrame, H264) {
    EXPECT_EQ(h264Key({0, 0, 0, 1, 0x67, 0x42}), 1);
    EXPECT_EQ(h264Key({0, 0, 0, 1, 0x27}), 1) << "SPS with another nal_ref_idc";
    EXPECT_EQ(h264Key({0, 0, 0, 1, 0x17}), 1) << "the low four bits decide";
    EXPECT_EQ(h264Key({0, 0, 0, 1, 0x65, 0x88}), 0) << "an IDR slice first is not enough";
    EXPECT_EQ(h264Key({0, 0, 0, 1, 0x41}), 0);
    EXPECT_EQ(h264Key({0, 0, 0, 1, 0x68}), 0);
    EXPECT_EQ(h264Key({0, 0, 1, 0x67, 0x42}), 0) << "three-byte start code";
    EXPECT_EQ(h264Key({0, 0, 0, 1}), 0) << "four bytes only";
    EXPECT_EQ(h264Key({}), 0);
    EXPECT_EQ(check_h264_i_frame(nullptr, 10), 0);
}

TEST(KeyFrame, Mpeg4) {
    EXPECT_EQ(mpeg4Key({0, 0, 1, 0xB6, 0x3F}), 1);
    EXPECT_EQ(mpeg4Key({0, 0, 1, 0xB6, 0x40}), 0);
    EXPECT_EQ(mpeg4Key({0, 0, 1, 0xB6, 0x00, 0x00}), 1);
    EXPECT_EQ(mpeg4Key({0, 0, 1, 0xB6, 0x80}), 0);
    EXPECT_EQ(mpeg4Key({0x01, 0xB6, 0x05}), 1) << "the window starts as zeros";
    EXPECT_EQ(mpeg4Key({0x00, 0x01, 0xB6, 0x05}), 1);
    EXPECT_EQ(mpeg4Key({0x12, 0x01, 0xB6, 0x05}), 0);
    EXPECT_EQ(mpeg4Key({0, 0, 1, 0xB6}), 0) << "no byte after the start code";
    EXPECT_EQ(mpeg4Key({0xFF, 0, 0, 1, 0xB6}), 0);
    EXPECT_EQ(mpeg4Key({0, 0, 1, 0xB0, 1, 0, 0, 1, 0xB6, 0x50, 0, 0, 1, 0xB6, 0x00}), 0)
        << "the first VOP decides";
    EXPECT_EQ(mpeg4Key({0xB6, 0xB6, 0x00}), 0);
    EXPECT_EQ(mpeg4Key({}), 0);
}

// Generated recordings cover the stream types a recorder writes; these are the rest.
TEST(KeyFrame, OtherStreamTypes) {
    std::vector<uint8_t> sps = {0, 0, 0, 1, 0x67, 1}, intraVop = {0, 0, 1, 0xB6, 0x00};
    auto key = [](std::vector<uint8_t> &v, unsigned char t) {
        return check_i_frame(reinterpret_cast<char *>(v.data()), v.size(), t);
    };
    auto entry = [](std::vector<uint8_t> &v, unsigned char t) {
        return check_mapping_table_type(reinterpret_cast<char *>(v.data()), v.size(), t);
    };
    EXPECT_EQ(key(sps, 1), 0) << "an SPS is not an MPEG-4 intra VOP";
    EXPECT_EQ(key(intraVop, 8), 0);
    EXPECT_EQ(entry(sps, 4), 0x1002u);
    EXPECT_EQ(key(sps, 3), 0);
    EXPECT_EQ(entry(sps, 3), 0x8000u);
    for (unsigned char t : {0, 12, 13, 200, 255}) {
        EXPECT_EQ(key(sps, t), 0) << "type " << int(t);
        EXPECT_EQ(key(intraVop, t), 0) << "type " << int(t);
        EXPECT_EQ(entry(sps, t), 0u) << "type " << int(t);
    }
}

TEST(Audio, PropertiesByType) {
    for (int t = 0; t < 256; ++t) {
        const auto type = static_cast<unsigned char>(t);
        EXPECT_EQ(get_audio_samples(type), 8000);
        const int bits = (t == 6 || t == 10 || t == 11) ? 16 : (t == 7 || t == 9) ? 8 : 0;
        EXPECT_EQ(get_audio_bits(type), bits) << "type " << t;
        EXPECT_EQ(get_audio_channels(type), t == 9 ? 2 : 1) << "type " << t;
    }
}

namespace {

struct TitleTable {
    char rows[AVC_TITLE_ROWS + 2][AVC_TITLE_ROW_SIZE]; // a guard row before and after
    TitleTable() { std::memset(rows, '#', sizeof rows); }
    char *table() { return rows[1]; }
    std::string row(int i) const { return rows[1 + i]; }
    bool untouched(int i) const {
        for (int k = 0; k < AVC_TITLE_ROW_SIZE; ++k)
            if (rows[1 + i][k] != '#') return false;
        return true;
    }
};

int titles(TitleTable &t, const std::string &text) {
    // The text as the file holds it: exactly its bytes, no terminating zero.
    std::unique_ptr<char[]> data(new char[text.size() ? text.size() : 1]);
    if (!text.empty()) std::memcpy(data.get(), text.data(), text.size());
    return get_channel_title(t.table(), data.get(), text.size());
}

} // namespace

TEST(ChannelTitle, RowsByChannelNumber) {
    TitleTable t;
    EXPECT_EQ(titles(t, "CH1.Title=Front door\nCH2.Title=Yard\nCH16.Title=Back\n"), 3);
    EXPECT_EQ(t.row(0), "Front door");
    EXPECT_EQ(t.row(1), "Yard");
    EXPECT_EQ(t.row(15), "Back");
    EXPECT_TRUE(t.untouched(2));
    EXPECT_TRUE(t.untouched(-1));
    EXPECT_TRUE(t.untouched(16));

    TitleTable u;
    EXPECT_EQ(titles(u, "CH3.Title=No newline at the end"), 1);
    EXPECT_EQ(u.row(2), "No newline at the end");

    TitleTable e;
    EXPECT_EQ(titles(e, "CH4.Title=\nCH5.Title=x"), 2);
    EXPECT_EQ(e.row(3), "");
    EXPECT_EQ(e.row(4), "x");
}

TEST(ChannelTitle, BadLinesStayOutside) {
    TitleTable t;
    const std::string longName(600, 'n');
    const std::string text = "CH0.Title=zero\nCH17.Title=seventeen\nCH99.Title=x\nCH123.Title=y\nX5.Title=z\n"
                             "CH6Title=w\n=\n.Title=\nH.Title=v\nCH7.Title=" +
                             longName + "\nCH8.Title=after\n";
    EXPECT_EQ(titles(t, text), 2);
    for (int i = -1; i <= 16; ++i) {
        if (i != 6 && i != 7) {
            EXPECT_TRUE(t.untouched(i)) << "row " << i;
        }
    }
    EXPECT_EQ(t.row(6), std::string(255, 'n')) << "cut to the slot, terminated";
    EXPECT_EQ(t.row(7), "after");

    TitleTable empty;
    EXPECT_EQ(titles(empty, ""), 0);
    EXPECT_EQ(get_channel_title(empty.table(), nullptr, 10), 0);
}
