#include "app/logic/video_pane_layout.h"

#include <cmath>
#include <cstdio>

namespace {

constexpr int kChannels = 16;
constexpr float kWidePictureRatio = 2.4f; // wider than this: one field of an interlaced frame
constexpr int kIndependentWidth = 640;    // a multi-channel file in a grid is laid out as 640 x 480
constexpr int kIndependentHeight = 480;
constexpr float kMinDecoderTarget = 16.0f;

bool positive(float v) {
    return std::isfinite(v) && v > 0.0f;
}

} // namespace

std::optional<VideoGridKind> videoGridKind(int miscellaneousBtnState) {
    switch (miscellaneousBtnState) {
    case 1:
        return VideoGridKind{4, 2, 2, 1.0f};
    case 2:
        return VideoGridKind{6, 3, 2, 1.5f};
    case 3:
        return VideoGridKind{9, 3, 3, 1.0f};
    case 4:
        return VideoGridKind{12, 4, 3, 1.5f};
    case 5:
        return VideoGridKind{16, 4, 4, 1.0f};
    default:
        return std::nullopt;
    }
}

int gridStartIndex(const GridStartIndexes &starts, int miscellaneousBtnState) {
    switch (miscellaneousBtnState) {
    case 1:
        return starts.grid4;
    case 2:
        return starts.grid6;
    case 3:
        return starts.grid9;
    case 4:
        return starts.grid12;
    default:
        return 0;
    }
}

bool clickVideoChannelSwitchBtn(int selectedIndex, int channelIndex, int &miscellaneousBtnState,
                                GridStartIndexes &starts) {
    if (selectedIndex == 4) {
        miscellaneousBtnState = 5;
        return true;
    }
    if (selectedIndex < 0 || selectedIndex > 3) return false;
    uint8_t *fields[4] = {&starts.grid4, &starts.grid6, &starts.grid9, &starts.grid12};
    for (int i = 0; i < 4; ++i)
        if (i != selectedIndex) *fields[i] = 16;
    miscellaneousBtnState = selectedIndex + 1;
    const int n = videoGridKind(miscellaneousBtnState)->tiles;
    const int s = *fields[selectedIndex];
    const int t = s + n;
    int next = 0;
    if (channelIndex > t) {
        next = t;
        // The last page ends at the highest channel.
        if (t + n > channelIndex) next = channelIndex - n;
    }
    if (next < 0 || next + n > kChannels) next = 0;
    *fields[selectedIndex] = static_cast<uint8_t>(next);
    return true;
}

std::optional<PictureFit> fitPictureInPane(float paneWidth, float paneHeight, int streamWidth,
                                           int streamHeight, int videoPaneCutState, int miscellaneousBtnState,
                                           bool isIndependentFlag) {
    if (!positive(paneWidth) || !positive(paneHeight)) return std::nullopt;
    PictureFit fit;
    float iw = static_cast<float>(streamWidth);
    float ih = static_cast<float>(streamHeight);
    float f = 1.0f;
    if (videoPaneCutState == 1) {
        if (const auto kind = videoGridKind(miscellaneousBtnState)) f = kind->pictureFactor;
        if (isIndependentFlag) {
            fit.imageRealSizeForced = true;
            fit.imageRealWidth = kIndependentWidth;
            fit.imageRealHeight = kIndependentHeight;
            iw = kIndependentWidth;
            ih = kIndependentHeight;
        }
    }
    // No picture yet: nothing to fit.
    if (!positive(iw) || !positive(ih)) return std::nullopt;
    if (!fit.imageRealSizeForced && iw / ih > kWidePictureRatio) ih *= 2.0f;

    LayoutRect &r = fit.picture;
    r.height = paneHeight;
    r.width = paneHeight * f * iw / ih;
    r.y = 0.0f;
    r.x = (paneWidth - r.width) * 0.5f;
    if (r.width > paneWidth) {
        r.width = paneWidth;
        r.height = ih * paneWidth / iw / f;
        r.x = 0.0f;
        r.y = (paneHeight - r.height) * 0.5f;
    }
    return fit;
}

OsdTextFrames osdTextFrames(const LayoutRect &picture, float paneHeight) {
    const float y = paneHeight - 35.0f;
    OsdTextFrames osd;
    osd.videoMode = {picture.x + 10.0f, y, 100.0f, 30.0f};
    osd.serverTime = {picture.x + picture.width * 0.5f - 100.0f, y, 200.0f, 30.0f};
    osd.percentage = {picture.x + picture.width - 76.0f, y, 80.0f, 30.0f};
    return osd;
}

