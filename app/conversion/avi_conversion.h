// Converting a recording, or one channel of it, into an AVI file with its subtitle file: the
// query sheet, the open panel, the start, the channel panel, the window's converting state,
// what the engines deliver while converting, the end and its result sheet.
//
// Threads: everything runs on the GUI thread except the "engine side" operations below, which
// the engine callbacks call from the engines' threads while a conversion runs; whatever they
// change in the window they queue to the GUI thread.
#pragma once

#include <QFileDialog>
#include <QObject>
#include <QPixmap>
#include <QPointer>
#include <QSize>
#include <QString>
#include <QStringList>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "app/logic/avi_target.h"
#include "app/logic/conversion_sink.h"
#include "recorderfile/recorder_time.h"

class ANAVIFrameBuilder;
class ChannelSelectionPanel;
class CustomizedProgressSlider;
class MainWindow;
class OsdTextLayer;
class ProgressIndicatorControl;
class QAbstractButton;

class QLabel;
class QTimer;
class QWidget;

// The settings a conversion reads when it starts (the settings panel's fields).
struct ConversionSettings {
    QString aviFolder;     // the AVI folder field
    QString frameRateText; // the frame-rate field
    double frameRate = 0.0;
    bool audioDisabled = false;
};

// What a conversion asks of the rest of the application (PlayerConversionHost). GUI
// thread only.
class ConversionHost {
  public:
    virtual ~ConversionHost() = default;
    virtual ConversionSettings conversionSettings() = 0;
    // 0 playing, 1 converting, 3 idle.
    virtual int playerState() = 0;
    virtual void setPlayerState(int state) = 0;
    // The file that plays now (for "YES.").
    virtual QString currentFilePath() = 0;
    // Makes `path` the application's file (path, name and extension fields, no engine start).
    virtual void setConversionFile(const QString &path) = 0;
    // Ends whatever plays or converts, audio output included; when it returns no engine thread
    // calls into the conversion any more.
    virtual void stopEngines() = 0;
    // The panes' side of the converting state: sizes reset, window title, pictures and titles
    // cleared, on-screen text off, colour and settings panels closed.
    virtual void prepareWindowForConversion() = 0;
    // 1: one channel to convert (or a DV4 file); 0: several video channels (the host has
    // passed their masks to setChannelSelectionBtnWithVideoChannels); -1: not a recording kind
    // the player reads; -2: a file that playback refuses (not a regular file, or unreadable).
    virtual int checkTotalChannelsForAVIConversion() = 0;
    // Starts the engine on the conversion's file. videoChannel1Based is the channel chosen on
    // the panel (0 = as probed); audioChannel1Based the panel's audio channel (0 = none
    // chosen). *vdoFmtIdx receives the AVI video format when the file kind tells it (DV4,
    // DV5), else stays -1 (AVC files tell it per channel). False when it could not start.
    virtual bool startEngineForConversion(int videoChannel1Based, int audioChannel1Based, int *vdoFmtIdx) = 0;
    // "Unsupported format!" with the buttons back, after the engines are down.
    virtual void setUIInCaseOfUnsupportedFileForamt() = 0;
    // Deinterlace indicators hidden and its flag cleared (the buttons come back).
    virtual void showAndEnableDeinterlace(bool enabled) = 0;
};

// The widgets a conversion shows itself in; any may be null.
struct ConversionWidgets {
    QWidget *window = nullptr;
    // Locked while converting, in this order.
    std::vector<QWidget *> lockedButtons;
    QAbstractButton *deinterlaceEnableBtn = nullptr;
    QLabel *aviProgressLabel = nullptr;
    QLabel *aviFrameRateLabel = nullptr;
    QLabel *serverTimeLabel = nullptr;
    QLabel *videoModeLabel = nullptr;
    QLabel *playbackStatusImageView = nullptr;
    // The owner's images (loaded at launch, after the widgets exist).
    const QPixmap *aviConvertStatusImg = nullptr;
    const QPixmap *stopStatusImg = nullptr;
    ProgressIndicatorControl *aviConvertingIndicator = nullptr;
    ChannelSelectionPanel *channelSelectionPanel = nullptr;
    CustomizedProgressSlider *playbackProgressSlider = nullptr;
    OsdTextLayer *osdPercentage = nullptr;
};
// The conversion's widgets of the main window (the channel panel and the images are the owner's).
ConversionWidgets conversionWidgetsOf(MainWindow &window);

