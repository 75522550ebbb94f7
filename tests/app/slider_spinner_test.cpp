// The progress slider's cell (knob rectangle, elapsed bar and groove) and the spinner cell
// (clamping, spin state and its drawing geometry).
#include <gtest/gtest.h>

#include <QPainter>
#include <QSignalSpy>
#include <QTest>
#include <cmath>
#include <limits>
#include <memory>
#include <thread>

#include "app/controls/AMIndeterminateProgressIndicatorCell.h"
#include "app/controls/CustomizedProgressSlider.h"
#include "app/frame_geometry.h"
#include "app/image_named.h"
#include "qt_test_app.h"

namespace {

// ---- Progress slider cell ---------------------------------------------------------------------

class SliderCellTest : public ::testing::Test {
  protected:
    void SetUp() override {
        testApp();
        host = std::make_unique<QWidget>();
        host->resize(400, 60);
        slider = new CustomizedProgressSlider(host.get());
        knob = imageNamed("slidebar_dot.png").size();
        ASSERT_FALSE(knob.isEmpty());
        // Slider 300 wide at x 20, 10 above the host's bottom; bars 7 high, 3 above its bottom.
        slider->setFrameWithKnobImage(QRectF(20, 10, 300, knob.height()), "slidebar_dot.png", 7.0f, 3.0f);
        setBottomUpFrame(slider, QRectF(20, 10, 300, knob.height()));
        cell = slider->progressSliderCell();
    }

    // Made once the application exists.
    std::unique_ptr<QWidget> host;
    CustomizedProgressSlider *slider = nullptr;
    CustomizedProgressSliderCell *cell = nullptr;
    QSize knob;
};

TEST_F(SliderCellTest, SetUpTakesTheKnobAndMakesBothBars) {
    EXPECT_EQ(slider->doubleValue(), 0.0);
    EXPECT_EQ(CustomizedProgressSlider::kMinValue, 0.0);
    EXPECT_EQ(CustomizedProgressSlider::kMaxValue, 100.0);
    EXPECT_TRUE(cell->usesCustomTrackImage());
    EXPECT_EQ(cell->knobWidth(), static_cast<float>(knob.width()));
    EXPECT_EQ(cell->halfKnobWidth(), knob.width() * 0.5f);
    EXPECT_EQ(cell->sliderOriginX(), 20.0f);
    EXPECT_EQ(cell->sliderOriginY(), 10.0f);
    EXPECT_EQ(cell->sliderBarHeight(), 7.0f);
    EXPECT_EQ(cell->sliderOriginYAdjustOffsetValue(), 3.0f);
    ASSERT_NE(cell->leftBarView(), nullptr);
    ASSERT_NE(cell->rightBarView(), nullptr);
    EXPECT_EQ(cell->leftBarView()->parent(), nullptr) << "the caller places the bars";
    EXPECT_EQ(bottomUpFrame(slider), QRectF(20, 10, 300, knob.height()))
        << "the slider's frame is the caller's";
}

TEST_F(SliderCellTest, KnobRectangleIsThePictureCentredOnTheStockKnob) {
    const QRectF stock(50.0, 0.0, 21.0, 21.0);
    const QRectF k = cell->knobRectFlipped(stock);
    EXPECT_EQ(k.size(), QSizeF(knob));
    EXPECT_DOUBLE_EQ(k.center().x(), stock.center().x());
    EXPECT_DOUBLE_EQ(k.center().y(), stock.center().y());

    // Without a knob picture the knob has no size and no width.
    slider->setFrameWithKnobImage(QRectF(20, 10, 300, 13), "missing_knob.png", 7.0f, 3.0f);
    EXPECT_EQ(cell->knobWidth(), 0.0f);
    EXPECT_EQ(cell->halfKnobWidth(), 0.0f);
    EXPECT_EQ(cell->knobRectFlipped(stock).size(), QSizeF(0, 0));
}

TEST_F(SliderCellTest, BarsFollowTheKnob) {
    const float half = knob.width() * 0.5f;
    cell->drawBarInside(QRectF(0, 0, 300, 13), true);

    cell->drawKnob(nullptr, QRectF(0, 0, knob.width(), knob.height()));
    EXPECT_EQ(cell->elapsedBarFrame(), QRectF(20 + half - 2.5, 13, 2.5, 7)) << "knob at 0: 2.5 wide";
    EXPECT_EQ(cell->grooveFrame(), QRectF(20 + half - 2.5, 13, 300 - knob.width() + 5.0, 7));
    EXPECT_EQ(cell->sliderKnobRect(), QRectF(0, 0, knob.width(), knob.height()));

    cell->drawKnob(nullptr, QRectF(100, 0, knob.width(), knob.height()));
    EXPECT_EQ(cell->elapsedBarFrame().width(), 102.5) << "knob at 100: 102.5 wide";
    EXPECT_EQ(cell->grooveFrame().width(), 300 - knob.width() + 5.0) << "the groove does not move";

    // The bar views themselves, bottom-up in the host, to the nearest pixel.
    cell->leftBarView()->setParent(host.get());
    cell->rightBarView()->setParent(host.get());
    cell->drawKnob(nullptr, QRectF(100, 0, knob.width(), knob.height()));
    const QRectF bar = bottomUpFrame(cell->leftBarView());
    EXPECT_NEAR(bar.x(), 20 + half - 2.5, 0.51);
    EXPECT_EQ(bar.y(), 13.0);
    EXPECT_NEAR(bar.width(), 102.5, 1.0);
    EXPECT_EQ(bar.height(), 7.0);
}

TEST_F(SliderCellTest, RedrawMovesTheBarOnlyWhenTheKnobMoved) {
    cell->leftBarView()->setParent(host.get());
    cell->drawBarInside(QRectF(0, 0, 300, 13), true);
    cell->drawKnob(nullptr, QRectF(40, 0, knob.width(), knob.height()));
    ColorGradientView *bar = cell->leftBarView();

    const QRect placed = bar->geometry();
    bar->setGeometry(0, 0, 1, 1);
    cell->redrawBarInside();
    EXPECT_EQ(bar->geometry(), placed) << "the knob moved since the last redraw";
    bar->setGeometry(0, 0, 1, 1);
    cell->redrawBarInside();
    EXPECT_EQ(bar->geometry(), QRect(0, 0, 1, 1)) << "nothing moved: nothing to do";

    // From another thread the work waits for the GUI thread.
    cell->drawKnob(nullptr, QRectF(80, 0, knob.width(), knob.height()));
    bar->setGeometry(0, 0, 1, 1);
    std::thread parser([&] { cell->redrawBarInside(); });
    parser.join();
    EXPECT_EQ(bar->geometry(), QRect(0, 0, 1, 1));
    serveEvents();
    EXPECT_NEAR(bottomUpFrame(bar).width(), 82.5, 1.0);
}

TEST_F(SliderCellTest, ValueIsAPercentageAndDraggingEndsWithARelease) {
    slider->setDoubleValue(37.9);
    EXPECT_NEAR(slider->doubleValue(), 37.9, 1e-9);
    EXPECT_EQ(slider->intValue(), 37);
    slider->setDoubleValue(250.0);
    EXPECT_EQ(slider->doubleValue(), 100.0);
    slider->setDoubleValue(-3.0);
    EXPECT_EQ(slider->doubleValue(), 0.0);
    slider->setDoubleValue(std::numeric_limits<double>::quiet_NaN());
    EXPECT_EQ(slider->doubleValue(), 0.0);

    // The knob a stock slider would draw runs over the slider's width.
    slider->setDoubleValue(100.0);
    EXPECT_DOUBLE_EQ(slider->stockKnobRect().right(), slider->width());
    slider->setDoubleValue(0.0);
    EXPECT_DOUBLE_EQ(slider->stockKnobRect().left(), 0.0);

    host->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(host.get()));
    QSignalSpy released(slider, &QAbstractSlider::sliderReleased);
    QTest::mousePress(slider, Qt::LeftButton, {}, QPoint(slider->width() - 1, slider->height() / 2));
    EXPECT_EQ(slider->doubleValue(), 100.0);
    EXPECT_EQ(released.count(), 0);
    QTest::mouseRelease(slider, Qt::LeftButton, {}, QPoint(slider->width() / 2, slider->height() / 2));
    EXPECT_EQ(released.count(), 1);
    EXPECT_NEAR(slider->doubleValue(), 50.0, 0.5);
}