TileLayout layoutVideoTiles(const LayoutRect &picture, int videoPaneCutState, int miscellaneousBtnState,
                            const GridStartIndexes &starts, int iCurrentSelectedVideoCH) {
    TileLayout layout;
    if (videoPaneCutState == 0) {
        if (iCurrentSelectedVideoCH >= 1 && iCurrentSelectedVideoCH <= kChannels)
            layout.tiles.push_back({iCurrentSelectedVideoCH - 1, picture});
        return layout;
    }
    if (videoPaneCutState != 1) return layout;
    const auto kind = videoGridKind(miscellaneousBtnState);
    if (!kind) return layout;
    layout.columns = kind->columns;
    layout.rows = kind->rows;
    int s = gridStartIndex(starts, miscellaneousBtnState);
    if (s < 0 || s + kind->tiles > kChannels) s = 0;
    const float w = picture.width / static_cast<float>(kind->columns);
    const float h = picture.height / static_cast<float>(kind->rows);
    for (int k = 0; k < kind->tiles; ++k) {
        const int column = k % kind->columns;
        const int row = k / kind->columns; // row 0 at the top
        TileFrame tile;
        tile.channel = s + k;
        tile.frame = {static_cast<float>(column) * w + picture.x,
                      static_cast<float>(kind->rows - 1 - row) * h + picture.y, w, h};
        layout.tiles.push_back(tile);
    }
    return layout;
}

DecoderTarget decoderTargetSize(const LayoutRect &picture, int columns, int rows, bool converting) {
    DecoderTarget target;
    if (converting || columns < 1 || rows < 1 || !positive(picture.width) || !positive(picture.height))
        return target;
    const float cw = picture.width / static_cast<float>(columns);
    const float ch = picture.height / static_cast<float>(rows);
    if (cw >= kMinDecoderTarget) {
        target.width = std::trunc(cw);
        target.height = std::trunc(ch);
    } else {
        target.height = kMinDecoderTarget;
        target.width = cw * kMinDecoderTarget / ch;
    }
    return target;
}

VideoPaneLayoutResult checkNeedResizeImageViewOrNot(const VideoPaneLayoutInput &in,
                                                    VideoPaneLayoutMemory &memory) {
    VideoPaneLayoutResult result;
    const bool unchanged = in.paneWidth == memory.previousVideoPaneWidth &&
                           in.paneHeight == memory.previousVideoPaneHeight &&
                           in.imageRealWidth == memory.previousImageRealWidth &&
                           in.imageRealHeight == memory.previousImageRealHeight;
    if (!unchanged) {
        const auto fit =
            fitPictureInPane(in.paneWidth, in.paneHeight, in.streamWidth, in.streamHeight,
                             in.videoPaneCutState, in.miscellaneousBtnState, in.isIndependentFlag);
        if (!fit) return result; // sizes unknown: try again with the next picture
        result.pictureChanged = true;
        result.fit = *fit;
        result.osd = osdTextFrames(fit->picture, in.paneHeight);
        memory.picture = fit->picture;
        memory.previousVideoPaneWidth = in.paneWidth;
        memory.previousVideoPaneHeight = in.paneHeight;
        memory.previousImageRealWidth = fit->imageRealSizeForced ? fit->imageRealWidth : in.imageRealWidth;
        memory.previousImageRealHeight = fit->imageRealSizeForced ? fit->imageRealHeight : in.imageRealHeight;
        memory.prevVideoPaneCutState = 2;
    } else if (!positive(memory.picture.width) || !positive(memory.picture.height)) {
        return result; // never laid out yet
    }
    result.laidOut = true;
    if (memory.prevVideoPaneCutState == in.videoPaneCutState) return result;
    memory.prevVideoPaneCutState = in.videoPaneCutState;
    result.tilesChanged = true;
    result.tiles = layoutVideoTiles(memory.picture, in.videoPaneCutState, in.miscellaneousBtnState, in.starts,
                                    in.iCurrentSelectedVideoCH);
    result.decoderTarget =
        decoderTargetSize(memory.picture, result.tiles.columns, result.tiles.rows, in.converting);
    return result;
}

std::string videoModeString(int width, int height) {
    const char *text = nullptr;
    switch (width) {
    case 176:
        text = "QCIF";
        break;
    case 320:
        text = "QVGA";
        break;
    case 352:
        text = "CIF";
        break;
    case 640:
        text = height == 228 ? "FIELD" : "VGA";
        break;
    case 704:
    case 720:
        text = (height == 480 || height == 576) ? "FRAME" : "FIELD";
        break;
    case 1280:
        if (height == 720)
            text = "HD720P";
        else if (height == 800)
            text = "WXGA";
        else if (height == 960)
            text = "SXVGA";
        else if (height == 1024)
            text = "SXGA";
        break;
    case 1920:
        if (height == 1080) text = "HD1080P";
        break;
    default:
        break;
    }
    if (text) return text;
    char buf[32];
    std::snprintf(buf, sizeof buf, "%ix%i", width, height);
    return buf;
}

std::string dv5VideoModeString(int modeCode, int streamWidth, int streamHeight) {
    static const char *const kTexts[] = {"FRAME", "FIELD", "CIF", "QCIF", "HD720P", "VGA", "QVGA", "QQVGA"};
    const int index = modeCode - 0x80;
    if (index >= 0 && index < int(sizeof kTexts / sizeof kTexts[0])) return kTexts[index];
    char buf[32];
    std::snprintf(buf, sizeof buf, "%ix%i", streamWidth, streamHeight);
    return buf;
}

bool dv5VideoModeWriteDue(bool labelEmpty, int &writeCount) {
    if (labelEmpty) {
        writeCount = 0;
        return true;
    }
    if (writeCount > 1) return false;
    ++writeCount;
    return true;
}
