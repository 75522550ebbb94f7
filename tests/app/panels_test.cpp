// The settings and colour panels as a user meets them: defaults at the first start, settings
// kept across a restart only when the panel's close control closes it, the frame-rate cap;
// text colours on the titles and on-screen texts, the percentage colour, reset, and the colour
// controls on the tiles while the panel is open, while paused and after it closes.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QSettings>
#include <QSlider>
#include <QStandardPaths>

#include <functional>
#include <memory>
#include <vector>

#include "app/ColorSettingPanel.h"
#include "app/ConfigSettingPanel.h"
#include "app/VistrelAppDelegate.h"
#include "app/channel_selection_panel.h"
#include "app/controls/ColourWell.h"
#include "app/controls/CustomizedVideoView.h"
#include "app/controls/OsdTextLayer.h"
#include "app/main_window.h"
#include "app/panel_fold.h"
#include "app/settings/user_settings.h"
#include "common/run_cmd.h"
#include "qt_test_app.h"
#include "snapshot_fixtures.h"

namespace {

class PanelsTest : public ::testing::Test {
  protected:
    void SetUp() override {
        testApp();
        setPanelFoldStepDuration(0);
        scope = std::make_unique<snapshotfixture::SettingsScope>(dir.path());
        restart();
    }
    void TearDown() override {
        stop();
        scope.reset();
    }
    // A new start of the player, as far as the delegate goes.
    void restart() {
        stop();
        delegate = std::make_unique<VistrelAppDelegate>();
        delegate->applicationDidFinishLaunching();
        osdServerTime = delegate->videoPaneLayout()->osdServerTime();
        osdVideoMode = delegate->videoPaneLayout()->osdVideoMode();
        osdPercentage = delegate->videoPaneLayout()->osdPercentage();
    }
    void stop() { delegate.reset(); }
    ConfigSettingPanel &config() { return *delegate->configSettingPanel(); }
    ColorSettingPanel &colour() { return *delegate->colorSettingPanel(); }

