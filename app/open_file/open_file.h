// The facts of the file the player has open: its path and names, its kind, its channels, what
// the player does with it and whether one channel or the grid shows. The playback activation
// owns it and sets it; the video pane, file intake, conversion and engine side read it. Every
// change is told through `changed`.
//
// GUI thread. The few values an engine thread reads are written through to the engine side's
// shared values as they change.
#pragma once

#include <QObject>
#include <QString>

#include "app/logic/engine_shared.h"
#include "app/logic/player_state.h"
#include "app/logic/recorder_file_probe.h"

enum class PlayerState {
    Playing = kPlayerStatePlaying,
    Converting = kPlayerStateConverting,
    Idle = kPlayerStateIdle
};
enum class CutState { Single = kCutStateSingle, Grid = kCutStateGrid };

class OpenFile : public QObject {
    Q_OBJECT
  public:
    explicit OpenFile(EngineShared &shared, QObject *parent = nullptr);

    // ---- The path and its names ----
    QString path() const { return path_; }
    QString fileName() const { return fileName_; }
    QString fileExtension() const { return fileExtension_; }
    QString fileNameWithExtension() const { return fileNameWithExtension_; }
    QString absoluteFileDir() const { return absoluteFileDir_; }
    // The engines get the path in the file system's encoding.
    void setPath(const QString &path);
    void setNames(const QString &fileName, const QString &extension, const QString &nameWithExtension,
                  const QString &folder);
    // No file: the path and every name empty.
    void clearNames();

    // ---- What the player does with it ----
    PlayerState playerState() const { return playerState_; }
    void setPlayerState(PlayerState state);
    RecorderFileKind kind() const { return kind_; }
    void setKind(RecorderFileKind kind);
    bool isAVC() const { return kind_ == RecorderFileKind::AVC; }
    // An engine runs the file (set once it started, kept until the next file).
    bool activated() const { return activated_; }
    void setActivated(bool on);

    // ---- Its channels ----
    // Bit n set: channel n+1 present.
    int videoMask() const { return videoMask_; }
    int audioMask() const { return audioMask_; }
    void setMasks(int video, int audio);
    // Highest video channel number (1 to 16).
    int channelIndex() const { return channelIndex_; }
    void setChannelIndex(int index);
    // The single view's channel, 1 to 16.
    int selectedVideoChannel() const { return selectedVideoChannel_; }
    void setSelectedVideoChannel(int channel);
    // The heard channel, 1-based (0 none); the engines may change it.
    int selectedAudioChannel() const { return shared_.selectedAudioChannel.load(); }
    void setSelectedAudioChannel(int channel);
    CutState cutState() const { return cutState_; }
    void setCutState(CutState cut);
    // The cut cannot be switched by a click (one channel, or converting).
    bool cutLocked() const { return cutLocked_; }
    void setCutLocked(bool locked);
    // Every channel has a picture size of its own.
    bool independent() const { return independent_; }
    void setIndependent(bool on);
    // A conversion of several channels converts the one chosen on the channel panel.
    bool designateChannel() const { return designateChannel_; }
    void setDesignateChannel(bool on);

  signals:
    void changed();

  private:
    template <class T> void set(T &field, T value);

    EngineShared &shared_;
    QString path_, fileName_, fileExtension_, fileNameWithExtension_, absoluteFileDir_;
    PlayerState playerState_ = PlayerState::Idle;
    RecorderFileKind kind_ = RecorderFileKind::Unknown;
    bool activated_ = false;
    int videoMask_ = 0, audioMask_ = 0, channelIndex_ = 0, selectedVideoChannel_ = 0;
    CutState cutState_ = CutState::Single;
    bool cutLocked_ = false, independent_ = false, designateChannel_ = false;
};