class AVIConversion : public QObject, public ConversionSink {
    Q_OBJECT
  public:
    // The sheets are the application's alert sheets on the window.
    AVIConversion(ConversionHost *host, ConversionWidgets widgets, QObject *parent = nullptr);
    // Ends a running conversion as quitting does.
    ~AVIConversion() override;

    // ---- GUI thread ----

    // The conversion button (and the query sheet's "NO, select the other file.").
    void openPlaybackFileAndConvertToAVI();
    void queryFileConversionAlert();
    void setQueryFileConversionAlert(int returnCode);
    void openCurrentPlaybackFileAndConvertToAVI();
    // Converts `path` as if chosen in the conversion's open panel.
    void convertFile(const QString &path);
    void activateAVIConversion();
    void initFileWrapper();
    void releaseFileWrapper();
    void setAVIFileLocationAndConfig();
    void setAVIConversionStartingUI();
    void setChannelSelectionBtnWithVideoChannels(uint32_t videoMask, uint32_t audioMask);
    void showChannelSelectionPanel();
    void closeChannelSelectionPanel();
    void doAVIConversionTask();
    // Stop, the end of a recording (queued), a write failure: ends the conversion and shows
    // its result. While the channel panel waits it only cancels. Nothing while idle.
    void finishAVIConversionTask();
    void aviConversionFinishedAlert();
    void setAVIConversionFinishedAlert(int returnCode);
    void disablePlaybackButton();
    void revertPlaybackButton();
    // Starts the indicator's 60-second timer (the indicator itself is built at launch).
    void initAVIConvertingFakeIndicator();
    // The pane's on-screen percentage (built at launch, after the conversion).
    void setOsdPercentage(OsdTextLayer *layer) { w_.osdPercentage = layer; }
    void animateAVIConvertingIndicator();
    void upadatePlaybackServerTimeAndProgressForFileConversion(const QString &time, float progress);
    void upadateUIWhileFinishingFileConversion();
    // A conversion has started and its result is not yet answered: it holds the window.
    bool holdsWindow() const;
    // A file handed over while the conversion is under way is refused with a sheet.
    void refuseOpenWhileConverting(const QString &path);
    // A file handed over once the conversion has ended, while its result sheet waits: it is kept
    // and opened through openDeferredFile when the sheet is answered; of several, the last one
    // (each is a newer request to open). False, keeping nothing, while the conversion runs.
    bool deferOpenUntilResultAnswered(const QString &path);
    std::function<void(const QString &path)> openDeferredFile;
    // Quitting: a running conversion is finished into a complete file (no sheet); a waiting
    // panel is closed. Returns once nothing runs.
    void applicationWillTerminate();

    // ---- Engine side (any thread) ----

    // A conversion runs and takes frames.
    bool isConverting() const { return converting_.load(); }
    // One decoded picture's compressed frame. Returns the builder's result (0 nothing to show,
    // 1 or 2 after a subtitle entry) and queues the status image's blink.
    int videoDataWrapping(unsigned channel, const uint8_t *frame, unsigned length, int imageWidth,
                          int imageHeight, bool isIFrame, unsigned interval,
                          const _SYSTEMTIME &sysTime) override;
    // Whether the audio callback should copy the decoded PCM for the AVI.
    bool needCopyPCM() const override;
    // The PCM of one packet (its byte count, 0 = nothing new) in the packet's enAudioFormat.
    void audioDataWrapping(const char *pcm, int length, int audioFormat) override;
    // An engine announced audio for this conversion.
    void setContainsAudioData() override { isContainAudioData_.store(true); }
    // The DV4 file's AVI video format, for the running conversion's builder (none: nothing).
    void setBuilderVideoFormat(int vdoFmtIdx);
    // AVC parser thread: a channel's codec (1 MPEG-4 Part 2, 3 Motion JPEG, else H.264).
    void setAVCFmtVdoIdxForAVIBuilder(int codec) override;
    // The recording has been read to its end: nothing more is taken, "100%" shows and the
    // conversion finishes on the GUI thread.
    void endOfRecording() override;

