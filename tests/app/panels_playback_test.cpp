// Snapshots and colour controls on recordings that play: the settings chosen in the panel
// survive a restart, a snapshot of the shown channel in each format is the engine's picture
// (PNG pixel for pixel, JPEG read by ffprobe, TIFF with LZW), one press gives one file and
// nothing is overwritten; the colour controls reach every tile while playing and while paused
// and leave the engine's pictures untouched.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QSlider>

#include <chrono>
#include <ctime>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <thread>

#include "app/ColorSettingPanel.h"
#include "app/ConfigSettingPanel.h"
#include "app/VistrelAppDelegate.h"
#include "app/controls/CustomizedVideoView.h"
#include "app/engine_side/engine_side.h"
#include "app/main_window.h"
#include "app/panel_fold.h"
#include "common/mkrec_fixture.h"
#include "engines/engine_controls.h"
#include "launched_player.h"
#include "qt_test_app.h"
#include "snapshot_fixtures.h"

namespace {

// A launched player, its window shown.
struct Player : LaunchedPlayer {
    Player() : LaunchedPlayer(true) {}
    EngineSide &engines() { return *delegate->engineSide(); }

    void pause() { d().window()->ui.pauseActionBtn->click(); }
    void play() { d().window()->ui.playActionBtn->click(); }
    // Waits, without serving the GUI thread, until the engine has delivered nothing for a while.
    bool waitForEngineToHold() {
        uint64_t seen = engines().picturesDelivered();
        auto quietSince = std::chrono::steady_clock::now();
        const auto limit = quietSince + std::chrono::seconds(5);
        while (std::chrono::steady_clock::now() < limit) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            const uint64_t now = engines().picturesDelivered();
            if (now != seen) {
                seen = now;
                quietSince = std::chrono::steady_clock::now();
            } else if (std::chrono::steady_clock::now() - quietSince > std::chrono::milliseconds(400)) {
                return true;
            }
        }
        return false;
    }
    // Waits, without serving the GUI thread, until the engine has delivered `count` pictures.
    bool waitForDelivered(uint64_t count) {
        const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (engines().picturesDelivered() < count && std::chrono::steady_clock::now() < limit)
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        return engines().picturesDelivered() >= count;
    }
    // Pauses and lets every picture already on its way reach its tile.
    bool pauseAndSettle() {
        pause();
        if (!waitForEngineToHold()) return false;
        serveEvents();
        return true;
    }
    // Plays until every listed tile has shown a new picture.
    bool playUntilNewPictures(const std::set<int> &channels) {
        std::map<int, qint64> before;
        for (int c : channels)
            before[c] = d().videoPaneLayout()->videoView()[c]->contents().cacheKey();
        play();
        return serveEventsUntil(
            [&] {
                for (int c : channels) {
                    const QImage &shown = d().videoPaneLayout()->videoView()[c]->contents();
                    if (shown.isNull() || shown.cacheKey() == before[c]) return false;
                }
                return true;
            },
            8000);
    }
};

bool isGrey(const QImage &image) {
    const QImage rgba = image.convertToFormat(QImage::Format_RGBA8888);
    for (int y = 0; y < rgba.height(); ++y) {
        const uchar *p = rgba.constScanLine(y);
        for (int x = 0; x < rgba.width(); ++x, p += 4)
            if (p[0] != p[1] || p[1] != p[2]) return false;
    }
    return true;
}

bool isAll(const QImage &image, int value) {
    const QImage rgba = image.convertToFormat(QImage::Format_RGBA8888);
    for (int y = 0; y < rgba.height(); ++y) {
        const uchar *p = rgba.constScanLine(y);
        for (int x = 0; x < rgba.width(); ++x, p += 4)
            if (p[0] != value || p[1] != value || p[2] != value) return false;
    }
    return true;
}

// The recorder times of the recording's frames as a snapshot name writes them, UTC and local.
std::set<QString> snapshotTimes(const mkrec::Manifest &manifest) {
    return manifestFrameTimes(manifest, "%04d\uFF0F%02d\uFF0F%02d_%02d\uFF1A%02d\uFF1A%02d");
}

