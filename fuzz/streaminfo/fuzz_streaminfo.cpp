// Feeds arbitrary bytes to every stream probe: as an Annex B frame, as an
// SPS payload, and as an MPEG-4 Part 2 stream. Sizes that come back must be
// in range; nothing may read outside the input.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>

#include "streaminfo/bs.h"
#include "streaminfo/h264_stream.h"
#include "streaminfo/mpeg4_probe.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size > (1u << 20)) return 0;
    const int n = int(size);
    // An exact-size copy, so the sanitizer catches a read one byte beyond it.
    std::unique_ptr<uint8_t[]> buf(new uint8_t[size ? size : 1]);
    for (size_t i = 0; i < size; i++)
        buf[i] = data[i];

    int w = -1, h = -1;
    if (getH264Resolution(buf.get(), n, &w, &h)) {
        if (w < 1 || w > 16384 || h < 1 || h > 16384) std::abort();
    } else if (w != -1 || h != -1) {
        std::abort();
    }

    // The SPS reader straight over the bytes, as if they were an RBSP.
    if (h264_stream_t *s = h264_new()) {
        bs_t b;
        bs_init(&b, buf.get(), n);
        read_seq_parameter_set_rbsp(s, &b);
        if (b.p < b.start || b.p > b.end || b.bits_left < 1 || b.bits_left > 8) std::abort();
        h264_free(s);
    }

    // Emulation-prevention removal of the whole input as one NAL unit.
    if (n >= 1) {
        std::unique_ptr<uint8_t[]> rbsp(new uint8_t[size]);
        int nal_size = n, rbsp_size = 0;
        nal_to_rbsp(buf.get(), &nal_size, rbsp.get(), &rbsp_size);
        if (rbsp_size < 0 || rbsp_size > n - 1 || nal_size < 1 || nal_size > n) std::abort();
    }

    w = h = -1;
    if (getMpeg4Dimensions(reinterpret_cast<const char *>(buf.get()), n, &w, &h)) {
        if (w < 0 || w > 8191 || h < 0 || h > 8191) std::abort();
    }
    int t = getMpeg4FrameType(buf.get(), n);
    if (t < -1 || t > 3) std::abort();
    return 0;
}
