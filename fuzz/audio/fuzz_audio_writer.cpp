// A stream of packets of any format, size and copy capacity written into one
// manager while its render side is pulled in between: no write may leave the
// ring, the copy target or the render buffer.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "audio/audio_mgr.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    AudioMgr mgr(&createNullAudioOutput);
    mgr.createDefaultAudioOuputDevice();
    size_t pos = 0;
    auto take = [&](size_t n) {
        uint32_t v = 0;
        for (size_t i = 0; i < n && pos < size; i++) {
            v = (v << 8) | data[pos++];
        }
        return v;
    };
    while (pos < size) {
        uint32_t op = take(1);
        int format = static_cast<int>(op % 7);  // 0 to 6, the two ends unknown
        mgr.setFormat(format);
        if (op & 0x80) {
            mgr.play();
        }
        int packetBytes = static_cast<int>(take(2) % 12000);
        int capacity = static_cast<int>(take(2) % 9000);
        std::vector<uint8_t> packet(static_cast<size_t>(packetBytes) + 1, static_cast<uint8_t>(op));
        std::vector<char> copy(static_cast<size_t>(capacity));
        int copied = -1;
        bool ok = mgr.addAudioData(packet.data(), packetBytes, copy.empty() ? nullptr : copy.data(), capacity,
                                   &copied, (op & 0x40) != 0);
        if (ok && (copied < 0 || copied > capacity)) {
            std::abort();
        }
        uint32_t renderBytes = take(2) % 10000;
        std::vector<uint8_t> out(renderBytes + 1);
        AudioMgr::AudioRender(&mgr, out.data(), renderBytes);
    }
    return 0;
}
