// The custom views: outlined text, the video pane's hiding count for the full-screen panel,
// the channel tiles' clicks, the press-and-hold buttons and the gradient view.
#include <gtest/gtest.h>

#include <QMouseEvent>
#include <QPainter>
#include <QScreen>
#include <QSignalSpy>
#include <QTest>

#include <memory>
#include <thread>

#include "app/VistrelAppDelegate.h"
#include "app/controls/ColorGradientView.h"
#include "app/controls/CustomizedButton.h"
#include "app/controls/CustomizedVideoView.h"
#include "app/controls/CustomizedView.h"
#include "app/controls/OsdTextLayer.h"
#include "app/controls/WindowPaintPacer.h"
#include "app/main_window.h"
#include "app/video_pane/video_pane.h"
#include "qt_test_app.h"

namespace {

bool isDark(QRgb p) {
    return qRed(p) < 60 && qGreen(p) < 60 && qBlue(p) < 60;
}
bool isWhite(QRgb p) {
    return qRed(p) > 220 && qGreen(p) > 220 && qBlue(p) > 220;
}

void sendMouse(QWidget *widget, QEvent::Type type, QPointF at = QPointF(5, 5)) {
    QMouseEvent event(type, at, widget->mapToGlobal(at),
                      type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton,
                      type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(widget, &event);
}

// ---- OsdTextLayer -----------------------------------------------------------------------------

TEST(OsdTextLayer, TextIsFilledOverABlackOutlineAndOffsetIntoTheLayer) {
    testApp();
    OsdTextLayer layer(Qt::AlignLeft);
    layer.resize(150, 30);
    layer.setFontSize(15.0);
    layer.setForegroundColor(Qt::white);
    layer.setString("CH12");
    EXPECT_TRUE(layer.testAttribute(Qt::WA_TransparentForMouseEvents));

    QImage image(150, 30, QImage::Format_ARGB32);
    const QRgb grey = qRgb(128, 128, 128);
    image.fill(grey);
    {
        QPainter painter(&image);
        layer.drawInContext(painter);
    }
    int white = 0, dark = 0, minX = 1000, minY = 1000;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            const QRgb p = image.pixel(x, y);
            white += isWhite(p);
            dark += isDark(p);
            if (p != grey) {
                minX = std::min(minX, x);
                minY = std::min(minY, y);
            }
        }
    EXPECT_GT(white, 20) << "the text itself";
    EXPECT_GT(dark, 20) << "its outline";
    // Text starts 4 to the right and 8 down; the 3-wide outline reaches 1.5 beyond it.
    EXPECT_GE(minX, 2);
    EXPECT_LE(minX, 6);
    EXPECT_GE(minY, 6);

    // Every white pixel of a row has a dark pixel somewhere left of it: the outline encloses it.
    for (int y = 0; y < image.height(); ++y) {
        int firstWhite = -1, firstDark = -1;
        for (int x = 0; x < image.width(); ++x) {
            if (firstWhite < 0 && isWhite(image.pixel(x, y))) firstWhite = x;
            if (firstDark < 0 && isDark(image.pixel(x, y))) firstDark = x;
        }
        if (firstWhite >= 0) {
            EXPECT_TRUE(firstDark >= 0 && firstDark < firstWhite) << "row " << y;
        }
    }

    // Centred text sits around the middle, shifted by the same 4.
    OsdTextLayer centred(Qt::AlignHCenter);
    centred.resize(200, 30);
    centred.setFontSize(15.0);
    centred.setString("2024/01/02 03:04:05");
    QImage c(200, 30, QImage::Format_ARGB32);
    c.fill(grey);
    {
        QPainter painter(&c);
        centred.drawInContext(painter);
    }
    int left = 1000, right = -1;
    for (int y = 0; y < c.height(); ++y)
        for (int x = 0; x < c.width(); ++x)
            if (c.pixel(x, y) != grey) {
                left = std::min(left, x);
                right = std::max(right, x);
            }
    ASSERT_GE(right, 0);
    EXPECT_NEAR((left + right + 1) / 2.0, 100.0 + 4.0, 3.0);

    layer.hide();
    EXPECT_TRUE(layer.isHidden());
    layer.show();
    EXPECT_FALSE(layer.isHidden());
}

// ---- CustomizedView ---------------------------------------------------------------------------

class PaneTest : public ::testing::Test {
  protected:
    void SetUp() override {
        testApp();
        delegate = std::make_unique<VistrelAppDelegate>();
        delegate->applicationDidFinishLaunching();
        pane = delegate->window()->ui.videoPane;
        layout = delegate->videoPaneLayout();
        panel = delegate->window()->ui.fullScreenControlPanel;
    }
    std::unique_ptr<VistrelAppDelegate> delegate;
    CustomizedView *pane = nullptr;
    VideoPane *layout = nullptr;
    QWidget *panel = nullptr;
};

TEST_F(PaneTest, FullScreenPanelHidesAtTheThirdQuietTick) {
    ASSERT_TRUE(panel->isHidden());
    delegate->setIsInFullScreenMode(true);
    sendMouse(pane, QEvent::MouseMove);
    EXPECT_FALSE(panel->isHidden()) << "a mouse move shows the panel";
    EXPECT_EQ(layout->elapsedTimeForControlPanelTriggered(), 0);

    layout->viewCounter();
    layout->viewCounter();
    EXPECT_FALSE(panel->isHidden()) << "two ticks (4 s) are not enough";
    sendMouse(pane, QEvent::MouseMove);
    EXPECT_EQ(layout->elapsedTimeForControlPanelTriggered(), 0) << "activity restarts the count";
    layout->viewCounter();
    layout->viewCounter();
    EXPECT_FALSE(panel->isHidden());
    layout->viewCounter();
    EXPECT_TRUE(panel->isHidden());
    EXPECT_EQ(layout->elapsedTimeForControlPanelTriggered(), 0);

    sendMouse(pane, QEvent::MouseButtonPress);
    EXPECT_FALSE(panel->isHidden()) << "a click shows it too";
}

TEST_F(PaneTest, OutsideFullScreenThePanelIsLeftAlone) {
    sendMouse(pane, QEvent::MouseMove);
    sendMouse(pane, QEvent::MouseButtonPress);
    EXPECT_TRUE(panel->isHidden());
    panel->setVisible(true);
    for (int i = 0; i < 5; ++i)
        layout->viewCounter();
    EXPECT_FALSE(panel->isHidden());
    EXPECT_EQ(layout->elapsedTimeForControlPanelTriggered(), 0);
}

TEST_F(PaneTest, ShowingFromAnotherThreadHappensOnTheGuiThread) {
    delegate->setIsInFullScreenMode(true);
    std::thread stepThread([&] { layout->showFullScreenControlPanel(); });
    stepThread.join();
    EXPECT_TRUE(panel->isHidden()) << "no widget is touched off the GUI thread";
    serveEvents();
    EXPECT_FALSE(panel->isHidden());
}

// ---- CustomizedVideoView ----------------------------------------------------------------------

TEST_F(PaneTest, TileClicksSwitchBetweenGridAndSingleView) {
    CustomizedVideoView tile(pane);
    layout->connectTile(&tile);
    tile.setChannelID(5);
    tile.resize(40, 30);
    delegate->setISubVideoChannelEnabledValue(0x1F); // channels 1 to 5
    delegate->setVideoPaneCutState(1);
    delegate->setICurrentSelectedVideoCH(1);
    delegate->setDecoderTargetWidth(320.0f);
    delegate->setDecoderTargetHeight(240.0f);
    delegate->setPreviousVideoPaneWidth(640.0f);

    LogCapture log;
    sendMouse(&tile, QEvent::MouseButtonPress);
    EXPECT_EQ(delegate->videoPaneCutState(), 0);
    EXPECT_EQ(delegate->iCurrentSelectedVideoCH(), 5);
    EXPECT_TRUE(delegate->viewCutChangedAndResetDecoder());
    EXPECT_EQ(delegate->decoderTargetWidth(), 0.0f);
    EXPECT_EQ(delegate->decoderTargetHeight(), 0.0f);
    EXPECT_EQ(delegate->previousVideoPaneWidth(), 0.0f);
    EXPECT_EQ(log.count("channelID = 5\n"), 1);
    EXPECT_EQ(log.count("appDelg.iSubVideoChannelEnabledValue = 0x1f\n"), 1);

    // From the single view a click returns to the grid.
    delegate->setViewCutChangedAndResetDecoder(false);
    delegate->setPreviousVideoPaneWidth(640.0f);
    sendMouse(&tile, QEvent::MouseButtonPress);
    EXPECT_EQ(delegate->videoPaneCutState(), 1);
    EXPECT_EQ(delegate->iCurrentSelectedVideoCH(), 5);
    EXPECT_TRUE(delegate->viewCutChangedAndResetDecoder());
    EXPECT_EQ(delegate->previousVideoPaneWidth(), 0.0f);
}

TEST_F(PaneTest, TileOfAnAbsentChannelOrALockedPaneChangesNothing) {
    CustomizedVideoView tile(pane);
    layout->connectTile(&tile);
    tile.setChannelID(9);
    delegate->setISubVideoChannelEnabledValue(0x0F); // channels 1 to 4
    delegate->setVideoPaneCutState(1);
    delegate->setICurrentSelectedVideoCH(2);
    delegate->setViewCutChangedAndResetDecoder(true);
    delegate->setDecoderTargetWidth(320.0f);
    sendMouse(&tile, QEvent::MouseButtonPress);
    EXPECT_EQ(delegate->videoPaneCutState(), 1);
    EXPECT_EQ(delegate->iCurrentSelectedVideoCH(), 2);
    EXPECT_FALSE(delegate->viewCutChangedAndResetDecoder());
    EXPECT_EQ(delegate->decoderTargetWidth(), 320.0f);

    // A tile whose channel number is out of range is no channel of the file either.
    CustomizedVideoView stray(pane);
    layout->connectTile(&stray);
    stray.setChannelID(40);
    delegate->setISubVideoChannelEnabledValue(-1);
    delegate->setViewCutChangedAndResetDecoder(true);
    sendMouse(&stray, QEvent::MouseButtonPress);
    EXPECT_EQ(delegate->videoPaneCutState(), 1);
    EXPECT_FALSE(delegate->viewCutChangedAndResetDecoder());

    // A single-channel file locks the cut.
    tile.setChannelID(1);
    delegate->setVideoPaneLockCutStateFlag(true);
    delegate->setVideoPaneCutState(0);
    sendMouse(&tile, QEvent::MouseButtonPress);
    EXPECT_EQ(delegate->videoPaneCutState(), 0);
    EXPECT_FALSE(delegate->viewCutChangedAndResetDecoder());
}

// A picture of distinct pixels, in the engines' byte order.
QImage testPicture(int width, int height) {
    QImage picture(width, height, QImage::Format_RGBX8888);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            picture.setPixel(x, y, qRgb((x * 7) & 255, (y * 5) & 255, (x * y) & 255));
    return picture;
}

int largestDifference(const QImage &a, const QImage &b) {
    if (a.size() != b.size()) return 256;
    int worst = 0;
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x) {
            const QRgb p = a.pixel(x, y), q = b.pixel(x, y);
            worst = std::max({worst, std::abs(qRed(p) - qRed(q)), std::abs(qGreen(p) - qGreen(q)),
                              std::abs(qBlue(p) - qBlue(q))});
        }
    return worst;
}

