// Bit reader over a byte buffer, most significant bit first, with the
// Exp-Golomb codes ue(v) and se(v) used by H.264 headers.
//
// The reader never fails and never touches memory outside [start, end):
// every bit asked for beyond the end reads as 0 and leaves the position at
// the end, so a truncated header parses to completion with zeros in its
// missing fields. The bit writer of the H.264 bitstream library uses the same
// record and constructor, which is why the pointers are not const.
#pragma once

#include <cstdint>

struct bs_t {
    uint8_t *start; // first byte of the buffer
    uint8_t *p;     // byte that holds the next bit
    uint8_t *end;   // one past the last byte
    int bits_left;  // unread bits of *p, 8 down to 1 (8 = on a byte boundary)
    int overflow;   // set by the bit writer when a bit fell past the end; readers leave it
};

// A heap-allocated reader over buf (not owned); nullptr when out of memory.
bs_t *bs_new(uint8_t *buf, int size);
// Sets up b over buf. A negative size or a null buffer gives an empty reader.
void bs_init(bs_t *b, uint8_t *buf, int size);
// Releases a reader made by bs_new (never the buffer). nullptr is allowed.
void bs_free(bs_t *b);

// 1 when the position is at (or past) the end of the buffer.
inline int bs_eof(const bs_t *b) {
    return b->p >= b->end;
}

// The next n bits, first bit most significant. n < 1 reads nothing and
// returns 0; n above 32 is taken as 32 (no caller field is wider).
uint32_t bs_read_f(bs_t *b, int n);
uint32_t bs_read_u8(bs_t *b);
// Unsigned Exp-Golomb code. At most 33 leading zeros are consumed; with 32
// or more the result is just the 32 bits that follow them.
uint32_t bs_read_ue(bs_t *b);
// Signed Exp-Golomb code: 0, 1, 2, 3, 4 map to 0, 1, -1, 2, -2.
int32_t bs_read_se(bs_t *b);

// Syntax-element reads as the H.264 readers store them (int fields).
inline int read_flag(bs_t *b) {
    return static_cast<int>(bs_read_f(b, 1));
}
inline int read_u(bs_t *b, int n) {
    return static_cast<int>(bs_read_f(b, n));
}
inline int read_ue(bs_t *b) {
    return static_cast<int>(bs_read_ue(b));
}
