#include "app/engine_side/engine_side.h"
#include "app/logic/player_state.h"

#include <QStringDecoder>

#include <cmath>
#include <cstring>
#include <new>
#include <thread>
#include <unistd.h>

#include "app/logic/conversion_sink.h"
#include "audio/audio_stream_processor.h"
#include "engines/avc_format_playback.h"
#include "engines/dv_format_playback.h"
#include "engines/engine_controls.h"
#include "platform/log.h"

namespace {
constexpr int kChannels = 16;
constexpr int kTitleSlotSize = 64;

} // namespace

EngineSide::EngineSide(EngineSidePort &port, QObject *context) : port_(port), poster_(context) {
    if (AVCFormatPlayback *avc = makeEngine(avc_, "AVC")) avc->setHandleOfImageRectFromStream();
    makeEngine(dv_, "DV");
}

// Creates one engine, connected to this side, the GUI-thread poster and the shared stream
// size; null (logged) when memory runs out.
template <class Engine> Engine *EngineSide::makeEngine(std::unique_ptr<Engine> &slot, const char *kind) {
    try {
        slot.reset(new Engine());
    } catch (const std::bad_alloc &) {
        player_log("Cannot create the %s engine\n", kind);
        return nullptr;
    }
    Engine *engine = slot.get();
    engine->setAppDelg(this);
    engine->setMainThreadPoster(&poster_);
    engine->setPImageWidthFromStream(&shared_.streamWidth);
    engine->setPImageHeightFromStream(&shared_.streamHeight);
    return engine;
}

EngineSide::~EngineSide() {
    stopEngines();
    avc_.reset();
    dv_.reset();
    removeAudio();
}

// ---- Starting and stopping ------------------------------------------------------------------

bool EngineSide::startAVCFile(const std::string &path) {
    AVCFormatPlayback *avc = avc_.get();
    if (!avc) return false;
    closing_ = false;
    avc->resetAVStreamType();
    if (!avc->createAVCFmtVideoPlaybackThread()) return false;
    if (!avc->createAVCFmtAudioPlaybackThread()) return false;
    return avc->openAVCFileAndStartParser(path) != 0;
}

void EngineSide::setDvFmtVideoCodec(int codec) {
    if (dv_) dv_->setDvFmtVideoCodec(codec);
}

void EngineSide::setIsDVRType700(bool dvr700) {
    if (dv_) dv_->setIsDVRType700(dvr700);
}

void EngineSide::startTransportAfresh() {
    gDVFmtPlaybackSpeed = 0;
    gDVFmtPlaybackIsPauseNow = 0;
    shared_.triState.store(kPlaybackTriStateFlowing);
}

bool EngineSide::startDVFile() {
    DVFormatPlayback *dv = dv_.get();
    if (!dv) return false;
    // The new parser must not start under flags the previous file or its teardown left
    // (a pending seek, a stop, a speed, a forced exit): all of them go back to their start, and
    // before its thread does. Nothing is written after: a parser that reaches the end at once
    // has cleared keep-running itself, and raising it again would make it end a second time.
    dvFmtResetControlFlags();
    closing_ = false;
    dv->resetAVStreamType();
    if (!dv->createDVFmtVideoPlaybackThread()) return false;
    if (!dv->createDVFmtAudioPlaybackThread()) return false;
    return dv->createDVFmtParserThread();
}

void EngineSide::stopDVFmtParserThread() {
    DVFormatPlayback *dv = dv_.get();
    if (!dv || !dv->isDVFmtParserThreadExecuting()) return;
    // Keep-running too, so that a paused parser wakes up and sees the request.
    gDVFmtPlaybackParserThreadForceExit = 1;
    gDVFmtPlaybackKeepRunning = 1;
    player_log("gDVFmtPlaybackParserThreadForceExit == YES\n");
    // The parser clears the request as it leaves. When this runs on the parser thread itself
    // (the end of a conversion) the state is already idle and there is nothing to wait for.
    const auto deadline = std::chrono::steady_clock::now() + kParserLeaveTimeout;
    while (shared_.playerState.load() != kPlayerStateIdle &&
           gDVFmtPlaybackParserThreadForceExit.load() != 0) {
        if (std::chrono::steady_clock::now() > deadline) {
            player_log("The DV parser did not leave in time; it is cancelled\n");
            break;
        }
        usleep(10);
    }
    dv->cancelDVFmtParserThread();
    gDVFmtPlaybackKeepRunning = 0;
    player_log("Cancel DVFmt Parser Thread...\n");
}

