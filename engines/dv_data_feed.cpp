#include "engines/dv_data_feed.h"

#include <algorithm>
#include <cinttypes>
#include <cstring>
#include <new>

#include "platform/log.h"
#include "platform/portable.h"

namespace {
constexpr uint64_t kBuf = kDataFeedBufferSize;
constexpr uint64_t kNoStart = UINT64_MAX;
} // namespace

const uint8_t DataFeedController::kEmpty[4] = {0, 0, 0, 0};

DataFeedController::DataFeedController() {
    curPtr_ = kEmpty;
}

DataFeedController::~DataFeedController() {
    releaseDataFeedController();
}

void DataFeedController::releaseDataFeedController() {
    closeFile();
    bufs_[0].reset();
    bufs_[1].reset();
    curPtr_ = kEmpty;
}

void DataFeedController::closeFile() {
    if (fp_) {
        std::fclose(fp_);
        fp_ = nullptr;
    }
    bufFilled_[0] = bufFilled_[1] = 0;
    bufStart_[0] = bufStart_[1] = kNoStart;
    bufLen_[0] = bufLen_[1] = 0;
    bufOffset_ = 0;
    curBuf_ = 0;
    fileSize_ = 0;
    absPos_ = 0;
    nextReadPos_ = 0;
    audioMark_ = Mark();
    videoMark_ = Mark();
    curPtr_ = kEmpty;
}

bool DataFeedController::initDataFeedControllerWith(const std::string &path) {
    // The buffers of a previous file are reused; restartAt() clears them.
    closeFile();
    for (auto &buf : bufs_) {
        if (!buf) buf.reset(new (std::nothrow) uint8_t[kBuf]);
        if (!buf) {
            player_log("No memory for the file window\n");
            releaseDataFeedController();
            return false;
        }
    }
    // A FIFO or device would block this thread (and the close that waits for it) forever.
    fp_ = file_open_regular(path.c_str());
    if (!fp_) {
        player_log("Cannot open \"%s\"\n", path.c_str());
        releaseDataFeedController();
        return false;
    }
    off_t size = -1;
    if (fseeko(fp_, 0, SEEK_END) == 0) size = ftello(fp_);
    if (size < 0 || fseeko(fp_, 0, SEEK_SET) != 0) {
        player_log("Cannot find the size of \"%s\"\n", path.c_str());
        releaseDataFeedController();
        return false;
    }
    fileSize_ = static_cast<uint64_t>(size);
    restartAt(0);
    return true;
}

void DataFeedController::clearBuffer(uint32_t index) {
    if (bufs_[index]) std::memset(bufs_[index].get(), 0, kBuf);
    bufStart_[index] = kNoStart;
    bufLen_[index] = 0;
}

uint32_t DataFeedController::loadBuffer(uint32_t index, uint64_t fileOffset) {
    uint8_t *dst = bufs_[index].get();
    if (!dst) return 0;
    const uint64_t want = fileOffset < fileSize_ ? std::min(kBuf, fileSize_ - fileOffset) : 0;
    size_t got = 0;
    if (want > 0 && fp_) {
        if (fseeko(fp_, static_cast<off_t>(fileOffset), SEEK_SET) == 0) got = std::fread(dst, 1, want, fp_);
        if (got < want) {
            // The file ends earlier than it did when it was opened (or cannot be read further):
            // it ends here for the parser.
            player_log("File read stopped at %" PRIu64 " of %" PRIu64 " bytes\n", fileOffset + got,
                       fileSize_);
            fileSize_ = fileOffset + got;
        }
    }
    if (got < kBuf) std::memset(dst + got, 0, kBuf - got);
    bufStart_[index] = fileOffset;
    bufLen_[index] = static_cast<uint32_t>(got);
    nextReadPos_ = std::min(fileOffset + got, fileSize_);
    return static_cast<uint32_t>(got);
}

void DataFeedController::setCurrent(uint32_t index, uint32_t offset) {
    curBuf_ = index;
    bufOffset_ = offset;
    curPtr_ = bufs_[index] ? bufs_[index].get() + offset : kEmpty;
}

void DataFeedController::restartAt(uint64_t offset) {
    bufFilled_[0] = bufFilled_[1] = 0;
    clearBuffer(0);
    clearBuffer(1);
    loadBuffer(0, offset);
    setCurrent(0, 0);
    absPos_ = offset;
    audioMark_ = Mark{0, 0, offset};
    videoMark_ = Mark{0, 0, offset};
}

void DataFeedController::initDataFeedControllerWhilePlaybackStopped() {
    if (!bufs_[0]) return;
    restartAt(0);
}

void DataFeedController::initDataFeedControllerWhileSliderChanged(uint64_t offset) {
    if (!bufs_[0]) return;
    restartAt(offset);
}

void DataFeedController::fillDataForSeekingWhileSliderChanged(uint64_t target) {
    if (!bufs_[0]) return;
    const uint64_t start = target < kBuf - 1 ? 0 : target - (kBuf - 1);
    loadBuffer(curBuf_, start);
    // Whatever the other buffer holds no longer follows the current one.
    bufFilled_[1 - curBuf_] = 0;
    setCurrent(curBuf_, static_cast<uint32_t>(target - start));
    absPos_ = target;
}

