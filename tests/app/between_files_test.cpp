// Nothing of one file reaches the next: a first recording is left in some state through the
// window's controls, a second one is opened, and the second's tiles and its first fast forward
// must be those of a file opened afresh, through the real delegate and engines.
#include <gtest/gtest.h>

#include <QPushButton>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "app/VistrelAppDelegate.h"
#include "app/controls/CustomizedButton.h"
#include "app/controls/OsdTextLayer.h"
#include "app/main_window.h"
#include "app/video_pane/video_pane.h"
#include "common/mkrec_fixture.h"
#include "engines/engine_controls.h"
#include "launched_player.h"
#include "qt_test_app.h"

namespace {

// AtItsEndUnseen: the end is reached while the window serves no events, so the end-of-file
// notice still waits in its queue when the next file opens.
enum class LeftAs { Playing, At8x, Paused, AtItsEnd, AtItsEndUnseen };

struct BetweenFilesCase {
    const char *name;
    std::vector<std::string> first; // file name, then mkrec's arguments
    QString firstTitle;             // tile 1's title once the first file plays
    LeftAs left;
    std::vector<std::string> second;
    std::vector<QString> secondTitles; // tiles 1, 2, ... of the second file
};

TEST(BetweenFiles, TheNextFileStartsAfresh) {
    std::vector<std::string> sixteen = {"sixteen.avc", "--kind", "avc", "--video-mask", "0xffff"};
    for (int n = 1; n <= 16; ++n)
        sixteen.insert(sixteen.end(),
                       {"--title", std::to_string(n) + "=" + char('A' + n - 1) + std::to_string(n)});
    const std::vector<BetweenFilesCase> cases = {
        {"AVC left at 8x, then AVC",
         {"fast.avc", "--kind", "avc"},
         "CH1",
         LeftAs::At8x,
         {"next.avc", "--kind", "avc"},
         {"CH1"}},
        {"DV5 left paused, then AVC",
         {"paused.dv5", "--kind", "dv5-nvr"},
         "CH1",
         LeftAs::Paused,
         {"gate.avc", "--kind", "avc", "--title", "1=Gate"},
         {"Gate"}},
        {"AVC played to its end, then DV5",
         {"ended.avc", "--kind", "avc", "--title", "1=Yard"},
         "Yard",
         LeftAs::AtItsEnd,
         {"two.dv5", "--kind", "dv5-nvr", "--video-mask", "0x3"},
         {"CH1", "CH2"}},
        {"AVC ended unseen, then AVC",
         {"unseen.avc", "--kind", "avc", "--title", "1=Dock"},
         "Dock",
         LeftAs::AtItsEndUnseen,
         {"after.avc", "--kind", "avc"},
         {"CH1"}},
        {"16 titled channels, then 9 channels titled on 3",
         sixteen,
         "A1",
         LeftAs::Playing,
         {"nine.avc", "--kind", "avc", "--video-mask", "0x1ff", "--title", "1=X1", "--title", "2=Y2",
          "--title", "3=Z3"},
         {"X1", "Y2", "Z3", "CH4", "CH5", "CH6", "CH7", "CH8", "CH9"}},
    };
    mkrec::TempDir dir;
    for (const BetweenFilesCase &c : cases) {
        SCOPED_TRACE(c.name);
        // Both play on through the checks, unless the first is to be played to its end.
        const auto make = [&](std::vector<std::string> args, const char *seconds) {
            args.insert(args.end(), {"--audio-mask", "0", "--duration", seconds});
            return mkrec::make(dir, args[0], std::vector<std::string>(args.begin() + 1, args.end()));
        };
        const mkrec::Recording first = make(c.first, c.left >= LeftAs::AtItsEnd ? "1" : "10");
        const mkrec::Recording second = make(c.second, "30");
        ASSERT_TRUE(first.ok()) << first.output;
        ASSERT_TRUE(second.ok()) << second.output;

        LaunchedPlayer p;
        VistrelAppDelegate &d = p.d();
        Ui::MainWindow &ui = d.window()->ui;
        const VideoPane &pane = *d.videoPaneLayout();
        const auto shows = [&](transport::StatusImage image) {
            return ui.playbackStatusImageView->pixmap().cacheKey() ==
                       d.statusImages().image(image).cacheKey() &&
                   ui.fullScreenPlaybackStatusImageView->pixmap().cacheKey() ==
                       d.statusImages().image(image, true).cacheKey();
        };
        const auto picturesAfter = [&](uint64_t shown) {
            return serveEventsUntil([&] { return d.engineSide()->picturesShown() > shown; }, 10000);
        };

        d.openFileDirectly(QString::fromStdString(first.path));
        ASSERT_TRUE(picturesAfter(0));
        ASSERT_TRUE(serveEventsUntil([&] { return pane.videoViewTitle()[0]->string() == c.firstTitle; }))
            << pane.videoViewTitle()[0]->string().toStdString();
        switch (c.left) {
        case LeftAs::Playing:
            break;
        case LeftAs::At8x:
            for (int press = 0; press < 3; ++press)
                ui.fastForwardBtn->click();
            ASSERT_TRUE(shows(transport::StatusImage::Fwd8x));
            break;
        case LeftAs::Paused:
            ui.pauseActionBtn->click();
            ASSERT_TRUE(shows(transport::StatusImage::Pause));
            break;
        case LeftAs::AtItsEnd:
            ASSERT_TRUE(serveEventsUntil(
                [&] { return !d.isPlaybackNow() && shows(transport::StatusImage::Stop); }, 10000));
            break;
        case LeftAs::AtItsEndUnseen: {
            // Its end notice is queued at the latest while the open below closes the engine.
            const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
            while (d.enAVCFmtPlaybackStatus() != kAVCFmtPlaybackStop &&
                   std::chrono::steady_clock::now() < deadline)
                std::this_thread::yield();
            ASSERT_EQ(d.enAVCFmtPlaybackStatus(), kAVCFmtPlaybackStop);
            break;
        }
        }

        d.openFileDirectly(QString::fromStdString(second.path));
        ASSERT_TRUE(picturesAfter(d.engineSide()->picturesShown()));
        // The second file's titles, none of the first's.
        const auto secondTitlesShown = [&] {
            for (size_t n = 0; n < c.secondTitles.size(); ++n)
                if (pane.videoViewTitle()[n]->string() != c.secondTitles[n]) return false;
            return true;
        };
        EXPECT_TRUE(serveEventsUntil(secondTitlesShown, 10000));
        for (size_t n = 0; n < c.secondTitles.size(); ++n)
            EXPECT_EQ(pane.videoViewTitle()[n]->string().toStdString(), c.secondTitles[n].toStdString())
                << "tile " << n + 1;

        // It plays, whatever the first file's engines still had queued for the window.
        EXPECT_TRUE(d.isPlaybackNow());
        EXPECT_TRUE(shows(transport::StatusImage::Play));

        // Its first fast forward plays it at 2x.
        ui.fastForwardBtn->click();
        EXPECT_TRUE(shows(transport::StatusImage::Fwd2x));
        EXPECT_TRUE(d.isPlaybackNow());
        EXPECT_EQ(gDVFmtPlaybackSpeed.load(), 1);
        EXPECT_EQ(d.enAVCFmtPlaybackStatus(), 1);
        const uint64_t shown = d.engineSide()->picturesShown();
        EXPECT_TRUE(serveEventsUntil([&] { return d.engineSide()->picturesShown() >= shown + 5; }, 10000))
            << "pictures stopped after the fast forward";
    }
}

} // namespace
