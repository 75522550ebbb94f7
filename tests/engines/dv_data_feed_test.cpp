#include "engines/dv_data_feed.h"

#include "common/run_cmd.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <random>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr uint64_t B = kDataFeedBufferSize;

// The byte at file offset p of the generated files: position-dependent, never constant for long,
// and not a multiple of the window size in period, so a byte from the wrong place shows.
uint8_t patternByte(uint64_t p) {
    uint64_t x = p * 0x9E3779B97F4A7C15ull;
    x ^= x >> 29;
    return static_cast<uint8_t>(x ^ (p >> 16));
}

class DataFeedTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_FALSE(tmp_.path().empty());
        dir_ = tmp_.path();
    }
    std::string makeFile(const std::string &name, uint64_t size) {
        std::string path = dir_ + "/" + name;
        FILE *f = std::fopen(path.c_str(), "wb");
        EXPECT_NE(f, nullptr);
        std::vector<uint8_t> chunk(1 << 16);
        for (uint64_t p = 0; p < size;) {
            size_t n = static_cast<size_t>(std::min<uint64_t>(chunk.size(), size - p));
            for (size_t i = 0; i < n; ++i)
                chunk[i] = patternByte(p + i);
            std::fwrite(chunk.data(), 1, n, f);
            p += n;
        }
        std::fclose(f);
        return path;
    }
    // Walks with single steps (filling when refused) to absolute offset `to`.
    static void stepTo(DataFeedController &feed, uint64_t to) {
        while (feed.absPos() < to) {
            uint64_t n = std::min<uint64_t>(to - feed.absPos(), 100000);
            if (!feed.shiftBufferOffsetWithLength(n)) {
                feed.fillDataToNextBufferWhileNoDataToShift();
                ASSERT_EQ(feed.shiftBufferOffsetWithLength(n), 1u);
            }
        }
    }

    testutil::TempDir tmp_;
    std::string dir_;
};

} // namespace

TEST_F(DataFeedTest, SmallFileIsReadWholeAndNothingPastItsEndIsData) {
    DataFeedController feed;
    ASSERT_TRUE(feed.initDataFeedControllerWith(makeFile("small.dv4", 1000)));
    EXPECT_EQ(feed.fileSize(), 1000u);
    EXPECT_EQ(feed.nextReadPos(), 1000u);
    EXPECT_EQ(feed.absPos(), 0u);
    EXPECT_FALSE(feed.bufFilled(1));
    for (uint64_t p = 0; p < 1000; ++p)
        ASSERT_EQ(feed.buffer(0)[p], patternByte(p));

    // A peek reaching past the end returns the real bytes and zeros after them.
    ASSERT_EQ(feed.shiftBufferOffsetWithLength(997), 1u);
    uint8_t four[4], one[1];
    std::memset(four, 0xAA, sizeof four);
    one[0] = 0xAA;
    EXPECT_EQ(feed.getDataFromBufferToVariable(four, 4, one, 1), 3u);
    EXPECT_EQ(four[0], patternByte(997));
    EXPECT_EQ(four[2], patternByte(999));
    EXPECT_EQ(four[3], 0);
    EXPECT_EQ(one[0], 0);
    EXPECT_EQ(feed.absPos(), 997u);

    // A payload that would run past the end is not copied.
    feed.setVideoFrameOffset();
    std::vector<uint8_t> out(16);
    EXPECT_TRUE(feed.getVideoFrameWithLength(3, out.data(), out.size()));
    EXPECT_EQ(out[1], patternByte(998));
    EXPECT_FALSE(feed.getVideoFrameWithLength(4, out.data(), out.size()));

    // Stepping past the end still works (the parser sees the end by position).
    ASSERT_EQ(feed.shiftBufferOffsetWithLength(10), 1u);
    EXPECT_EQ(feed.absPos(), 1007u);
    EXPECT_EQ(*feed.curPtr(), 0);
}