TEST(PanelsOnPlayback, SnapshotsOfThePlayingChannelInTheFolderKeptAcrossARestart) {
    mkrec::TempDir dir;
    snapshotfixture::SettingsScope scope(dir.path());
    const mkrec::Recording rec =
        mkrec::make(dir, "gate.dv4", {"--kind", "dv4-h264", "--duration", "8", "--audio-mask", "0"});
    ASSERT_TRUE(rec.ok()) << rec.output;
    const std::string chosen = dir.path() + "/shots";

    // The folder is chosen (without a trailing "/") and the panel closed with its close control.
    {
        Player first;
        first.d().window()->ui.configSettingBtn->click();
        first.d().configSettingPanel()->snapshotFilePathField()->setText(QString::fromStdString(chosen));
        first.d().configSettingPanel()->ui.closeBtn->click();
    }

    Player p;
    EXPECT_EQ(p.d().configSettingPanel()->snapshotFilePathField()->text(), QString::fromStdString(chosen));
    p.d().openFileDirectly(QString::fromStdString(rec.path));
    ASSERT_EQ(p.d().videoPaneCutState(), 0);
    ASSERT_TRUE(p.playUntilNewPictures({0}));
    ASSERT_TRUE(p.d().window()->ui.snapShotBtn->isEnabled());
    const std::string folder = chosen + "/gate";
    const std::set<QString> times = snapshotTimes(rec.manifest);

    struct Shot {
        int type;
        QString name; // pattern of the name
        QImage engine;
        std::string path;
    };
    const QString time = QStringLiteral("(\\d{4}\uFF0F\\d\\d\uFF0F\\d\\d_\\d\\d\uFF1A\\d\\d\uFF1A\\d\\d)");
    std::vector<Shot> shots = {{0, "gate_CH1_" + time + "\\.jpg", {}, {}},
                               {1, "PlaybackTime_" + time + "\\.png", {}, {}},
                               {2, "PlaybackTime_" + time + "\\.tiff", {}, {}},
                               {1, "PlaybackTime_" + time + "(_2)?\\.png", {}, {}}};
    std::set<std::string> files;
    for (Shot &shot : shots) {
        SCOPED_TRACE(shot.type);
        if (&shot == &shots.back()) {
            // The snapshot is the picture before the colour controls.
            p.d().window()->ui.colorAdjustBtn->click();
            p.d().colorSettingPanel()->ui.saturationSlider->setValue(0);
        }
        ASSERT_TRUE(p.playUntilNewPictures({0}));
        p.d().configSettingPanel()->snapshotFileTypeBtn()->setCurrentIndex(shot.type);
        // Two presses while pictures arrive, then a pause: the snapshot is the last picture the
        // engine made before it held.
        const uint64_t atPress = p.engines().picturesDelivered();
        p.d().window()->ui.snapShotBtn->click();
        p.d().window()->ui.snapShotBtn->click();
        ASSERT_TRUE(p.waitForDelivered(atPress + 2));
        p.pause();
        ASSERT_TRUE(p.waitForEngineToHold());
        shot.engine = p.engines().lastDeliveredPicture(0).copy();
        ASSERT_TRUE(
            serveEventsUntil([&] { return snapshotfixture::listFolder(folder).size() == files.size() + 1; }));
        for (const std::string &name : snapshotfixture::listFolder(folder))
            if (!files.count(name)) shot.path = folder + "/" + name;
        files = snapshotfixture::listFolder(folder);

        const QString name =
            QFile::decodeName(QByteArray::fromStdString(shot.path.substr(folder.size() + 1)));
        const QRegularExpressionMatch match = QRegularExpression("^" + shot.name + "$").match(name);
        ASSERT_TRUE(match.hasMatch()) << shot.path;
        EXPECT_EQ(times.count(match.captured(1)), 1u) << shot.path;
        const QImage written(QFile::decodeName(QByteArray::fromStdString(shot.path)));
        ASSERT_EQ(written.size(), shot.engine.size());
        EXPECT_LT(snapshotfixture::meanDifference(written, shot.engine), shot.type == 0 ? 8.0 : 1e-9)
            << shot.path;
    }
    // One press, one file: playing on writes nothing more.
    ASSERT_TRUE(p.playUntilNewPictures({0}));
    EXPECT_TRUE(isGrey(p.d().videoPaneLayout()->videoView()[0]->contents()));
    EXPECT_EQ(snapshotfixture::listFolder(folder), files);
    EXPECT_EQ(files.size(), 4u);
    EXPECT_NE(shots[1].path, shots[3].path);
    // The first PNG is still the picture it was taken from.
    EXPECT_EQ(snapshotfixture::meanDifference(QImage(QString::fromStdString(shots[1].path)), shots[1].engine),
              0.0);
    EXPECT_EQ(snapshotfixture::tiffCompression(shots[2].path), 5);

    std::string out;
    const std::string probe =
        "ffprobe -v error -select_streams v:0 -show_entries stream=codec_name,width,height "
        "-of csv=p=0 '" +
        shots[0].path + "'";
    EXPECT_EQ(testutil::runCommand(probe, &out), 0) << probe;
    EXPECT_EQ(out, "mjpeg,176,144\n") << probe;
}