// ---- Spinner cell -----------------------------------------------------------------------------

QImage drawSpinner(const AMIndeterminateProgressIndicatorCell &cell, int w, int h) {
    QImage image(w, h, QImage::Format_ARGB32);
    image.fill(Qt::white);
    QPainter painter(&image);
    cell.drawWithFrame(painter, QRectF(0, 0, w, h), true);
    return image;
}

int grey(const QImage &image, double x, double y) {
    return qGray(image.pixel(int(std::floor(x)), int(std::floor(y))));
}

// The pixel on spoke direction `degrees` (y down, 0 = right) at `radius` from the centre.
int greyAt(const QImage &image, double cx, double cy, double degrees, double radius) {
    const double a = degrees * M_PI / 180.0;
    return grey(image, cx + std::cos(a) * radius, cy + std::sin(a) * radius);
}

// How many pixels of a row, between two columns, a spoke darkens.
int darkPixels(const QImage &image, int row, int fromX, int toX) {
    int n = 0;
    for (int x = fromX; x <= toX; ++x)
        n += qGray(image.pixel(x, row)) < 160;
    return n;
}

TEST(SpinnerCell, StartsStillAndKeepsItsValueInRange) {
    testApp();
    AMIndeterminateProgressIndicatorCell cell;
    EXPECT_FALSE(cell.isSpinning());
    EXPECT_FALSE(cell.isDisplayedWhenStopped());
    EXPECT_EQ(cell.doubleValue(), 0.0);
    EXPECT_DOUBLE_EQ(cell.animationDelay(), 1.0 / 12.0);
    EXPECT_EQ(cell.color(), QColor(Qt::black));

    cell.setDoubleValue(1.7);
    EXPECT_EQ(cell.doubleValue(), 1.0);
    cell.setDoubleValue(-0.2);
    EXPECT_EQ(cell.doubleValue(), 0.0);

    cell.setObjectValue(true);
    EXPECT_TRUE(cell.isSpinning());
    cell.setObjectValue(0);
    EXPECT_FALSE(cell.isSpinning());
    cell.setObjectValue(2.5);
    EXPECT_TRUE(cell.isSpinning());
    cell.setObjectValue(QVariant::fromValue(QPoint(1, 1)));
    EXPECT_FALSE(cell.isSpinning()) << "a value without truth stops it";

    // Only opaque spoke colours.
    EXPECT_FALSE(cell.setColor(QColor(255, 0, 0, 128)));
    EXPECT_EQ(cell.color(), QColor(Qt::black));
    EXPECT_TRUE(cell.setColor(QColor(0, 0, 255)));
    EXPECT_EQ(cell.color(), QColor(0, 0, 255));

    // Neither spinning nor shown when stopped: nothing at all.
    cell.setSpinning(false);
    cell.setDisplayedWhenStopped(false);
    const QImage blank = drawSpinner(cell, 40, 40);
    for (int y = 0; y < 40; ++y)
        for (int x = 0; x < 40; ++x)
            ASSERT_EQ(blank.pixel(x, y), qRgb(255, 255, 255));
}

