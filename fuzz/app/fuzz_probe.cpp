// Feeds arbitrary bytes to the recorder file probe as the start of an AVC, DV4 or DV5 file
// (chosen by the first byte), then lays out and picks a conversion channel from the result.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>

#include "app/logic/channel_layout.h"
#include "app/logic/recorder_file_probe.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size < 1) return 0;
    const RecorderFileKind kinds[] = {RecorderFileKind::AVC, RecorderFileKind::DV4, RecorderFileKind::DV5,
                                      RecorderFileKind::Unknown};
    const RecorderFileKind kind = kinds[data[0] % 4];
    // Exactly the bytes on the heap, so any read past them is caught.
    const size_t n = size - 1;
    std::unique_ptr<uint8_t[]> bytes(new uint8_t[n ? n : 1]);
    if (n) std::memcpy(bytes.get(), data + 1, n);
    const RecorderFileProbe probe = probeRecorderFileBytes(kind, n ? bytes.get() : nullptr, n);
    if (probe.minorId.size() > 32) __builtin_trap();
    const ChannelLayout layout = checkTotalChannelsAndSetVideoViewCut(probe, 16);
    if (layout.iCurrentSelectedVideoCH < 1 || layout.iCurrentSelectedVideoCH > 16 ||
        layout.channelIndex > 16 || layout.miscellaneousBtnState < 0 || layout.miscellaneousBtnState > 5 ||
        layout.audioChannels.size() > 16)
        __builtin_trap();
    // Whatever the header says, its file gets a pane to show its pictures on.
    if (layout.videoPaneCutState == 1 && layout.miscellaneousBtnState == 0) __builtin_trap();
    checkTotalChannelsForAVIConversion(probe);
    return 0;
}