TEST(CustomizedVideoView, TileShowsItsPictureUnderAStrokedBorderAsDrawnDirectly) {
    testApp();
    const QColor background = QColor::fromRgbF(0.05f, 0.05f, 0.05f, 1.0f);
    // A picture made for the tile, one a pixel short of it (rounding), and one stretched.
    for (const QSize size : {QSize(160, 120), QSize(159, 119), QSize(80, 60)}) {
        SCOPED_TRACE(std::to_string(size.width()) + "x" + std::to_string(size.height()));
        CustomizedVideoView tile;
        tile.resize(160, 120);
        tile.setBackgroundColor(background);
        tile.setBorderColor(Qt::white);
        tile.setBorderWidth(1.25);
        const QImage picture = testPicture(size.width(), size.height());
        tile.setContents(picture);
        EXPECT_TRUE(tile.testAttribute(Qt::WA_OpaquePaintEvent));

        QImage expected(160, 120, QImage::Format_RGB32);
        {
            QPainter painter(&expected);
            painter.setRenderHint(QPainter::Antialiasing, true);
            painter.setRenderHint(QPainter::SmoothPixmapTransform, true);
            painter.fillRect(QRectF(0, 0, 160, 120), background);
            if (size.width() >= 159)
                painter.drawImage(QPointF(0, 0), picture);
            else
                painter.drawImage(QRectF(0, 0, 160, 120), picture);
            painter.setPen(QPen(Qt::white, 1.25));
            painter.drawRoundedRect(QRectF(0.625, 0.625, 158.75, 118.75), 0.0, 0.0);
        }
        // Twice: the second paint draws the border from what the first kept.
        for (int paint = 0; paint < 2; ++paint)
            EXPECT_LE(largestDifference(tile.grab().toImage(), expected), 1) << "paint " << paint;
    }
}

