// The transport's way into the engines: the DV control flags, the AVC engine's actions and seek,
// the shared values the engines read (playing flag, AVC status) and the audio channels of the
// open file. It lives with the engine side, the one part of the application that includes the
// engines.
#pragma once

#include <functional>

#include "app/logic/transport_target.h"

class EngineSide;
class OpenFile;

class EngineTransportTarget : public transport::TransportTarget {
  public:
    EngineTransportTarget(EngineSide &engines, const OpenFile &file) : engines_(engines), file_(file) {}

    // Ends a running conversion (Stop while converting); until set, Stop only logs it.
    void setFinishConversion(std::function<void()> finish) { finishConversion_ = std::move(finish); }

    transport::TransportState transportState() const override;
    bool apply(const transport::TransportCommand &command) override;
    void selectAudioChannel(int channel1Based) override;
    void setAudioVolume(float volume) override;
    void setFlipImage(bool flip) override;

    // The volume last set (0 to 1).
    float audioSliderValueForBinding() const { return volume_; }

    // Which engine runs a file now: the open file's kind, if that engine has the file open
    // (a failed or torn-down start leaves none).
    transport::FileKind runningFile() const;

  private:
    EngineSide &engines_;
    const OpenFile &file_;
    float volume_ = 0.0f;
    std::function<void()> finishConversion_;
};
