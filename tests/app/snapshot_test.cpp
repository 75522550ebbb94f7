// Snapshots on disk: exact names (fullwidth separators, also under LANG=C), the three formats
// read back (PNG pixel for pixel, TIFF with LZW compression), one file per press, numbering
// instead of overwriting, and failures that leave nothing behind.
#include <gtest/gtest.h>

#include <QDir>
#include <QImageReader>
#include <QPushButton>

#include <csignal>
#include <cstring>
#include <dirent.h>
#include <fstream>
#include <set>
#include <string>
#include <sys/resource.h>
#include <vector>

#include "app/ConfigSettingPanel.h"
#include "app/VistrelAppDelegate.h"
#include "app/engine_side/engine_side.h"
#include "app/main_window.h"
#include "app/snapshot/snapshot_taker.h"
#include "common/run_cmd.h"
#include "engine_picture.h"
#include "qt_test_app.h"
#include "snapshot_fixtures.h"

namespace {

TEST(SnapshotFiles, TiffWriterIsInstalled) {
    testApp();
    ASSERT_TRUE(SnapshotTaker::tiffSupported())
        << "Qt has no TIFF writer: install qt6-image-formats-plugins (listed in scripts/deps.txt)";
}

TEST(SnapshotFiles, NamesOnDiskAndFormatsReadBack) {
    testApp();
    testutil::TempDir dir;
    const SnapshotTime t{2012, 5, 3, 14, 7, 9};
    const QImage picture = snapshotfixture::syntheticPicture(64, 48);
    const std::string date = "2012\xEF\xBC\x8F"
                             "05\xEF\xBC\x8F"
                             "03_14\xEF\xBC\x9A"
                             "07\xEF\xBC\x9A"
                             "09";
    struct Case {
        int type;
        std::string name;
        const char *format;
    } cases[] = {{0, "cam_CH3_" + date + ".jpg", "jpeg"},
                 {1, "PlaybackTime_" + date + ".png", "png"},
                 {2, "PlaybackTime_" + date + ".tiff", "tiff"}};
    // A folder chosen in the dialog has no trailing "/".
    const QString folder = QString::fromStdString(dir.path() + "/shots/cam");
    for (const Case &c : cases) {
        const QString written = SnapshotTaker::saveSnapshotImage(picture, folder, c.type, "cam", 3, t);
        EXPECT_EQ(QFile::encodeName(written).toStdString(), dir.path() + "/shots/cam/" + c.name);
        QImageReader reader(written);
        EXPECT_EQ(reader.format(), QByteArray(c.format)) << c.name;
        const QImage back = reader.read();
        ASSERT_EQ(back.size(), picture.size()) << c.name;
        if (c.type == 1) {
            EXPECT_FALSE(back.hasAlphaChannel());
            // The colour bytes as the picture holds them (compared without its fourth byte).
            EXPECT_EQ(snapshotfixture::meanDifference(back, picture), 0.0) << "PNG is not pixel-exact";
        } else {
            EXPECT_LT(snapshotfixture::meanDifference(back, picture), c.type == 0 ? 8.0 : 0.001) << c.name;
        }
    }
    EXPECT_EQ(snapshotfixture::tiffCompression(dir.path() + "/shots/cam/" + cases[2].name), 5)
        << "TIFF is not LZW";
    // The folder holds just the three files, under the exact bytes of their names.
    EXPECT_EQ(snapshotfixture::listFolder(dir.path() + "/shots/cam"),
              (std::set<std::string>{cases[0].name, cases[1].name, cases[2].name}));
    // No other type writes anything.
    EXPECT_TRUE(SnapshotTaker::saveSnapshotImage(picture, folder, 3, "cam", 3, t).isEmpty());
}

TEST(SnapshotFiles, OnePressOneFileAndNoOverwrite) {
    testApp();
    testutil::TempDir dir;
    const QString folder = QString::fromStdString(dir.path());
    const SnapshotTime t{2020, 1, 2, 3, 4, 5};
    const QImage picture = snapshotfixture::syntheticPicture(16, 16);
    SnapshotTaker taker;

    // Nothing pending: nothing written.
    EXPECT_TRUE(taker.takePendingSnapshot(1, picture, t, "rec", folder, 1).isEmpty());
    // Two presses before a picture arrives, then several pictures: one file.
    taker.request();
    taker.request();
    const QString first = taker.takePendingSnapshot(1, picture, t, "rec", folder, 1);
    EXPECT_TRUE(taker.takePendingSnapshot(1, picture, t, "rec", folder, 1).isEmpty());
    EXPECT_FALSE(taker.pending());
    // Two more presses within the same recorder second: numbered, the first file untouched.
    taker.request();
    const QString second =
        taker.takePendingSnapshot(1, snapshotfixture::syntheticPicture(8, 8), t, "rec", folder, 1);
    taker.request();
    const QString third = taker.takePendingSnapshot(1, picture, t, "rec", folder, 1);
    const std::string base = dir.path() + "/PlaybackTime_2020\xEF\xBC\x8F"
                                          "01\xEF\xBC\x8F"
                                          "02_03\xEF\xBC\x9A"
                                          "04\xEF\xBC\x9A"
                                          "05";
    EXPECT_EQ(QFile::encodeName(first).toStdString(), base + ".png");
    EXPECT_EQ(QFile::encodeName(second).toStdString(), base + "_2.png");
    EXPECT_EQ(QFile::encodeName(third).toStdString(), base + "_3.png");
    EXPECT_EQ(QImage(first).size(), QSize(16, 16));
    EXPECT_EQ(QImage(second).size(), QSize(8, 8));
    EXPECT_EQ(snapshotfixture::listFolder(dir.path()).size(), 3u);
    // A press and an unknown type: the request is used up, nothing written.
    taker.request();
    EXPECT_TRUE(taker.takePendingSnapshot(1, picture, t, "rec", folder, 7).isEmpty());
    EXPECT_FALSE(taker.pending());
    EXPECT_EQ(snapshotfixture::listFolder(dir.path()).size(), 3u);
}

TEST(SnapshotFiles, FailedWritesLeaveNothingAndAreLogged) {
    testApp();
    testutil::TempDir dir;
    const SnapshotTime t{2020, 1, 2, 3, 4, 5};
    const QImage picture = snapshotfixture::syntheticPicture(256, 256);
    LogCapture log;

    // The folder cannot be made (a file stands in its way).
    std::ofstream(dir.file("blocker")) << "x";
    const QString blocked = QString::fromStdString(dir.file("blocker") + "/cam");
    EXPECT_TRUE(SnapshotTaker::saveSnapshotImage(picture, blocked, 1, "cam", 1, t).isEmpty());
    bool folderLogged = false;
    for (const std::string &line : log.lines())
        folderLogged |= line.find("Error: Create folder failed") == 0;
    EXPECT_TRUE(folderLogged);

    // A full disk: writes stop after 1 KiB (the limit's signal ignored, as the write then
    // fails with an error). The PNG of noise is far larger.
    const QString folder = QString::fromStdString(dir.path() + "/full");
    QDir().mkpath(folder);
    struct rlimit old;
    getrlimit(RLIMIT_FSIZE, &old);
    auto previous = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit small = old;
    small.rlim_cur = 1024;
    setrlimit(RLIMIT_FSIZE, &small);
    const QString written =
        SnapshotTaker::saveSnapshotImage(snapshotfixture::noisePicture(256, 256), folder, 2, "cam", 1, t);
    setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, previous);
    EXPECT_TRUE(written.isEmpty());
    EXPECT_TRUE(snapshotfixture::listFolder(dir.path() + "/full").empty())
        << "a partial or temporary file is left";
    bool writeLogged = false;
    for (const std::string &line : log.lines())
        writeLogged |= line.find("Error: Cannot write snapshot") == 0;
    EXPECT_TRUE(writeLogged);
}

