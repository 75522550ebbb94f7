// Fixed-width integers at any byte position, in the byte order of the file rather than the
// host's: recorder files, their indexes, WAV and AVI files are little-endian; MPEG-4 start
// codes are read big-endian. The bytes are unsigned, so one at or above 0x80 never spreads
// its sign into the bytes above it.
#pragma once

#include <cstdint>

inline uint16_t readLE16(const uint8_t *p) {
    return static_cast<uint16_t>(p[0] | p[1] << 8);
}

inline uint32_t readLE32(const uint8_t *p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
           static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

inline uint64_t readLE64(const uint8_t *p) {
    return static_cast<uint64_t>(readLE32(p)) | static_cast<uint64_t>(readLE32(p + 4)) << 32;
}

inline uint32_t readBE32(const uint8_t *p) {
    return static_cast<uint32_t>(p[0]) << 24 | static_cast<uint32_t>(p[1]) << 16 |
           static_cast<uint32_t>(p[2]) << 8 | static_cast<uint32_t>(p[3]);
}

inline void writeLE16(uint8_t *p, uint16_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}

inline void writeLE32(uint8_t *p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
    p[2] = static_cast<uint8_t>(v >> 16);
    p[3] = static_cast<uint8_t>(v >> 24);
}