    testutil::TempDir dir;
    std::unique_ptr<snapshotfixture::SettingsScope> scope;
    std::unique_ptr<VistrelAppDelegate> delegate;
    OsdTextLayer *osdServerTime = nullptr, *osdVideoMode = nullptr, *osdPercentage = nullptr;
};

TEST_F(PanelsTest, FirstStartDefaults) {
    const QString documents = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    EXPECT_EQ(config().filePathField()->text(), documents + "/Vistrel/AVI/");
    EXPECT_EQ(config().snapshotFilePathField()->text(), documents + "/Vistrel/Snapshot/");
    EXPECT_FALSE(config().audioDisabledCheckBtnForAVIConversion()->isChecked());
    EXPECT_FALSE(config().audioDisabledWhileAVIConversion());
    EXPECT_EQ(config().snapshotFileTypeBtn()->count(), 3);
    EXPECT_EQ(config().snapshotFileTypeBtn()->itemText(2), QStringLiteral("TIFF"));
    EXPECT_EQ(config().snapshotFileTypeIndex(), 0);
    EXPECT_EQ(config().frameRate(), 30.0f);
    EXPECT_EQ(config().contentBorderThickness(Qt::BottomEdge), 26.0);
    EXPECT_TRUE(config().windowFlags() & Qt::FramelessWindowHint);
    EXPECT_FALSE(colour().colorSettingPanelOpenedNow());
    EXPECT_EQ(colour().colourControls(), ColourControls{});
    EXPECT_FALSE(colour().backgroundView()->contents().isNull());
}

TEST_F(PanelsTest, SettingsPersistOnlyThroughTheCloseControl) {
    // Chosen, then the panel is hidden by a conversion: nothing stored, the fields still live.
    delegate->showConfigSettingPanel();
    config().filePathField()->setText("/media/usb/avi");
    config().snapshotFilePathField()->setText("/media/usb/snaps");
    config().audioDisabledCheckBtnForAVIConversion()->setChecked(true);
    config().snapshotFileTypeBtn()->setCurrentIndex(2);
    EXPECT_TRUE(config().audioDisabledWhileAVIConversion());
    EXPECT_EQ(config().snapshotFileTypeIndex(), 2);
    config().hide();
    restart();
    EXPECT_NE(config().filePathField()->text(), QStringLiteral("/media/usb/avi"));
    EXPECT_FALSE(config().audioDisabledWhileAVIConversion());

    // Chosen and closed with the close control: kept; type and rate start over.
    delegate->showConfigSettingPanel();
    EXPECT_TRUE(config().isVisible());
    config().filePathField()->setText("/media/usb/avi");
    config().snapshotFilePathField()->setText("/media/usb/snaps");
    config().audioDisabledCheckBtnForAVIConversion()->setChecked(true);
    config().snapshotFileTypeBtn()->setCurrentIndex(1);
    config().frameRateField()->setText("25");
    config().ui.closeBtn->click();
    EXPECT_FALSE(config().isVisible());
    restart();
    EXPECT_EQ(config().filePathField()->text(), QStringLiteral("/media/usb/avi"));
    EXPECT_EQ(config().snapshotFilePathField()->text(), QStringLiteral("/media/usb/snaps"));
    EXPECT_TRUE(config().audioDisabledCheckBtnForAVIConversion()->isChecked());
    EXPECT_TRUE(config().audioDisabledWhileAVIConversion());
    EXPECT_EQ(config().snapshotFileTypeIndex(), 0);
    EXPECT_EQ(config().frameRate(), 30.0f);

    // Emptied folders are stored empty and come back as the defaults.
    config().filePathField()->clear();
    config().snapshotFilePathField()->clear();
    config().closeConfigSettingPanel();
    restart();
    const QString documents = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    EXPECT_EQ(config().filePathField()->text(), documents + "/Vistrel/AVI/");
    EXPECT_EQ(config().snapshotFilePathField()->text(), documents + "/Vistrel/Snapshot/");
}

// The settings live under the application's own names; what a build without an organisation
// name kept is taken over once, and never over settings already kept under the new names.
TEST_F(PanelsTest, SettingsOfEarlierBuildsAreTakenOverOnce) {
    const QString key = QStringLiteral("keyFilePathFieldStringValue");
    QSettings(QStringLiteral("Unknown Organization"), QStringLiteral("recorderplayer"))
        .setValue(key, "/media/old");
    nameApplicationAndAdoptEarlierSettings();
    EXPECT_TRUE(QSettings().fileName().endsWith("/Vistrel/recorderplayer.conf"))
        << QSettings().fileName().toStdString();
    restart();
    EXPECT_EQ(config().filePathField()->text(), QStringLiteral("/media/old"));
    config().filePathField()->setText("/media/new");
    config().closeConfigSettingPanel();
    nameApplicationAndAdoptEarlierSettings();
    restart();
    EXPECT_EQ(config().filePathField()->text(), QStringLiteral("/media/new"));
}

TEST_F(PanelsTest, FrameRateIsCappedWhenThePanelCloses) {
    struct Case {
        QString typed, fieldAfter;
        float rateAfter;
    } cases[] = {{"75", "60", 60.0f}, {"59.5", "59.5", 59.5f}, {"60", "60", 60.0f}, {"", "", 0.0f}};
    for (const Case &c : cases) {
        delegate->showConfigSettingPanel();
        config().frameRateField()->setText(c.typed);
        config().ui.closeBtn->click();
        EXPECT_EQ(config().frameRateField()->text(), c.fieldAfter) << c.typed.toStdString();
        EXPECT_EQ(config().frameRate(), c.rateAfter) << c.typed.toStdString();
    }
}

TEST_F(PanelsTest, PanelsUnfoldOverTheMainWindowAndFoldAway) {
    delegate->window()->setGeometry(100, 100, 680, 400);
    delegate->window()->show();
    const QSize full = colour().size();
    delegate->window()->ui.colorAdjustBtn->click();
    EXPECT_TRUE(colour().isVisible());
    EXPECT_TRUE(colour().colorSettingPanelOpenedNow());
    const QRect main = delegate->window()->frameGeometry();
    EXPECT_EQ(colour().size(), full);
    EXPECT_EQ(colour().geometry().bottom(), main.bottom());
    EXPECT_EQ(colour().geometry().x(), main.x() + (main.width() - full.width()) / 2);
    colour().ui.closeBtn->click();
    EXPECT_FALSE(colour().isVisible());
    EXPECT_FALSE(colour().colorSettingPanelOpenedNow());
    EXPECT_EQ(colour().size(), full);

    // Animated: the panel ends at its full frame, and folds away before it is hidden.
    setPanelFoldStepDuration(20);
    delegate->showColorSettingPanel();
    EXPECT_TRUE(serveEventsUntil([&] { return colour().size() == full; }));
    EXPECT_EQ(colour().geometry().bottom(), main.bottom());
    colour().close();
    EXPECT_TRUE(colour().isVisible());
    EXPECT_TRUE(serveEventsUntil([&] { return !colour().isVisible(); }));
    EXPECT_FALSE(colour().colorSettingPanelOpenedNow());
    serveEvents();
    setPanelFoldStepDuration(0);
    delegate->showColorSettingPanel();
    EXPECT_EQ(colour().size(), full);
}

// With no file open, or converting, the window is short: a panel unfolded against its bottom
// edge would reach above the screen. Each panel lies inside the screen's available area, even
// with the window at the top-left corner of it.
TEST_F(PanelsTest, PanelsUnfoldInsideTheScreen) {
    delegate->makeWindowKeyAndOrderFront();
    const QRect area = delegate->window()->screen()->availableGeometry();
    delegate->window()->move(area.topLeft());
    serveEvents();
    ChannelSelectionPanel *channels = delegate->channelSelectionPanel();
    const std::vector<std::pair<QWidget *, std::function<void()>>> panels = {
        {&config(), [&] { delegate->window()->ui.configSettingBtn->click(); }},
        {&colour(), [&] { delegate->window()->ui.colorAdjustBtn->click(); }},
        {channels, [&] { delegate->showChannelSelectionPanel(); }},
    };
    for (const auto &[panel, open] : panels) {
        SCOPED_TRACE(panel->objectName().toStdString());
        ASSERT_GT(panel->height(), delegate->window()->height())
            << "the case needs a panel taller than the window";
        open();
        ASSERT_TRUE(panel->isVisible());
        EXPECT_TRUE(area.contains(panel->frameGeometry())) << "panel at " << panel->frameGeometry().y();
        panel->hide();
    }
}

TEST_F(PanelsTest, TextAndProgressColoursAndReset) {
    const QColor red = QColor::fromRgbF(1, 0, 0, 1), blue = QColor::fromRgbF(0, 0, 1, 1);
    colour().textColorWell()->setColor(red);
    colour().takeOSDTextColorFrom(colour().textColorWell());
    for (int i = 0; i < 16; ++i)
        EXPECT_EQ(delegate->videoPaneLayout()->videoViewTitle()[i]->foregroundColor(), red) << i;
    EXPECT_EQ(osdServerTime->foregroundColor(), red);
    EXPECT_EQ(osdVideoMode->foregroundColor(), red);
    EXPECT_EQ(osdPercentage->foregroundColor(), QColor(Qt::yellow));

    // The well's own signal, as a pick in the colour dialog sends it.
    colour().progressColorWell()->setColor(blue);
    emit colour().progressColorWell()->colorChosen();
    EXPECT_EQ(osdPercentage->foregroundColor(), blue);
    EXPECT_EQ(osdServerTime->foregroundColor(), red);
    for (int i = 0; i < 16; ++i)
        EXPECT_EQ(delegate->videoPaneLayout()->videoViewTitle()[i]->foregroundColor(), red) << i;

    colour().ui.brightnessSlider->setValue(30);
    colour().ui.saturationSlider->setValue(150);
    colour().ui.contrastSlider->setValue(200);
    EXPECT_EQ(colour().colourControls(), (ColourControls{0.3f, 1.5f, 2.0f}));
    colour().ui.resetDefaultBtn->click();
    EXPECT_EQ(colour().colourControls(), ColourControls{});
    EXPECT_EQ(colour().ui.brightnessSlider->value(), 0);
    EXPECT_EQ(colour().ui.saturationSlider->value(), 100);
    EXPECT_EQ(colour().ui.contrastSlider->value(), 100);
    EXPECT_EQ(colour().textColorWell()->color(), QColor(Qt::white));
    EXPECT_EQ(colour().progressColorWell()->color(), QColor(Qt::yellow));
    for (int i = 0; i < 16; ++i)
        EXPECT_EQ(delegate->videoPaneLayout()->videoViewTitle()[i]->foregroundColor(), QColor(Qt::white))
            << i;
    EXPECT_EQ(osdServerTime->foregroundColor(), QColor(Qt::white));
    EXPECT_EQ(osdVideoMode->foregroundColor(), QColor(Qt::white));
    EXPECT_EQ(osdPercentage->foregroundColor(), QColor(Qt::yellow));
}

TEST_F(PanelsTest, TilesFollowThePanelWhileOpenAndPausedAndKeepItsValues) {
    const QImage picture = snapshotfixture::syntheticPicture(64, 48);
    delegate->setChannelIndex(2);
    delegate->setImageRealHeight(48);

    // Panel closed, start values: pictures pass through untouched.
    colour().setColorBrightnessValue(0.4f);
    EXPECT_EQ(delegate->colourFilteredPicture(0, picture).constBits(), picture.constBits());

    // Open and paused: moving a slider adjusts the still tiles at once.
    delegate->showColorSettingPanel();
    delegate->setIsPlaybackNow(false);
    const QImage shown0 = delegate->colourFilteredPicture(0, picture);
    delegate->colourFilteredPicture(1, picture.mirrored());
    const ColourControls first{0.4f, 1.0f, 1.0f};
    EXPECT_EQ(shown0, ColourFilter::apply(picture, first));
    colour().ui.saturationSlider->setValue(40);
    const ColourControls second{0.4f, 0.4f, 1.0f};
    EXPECT_EQ(delegate->videoPaneLayout()->videoView()[0]->contents(), ColourFilter::apply(picture, second));
    EXPECT_EQ(delegate->videoPaneLayout()->videoView()[1]->contents(),
              ColourFilter::apply(picture.mirrored(), second));

    // Playing: a change reaches the next picture, the tiles are not redrawn from the old one.
    delegate->setIsPlaybackNow(true);
    colour().ui.contrastSlider->setValue(150);
    EXPECT_EQ(delegate->videoPaneLayout()->videoView()[0]->contents(), ColourFilter::apply(picture, second));
    const ColourControls third{0.4f, 0.4f, 1.5f};
    EXPECT_EQ(delegate->colourFilteredPicture(0, picture), ColourFilter::apply(picture, third));

    // Closed: the tiles keep the last values; a change made while closed waits for the panel.
    colour().close();
    EXPECT_FALSE(colour().colorSettingPanelOpenedNow());
    colour().setColorBrightnessValue(-0.5f);
    EXPECT_EQ(delegate->colourFilteredPicture(0, picture), ColourFilter::apply(picture, third));
    delegate->showColorSettingPanel();
    EXPECT_EQ(colour().colourControls(), (ColourControls{-0.5f, 0.4f, 1.5f}));
    EXPECT_EQ(delegate->colourFilteredPicture(0, picture),
              ColourFilter::apply(picture, colour().colourControls()));
}

} // namespace
