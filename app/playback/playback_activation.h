// Starting a file and stopping it: the teardown that every start runs first, the interface
// reset for a new file or for a file that cannot be played ("Unsupported format!"), the probe
// of the file's channels and the layout it calls for, the audio channel objects, and the start
// of the engine the file's kind needs.
//
// GUI thread, except the teardown, which may also run on the DV parser thread at the end of a
// conversion.
#pragma once

class VistrelAppDelegate;
struct RecorderFileProbe;

class PlaybackActivation {
  public:
    explicit PlaybackActivation(VistrelAppDelegate &app);
    PlaybackActivation(const PlaybackActivation &) = delete;
    PlaybackActivation &operator=(const PlaybackActivation &) = delete;

    void activateFilePlayback();
    void resetPlaybackHandle();
    void setFilePlaybackStartingUI();
    void setUIInCaseOfUnsupportedFileForamt();
    void createAudio();
    void removeAudio();
    // Probes the open file (kind 0 AVC, 1 DV4, 2 DV5) and applies the layout it calls for.
    // False when the file is refused at once (not a regular file).
    bool checkTotalChannelsAndSetVideoViewCut(int kind);
    // The DV4 file's codec, told to the DV engine (and to the AVI builder while converting).
    void getDV4FileVideoCodec();

    static constexpr int kPlayingWindowHeight = 540;

  private:
    // What both a new file and a refused one start from: no picture size yet (the pane is laid
    // out again at the first picture), the progress at 0 and the file's name as the title.
    void resetPictureSizesProgressAndTitle();
    void applyLayout(const RecorderFileProbe &probe);
    void failActivation();

    VistrelAppDelegate &app_;
};
