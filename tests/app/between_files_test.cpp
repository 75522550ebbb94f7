// Nothing of one file reaches the next: a first recording is left in some state through the
// window's controls, a second one is opened, and the second's tiles and its first fast forward
// must be those of a file opened afresh, through the real delegate and engines.
#include <gtest/gtest.h>

#include <QPushButton>

#include <chrono>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "app/VistrelAppDelegate.h"
#include "app/controls/OsdTextLayer.h"
#include "app/main_window.h"
#include "app/video_pane/video_pane.h"
#include "common/mkrec_fixture.h"
#include "engines/engine_controls.h"
#include "launched_player.h"
#include "qt_test_app.h"

namespace {

// AtItsEndUnseen: the end comes while the window serves no events, so the end notice still
// waits in its queue when the next file opens.
enum class LeftAs { Playing, At8x, Paused, AtItsEnd, AtItsEndUnseen };

TEST(BetweenFiles, TheNextFileStartsAfresh) {
    std::string sixteen = "avc --video-mask 0xffff";
    for (int n = 1; n <= 16; ++n)
        sixteen += " --title " + std::to_string(n) + "=" + char('A' + n - 1) + std::to_string(n);
    const struct {
        const char *name;
        std::string first; // mkrec's kind, then its other arguments
        QString firstTitle;
        LeftAs left;
        std::string second;
        std::vector<QString> secondTitles; // tiles 1, 2, ...
    } cases[] = {
        {"AVC left at 8x, then AVC", "avc", "CH1", LeftAs::At8x, "avc", {"CH1"}},
        {"DV5 left paused, then AVC", "dv5-nvr", "CH1", LeftAs::Paused, "avc --title 1=Gate", {"Gate"}},
        {"AVC played to its end, then DV5",
         "avc --title 1=Yard",
         "Yard",
         LeftAs::AtItsEnd,
         "dv5-nvr --video-mask 0x3",
         {"CH1", "CH2"}},
        {"AVC ended unseen, then AVC", "avc --title 1=Dock", "Dock", LeftAs::AtItsEndUnseen, "avc", {"CH1"}},
        {"16 titled channels, then 9 channels titled on 3",
         sixteen,
         "A1",
         LeftAs::Playing,
         "avc --video-mask 0x1ff --title 1=X1 --title 2=Y2 --title 3=Z3",
         {"X1", "Y2", "Z3", "CH4", "CH5", "CH6", "CH7", "CH8", "CH9"}},
    };
    mkrec::TempDir dir;
    int made = 0;
    const auto make = [&](const std::string &line, const char *seconds) {
        std::istringstream words(line);
        std::vector<std::string> args = {"--kind"};
        for (std::string w; words >> w;)
            args.push_back(w);
        args.insert(args.end(), {"--audio-mask", "0", "--duration", seconds});
        const std::string name = std::to_string(++made) + (args[1] == "avc" ? ".avc" : ".dv5");
        return mkrec::make(dir, name, args);
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        const mkrec::Recording first = make(c.first, c.left >= LeftAs::AtItsEnd ? "1" : "10");
        const mkrec::Recording second = make(c.second, "30");
        ASSERT_TRUE(first.ok() && second.ok()) << first.output << second.output;

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
        const auto picturesAfter = [&](uint64_t shown, uint64_t more = 1) {
            return serveEventsUntil([&] { return d.engineSide()->picturesShown() >= shown + more; }, 10000);
        };

        d.openFileDirectly(QString::fromStdString(first.path));
        ASSERT_TRUE(picturesAfter(0));
        ASSERT_TRUE(serveEventsUntil([&] { return pane.videoViewTitle()[0]->string() == c.firstTitle; }));
        if (c.left == LeftAs::At8x) {
            for (int press = 0; press < 3; ++press)
                ui.fastForwardBtn->click();
            ASSERT_TRUE(shows(transport::StatusImage::Fwd8x));
        } else if (c.left == LeftAs::Paused) {
            ui.pauseActionBtn->click();
            ASSERT_TRUE(shows(transport::StatusImage::Pause));
        } else if (c.left == LeftAs::AtItsEnd) {
            ASSERT_TRUE(serveEventsUntil(
                [&] { return !d.isPlaybackNow() && shows(transport::StatusImage::Stop); }, 10000));
        } else if (c.left == LeftAs::AtItsEndUnseen) {
            // Its end notice is queued at the latest while the open below closes the engine.
            const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
            while (d.enAVCFmtPlaybackStatus() != kAVCFmtPlaybackStop &&
                   std::chrono::steady_clock::now() < deadline)
                std::this_thread::yield();
            ASSERT_EQ(d.enAVCFmtPlaybackStatus(), kAVCFmtPlaybackStop);
        }

        d.openFileDirectly(QString::fromStdString(second.path));
        ASSERT_TRUE(picturesAfter(d.engineSide()->picturesShown()));
        // The second file's titles, none of the first's; it plays.
        EXPECT_TRUE(serveEventsUntil(
            [&] {
                for (size_t n = 0; n < c.secondTitles.size(); ++n)
                    if (pane.videoViewTitle()[n]->string() != c.secondTitles[n]) return false;
                return true;
            },
            10000));
        for (size_t n = 0; n < c.secondTitles.size(); ++n)
            EXPECT_EQ(pane.videoViewTitle()[n]->string().toStdString(), c.secondTitles[n].toStdString())
                << "tile " << n + 1;
        EXPECT_TRUE(d.isPlaybackNow());
        EXPECT_TRUE(shows(transport::StatusImage::Play));

        // Its first fast forward plays it at 2x.
        ui.fastForwardBtn->click();
        EXPECT_TRUE(shows(transport::StatusImage::Fwd2x));
        EXPECT_TRUE(d.isPlaybackNow());
        EXPECT_EQ(gDVFmtPlaybackSpeed.load(), 1);
        EXPECT_EQ(d.enAVCFmtPlaybackStatus(), 1);
        EXPECT_TRUE(picturesAfter(d.engineSide()->picturesShown(), 5))
            << "pictures stopped after the fast forward";
    }
}

} // namespace
