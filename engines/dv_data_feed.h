// A two-buffer window over a DV recording, for the DV parsers.
//
// The parser walks the file byte by byte at the read position, peeks a few bytes ahead, steps
// forward, and copies a finished payload out of the window when the next unit header shows where
// it ends. The window holds two buffers of kDataFeedBufferSize bytes: the current one holds the
// bytes around the read position, the other one is filled with the bytes that follow when the
// parser first needs to look or step past the seam. Two marks remember where the pending video
// and audio payloads began, so that a payload can be copied even across the seam.
//
// Everything runs on the parser thread. File offsets and sizes are 64-bit. Bytes past the end of
// the file never reach the parser as data: peeks say how many real bytes they returned and fill
// the rest with zeros, and a payload is copied only when all of it is still in the window and it
// fits the destination.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

constexpr uint32_t kDataFeedBufferSize = 2048000;

class DataFeedController {
  public:
    DataFeedController();
    ~DataFeedController();
    DataFeedController(const DataFeedController &) = delete;
    DataFeedController &operator=(const DataFeedController &) = delete;

    // Opens `path` for reading, finds its size and loads the first buffer. False when the file
    // cannot be opened or the buffers cannot be had; the window is then empty (size 0).
    bool initDataFeedControllerWith(const std::string &path);
    // Closes the file; the window becomes empty.
    void releaseDataFeedController();
    bool isOpen() const { return fp_ != nullptr; }

    // Restart at offset 0 (after Stop or the end of the file).
    void initDataFeedControllerWhilePlaybackStopped();
    // Restart at `offset` (after a seek).
    void initDataFeedControllerWhileSliderChanged(uint64_t offset);
    // Prepares a backward scan that ends at `target`: the current buffer holds the window that
    // ends with the target byte (or starts at 0 for a target within the first buffer) and the
    // read position is the target. The other buffer is no longer taken as a continuation.
    void fillDataForSeekingWhileSliderChanged(uint64_t target);

    // Peek: copies len1 bytes from the read position into dst1 and, when dst2 is not null, the
    // next len2 bytes into dst2, filling the other buffer first when the bytes run past the seam.
    // Nothing advances. Returns how many of the len1 + len2 bytes are file data; the others
    // (past the end of the file, or further ahead than the window reaches) are set to 0.
    uint32_t getDataFromBufferToVariable(uint8_t *dst1, uint32_t len1, uint8_t *dst2 = nullptr,
                                         uint32_t len2 = 0);
    // Fills the other buffer with the bytes that follow the current one, unless it is filled.
    void fillDataToNextBufferWhileNoDataToShift();
    // Advances the read position by `length`. Returns 0, changing nothing, when the step needs
    // the other buffer and it is not filled yet (fill it and step again); otherwise 1. A step
    // further than the other buffer reaches restarts the window at the new position.
    uint32_t shiftBufferOffsetWithLength(uint64_t length);
    // Moves the read position back by `length` inside the current buffer (for backward scans).
    // False, changing nothing, when that would leave the buffer.
    bool moveBackWithinBuffer(uint32_t length);

    // Marks the read position as the first byte of the pending audio / video payload.
    void setAudioFrameOffset();
    void setVideoFrameOffset();
    // Copies the `length` bytes that start at the video / audio mark into dst. False (nothing
    // copied, a log line written) when length exceeds `capacity`, or the bytes are no longer
    // (or not yet) all held in the window or lie past the end of the file.
    bool getVideoFrameWithLength(uint64_t length, uint8_t *dst, uint64_t capacity) const;
    bool getAudioFrameWithLength(uint64_t length, uint8_t *dst, uint64_t capacity) const;

    // ---- State ----
    // Address of the byte at the read position (always inside the current buffer).
    const uint8_t *curPtr() const { return curPtr_; }
    uint64_t absPos() const { return absPos_; }
    uint64_t fileSize() const { return fileSize_; }
    uint64_t nextReadPos() const { return nextReadPos_; }
    uint32_t bufOffset() const { return bufOffset_; }
    uint32_t curBuf() const { return curBuf_; }
    bool bufFilled(int index) const { return bufFilled_[index & 1] != 0; }
    const uint8_t *buffer(int index) const { return bufs_[index & 1].get(); }
    uint32_t videoMarkBuf() const { return videoMark_.buf; }
    uint32_t videoMarkOffset() const { return videoMark_.offset; }
    uint32_t audioMarkBuf() const { return audioMark_.buf; }
    uint32_t audioMarkOffset() const { return audioMark_.offset; }

  private:
    struct Mark {
        uint32_t buf = 0;
        uint32_t offset = 0;
        uint64_t abs = 0;
    };

    // Closes the file and empties the window, keeping the buffers' storage.
    void closeFile();
    // Loads buffer `index` with the file bytes from `fileOffset` on; bytes past the end of the
    // file (or of a short read) are zeros. Returns the number of file bytes loaded.
    uint32_t loadBuffer(uint32_t index, uint64_t fileOffset);
    void clearBuffer(uint32_t index);
    void restartAt(uint64_t offset);
    void setCurrent(uint32_t index, uint32_t offset);
    bool copyFromMark(const Mark &mark, uint64_t length, uint8_t *dst, uint64_t capacity,
                      const char *kind) const;

    FILE *fp_ = nullptr;
    std::unique_ptr<uint8_t[]> bufs_[2];
    uint8_t bufFilled_[2] = {0, 0};
    // File offset of each buffer's first byte and how many file bytes it holds.
    uint64_t bufStart_[2] = {0, 0};
    uint32_t bufLen_[2] = {0, 0};
    uint32_t bufOffset_ = 0;
    uint32_t curBuf_ = 0;
    uint64_t fileSize_ = 0;
    uint64_t absPos_ = 0;
    uint64_t nextReadPos_ = 0;
    Mark audioMark_;
    Mark videoMark_;
    const uint8_t *curPtr_ = nullptr;
    static const uint8_t kEmpty[4];
};
