// Pictures of the conversion for people to look at: the query sheet, the channel panel, the
// converting window and the completion sheet, on a real display (conversion_screens.sh runs
// this under a virtual X server).
#include <gtest/gtest.h>

#include <QGuiApplication>
#include <QMessageBox>
#include <QScreen>

#include "conversion_harness.h"

using namespace convtest;

namespace {

void settle(int ms) {
    QElapsedTimer t;
    t.start();
    serveEventsUntil([&] { return t.elapsed() >= ms; }, ms + 1000);
}

bool shoot(const std::string &dir, const char *name) {
    settle(600);
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
    ASSERT_TRUE(shoot(out, "conversion-query-sheet.png"));
    press(query, "NO, select the other file.");
    ASSERT_TRUE(rig.choose(QString::fromStdString(rec.path)));
    ASSERT_TRUE(serveEventsUntil([&] { return rig.delegate->channelSelectionPanel()->isVisible(); }));
    rig.delegate->channelSelectionPanel()->ui.videoChannelSelectionBtn->setCurrentText("2");
    ASSERT_TRUE(shoot(out, "conversion-channel-panel.png"));
    rig.delegate->channelSelectionPanel()->ui.channelSelectionOkBtn->click();
    settle(1500);
    ASSERT_TRUE(shoot(out, "conversion-converting.png"));
    QMessageBox *done = nullptr;
    ASSERT_TRUE(serveEventsUntil([&] { return (done = sheet(rig.delegate->window())) != nullptr; }, 30000));
    ASSERT_TRUE(shoot(out, "conversion-complete.png"));
    press(done, "OK");
    settle(200);
}

} // namespace
