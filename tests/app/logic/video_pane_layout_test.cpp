// The video pane's geometry: the picture's fit in both directions, the tiles of every grid and
// of single view, paging, the decoder target, the layout step as a whole, and the
// picture-mode text.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "app/logic/video_pane_layout.h"

namespace {

void expectRect(const LayoutRect &r, float x, float y, float w, float h) {
    EXPECT_NEAR(r.x, x, 0.01f);
    EXPECT_NEAR(r.y, y, 0.01f);
    EXPECT_NEAR(r.width, w, 0.01f);
    EXPECT_NEAR(r.height, h, 0.01f);
}

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();

} // namespace

TEST(VideoPaneLayout, FitPictureInPane) {
    const struct {
        const char *name;
        float paneW, paneH;
        int streamW, streamH, cut, kind;
        bool independent;
        bool laidOut, forced;
        float x, y, w, h;
    } rows[] = {
        {"fit to the height", 1000, 500, 640, 480, 0, 0, false, true, false, 166.667f, 0, 666.667f, 500},
        {"fit to the width, pane-local", 400, 500, 640, 480, 0, 0, false, true, false, 0, 100, 400, 300},
        {"704x240 counts as 704x480", 1000, 480, 704, 240, 0, 0, false, true, false, 148, 0, 704, 480},
        {"6-grid widened, exact fit", 1000, 500, 176, 144, 1, 2, true, true, true, 0, 0, 1000, 500},
        {"6-grid widened, to the width", 900, 500, 176, 144, 1, 2, true, true, true, 0, 25, 900, 450},
        {"12-grid widened", 1600, 600, 1920, 1080, 1, 4, true, true, true, 200, 0, 1200, 600},
        {"4-grid as 640x480", 800, 600, 704, 240, 1, 1, true, true, true, 0, 0, 800, 600},
        {"16-grid as 640x480", 1000, 600, 352, 288, 1, 5, true, true, true, 100, 0, 800, 600},
        {"grid before the first picture", 800, 600, 0, 0, 1, 3, true, true, true, 0, 0, 800, 600},
        {"single-channel grid keeps the stream", 704, 576, 352, 288, 1, 3, false, true, false, 0, 0, 704,
         576},
        {"no picture yet", 800, 600, 0, 0, 0, 0, false, false, false, 0, 0, 0, 0},
        {"no picture height", 800, 600, 640, 0, 0, 0, false, false, false, 0, 0, 0, 0},
        {"zero-sized pane", 0, 0, 640, 480, 0, 0, false, false, false, 0, 0, 0, 0},
        {"zero-wide pane", 0, 500, 640, 480, 1, 1, true, false, false, 0, 0, 0, 0},
        {"pane not a number", kNaN, 500, 640, 480, 0, 0, false, false, false, 0, 0, 0, 0},
    };
    for (const auto &r : rows) {
        SCOPED_TRACE(r.name);
        const auto fit =
            fitPictureInPane(r.paneW, r.paneH, r.streamW, r.streamH, r.cut, r.kind, r.independent);
        ASSERT_EQ(fit.has_value(), r.laidOut);
        if (!fit) continue;
        expectRect(fit->picture, r.x, r.y, r.w, r.h);
        EXPECT_EQ(fit->imageRealSizeForced, r.forced);
        if (r.forced) {
            EXPECT_EQ(fit->imageRealWidth, 640);
            EXPECT_EQ(fit->imageRealHeight, 480);
        }
        // The picture always lies inside the pane.
        EXPECT_GE(fit->picture.x, -0.01f);
        EXPECT_GE(fit->picture.y, -0.01f);
        EXPECT_LE(fit->picture.x + fit->picture.width, r.paneW + 0.01f);
        EXPECT_LE(fit->picture.y + fit->picture.height, r.paneH + 0.01f);
    }
}

