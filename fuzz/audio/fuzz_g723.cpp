// G.723 packets of any content and size, with output capacities around the
// sample count: the decoder must answer the count or -1 and never write past
// the capacity it was given.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "audio/g723.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) {
        return 0;
    }
    const int slack = static_cast<int>(data[0] % 8) - 4;  // capacity relative to the count
    const uint8_t* packet = data + 1;
    const int bytes = static_cast<int>(size - 1);

    g72x_state state;
    g72x_init_state(&state);
    const int count = CG723Decode(packet, bytes, nullptr, 0, state);
    if (count != bytes * 8 / 3) {
        std::abort();
    }
    const int capacity = count + slack < 0 ? 0 : count + slack;
    // Exactly the capacity on the heap, so any write past it is caught.
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
    return 0;
}