void EngineSide::stopEngines() {
    closing_ = true;
    DVFormatPlayback *dv = dv_.get();
    AVCFormatPlayback *avc = avc_.get();
    // The AVC parser first: its reader waits inside hand-offs to the AVC threads below.
    if (avc) avc->closeAVCFileAndStopParser();
    stopDVFmtParserThread();
    for (int channel = 0; channel < kEngineChannelCount; ++channel) {
        if (dv && dv->isDVFmtVideoPlaybackThreadExecuting(channel)) {
            dv->cancelDVFmtVideoPlaybackThread(channel);
            player_log("Cancel DVFmt Video Playback Thread...\n");
        }
        if (avc && avc->isAVCFmtVideoPlaybackThreadExecuting(channel)) {
            avc->cancelAVCFmtVideoPlaybackThread(channel);
            player_log("Cancel AVCFmt Video Playback Thread...\n");
        }
    }
    if (dv && dv->isDVFmtAudioPlaybackThreadExecuting()) {
        dv->cancelDVFmtAudioPlaybackThread();
        player_log("Cancel DVFmt Audio Playback Thread...\n");
    }
    if (avc && avc->isAVCFmtAudioPlaybackThreadExecuting()) {
        avc->cancelAVCFmtAudioPlaybackThread();
        player_log("Cancel AVCFmt Audio Playback Thread...\n");
    }
}

void EngineSide::dropQueuedDeliveries() {
    poster_.dropQueued();
    std::lock_guard<std::mutex> lock(pendingMutex_);
    for (int channel = 0; channel < kChannels; ++channel) {
        pendingPicture_[channel] = QImage();
        pendingFrame_[channel] = QByteArray();
        picturePosted_[channel] = false;
    }
}

bool EngineSide::dvFramesFlowing() {
    return gDVFmtPlaybackKeepRunning.load() != 0;
}

bool EngineSide::picturesHeld() const {
    if (gDVFmtPlaybackIsPauseNow.load() != 0) return true;
    // The AVC engine stops its parser at the end as Stop does; the DV parser holds by its flag.
    if (shared_.avcFile.load()) return shared_.avcStatus.load() == kAVCFmtPlaybackStop;
    return !dvFramesFlowing();
}

bool EngineSide::landOnScreen() {
    const bool running = shared_.playbackNow.load() || gDVFmtPlaybackIsPauseNow.load() != 0;
    if (shared_.playerState.load() != kPlayerStatePlaying || !running || picturesOfFile_.load() == 0)
        return false;
    if (shared_.avcFile.load()) return avc_ && avc_->landOnScreen();
    if (!dv_ || dv_->dvFmtVideoCodec() != kDVFmtDV5) return false;
    gDVFmtPlaybackLandOnScreen = 1;
    return true;
}

bool EngineSide::anyEngineThreadExecuting() const {
    if (dv_) {
        if (dv_->isDVFmtParserThreadExecuting() || dv_->isDVFmtAudioPlaybackThreadExecuting()) return true;
        for (int channel = 0; channel < kEngineChannelCount; ++channel)
            if (dv_->isDVFmtVideoPlaybackThreadExecuting(channel)) return true;
    }
    if (avc_) {
        if (avc_->fdAVCFile() != 0 || avc_->isAVCFmtAudioPlaybackThreadExecuting()) return true;
        for (int channel = 0; channel < kEngineChannelCount; ++channel)
            if (avc_->isAVCFmtVideoPlaybackThreadExecuting(channel)) return true;
    }
    return false;
}

// ---- Pictures -------------------------------------------------------------------------------

QImage EngineSide::imageOverPicture(const VideoImageRef &picture) {
    if (!picture || picture->width() <= 0 || picture->height() <= 0 || !picture->pixels()) return QImage();
    // The image holds its own reference to the engine's picture: the pixels live as long as any
    // copy of the image does, and the engine never writes a picture it has delivered.
    auto *keeper = new VideoImageRef(picture);
    return QImage(
        picture->pixels(), picture->width(), picture->height(), picture->bytesPerRow(),
        QImage::Format_RGBX8888, [](void *kept) { delete static_cast<VideoImageRef *>(kept); }, keeper);
}

void EngineSide::setShownPictureObserver(std::function<void(const ShownPicture &)> observer) {
    shownObserver_ = std::move(observer);
    observingShown_.store(static_cast<bool>(shownObserver_));
}

