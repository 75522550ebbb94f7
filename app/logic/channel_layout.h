// From a probed recorder file to the pane layout, the selected channels and what the two
// channel menus offer; and the conversion's twin, which picks one channel instead of a grid.
//
// Pure functions, no Qt, any thread. The GUI applies the result to the open file's facts, the
// pane and the widgets.
#pragma once

#include <cstdint>
#include <vector>

#include "app/logic/recorder_file_probe.h"

// Start index of a grid that is not in use (grid4..grid12StartIndex).
constexpr uint8_t kGridStartUnused = 16;

// Result of checkTotalChannelsAndSetVideoViewCut. Field names are the player's old ones.
struct ChannelLayout {
    // Counted over bits 0 to 15 of the masks only.
    int videoChannelCount = 0;          // n: set bits of the video mask
    int highestVideoChannel = 0;        // h: 1-based number of the highest set bit, 0 when none
    std::vector<uint8_t> audioChannels; // 1-based numbers of the audio mask's bits, increasing

    // Masks with only bits 0 to 15 kept.
    int iSubVideoChannelEnabledValue = 0;
    int iSubAudioChannelEnabledValue = 0;

    int iCurrentSelectedVideoCH = 1; // 1..16
    int iCurrentSelectedAudioCH = 0; // first of audioChannels, 0 = none
    uint8_t channelIndex = 1;        // highest channel in a grid; 1 in single view
    int videoPaneCutState = 0;       // 0 single view, 1 grid
    bool videoPaneLockCutStateFlag = true;
    bool isIndependentFlag = false; // left untouched (false) in single view
    int miscellaneousBtnState = 0;  // grid kind 0 none, 1..5 = 4, 6, 9, 12, 16 panes
    uint8_t grid4StartIndex = kGridStartUnused;
    uint8_t grid6StartIndex = kGridStartUnused;
    uint8_t grid9StartIndex = kGridStartUnused;
    uint8_t grid12StartIndex = kGridStartUnused; // the caller's value unless the 12-grid is chosen

    bool snapShotBtnEnabled = true;
    bool audioChannelSwitchBtnEnabled = false;
    bool videoChannelSwitchBtnEnabled = false;

    // Menus. The audio menu is refilled with audioChannels unless this is false (DV4); it then
    // selects item 0. The grid menu is refilled with videoMenuItemCount items (0 = leave it)
    // and then selects videoMenuSelectedItem (queued, after the refill).
    bool refillAudioMenu = true;
    int videoMenuItemCount = 0;
    int videoMenuSelectedItem = 0;
    // The panes are titled "CH1".."CH16" (setDevChannelTitle with no titles) before the engine
    // starts; an AVC file's own titles then replace those of the channels it names.
    bool setDefaultChannelTitles = false;
};

// The layout for a file of probe.kind (AVC, DV4 or DV5; an Unknown kind gets the DV4 answer
// without titles so nothing is read into it). `currentGrid12StartIndex` is the pane's
// grid12StartIndex, which is kept unless the 12-pane grid is chosen.
//   highest channel 13..16 -> 16 panes (menu item 4), 10..12 -> 12 (3), 7..9 -> 9 (2),
//   5..6 -> 6 (1), 2..4 -> 4 (0); one channel -> single view of it; none -> grid kind 0.
ChannelLayout checkTotalChannelsAndSetVideoViewCut(const RecorderFileProbe &probe,
                                                   uint8_t currentGrid12StartIndex);

// Result of checkTotalChannelsForAVIConversion.
struct ConversionChannelChoice {
    // 1: convert now (one video channel, or a DV4 file); 0: show the channel panel, the
    // conversion goes on when it closes; -1: not a DV4, AVC or DV5 file.
    int result = -1;
    bool setDefaultChannelTitles = false; // DV4
    bool aviConversionDesignateChannel = false;
    int videoChannelCount = 0;          // n, for the "total channels" log line
    std::vector<uint8_t> audioChannels; // for the audio menu (AVC, DV5)
    int iCurrentSelectedVideoCH = 1;
    int iCurrentSelectedAudioCH = 0;
    // The masks (bits 0..15) for setChannelSelectionBtnWithVideoChannels:audioChannels:.
    int videoMask = 0;
    int audioMask = 0;
};

ConversionChannelChoice checkTotalChannelsForAVIConversion(const RecorderFileProbe &probe);