TEST(VideoPaneLayout, Tiles) {
    const LayoutRect picture{10, 20, 1200, 600};
    GridStartIndexes starts;
    starts.grid4 = 6;
    starts.grid6 = 16; // not in use: starts at 0
    starts.grid9 = 10; // would run past channel 16: starts at 0
    starts.grid12 = 4;
    const struct {
        const char *name;
        int cut, kind, selected;
        int columns, rows, count, firstChannel;
        LayoutRect first, last;
    } rows[] = {
        {"4 tiles", 1, 1, 1, 2, 2, 4, 6, {10, 320, 600, 300}, {610, 20, 600, 300}},
        {"6 tiles", 1, 2, 1, 3, 2, 6, 0, {10, 320, 400, 300}, {810, 20, 400, 300}},
        {"9 tiles", 1, 3, 1, 3, 3, 9, 0, {10, 420, 400, 200}, {810, 20, 400, 200}},
        {"12 tiles", 1, 4, 1, 4, 3, 12, 4, {10, 420, 300, 200}, {910, 20, 300, 200}},
        {"16 tiles", 1, 5, 1, 4, 4, 16, 0, {10, 470, 300, 150}, {910, 20, 300, 150}},
        {"single view", 0, 3, 5, 1, 1, 1, 4, picture, picture},
        {"single view of 16", 0, 0, 16, 1, 1, 1, 15, picture, picture},
        {"single view of no channel", 0, 0, 0, 1, 1, 0, 0, {}, {}},
        {"grid of no kind", 1, 0, 1, 1, 1, 0, 0, {}, {}},
        {"unknown cut state", 2, 1, 1, 1, 1, 0, 0, {}, {}},
    };
    for (const auto &r : rows) {
        SCOPED_TRACE(r.name);
        const TileLayout l = layoutVideoTiles(picture, r.cut, r.kind, starts, r.selected);
        EXPECT_EQ(l.columns, r.columns);
        EXPECT_EQ(l.rows, r.rows);
        ASSERT_EQ(static_cast<int>(l.tiles.size()), r.count);
        if (l.tiles.empty()) continue;
        expectRect(l.tiles.front().frame, r.first.x, r.first.y, r.first.width, r.first.height);
        expectRect(l.tiles.back().frame, r.last.x, r.last.y, r.last.width, r.last.height);
        // Consecutive channels, left to right then top to bottom, covering the picture.
        float area = 0;
        for (size_t k = 0; k < l.tiles.size(); ++k) {
            const TileFrame &t = l.tiles[k];
            EXPECT_EQ(t.channel, r.firstChannel + static_cast<int>(k));
            EXPECT_LT(t.channel, 16);
            area += t.frame.width * t.frame.height;
            if (k > 0) {
                const LayoutRect &prev = l.tiles[k - 1].frame;
                if (k % static_cast<size_t>(r.columns) != 0) {
                    EXPECT_NEAR(t.frame.x, prev.x + prev.width, 0.01f);
                    EXPECT_NEAR(t.frame.y, prev.y, 0.01f);
                } else {
                    EXPECT_NEAR(t.frame.x, picture.x, 0.01f);
                    EXPECT_NEAR(t.frame.y + t.frame.height, prev.y, 0.01f);
                }
            }
        }
        EXPECT_NEAR(area, picture.width * picture.height, 1.0f);
    }
}

