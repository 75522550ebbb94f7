// What the transport controls steer: the engine of the open file, the shared values that the
// engines read, and the file's audio output. The controller talks to it only; the application
// implements it over the engines, tests with a fake.
#pragma once

#include "app/logic/transport_state.h"

namespace transport {

class TransportTarget {
  public:
    virtual ~TransportTarget() = default;

    // The state as the engines and the open file hold it now. The status images are left as
    // Other: the controller reads them from its views.
    virtual TransportState transportState() const = 0;
    // Carries out one command of a TransportResult; false when the engine refused it (only a
    // seek can be refused, while an AVC file's index is still being built).
    virtual bool apply(const TransportCommand &command) = 0;

    // The audio channel pop-up: the channel heard from its next packet on (1-based; 0 none).
    virtual void selectAudioChannel(int channel1Based) = 0;
    // The volume sliders: 0.0 to 1.0, for the output of the channel being heard.
    virtual void setAudioVolume(float volume) = 0;
    // The flip switch: pictures turned by 180 degrees from the next one on.
    virtual void setFlipImage(bool flip) = 0;
};

} // namespace transport
