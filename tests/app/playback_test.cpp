// Opening recordings and watching them, through the real delegate and the real engines on
// recordings generated at test time: the layout, titles, time and progress each kind of file
// calls for, the pictures on the tiles, the grid and single-view flow, files that cannot be
// played, one file replacing another, and quitting while a file plays.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QDir>
#include <QFileDialog>
#include <QLabel>
#include <QPushButton>
#include <QRegularExpression>
#include <QSlider>
#include <QStringDecoder>
#include <QTest>

#include <sys/stat.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fstream>
#include <limits>
#include <memory>
#include <random>
#include <set>
#include <thread>

#include "app/VistrelAppDelegate.h"
#include "app/controls/CustomizedProgressSlider.h"
#include "app/controls/CustomizedVideoView.h"
#include "app/controls/OsdTextLayer.h"
#include "app/engine_side/engine_side.h"
#include "app/file_intake/file_intake.h"
#include "app/main_window.h"
#include "common/mkrec_fixture.h"
#include "engine_picture.h"
#include "engines/avc_format_playback.h"
#include "engines/dv_format_playback.h"
#include "engines/engine_controls.h"
#include "launched_player.h"
#include "qt_test_app.h"

namespace {

using ChannelSet = std::set<int>;

ChannelSet range(int first, int last) {
    ChannelSet s;
    for (int c = first; c <= last; ++c)
        s.insert(c);
    return s;
}

// A launched player whose window is shown, as a user sees it.
struct Player : LaunchedPlayer {
    ChannelSet shownTiles() const {
        ChannelSet s;
        for (int c = 0; c < 16; ++c)
            if (delegate->videoPaneLayout()->videoView()[c] &&
                !delegate->videoPaneLayout()->videoView()[c]->isHidden())
                s.insert(c);
        return s;
    }
    bool tilesHavePictures(const ChannelSet &channels) const {
        for (int c : channels)
            if (delegate->videoPaneLayout()->videoView()[c]->contents().isNull()) return false;
        return true;
    }
    bool waitForTiles(const ChannelSet &shown, const ChannelSet &withPictures, int timeoutMs = 8000) {
        return serveEventsUntil([&] { return shownTiles() == shown && tilesHavePictures(withPictures); },
                                timeoutMs);
    }
    bool noEngineThread() const { return !delegate->engineSide()->anyEngineThreadExecuting(); }
};

// The recorder times of a recording's frames as the player writes them, in UTC and local time.
std::set<QString> frameTimes(const mkrec::Manifest &manifest) {
    return manifestFrameTimes(manifest, "%04d/%02d/%02d %02d:%02d:%02d");
}

struct OpenCase {
    const char *name;
    const char *file;
    std::vector<std::string> args;
    int gridKind;        // miscellaneousBtnState
    int cutState;        // 0 single view, 1 grid
    ChannelSet shown;    // tiles laid out
    ChannelSet channels; // tiles that get pictures
    std::vector<std::pair<int, QString>> titles;
};

TEST(OpenRecording, LayoutTitlesTimeProgressAndPicturesFollowTheFile) {
    const std::vector<OpenCase> cases = {
        {"DV4 H.264", "a.dv4", {"--kind", "dv4-h264"}, 0, 0, {0}, {0}, {{0, "CH1"}, {15, "CH16"}}},
        {"DV4 MPEG-4", "b.DV4", {"--kind", "dv4-mpeg4"}, 0, 0, {0}, {0}, {{0, "CH1"}}},
        {"DV5 NVR one channel",
         "c.dv5",
         {"--kind", "dv5-nvr", "--video-mask", "0x4"},
         0,
         0,
         {2},
         {2},
         {{2, "CH3"}}},
        {"DV5 NVR four channels",
         "d.dv5",
         {"--kind", "dv5-nvr", "--video-mask", "0xf"},
         1,
         1,
         range(0, 3),
         range(0, 3),
         {{3, "CH4"}}},
        {"DV5 NVR sixteen channels",
         "e.dv5",
         {"--kind", "dv5-nvr", "--video-mask", "0xffff", "--audio-mask", "0"},
         5,
         1,
         range(0, 15),
         range(0, 15),
         {{15, "CH16"}}},
        {"DV5 DVR 700",
         "f.Dv5",
         {"--kind", "dv5-dvr700", "--video-mask", "0x3f"},
         2,
         1,
         range(0, 5),
         range(0, 5),
         {{5, "CH6"}}},
        {"AVC titles and audio",
         "g.avc",
         {"--kind", "avc", "--video-mask", "0x3", "--audio-mask", "0x3", "--audio", "g723,ulaw", "--title",
          "1=Front door", "--title", "2=Yard"},
         1,
         1,
         range(0, 3),
         {0, 1},
         {{0, "Front door"}, {1, "Yard"}}},
    };
    mkrec::TempDir dir;
    for (const OpenCase &c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<std::string> args = c.args;
        args.insert(args.end(), {"--duration", "2"});
        const mkrec::Recording rec = mkrec::make(dir, c.file, args);
        ASSERT_TRUE(rec.ok()) << rec.output;

        Player p;
        p.d().openFileDirectly(QString::fromStdString(rec.path));
        EXPECT_TRUE(p.d().isPlaybackNow());
        EXPECT_EQ(p.d().playerState(), 0);
        EXPECT_EQ(p.d().window()->height(), 540);
        EXPECT_EQ(p.d().window()->windowTitle(), QString(c.file));
        EXPECT_EQ(p.d().miscellaneousBtnState(), c.gridKind);
        EXPECT_EQ(p.d().videoPaneCutState(), c.cutState);
        ASSERT_TRUE(p.waitForTiles(c.shown, c.channels)) << "tiles shown: " << p.shownTiles().size();

        // Recorder time and progress, in the labels and on screen.
        const std::set<QString> times = frameTimes(rec.manifest);
        ASSERT_TRUE(
            serveEventsUntil([&] { return p.d().window()->ui.playbackProgressSlider->floatValue() > 0.0f; }));
        EXPECT_EQ(times.count(p.d().window()->ui.serverTimeLabel->text()), 1u)
            << p.d().window()->ui.serverTimeLabel->text().toStdString();
        EXPECT_EQ(p.d().videoPaneLayout()->osdServerTime()->string(),
                  p.d().window()->ui.serverTimeLabel->text());
        for (const auto &[channel, title] : c.titles)
            EXPECT_EQ(p.d().videoPaneLayout()->videoViewTitle()[channel]->string(), title);
        if (c.cutState == 1) {
            // Grid tiles are decoded at the size of one tile.
            EXPECT_GT(p.d().decoderTargetWidth(), 16.0f);
            EXPECT_EQ(p.d().window()->ui.videoModeLabel->isHidden(), true);
        } else {
            EXPECT_FALSE(p.d().window()->ui.videoModeLabel->text().isEmpty());
        }

        // The end of the file: progress at 100, the stop picture.
        ASSERT_TRUE(serveEventsUntil([&] { return !p.d().isPlaybackNow(); }, 8000));
        serveEventsUntil([&] { return p.d().window()->ui.playbackProgressSlider->floatValue() == 100.0f; },
                         2000);
        EXPECT_EQ(p.d().window()->ui.playbackProgressSlider->floatValue(), 100.0f);
        EXPECT_EQ(p.d().videoPaneLayout()->osdPercentage()->string(), QString("100%"));
        EXPECT_EQ(p.d().window()->ui.playbackStatusImageView->pixmap().cacheKey(),
                  p.d().statusImages().image(transport::StatusImage::Stop).cacheKey());

        // Every shown tile holds the engine's last picture of its channel, its very pixels.
        p.d().resetPlaybackHandle();
        serveEvents();
        for (int channel : c.channels) {
            SCOPED_TRACE(channel);
            const QImage delivered = p.d().engineSide()->lastDeliveredPicture(channel);
            const QImage &shown = p.d().videoPaneLayout()->videoView()[channel]->contents();
            ASSERT_FALSE(delivered.isNull());
            EXPECT_EQ(shown, delivered);
            EXPECT_EQ(shown.constBits(), delivered.constBits()) << "the picture was copied on its way";
        }
        EXPECT_GE(p.d().engineSide()->picturesDelivered(), p.d().engineSide()->picturesShown());
        EXPECT_TRUE(p.noEngineThread());
    }
}

// Choosing each grid, paging, a tile to single view and back, on-screen text and deinterlacing.
TEST(WatchRecording, GridsPagingSingleViewOnScreenTextAndDeinterlace) {
    mkrec::TempDir dir;
    const mkrec::Recording rec = mkrec::make(dir, "ten.dv5",
                                             {"--kind", "dv5-nvr", "--video-mask", "0x3ff", "--fields",
                                              "stacked", "--duration", "14", "--fps", "10"});
    ASSERT_TRUE(rec.ok()) << rec.output;
    Player p;
    VistrelAppDelegate &d = p.d();
    d.openFileDirectly(QString::fromStdString(rec.path));
    ASSERT_TRUE(p.waitForTiles(range(0, 11), range(0, 9)));
    EXPECT_EQ(d.miscellaneousBtnState(), 4);
    serveEvents();
    EXPECT_EQ(d.window()->ui.videoChannelSwitchBtn->currentIndex(), 3);

    QComboBox *grid = d.window()->ui.videoChannelSwitchBtn;
    // The 4-grid pages 0, 4, 6 (the last page ends at channel 10) and back to 0.
    const std::vector<std::pair<int, ChannelSet>> steps = {
        {0, range(0, 3)}, {0, range(4, 7)}, {0, range(6, 9)},  {0, range(0, 3)},
        {1, range(0, 5)}, {2, range(0, 8)}, {3, range(0, 11)}, {4, range(0, 15)},
    };
    for (const auto &[item, tiles] : steps) {
        SCOPED_TRACE(item);
        emit grid->activated(item);
        ChannelSet withPictures;
        for (int c : tiles)
            if (c < 10) withPictures.insert(c);
        ASSERT_TRUE(p.waitForTiles(tiles, withPictures)) << p.shownTiles().size();
        EXPECT_EQ(d.videoPaneCutState(), 1);
    }
    const QRect cell = d.videoPaneLayout()->videoView()[0]->geometry();
    EXPECT_NEAR(d.decoderTargetWidth(), cell.width(), 1.0);
    EXPECT_NEAR(d.decoderTargetHeight(), cell.height(), 1.0);

    // A click on channel 4's tile: its single view, only its frames decoded.
    QTest::mouseClick(d.videoPaneLayout()->videoView()[3], Qt::LeftButton);
    ASSERT_TRUE(p.waitForTiles({3}, {3}));
    EXPECT_EQ(d.iCurrentSelectedVideoCH(), 4);
    EXPECT_TRUE(d.checkNeedDecodeForMultiCHs(3));
    EXPECT_FALSE(d.checkNeedDecodeForMultiCHs(2));
    ASSERT_TRUE(
        serveEventsUntil([&] { return d.videoPaneLayout()->videoView()[3]->width() > 2 * cell.width(); }));
    EXPECT_FALSE(d.videoPaneLayout()->osdVideoMode()->isHidden()) << "the picture mode shows in single view";
    ASSERT_TRUE(serveEventsUntil([&] { return !d.window()->ui.videoModeLabel->text().isEmpty(); }));
    EXPECT_EQ(d.window()->ui.videoModeLabel->text(), QString("QCIF"));
    // A click on a channel the file lacks does nothing; back to the grid with a click.
    QTest::mouseClick(d.videoPaneLayout()->videoView()[3], Qt::LeftButton);
    ASSERT_TRUE(p.waitForTiles(range(0, 15), range(0, 9)));
    QTest::mouseClick(d.videoPaneLayout()->videoView()[12], Qt::LeftButton);
    serveEvents();
    EXPECT_EQ(d.videoPaneCutState(), 1);

    // On-screen text off and on; the picture mode stays hidden in a grid.
    ASSERT_TRUE(d.window()->ui.osdEnableBtn->isChecked());
    QTest::mouseClick(d.window()->ui.osdEnableBtn, Qt::LeftButton);
    EXPECT_TRUE(d.videoPaneLayout()->osdServerTime()->isHidden());
    EXPECT_TRUE(d.videoPaneLayout()->osdPercentage()->isHidden());
    EXPECT_TRUE(d.videoPaneLayout()->videoViewTitle()[0]->isHidden());
    QTest::mouseClick(d.window()->ui.osdEnableBtn, Qt::LeftButton);
    EXPECT_FALSE(d.videoPaneLayout()->osdServerTime()->isHidden());
    EXPECT_FALSE(d.videoPaneLayout()->osdPercentage()->isHidden());
    EXPECT_FALSE(d.videoPaneLayout()->videoViewTitle()[0]->isHidden());
    EXPECT_TRUE(d.videoPaneLayout()->osdVideoMode()->isHidden());

    // Field-coded pictures enable the deinterlace switch; it turns the engines' flag on and off.
    ASSERT_TRUE(serveEventsUntil([&] { return d.window()->ui.deinterlaceEnableBtn->isEnabled(); }));
    QTest::mouseClick(d.window()->ui.deinterlaceEnableBtn, Qt::LeftButton);
    EXPECT_TRUE(d.videoDeinterlaceFlag());
    EXPECT_FALSE(d.window()->ui.deinterlaceStatusImageView->isHidden());
    QTest::mouseClick(d.window()->ui.deinterlaceEnableBtn, Qt::LeftButton);
    EXPECT_FALSE(d.videoDeinterlaceFlag());
    EXPECT_TRUE(d.window()->ui.deinterlaceStatusImageView->isHidden());

    // Resizing the window relays the pane at the next picture.
    d.window()->resize(900, 600);
    ASSERT_TRUE(serveEventsUntil(
        [&] { return d.videoPaneLayout()->videoView()[0]->geometry().width() > cell.width(); }));

    // Full screen on the 4-grid: the pane alone fills the window, and back. Once its control
    // panel has hidden, a pointer move over a tile brings it back.
    emit grid->activated(0);
    ASSERT_TRUE(p.waitForTiles(range(0, 3), range(0, 3)));
    const QRect paneBefore = d.window()->ui.videoPane->geometry();
    QTest::mouseClick(d.window()->ui.fullScreenBtn, Qt::LeftButton);
    EXPECT_TRUE(d.isInFullScreenMode());
    EXPECT_TRUE(d.window()->isFullScreen());
    EXPECT_TRUE(d.window()->ui.controlRow->isHidden());
    EXPECT_FALSE(d.window()->ui.fullScreenControlPanel->isHidden());
    for (int tick = 0; tick < 3; ++tick)
        d.videoPaneLayout()->viewCounter();
    ASSERT_TRUE(d.window()->ui.fullScreenControlPanel->isHidden());
    CustomizedVideoView *tile = d.videoPaneLayout()->videoView()[1];
    QTest::mouseMove(tile, tile->rect().center());
    EXPECT_FALSE(d.window()->ui.fullScreenControlPanel->isHidden()) << "a move over a tile shows it";
    // Moves over the panel and its controls keep it shown; at rest it hides.
    QWidget *panel = d.window()->ui.fullScreenControlPanel;
    const std::vector<QWidget *> over = {panel, d.window()->ui.fullScreenPlaybackProgressSlider,
                                         d.window()->ui.fullScreenPauseBtn};
    for (int tick = 0; tick < 5; ++tick) {
        QTest::mouseMove(over[tick % 3], over[tick % 3]->rect().center() + QPoint(tick, 0));
        d.videoPaneLayout()->viewCounter();
        ASSERT_FALSE(panel->isHidden()) << "a move over the panel " << tick;
    }
    for (int tick = 0; tick < 3; ++tick)
        d.videoPaneLayout()->viewCounter();
    EXPECT_TRUE(panel->isHidden());
    QTest::mouseClick(d.window()->ui.exitFullScreenBtn, Qt::LeftButton);
    EXPECT_FALSE(d.isInFullScreenMode());
    EXPECT_FALSE(d.window()->isFullScreen());
    EXPECT_TRUE(d.window()->ui.fullScreenControlPanel->isHidden());
    ASSERT_TRUE(serveEventsUntil([&] { return d.window()->ui.videoPane->geometry() == paneBefore; }));

    // Deinterlacing left on does not carry over to the next file, nor to one that cannot play.
    for (const std::string &next : {rec.path, dir.file("missing.dv5")}) {
        ASSERT_TRUE(serveEventsUntil([&] { return d.window()->ui.deinterlaceEnableBtn->isEnabled(); }, 8000));
        QTest::mouseClick(d.window()->ui.deinterlaceEnableBtn, Qt::LeftButton);
        ASSERT_TRUE(d.videoDeinterlaceFlag());
        d.openFileDirectly(QString::fromStdString(next));
        ASSERT_TRUE(serveEventsUntil([&] { return !d.videoDeinterlaceFlag(); }, 3000));
        EXPECT_FALSE(d.window()->ui.deinterlaceEnableBtn->isChecked());
        EXPECT_TRUE(d.window()->ui.deinterlaceStatusImageView->isHidden());
        EXPECT_TRUE(d.window()->ui.fullScreenDeinterlaceStatusImageView->isHidden());
    }
}

// A window that keeps its size in full screen (a window manager that ignores the request) gains
// only the two rows' room: the tiles are fitted to that pane, with no picture to come.
TEST(WatchRecording, FullScreenRefitsTilesWhenOnlyThePaneChangesSize) {
    mkrec::TempDir dir;
    const mkrec::Recording rec = mkrec::make(dir, "four.dv5", {"--kind", "dv5-nvr", "--video-mask", "0xf"});
    ASSERT_TRUE(rec.ok()) << rec.output;
    Player p;
    VistrelAppDelegate &d = p.d();
    QWidget &pane = *d.window()->ui.videoPane;
    // The tiles are centred in the pane and span its height or its width.
    const auto tilesFitPane = [&] {
        QRect tiles;
        for (CustomizedVideoView *tile : d.videoPaneLayout()->videoView())
            if (!tile->isHidden()) tiles |= tile->geometry();
        const QPoint off = tiles.center() - pane.rect().center();
        return std::abs(off.x()) <= 2 && std::abs(off.y()) <= 2 &&
               (std::abs(tiles.height() - pane.height()) <= 2 || std::abs(tiles.width() - pane.width()) <= 2);
    };
    d.openFileDirectly(QString::fromStdString(rec.path));
    ASSERT_TRUE(p.waitForTiles(range(0, 3), range(0, 3)));
    const QRect screen = d.window()->screen()->geometry();
    d.window()->setGeometry(screen);
    // Played to its end: no picture will ask for another layout.
    ASSERT_TRUE(serveEventsUntil(
        [&] { return !d.isPlaybackNow() && d.window()->geometry() == screen && tilesFitPane(); }, 20000));
    const int before = pane.height();
    d.enterFullScreen();
    ASSERT_TRUE(d.isInFullScreenMode());
    EXPECT_TRUE(serveEventsUntil([&] { return pane.height() > before && tilesFitPane(); }))
        << "pane " << pane.height() << ", tile " << d.videoPaneLayout()->videoView()[0]->geometry().bottom();
    d.exitFullScreen();
    EXPECT_TRUE(serveEventsUntil([&] { return pane.height() == before && tilesFitPane(); }));
}

TEST(OpenRecording, FilesThatCannotBePlayedSayUnsupportedFormat) {
    mkrec::TempDir dir;
    const mkrec::Recording good = mkrec::make(dir, "good.avc", {"--kind", "avc"});
    ASSERT_TRUE(good.ok()) << good.output;
    std::vector<uint8_t> bytes = mkrec::readFile(good.path);
    auto write = [&](const std::string &name, const std::vector<uint8_t> &content) {
        std::ofstream(dir.file(name), std::ios::binary)
            .write(reinterpret_cast<const char *>(content.data()),
                   static_cast<std::streamsize>(content.size()));
        return dir.file(name);
    };
    const std::string text = "Minutes of the meeting\nnothing recorded here\n";
    std::vector<uint8_t> damaged = bytes;
    for (size_t i = 0; i < 64 && i < damaged.size(); ++i)
        damaged[i] ^= 0xA5;
    ASSERT_EQ(mkdir(dir.file("folder.dv5").c_str(), 0755), 0);
    ASSERT_EQ(mkfifo(dir.file("pipe.dv4").c_str(), 0644), 0);
    const std::vector<std::string> paths = {
        write("notes.avc", std::vector<uint8_t>(text.begin(), text.end())),
        write("damaged.avc", damaged),
        write("short.avc", std::vector<uint8_t>(bytes.begin(), bytes.begin() + 40)),
        write("empty.AVC", {}),
        dir.file("folder.dv5"),
        dir.file("pipe.dv4"),
        write("noextension", bytes),
        write("clip.mp4", bytes),
        dir.file("missing.dv5"),
    };
    Player p;
    for (const std::string &path : paths) {
        SCOPED_TRACE(path);
        // A good file first, so that the failure has something to stop.
        p.d().openFileDirectly(QString::fromStdString(good.path));
        ASSERT_TRUE(p.waitForTiles({0}, {0}));
        p.d().openFileDirectly(QString::fromStdString(path));
        EXPECT_TRUE(p.noEngineThread());
        ASSERT_TRUE(serveEventsUntil(
            [&] { return p.d().window()->ui.serverTimeLabel->text() == "Unsupported format!"; }, 3000));
        EXPECT_EQ(p.d().window()->ui.playbackStatusImageView->pixmap().cacheKey(),
                  p.d().statusImages().image(transport::StatusImage::Stop).cacheKey());
        EXPECT_EQ(p.d().window()->size(), p.d().window()->minimumSize());
        EXPECT_TRUE(p.d().playbackIsActivated()) << "an earlier good file keeps the transport active";
    }
}

// Another file while one plays: nothing of the first is left, neither a thread nor a picture.
TEST(OpenRecording, SecondFileStopsTheFirstCompletely) {
    mkrec::TempDir dir;
    const mkrec::Recording dv5 =
        mkrec::make(dir, "four.dv5", {"--kind", "dv5-nvr", "--video-mask", "0xf", "--duration", "6"});
    const mkrec::Recording avc = mkrec::make(dir, "one.avc", {"--kind", "avc", "--duration", "6"});
    ASSERT_TRUE(dv5.ok() && avc.ok()) << dv5.output << avc.output;
    Player p;
    VistrelAppDelegate &d = p.d();
    d.openFileDirectly(QString::fromStdString(dv5.path));
    ASSERT_TRUE(p.waitForTiles(range(0, 3), range(0, 3)));

    d.openFileDirectly(QString::fromStdString(avc.path));
    DVFormatPlayback *dv = d.handleDVFmtPlayback();
    EXPECT_FALSE(dv->isDVFmtParserThreadExecuting());
    EXPECT_FALSE(dv->isDVFmtAudioPlaybackThreadExecuting());
    for (int c = 0; c < 16; ++c)
        EXPECT_FALSE(dv->isDVFmtVideoPlaybackThreadExecuting(c)) << c;
    ASSERT_TRUE(p.waitForTiles({0}, {0}));
    for (int c = 1; c < 4; ++c)
        EXPECT_TRUE(d.videoPaneLayout()->videoView()[c]->contents().isNull())
            << "channel " << c << " of the first file";

    d.openFileDirectly(QString::fromStdString(dv5.path));
    AVCFormatPlayback *avcEngine = d.handleAVCFmtPlayback();
    EXPECT_EQ(avcEngine->fdAVCFile(), 0);
    EXPECT_FALSE(avcEngine->isAVCFmtAudioPlaybackThreadExecuting());
    for (int c = 0; c < 16; ++c)
        EXPECT_FALSE(avcEngine->isAVCFmtVideoPlaybackThreadExecuting(c)) << c;
    ASSERT_TRUE(p.waitForTiles(range(0, 3), range(0, 3)));
}

// What the engines hand over, at its edges: channels past 16, progress that is not a number,
// titles that fill their slot or are not UTF-8, and pictures while a click changes the layout.
TEST(EngineCallbacks, ValuesAtTheirEdgesAreContained) {
    Player p;
    VistrelAppDelegate &d = p.d();
    EngineSide &engines = *d.engineSide();
    const _SYSTEMTIME time{};
    d.setVideoPaneCutState(1);
    d.setICurrentSelectedVideoCH(1);
    engines.videoUpdateTaskWithChannel(16, std::make_shared<FlatPicture>(8, 8, 0x40), nullptr, 0, true, 0,
                                       time);
    engines.videoUpdateTaskWithChannel(0, std::make_shared<FlatPicture>(8, 8, 0x80), nullptr, 0, true, 0,
                                       time);
    serveEvents();
    EXPECT_EQ(engines.picturesDelivered(), 1u) << "channel 17 is no channel";
    EXPECT_EQ(d.videoPaneLayout()->videoView()[0]->contents().pixelColor(0, 0).red(), 0x80);

    // The first picture after a click that switched the cut relays the pane, and a tile still
    // shown takes it: a paused seek's may be the only one to come.
    d.setViewCutChangedAndResetDecoder(true);
    engines.videoUpdateTaskWithChannel(0, std::make_shared<FlatPicture>(8, 8, 0xC0), nullptr, 0, true, 0,
                                       time);
    serveEvents();
    EXPECT_FALSE(d.viewCutChangedAndResetDecoder());
    EXPECT_EQ(d.videoPaneLayout()->videoView()[0]->contents().pixelColor(0, 0).red(), 0xC0);
    engines.videoUpdateTaskWithChannel(0, std::make_shared<FlatPicture>(8, 8, 0xE0), nullptr, 0, true, 0,
                                       time);
    serveEvents();
    EXPECT_EQ(d.videoPaneLayout()->videoView()[0]->contents().pixelColor(0, 0).red(), 0xE0);

    for (float bad : {std::nanf(""), std::numeric_limits<float>::infinity()}) {
        d.upadatePlaybackProgress(37.9f);
        EXPECT_EQ(d.videoPaneLayout()->osdPercentage()->string(), QString("37%"));
        d.upadatePlaybackProgress(bad);
        EXPECT_EQ(d.videoPaneLayout()->osdPercentage()->string(), QString("0%"));
        EXPECT_EQ(d.window()->ui.playbackProgressSlider->floatValue(), 0.0f);
    }

    std::vector<char> titles(16 * 64, 0);
    std::fill(titles.begin(), titles.begin() + 64, 'A'); // a full slot, no terminator
    std::memcpy(&titles[64], "Hof \xc3\xbc", 7);         // UTF-8
    std::memcpy(&titles[128], "\xff\xfe bad", 6);        // not UTF-8
    std::thread parser([&] { engines.setDevChannelTitle(titles.data()); });
    parser.join();
    serveEvents();
    EXPECT_EQ(d.videoPaneLayout()->videoViewTitle()[0]->string(), QString(64, QChar('A')));
    EXPECT_EQ(d.videoPaneLayout()->videoViewTitle()[1]->string(), QString::fromUtf8("Hof \xc3\xbc"));
    EXPECT_TRUE(d.videoPaneLayout()->videoViewTitle()[2]->string().isEmpty());
    EXPECT_EQ(d.videoPaneLayout()->videoViewTitle()[3]->string(), QString())
        << "an empty slot keeps the title it had";
    d.setDevChannelTitle(nullptr);
    serveEvents();
    EXPECT_EQ(d.videoPaneLayout()->videoViewTitle()[2]->string(), QString("CH3"));
    EXPECT_EQ(d.videoPaneLayout()->videoViewTitle()[15]->string(), QString("CH16"));

    // An end the engines come to while they are being stopped is no end of the file.
    d.setPlayerState(kPlayerStatePlaying);
    d.setIsPlaybackNow(true);
    engines.stopEngines();
    std::thread ending([&] {
        engines.setDVFmtProcessingInfoAtEndOfProcessing();
        engines.setAVCFmtProcessingInfoAtEndOfProcessing();
    });
    ending.join();
    serveEvents();
    EXPECT_TRUE(d.isPlaybackNow());
}

// The process's threads, without the toolkit's pool of image workers (they idle for a while
// after drawing and are not the player's).
std::vector<std::string> threadNames() {
    std::vector<std::string> names;
    QDir tasks("/proc/self/task");
    for (const QString &task : tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        std::ifstream comm(("/proc/self/task/" + task + "/comm").toStdString());
        std::string name;
        std::getline(comm, name);
        if (name.find("pooled") == std::string::npos) names.push_back(name);
    }
    return names;
}

int threadCount() {
    return static_cast<int>(threadNames().size());
}

std::string joined(const std::vector<std::string> &names) {
    std::string all;
    for (const std::string &n : names)
        all += n + " ";
    return all;
}

TEST(OpenRecording, QuittingWhilePlayingLeavesNoThread) {
    mkrec::TempDir dir;
    const mkrec::Recording rec =
        mkrec::make(dir, "all.dv5", {"--kind", "dv5-nvr", "--video-mask", "0xffff", "--duration", "6"});
    ASSERT_TRUE(rec.ok()) << rec.output;
    // The threads the toolkit keeps once a window has been shown are there before the count.
    { Player warmUp; }
    serveEvents();
    const int before = threadCount();
    {
        Player p;
        p.d().openFileDirectly(QString::fromStdString(rec.path));
        ASSERT_TRUE(p.waitForTiles(range(0, 15), range(0, 15)));
        EXPECT_GT(threadCount(), before + 16);
    }
    serveEvents();
    EXPECT_EQ(VistrelAppDelegate::GetAppDelg(), nullptr);
    EXPECT_TRUE(serveEventsUntil([&] { return threadCount() <= before; }, 3000)) << joined(threadNames());
}

// The open panel, then previous and next through a folder of three recorder files among others.
TEST(OpenRecording, OpenPanelAndFolderStepping) {
    mkrec::TempDir dir;
    const std::vector<std::pair<std::string, std::string>> files = {
        {"one.AVC", "avc"}, {"two%41.dv4", "dv4-h264"}, {"three.Dv5", "dv5-nvr"}};
    for (const auto &[name, kind] : files) {
        const mkrec::Recording rec = mkrec::make(dir, name, {"--kind", kind, "--duration", "6"});
        ASSERT_TRUE(rec.ok()) << rec.output;
        std::remove(rec.manifestPath.c_str());
        std::remove((rec.path + ".log").c_str());
        std::remove(rec.expectedIdxPath.c_str());
    }
    std::ofstream(dir.file("notes.txt")) << "not a recording\n";
    Player p;
    VistrelAppDelegate &d = p.d();
    QTest::mouseClick(d.window()->ui.openFileBtn, Qt::LeftButton);
    QFileDialog *panel = d.fileIntake()->openPanel();
    ASSERT_NE(panel, nullptr);
    EXPECT_EQ(panel->fileMode(), QFileDialog::ExistingFile);
    EXPECT_TRUE(d.absoluteFilePathString().isEmpty()) << "the panel does not block";
    // The name holds a percent sign: the panel's path is taken as it stands, never decoded again.
    const QString first = QString::fromStdString(dir.file("two%41.dv4"));
    panel->selectFile(first);
    QMetaObject::invokeMethod(panel, "accept");
    serveEvents();
    ASSERT_EQ(d.absoluteFilePathString(), first);
    EXPECT_TRUE(d.isPlaybackNow());

    // Next three times visits each recorder file once and comes back; previous goes the other way.
    std::vector<QString> forward, backward;
    for (int i = 0; i < 3; ++i) {
        QTest::mouseClick(d.window()->ui.nextFileSelectionBtn, Qt::LeftButton);
        forward.push_back(d.openFile().fileNameWithExtension());
        EXPECT_TRUE(d.isPlaybackNow()) << d.openFile().fileNameWithExtension().toStdString();
    }
    EXPECT_EQ(forward.back(), QString("two%41.dv4"));
    EXPECT_EQ(std::set<QString>(forward.begin(), forward.end()),
              (std::set<QString>{"one.AVC", "two%41.dv4", "three.Dv5"}));
    for (int i = 0; i < 3; ++i) {
        QTest::mouseClick(d.window()->ui.prevFileSelectionBtn, Qt::LeftButton);
        backward.push_back(d.openFile().fileNameWithExtension());
    }
    EXPECT_EQ(backward, (std::vector<QString>{forward[1], forward[0], forward[2]}));
    // The file stepped to plays.
    ASSERT_TRUE(p.waitForTiles({0}, {0}));
}

// Files with nothing to show, each reached with Next from an AVC file that plays: junk named as
// a DV file ends as any unusable file does, with nothing of the AVC file left on screen and no
// raw header bytes in the log; a DV5 header that names no video channel shows channel 1.
TEST(OpenRecording, FilesWithNothingToShow) {
    const struct {
        const char *name, *file;
        bool shows;
    } cases[] = {
        {"junk named DV5", "junk.dv5", false},
        {"junk named DV4", "junk.DV4", false},
        {"DV5 video mask 0", "nomask.dv5", true},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        mkrec::TempDir dir;
        const mkrec::Recording avc = mkrec::make(
            dir, "before.avc", {"--kind", "avc", "--duration", "6", "--start", "2023-05-06T07:08:09"});
        const mkrec::Recording dv5 = mkrec::make(dir, "dv5", {"--kind", "dv5-nvr", "--duration", "6"});
        ASSERT_TRUE(avc.ok() && dv5.ok()) << avc.output << dv5.output;
        std::vector<uint8_t> bytes(200 * 1024);
        std::mt19937 random(35);
        for (uint8_t &b : bytes)
            b = static_cast<uint8_t>(random());
        if (c.shows) {
            bytes = mkrec::readFile(dv5.path);
            std::fill_n(bytes.begin() + 416, 4, 0); // the header's video mask
        }
        std::ofstream(dir.file(c.file), std::ios::binary)
            .write(reinterpret_cast<const char *>(bytes.data()), static_cast<std::streamsize>(bytes.size()));

        LogCapture log;
        Player p;
        VistrelAppDelegate &d = p.d();
        OsdTextLayer *osdTime = d.videoPaneLayout()->osdServerTime();
        QLabel *timeLabel = d.window()->ui.serverTimeLabel;
        d.openFileDirectly(QString::fromStdString(avc.path));
        ASSERT_TRUE(
            serveEventsUntil([&] { return p.tilesHavePictures({0}) && !osdTime->string().isEmpty(); }));
        // From Next on, no time of the AVC file may come back.
        const std::set<QString> avcTimes = frameTimes(avc.manifest);
        bool avcTimeShown = false;
        const auto until = [&](const std::function<bool()> &done, int timeoutMs) {
            return serveEventsUntil(
                [&] {
                    avcTimeShown = avcTimeShown || avcTimes.count(osdTime->string()) != 0 ||
                                   avcTimes.count(timeLabel->text()) != 0;
                    return done();
                },
                timeoutMs);
        };
        QTest::mouseClick(d.window()->ui.nextFileSelectionBtn, Qt::LeftButton);
        ASSERT_EQ(d.openFile().fileNameWithExtension(), QString(c.file));
        if (c.shows) {
            const std::set<QString> times = frameTimes(dv5.manifest);
            EXPECT_TRUE(until(
                [&] {
                    return p.shownTiles() == ChannelSet{0} && p.tilesHavePictures({0}) &&
                           times.count(osdTime->string()) == 1;
                },
                8000))
                << "tiles shown: " << p.shownTiles().size() << ", time " << osdTime->string().toStdString();
            EXPECT_EQ(d.videoPaneCutState(), 0);
        } else {
            ASSERT_TRUE(until([&] { return timeLabel->text() == "Unsupported format!"; }, 10000))
                << timeLabel->text().toStdString();
            serveEvents();
            EXPECT_EQ(timeLabel->text(), QString("Unsupported format!"));
            EXPECT_TRUE(p.noEngineThread());
            EXPECT_EQ(d.window()->ui.playbackStatusImageView->pixmap().cacheKey(),
                      d.statusImages().image(transport::StatusImage::Stop).cacheKey());
            EXPECT_EQ(d.window()->size(), d.window()->minimumSize());
            for (OsdTextLayer *text :
                 {osdTime, d.videoPaneLayout()->osdVideoMode(), d.videoPaneLayout()->osdPercentage()})
                EXPECT_EQ(text->string().toStdString(), "") << "left on screen";
        }
        EXPECT_FALSE(avcTimeShown) << "a time of the AVC file came after it";
        for (const std::string &line : log.lines()) {
            QStringDecoder utf8(QStringDecoder::Utf8);
            const QString text = utf8(QByteArrayView(line.data(), static_cast<qsizetype>(line.size())));
            EXPECT_FALSE(utf8.hasError() || std::any_of(text.begin(), text.end(),
                                                        [](QChar ch) {
                                                            return ch.category() == QChar::Other_Control &&
                                                                   ch != '\n' && ch != '\t';
                                                        }))
                << "not printable: " << line;
        }
    }
}

} // namespace
