// Test helpers: little-endian byte building and a BUFFER_FILE over bytes held
// in a temporary file.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "platform/buffer_file.h"

class Bytes {
  public:
    Bytes &u8(uint32_t v) {
        b_.push_back(static_cast<uint8_t>(v));
        return *this;
    }
    Bytes &u16(uint32_t v) { return u8(v).u8(v >> 8); }
    Bytes &u32(uint32_t v) { return u16(v).u16(v >> 16); }
    Bytes &u64(uint64_t v) { return u32(static_cast<uint32_t>(v)).u32(static_cast<uint32_t>(v >> 32)); }
    Bytes &raw(const std::vector<uint8_t> &v) {
        b_.insert(b_.end(), v.begin(), v.end());
        return *this;
    }
    Bytes &text(const std::string &s) {
        b_.insert(b_.end(), s.begin(), s.end());
        return *this;
    }
    Bytes &fill(size_t n, uint8_t v = 0) {
        b_.insert(b_.end(), n, v);
        return *this;
    }
    Bytes &append(const Bytes &o) { return raw(o.b_); }
    size_t size() const { return b_.size(); }
    const std::vector<uint8_t> &vec() const { return b_; }
    std::vector<uint8_t> &vec() { return b_; }

  private:
    std::vector<uint8_t> b_;
};

// An anonymous temporary file holding the bytes, with a BUFFER_FILE over it.
class ByteFile {
  public:
    explicit ByteFile(const std::vector<uint8_t> &bytes, unsigned long capacity = 64) {
        file_ = std::tmpfile();
        if (!file_) return;
        if (!bytes.empty()) std::fwrite(bytes.data(), 1, bytes.size(), file_);
        std::fflush(file_);
        std::rewind(file_);
        ok_ = buffer_file_init(&reader_, file_, capacity) == 1;
    }
    ~ByteFile() {
        buffer_file_release(&reader_);
        if (file_) std::fclose(file_);
    }
    ByteFile(const ByteFile &) = delete;
    ByteFile &operator=(const ByteFile &) = delete;

    bool ok() const { return ok_; }
    BUFFER_FILE *reader() { return &reader_; }
    FILE *file() { return file_; }

  private:
    FILE *file_ = nullptr;
    BUFFER_FILE reader_{};
    bool ok_ = false;
};
