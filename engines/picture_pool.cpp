#include "engines/picture_pool.h"

#include <cstring>
#include <new>

class PictureBufferPool::PooledImage final : public VideoImage {
  public:
    PooledImage(std::vector<uint8_t> storage, int width, int height, std::weak_ptr<State> pool)
        : storage_(std::move(storage)), width_(width), height_(height), pool_(std::move(pool)) {}
    ~PooledImage() override {
        if (std::shared_ptr<State> pool = pool_.lock()) {
            std::lock_guard<std::mutex> lock(pool->mutex);
            if (pool->free.size() < pool->maxFree) pool->free.push_back(std::move(storage_));
        }
    }
    int width() const override { return width_; }
    int height() const override { return height_; }
    const uint8_t *pixels() const override { return storage_.data(); }
    uint8_t *mutablePixels() { return storage_.data(); }

  private:
    std::vector<uint8_t> storage_;
    int width_;
    int height_;
    std::weak_ptr<State> pool_;
};

PictureBufferPool::PictureBufferPool(size_t maxFree) : state_(std::make_shared<State>()) {
    state_->maxFree = maxFree;
}

VideoImageRef PictureBufferPool::makePicture(const uint8_t *rgba, int width, int height) {
    if (!rgba || width <= 0 || height <= 0) return nullptr;
    const size_t bytes = static_cast<size_t>(width) * static_cast<size_t>(height) * 4u;
    std::vector<uint8_t> storage;
    {
        std::lock_guard<std::mutex> lock(state_->mutex);
        // Prefer a released buffer that is already large enough.
        for (size_t i = 0; i < state_->free.size(); ++i) {
            if (state_->free[i].capacity() >= bytes) {
                storage = std::move(state_->free[i]);
                state_->free.erase(state_->free.begin() + static_cast<std::ptrdiff_t>(i));
                break;
            }
        }
    }
    try {
        storage.resize(bytes);
        auto image = std::make_shared<PooledImage>(std::move(storage), width, height, state_);
        std::memcpy(image->mutablePixels(), rgba, bytes);
        return image;
    } catch (const std::bad_alloc &) {
        return nullptr;
    }
}

size_t PictureBufferPool::freeCount() const {
    std::lock_guard<std::mutex> lock(state_->mutex);
    return state_->free.size();
}
