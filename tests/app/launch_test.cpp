// Launching: the window and its controls as launching leaves them, the status and menu
// images, the channel menus, and the teardown of running engines when the delegate goes.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QIcon>
#include <QLabel>
#include <QSlider>
#include <QStyle>
#include <QStyleOptionComboBox>

#include <algorithm>
#include <memory>
#include <thread>

#include "app/VistrelAppDelegate.h"
#include "app/channel_selection_panel.h"
#include "app/controls/AMIndeterminateProgressIndicatorCell.h"
#include "app/controls/CustomizedProgressSlider.h"
#include "app/frame_geometry.h"
#include "app/image_named.h"
#include "app/main_window.h"
#include "avi/ANAVIFrameBuilder.h"
#include "common/mkrec_fixture.h"
#include "engines/avc_format_playback.h"
#include "engines/dv_format_playback.h"
#include "engines/engine_controls.h"
#include "qt_test_app.h"
#include "recorderfile/avc_parse.h"

namespace {

class LaunchTest : public ::testing::Test {
  protected:
    void SetUp() override {
        testApp();
        delegate = std::make_unique<VistrelAppDelegate>();
        delegate->applicationDidFinishLaunching();
    }
    void TearDown() override { delegate.reset(); }

    // The picture of a menu item, at the size of the named image.
    static QImage itemImage(QComboBox *menu, int index, const QString &imageName) {
        const QPixmap reference = imageNamed(imageName);
        return comparable(menu->itemIcon(index).pixmap(reference.size()).toImage());
    }
    static QImage image(const QString &name) { return comparable(imageNamed(name).toImage()); }