// Paused, at the end or stopped on the frame that matters: a press writes the picture on screen
// at once, as the engine made it, and Play writes nothing more.
TEST(PanelsOnPlayback, SnapshotWhileNoPictureComesIsThePictureOnScreen) {
    enum class Hold { Pause, End, Stop };
    for (const auto &[hold, file] : {std::pair(Hold::Pause, "held.dv5"), std::pair(Hold::Pause, "held.avc"),
                                     std::pair(Hold::End, "held.dv5"), std::pair(Hold::End, "held.avc"),
                                     std::pair(Hold::Stop, "held.dv5"), std::pair(Hold::Stop, "held.avc")}) {
        SCOPED_TRACE(std::string(file) + " held " + std::to_string(static_cast<int>(hold)));
        mkrec::TempDir dir;
        snapshotfixture::SettingsScope scope(dir.path());
        const mkrec::Recording rec =
            mkrec::make(dir, file,
                        {"--kind", file[5] == 'a' ? "avc" : "dv5-nvr", "--video-mask", "0x1", "--duration",
                         "3", "--audio-mask", "0"});
        ASSERT_TRUE(rec.ok()) << rec.output;
        Player p;
        p.d().configSettingPanel()->snapshotFilePathField()->setText(
            QString::fromStdString(dir.file("shots")));
        p.d().configSettingPanel()->snapshotFileTypeBtn()->setCurrentIndex(1); // PNG: compared exactly
        p.d().openFileDirectly(QString::fromStdString(rec.path));
        ASSERT_TRUE(p.playUntilNewPictures({0}));
        if (hold == Hold::Pause) {
            ASSERT_TRUE(p.pauseAndSettle());
        } else {
            if (hold == Hold::Stop) p.d().window()->ui.stopBtn->click();
            ASSERT_TRUE(serveEventsUntil([&] { return !p.d().isPlaybackNow(); }, 10000));
            ASSERT_TRUE(p.waitForEngineToHold());
            serveEvents();
        }
        const QImage onTile = p.d().videoPaneLayout()->videoView()[0]->contents();
        const std::string folder = dir.file("shots/held");
        p.d().window()->ui.snapShotBtn->click();
        ASSERT_TRUE(serveEventsUntil([&] { return snapshotfixture::listFolder(folder).size() == 1; }, 2000));
        EXPECT_FALSE(p.d().isPlaybackNow()) << "still held";
        const std::string written = folder + "/" + *snapshotfixture::listFolder(folder).begin();
        EXPECT_EQ(snapshotfixture::meanDifference(QImage(QString::fromStdString(written)), onTile), 0.0);
        ASSERT_TRUE(p.playUntilNewPictures({0}));
        ASSERT_TRUE(p.playUntilNewPictures({0}));
        EXPECT_EQ(snapshotfixture::listFolder(folder).size(), 1u) << "Play wrote another";
    }
}