// What the window's surface holds, as the screen shows it.
QImage windowSurface(QWidget &window) {
    return QGuiApplication::primaryScreen()
        ->grabWindow(window.winId())
        .toImage()
        .convertToFormat(QImage::Format_RGB32);
}

TEST(CustomizedVideoView, PictureAtItsOwnSizeReachesTheWindowSurfaceUnderWhatCoversIt) {
    testApp();
    LayerView window;
    window.resize(320, 240);
    window.setBackgroundColor(Qt::black);
    QWidget host(&window);
    host.setGeometry(13, 7, 280, 200);
    CustomizedVideoView tile(&host);
    tile.setGeometry(21, 11, 160, 120);
    tile.setBackgroundColor(Qt::black);
    // A sibling above the tile covers part of it.
    LayerView cover(&host);
    cover.setGeometry(61, 41, 40, 30);
    cover.setBackgroundColor(Qt::red);
    cover.raise();
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    const QPoint tileAt = tile.mapTo(&window, QPoint(0, 0));
    const QRect covered(cover.mapTo(&window, QPoint(0, 0)), cover.size());
    // The second picture repaints only the tile, within the part Qt leaves it.
    for (const int seed : {0, 3}) {
        SCOPED_TRACE(seed);
        QImage picture = testPicture(160, 120);
        picture.setPixel(seed, seed, qRgb(1, 2, 3));
        tile.setContents(picture);
        QImage surface;
        ASSERT_TRUE(serveEventsUntil([&] {
            surface = windowSurface(window);
            return surface.pixel(tileAt + QPoint(seed, seed)) == qRgb(1, 2, 3);
        }));
        int wrong = 0;
        for (int y = 0; y < 120; ++y)
            for (int x = 0; x < 160; ++x) {
                const QPoint at = tileAt + QPoint(x, y);
                const QRgb want =
                    covered.contains(at) ? qRgb(255, 0, 0) : (picture.pixel(x, y) | 0xff000000u);
                wrong += surface.pixel(at) != want;
            }
        EXPECT_EQ(wrong, 0);
        // Nothing around the tile is touched.
        EXPECT_EQ(surface.pixel(tileAt + QPoint(-1, -1)), qRgb(0, 0, 0));
        EXPECT_EQ(surface.pixel(tileAt + QPoint(160, 120)), qRgb(0, 0, 0));
    }
}

