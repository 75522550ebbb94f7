// A conversion driven through the real engines without the application's activation: a host
// that starts and stops the DV and AVC engines the way a conversion does, and forwards what
// they deliver (pictures' compressed frames, decoded audio, time, end of file) to the
// conversion; sheets that the test answers; and the real window's widgets.
#pragma once

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QComboBox>
#include <QLabel>
#include <QObject>

#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "app/VistrelAppDelegate.h"
#include "app/channel_selection_panel.h"
#include "app/controls/AMIndeterminateProgressIndicatorCell.h"
#include "app/controls/CustomizedButton.h"
#include "app/conversion/avi_conversion.h"
#include "app/main_thread_poster.h"
#include "app/main_window.h"
#include "audio/audio_stream_processor.h"
#include "common/mkrec_fixture.h"
#include "engines/avc_format_playback.h"
#include "engines/dv_format_playback.h"
#include "engines/engine_controls.h"
#include "qt_test_app.h"

namespace convtest {

struct Sheet {
    QString message, informative;
    QStringList buttons;
    std::function<void(int)> done;
};

class RecordingSheets : public SheetPresenter {
  public:
    void showSheet(const QString &message, const QString &informative, const QStringList &buttons,
                   std::function<void(int)> done) override {
        sheets.push_back({message, informative, buttons, std::move(done)});
    }
    // Answers the last sheet with the button code.
    void answer(int code) {
        ASSERT_FALSE(sheets.empty());
        auto done = sheets.back().done;
        if (done) done(code);
    }
    std::vector<Sheet> sheets;
};

// What the engines handed to the conversion while it ran.
struct Delivered {
    struct Video {
        unsigned channel;
        std::string md5;
        bool key;
        _SYSTEMTIME time;
    };
    std::vector<Video> video;
    std::vector<std::vector<char>> pcm; // one entry per packet copied for the AVI
};

class EngineHost : public ConversionHost, public EngineDelegate {
  public:
    EngineHost() : poster_(&context_) {
        dvFmtResetControlFlags();
        dv_.setAppDelg(this);
        dv_.setMainThreadPoster(&poster_);
        dv_.setPImageWidthFromStream(&streamW_);
        dv_.setPImageHeightFromStream(&streamH_);
        avc_.setAppDelg(this);
        avc_.setMainThreadPoster(&poster_);
        avc_.setPImageWidthFromStream(&streamW_);
        avc_.setPImageHeightFromStream(&streamH_);
        avc_.setHandleOfImageRectFromStream();
    }
    ~EngineHost() override {
        stopEngines();
        dvFmtResetControlFlags();
    }

    // ---- Set by the test ----
    AVIConversion *conversion = nullptr;
    ConversionSettings settings;
    QString playingPath;
    uint32_t videoMask = 1, audioMask = 1; // what the probe reports
    bool dv4Mpeg4 = false, dvr700 = false;
    std::atomic<int> state{3};

    // ---- Records ----
    std::mutex mutex;
    Delivered delivered;
    int stops = 0, starts = 0, unsupportedShown = 0, windowPrepared = 0;
    QString file;