void EngineSide::postPicture(int channel, QImage picture, QByteArray frame, const _SYSTEMTIME &time) {
    {
        std::lock_guard<std::mutex> lock(pendingMutex_);
        if (!pendingPicture_[channel].isNull()) picturesSuperseded_.fetch_add(1);
        pendingPicture_[channel] = std::move(picture);
        pendingFrame_[channel] = std::move(frame);
        pendingTime_[channel] = time;
        if (picturePosted_[channel]) return;
        picturePosted_[channel] = true;
    }
    postTileUpdate(channel);
}

void EngineSide::showNoPictureOfChannel(unsigned channel) {
    if (channel >= static_cast<unsigned>(kChannels)) return;
    const int c = static_cast<int>(channel);
    {
        std::lock_guard<std::mutex> lock(pendingMutex_);
        if (!pendingPicture_[c].isNull()) picturesSuperseded_.fetch_add(1);
        pendingPicture_[c] = QImage();
        pendingFrame_[c] = QByteArray();
        pendingClear_[c] = true;
        if (picturePosted_[c]) return;
        picturePosted_[c] = true;
    }
    postTileUpdate(c);
}

void EngineSide::postTileUpdate(int channel) {
    // One task per channel at a time: it empties the tile when asked, then shows the latest
    // picture, so that a picture that came after an emptying is never emptied by it.
    post([this, channel] {
        QImage latest;
        QByteArray frame;
        _SYSTEMTIME time{};
        bool clear = false;
        {
            std::lock_guard<std::mutex> lock(pendingMutex_);
            latest = std::move(pendingPicture_[channel]);
            pendingPicture_[channel] = QImage();
            frame = std::move(pendingFrame_[channel]);
            pendingFrame_[channel] = QByteArray();
            time = pendingTime_[channel];
            clear = pendingClear_[channel];
            pendingClear_[channel] = false;
            picturePosted_[channel] = false;
        }
        if (clear) port_.clearPicture(channel);
        if (latest.isNull()) return;
        ++picturesShown_;
        port_.showPicture(channel, latest, time);
        if (shownObserver_) shownObserver_(ShownPicture{channel, latest, frame});
    });
}

QImage EngineSide::lastDeliveredPicture(int channel) const {
    if (channel < 0 || channel >= kChannels) return QImage();
    std::lock_guard<std::mutex> lock(lastDeliveredMutex_);
    return lastDelivered_[channel];
}

void EngineSide::videoUpdateTaskWithChannel(unsigned channel, VideoImageRef image, const uint8_t *buffer,
                                            unsigned length, bool isIFrame, unsigned interval,
                                            const _SYSTEMTIME &sysTime) {
    if (channel >= static_cast<unsigned>(kChannels)) return;
    picturesDelivered_.fetch_add(1);
    if (shared_.viewCutChanged.load()) {
        // A click switched between grid and single view: the other channels' decoders go, and
        // with them their pictures (the next comes at their next key frame), and the pane is laid
        // out again. This picture was decoded for the old layout: a tile still shown takes it
        // scaled, since it may be the only one to come (a paused seek's).
        // A landing under way or asked for makes every decoder anew itself: one released in
        // the middle of it would leave its tile without a picture.
        const int selected = shared_.selectedVideoChannel.load();
        if (shared_.avcFile.load()) {
            if (avc_ && !avc_->landingUnderWay()) avc_->resetParamsWithExceptCH(selected);
        } else if (dv_ && !gDVFmtPlaybackShowSeekLanding.load() && !gDVFmtPlaybackLandOnScreen.load()) {
            dv_->resetParamsWithExceptCH(selected);
        }
        shared_.viewCutChanged.store(false);
        // Cleared before the layout is queued: a resize the GUI thread asks for meanwhile stays
        // asked for, and the next picture lays the pane out again.
        shared_.resizingVideoPane.store(false);
        post([this, selected] {
            port_.clearPicturesExcept(selected - 1);
            port_.checkNeedResizeImageViewOrNot();
        });
        if (!checkNeedDecodeForMultiCHs(static_cast<uint8_t>(channel))) return;
    } else if (shared_.resizingVideoPane.exchange(false)) {
        post([this] { port_.checkNeedResizeImageViewOrNot(); });
    }
    QImage picture = imageOverPicture(image);
    if (!picture.isNull()) picturesOfFile_.fetch_add(1);
    if (keepLastDelivered_.load()) {
        std::lock_guard<std::mutex> lock(lastDeliveredMutex_);
        lastDelivered_[channel] = picture;
    }
    if (!picture.isNull()) {
        QByteArray frame;
        if (observingShown_.load() && buffer)
            frame = QByteArray(reinterpret_cast<const char *>(buffer), static_cast<qsizetype>(length));
        postPicture(static_cast<int>(channel), std::move(picture), std::move(frame), sysTime);
    }

    if (shared_.playerState.load() == kPlayerStateConverting) {
        // The conversion takes the compressed frame and blinks its status image.
        if (ConversionSink *conversion = conversion_)
            conversion->videoDataWrapping(channel, buffer, length, imageRealWidth(), imageRealHeight(),
                                          isIFrame, interval, sysTime);
    }
}