TEST(PanelsOnPlayback, ColourControlsOnEveryTileWhilePlayingAndPaused) {
    mkrec::TempDir dir;
    snapshotfixture::SettingsScope scope(dir.path());
    const mkrec::Recording rec =
        mkrec::make(dir, "yard.dv5",
                    {"--kind", "dv5-nvr", "--video-mask", "0xf", "--audio-mask", "0", "--duration", "8"});
    ASSERT_TRUE(rec.ok()) << rec.output;
    const std::set<int> tiles = {0, 1, 2, 3};

    Player p;
    p.d().openFileDirectly(QString::fromStdString(rec.path));
    ASSERT_EQ(p.d().videoPaneCutState(), 1);
    ASSERT_TRUE(p.playUntilNewPictures(tiles));

    // Starting values: the tiles show the engine's own pictures.
    ASSERT_TRUE(p.pauseAndSettle());
    std::map<int, QImage> engine;
    for (int c : tiles) {
        engine[c] = p.engines().lastDeliveredPicture(c).copy();
        EXPECT_EQ(p.d().videoPaneLayout()->videoView()[c]->contents().constBits(),
                  p.engines().lastDeliveredPicture(c).constBits())
            << c;
        EXPECT_FALSE(isGrey(engine[c])) << c;
    }

    // Paused with the panel open: moving a control recolours every still tile at once.
    p.d().window()->ui.colorAdjustBtn->click();
    ColorSettingPanel &panel = *p.d().colorSettingPanel();
    ASSERT_TRUE(panel.isVisible());
    panel.ui.saturationSlider->setValue(0);
    for (int c : tiles) {
        EXPECT_TRUE(isGrey(p.d().videoPaneLayout()->videoView()[c]->contents())) << c;
        EXPECT_EQ(snapshotfixture::meanDifference(p.engines().lastDeliveredPicture(c), engine[c]), 0.0)
            << "the engine's picture was written, channel " << c;
    }
    panel.ui.brightnessSlider->setValue(100);
    for (int c : tiles)
        EXPECT_TRUE(isAll(p.d().videoPaneLayout()->videoView()[c]->contents(), 255)) << c;

    // Playing: every new picture on every tile gets the controls; the engine's stay coloured.
    panel.ui.brightnessSlider->setValue(0);
    ASSERT_TRUE(p.playUntilNewPictures(tiles));
    ASSERT_TRUE(p.pauseAndSettle());
    for (int c : tiles) {
        EXPECT_TRUE(isGrey(p.d().videoPaneLayout()->videoView()[c]->contents())) << c;
        EXPECT_FALSE(isGrey(p.engines().lastDeliveredPicture(c))) << c;
    }

    // Closed, the tiles keep the values on new pictures.
    panel.ui.closeBtn->click();
    ASSERT_FALSE(panel.colorSettingPanelOpenedNow());
    ASSERT_TRUE(p.playUntilNewPictures(tiles));
    ASSERT_TRUE(p.pauseAndSettle());
    for (int c : tiles)
        EXPECT_TRUE(isGrey(p.d().videoPaneLayout()->videoView()[c]->contents())) << c;

    // Moved while closed: the still tiles change only as the panel opens again.
    panel.ui.brightnessSlider->setValue(100);
    for (int c : tiles)
        EXPECT_FALSE(isAll(p.d().videoPaneLayout()->videoView()[c]->contents(), 255)) << c;
    p.d().window()->ui.colorAdjustBtn->click();
    for (int c : tiles)
        EXPECT_TRUE(isAll(p.d().videoPaneLayout()->videoView()[c]->contents(), 255)) << c;

    // Reset while paused: the tiles show the engine's pictures again, and go on doing so.
    panel.ui.resetDefaultBtn->click();
    for (int c : tiles)
        EXPECT_EQ(p.d().videoPaneLayout()->videoView()[c]->contents().constBits(),
                  p.engines().lastDeliveredPicture(c).constBits())
            << c;
    ASSERT_TRUE(p.playUntilNewPictures(tiles));
    ASSERT_TRUE(p.pauseAndSettle());
    for (int c : tiles)
        EXPECT_EQ(p.d().videoPaneLayout()->videoView()[c]->contents().constBits(),
                  p.engines().lastDeliveredPicture(c).constBits())
            << c;
}

} // namespace
