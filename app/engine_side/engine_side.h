// The engines as the application sees them: the one place that talks to the playback engines.
// It owns both engines for the life of the process, starts and stops them for each file, and
// receives everything they deliver from their own threads.
//
// Threads: the start and stop operations run on the GUI thread. The EngineDelegate operations
// run on the engine threads: they read only the shared values it owns (EngineShared) and post
// whatever changes a widget to the GUI thread, never waiting for it.
#pragma once

#include <QByteArray>
#include <QImage>
#include <QString>

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "app/engine_side/main_thread_poster.h"
#include "app/logic/engine_control.h"
#include "app/logic/engine_shared.h"
#include "engines/engine_delegate.h"
#include "recorderfile/recorder_time.h"

class AVCFormatPlayback;
class AudioStreamProcessor;
class ConversionSink;
class DVFormatPlayback;

// What the engines deliver, as the rest of the window shows it; called on the GUI thread.
class EngineSidePort {
  public:
    virtual ~EngineSidePort() = default;
    virtual void upadatePlaybackServerTime(const QString &time) = 0;
    virtual void upadatePlaybackServerTimeAndProgressForFileConversion(const QString &time,
                                                                       float progress) = 0;
    virtual void upadatePlaybackProgress(float percent) = 0;
    virtual void applyDevChannelTitles(const std::array<std::optional<QString>, 16> &titles) = 0;
    // The recording played to its end (DV: the progress goes to 100) or stopped (AVC).
    virtual void showEndOfRecording() = 0;
    // The DV file ended without one picture: it cannot be played.
    virtual void showFileWithNothingToShow() = 0;
    virtual void showStopStatusImages() = 0;
    virtual void checkNeedResizeImageViewOrNot() = 0;
    // The decoders of every channel but `channel` (0-based) were released: until they decode
    // again, what their tiles hold is of the past.
    virtual void clearPicturesExcept(int channel) = 0;
    // Channel `channel` (0-based) has no picture at the moment on screen: its tile shows none
    // until its next picture.
    virtual void clearPicture(int channel) = 0;
    // The picture of channel `channel` (0-based) with its own recorder time, for its tile.
    virtual void showPicture(int channel, const QImage &picture, const _SYSTEMTIME &time) = 0;
    // The volume slider's value, 0 to 1.
    virtual float playbackVolume() = 0;
    virtual void showServerTimeLabelText(const QString &text) = 0;
    virtual void enableDeinterlaceButton(bool enabled) = 0;
};

class EngineSide : public EngineDelegate, public EngineControl {
  public:
    // The engines post to the GUI thread through `context`.
    EngineSide(EngineSidePort &port, QObject *context);
    // Stops both engines and joins their threads.
    ~EngineSide() override;
    EngineSide(const EngineSide &) = delete;
    EngineSide &operator=(const EngineSide &) = delete;

    AVCFormatPlayback *avc() const { return avc_.get(); }
    DVFormatPlayback *dv() const { return dv_.get(); }
    MainThreadPoster &poster() { return poster_; }
    // The values the engine threads read, for the features that set them.
    EngineShared &shared() { return shared_; }
    // The audio channels of the open file; null before the first file.
    AudioStreamProcessor *audio() const { return audio_.get(); }
    // An engine announced audio in the open file.
    bool containsAudioData() const { return containsAudio_.load(); }
    // The running conversion takes what the engines deliver while the player converts.
    void setConversionSink(ConversionSink *sink) { conversion_ = sink; }

    // ---- Starting and stopping (GUI thread) ----

    // Starts the AVC engine on `path`: video threads, audio thread, then the parser. False at the
    // first step that fails (a missing engine fails at once); the caller then tears down.
    bool startAVCFile(const std::string &path);
    // The DV engine's codec (0 DV4 H.264, 1 DV4 MPEG-4, 2 DV5) and recorder variant; ignored
    // without an engine.
    void setDvFmtVideoCodec(int codec) override;
    void setIsDVRType700(bool dvr700) override;
    void startTransportAfresh() override;
    // Starts the DV engine on the open file with every control flag at its start value.
    bool startDVFile();
    // Stops both engines: the AVC parser is closed, the DV parser is asked to leave and waited
    // for (bounded, logged once), every per-channel and audio thread ends and its slot empties.
    // Callable on the DV parser thread itself (the end of a conversion): it does not wait then.
    void stopEngines() override;
    // The audio channel objects of the open file, made and removed while no engine runs.
    void createAudio();
    void removeAudio();
    bool startWithFreshAudio(bool avc, const std::string &path) override;
    void dropQueuedDeliveries() override;
    // True while any thread of either engine still runs.
    bool anyEngineThreadExecuting() const;
    // The DV engine's frames flow (its keep-running flag is up).
    static bool dvFramesFlowing();
    // The open file's pictures do not come by themselves: it is paused, at its end or stopped
    // (DV or AVC).
    bool picturesHeld() const;
    // The view changed while the file plays or is paused: the engine lands every channel it now
    // decodes at the moment on screen. False when it cannot (stopped, at the end, key frames
    // only, a one-channel DV4 file, nothing shown yet).
    bool landOnScreen();

    // How long the teardown waits for the DV parser to leave before it goes on without it.
    static constexpr std::chrono::milliseconds kParserLeaveTimeout{5000};

