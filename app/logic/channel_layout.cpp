#include "app/logic/channel_layout.h"

namespace {

constexpr uint32_t kChannelBits = 0xFFFF; // 16 channels; higher bits mean nothing

struct MaskCount {
    int count = 0;
    int highest = 0;
    std::vector<uint8_t> channels;
};

MaskCount countChannels(uint32_t mask) {
    MaskCount c;
    for (int bit = 0; bit < 16; ++bit) {
        if (mask & (1u << bit)) {
            ++c.count;
            c.highest = bit + 1;
            c.channels.push_back(static_cast<uint8_t>(bit + 1));
        }
    }
    return c;
}

// The grid for the highest channel number.
struct GridChoice {
    int miscellaneousBtnState;
    int menuItem;
};
GridChoice gridForHighestChannel(int highest) {
    if (highest >= 13) return {5, 4};
    if (highest >= 10) return {4, 3};
    if (highest >= 7) return {3, 2};
    if (highest >= 5) return {2, 1};
    if (highest >= 2) return {1, 0};
    return {0, 0};
}

} // namespace

ChannelLayout checkTotalChannelsAndSetVideoViewCut(const RecorderFileProbe &probe,
                                                   uint8_t currentGrid12StartIndex) {
    ChannelLayout layout; // the reset: single view of channel 1, locked, no grid, no audio
    layout.grid12StartIndex = currentGrid12StartIndex;
    // No title carries over from another file: a pane the file does not name is "CH n".
    layout.setDefaultChannelTitles = probe.kind != RecorderFileKind::Unknown;

    if (probe.kind != RecorderFileKind::AVC && probe.kind != RecorderFileKind::DV5) {
        // DV4 files are not read here: single view of channel 1, and the DV4 parser picks the
        // audio channel at its first audio header.
        layout.refillAudioMenu = false;
        return layout;
    }

    const MaskCount video = countChannels(probe.videoMask);
    const MaskCount audio = countChannels(probe.audioMask);
    layout.videoChannelCount = video.count;
    layout.highestVideoChannel = video.highest;
    layout.audioChannels = audio.channels;
    layout.iSubVideoChannelEnabledValue = static_cast<int>(probe.videoMask & kChannelBits);
    layout.iSubAudioChannelEnabledValue = static_cast<int>(probe.audioMask & kChannelBits);

    if (video.count == 1) {
        layout.iCurrentSelectedVideoCH = video.highest;
    } else {
        // Chosen by the highest channel, not by the count: channels 1 and 9 get 9 panes.
        const GridChoice grid = gridForHighestChannel(video.highest);
        layout.channelIndex = static_cast<uint8_t>(video.highest);
        layout.videoPaneCutState = 1;
        layout.iCurrentSelectedVideoCH = 1;
        layout.videoPaneLockCutStateFlag = false;
        layout.isIndependentFlag = true;
        layout.miscellaneousBtnState = grid.miscellaneousBtnState;
        switch (grid.miscellaneousBtnState) {
        case 1:
            layout.grid4StartIndex = 0;
            break;
        case 2:
            layout.grid6StartIndex = 0;
            break;
        case 3:
            layout.grid9StartIndex = 0;
            break;
        case 4:
            layout.grid12StartIndex = 0;
            break;
        default:
            break;
        }
        layout.snapShotBtnEnabled = false;
        layout.audioChannelSwitchBtnEnabled = !audio.channels.empty();
        layout.videoChannelSwitchBtnEnabled = true;
        layout.videoMenuItemCount = grid.miscellaneousBtnState;
        layout.videoMenuSelectedItem = grid.menuItem;
    }
    layout.iCurrentSelectedAudioCH = audio.channels.empty() ? 0 : audio.channels.front();
    return layout;
}

ConversionChannelChoice checkTotalChannelsForAVIConversion(const RecorderFileProbe &probe) {
    ConversionChannelChoice choice;
    switch (probe.kind) {
    case RecorderFileKind::Unknown:
        choice.result = -1;
        return choice;
    case RecorderFileKind::DV4:
        choice.result = 1;
        choice.setDefaultChannelTitles = true;
        return choice;
    case RecorderFileKind::AVC:
    case RecorderFileKind::DV5:
        break;
    }
    const MaskCount video = countChannels(probe.videoMask);
    const MaskCount audio = countChannels(probe.audioMask);
    choice.videoChannelCount = video.count;
    choice.audioChannels = audio.channels;
    choice.videoMask = static_cast<int>(probe.videoMask & kChannelBits);
    choice.audioMask = static_cast<int>(probe.audioMask & kChannelBits);
    if (video.count == 1) {
        choice.result = 1;
        choice.iCurrentSelectedVideoCH = video.highest;
        choice.iCurrentSelectedAudioCH = audio.channels.empty() ? 0 : audio.channels.front();
    } else {
        // The conversion handles one channel: the user picks it on the channel panel.
        choice.result = 0;
        choice.aviConversionDesignateChannel = true;
    }
    return choice;
}