TEST_F(DataFeedTest, StepsAndPeeksAcrossTheSeam) {
    DataFeedController feed;
    const uint64_t size = 3 * B + 12345;
    ASSERT_TRUE(feed.initDataFeedControllerWith(makeFile("seam.dv4", size)));
    EXPECT_EQ(feed.nextReadPos(), B);
    stepTo(feed, B - 2);
    ASSERT_EQ(feed.bufOffset(), B - 2);
    ASSERT_EQ(feed.curBuf(), 0u);
    EXPECT_FALSE(feed.bufFilled(1));

    // Peek of 4 + 1 bytes that starts 2 before the seam: 2 from here, 3 from the other buffer,
    // which is filled on the way; the read position stays.
    uint8_t word[4], type;
    EXPECT_EQ(feed.getDataFromBufferToVariable(word, 4, &type, 1), 5u);
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(word[i], patternByte(B - 2 + i));
    EXPECT_EQ(type, patternByte(B + 2));
    EXPECT_TRUE(feed.bufFilled(1));
    EXPECT_EQ(feed.nextReadPos(), 2 * B);
    EXPECT_EQ(feed.absPos(), B - 2);
    EXPECT_EQ(*feed.curPtr(), patternByte(B - 2));

    // A step of 5 from 2 before the seam lands at offset 3 of the other buffer.
    ASSERT_EQ(feed.shiftBufferOffsetWithLength(5), 1u);
    EXPECT_EQ(feed.curBuf(), 1u);
    EXPECT_EQ(feed.bufOffset(), 3u);
    EXPECT_EQ(feed.absPos(), B + 3);
    EXPECT_EQ(*feed.curPtr(), patternByte(B + 3));
    EXPECT_FALSE(feed.bufFilled(1)); // entered: no longer pending

    // The next seam: the step is refused, changing nothing, until the buffer is filled.
    stepTo(feed, 2 * B - 2);
    EXPECT_EQ(feed.curBuf(), 1u);
    EXPECT_FALSE(feed.bufFilled(0));
    EXPECT_EQ(feed.shiftBufferOffsetWithLength(5), 0u);
    EXPECT_EQ(feed.absPos(), 2 * B - 2);
    EXPECT_EQ(feed.bufOffset(), B - 2);
    feed.fillDataToNextBufferWhileNoDataToShift();
    EXPECT_TRUE(feed.bufFilled(0));
    ASSERT_EQ(feed.shiftBufferOffsetWithLength(5), 1u);
    EXPECT_EQ(feed.curBuf(), 0u);
    EXPECT_EQ(*feed.curPtr(), patternByte(2 * B + 3));

    // The last, short buffer; a fill beyond the end reads nothing but lets the parser step.
    stepTo(feed, 3 * B + 100);
    EXPECT_EQ(feed.nextReadPos(), size);
    stepTo(feed, 4 * B - 1);
    EXPECT_EQ(feed.shiftBufferOffsetWithLength(1), 0u);
    feed.fillDataToNextBufferWhileNoDataToShift();
    ASSERT_EQ(feed.shiftBufferOffsetWithLength(1), 1u);
    EXPECT_EQ(feed.absPos(), 4 * B);
    EXPECT_EQ(*feed.curPtr(), 0);
    EXPECT_EQ(feed.nextReadPos(), size);
}

TEST_F(DataFeedTest, PayloadCopiesAcrossTheSeamAndTheirLimits) {
    DataFeedController feed;
    ASSERT_TRUE(feed.initDataFeedControllerWith(makeFile("copy.dv4", 3 * B)));
    std::vector<uint8_t> out(200, 0xAA);

    // Payloads of 100 bytes whose marks lie 40 bytes before the seam: 40 bytes from the end of
    // the mark's buffer and 60 from the start of the other.
    stepTo(feed, B - 40);
    feed.setVideoFrameOffset();
    feed.setAudioFrameOffset();
    EXPECT_EQ(feed.videoMarkBuf(), 0u);
    EXPECT_EQ(feed.videoMarkOffset(), B - 40);
    // Not yet read from the file: refused rather than taken from stale memory.
    EXPECT_FALSE(feed.getVideoFrameWithLength(100, out.data(), out.size()));
    stepTo(feed, B + 60);
    ASSERT_TRUE(feed.getVideoFrameWithLength(100, out.data(), out.size()));
    for (int i = 0; i < 100; ++i)
        ASSERT_EQ(out[i], patternByte(B - 40 + i)) << i;
    std::fill(out.begin(), out.end(), 0xAA);
    ASSERT_TRUE(feed.getAudioFrameWithLength(100, out.data(), out.size()));
    for (int i = 0; i < 100; ++i)
        ASSERT_EQ(out[i], patternByte(B - 40 + i)) << i;
    EXPECT_EQ(out[100], 0xAA);

    // Bounded by the destination's room.
    EXPECT_FALSE(feed.getVideoFrameWithLength(100, out.data(), 99));
    EXPECT_TRUE(feed.getVideoFrameWithLength(0, nullptr, 0));

    // Once the mark's buffer has been refilled, the payload is gone: refused.
    stepTo(feed, 2 * B - 2);
    uint8_t peek[8];
    feed.getDataFromBufferToVariable(peek, 8); // fills buffer 0 with the bytes after 2B
    EXPECT_FALSE(feed.getVideoFrameWithLength(100, out.data(), out.size()));

    // A payload longer than what the two buffers hold from its mark is refused.
    stepTo(feed, 2 * B + 10);
    feed.setVideoFrameOffset();
    EXPECT_FALSE(feed.getVideoFrameWithLength(B + 10, out.data(), UINT64_MAX));
}

