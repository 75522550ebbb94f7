#include "engines/picture_pool.h"

#include <cstring>
#include <new>

class PictureBufferPool::PooledImage final : public VideoImage {
  public:
    PooledImage(std::vector<uint8_t> storage, int width, int height, std::weak_ptr<State> pool)
        : storage_(std::move(storage)), width_(width), height_(height), pool_(std::move(pool)) {}
    ~PooledImage() override {
        if (std::shared_ptr<State> pool = pool_.lock()) pool->keep(std::move(storage_));
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

void PictureBufferPool::State::keep(std::vector<uint8_t> storage) {
    if (storage.capacity() == 0) return;
    std::lock_guard<std::mutex> lock(mutex);
    if (maxFree == 0) return;
    // The most recently released buffers are the likeliest to fit the next pictures.
    if (free.size() >= maxFree) free.erase(free.begin());
    free.push_back(std::move(storage));
}

std::vector<uint8_t> PictureBufferPool::State::reuse(size_t bytes) {
    std::lock_guard<std::mutex> lock(mutex);
    // Among equal fits the most recently released, whose pixels are likeliest still in the cache.
    size_t best = free.size();
    for (size_t i = free.size(); i-- > 0;) {
        const size_t cap = free[i].capacity();
        if (cap >= bytes && cap - bytes <= bytes / 4 && (best == free.size() || cap < free[best].capacity()))
            best = i;
    }
    if (best == free.size()) return {};
    std::vector<uint8_t> storage = std::move(free[best]);
    free.erase(free.begin() + static_cast<std::ptrdiff_t>(best));
    return storage;
}

std::vector<uint8_t> PictureBufferPool::takeStorage(size_t bytes) {
    std::vector<uint8_t> storage = state_->reuse(bytes);
    try {
        storage.resize(bytes);
    } catch (const std::bad_alloc &) {
        return {};
    }
    return storage;
}

void PictureBufferPool::giveBack(std::vector<uint8_t> storage) {
    state_->keep(std::move(storage));
}

VideoImageRef PictureBufferPool::makePicture(const uint8_t *rgba, int width, int height) {
    if (!rgba || width <= 0 || height <= 0) return nullptr;
    const size_t bytes = static_cast<size_t>(width) * static_cast<size_t>(height) * 4u;
    std::vector<uint8_t> storage = state_->reuse(bytes);
    try {
        storage.resize(bytes);
        auto image = std::make_shared<PooledImage>(std::move(storage), width, height, state_);
        std::memcpy(image->mutablePixels(), rgba, bytes);
        return image;
    } catch (const std::bad_alloc &) {
        return nullptr;
    }
}

VideoImageRef PictureBufferPool::pictureFromWorkBuffer(std::vector<uint8_t> &work, int width, int height,
                                                       size_t slack) {
    if (width <= 0 || height <= 0) return nullptr;
    const size_t bytes = static_cast<size_t>(width) * static_cast<size_t>(height) * 4u;
    if (bytes > work.size()) return nullptr;
    if (work.size() - bytes > slack) return makePicture(work.data(), width, height);
    try {
        auto image = std::make_shared<PooledImage>(std::move(work), width, height, state_);
        work = std::vector<uint8_t>();
        return image;
    } catch (const std::bad_alloc &) {
        return nullptr;
    }
}

size_t PictureBufferPool::freeCount() const {
    std::lock_guard<std::mutex> lock(state_->mutex);
    return state_->free.size();
}