bool EngineSide::checkNeedDecodeForMultiCHs(uint8_t channel) {
    switch (shared_.cutState.load()) {
    case kCutStateGrid:
        return true;
    case kCutStateSingle:
        return channel + 1 == shared_.selectedVideoChannel.load();
    default:
        return false;
    }
}

// ---- Audio ----------------------------------------------------------------------------------

void EngineSide::setAudioProcessorWithChannel(unsigned channel, int audioFormat) {
    // The processor is made and removed on the GUI thread only while no engine thread runs.
    if (AudioStreamProcessor *processor = audio_.get()) {
        processor->setParameterWithChannel(static_cast<int>(channel), audioFormat);
        player_log("audio channel = %d\n", static_cast<int>(channel));
        if (!processor->playDeviceAudio(static_cast<int>(channel)))
            player_log("Play audio manager failed, channel=%d", static_cast<int>(channel));
        // The volume slider is the GUI thread's: the volume follows a moment later.
        post([this] {
            if (AudioStreamProcessor *p = audio_.get()) p->setVolumeViaProgramming(port_.playbackVolume());
        });
    }
    containsAudio_.store(true);
    if (ConversionSink *conversion = conversion_) conversion->setContainsAudioData();
}

void EngineSide::audioUpdateTaskWithBuffer(const uint8_t *buffer, unsigned streamLength, int audioFormat,
                                           unsigned channel) {
    ConversionSink *conversion = shared_.playerState.load() == kPlayerStateConverting ? conversion_ : nullptr;
    const bool copy = conversion && conversion->needCopyPCM();
    // Zeroed before every packet: a packet that copies nothing must not pass on the last one's PCM.
    int pcmBytes = 0;
    bool accepted = false;
    if (AudioStreamProcessor *processor = audio_.get()) {
        accepted =
            processor->addAudioDataToDevice(static_cast<int>(channel), buffer, static_cast<int>(streamLength),
                                            reinterpret_cast<char *>(audioProcessingBuffer_.data()),
                                            static_cast<int>(audioProcessingBuffer_.size()), &pcmBytes, copy);
    }
    if (!accepted) {
        player_log("Audio data length: %d\n", static_cast<int>(streamLength));
        player_log("updateAudioStream return 0: update failed...\n");
    }
    if (copy && pcmBytes > 0)
        conversion->audioDataWrapping(reinterpret_cast<const char *>(audioProcessingBuffer_.data()), pcmBytes,
                                      audioFormat);
}

// ---- Time, progress, titles and the end -----------------------------------------------------

void EngineSide::updateProcessingInfoWithServerTime(const std::string &serverTime, float progress) {
    const QString time = QString::fromStdString(serverTime);
    switch (shared_.playerState.load()) {
    case kPlayerStatePlaying:
        post([this, time] { port_.upadatePlaybackServerTime(time); });
        break;
    case kPlayerStateConverting:
        post([this, time, progress] {
            port_.upadatePlaybackServerTimeAndProgressForFileConversion(time, progress);
        });
        break;
    default:
        break;
    }
}

// Posted by the engines: already on the GUI thread.
void EngineSide::upadatePlaybackProgress(float percent) {
    port_.upadatePlaybackProgress(percent);
}

void EngineSide::setDevChannelTitle(const char *titles) {
    std::array<std::optional<QString>, 16> texts;
    for (int n = 0; n < kChannels; ++n) {
        if (!titles) {
            texts[n] = QStringLiteral("CH%1").arg(n + 1);
            continue;
        }
        const char *slot = titles + n * kTitleSlotSize;
        if (slot[0] == 0) continue;
        const size_t length = strnlen(slot, kTitleSlotSize);
        QStringDecoder utf8(QStringDecoder::Utf8);
        QString text = utf8(QByteArrayView(slot, static_cast<qsizetype>(length)));
        // A title that is not valid UTF-8 shows nothing rather than replacement marks.
        texts[n] = utf8.hasError() ? QString() : text;
    }
    post([this, texts] { port_.applyDevChannelTitles(texts); });
}