TEST_F(DataFeedTest, StepsLongerThanABufferAndBackwardMoves) {
    DataFeedController feed;
    const uint64_t size = 6 * B + 777;
    ASSERT_TRUE(feed.initDataFeedControllerWith(makeFile("long.dv4", size)));
    stepTo(feed, 1234);
    // Longer than both buffers reach: the window restarts there.
    ASSERT_EQ(feed.shiftBufferOffsetWithLength(3 * B), 1u);
    EXPECT_EQ(feed.absPos(), 1234 + 3 * B);
    EXPECT_EQ(*feed.curPtr(), patternByte(1234 + 3 * B));
    uint8_t ahead[64];
    EXPECT_EQ(feed.getDataFromBufferToVariable(ahead, 64), 64u);
    for (int i = 0; i < 64; ++i)
        EXPECT_EQ(ahead[i], patternByte(1234 + 3 * B + i));
    // A step just inside the other buffer after that.
    if (!feed.shiftBufferOffsetWithLength(B + 5)) {
        feed.fillDataToNextBufferWhileNoDataToShift();
        ASSERT_EQ(feed.shiftBufferOffsetWithLength(B + 5), 1u);
    }
    EXPECT_EQ(*feed.curPtr(), patternByte(1234 + 4 * B + 5));
    // Beyond the end of the file.
    ASSERT_EQ(feed.shiftBufferOffsetWithLength(5 * B), 1u);
    EXPECT_GT(feed.absPos(), size);
    EXPECT_EQ(feed.getDataFromBufferToVariable(ahead, 4), 0u);
    EXPECT_EQ(ahead[0], 0);

    // Backward moves stay inside the current buffer.
    feed.initDataFeedControllerWhileSliderChanged(2 * B);
    stepTo(feed, 2 * B + 10);
    EXPECT_TRUE(feed.moveBackWithinBuffer(4));
    EXPECT_EQ(feed.absPos(), 2 * B + 6);
    EXPECT_EQ(*feed.curPtr(), patternByte(2 * B + 6));
    EXPECT_FALSE(feed.moveBackWithinBuffer(7));
    EXPECT_EQ(feed.absPos(), 2 * B + 6);
}

