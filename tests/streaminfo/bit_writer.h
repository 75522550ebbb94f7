// Test-side bit writer for building hand-made headers bit by bit.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

class BitWriter {
  public:
    // Appends the low n bits of v, most significant first.
    BitWriter &u(int n, uint64_t v) {
        for (int k = n - 1; k >= 0; k--)
            bit((v >> k) & 1);
        return *this;
    }
    BitWriter &bit(int b) {
        if (nbits_ % 8 == 0) bytes_.push_back(0);
        if (b) bytes_.back() |= uint8_t(0x80 >> (nbits_ % 8));
        nbits_++;
        return *this;
    }
    // Bits given as text, e.g. "0010 1"; blanks are ignored.
    BitWriter &bits(const std::string &s) {
        for (char c : s)
            if (c == '0' || c == '1') bit(c == '1');
        return *this;
    }
    // Exp-Golomb codes written from their definition: a value v is
    // (len - 1) zeros followed by the len significant bits of v + 1.
    BitWriter &ue(uint64_t v) {
        uint64_t w = v + 1;
        int len = 0;
        for (uint64_t t = w; t; t >>= 1)
            len++;
        u(len - 1, 0);
        return u(len, w);
    }
    BitWriter &se(int64_t v) { return ue(v > 0 ? uint64_t(2 * v - 1) : uint64_t(-2 * v)); }
    // rbsp_stop_one_bit and zero bits up to the byte boundary.
    BitWriter &trailing() {
        bit(1);
        while (nbits_ % 8)
            bit(0);
        return *this;
    }
    size_t size_bits() const { return nbits_; }
    const std::vector<uint8_t> &bytes() const { return bytes_; }

  private:
    std::vector<uint8_t> bytes_;
    size_t nbits_ = 0;
};

// Annex B NAL unit: 4-byte start code, header byte, payload with an
// emulation-prevention byte inserted after every two zero bytes that are
// followed by a byte of 0 to 3.
inline std::vector<uint8_t> annexb_nal(uint8_t header, const std::vector<uint8_t> &rbsp) {
    std::vector<uint8_t> out = {0, 0, 0, 1, header};
    int zeros = 0;
    for (uint8_t x : rbsp) {
        if (zeros >= 2 && x <= 3) {
            out.push_back(3);
            zeros = 0;
        }
        out.push_back(x);
        zeros = (x == 0) ? zeros + 1 : 0;
    }
    return out;
}