void EngineSide::setDVFmtProcessingInfoAtEndOfProcessing() {
    if (closing_.load()) return;
    shared_.playbackNow.store(false);
    switch (shared_.playerState.load()) {
    case kPlayerStateConverting:
        // "100%", then the conversion finishes on the GUI thread.
        if (ConversionSink *conversion = conversion_) conversion->endOfRecording();
        break;
    case kPlayerStatePlaying:
        post([this] {
            if (closing_.load()) return;
            // A DV file that ends without one picture is not a recording (the DV parsers read any
            // bytes): it cannot be played.
            if (picturesOfFile_.load() != 0) {
                port_.showEndOfRecording();
                return;
            }
            shared_.playbackNow.store(false);
            port_.showFileWithNothingToShow();
        });
        break;
    default:
        break;
    }
}

// Posted by the AVC engine: already on the GUI thread.
void EngineSide::setAVCFmtProcessingInfoAtEndOfProcessing() {
    if (closing_.load()) return;
    shared_.playbackNow.store(false);
    switch (shared_.playerState.load()) {
    case kPlayerStateConverting:
        if (ConversionSink *conversion = conversion_) conversion->endOfRecording();
        break;
    case kPlayerStatePlaying:
        port_.showStopStatusImages();
        break;
    default:
        break;
    }
}

void EngineSide::setAVCFmtVdoIdxForAVIBuilder(int videoCodec) {
    if (shared_.playerState.load() != kPlayerStateConverting) return;
    if (ConversionSink *conversion = conversion_) conversion->setAVCFmtVdoIdxForAVIBuilder(videoCodec);
}

void EngineSide::setServerTimeLabelText(const std::string &text) {
    const QString label = QString::fromStdString(text);
    post([this, label] { port_.showServerTimeLabelText(label); });
}

void EngineSide::setDeinterlaceEnableBtnEnabled(bool enabled) {
    post([this, enabled] { port_.enableDeinterlaceButton(enabled); });
}

// ---- State the engines read or write --------------------------------------------------------

std::string EngineSide::absoluteFilePath() {
    return shared_.filePath();
}
void EngineSide::setICurrentSelectedAudioCH(int channel1Based) {
    shared_.selectedAudioChannel.store(channel1Based);
}
int EngineSide::iCurrentSelectedAudioCH() {
    return shared_.selectedAudioChannel.load();
}
bool EngineSide::videoFlipImageFlag() {
    return shared_.flipImage.load();
}
bool EngineSide::videoDeinterlaceFlag() {
    return shared_.deinterlace.load();
}
float EngineSide::decoderTargetWidth() {
    return shared_.decoderTargetWidth.load();
}
float EngineSide::decoderTargetHeight() {
    return shared_.decoderTargetHeight.load();
}
void EngineSide::setImageRealWidth(int width) {
    shared_.imageRealWidth.store(width);
}
void EngineSide::setImageRealHeight(int height) {
    shared_.imageRealHeight.store(height);
}
int EngineSide::imageRealWidth() {
    return shared_.imageRealWidth.load();
}
int EngineSide::imageRealHeight() {
    return shared_.imageRealHeight.load();
}
void EngineSide::setSys_Time(const _SYSTEMTIME &sysTime) {
    shared_.setSysTime(sysTime);
}
int EngineSide::enAVCFmtPlaybackStatus() {
    return shared_.avcStatus.load();
}
void EngineSide::setEnAVCFmtPlaybackStatus(int status) {
    shared_.avcStatus.store(status);
}
void EngineSide::setPlaybackTriState(uint8_t state) {
    shared_.triState.store(state);
}

// ---- Audio channel objects (GUI thread, no engine running) --------------------------------

void EngineSide::createAudio() {
    if (audio_) return;
    try {
        audio_ = std::make_unique<AudioStreamProcessor>();
    } catch (const std::bad_alloc &) {
        player_log("Cannot create the audio processor\n");
        return;
    }
    for (int channel = 0; channel < kChannels; ++channel)
        if (!audio_->createDeviceAudio(channel)) player_log("Create Audio Device Failed...\n");
}

bool EngineSide::startWithFreshAudio(bool avc, const std::string &path) {
    picturesOfFile_.store(0);
    removeAudio();
    createAudio();
    return avc ? startAVCFile(path) : startDVFile();
}

void EngineSide::removeAudio() {
    if (!audio_) return;
    for (int channel = 0; channel < kChannels; ++channel) {
        audio_->stopDeviceAudio(channel);
        if (!audio_->removeDeviceAudio(channel)) player_log("Remove Audio Device Failed...\n");
    }
    audio_.reset();
}