// Choosing a grid from the menu again and again pages through the channels and wraps.
TEST(VideoPaneLayout, Paging) {
    const struct {
        const char *name;
        int channelIndex, item;
        std::vector<int> pages;
    } rows[] = {
        {"10 channels on 4 tiles", 10, 0, {0, 4, 6, 0, 4}},
        {"16 channels on 12 tiles", 16, 3, {0, 4, 0}},
        {"16 channels on 4 tiles", 16, 0, {0, 4, 8, 12, 0}},
        {"16 channels on 9 tiles", 16, 2, {0, 7, 0}},
        {"6 channels on 6 tiles", 6, 1, {0, 0, 0}},
        {"7 channels on 6 tiles", 7, 1, {0, 1, 0}},
        {"3 channels on 4 tiles", 3, 0, {0, 0}},
        {"11 channels on 9 tiles", 11, 2, {0, 2, 0}},
    };
    for (const auto &r : rows) {
        SCOPED_TRACE(r.name);
        GridStartIndexes starts; // another grid in use: all four unused
        starts.grid9 = r.item == 2 ? 16 : 0;
        int kind = r.item == 2 ? 1 : 3;
        for (int page : r.pages) {
            ASSERT_TRUE(clickVideoChannelSwitchBtn(r.item, r.channelIndex, kind, starts));
            EXPECT_EQ(kind, r.item + 1);
            EXPECT_EQ(gridStartIndex(starts, kind), page);
            const uint8_t all[4] = {starts.grid4, starts.grid6, starts.grid9, starts.grid12};
            for (int i = 0; i < 4; ++i)
                if (i != r.item) {
                    EXPECT_EQ(all[i], 16) << i;
                }
        }
    }
    // The 16-tile grid changes no start; other items change nothing.
    GridStartIndexes starts;
    starts.grid4 = 4;
    int kind = 1;
    EXPECT_TRUE(clickVideoChannelSwitchBtn(4, 16, kind, starts));
    EXPECT_EQ(kind, 5);
    EXPECT_EQ(starts.grid4, 4);
    EXPECT_EQ(gridStartIndex(starts, kind), 0);
    EXPECT_FALSE(clickVideoChannelSwitchBtn(5, 16, kind, starts));
    EXPECT_FALSE(clickVideoChannelSwitchBtn(-1, 16, kind, starts));
    EXPECT_EQ(kind, 5);
    EXPECT_EQ(starts.grid4, 4);
}

TEST(VideoPaneLayout, DecoderTarget) {
    const struct {
        const char *name;
        LayoutRect picture;
        int columns, rows;
        bool converting;
        float w, h;
    } rows[] = {
        {"one cell of 2x2", {0, 0, 800, 600}, 2, 2, false, 400, 300},
        {"cut to whole pixels", {5, 0, 1000.8f, 500.6f}, 1, 1, false, 1000, 500},
        {"cell of 16 exactly", {0, 0, 64, 48}, 4, 4, false, 16, 12},
        {"narrower than 16: 16 high", {0, 0, 50, 40}, 4, 4, false, 20, 16},
        {"converting: stream size", {0, 0, 800, 600}, 2, 2, true, 0, 0},
        {"no picture width", {0, 0, 0, 600}, 1, 1, false, 0, 0},
        {"no picture height", {0, 0, 10, 0}, 1, 1, false, 0, 0},
        {"no columns", {0, 0, 800, 600}, 0, 1, false, 0, 0},
    };
    for (const auto &r : rows) {
        SCOPED_TRACE(r.name);
        const DecoderTarget t = decoderTargetSize(r.picture, r.columns, r.rows, r.converting);
        EXPECT_FLOAT_EQ(t.width, r.w);
        EXPECT_FLOAT_EQ(t.height, r.h);
    }
}