    // ---- Counters for benchmarks and tests (any thread, but picturesShown: GUI thread) ----

    // Pictures delivered by the engines, pictures handed to a tile on the GUI thread, and
    // pictures replaced by a newer one of their channel before the GUI thread got to them.
    uint64_t picturesDelivered() const { return picturesDelivered_.load(); }
    uint64_t picturesShown() const { return picturesShown_; }
    uint64_t picturesSuperseded() const { return picturesSuperseded_.load(); }
    // The last picture an engine delivered for a channel (0-based), as a picture over the
    // engine's own pixels; null before the first.
    QImage lastDeliveredPicture(int channel) const;
    void setKeepLastDelivered(bool keep) { keepLastDelivered_.store(keep); }

    // Told on the GUI thread of every picture handed to a tile, with the compressed frame it
    // was decoded from (tests measure what plays by it). Set on the GUI thread; null stops it.
    struct ShownPicture {
        int channel = 0;
        QImage picture;
        QByteArray frame;
    };
    void setShownPictureObserver(std::function<void(const ShownPicture &)> observer);

    // Wraps an engine picture without copying: the image keeps the engine's buffer alive.
    static QImage imageOverPicture(const VideoImageRef &picture);

    // ---- EngineDelegate ----

    std::string absoluteFilePath() override;
    void setICurrentSelectedAudioCH(int channel1Based) override;
    int iCurrentSelectedAudioCH() override;
    void setAudioProcessorWithChannel(unsigned channel, int audioFormat) override;
    bool checkNeedDecodeForMultiCHs(uint8_t channel) override;
    void setAVCFmtVdoIdxForAVIBuilder(int videoCodec) override;
    void audioUpdateTaskWithBuffer(const uint8_t *buffer, unsigned streamLength, int audioFormat,
                                   unsigned channel) override;
    bool videoFlipImageFlag() override;
    bool videoDeinterlaceFlag() override;
    void setDeinterlaceEnableBtnEnabled(bool enabled) override;
    float decoderTargetWidth() override;
    float decoderTargetHeight() override;
    void setImageRealWidth(int width) override;
    void setImageRealHeight(int height) override;
    int imageRealWidth() override;
    int imageRealHeight() override;
    void videoUpdateTaskWithChannel(unsigned channel, VideoImageRef image, const uint8_t *buffer,
                                    unsigned length, bool isIFrame, unsigned interval,
                                    const _SYSTEMTIME &sysTime) override;
    void showNoPictureOfChannel(unsigned channel) override;
    void setSys_Time(const _SYSTEMTIME &sysTime) override;
    void updateProcessingInfoWithServerTime(const std::string &serverTime, float progress) override;
    void upadatePlaybackProgress(float percent) override;
    void setDVFmtProcessingInfoAtEndOfProcessing() override;
    void setAVCFmtProcessingInfoAtEndOfProcessing() override;
    int enAVCFmtPlaybackStatus() override;
    void setEnAVCFmtPlaybackStatus(int status) override;
    void setPlaybackTriState(uint8_t state) override;
    void setDevChannelTitle(const char *titles) override;
    void setServerTimeLabelText(const std::string &text) override;
    _SYSTEMTIME sys_Time() const { return shared_.sysTime(); }

  private:
    template <class Engine> Engine *makeEngine(std::unique_ptr<Engine> &slot, const char *kind);
    void post(std::function<void()> task) { poster_.postToMainThread(std::move(task)); }
    void stopDVFmtParserThread();
    // Hands a picture to the GUI thread. At most one picture per channel waits there: a newer
    // one takes the place of one not yet shown, so a busy GUI thread never piles pictures up.
    // The picture travels with its own recorder time: the shared time may already be a later frame's.
    void postPicture(int channel, QImage picture, QByteArray frame, const _SYSTEMTIME &time);
    void postTileUpdate(int channel);

    EngineSidePort &port_;
    QtMainThreadPoster poster_;
    EngineShared shared_;
    ConversionSink *conversion_ = nullptr;
    std::unique_ptr<AudioStreamProcessor> audio_;
    std::atomic<bool> containsAudio_{false};
    // The engines are being stopped: an end they come to now is no end of the file.
    std::atomic<bool> closing_{false};
    // PCM of the last audio packet, for the conversion (audio thread).
    std::array<uint8_t, 4096> audioProcessingBuffer_{};
    std::unique_ptr<AVCFormatPlayback> avc_;
    std::unique_ptr<DVFormatPlayback> dv_;
    std::atomic<uint64_t> picturesDelivered_{0};
    std::atomic<uint64_t> picturesOfFile_{0};
    uint64_t picturesShown_ = 0;
    std::atomic<uint64_t> picturesSuperseded_{0};
    std::mutex pendingMutex_;
    std::array<QImage, 16> pendingPicture_;
    std::array<QByteArray, 16> pendingFrame_;
    std::array<_SYSTEMTIME, 16> pendingTime_{};
    std::atomic<bool> observingShown_{false};
    std::function<void(const ShownPicture &)> shownObserver_;
    std::array<bool, 16> pendingClear_{};
    std::array<bool, 16> picturePosted_{};
    std::atomic<bool> keepLastDelivered_{false};
    mutable std::mutex lastDeliveredMutex_;
    std::array<QImage, 16> lastDelivered_;
};
