#include "audio/kn_volume_control.h"

#include "platform/log.h"

#include <algorithm>
#include <alsa/asoundlib.h>
#include <atomic>
#include <cmath>

namespace {
constexpr float kVolumeStep = 0.0625f;
// Belongs to toggleMute: one switch for the whole process, like the device it drives.
std::atomic<bool> muted{false};
} // namespace

KNVolumeControl::KNVolumeControl(std::unique_ptr<VolumeBackend> backend) : backend_(std::move(backend)) {}

void KNVolumeControl::setDefaultAudioDevice() {
    outputDeviceID_ = 0;
    uint32_t id = 0;
    if (backend_ && backend_->defaultOutputDevice(id)) outputDeviceID_ = id;
}

bool KNVolumeControl::readVolume(float &volume) {
    setDefaultAudioDevice();
    float v = 0;
    if (!backend_ || !backend_->getVolume(outputDeviceID_, v) || std::isnan(v) || v < 0.0f || v > 1.0f)
        return false;
    volume = v;
    return true;
}

float KNVolumeControl::getHardwareVolume() {
    float v = 0.0f;
    return readVolume(v) ? v : 0.0f;
}

bool KNVolumeControl::muteHardwareVolume() {
    setDefaultAudioDevice();
    return backend_ && backend_->setMute(outputDeviceID_, true);
}

bool KNVolumeControl::unmuteHardwareVolume() {
    setDefaultAudioDevice();
    return backend_ && backend_->setMute(outputDeviceID_, false);
}

bool KNVolumeControl::setHardwareVolume(float volume) {
    if (std::isnan(volume)) return false;
    if (volume < 0.001f) {
        if (!muteHardwareVolume()) {
            player_log("Unable to mute device.\n");
            return false;
        }
        return true;
    }
    setDefaultAudioDevice();
    if (!backend_ || !backend_->setVolume(outputDeviceID_, std::min(volume, 1.0f))) return false;
    return backend_->setMute(outputDeviceID_, false);
}

// A volume that cannot be read is left alone: stepping from a made-up 0.0 would mute.
void KNVolumeControl::increaseVolume() {
    float v;
    if (readVolume(v)) setHardwareVolume(v + kVolumeStep);
}

void KNVolumeControl::decreaseVolume() {
    float v;
    if (readVolume(v)) setHardwareVolume(v - kVolumeStep);
}

void KNVolumeControl::toggleMute() {
    if (!muted.load()) {
        muteHardwareVolume();
        muted = true;
    } else {
        unmuteHardwareVolume();
        muted = false;
    }
}

namespace {
class AlsaVolumeBackend : public VolumeBackend {
  public:
    bool defaultOutputDevice(uint32_t &deviceId) override {
        Mixer m;
        if (!m.elem) return false;
        deviceId = 1; // ALSA names no devices by number; one default device
        return true;
    }
    bool getVolume(uint32_t, float &volume) override {
        Mixer m;
        long lo = 0, hi = 0, cur = 0;
        if (!m.elem || snd_mixer_selem_get_playback_volume_range(m.elem, &lo, &hi) < 0 || hi <= lo)
            return false;
        if (snd_mixer_selem_get_playback_volume(m.elem, SND_MIXER_SCHN_FRONT_LEFT, &cur) < 0 &&
            snd_mixer_selem_get_playback_volume(m.elem, SND_MIXER_SCHN_MONO, &cur) < 0)
            return false;
        volume = float(double(cur - lo) / double(hi - lo));
        return true;
    }
    bool setVolume(uint32_t, float volume) override {
        Mixer m;
        long lo = 0, hi = 0;
        if (!m.elem || snd_mixer_selem_get_playback_volume_range(m.elem, &lo, &hi) < 0 || hi <= lo)
            return false;
        long v = lo + std::lround(double(volume) * double(hi - lo));
        return snd_mixer_selem_set_playback_volume_all(m.elem, std::clamp(v, lo, hi)) >= 0;
    }
    bool setMute(uint32_t, bool mute) override {
        Mixer m;
        if (!m.elem || !snd_mixer_selem_has_playback_switch(m.elem)) return false;
        return snd_mixer_selem_set_playback_switch_all(m.elem, mute ? 0 : 1) >= 0;
    }

  private:
    // Opened afresh for every call: the default device may change between calls.
    struct Mixer {
        snd_mixer_t *handle = nullptr;
        snd_mixer_elem_t *elem = nullptr;
        Mixer() {
            if (snd_mixer_open(&handle, 0) < 0) {
                handle = nullptr;
                return;
            }
            if (snd_mixer_attach(handle, "default") < 0 ||
                snd_mixer_selem_register(handle, nullptr, nullptr) < 0 || snd_mixer_load(handle) < 0)
                return;
            elem = find("Master");
            if (!elem) elem = find("PCM");
            for (snd_mixer_elem_t *e = snd_mixer_first_elem(handle); !elem && e; e = snd_mixer_elem_next(e))
                if (snd_mixer_selem_is_active(e) && snd_mixer_selem_has_playback_volume(e)) elem = e;
        }
        ~Mixer() {
            if (handle) snd_mixer_close(handle);
        }
        Mixer(const Mixer &) = delete;
        Mixer &operator=(const Mixer &) = delete;
        snd_mixer_elem_t *find(const char *name) {
            snd_mixer_selem_id_t *sid;
            snd_mixer_selem_id_alloca(&sid);
            snd_mixer_selem_id_set_index(sid, 0);
            snd_mixer_selem_id_set_name(sid, name);
            snd_mixer_elem_t *e = snd_mixer_find_selem(handle, sid);
            return (e && snd_mixer_selem_has_playback_volume(e)) ? e : nullptr;
        }
    };
};
} // namespace

std::unique_ptr<VolumeBackend> makeAlsaVolumeBackend() {
    return std::make_unique<AlsaVolumeBackend>();
}
