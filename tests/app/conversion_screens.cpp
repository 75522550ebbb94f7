// Pictures of the conversion for people to look at: the query sheet, the channel panel, the
// converting window and the completion sheet, on a real display (conversion_screens.sh runs
// this under a virtual X server).
#include <gtest/gtest.h>

#include <QGuiApplication>
#include <QMessageBox>
#include <QPointer>
#include <QScreen>
#include <QWindow>

#include <mutex>

#include "app/controls/WindowPaintPacer.h"
#include "conversion_harness.h"

using namespace convtest;

namespace {

// Takes the screen once `shown` is on it, with `window` and `shown` drawn as they are now.
bool shoot(const std::string &dir, const char *name, QWidget *window, QWidget *shown) {
    const bool onScreen = serveEventsUntil([&] {
        const QWindow *handle = shown->window()->windowHandle();
        return shown->isVisible() && handle && handle->isExposed();
    });
    if (!onScreen) return false;
    for (QWidget *w : {window, shown->window()}) {
        if (auto *pacer = w->findChild<WindowPaintPacer *>()) pacer->paintNow();
        w->repaint();
    }
    return QGuiApplication::primaryScreen()->grabWindow(0).save(QString::fromStdString(dir + "/" + name));
}

QMessageBox *sheet(QWidget *window) {
    QMessageBox *box = nullptr;
    serveEventsUntil([&] {
        const auto boxes = window->findChildren<QMessageBox *>();
        for (QMessageBox *b : boxes)
            if (b->isVisible()) box = b;
        return box != nullptr;
    });
    return box;
}

void press(QMessageBox *box, const QString &title) {
    for (QAbstractButton *b : box->buttons())
        if (b->text() == title) b->click();
}

TEST(ConversionScreens, DISABLED_Take) {
    const char *out = std::getenv("CONVERSION_SCREENSHOT_DIR");
    ASSERT_NE(out, nullptr);
    mkrec::TempDir dir;
    mkrec::Recording rec =
        mkrec::make(dir, "site.dv5",
                    {"--kind", "dv5-nvr", "--video-mask", "0xf", "--audio-mask", "0x1", "--duration", "4"});
    ASSERT_TRUE(rec.ok()) << rec.output;
    Rig rig(true);
    rig.setSettings(dir.path());
    rig.delegate->setAbsoluteFilePath("/recordings/playing.dv5");
    rig.delegate->setPlayerState(0);
    rig.delegate->window()->show();
    rig.delegate->window()->move(40, 40);

    rig.conversion->openPlaybackFileAndConvertToAVI();
    QMessageBox *query = sheet(rig.delegate->window());
    ASSERT_NE(query, nullptr);
    ASSERT_TRUE(shoot(out, "conversion-query-sheet.png", rig.delegate->window(), query));
    press(query, "NO, select the other file.");
    ASSERT_TRUE(rig.choose(QString::fromStdString(rec.path)));
    ASSERT_TRUE(serveEventsUntil([&] { return rig.delegate->channelSelectionPanel()->isVisible(); }));
    rig.delegate->channelSelectionPanel()->ui.videoChannelSelectionBtn->setCurrentText("2");
    ASSERT_TRUE(shoot(out, "conversion-channel-panel.png", rig.delegate->window(),
                      rig.delegate->channelSelectionPanel()));
    rig.delegate->channelSelectionPanel()->ui.channelSelectionOkBtn->click();
    // Converting: the frames go into the file.
    ASSERT_TRUE(serveEventsUntil(
        [&] {
            std::lock_guard<std::mutex> lock(rig.mutex);
            return rig.delivered.video.size() >= 25;
        },
        30000));
    ASSERT_TRUE(shoot(out, "conversion-converting.png", rig.delegate->window(), rig.delegate->window()));
    QMessageBox *done = nullptr;
    ASSERT_TRUE(serveEventsUntil([&] { return (done = sheet(rig.delegate->window())) != nullptr; }, 30000));
    ASSERT_TRUE(shoot(out, "conversion-complete.png", rig.delegate->window(), done));
    const QPointer<QMessageBox> closing(done);
    press(done, "OK");
    ASSERT_TRUE(serveEventsUntil([&] { return !closing || !closing->isVisible(); }));
}

} // namespace