void DataFeedController::fillDataToNextBufferWhileNoDataToShift() {
    if (!bufs_[0]) return;
    const uint32_t other = 1 - curBuf_;
    if (bufFilled_[other]) return;
    loadBuffer(other, bufStart_[curBuf_] + kBuf);
    bufFilled_[other] = 1;
}

uint32_t DataFeedController::getDataFromBufferToVariable(uint8_t *dst1, uint32_t len1, uint8_t *dst2,
                                                         uint32_t len2) {
    if (!dst2) len2 = 0;
    const uint64_t total = static_cast<uint64_t>(len1) + len2;
    if (!bufs_[0]) {
        if (dst1 && len1) std::memset(dst1, 0, len1);
        if (dst2 && len2) std::memset(dst2, 0, len2);
        return 0;
    }
    if (bufOffset_ + total > kBuf) fillDataToNextBufferWhileNoDataToShift();
    const uint32_t cur = curBuf_;
    const uint32_t other = 1 - cur;
    const bool otherFollows = bufFilled_[other] && bufStart_[other] == bufStart_[cur] + kBuf;
    // File bytes from the read position that the window holds.
    uint64_t held = bufLen_[cur] > bufOffset_ ? bufLen_[cur] - bufOffset_ : 0;
    if (bufOffset_ + held == kBuf && otherFollows) held += bufLen_[other];
    if (absPos_ >= fileSize_) held = 0;
    held = std::min(held, fileSize_ - std::min(fileSize_, absPos_));

    uint64_t rel = 0;
    auto copyOut = [&](uint8_t *dst, uint32_t n) {
        for (uint32_t i = 0; i < n; ++i, ++rel) {
            uint8_t byte = 0;
            if (rel < held) {
                const uint64_t off = bufOffset_ + rel;
                byte = off < kBuf ? bufs_[cur][off] : bufs_[other][off - kBuf];
            }
            dst[i] = byte;
        }
    };
    if (dst1)
        copyOut(dst1, len1);
    else
        rel += len1;
    if (dst2) copyOut(dst2, len2);
    return static_cast<uint32_t>(std::min<uint64_t>(held, total));
}

uint32_t DataFeedController::shiftBufferOffsetWithLength(uint64_t length) {
    if (!bufs_[0]) {
        absPos_ += length;
        return 1;
    }
    const uint32_t other = 1 - curBuf_;
    const uint64_t to = bufOffset_ + length;
    if (to < kBuf) {
        setCurrent(curBuf_, static_cast<uint32_t>(to));
        absPos_ += length;
        return 1;
    }
    if (to < 2 * kBuf) {
        if (!bufFilled_[other]) return 0;
        bufFilled_[other] = 0;
        setCurrent(other, static_cast<uint32_t>(to - kBuf));
        absPos_ += length;
        return 1;
    }
    // Further than the window reaches: what lies between is never looked at, so the window
    // restarts at the new position. Marks into the old window are no longer served.
    const uint64_t dest = absPos_ + length;
    loadBuffer(other, dest);
    bufFilled_[0] = bufFilled_[1] = 0;
    setCurrent(other, 0);
    absPos_ = dest;
    return 1;
}

bool DataFeedController::moveBackWithinBuffer(uint32_t length) {
    if (length > bufOffset_) return false;
    setCurrent(curBuf_, bufOffset_ - length);
    absPos_ -= length;
    return true;
}

void DataFeedController::setAudioFrameOffset() {
    audioMark_ = Mark{curBuf_, bufOffset_, absPos_};
}

void DataFeedController::setVideoFrameOffset() {
    videoMark_ = Mark{curBuf_, bufOffset_, absPos_};
}

bool DataFeedController::copyFromMark(const Mark &mark, uint64_t length, uint8_t *dst, uint64_t capacity,
                                      const char *kind) const {
    if (length == 0) return true;
    if (length > capacity) {
        player_log("%s payload of %" PRIu64 " bytes dropped: longer than its room of %" PRIu64 "\n", kind,
                   length, capacity);
        return false;
    }
    if (!dst || !bufs_[0]) return false;
    const uint32_t mb = mark.buf & 1;
    const uint64_t first = std::min<uint64_t>(length, kBuf - mark.offset);
    const uint64_t rest = length - first;
    const uint32_t ob = 1 - mb;
    // The bytes must lie inside the file, and the mark's buffer (and the one after it) must
    // still hold the bytes they held when the mark was set.
    const bool held = mark.abs < fileSize_ && length <= fileSize_ - mark.abs &&
                      mark.offset + first <= bufLen_[mb] && bufStart_[mb] + mark.offset == mark.abs &&
                      (rest == 0 || (bufStart_[ob] == bufStart_[mb] + kBuf && rest <= bufLen_[ob]));
    if (!held) {
        player_log("%s payload of %" PRIu64 " bytes at %" PRIu64 " dropped: no longer in the window\n", kind,
                   length, mark.abs);
        return false;
    }
    std::memcpy(dst, bufs_[mb].get() + mark.offset, first);
    if (rest > 0) std::memcpy(dst + first, bufs_[ob].get(), rest);
    return true;
}

bool DataFeedController::getVideoFrameWithLength(uint64_t length, uint8_t *dst, uint64_t capacity) const {
    return copyFromMark(videoMark_, length, dst, capacity, "Video");
}

bool DataFeedController::getAudioFrameWithLength(uint64_t length, uint8_t *dst, uint64_t capacity) const {
    return copyFromMark(audioMark_, length, dst, capacity, "Audio");
}