    // ---- ConversionHost ----
    ConversionSettings conversionSettings() override { return settings; }
    int playerState() override { return state; }
    void setPlayerState(int s) override { state = s; }
    QString currentFilePath() override { return playingPath; }
    void setConversionFile(const QString &path) override { file = path; }
    void stopEngines() override {
        ++stops;
        avc_.closeAVCFileAndStopParser();
        if (dv_.isDVFmtParserThreadExecuting()) {
            gDVFmtPlaybackParserThreadForceExit = 1;
            gDVFmtPlaybackKeepRunning = 1;
            for (int i = 0; i < 10000 && gDVFmtPlaybackParserThreadForceExit.load(); ++i) usleep(1000);
            EXPECT_EQ(gDVFmtPlaybackParserThreadForceExit.load(), 0) << "the DV parser did not leave";
        }
        dv_.cancelAllThreads();
        avc_.cancelAllThreads();
        gDVFmtPlaybackKeepRunning = 0;
        audio_.reset();
        // As the application's teardown does.
        if (conversion) conversion->releaseFileWrapper();
    }
    void prepareWindowForConversion() override { ++windowPrepared; }
    int checkTotalChannelsForAVIConversion() override {
        const QString ext = file.mid(file.lastIndexOf('.') + 1).toLower();
        if (ext != "avc" && ext != "dv4" && ext != "dv5") return -1;
        if (ext == "dv4" || __builtin_popcount(videoMask) <= 1) return 1;
        conversion->setChannelSelectionBtnWithVideoChannels(videoMask, audioMask);
        return 0;
    }
    bool startEngineForConversion(int videoChannel, int audioChannel, int *vdoFmtIdx) override {
        ++starts;
        const QString ext = file.mid(file.lastIndexOf('.') + 1).toLower();
        selectedVideo_ = videoChannel > 0 ? videoChannel : __builtin_ffs(int(videoMask));
        selectedAudio_ = audioChannel > 0 ? audioChannel : __builtin_ffs(int(audioMask));
        audio_ = std::make_unique<AudioStreamProcessor>(&createNullAudioOutput);
        for (int ch = 0; ch < 16; ++ch) audio_->createDeviceAudio(ch);
        gDVFmtPlaybackSpeed = 0;
        avcStatus_ = kAVCFmtPlaybackPlay;
        if (ext == "avc") {
            avc_.resetAVStreamType();
            return avc_.createAVCFmtVideoPlaybackThread() && avc_.createAVCFmtAudioPlaybackThread() &&
                   avc_.openAVCFileAndStartParser(QFile::encodeName(file).toStdString()) != 0;
        }
        if (ext == "dv4") {
            dv_.setDvFmtVideoCodec(dv4Mpeg4 ? kDVFmtDV4MPEG4 : kDVFmtDV4H264);
            *vdoFmtIdx = dv4Mpeg4 ? 1 : 0;
        } else {
            dv_.setDvFmtVideoCodec(kDVFmtDV5);
            dv_.setIsDVRType700(dvr700);
            *vdoFmtIdx = 0;
        }
        dv_.resetAVStreamType();
        gDVFmtPlaybackKeepRunning = 1;
        gDVFmtPlaybackStopActionLaunched = 0;
        gDVFmtPlaybackSliderValueChanged = 0;
        gDVFmtPlaybackIsPauseNow = 0;
        return dv_.createDVFmtVideoPlaybackThread() && dv_.createDVFmtAudioPlaybackThread() &&
               dv_.createDVFmtParserThread();
    }
    void setUIInCaseOfUnsupportedFileForamt() override { ++unsupportedShown; }
    void showAndEnableDeinterlace(bool) override {}

    // ---- EngineDelegate: the conversion path of the callbacks ----
    std::string absoluteFilePath() override { return QFile::encodeName(file).toStdString(); }
    void setICurrentSelectedAudioCH(int ch) override { selectedAudio_ = ch; }
    int iCurrentSelectedAudioCH() override { return selectedAudio_; }
    void setAudioProcessorWithChannel(unsigned channel, int format) override {
        if (AudioStreamProcessor *p = audio_.get()) {
            p->setParameterWithChannel(int(channel), format);
            p->playDeviceAudio(int(channel));
        }
        if (conversion) conversion->setContainsAudioData();
    }
    bool checkNeedDecodeForMultiCHs(uint8_t channel) override { return channel + 1 == selectedVideo_; }
    void setAVCFmtVdoIdxForAVIBuilder(int codec) override {
        if (conversion) conversion->setAVCFmtVdoIdxForAVIBuilder(codec);
    }
    void audioUpdateTaskWithBuffer(const uint8_t *buffer, unsigned length, int format, unsigned channel) override {
        AudioStreamProcessor *p = audio_.get();
        if (!p || !conversion) return;
        const bool copy = conversion->needCopyPCM();
        int pcmLength = 0;
        p->addAudioDataToDevice(int(channel), buffer, int(length), pcm_, int(sizeof pcm_), &pcmLength, copy);
        if (!copy || pcmLength <= 0) return;
        {
            std::lock_guard<std::mutex> lock(mutex);
            delivered.pcm.emplace_back(pcm_, pcm_ + pcmLength);
        }
        conversion->audioDataWrapping(pcm_, pcmLength, format);
    }
    bool videoFlipImageFlag() override { return false; }
    bool videoDeinterlaceFlag() override { return false; }
    void setDeinterlaceEnableBtnEnabled(bool) override {}
    float decoderTargetWidth() override { return 0; }
    float decoderTargetHeight() override { return 0; }
    void setImageRealWidth(int width) override { realW_ = width; }
    void setImageRealHeight(int height) override { realH_ = height; }
    int imageRealWidth() override { return realW_; }
    int imageRealHeight() override { return realH_; }
    void videoUpdateTaskWithChannel(unsigned channel, VideoImageRef, const uint8_t *buffer, unsigned length,
                                    bool isIFrame, unsigned interval, const _SYSTEMTIME &sysTime) override {
        if (!conversion || !conversion->isConverting()) return;
        {
            std::lock_guard<std::mutex> lock(mutex);
            delivered.video.push_back({channel, mkrec::md5Hex(buffer, length), isIFrame, sysTime});
        }
        conversion->videoDataWrapping(channel, buffer, length, realW_, realH_, isIFrame, interval, sysTime);
    }
    void setSys_Time(const _SYSTEMTIME &) override {}
    void updateProcessingInfoWithServerTime(const std::string &time, float progress) override {
        if (conversion) conversion->updateProcessingInfo(QString::fromStdString(time), progress);
    }
    void upadatePlaybackProgress(float) override {}
    void setDVFmtProcessingInfoAtEndOfProcessing() override {
        if (conversion && state == 1) conversion->endOfRecording();
    }
    void setAVCFmtProcessingInfoAtEndOfProcessing() override {
        if (conversion && state == 1) conversion->endOfRecording();
    }
    int enAVCFmtPlaybackStatus() override { return avcStatus_; }
    void setEnAVCFmtPlaybackStatus(int status) override { avcStatus_ = status; }
    void setPlaybackTriState(uint8_t) override {}
    void setDevChannelTitle(const char *) override {}
    void setServerTimeLabelText(const std::string &) override {}

