#include "streaminfo/bs.h"

#include <new>

bs_t *bs_new(uint8_t *buf, int size) {
    bs_t *b = new (std::nothrow) bs_t;
    if (b) bs_init(b, buf, size);
    return b;
}

void bs_init(bs_t *b, uint8_t *buf, int size) {
    if (!buf || size < 0) size = 0;
    b->start = buf;
    b->p = buf;
    b->end = buf ? buf + size : buf;
    b->bits_left = 8;
    b->overflow = 0;
}

void bs_free(bs_t *b) {
    delete b;
}

namespace {

inline uint32_t read_bit(bs_t *b) {
    if (b->p >= b->end) return 0;
    b->bits_left--;
    uint32_t bit = (*b->p >> b->bits_left) & 1u;
    if (b->bits_left == 0) {
        b->p++;
        b->bits_left = 8;
    }
    return bit;
}

} // namespace

uint32_t bs_read_f(bs_t *b, int n) {
    if (n < 1) return 0;
    if (n > 32) n = 32;
    uint32_t r = 0;
    for (int k = n - 1; k >= 0; k--)
        r |= read_bit(b) << k;
    return r;
}

uint32_t bs_read_u8(bs_t *b) {
    return bs_read_f(b, 8);
}

uint32_t bs_read_ue(bs_t *b) {
    int i = 0;
    for (;;) {
        if (read_bit(b)) break;
        if (i == 32 || bs_eof(b)) break;
        i++;
    }
    if (i == 0) return 0;
    uint32_t value = bs_read_f(b, i);
    if (i == 32) return value;
    return ((1u << i) - 1u) + value;
}

int32_t bs_read_se(bs_t *b) {
    // 64-bit so that the largest codes do not overflow on the way.
    int64_t k = static_cast<int32_t>(bs_read_ue(b));
    if (k & 1) return static_cast<int32_t>((k + 1) / 2);
    return static_cast<int32_t>(-(k / 2));
}