// A launched delegate with settings of its own, its snapshot folder "snaps" in `dir`.
struct LaunchedForSnapshots {
    LaunchedForSnapshots() : scope(dir.path()) {
        delegate = std::make_unique<VistrelAppDelegate>();
        delegate->applicationDidFinishLaunching();
        delegate->configSettingPanel()->snapshotFilePathField()->setText(
            QString::fromStdString(dir.path() + "/snaps"));
    }
    bool appReady = (testApp(), true);
    testutil::TempDir dir;
    snapshotfixture::SettingsScope scope;
    std::unique_ptr<VistrelAppDelegate> delegate;
};

// The delegate's path: the folder of the open file inside the chosen folder, the shown
// channel and the recorder time.
TEST(SnapshotFiles, DelegateSavesTheShownChannelOnce) {
    LaunchedForSnapshots f;
    testutil::TempDir &dir = f.dir;
    std::unique_ptr<VistrelAppDelegate> &delegate = f.delegate;
    delegate->openFile().setNames(QStringLiteral(".."), QString(), QString(), QString());
    delegate->setICurrentSelectedVideoCH(3);
    _SYSTEMTIME t{};
    t.wYear = 2012, t.wMonth = 5, t.wDay = 3, t.wHour = 14, t.wMinute = 7, t.wSecond = 9;
    delegate->snapshotAction();
    delegate->setSnapshotFileLocation(); // a new file drops the pending request
    EXPECT_FALSE(delegate->saveSnapshotImageFlag());
    EXPECT_TRUE(delegate->saveSnapshotImage(snapshotfixture::syntheticPicture(32, 32), t).isEmpty());

    delegate->window()->ui.snapShotBtn->click();
    EXPECT_TRUE(delegate->saveSnapshotImageFlag());
    const QString path = delegate->saveSnapshotImage(snapshotfixture::syntheticPicture(32, 32), t);
    EXPECT_EQ(QFile::encodeName(path).toStdString(), dir.path() + "/snaps/__/.._CH3_2012\xEF\xBC\x8F"
                                                                  "05\xEF\xBC\x8F"
                                                                  "03_14\xEF\xBC\x9A"
                                                                  "07\xEF\xBC\x9A"
                                                                  "09.jpg");
    EXPECT_TRUE(delegate->saveSnapshotImage(snapshotfixture::syntheticPicture(32, 32), t).isEmpty());
    EXPECT_EQ(snapshotfixture::listFolder(dir.path() + "/snaps/__").size(), 1u);
    delegate.reset();
}

