// Starting a file and stopping it: the teardown that every start runs first, the interface
// reset for a new file or for a file that cannot be played ("Unsupported format!"), the probe
// of the file's channels and the layout it calls for, and the start of the engine the file's
// kind needs. It owns the open file's facts (OpenFile).
//
// GUI thread, except the teardown, which may also run on the DV parser thread at the end of a
// conversion.
#pragma once

#include <QObject>

#include <cstdint>
#include <memory>

#include "app/open_file/open_file.h"

class CustomizedProgressSlider;
class EngineControl;
class MainWindow;
class QAbstractButton;
class QComboBox;
class QLabel;
class QWidget;
class VideoPane;
struct RecorderFileProbe;
struct StatusImages;

// The widgets a start and a refusal change; any may be null.
struct ActivationViews {
    QWidget *window = nullptr;
    QLabel *playbackStatusImageView = nullptr;
    QLabel *fullScreenPlaybackStatusImageView = nullptr;
    QWidget *deinterlaceStatusImageView = nullptr;
    QAbstractButton *osdEnableBtn = nullptr;
    QWidget *snapShotBtn = nullptr;
    QComboBox *audioChannelSwitchBtn = nullptr;
    QComboBox *videoChannelSwitchBtn = nullptr;
    QLabel *videoModeLabel = nullptr;
    QLabel *aviProgressLabel = nullptr;
    QLabel *aviFrameRateLabel = nullptr;
    QLabel *serverTimeLabel = nullptr;
    CustomizedProgressSlider *playbackProgressSlider = nullptr;
    CustomizedProgressSlider *fullScreenPlaybackProgressSlider = nullptr;
    const StatusImages *images = nullptr;
};
// The activation's widgets of the main window, with the status images.
ActivationViews activationViewsOf(MainWindow &window, const StatusImages &images);

// What activation asks of the other features.
class ActivationPort {
  public:
    virtual ~ActivationPort() = default;
    virtual VideoPane *videoPaneLayout() const = 0;
    // The conversion lets its builder go.
    virtual void releaseFileWrapper() = 0;
    // A pending snapshot is dropped; the open file's snapshot folder.
    virtual void setSnapshotFileLocation() = 0;
    // null: "CH1".."CH16".
    virtual void setDevChannelTitle(const char *titles) = 0;
    virtual void insertItemsToAudioChannelSwitchBtn(int count, const uint8_t *list) = 0;
    virtual void insertItmesToVideoChannelSwitchBtn(int count) = 0;
    // The playback buttons back: deinterlacing and locked buttons do not carry over.
    virtual void revertPlaybackButton() = 0;
    // The DV4 file's AVI video format, for a conversion's builder.
    virtual void setAVIBuilderVideoFormat(int vdoFmtIdx) = 0;
};

class PlaybackActivation {
  public:
    PlaybackActivation(const ActivationViews &views, EngineShared &shared, EngineControl &engines,
                       ActivationPort &port, QObject *context);
    PlaybackActivation(const PlaybackActivation &) = delete;
    PlaybackActivation &operator=(const PlaybackActivation &) = delete;

    OpenFile &openFile() { return file_; }
    EngineShared &shared() { return shared_; }
    const ActivationViews &views() const { return v_; }

    void activateFilePlayback();
    void resetPlaybackHandle();
    void setFilePlaybackStartingUI();
    void setUIInCaseOfUnsupportedFileForamt();
    // Probes the open file (kind 0 AVC, 1 DV4, 2 DV5) and applies the layout it calls for.
    // False when the file is refused at once (not a regular file).
    bool checkTotalChannelsAndSetVideoViewCut(int kind);
    // The DV4 file's codec, told to the DV engine (and to the AVI builder while converting).
    void getDV4FileVideoCodec();
    // What both a new file and a refused one start from: no picture size yet (the pane is laid
    // out again at the first picture), the progress at 0 and the file's name as the title.
    void resetPictureSizesProgressAndTitle();
    // The file cannot be played: everything stops, the window shrinks and shows
    // "Unsupported format!". Also for a file that ends without one picture.
    void failActivation();

    static constexpr int kPlayingWindowHeight = 540;

  private:
    void applyLayout(const RecorderFileProbe &probe);
    void showOnScreenTextAsChosen();

    ActivationViews v_;
    EngineShared &shared_;
    EngineControl &engines_;
    ActivationPort &port_;
    QObject *context_;
    OpenFile file_;
};