TEST_F(DataFeedTest, RefillsAtStartAfterStopAndForSeeks) {
    DataFeedController feed;
    const uint64_t size = 5 * B + 99;
    ASSERT_TRUE(feed.initDataFeedControllerWith(makeFile("refill.dv4", size)));
    stepTo(feed, 2 * B + 500);
    feed.setVideoFrameOffset();

    // Stop: back to offset 0 with the first buffer loaded and nothing pending.
    feed.initDataFeedControllerWhilePlaybackStopped();
    EXPECT_EQ(feed.absPos(), 0u);
    EXPECT_EQ(feed.curBuf(), 0u);
    EXPECT_EQ(feed.bufOffset(), 0u);
    EXPECT_EQ(feed.nextReadPos(), B);
    EXPECT_FALSE(feed.bufFilled(0));
    EXPECT_FALSE(feed.bufFilled(1));
    EXPECT_EQ(feed.videoMarkBuf(), 0u);
    EXPECT_EQ(feed.videoMarkOffset(), 0u);
    for (uint64_t p = 0; p < B; p += 4093)
        ASSERT_EQ(feed.buffer(0)[p], patternByte(p));
    EXPECT_EQ(feed.buffer(1)[12345], 0); // zeros, not the old window
    stepTo(feed, B + 17);
    EXPECT_EQ(*feed.curPtr(), patternByte(B + 17));

    // Seek restart at an offset: a full buffer, or what is left of the file.
    feed.initDataFeedControllerWhileSliderChanged(3 * B + 7);
    EXPECT_EQ(feed.absPos(), 3 * B + 7);
    EXPECT_EQ(feed.nextReadPos(), 4 * B + 7);
    EXPECT_EQ(*feed.curPtr(), patternByte(3 * B + 7));
    feed.initDataFeedControllerWhileSliderChanged(size - 50);
    EXPECT_EQ(feed.nextReadPos(), size);
    EXPECT_EQ(feed.buffer(0)[49], patternByte(size - 1));
    EXPECT_EQ(feed.buffer(0)[50], 0);

    // Backward-scan window: a target inside the first buffer starts the window at 0 ...
    feed.initDataFeedControllerWhilePlaybackStopped();
    stepTo(feed, B + 10); // buffer 1 current, buffer 0 holds older bytes
    feed.fillDataToNextBufferWhileNoDataToShift();
    feed.fillDataForSeekingWhileSliderChanged(10);
    EXPECT_EQ(feed.absPos(), 10u);
    EXPECT_EQ(feed.bufOffset(), 10u);
    for (uint64_t p = 0; p <= 10; ++p)
        EXPECT_EQ(feed.buffer(feed.curBuf())[p], patternByte(p));
    EXPECT_EQ(*feed.curPtr(), patternByte(10));
    // ... and the buffer filled before the seek is not taken as what follows the target.
    EXPECT_FALSE(feed.bufFilled(1 - feed.curBuf()));
    stepTo(feed, B + 3);
    EXPECT_EQ(*feed.curPtr(), patternByte(B + 3));

    // A target further in: the window ends with the target byte.
    feed.fillDataForSeekingWhileSliderChanged(5000000);
    EXPECT_EQ(feed.absPos(), 5000000u);
    EXPECT_EQ(feed.bufOffset(), B - 1);
    EXPECT_EQ(feed.nextReadPos(), 5000001u);
    const uint8_t *w = feed.buffer(feed.curBuf());
    EXPECT_EQ(w[0], patternByte(2952001));
    EXPECT_EQ(w[B - 1], patternByte(5000000));
    EXPECT_TRUE(feed.moveBackWithinBuffer(B - 1 - 4));
    EXPECT_EQ(feed.absPos(), 2952005u);
    EXPECT_EQ(*feed.curPtr(), patternByte(2952005));
}

TEST_F(DataFeedTest, RandomWalkMatchesTheFile) {
    DataFeedController feed;
    const uint64_t size = 4 * B + 31337;
    ASSERT_TRUE(feed.initDataFeedControllerWith(makeFile("walk.dv4", size)));
    std::mt19937 rng(1234);
    uint64_t markAbs = 0;
    bool marked = false;
    while (feed.absPos() < size) {
        const uint64_t pos = feed.absPos();
        ASSERT_EQ(*feed.curPtr(), patternByte(pos)) << pos;
        uint8_t a[6], b[3];
        uint32_t la = rng() % 7, lb = rng() % 4;
        uint32_t real = feed.getDataFromBufferToVariable(a, la, b, lb);
        ASSERT_EQ(real, std::min<uint64_t>(la + lb, size - pos));
        for (uint32_t i = 0; i < la; ++i)
            ASSERT_EQ(a[i], pos + i < size ? patternByte(pos + i) : 0);
        for (uint32_t i = 0; i < lb; ++i)
            ASSERT_EQ(b[i], pos + la + i < size ? patternByte(pos + la + i) : 0);
        ASSERT_EQ(feed.absPos(), pos);

        // Like a parser: copy the pending payload at a "header", then mark a new one.
        if (rng() % 50 == 0) {
            if (marked && pos > markAbs && pos - markAbs <= 300000) {
                std::vector<uint8_t> out(pos - markAbs);
                ASSERT_TRUE(feed.getAudioFrameWithLength(out.size(), out.data(), out.size()));
                for (size_t i = 0; i < out.size(); i += 97)
                    ASSERT_EQ(out[i], patternByte(markAbs + i));
            }
            feed.setAudioFrameOffset();
            markAbs = pos;
            marked = true;
        }
        uint64_t step = rng() % 4 == 0 ? rng() % 20000 + 1 : rng() % 7 + 1;
        if (!feed.shiftBufferOffsetWithLength(step)) {
            feed.fillDataToNextBufferWhileNoDataToShift();
            ASSERT_EQ(feed.shiftBufferOffsetWithLength(step), 1u);
        }
        ASSERT_EQ(feed.absPos(), pos + step);
    }
}

