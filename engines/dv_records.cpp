#include "engines/dv_records.h"

#include "platform/byte_order.h"

namespace {
// channel, payload, length, stamp seconds, stamp microseconds, date seconds, field flag, target
const DVVideoRecordLayout kVideoLayouts[] = {
    {-1, 24, 20, 12, 16, 12, 8, false}, // DV4 H.264
    {-1, 12, 8, 0, 4, 0, -1, false},    // DV4 MPEG-4 Part 2
    {40, 41, 32, 20, 24, 12, 8, true},  // DV5 NVR
    {28, 29, 20, 12, 16, 12, 8, true},  // DV5 DVR "700"
};
const DVAudioRecordLayout kAudioLayouts[] = {
    {-1, 20, 8},  // DV4 H.264
    {-1, 16, 12}, // DV4 MPEG-4 Part 2
    {42, 43, 8},  // DV5 NVR
    {20, 21, 8},  // DV5 DVR "700"
};
} // namespace

const DVVideoRecordLayout &dvVideoRecordLayout(DVVideoSelector selector) {
    return kVideoLayouts[static_cast<int>(selector)];
}

const DVAudioRecordLayout &dvAudioRecordLayout(DVAudioSelector selector) {
    return kAudioLayouts[static_cast<int>(selector)];
}

uint32_t dvRecordU32(const void *record, int offset) {
    return readLE32(static_cast<const uint8_t *>(record) + offset);
}

uint64_t dvVideoRecordStampUs(const DVVideoRecordLayout &layout, const void *record) {
    return static_cast<uint64_t>(dvRecordU32(record, layout.stampSeconds)) * 1000000u +
           dvRecordU32(record, layout.stampMicroseconds);
}

int dvVideoRecordChannel(DVVideoSelector selector, const void *record) {
    const int at = dvVideoRecordLayout(selector).channel;
    return at < 0 ? 0 : static_cast<const uint8_t *>(record)[at];
}

int dvAudioRecordChannel(DVAudioSelector selector, const void *record) {
    const int at = dvAudioRecordLayout(selector).channel;
    return at < 0 ? 0 : static_cast<const uint8_t *>(record)[at];
}