    std::unique_ptr<VistrelAppDelegate> delegate;
};

TEST_F(LaunchTest, WindowIsSizedAndDecoratedForNoFile) {
    EXPECT_EQ(delegate->window()->size(), QSize(680, 146));
    EXPECT_EQ(VistrelAppDelegate::GetAppDelg(), delegate.get());
    EXPECT_EQ(delegate->playerState(), 3);
    EXPECT_FALSE(delegate->playbackIsActivated());
    EXPECT_EQ(delegate->window()->contentBorderThickness(Qt::BottomEdge), 17.0);
    EXPECT_EQ(delegate->channelSelectionPanel()->contentBorderThickness(Qt::BottomEdge), 23.0);
    EXPECT_EQ(delegate->window()->delegate(), delegate.get());

    // Both status views show the stop pictures; the deinterlace views and the full-screen
    // control panel are hidden.
    ASSERT_FALSE(delegate->statusImages().image(transport::StatusImage::Stop).isNull());
    ASSERT_FALSE(delegate->statusImages().image(transport::StatusImage::Stop, true).isNull());
    EXPECT_EQ(delegate->window()->ui.playbackStatusImageView->pixmap().cacheKey(),
              delegate->statusImages().image(transport::StatusImage::Stop).cacheKey());
    EXPECT_EQ(delegate->window()->ui.fullScreenPlaybackStatusImageView->pixmap().cacheKey(),
              delegate->statusImages().image(transport::StatusImage::Stop, true).cacheKey());
    EXPECT_TRUE(delegate->window()->ui.deinterlaceStatusImageView->isHidden());
    EXPECT_TRUE(delegate->window()->ui.fullScreenDeinterlaceStatusImageView->isHidden());
    EXPECT_TRUE(delegate->window()->ui.fullScreenControlPanel->isHidden());

    // Backgrounds and the full-screen panel's finish.
    EXPECT_EQ(comparable(delegate->window()->ui.statusPane->contents()), image("info_bg_480x60__.png"));
    EXPECT_EQ(comparable(delegate->window()->ui.controlPanel->contents()), image("background.png"));
    EXPECT_EQ(delegate->window()->ui.fullScreenControlPanel->cornerRadius(), 10.0);
    EXPECT_EQ(delegate->window()->ui.fullScreenControlPanel->borderWidth(), 2.0);
    EXPECT_EQ(delegate->window()->ui.fullScreenControlPanel->backgroundColor(),
              QColor::fromRgbF(0.1f, 0.1f, 0.1f, 0.25f));
    EXPECT_EQ(delegate->window()->ui.fullScreenControlPanel->borderColor(), QColor::fromRgbF(1, 1, 1, 1));

    // Volume at half; panels made; the snapshot folder is empty but exists; the spinner is
    // hidden, not spinning.
    EXPECT_EQ(delegate->window()->ui.playbackVolumeSlider->value() * 2,
              delegate->window()->ui.playbackVolumeSlider->minimum() +
                  delegate->window()->ui.playbackVolumeSlider->maximum());
    EXPECT_EQ(delegate->window()->ui.fullScreenPlaybackVolumeSlider->value() * 2,
              delegate->window()->ui.fullScreenPlaybackVolumeSlider->minimum() +
                  delegate->window()->ui.fullScreenPlaybackVolumeSlider->maximum());
    EXPECT_NE(delegate->colorSettingPanel(), nullptr);
    EXPECT_NE(delegate->configSettingPanel(), nullptr);
    EXPECT_FALSE(delegate->snapshots().snapshotSavedFilePath().isNull());
    EXPECT_TRUE(delegate->snapshots().snapshotSavedFilePath().isEmpty());
    ASSERT_NE(delegate->window()->ui.aviConvertingIndicator->cell(), nullptr);
    EXPECT_FALSE(delegate->window()->ui.aviConvertingIndicator->cell()->isSpinning());
    EXPECT_TRUE(delegate->window()->ui.aviConvertingIndicator->isHidden());
    EXPECT_NE(delegate->aviFrameBuilder(), nullptr);
}

TEST_F(LaunchTest, ProgressSlidersAndTheirBarsArePlaced) {
    const qreal knobHeight = imageNamed("slidebar_dot.png").height();
    const qreal knobWidth = imageNamed("slidebar_dot.png").width();
    ASSERT_GT(knobHeight, 0);

    // The window's slider: 364 wide at x 158, 6 above the control strip's bottom, as tall as
    // the knob.
    CustomizedProgressSlider *slider = delegate->window()->ui.playbackProgressSlider;
    EXPECT_EQ(slider->parentWidget(), delegate->window()->ui.controlPanel);
    EXPECT_EQ(bottomUpFrame(slider), QRectF(158.0, 6.0, 364.0, knobHeight));
    EXPECT_EQ(slider->doubleValue(), 0.0);

    CustomizedProgressSliderCell *cell = slider->progressSliderCell();
    ColorGradientView *bar = cell->leftBarView();
    LayerView *groove = cell->rightBarView();
    ASSERT_NE(bar, nullptr);
    ASSERT_NE(groove, nullptr);
    EXPECT_EQ(bar->parentWidget(), delegate->window()->ui.controlPanel);
    EXPECT_EQ(groove->parentWidget(), delegate->window()->ui.controlPanel);
    // Groove below the bar below the slider.
    const QObjectList stack = delegate->window()->ui.controlPanel->children();
    EXPECT_LT(stack.indexOf(groove), stack.indexOf(bar));
    EXPECT_LT(stack.indexOf(bar), stack.indexOf(slider));

    EXPECT_EQ(bar->startingColor(), QColor::fromRgbF(0.3f, 0.3f, 0.3f, 1.0f));
    EXPECT_EQ(bar->endingColor(), QColor::fromRgbF(0.45f, 0.45f, 0.45f, 0.0f));
    EXPECT_EQ(bar->angle(), 180);
    EXPECT_EQ(bar->cornerRadius(), 4.0);
    EXPECT_EQ(bar->borderColor(), QColor::fromRgbF(0.9f, 0.9f, 0.9f, 1.0f));
    EXPECT_EQ(groove->backgroundColor(), QColor::fromRgbF(0.55f, 0.55f, 0.55f, 1.0f));
    EXPECT_EQ(groove->borderColor(), QColor::fromRgbF(0.9f, 0.9f, 0.9f, 1.0f));
    EXPECT_EQ(groove->borderWidth(), 1.0);

    // Drawing the knob at 0 puts both bars 3 above the slider's bottom, 7 high, starting half a
    // knob less 2.5 from the slider's left; the bar is 2.5 wide, the groove spans the travel.
    slider->grab();
    EXPECT_EQ(cell->elapsedBarFrame(), QRectF(158.0 + knobWidth / 2 - 2.5, 9.0, 2.5, 7.0));
    EXPECT_EQ(cell->grooveFrame(), QRectF(158.0 + knobWidth / 2 - 2.5, 9.0, 364.0 - knobWidth + 5.0, 7.0));
    const QRectF grooveOnScreen = bottomUpFrame(groove);
    EXPECT_NEAR(grooveOnScreen.x(), cell->grooveFrame().x(), 1.0);
    EXPECT_NEAR(grooveOnScreen.width(), cell->grooveFrame().width(), 1.0);
    EXPECT_EQ(grooveOnScreen.y(), 9.0);
    EXPECT_EQ(grooveOnScreen.height(), 7.0);

    // At the end of the file the bar reaches the knob's centre at the groove's right end.
    slider->setDoubleValue(100.0);
    slider->grab();
    EXPECT_EQ(cell->elapsedBarFrame().right(), 158.0 + 364.0 - knobWidth / 2);

    // The full-screen slider keeps the origin and width its interface document gives it.
    MainWindow document;
    const QRectF documentFrame = bottomUpFrame(document.ui.fullScreenPlaybackProgressSlider);
    CustomizedProgressSlider *full = delegate->window()->ui.fullScreenPlaybackProgressSlider;
    EXPECT_EQ(full->parentWidget(), delegate->window()->ui.fullScreenControlPanel);
    EXPECT_EQ(bottomUpFrame(full),
              QRectF(documentFrame.x(), documentFrame.y(), documentFrame.width(), knobHeight));
    CustomizedProgressSliderCell *fullCell = full->progressSliderCell();
    EXPECT_EQ(fullCell->sliderBarHeight(), 6.0f);
    EXPECT_EQ(fullCell->sliderOriginYAdjustOffsetValue(), 4.0f);
    EXPECT_EQ(fullCell->leftBarView()->startingColor(), QColor::fromRgbF(0.15f, 0.35f, 1.0f, 1.0f));
    EXPECT_EQ(fullCell->leftBarView()->endingColor(), QColor::fromRgbF(0.45f, 0.6f, 1.0f, 1.0f));
    EXPECT_EQ(fullCell->leftBarView()->borderColor(), QColor::fromRgbF(1, 1, 1, 1));
    EXPECT_EQ(fullCell->rightBarView()->backgroundColor(), QColor::fromRgbF(0.7f, 0.7f, 0.7f, 0.5f));
    EXPECT_EQ(fullCell->leftBarView()->parentWidget(), delegate->window()->ui.fullScreenControlPanel);
}

TEST_F(LaunchTest, ChannelMenusAtLaunchAndAsTheProbeRebuildsThem) {
    QComboBox *audio = delegate->window()->ui.audioChannelSwitchBtn;
    QComboBox *grid = delegate->window()->ui.videoChannelSwitchBtn;
    ASSERT_EQ(audio->count(), 16);
    for (int i = 0; i < 16; ++i) {
        EXPECT_EQ(audio->itemData(i).toInt(), i + 1) << i;
        EXPECT_TRUE(audio->itemText(i).isEmpty());
        const QString name = QString("vol_CH%1_bk.png").arg(i + 1);
        EXPECT_EQ(itemImage(audio, i, name), image(name)) << qPrintable(name);
    }
    const char *gridNames[] = {"4ch_bk.png", "6ch_bk.png", "9ch_bk.png", "12ch_bk.png", "16ch_bk.png"};
    ASSERT_EQ(grid->count(), 5);
    for (int i = 0; i < 5; ++i) {
        EXPECT_FALSE(grid->itemData(i).isValid()) << "grid items carry no tag";
        EXPECT_EQ(itemImage(grid, i, gridNames[i]), image(gridNames[i])) << gridNames[i];
    }

    // Channels 3 and 7 only.
    const uint8_t channels[] = {3, 7};
    delegate->insertItemsToAudioChannelSwitchBtn(2, channels);
    ASSERT_EQ(audio->count(), 2);
    EXPECT_EQ(audio->itemData(0).toInt(), 3);
    EXPECT_EQ(audio->itemData(1).toInt(), 7);
    EXPECT_EQ(itemImage(audio, 0, "vol_CH3_bk.png"), image("vol_CH3_bk.png"));
    EXPECT_EQ(itemImage(audio, 1, "vol_CH7_bk.png"), image("vol_CH7_bk.png"));

    // No audio channel at all.
    delegate->insertItemsToAudioChannelSwitchBtn(0, nullptr);
    ASSERT_EQ(audio->count(), 1);
    EXPECT_EQ(audio->itemData(0).toInt(), 0);
    EXPECT_TRUE(audio->itemText(0).isEmpty());
    EXPECT_EQ(itemImage(audio, 0, "vol_Unsupported_bk.png"), image("vol_Unsupported_bk.png"));

    delegate->insertItmesToVideoChannelSwitchBtn(1);
    ASSERT_EQ(grid->count(), 1);
    EXPECT_EQ(itemImage(grid, 0, "4ch_bk.png"), image("4ch_bk.png"));
}

// Each grid item's label (white on its picture) ends inside the field beside the arrow, in
// which the picture is drawn 2 pixels in.
TEST_F(LaunchTest, GridMenuLabelsFitTheControl) {
    QComboBox *grid = delegate->window()->ui.videoChannelSwitchBtn;
    QStyleOptionComboBox option;
    option.initFrom(grid);
    option.iconSize = grid->iconSize();
    const QRect field =
        grid->style()->subControlRect(QStyle::CC_ComboBox, &option, QStyle::SC_ComboBoxEditField, grid);
    for (int i = 0; i < grid->count(); ++i) {
        const QImage picture = grid->itemIcon(i).pixmap(grid->iconSize()).toImage();
        int labelEnd = 0;
        for (int y = 0; y < picture.height(); ++y)
            for (int x = 0; x < picture.width(); ++x) {
                const QColor c = picture.pixelColor(x, y);
                if (std::min({c.red(), c.green(), c.blue(), c.alpha()}) > 120)
                    labelEnd = std::max(labelEnd, x + 1);
            }
        EXPECT_GT(labelEnd, 40) << "item " << i << " has no label";
        EXPECT_LE(labelEnd, field.width() - 2) << "item " << i << " is cut off";
    }
}

TEST_F(LaunchTest, EveryNamedImageLoadsAndEachStatusFieldHoldsItsOwn) {
    using transport::StatusImage;
    const StatusImages &images = delegate->statusImages();
    const std::vector<std::pair<const QPixmap *, const char *>> fields = {
        {&images.aviConvert, "avi_convert_status.png"},
        {&images.image(StatusImage::Play), "play.png"},
        {&images.image(StatusImage::Pause), "pause.png"},
        {&images.image(StatusImage::Stop), "stop.png"},
        {&images.image(StatusImage::Rwd1x), "fast_rewind_1x.png"},
        {&images.image(StatusImage::Fwd2x), "fast_forward_2x.png"},
        {&images.image(StatusImage::Rwd2x), "fast_rewind_2x.png"},
        {&images.image(StatusImage::Fwd4x), "fast_forward_4x.png"},
        {&images.image(StatusImage::Rwd4x), "fast_rewind_4x.png"},
        {&images.image(StatusImage::Fwd8x), "fast_forward_8x.png"},
        {&images.image(StatusImage::Rwd8x), "fast_rewind_8x.png"},
        {&images.image(StatusImage::Fwd16x), "fast_forward_16x.png"},
        {&images.image(StatusImage::Rwd16x), "fast_rewind_16x.png"},
        {&images.image(StatusImage::Play, true), "play_full.png"},
        {&images.image(StatusImage::Pause, true), "pause_full.png"},
        {&images.image(StatusImage::Stop, true), "stop_full.png"},
        {&images.image(StatusImage::Rwd1x, true), "fast_rewind_1x_full.png"},
        {&images.image(StatusImage::Fwd2x, true), "fast_forward_2x_full.png"},
        {&images.image(StatusImage::Rwd2x, true), "fast_rewind_2x_full.png"},
        {&images.image(StatusImage::Fwd4x, true), "fast_forward_4x_full.png"},
        {&images.image(StatusImage::Rwd4x, true), "fast_rewind_4x_full.png"},
        {&images.image(StatusImage::Fwd8x, true), "fast_forward_8x_full.png"},
        {&images.image(StatusImage::Rwd8x, true), "fast_rewind_8x_full.png"},
        {&images.image(StatusImage::Fwd16x, true), "fast_forward_16x_full.png"},
        {&images.image(StatusImage::Rwd16x, true), "fast_rewind_16x_full.png"},
    };
    ASSERT_EQ(fields.size(), 25u);
    std::vector<QImage> seen;
    for (const auto &field : fields) {
        const QPixmap &held = *field.first;
        ASSERT_FALSE(held.isNull()) << field.second;
        EXPECT_EQ(comparable(held.toImage()), image(field.second)) << field.second;
        seen.push_back(comparable(held.toImage()));
    }
    // Each state has a picture of its own.
    for (size_t a = 0; a < seen.size(); ++a)
        for (size_t b = a + 1; b < seen.size(); ++b)
            EXPECT_NE(seen[a], seen[b]) << fields[a].second << " " << fields[b].second;

    std::vector<QString> others = {
        "slidebar_dot.png", "info_bg_480x60__.png", "background.png", "vol_Unsupported_bk.png",
        "4ch_bk.png",       "6ch_bk.png",           "9ch_bk.png",     "12ch_bk.png",
        "16ch_bk.png"};
    for (int ch = 1; ch <= 16; ++ch)
        others.push_back(QString("vol_CH%1_bk.png").arg(ch));
    for (const QString &name : others)
        EXPECT_FALSE(imageNamed(name).isNull()) << qPrintable(name);

    // A name the resources lack gives no picture, and a missing knob a slider of height 0.
    EXPECT_TRUE(imageNamed("no_such_image.png").isNull());
    EXPECT_EQ(imageNamed("no_such_image.png").height(), 0);

    delegate->releaseNSImageIcon();
    for (const auto &field : fields)
        EXPECT_TRUE(field.first->isNull()) << field.second;
}

// ---- Teardown -------------------------------------------------------------------------------

class EngineTeardownTest : public ::testing::Test {
  protected:
    void SetUp() override {
        testApp();
        dvFmtResetControlFlags();
        ASSERT_TRUE(dir.valid());
        recording = mkrec::make(dir, "clip.dv4", {"--kind", "dv4-h264", "--duration", "6", "--fps", "25"});
        ASSERT_TRUE(recording.ok()) << recording.output;
    }
    void TearDown() override { dvFmtResetControlFlags(); }