TEST(SpinnerCell, LargeSpinnerGeometry) {
    testApp();
    AMIndeterminateProgressIndicatorCell cell;
    cell.setSpinning(true);
    const QImage image = drawSpinner(cell, 40, 40);
    // 40 x 40: spokes from radius 9.2 to 15.2, 3.2 wide, the first one opaque and pointing up.
    EXPECT_LT(greyAt(image, 20, 20, 270, 12.2), 40);
    EXPECT_LT(greyAt(image, 20, 20, 270, 10.0), 40);
    EXPECT_LT(greyAt(image, 20, 20, 270, 14.5), 40);
    EXPECT_GT(greyAt(image, 20, 20, 270, 7.0), 245) << "inside the inner radius";
    EXPECT_GT(greyAt(image, 20, 20, 270, 17.5), 245) << "beyond the outer radius";
    const int wide = darkPixels(image, 7, 16, 24);
    EXPECT_GE(wide, 3) << "the spoke is 3.2 wide";
    EXPECT_LE(wide, 4);
    // The next spokes follow counter-clockwise on the screen and fade: 1 - 0.25 sqrt(i).
    EXPECT_NEAR(greyAt(image, 20, 20, 240, 12.2), 255 * 0.25, 25);
    EXPECT_NEAR(greyAt(image, 20, 20, 180, 12.2), 255 * 0.25 * std::sqrt(3.0), 25);
    EXPECT_NEAR(greyAt(image, 20, 20, 300, 12.2), 255 * 0.25 * std::sqrt(11.0), 25);
}

TEST(SpinnerCell, SmallSpinnerGeometry) {
    testApp();
    AMIndeterminateProgressIndicatorCell cell;
    cell.setSpinning(true);
    // 20 x 40 uses the smaller side: radii 5.4 and 9.6, 1.6 wide, centred at (10, 20).
    const QImage image = drawSpinner(cell, 20, 40);
    EXPECT_LT(greyAt(image, 10, 20, 270, 7.5), 90);
    EXPECT_GT(greyAt(image, 10, 20, 270, 3.5), 245);
    EXPECT_GT(greyAt(image, 10, 20, 270, 11.5), 245);
    const int narrow = darkPixels(image, 12, 7, 13);
    EXPECT_GE(narrow, 1) << "the spoke is 1.6 wide";
    EXPECT_LE(narrow, 2);
}

TEST(SpinnerCell, ValueTurnsTheOpaqueSpokeClockwiseWhileSpinning) {
    testApp();
    AMIndeterminateProgressIndicatorCell cell;
    cell.setSpinning(true);
    cell.setDoubleValue(0.5);
    QImage image = drawSpinner(cell, 40, 40);
    EXPECT_LT(greyAt(image, 20, 20, 90, 12.2), 40) << "half way: pointing down";
    EXPECT_NEAR(greyAt(image, 20, 20, 270, 12.2), 255 * 0.25 * std::sqrt(6.0), 25);

    cell.setDoubleValue(0.25);
    image = drawSpinner(cell, 40, 40);
    EXPECT_LT(greyAt(image, 20, 20, 0, 12.2), 40) << "a quarter: pointing right";

    // Stopped but shown: at rest, whatever the value.
    cell.setSpinning(false);
    cell.setDisplayedWhenStopped(true);
    image = drawSpinner(cell, 40, 40);
    EXPECT_LT(greyAt(image, 20, 20, 270, 12.2), 40);
    EXPECT_GT(greyAt(image, 20, 20, 0, 12.2), 100);
}

} // namespace