// The layout step over a file's life: nothing before both sizes are known, a full layout
// then, nothing when nothing changed, tiles on a cut change, and the forced grid size.
TEST(VideoPaneLayout, LayoutSteps) {
    VideoPaneLayoutMemory memory;
    VideoPaneLayoutInput in;
    in.iCurrentSelectedVideoCH = 3;

    auto result = checkNeedResizeImageViewOrNot(in, memory); // no pane, no picture
    EXPECT_FALSE(result.laidOut);
    EXPECT_EQ(memory.prevVideoPaneCutState, 2);

    in.paneWidth = 800;
    in.paneHeight = 600;
    result = checkNeedResizeImageViewOrNot(in, memory); // pane, but no picture yet
    EXPECT_FALSE(result.laidOut);
    EXPECT_EQ(memory.previousVideoPaneWidth, 0);

    in.streamWidth = in.imageRealWidth = 640;
    in.streamHeight = in.imageRealHeight = 480;
    result = checkNeedResizeImageViewOrNot(in, memory);
    ASSERT_TRUE(result.laidOut);
    EXPECT_TRUE(result.pictureChanged);
    EXPECT_TRUE(result.tilesChanged);
    ASSERT_EQ(result.tiles.tiles.size(), 1u);
    EXPECT_EQ(result.tiles.tiles[0].channel, 2);
    expectRect(result.tiles.tiles[0].frame, 0, 0, 800, 600);
    EXPECT_FLOAT_EQ(result.decoderTarget.width, 800);
    EXPECT_FLOAT_EQ(result.decoderTarget.height, 600);
    EXPECT_EQ(memory.prevVideoPaneCutState, 0);

    result = checkNeedResizeImageViewOrNot(in, memory);
    EXPECT_TRUE(result.laidOut);
    EXPECT_FALSE(result.pictureChanged);
    EXPECT_FALSE(result.tilesChanged);

    // The menu chose the 4-tile grid of a multi-channel file and asked for a full layout.
    in.videoPaneCutState = 1;
    in.miscellaneousBtnState = 1;
    in.isIndependentFlag = true;
    in.starts.grid4 = 4;
    in.paneWidth = 1000;
    result = checkNeedResizeImageViewOrNot(in, memory);
    ASSERT_TRUE(result.pictureChanged);
    EXPECT_TRUE(result.fit.imageRealSizeForced);
    expectRect(result.fit.picture, 100, 0, 800, 600);
    ASSERT_TRUE(result.tilesChanged);
    ASSERT_EQ(result.tiles.tiles.size(), 4u);
    EXPECT_EQ(result.tiles.tiles[0].channel, 4);
    expectRect(result.tiles.tiles[0].frame, 100, 300, 400, 300);
    EXPECT_FLOAT_EQ(result.decoderTarget.width, 400);
    EXPECT_EQ(memory.previousImageRealWidth, 640);

    // A minimised pane lays nothing out and forgets nothing.
    in.paneWidth = 0;
    result = checkNeedResizeImageViewOrNot(in, memory);
    EXPECT_FALSE(result.laidOut);
    EXPECT_EQ(memory.previousVideoPaneWidth, 1000);

    // Converting: the tiles are laid out, the decoders keep the stream's size.
    in.paneWidth = 1000;
    in.converting = true;
    in.videoPaneCutState = 0;
    result = checkNeedResizeImageViewOrNot(in, memory);
    ASSERT_TRUE(result.tilesChanged);
    EXPECT_EQ(result.decoderTarget.width, 0);
    EXPECT_EQ(result.decoderTarget.height, 0);
}

TEST(VideoPaneLayout, PictureModeText) {
    const struct {
        int w, h;
        const char *text;
    } rows[] = {
        {176, 144, "QCIF"},        {176, 120, "QCIF"},    {320, 240, "QVGA"},      {352, 288, "CIF"},
        {352, 240, "CIF"},         {640, 228, "FIELD"},   {640, 240, "VGA"},       {640, 480, "VGA"},
        {704, 480, "FRAME"},       {704, 576, "FRAME"},   {720, 480, "FRAME"},     {720, 576, "FRAME"},
        {704, 240, "FIELD"},       {720, 288, "FIELD"},   {1280, 720, "HD720P"},   {1280, 800, "WXGA"},
        {1280, 960, "SXVGA"},      {1280, 1024, "SXGA"},  {1280, 600, "1280x600"}, {1920, 1080, "HD1080P"},
        {1920, 1200, "1920x1200"}, {800, 600, "800x600"}, {0, 0, "0x0"},           {-1, 5, "-1x5"},
    };
    for (const auto &r : rows)
        EXPECT_EQ(videoModeString(r.w, r.h), r.text) << r.w << "x" << r.h;

    // The code-based twin: eight named codes; any other names the stream's size.
    const char *named[] = {"FRAME", "FIELD", "CIF", "QCIF", "HD720P", "VGA", "QVGA", "QQVGA"};
    for (int code = 0x80; code <= 0x87; ++code)
        EXPECT_EQ(dv5VideoModeString(code, 704, 240), named[code - 0x80]) << code;
    for (int code : {0x00, 0x7F, 0x88, 0xFF})
        EXPECT_EQ(dv5VideoModeString(code, 704, 240), "704x240") << code;
    // Three writes after the label is emptied; two after a layout resets the shared count.
    std::string writes;
    int count = 25;
    for (int call = 0; call < 8; ++call) {
        if (call == 4) count = 0;
        writes += dv5VideoModeWriteDue(call == 0, count) ? 'W' : '-';
    }
    EXPECT_EQ(writes, "WWW-WW--");
}
