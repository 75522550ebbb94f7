// The video pane's geometry: where the picture sits in the pane, the tiles of single view and
// of the 4/6/9/12/16 grids, paging through the channels, the size the decoders scale to, and
// the picture-mode text.
//
// Rectangles are in the pane's own coordinates, in pixels, origin at the pane's bottom-left
// corner and y growing upwards (turn them into widget geometry with flipFrameInParent).
// Pure functions, no Qt, any thread; the GUI thread keeps the state and applies the results.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

struct LayoutRect {
    float x = 0, y = 0, width = 0, height = 0;
};

// Grid kinds by miscellaneousBtnState (the grid menu's item index is the kind less 1).
struct VideoGridKind {
    int tiles;
    int columns;
    int rows;
    float pictureFactor; // widens the picture rectangle (1.5 for 6 and 12 tiles)
};
// Kinds 1..5 (4, 6, 9, 12, 16 tiles); nullopt for any other value.
std::optional<VideoGridKind> videoGridKind(int miscellaneousBtnState);

// First channel (0-based) of the page each grid shows; 16 = the grid is not in use. The
// 16-tile grid always starts at channel 0.
struct GridStartIndexes {
    uint8_t grid4 = 16, grid6 = 16, grid9 = 16, grid12 = 16;
};

// The start index of grid `miscellaneousBtnState` in `starts` (0 for the 16-grid and others).
int gridStartIndex(const GridStartIndexes &starts, int miscellaneousBtnState);

// clickVideoChannelSwitchBtn: the grid menu's item `selectedIndex` was chosen. Items 0..3
// choose the 4/6/9/12 grid: a grid not in use starts at 0, the grid in use pages forward by its
// tile count (the last page ends at channel `channelIndex`) and wraps to 0; the other three
// grids become unused. Item 4 chooses the 16-grid. Returns false (nothing changed) for any
// other index. The caller then sets isResizingVideoPane, videoPaneCutState = 1 and
// previousVideoPaneWidth = 0 so the next picture relays the pane.
bool clickVideoChannelSwitchBtn(int selectedIndex, int channelIndex, int &miscellaneousBtnState,
                                GridStartIndexes &starts);

// The picture rectangle and the size the grid forces (640 x 480 for a multi-channel file).
struct PictureFit {
    LayoutRect picture;
    // Set when the grid lays a multi-channel file out as 640 x 480: imageRealWidth/Height
    // become these values.
    bool imageRealSizeForced = false;
    int imageRealWidth = 0;
    int imageRealHeight = 0;
};

// Fits the picture into a pane of paneWidth x paneHeight: a stream picture more than 2.4 times
// as wide as high counts twice as high; in a grid the picture factor widens it and a
// multi-channel file (isIndependentFlag) counts as 640 x 480. Fits to the height, or to the
// width when that would be too wide, centred in the other direction. nullopt (no layout)
// while the pane or the picture size is zero, negative or not finite.
std::optional<PictureFit> fitPictureInPane(float paneWidth, float paneHeight, int streamWidth,
                                           int streamHeight, int videoPaneCutState, int miscellaneousBtnState,
                                           bool isIndependentFlag);

// The three on-screen text frames above the picture, for a pane `paneHeight` high.
struct OsdTextFrames {
    LayoutRect videoMode, serverTime, percentage;
};
OsdTextFrames osdTextFrames(const LayoutRect &picture, float paneHeight);

struct TileFrame {
    int channel = 0; // 0-based: the tile videoView[channel]
    LayoutRect frame;
};
struct TileLayout {
    int columns = 1;
    int rows = 1;
    std::vector<TileFrame> tiles; // the tiles to show; all others are hidden
};

// Single view (cut state 0): the tile of iCurrentSelectedVideoCH (1..16) fills the picture.
// Grid (cut state 1) of a kind 1..5: tile k is channel start + k, column k mod c, row k div c
// with row 0 at the top. A start that would run past channel 16 starts at 0. Anything else
// shows no tile, one column and one row.
TileLayout layoutVideoTiles(const LayoutRect &picture, int videoPaneCutState, int miscellaneousBtnState,
                            const GridStartIndexes &starts, int iCurrentSelectedVideoCH);

// Size the decoders scale to: one cell of the layout, cut to whole pixels, or 16 high with the
// cell's aspect when the cell is narrower than 16. {0, 0} (the stream's own size) while
// converting, and while the picture rectangle has no area.
struct DecoderTarget {
    float width = 0;
    float height = 0;
};
DecoderTarget decoderTargetSize(const LayoutRect &picture, int columns, int rows, bool converting);

// checkNeedResizeImageViewOrNot as one step. The caller keeps VideoPaneLayoutMemory between
// calls (it starts with prevVideoPaneCutState 2 and zero sizes at every file start).
struct VideoPaneLayoutInput {
    float paneWidth = 0, paneHeight = 0;
    int streamWidth = 0, streamHeight = 0;       // iImageWidthFromStream / Height
    int imageRealWidth = 0, imageRealHeight = 0; // size of the last picture produced
    int videoPaneCutState = 0;
    int miscellaneousBtnState = 0;
    bool isIndependentFlag = false;
    GridStartIndexes starts;
    int iCurrentSelectedVideoCH = 1;
    bool converting = false; // playerState 1
};
struct VideoPaneLayoutMemory {
    float previousVideoPaneWidth = 0, previousVideoPaneHeight = 0;
    int previousImageRealWidth = 0, previousImageRealHeight = 0;
    int prevVideoPaneCutState = 2;
    LayoutRect picture; // videoViewOriginX/Y, videoViewWidth/Height
};
struct VideoPaneLayoutResult {
    bool laidOut = false;        // false: sizes unknown, nothing changed (not even the memory)
    bool pictureChanged = false; // picture rectangle and OSD frames recomputed
    PictureFit fit;              // valid when pictureChanged
    OsdTextFrames osd;           // valid when pictureChanged
    bool tilesChanged = false;   // hide every tile, then show `tiles`; set the decoder target
    TileLayout tiles;
    DecoderTarget decoderTarget; // valid when tilesChanged
};
VideoPaneLayoutResult checkNeedResizeImageViewOrNot(const VideoPaneLayoutInput &in,
                                                    VideoPaneLayoutMemory &memory);

// The picture-mode text for a stream picture of width x height ("CIF", "FRAME", "HD720P", ...;
// "%ix%i" of the size for a size the table does not name). Never empty.
std::string videoModeString(int width, int height);

// The picture-mode text of a DV5 mode code: 0x80 "FRAME", 0x81 "FIELD", 0x82 "CIF", 0x83 "QCIF",
// 0x84 "HD720P", 0x85 "VGA", 0x86 "QVGA", 0x87 "QQVGA"; any other code gives "%ix%i" of the
// stream picture's size.
std::string dv5VideoModeString(int modeCode, int streamWidth, int streamHeight);

// Whether the code-based picture-mode text is written now. An empty label starts the count
// again and is written; otherwise the text is written while `writeCount` is at most 1, each
// such write counting one, so three writes follow each reset. The count is shared with the
// size-based text, whose single-view layout also resets it.
bool dv5VideoModeWriteDue(bool labelEmpty, int &writeCount);
