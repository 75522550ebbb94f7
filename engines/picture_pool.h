// Pictures that own their pixels, with their storage recycled.
//
// The engines decode into one working buffer and copy each delivered picture into storage of its
// own, because the application shows pictures later, on another thread, while the next frame is
// being decoded. The pool keeps a few released buffers for reuse so that steady playback does
// not allocate per frame. Pictures may outlive the pool.
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

    // Buffers currently kept for reuse.
    size_t freeCount() const;

  private:
    struct State {
        std::mutex mutex;
        std::vector<std::vector<uint8_t>> free;
        size_t maxFree;
    };
    class PooledImage;

    std::shared_ptr<State> state_;
};