    // Starts the DV engine on the recording the way a played file runs, and gives it time to
    // deliver pictures.
    void startDVEngine(VistrelAppDelegate &delegate) {
        delegate.setAbsoluteFilePath(QString::fromStdString(recording.path));
        delegate.setPlayerState(0);
        DVFormatPlayback *dv = delegate.handleDVFmtPlayback();
        ASSERT_NE(dv, nullptr);
        dv->setDvFmtVideoCodec(kDVFmtDV4H264);
        dv->resetAVStreamType();
        ASSERT_TRUE(dv->createDVFmtVideoPlaybackThread());
        ASSERT_TRUE(dv->createDVFmtAudioPlaybackThread());
        ASSERT_TRUE(dv->createDVFmtParserThread());
        gDVFmtPlaybackKeepRunning = 1;
        ASSERT_TRUE(dv->isDVFmtParserThreadExecuting());
        serveEventsUntil([&] { return delegate.iImageWidthFromStream() == 176; }, 1500);
    }

    mkrec::TempDir dir;
    mkrec::Recording recording;
};

TEST_F(EngineTeardownTest, ResetEndsEveryEngineThread) {
    VistrelAppDelegate delegate;
    delegate.applicationDidFinishLaunching();
    startDVEngine(delegate);
    DVFormatPlayback *dv = delegate.handleDVFmtPlayback();
    ASSERT_TRUE(dv->isDVFmtParserThreadExecuting());

    LogCapture log;
    delegate.resetPlaybackHandle();
    EXPECT_FALSE(dv->isDVFmtParserThreadExecuting());
    for (int ch = 0; ch < 16; ++ch)
        EXPECT_FALSE(dv->isDVFmtVideoPlaybackThreadExecuting(ch)) << ch;
    EXPECT_FALSE(dv->isDVFmtAudioPlaybackThreadExecuting());
    EXPECT_EQ(log.count("Cancel DVFmt Parser Thread...\n"), 1);
    EXPECT_EQ(log.count("Cancel DVFmt Video Playback Thread...\n"), 16);
    EXPECT_EQ(log.count("Cancel DVFmt Audio Playback Thread...\n"), 1);
    EXPECT_EQ(gDVFmtPlaybackKeepRunning.load(), 0);
    EXPECT_EQ(gDVFmtPlaybackParserThreadForceExit.load(), 0);
    EXPECT_EQ(delegate.aviFrameBuilder(), nullptr) << "the teardown drops the AVI builder";

    // A second teardown with nothing running finds nothing to cancel.
    LogCapture quiet;
    delegate.resetPlaybackHandle();
    EXPECT_TRUE(quiet.lines().empty());
}

TEST_F(EngineTeardownTest, QuittingWhilePlayingEndsTheEnginesFirst) {
    LogCapture log;
    {
        auto delegate = std::make_unique<VistrelAppDelegate>();
        delegate->applicationDidFinishLaunching();
        startDVEngine(*delegate);
        delegate.reset();
    }
    EXPECT_EQ(VistrelAppDelegate::GetAppDelg(), nullptr);
    EXPECT_EQ(log.count("Cancel DVFmt Parser Thread...\n"), 1);
    EXPECT_EQ(log.count("Cancel DVFmt Video Playback Thread...\n"), 16);
    // Whatever the engine had queued for the gone delegate is dropped, not run.
    serveEvents();
}

TEST_F(EngineTeardownTest, ProgressIsPostedToTheGuiThread) {
    VistrelAppDelegate delegate;
    delegate.applicationDidFinishLaunching();
    // An engine thread asks for a label and a button; nothing changes until the GUI thread
    // serves its events.
    std::thread engineThread([&] {
        delegate.setServerTimeLabelText("Creating .idx file  42%");
        delegate.setDeinterlaceEnableBtnEnabled(true);
    });
    engineThread.join();
    EXPECT_TRUE(delegate.window()->ui.serverTimeLabel->text().isEmpty());
    EXPECT_FALSE(delegate.window()->ui.deinterlaceEnableBtn->isEnabled());
    serveEvents();
    EXPECT_EQ(delegate.window()->ui.serverTimeLabel->text(), QString("Creating .idx file  42%"));
    EXPECT_TRUE(delegate.window()->ui.deinterlaceEnableBtn->isEnabled());
}

// The AVC engine started as a played AVC file runs it; returns once its reader is reading.
void startAVCEngine(VistrelAppDelegate &delegate, const std::string &path) {
    AVCFormatPlayback *avc = delegate.handleAVCFmtPlayback();
    ASSERT_NE(avc, nullptr);
    delegate.setPlayerState(0);
    delegate.setEnAVCFmtPlaybackStatus(kAVCFmtPlaybackPlay);
    avc->resetAVStreamType();
    ASSERT_TRUE(avc->createAVCFmtVideoPlaybackThread());
    ASSERT_TRUE(avc->createAVCFmtAudioPlaybackThread());
    ASSERT_NE(avc->openAVCFileAndStartParser(path), 0);
    serveEventsUntil([&] { return avc_parse_passes(avc->fdAVCFile()) > 3; }, 1500);
    ASSERT_GT(avc_parse_passes(avc->fdAVCFile()), 3);
}

TEST(AVCEngineTeardown, ResetAndQuitEndTheParserAndEveryAVCThread) {
    testApp();
    mkrec::TempDir dir;
    const mkrec::Recording rec = mkrec::make(dir, "clip.avc", {"--kind", "avc", "--duration", "6"});
    ASSERT_TRUE(rec.ok()) << rec.output;
    {
        VistrelAppDelegate delegate;
        delegate.applicationDidFinishLaunching();
        startAVCEngine(delegate, rec.path);
        AVCFormatPlayback *avc = delegate.handleAVCFmtPlayback();
        LogCapture log;
        delegate.resetPlaybackHandle();
        EXPECT_EQ(avc->fdAVCFile(), 0);
        for (int ch = 0; ch < 16; ++ch)
            EXPECT_FALSE(avc->isAVCFmtVideoPlaybackThreadExecuting(ch)) << ch;
        EXPECT_FALSE(avc->isAVCFmtAudioPlaybackThreadExecuting());
        EXPECT_EQ(log.count("Cancel AVCFmt Video Playback Thread...\n"), 16);
        EXPECT_EQ(log.count("Cancel AVCFmt Audio Playback Thread...\n"), 1);
    }
    // Quitting while an AVC file plays closes it before the delegate goes.
    LogCapture log;
    {
        auto delegate = std::make_unique<VistrelAppDelegate>();
        delegate->applicationDidFinishLaunching();
        startAVCEngine(*delegate, rec.path);
        delegate.reset();
    }
    EXPECT_EQ(VistrelAppDelegate::GetAppDelg(), nullptr);
    EXPECT_EQ(log.count("Cancel AVCFmt Video Playback Thread...\n"), 16);
    serveEvents();
}

TEST(DelegateWithoutEngine, TeardownWithNothingStartedIsHarmless) {
    testApp();
    VistrelAppDelegate delegate;
    // No file was ever opened; the teardown finds nothing to close or cancel.
    LogCapture log;
    delegate.resetPlaybackHandle();
    EXPECT_TRUE(log.lines().empty());
}

} // namespace
