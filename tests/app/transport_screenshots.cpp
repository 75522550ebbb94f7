// The transport's status images as a user sees them, on a real X display (run under a virtual
// X server by transport_screenshots.sh): screenshots of the window playing at 4x fast forward
// and paused, and of the full-screen control panel, kept in $SCREENSHOT_DIR. Each screenshot
// must show the status image of its state where the status view is, and pictures in the pane.
#include <gtest/gtest.h>

#include <QGuiApplication>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QWindow>

#include <cstdlib>
#include <memory>
#include <string>

#include "app/VistrelAppDelegate.h"
#include "app/controls/CustomizedVideoView.h"
#include "app/controls/CustomizedView.h"
#include "app/controls/LayerView.h"
#include "app/controls/WindowPaintPacer.h"
#include "app/engine_side/engine_side.h"
#include "app/main_window.h"
#include "app/video_pane/video_pane.h"
#include "common/mkrec_fixture.h"
#include "engines/engine_controls.h"
#include "qt_test_app.h"

namespace {

// The screen as `window` is drawn now: its paint passes are paced to the screen's frames, and a
// pass still held would leave the screen a frame behind the widgets it is compared with.
QImage grabScreen(QWidget *window) {
    if (auto *pacer = window->findChild<WindowPaintPacer *>()) pacer->paintNow();
    QScreen *screen = QGuiApplication::primaryScreen();
    return screen ? screen->grabWindow(0).toImage().convertToFormat(QImage::Format_RGB32) : QImage();
}

// The part of a screenshot under a widget.
QImage under(const QImage &shot, const QWidget *widget) {
    const QRect r(widget->mapToGlobal(QPoint(0, 0)), widget->size());
    return shot.copy(r);
}

// How many distinct grey levels an area holds (a flat area holds one or two).
int levels(const QImage &area) {
    bool seen[256] = {};
    int n = 0;
    for (int y = 0; y < area.height(); ++y)
        for (int x = 0; x < area.width(); ++x) {
            const int g = qGray(area.pixel(x, y));
            if (!seen[g]) seen[g] = true, ++n;
        }
    return n;
}

// `view` as its window draws it now.
QImage drawn(QWidget *window, QWidget *view) {
    return window->grab(QRect(view->mapTo(window, QPoint(0, 0)), view->size()))
        .toImage()
        .convertToFormat(QImage::Format_RGB32);
}

// The screen once it shows `view` as its window draws it: the window system shows a paint pass
// some time after the widgets made it (the last screen taken when it never does).
QImage grabScreenShowing(QWidget *window, QWidget *view) {
    QImage shot;
    serveEventsUntil(
        [&] {
            shot = grabScreen(window);
            return under(shot, view) == drawn(window, view);
        },
        10000);
    return shot;
}

// The status view `view` holds `image`, and the screen shows the view as its window draws it.
QImage expectShown(const QImage &shot, QWidget *window, QLabel *view, const QPixmap &image,
                   const char *what) {
    EXPECT_EQ(view->pixmap().cacheKey(), image.cacheKey()) << what;
    const QImage onScreen = under(shot, view);
    EXPECT_EQ(onScreen, drawn(window, view)) << what << ": the screen does not show the status view";
    EXPECT_GT(levels(onScreen), 2) << what;
    return onScreen;
}

// Serves events until every tile of the grid has had about two new pictures since `shown` were
// shown (the engine plays at the speed just chosen), the window is on the screen and `view`
// holds `image`.
bool playedOn(VistrelAppDelegate &d, uint64_t shown, QLabel *view, const QPixmap &image) {
    const QWindow *handle = d.window()->windowHandle();
    const bool done = serveEventsUntil(
        [&] {
            return d.engineSide()->picturesShown() >= shown + 8 && handle && handle->isExposed() &&
                   view->pixmap().cacheKey() == image.cacheKey();
        },
        20000);
    EXPECT_TRUE(done) << "shown " << d.engineSide()->picturesShown() - shown << ", exposed "
                      << (handle && handle->isExposed()) << ", image "
                      << (view->pixmap().cacheKey() == image.cacheKey());
    return done;
}

void keep(const QImage &shot, const std::string &name) {
    const char *dir = std::getenv("SCREENSHOT_DIR");
    ASSERT_NE(dir, nullptr);
    const std::string path = std::string(dir) + "/" + name;
    ASSERT_TRUE(shot.save(QString::fromStdString(path))) << path;
    std::printf("screenshot: %s\n", path.c_str());
}

TEST(TransportScreenshots, FastForward4xPausedAndFullScreenPanel) {
    testApp();
    ASSERT_EQ(QGuiApplication::platformName(), QString("xcb")) << "run under an X server";
    mkrec::TempDir dir;
    const mkrec::Recording rec =
        mkrec::make(dir, "shots.avc",
                    {"--kind", "avc", "--size", "352x288", "--video-mask", "0xf", "--audio-mask", "0x1",
                     "--title", "1=Entrance", "--title", "2=Parking", "--duration", "30"});
    ASSERT_TRUE(rec.ok()) << rec.output;
    dvFmtResetControlFlags();
    auto d = std::make_unique<VistrelAppDelegate>();
    d->applicationDidFinishLaunching();
    d->makeWindowKeyAndOrderFront();
    d->openFileDirectly(QString::fromStdString(rec.path));
    ASSERT_TRUE(
        serveEventsUntil([&] { return !d->videoPaneLayout()->videoView()[3]->contents().isNull(); }, 8000));
    Ui::MainWindow &ui = d->window()->ui;

    uint64_t shown = d->engineSide()->picturesShown();
    ui.fastForwardBtn->click();
    ui.fastForwardBtn->click();
    ASSERT_TRUE(playedOn(*d, shown, ui.playbackStatusImageView,
                         d->statusImages().image(transport::StatusImage::Fwd4x)));
    QImage shot = grabScreenShowing(d->window(), ui.playbackStatusImageView);
    const QImage at4x = expectShown(shot, d->window(), d->window()->ui.playbackStatusImageView,
                                    d->statusImages().image(transport::StatusImage::Fwd4x), "4x");
    EXPECT_GT(levels(under(shot, d->window()->ui.videoPane)), 32) << "pictures in the pane";
    keep(shot, "transport_fast_forward_4x.png");

    ui.pauseActionBtn->click();
    ASSERT_TRUE(serveEventsUntil([&] {
        return ui.playbackStatusImageView->pixmap().cacheKey() ==
               d->statusImages().image(transport::StatusImage::Pause).cacheKey();
    }));
    shot = grabScreenShowing(d->window(), ui.playbackStatusImageView);
    const QImage paused = expectShown(shot, d->window(), d->window()->ui.playbackStatusImageView,
                                      d->statusImages().image(transport::StatusImage::Pause), "paused");
    EXPECT_NE(paused, at4x) << "the status view changed with the state";
    keep(shot, "transport_paused.png");

    d->enterFullScreen();
    ASSERT_TRUE(serveEventsUntil(
        [&] { return d->window()->isFullScreen() && d->window()->ui.fullScreenControlPanel->isVisible(); }));
    shown = d->engineSide()->picturesShown();
    ui.fullScreenPlayBtn->click();
    ui.fastForwardFullScreenBtn->click();
    d->videoPaneLayout()->showFullScreenControlPanel();
    ASSERT_TRUE(playedOn(*d, shown, ui.fullScreenPlaybackStatusImageView,
                         d->statusImages().image(transport::StatusImage::Fwd2x, true)));
    shot = grabScreenShowing(d->window(), ui.fullScreenPlaybackStatusImageView);
    ASSERT_TRUE(d->window()->ui.fullScreenControlPanel->isVisible());
    expectShown(shot, d->window(), d->window()->ui.fullScreenPlaybackStatusImageView,
                d->statusImages().image(transport::StatusImage::Fwd2x, true), "full screen 2x");
    EXPECT_GT(levels(under(shot, d->window()->ui.fullScreenControlPanel)), 8) << "the panel is drawn";
    keep(shot, "transport_full_screen_panel.png");

    d->exitFullScreen();
    d.reset();
    dvFmtResetControlFlags();
}

} // namespace
