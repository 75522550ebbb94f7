// A picture as an engine delivers it, every byte the same value, for tests that feed the
// engine side directly.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "engines/engine_delegate.h"

class FlatPicture : public VideoImage {
  public:
    FlatPicture(int w, int h, uint8_t value) : w_(w), h_(h), pixels_(static_cast<size_t>(w) * h * 4, value) {}
    int width() const override { return w_; }
    int height() const override { return h_; }
    const uint8_t *pixels() const override { return pixels_.data(); }

  private:
    int w_, h_;
    std::vector<uint8_t> pixels_;
};