TEST_F(DataFeedTest, MissingFileIsReportedAndNeverRead) {
    DataFeedController feed;
    EXPECT_FALSE(feed.initDataFeedControllerWith(dir_ + "/does-not-exist.dv4"));
    EXPECT_FALSE(feed.isOpen());
    EXPECT_EQ(feed.fileSize(), 0u);
    EXPECT_EQ(feed.absPos(), 0u);
    EXPECT_EQ(*feed.curPtr(), 0);
    uint8_t peek[5] = {1, 2, 3, 4, 5};
    EXPECT_EQ(feed.getDataFromBufferToVariable(peek, 5), 0u);
    EXPECT_EQ(peek[4], 0);
    feed.initDataFeedControllerWhilePlaybackStopped();
    feed.initDataFeedControllerWhileSliderChanged(100);
    feed.fillDataForSeekingWhileSliderChanged(100);
    feed.fillDataToNextBufferWhileNoDataToShift();
    EXPECT_EQ(feed.shiftBufferOffsetWithLength(1), 1u);
    feed.setVideoFrameOffset();
    uint8_t out[4];
    EXPECT_FALSE(feed.getVideoFrameWithLength(4, out, 4));
    feed.releaseDataFeedController();

    // An empty file opens with nothing to read.
    ASSERT_TRUE(feed.initDataFeedControllerWith(makeFile("empty.dv4", 0)));
    EXPECT_EQ(feed.fileSize(), 0u);
    EXPECT_EQ(feed.getDataFromBufferToVariable(peek, 5), 0u);
}

TEST_F(DataFeedTest, SparseFileLargerThan4GiB) {
    const uint64_t size = (5ull << 30) + 123;
    std::string path = dir_ + "/big.dv5";
    int fd = ::open(path.c_str(), O_CREAT | O_TRUNC | O_WRONLY, 0644);
    ASSERT_GE(fd, 0);
    if (ftruncate(fd, static_cast<off_t>(size)) != 0) {
        ::close(fd);
        GTEST_SKIP() << "no room for a sparse file here";
    }
    // Real bytes around 4 GiB (a window seam near 2^32) and at the very end.
    auto writeAt = [&](uint64_t at, uint64_t n) {
        std::vector<uint8_t> bytes(n);
        for (uint64_t i = 0; i < n; ++i)
            bytes[i] = patternByte(at + i);
        ASSERT_EQ(pwrite(fd, bytes.data(), n, static_cast<off_t>(at)), static_cast<ssize_t>(n));
    };
    const uint64_t near4G = (4ull << 30) - 100;
    writeAt(near4G, 3 * B);
    writeAt(size - 1000, 1000);
    ::close(fd);

    DataFeedController feed;
    ASSERT_TRUE(feed.initDataFeedControllerWith(path));
    EXPECT_EQ(feed.fileSize(), size);
    feed.initDataFeedControllerWhileSliderChanged(near4G);
    EXPECT_EQ(*feed.curPtr(), patternByte(near4G));
    stepTo(feed, near4G + B + 1000); // across 2^32 and a seam
    EXPECT_EQ(feed.absPos(), near4G + B + 1000);
    EXPECT_EQ(*feed.curPtr(), patternByte(near4G + B + 1000));
    uint8_t peek[8];
    EXPECT_EQ(feed.getDataFromBufferToVariable(peek, 8), 8u);
    EXPECT_EQ(peek[7], patternByte(near4G + B + 1007));

    // A seek window that ends at the last byte.
    feed.fillDataForSeekingWhileSliderChanged(size - 1);
    EXPECT_EQ(feed.absPos(), size - 1);
    EXPECT_EQ(*feed.curPtr(), patternByte(size - 1));
    EXPECT_EQ(feed.buffer(feed.curBuf())[B - 1000], patternByte(size - 1000));
    EXPECT_EQ(feed.buffer(feed.curBuf())[0], 0); // a hole of the sparse file
}
