#include "app/open_file/open_file.h"

#include <QFile>

OpenFile::OpenFile(EngineShared &shared, QObject *parent) : QObject(parent), shared_(shared) {
    shared_.playerState.store(static_cast<int>(playerState_));
}

template <class T> void OpenFile::set(T &field, T value) {
    if (field == value) return;
    field = value;
    emit changed();
}

void OpenFile::setPath(const QString &path) {
    shared_.setFilePath(QFile::encodeName(path).toStdString());
    set(path_, path);
}

void OpenFile::setNames(const QString &fileName, const QString &extension, const QString &nameWithExtension,
                        const QString &folder) {
    fileName_ = fileName;
    fileExtension_ = extension;
    fileNameWithExtension_ = nameWithExtension;
    absoluteFileDir_ = folder;
    emit changed();
}

void OpenFile::clearNames() {
    setPath(QString());
    setNames(QString(), QString(), QString(), QString());
}

void OpenFile::setPlayerState(PlayerState state) {
    shared_.playerState.store(static_cast<int>(state));
    set(playerState_, state);
}

void OpenFile::setKind(RecorderFileKind kind) {
    shared_.avcFile.store(kind == RecorderFileKind::AVC);
    set(kind_, kind);
}

void OpenFile::setActivated(bool on) {
    set(activated_, on);
}

void OpenFile::setMasks(int video, int audio) {
    if (videoMask_ == video && audioMask_ == audio) return;
    videoMask_ = video;
    audioMask_ = audio;
    emit changed();
}

void OpenFile::setChannelIndex(int index) {
    set(channelIndex_, index);
}

void OpenFile::setSelectedVideoChannel(int channel) {
    shared_.selectedVideoChannel.store(channel);
    set(selectedVideoChannel_, channel);
}

void OpenFile::setSelectedAudioChannel(int channel) {
    shared_.selectedAudioChannel.store(channel);
    emit changed();
}

void OpenFile::setCutState(CutState cut) {
    shared_.cutState.store(static_cast<int>(cut));
    set(cutState_, cut);
}

void OpenFile::setCutLocked(bool locked) {
    set(cutLocked_, locked);
}

void OpenFile::setIndependent(bool on) {
    set(independent_, on);
}

void OpenFile::setDesignateChannel(bool on) {
    set(designateChannel_, on);
}
