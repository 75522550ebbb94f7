#include "streaminfo/h264_stream.h"

#include <cstdlib>
#include <new>

h264_stream_t *h264_new() {
    h264_stream_t *h = new (std::nothrow) h264_stream_t();
    if (!h) return nullptr;
    h->nal = new (std::nothrow) nal_t();
    h->sps = new (std::nothrow) sps_t();
    h->pps = new (std::nothrow) pps_t();
    h->aud = new (std::nothrow) aud_t();
    h->slice_header = new (std::nothrow) slice_header_t();
    if (!h->nal || !h->sps || !h->pps || !h->aud || !h->slice_header) {
        h264_free(h);
        return nullptr;
    }
    return h;
}

void h264_free(h264_stream_t *h) {
    if (!h) return;
    delete h->nal;
    delete h->sps;
    delete h->pps;
    delete h->aud;
    delete h->slice_header;
    // The SEI messages belong to the stream record too; nobody can reach
    // them once it is gone.
    for (int i = 0; i < h->num_seis; i++)
        sei_free(h->seis[i]);
    std::free(h->seis);
    delete h;
}

sei_t *sei_new() {
    return new (std::nothrow) sei_t();
}

void sei_free(sei_t *s) {
    if (!s) return;
    std::free(s->payload);
    delete s;
}

namespace {

// Byte i of the buffer, or -1 past its end so that no pattern matches there.
inline int byte_at(const uint8_t *buf, int size, int64_t i) {
    return i < size ? buf[i] : -1;
}

inline bool is_start_code3(const uint8_t *buf, int size, int64_t i) {
    return byte_at(buf, size, i) == 0 && byte_at(buf, size, i + 1) == 0 && byte_at(buf, size, i + 2) == 1;
}

inline bool is_start_code4(const uint8_t *buf, int size, int64_t i) {
    return byte_at(buf, size, i) == 0 && is_start_code3(buf, size, i + 1);
}

// 00 00 00 or 00 00 01: the end of a NAL unit.
inline bool is_nal_end(const uint8_t *buf, int size, int64_t k) {
    if (byte_at(buf, size, k) != 0 || byte_at(buf, size, k + 1) != 0) return false;
    int c = byte_at(buf, size, k + 2);
    return c == 0 || c == 1;
}

} // namespace

int find_nal_unit(const uint8_t *buf, int size, int *nal_start, int *nal_end) {
    *nal_start = 0;
    *nal_end = 0;
    if (!buf || size < 0) return 0;

    int i = 0;
    for (;;) {
        if (is_start_code3(buf, size, i)) break;
        if (is_start_code4(buf, size, i)) {
            i++;
            break;
        }
        i++;
        if (!(i + 4 < size)) return 0;
    }

    *nal_start = i + 3;
    int k = *nal_start;
    for (;;) {
        if (is_nal_end(buf, size, k)) break;
        k++;
        if (!(k + 3 < size)) {
            k = size;
            break;
        }
    }
    *nal_end = k;
    return *nal_end - *nal_start;
}

void nal_to_rbsp(const uint8_t *nal_buf, int *nal_size, uint8_t *rbsp_buf, int *rbsp_size) {
    int n = *nal_size;
    if (n < 2) {
        *nal_size = 1;
        *rbsp_size = 0;
        return;
    }
    int i = 1; // the header byte is not part of the payload
    int j = 0;
    while (i < n) {
        if (i + 2 < n && nal_buf[i] == 0 && nal_buf[i + 1] == 0 && nal_buf[i + 2] == 3) {
            rbsp_buf[j++] = 0;
            rbsp_buf[j++] = 0;
            i += 3;
        } else if (i + 2 < n && nal_buf[i] == 0 && nal_buf[i + 1] == 0 && nal_buf[i + 2] == 1) {
            break;
        } else {
            rbsp_buf[j++] = nal_buf[i++];
        }
    }
    *nal_size = i;
    *rbsp_size = j;
}