TEST(WindowPaintPacer, WithinAFrameOfTheLastPassChangesWaitAndArePaintedInOnePass) {
    testApp();
    LayerView window;
    window.resize(200, 100);
    struct PaintCounter : QObject {
        int paints = 0;
        bool eventFilter(QObject *, QEvent *event) override {
            if (event->type() == QEvent::Paint) ++paints;
            return false;
        }
    };
    std::vector<std::unique_ptr<CustomizedVideoView>> tiles;
    std::vector<std::unique_ptr<PaintCounter>> counters;
    for (int i = 0; i < 4; ++i) {
        tiles.push_back(std::make_unique<CustomizedVideoView>(&window));
        tiles.back()->setGeometry(i * 50, 0, 50, 100);
        counters.push_back(std::make_unique<PaintCounter>());
        tiles.back()->installEventFilter(counters.back().get());
    }
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    serveEvents();
    // A long frame, so that the second change falls within it on any machine.
    WindowPaintPacer pacer(&window, 3000);
    for (auto &counter : counters)
        counter->paints = 0;

    // The first pass goes through at once.
    tiles[0]->setContents(testPicture(50, 100));
    ASSERT_TRUE(serveEventsUntil([&] { return counters[0]->paints == 1; }));
    // Within the frame each tile holds its new picture at once, and nothing is painted.
    for (auto &tile : tiles) {
        const QImage picture = testPicture(50, 100);
        tile->setContents(picture);
        EXPECT_EQ(tile->contents().constBits(), picture.constBits());
    }
    serveEvents();
    EXPECT_TRUE(pacer.holding());
    EXPECT_EQ(counters[0]->paints, 1);
    EXPECT_EQ(counters[3]->paints, 0);
    // At the frame's end one pass paints every tile once.
    ASSERT_TRUE(serveEventsUntil(
        [&] {
            return std::all_of(counters.begin(), counters.end(), [](const auto &c) { return c->paints > 0; });
        },
        20000));
    serveEvents();
    EXPECT_FALSE(pacer.holding());
    EXPECT_EQ(counters[0]->paints, 2);
    for (size_t i = 1; i < counters.size(); ++i)
        EXPECT_EQ(counters[i]->paints, 1) << i;
}