  private:
    QObject context_;
    QtMainThreadPoster poster_;
    DVFormatPlayback dv_;
    AVCFormatPlayback avc_;
    std::atomic<int> streamW_{0}, streamH_{0};
    std::unique_ptr<AudioStreamProcessor> audio_;
    std::atomic<int> selectedVideo_{1}, selectedAudio_{0};
    std::atomic<int> realW_{0}, realH_{0};
    std::atomic<int> avcStatus_{kAVCFmtPlaybackPlay};
    char pcm_[4096];
};

// The real window with its buttons, the host, the sheets and the conversion between them.
struct Rig {
    // `presenter`: the sheets to show (default: sheets the test answers).
    explicit Rig(SheetPresenter *presenter = nullptr) {
        testApp();
        delegate = std::make_unique<VistrelAppDelegate>();
        delegate->applicationDidFinishLaunching();
        VistrelAppDelegate &d = *delegate;
        ConversionWidgets w;
        w.window = d.window;
        w.lockedButtons = {d.audioChannelSwitchBtn, d.videoChannelSwitchBtn, d.osdEnableBtn, d.flipImageBtn,
                           d.fullScreenBtn, d.openFileBtn, d.configSettingBtn, d.aviConversionBtn, d.snapShotBtn,
                           d.colorAdjustBtn, d.playActionBtn, d.pauseActionBtn, d.fastRewindBtn, d.fastForwardBtn,
                           d.prevFileSelectionBtn, d.nextFileSelectionBtn};
        w.deinterlaceEnableBtn = d.deinterlaceEnableBtn;
        w.aviProgressLabel = d.aviProgressLabel;
        w.aviFrameRateLabel = d.aviFrameRateLabel;
        w.serverTimeLabel = d.serverTimeLabel;
        w.videoModeLabel = d.videoModeLabel;
        w.playbackStatusImageView = d.playbackStatusImageView;
        w.aviConvertStatusImg = &d.aviConvertStatusImg;
        w.stopStatusImg = &d.stopStatusImg;
        w.aviConvertingIndicator = d.aviConvertingIndicator;
        w.channelSelectionPanel = d.channelSelectionPanel;
        w.playbackProgressSlider = d.playbackProgressSlider;
        conversion = std::make_unique<AVIConversion>(&host, presenter ? presenter : &sheets, w);
        conversion->otherFileDelayMs = 50;
        host.conversion = conversion.get();
    }
    ~Rig() {
        conversion.reset();
        host.conversion = nullptr;
        host.stopEngines();
        delegate.reset();
    }
    // How many of the locked buttons are enabled.
    int enabledButtons() const {
        int n = 0;
        for (QWidget *b : {static_cast<QWidget *>(delegate->openFileBtn), static_cast<QWidget *>(delegate->aviConversionBtn),
                           static_cast<QWidget *>(delegate->playActionBtn), static_cast<QWidget *>(delegate->fastForwardBtn),
                           static_cast<QWidget *>(delegate->audioChannelSwitchBtn)})
            n += b->isEnabled();
        return n;
    }
    // The conversion's open panel takes `path`.
    bool choose(const QString &path) {
        if (!serveEventsUntil([&] { return conversion->conversionOpenPanel() != nullptr; }, 3000)) return false;
        QFileDialog *panel = conversion->conversionOpenPanel();
        // As the panel does when the user picks the file (its own listing runs in the
        // background and is not what is tested here).
        emit panel->fileSelected(path);
        static_cast<QDialog *>(panel)->done(QDialog::Accepted);
        return serveEventsUntil([&] { return conversion->phase() != avitarget::ConversionPhase::ChoosingFile; }, 3000);
    }
    bool waitForSheet(size_t count, int ms = 30000) {
        return serveEventsUntil([&] { return sheets.sheets.size() >= count; }, ms);
    }

    std::unique_ptr<VistrelAppDelegate> delegate;
    EngineHost host;
    RecordingSheets sheets;
    std::unique_ptr<AVIConversion> conversion;
};

} // namespace convtest