// The engine moves the shared recorder time on to the next second before the GUI thread shows
// the picture it delivered: the snapshot still names the second of the picture in the file.
TEST(SnapshotFiles, NameCarriesTheTimeOfThePictureInTheFile) {
    LaunchedForSnapshots f;
    testutil::TempDir &dir = f.dir;
    std::unique_ptr<VistrelAppDelegate> &delegate = f.delegate;
    delegate->configSettingPanel()->snapshotFileTypeBtn()->setCurrentIndex(
        1); // PNG: the pixels come back as they were
    delegate->openFile().setNames(QStringLiteral("cam"), QString(), QString(), QString());
    delegate->setSnapshotFileLocation();
    delegate->setVideoPaneCutState(0);
    delegate->setICurrentSelectedVideoCH(3);
    delegate->window()->ui.snapShotBtn->click();

    _SYSTEMTIME own{};
    own.wYear = 2012, own.wMonth = 5, own.wDay = 3, own.wHour = 14, own.wMinute = 7, own.wSecond = 59;
    _SYSTEMTIME next = own;
    next.wMinute = 8, next.wSecond = 0;
    delegate->engineSide()->videoUpdateTaskWithChannel(2, std::make_shared<FlatPicture>(16, 16, 0x60),
                                                       nullptr, 0, true, 0, own);
    delegate->setSys_Time(next);
    serveEvents();

    const std::set<std::string> files = snapshotfixture::listFolder(dir.path() + "/snaps/cam");
    ASSERT_EQ(files.size(), 1u);
    EXPECT_EQ(*files.begin(), "PlaybackTime_2012\xEF\xBC\x8F"
                              "05\xEF\xBC\x8F"
                              "03_14\xEF\xBC\x9A"
                              "07\xEF\xBC\x9A"
                              "59.png");
    const QImage written(QString::fromStdString(dir.path() + "/snaps/cam/" + *files.begin()));
    EXPECT_EQ(written.pixelColor(0, 0).red(), 0x60);
    delegate.reset();
}

} // namespace
