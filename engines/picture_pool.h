// Pictures that own their pixels, with their storage recycled.
//
// The application shows pictures later, on another thread, while the next frame is being
// decoded, so every delivered picture owns its pixels. The engines decode into storage sized to
// the coming picture, which the picture then takes over; only a picture of another size than
// its storage is copied. The pool keeps a few released buffers for reuse so that steady
// playback does not allocate per frame. Pictures may outlive the pool.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "engines/engine_delegate.h"

class PictureBufferPool {
  public:
    // Keeps at most `maxFree` released buffers.
    explicit PictureBufferPool(size_t maxFree = 8);

    // A picture of width x height RGBX pixels holding a copy of `rgba` (rows packed,
    // width * 4 bytes each). Null when the size is not positive or storage cannot be had.
    VideoImageRef makePicture(const uint8_t *rgba, int width, int height);

    // Storage of `bytes` bytes for a decoder to write into, a released buffer when one fits
    // closely enough; empty when memory runs out.
    std::vector<uint8_t> takeStorage(size_t bytes);
    // Keeps storage that is no longer needed for a later takeStorage.
    void giveBack(std::vector<uint8_t> storage);
    // A picture of the first width * height * 4 bytes of `work`. A picture of the size of `work`,
    // or smaller by at most `slack` bytes, takes it over without a copy (`work` is then left
    // empty); a smaller one is copied into storage of its own size and `work` stays the caller's.
    VideoImageRef pictureFromWorkBuffer(std::vector<uint8_t> &work, int width, int height, size_t slack = 0);

    // Buffers currently kept for reuse.
    size_t freeCount() const;

  private:
    struct State {
        std::mutex mutex;
        std::vector<std::vector<uint8_t>> free; // oldest first
        size_t maxFree;
        // A released buffer of at least `bytes` and at most a quarter more, the closest fit.
        std::vector<uint8_t> reuse(size_t bytes);
        void keep(std::vector<uint8_t> storage);
    };
    class PooledImage;

    std::shared_ptr<State> state_;
};
