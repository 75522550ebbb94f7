// Damaged recorder frames through Decoder_Decode: the first bytes choose the codec, flags and
// target size, the rest is cut into frames at every 00 00 00 01 09 (an access unit delimiter)
// so that one input can hold several frames, two-field frames among them.

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

extern "C" {
#include <libavutil/log.h>
}

#include "decoder/decoder.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    static bool quiet = (av_log_set_level(AV_LOG_QUIET), true);
    (void)quiet;
    if (size < 4) return 0;
    const int codec = 1 + data[0] % 3;
    const int format = 1 + data[1] % 10;
    const int flags = data[2] & 0x3D;
    const int target = data[3] % 4; // 0: native, else a small target
    data += 4;
    size -= 4;

    _Decoder dec{};
    if (Decoder_Init(&dec, codec, format) != 1) return 0;
    static std::vector<uint8_t> out(1920 * 1080 * 4);
    static const uint8_t kCut[5] = {0, 0, 0, 1, 9};
    size_t start = 0;
    for (size_t i = 0; i <= size; ++i) {
        const bool end = i == size;
        if (!end && !(i + 5 <= size && i > start && memcmp(data + i, kCut, 5) == 0)) continue;
        const size_t len = i - start;
        if (len > 0) {
            // An exact-size copy, so that a read past the frame is caught.
            std::vector<uint8_t> frame(data + start, data + i);
            int sw, sh, ow, oh;
            const int tw = target ? 16 * target + 3 : 0, th = target ? 9 * target + 1 : 0;
            Decoder_Decode(&dec, frame.data(), static_cast<int>(len), tw, th, flags, &sw, &sh, out.data(),
                           out.size(), &ow, &oh);
        }
        start = end ? i : i + 5;
    }
    Decoder_Deinit(&dec);
    return 0;
}