    // ---- State, for the owner and tests ----

    // Told of every frame and PCM packet the builder takes, on the engine thread that hands it
    // over (tests compare the AVI with them). Set while idle.
    std::function<void(unsigned channel, const uint8_t *frame, unsigned length, bool isIFrame,
                       const _SYSTEMTIME &)>
        onVideoTaken;
    std::function<void(const char *pcm, int length)> onAudioTaken;

    avitarget::ConversionPhase phase() const { return phase_; }
    QString aviFileLocation() const { return aviFileLocation_; }
    QString conversionFilePath() const { return path_; }
    double fps() const;
    // The running conversion's builder (null when none); valid until releaseFileWrapper.
    ANAVIFrameBuilder *aviFrameBuilder() const { return builder().get(); }
    bool isContainAudioData() const { return isContainAudioData_.load(); }
    bool audioDisabledWhileAVIConversion() const { return audioDisabled_; }
    QSize windowSizeWhileAVIConversion() const { return windowSizeWhileAVIConversion_; }
    // The result of the last conversion that ended (None after a complete file).
    avitarget::ConversionFailure lastFailure() const { return lastFailure_; }
    // The open panel while it is up.
    QFileDialog *conversionOpenPanel() const { return openPanel_; }
    // The sheet texts of a failure; `path` is the AVI file or folder concerned, `removed` the
    // conversion's own files that were removed (said for the failures that leave others' alone).
    static QString failureText(avitarget::ConversionFailure failure, const QString &path,
                               const QStringList &removed = QStringList());
    // Delay before the open panel after "NO, select the other file.".
    int otherFileDelayMs = 500;
    // Largest AVI file a conversion writes (RIFF size; the format's 32 bits at most).
    uint32_t maxAviSize = 0xFFFFFFFFu - 8u;

  private:
    void handle(avitarget::ConversionEvent event);
    void showOpenPanel();
    void showFailureSheet();
    void sheet(const QString &message, const QString &informative, const QStringList &buttons,
               std::function<void(int)> done);
    void restoreWindow();
    void fail(avitarget::ConversionFailure failure, const QString &path);
    void setWindowHeightTo(const QSize &size);
    void queue(std::function<void()> task);
    std::shared_ptr<ANAVIFrameBuilder> builder() const;
    std::shared_ptr<ANAVIFrameBuilder> stopEnginesHoldingBuilder();
    void noteBuilderTrouble(const std::shared_ptr<ANAVIFrameBuilder> &b);

    ConversionHost *host_;
    ConversionWidgets w_;
    avitarget::ConversionPhase phase_ = avitarget::ConversionPhase::Idle;
    QString path_;
    QString aviFolder_;
    QString aviFileLocation_;
    int designatedChannel_ = 0;
    int panelAudioChannel_ = 0;
    bool audioDisabled_ = false;
    QSize windowSizeWhileAVIConversion_;
    avitarget::ConversionFailure lastFailure_ = avitarget::ConversionFailure::None;
    QString failurePath_;
    QStringList failureRemoved_;
    QPointer<QFileDialog> openPanel_;
    QTimer *indicatorTimer_ = nullptr;
    QString deferredOpen_;

    // Shared with the engine threads.
    mutable std::mutex builderMutex_;
    std::shared_ptr<ANAVIFrameBuilder> builder_;
    std::atomic<bool> converting_{false};
    std::atomic<bool> troubleQueued_{false};
    std::atomic<bool> isContainAudioData_{false};
    std::atomic<bool> copyPCM_{false};
};
