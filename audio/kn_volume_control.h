// Reads and sets the volume and mute state of the system's default output device.
#pragma once

#include <cstdint>
#include <memory>

// The system's audio hardware service, as the volume control needs it. Every call
// reports success; the device id is whatever the service uses to name the device.
class VolumeBackend {
  public:
    virtual ~VolumeBackend() = default;
    virtual bool defaultOutputDevice(uint32_t &deviceId) = 0;
    virtual bool getVolume(uint32_t deviceId, float &volume) = 0; // 0.0 .. 1.0
    virtual bool setVolume(uint32_t deviceId, float volume) = 0;
    virtual bool setMute(uint32_t deviceId, bool muted) = 0;
};

// The ALSA simple mixer of the "default" device: element "Master", else "PCM", else the
// first element with a playback volume.
std::unique_ptr<VolumeBackend> makeAlsaVolumeBackend();

class KNVolumeControl {
  public:
    explicit KNVolumeControl(std::unique_ptr<VolumeBackend> backend = makeAlsaVolumeBackend());

    uint32_t outputDeviceID() const { return outputDeviceID_; }
    void setDefaultAudioDevice();

    // The device's volume; 0.0 when it cannot be read or lies outside 0.0 .. 1.0.
    float getHardwareVolume();
    // Below 0.001 mutes (the volume stays); otherwise sets min(v, 1.0) and unmutes.
    // Returns false, with a log line, when the device refused.
    bool setHardwareVolume(float volume);
    void increaseVolume();
    void decreaseVolume();
    bool muteHardwareVolume();
    bool unmuteHardwareVolume();
    // Mutes on the first call, whatever the device's state, then alternates.
    void toggleMute();

  private:
    bool readVolume(float &volume);

    std::unique_ptr<VolumeBackend> backend_;
    uint32_t outputDeviceID_ = 0;
};
