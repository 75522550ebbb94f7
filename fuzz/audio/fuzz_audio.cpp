// Audio decoding and queuing under any input. The first byte picks the case:
//  - G.723 packets of any content and size, with output capacities around the
//    sample count: the decoder answers the count or -1 and never writes past
//    the capacity it was given;
//  - a stream of packets of any format, size and copy capacity written into
//    one manager while its render side is pulled in between: no write leaves
//    the ring, the copy target or the render buffer.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "audio/audio_mgr.h"
#include "audio/g723.h"

static void decodeOnePacket(const uint8_t *data, size_t size) {
    if (size < 1) {
        return;
    }
    const int slack = static_cast<int>(data[0] % 8) - 4; // capacity relative to the count
    const uint8_t *packet = data + 1;
    const int bytes = static_cast<int>(size - 1);

    g72x_state state;
    g72x_init_state(&state);
    const int count = CG723Decode(packet, bytes, nullptr, 0, state);
    if (count != bytes * 8 / 3) {
        std::abort();
    }
    const int capacity = count + slack < 0 ? 0 : count + slack;
    // The capacity plus one guard element that any write past it would change.
    std::vector<short> out(static_cast<size_t>(capacity) + 1);
    out[static_cast<size_t>(capacity)] = 0x5A5A;
    const int n = CG723Decode(packet, bytes, out.data(), capacity, state);
    if (n != (count <= capacity ? count : -1) || out[static_cast<size_t>(capacity)] != 0x5A5A) {
        std::abort();
    }
    // The caller's state is never changed, so a second decode is the same.
    std::vector<short> again(out.size());
    again[static_cast<size_t>(capacity)] = 0x5A5A;
    if (CG723Decode(packet, bytes, again.data(), capacity, state) != n ||
        (n > 0 && std::memcmp(out.data(), again.data(), static_cast<size_t>(n) * sizeof(short)) != 0)) {
        std::abort();
    }
}

static void writePackets(const uint8_t *data, size_t size) {
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
        int format = static_cast<int>(op % 7); // 0 to 6, the two ends unknown
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
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size < 1) {
        return 0;
    }
    if (data[0] & 1) {
        decodeOnePacket(data + 1, size - 1);
    } else {
        writePackets(data + 1, size - 1);
    }
    return 0;
}