// ---- Press-and-hold buttons -------------------------------------------------------------------

template <class Button> void checkPressAndHold(const char *down, const char *up, bool logsPressed) {
    testApp();
    QWidget host;
    host.resize(200, 100);
    Button button(&host);
    button.setGeometry(10, 10, 40, 40);
    host.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&host));
    QSignalSpy clicked(&button, &QPushButton::clicked);

    LogCapture log;
    EXPECT_EQ(button.btnPressed(), 0);
    QTest::mousePress(&button, Qt::LeftButton, {}, QPoint(20, 20));
    EXPECT_EQ(button.btnPressed(), 1);
    // Read from another thread, as the step thread does.
    int seen = -1;
    std::thread reader([&] { seen = button.btnPressed(); });
    reader.join();
    EXPECT_EQ(seen, 1);
    QTest::mouseRelease(&button, Qt::LeftButton, {}, QPoint(20, 20));
    EXPECT_EQ(button.btnPressed(), 0);
    EXPECT_EQ(clicked.count(), 1) << "released inside: the button's action is sent";
    EXPECT_EQ(log.count(down), 1);
    EXPECT_EQ(log.count(up), 1);
    EXPECT_EQ(log.count("btnPressed = 1"), logsPressed ? 1 : 0);

    // Released outside the button: no action, but the press is over.
    QTest::mousePress(&button, Qt::LeftButton, {}, QPoint(20, 20));
    EXPECT_EQ(button.btnPressed(), 1);
    QTest::mouseRelease(&button, Qt::LeftButton, {}, QPoint(150, 80));
    EXPECT_EQ(button.btnPressed(), 0);
    EXPECT_EQ(clicked.count(), 1);

    // A button disabled or hidden while held can no longer be released: its press ends there.
    QTest::mousePress(&button, Qt::LeftButton, {}, QPoint(20, 20));
    button.setEnabled(false);
    EXPECT_EQ(button.btnPressed(), 0);
    button.setEnabled(true);
    QTest::mousePress(&button, Qt::LeftButton, {}, QPoint(20, 20));
    button.hide();
    EXPECT_EQ(button.btnPressed(), 0);
}

