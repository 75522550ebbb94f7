#include "streaminfo/mpeg4_probe.h"

#include <cstdint>

#include "platform/byte_order.h"

namespace {

// Bit-addressed reader. Bits past the end read as zeros and set `overrun`,
// so a header that does not fit the buffer can be told from one that does.
struct BitCursor {
    const unsigned char *data;
    int64_t size_bits;
    int64_t pos; // bit position, 0 = top bit of the first byte
    bool overrun;

    uint32_t peek32() const {
        if ((pos & 7) == 0 && pos + 32 <= size_bits) {
            return readBE32(data + (pos >> 3));
        }
        uint32_t v = 0;
        for (int k = 0; k < 32; k++)
            v = (v << 1) | bit_at(pos + k);
        return v;
    }

    uint32_t read(int n) {
        uint32_t v = 0;
        for (int k = 0; k < n; k++)
            v = (v << 1) | bit_at(pos + k);
        pos += n;
        if (pos > size_bits) overrun = true;
        return v;
    }

    void skip(int n) { read(n); }

    uint32_t bit_at(int64_t bitpos) const {
        if (bitpos >= size_bits) return 0;
        return (data[bitpos >> 3] >> (7 - (bitpos & 7))) & 1u;
    }
};

// Width of fixed_vop_time_increment: the significant bits of
// (resolution - 1), and 1 for a resolution of 0.
int time_increment_bits(uint32_t resolution) {
    if (resolution == 0) return 1;
    uint32_t v = resolution - 1;
    int bits = 0;
    while (v) {
        bits++;
        v >>= 1;
    }
    return bits;
}

} // namespace

int getMpeg4Dimensions(const char *buffer, int length, int *width, int *height) {
    if (!buffer || length <= 0) return 0;
    BitCursor bc{reinterpret_cast<const unsigned char *>(buffer), static_cast<int64_t>(length) * 8, 0, false};

    for (;;) {
        if ((bc.peek32() & ~0xFu) != 0x120u) {
            bc.pos += 8;
            if (bc.pos / 8 >= length) return 0;
            continue;
        }

        bc.skip(32); // video_object_layer_start_code
        bc.skip(1);  // random_accessible_vol
        bc.skip(8);  // video_object_type_indication
        uint32_t verid = 1;
        if (bc.read(1)) { // is_object_layer_identifier
            verid = bc.read(4);
            bc.skip(3); // video_object_layer_priority
        }
        if (bc.read(4) == 15) { // aspect_ratio_info: extended_PAR
            bc.skip(8);         // par_width
            bc.skip(8);         // par_height
        }
        if (bc.read(1)) {     // vol_control_parameters
            bc.skip(2);       // chroma_format
            bc.skip(1);       // low_delay
            if (bc.read(1)) { // vbv_parameters
                static const int widths[] = {15, 1, 15, 1, 15, 1, 3, 11, 1, 15, 1};
                for (int w : widths)
                    bc.skip(w);
            }
        }
        uint32_t shape = bc.read(2);
        if (shape == 3 && verid != 1) bc.skip(4); // video_object_layer_shape_extension
        bc.skip(1);                               // marker
        uint32_t resolution = bc.read(16);
        bc.skip(1);     // marker
        if (bc.read(1)) // fixed_vop_rate
            bc.skip(time_increment_bits(resolution));

        if (shape == 0) {
            bc.skip(1);
            uint32_t w = bc.read(13);
            bc.skip(1);
            uint32_t h = bc.read(13);
            if (bc.overrun) return 0; // the header does not fit the buffer
            *width = static_cast<int>(w);
            *height = static_cast<int>(h);
            return 1;
        }
        if (bc.overrun || bc.pos / 8 >= length) return 0;
        // Not rectangular: scan on from here, no longer byte-aligned.
    }
}

int getMpeg4FrameType(const unsigned char *buffer, int length) {
    if (!buffer || length < 1) return -1;
    int state = 0;
    for (int i = 0; i < length; i++) {
        unsigned char c = buffer[i];
        switch (state) {
        case 0:
            state = (c == 0x00) ? 1 : 0;
            break;
        case 1:
            state = (c == 0x00) ? 2 : 0;
            break;
        case 2:
            state = (c == 0x01) ? 3 : 0;
            break;
        case 3:
            state = (c == 0xB6) ? 4 : 0;
            break;
        default:
            return c >> 6;
        }
    }
    return -1;
}
