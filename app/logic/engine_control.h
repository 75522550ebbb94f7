// Starting and stopping the engines for a file, as the playback activation and the conversion
// ask for it; the engine side does it. GUI thread.
#pragma once

#include <string>

class EngineControl {
  public:
    virtual ~EngineControl() = default;
    // The 16 audio channel objects made afresh, then the engine of an AVC file on `path` or of
    // a DV file on the open file started. False when it could not start (the caller then tears
    // down).
    virtual bool startWithFreshAudio(bool avc, const std::string &path) = 0;
    // The DV engine's codec (0 DV4 H.264, 1 DV4 MPEG-4, 2 DV5) and recorder variant.
    virtual void setDvFmtVideoCodec(int codec) = 0;
    virtual void setIsDVRType700(bool dvr700) = 0;
    // A new file's transport starts afresh: 1x, not paused, not at an end. The speed step and
    // the pause flag steer the transport of every kind of file, so what the last file was
    // left at must not carry over to the next.
    virtual void startTransportAfresh() = 0;
    // Every engine thread ends; no engine calls back any more when it returns.
    virtual void stopEngines() = 0;
    // What the stopped engines had queued for the window (time, progress, pictures, the end of
    // the file) is dropped, never shown.
    virtual void dropQueuedDeliveries() = 0;
};