TEST(PressAndHoldButton, RewindButtonReportsPressedWhileHeld) {
    checkPressAndHold<CustomizedButton1>("btn1 down\n", "btn1 up\n", false);
}

TEST(PressAndHoldButton, ForwardButtonReportsPressedWhileHeld) {
    checkPressAndHold<CustomizedButton2>("btn2 down\n", "btn2 up\n", true);
}

// ---- ColorGradientView ------------------------------------------------------------------------

QColor pixelAt(const QImage &image, int x, int y) {
    return QColor(image.pixel(x, y));
}

void expectNear(const QColor &actual, const QColor &expected, int tolerance, const char *what) {
    EXPECT_NEAR(actual.red(), expected.red(), tolerance) << what;
    EXPECT_NEAR(actual.green(), expected.green(), tolerance) << what;
    EXPECT_NEAR(actual.blue(), expected.blue(), tolerance) << what;
}

TEST(ColorGradientView, StartsWhiteToDarkGreyDownwardsAndFillsByItsColours) {
    testApp();
    ColorGradientView view;
    EXPECT_EQ(view.startingColor(), QColor::fromRgbF(1, 1, 1, 1));
    EXPECT_EQ(view.endingColor(), QColor::fromRgbF(1.0f / 3, 1.0f / 3, 1.0f / 3, 1));
    EXPECT_EQ(view.angle(), 270);
    view.resize(60, 40);

    // 270 degrees: the starting colour at the top, the ending colour at the bottom.
    QImage down = view.grab().toImage();
    expectNear(pixelAt(down, 30, 0), QColor(255, 255, 255), 12, "top");
    expectNear(pixelAt(down, 30, 39), QColor(85, 85, 85), 12, "bottom");

    // 180 degrees: from right to left.
    view.setStartingColor(QColor(255, 0, 0));
    view.setEndingColor(QColor(0, 0, 255));
    view.setAngle(180);
    QImage across = view.grab().toImage();
    expectNear(pixelAt(across, 59, 20), QColor(255, 0, 0), 14, "right end");
    expectNear(pixelAt(across, 0, 20), QColor(0, 0, 255), 14, "left end");
    expectNear(pixelAt(across, 30, 20), QColor(128, 0, 128), 20, "middle");
    expectNear(pixelAt(across, 59, 0), pixelAt(across, 59, 39), 2, "no vertical change");

    // Equal colours, or no ending colour: one plain fill.
    view.setEndingColor(QColor(255, 0, 0));
    QImage plain = view.grab().toImage();
    for (QPoint p : {QPoint(0, 0), QPoint(59, 39), QPoint(30, 20)})
        expectNear(pixelAt(plain, p.x(), p.y()), QColor(255, 0, 0), 0, "equal colours");
    view.setStartingColor(QColor(0, 200, 0));
    view.setEndingColor(QColor());
    QImage none = view.grab().toImage();
    for (QPoint p : {QPoint(0, 0), QPoint(59, 39)})
        expectNear(pixelAt(none, p.x(), p.y()), QColor(0, 200, 0), 0, "no ending colour");
}

} // namespace
