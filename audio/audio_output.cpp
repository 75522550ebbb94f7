#include "audio/audio_output.h"

#include <SDL.h>

#include <cmath>
#include <cstring>
#include <mutex>
#include <new>

namespace {

// SDL's subsystem start-up and device opening are not safe to call from two
// threads at once; managers are created and started from several threads.
std::mutex &sdlMutex() {
    static std::mutex m;
    return m;
}

// 256 frames: 32 ms at 8000 Hz, short enough for the pause to feel immediate.
constexpr Uint16 kDeviceFrames = 256;

class SdlAudioOutput final : public AudioOutput {
  public:
    ~SdlAudioOutput() override { uninitialize(); }

    int setRenderCallback(AudioRenderProc proc, void *refCon) override {
        if (device_ != 0) {
            return kAudioOutputErrState;
        }
        proc_ = proc;
        refCon_ = refCon;
        return kAudioOutputOK;
    }

    int setStreamFormat(const AudioStreamFormat &f) override {
        SDL_AudioFormat sdlFormat = 0;
        if (f.mFormatID != kAudioStreamLinearPCM || f.mChannelsPerFrame != 1 || f.mFramesPerPacket != 1 ||
            !(f.mSampleRate >= 1.0 && f.mSampleRate <= 384000.0) ||
            f.mSampleRate != std::floor(f.mSampleRate)) {
            return kAudioOutputErrFormat;
        }
        bool isSigned = (f.mFormatFlags & kAudioStreamFlagSigned) != 0;
        if (f.mBitsPerChannel == 8 && f.mBytesPerFrame == 1) {
            sdlFormat = isSigned ? AUDIO_S8 : AUDIO_U8;
        } else if (f.mBitsPerChannel == 16 && f.mBytesPerFrame == 2 && isSigned) {
            // The ring holds 16-bit samples low byte first, whatever the machine.
            sdlFormat = AUDIO_S16LSB;
        } else {
            return kAudioOutputErrFormat;
        }
        wantedFormat_ = sdlFormat;
        wantedRate_ = static_cast<int>(f.mSampleRate);
        return kAudioOutputOK;
    }

    int initialize() override {
        if (wantedFormat_ == 0) {
            return kAudioOutputErrState;
        }
        if (device_ != 0) {
            if (openFormat_ == wantedFormat_ && openRate_ == wantedRate_) {
                return kAudioOutputOK;
            }
            uninitialize();
        }
        std::lock_guard<std::mutex> lock(sdlMutex());
        // SDL would otherwise take over SIGINT and SIGTERM and turn them into events nobody
        // reads here, so the player could no longer be stopped by them.
        SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
        if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) {
            error_ = SDL_GetError();
            return kAudioOutputErrDevice;
        }
        SDL_AudioSpec want;
        SDL_zero(want);
        want.freq = wantedRate_;
        want.format = wantedFormat_;
        want.channels = 1;
        want.samples = kDeviceFrames;
        want.callback = &SdlAudioOutput::sdlCallback;
        want.userdata = this;
        SDL_AudioSpec have;
        SDL_zero(have);
        // No changes allowed: SDL converts to what the hardware takes, so the
        // callback always gets exactly the stream format asked for.
        SDL_AudioDeviceID id = SDL_OpenAudioDevice(nullptr, 0, &want, &have, 0);
        if (id == 0) {
            error_ = SDL_GetError();
            SDL_QuitSubSystem(SDL_INIT_AUDIO);
            return kAudioOutputErrDevice;
        }
        device_ = id;
        openFormat_ = wantedFormat_;
        openRate_ = wantedRate_;
        silence_ = have.silence;
        return kAudioOutputOK;
    }

    int start() override {
        if (device_ == 0) {
            return kAudioOutputErrState;
        }
        SDL_PauseAudioDevice(device_, 0);
        return kAudioOutputOK;
    }

    int stop() override {
        // Pausing takes the device lock the callback runs under, so no
        // callback is running or will start once this returns.
        if (device_ != 0) {
            SDL_PauseAudioDevice(device_, 1);
        }
        return kAudioOutputOK;
    }

    int uninitialize() override {
        if (device_ != 0) {
            std::lock_guard<std::mutex> lock(sdlMutex());
            SDL_CloseAudioDevice(device_); // joins the device's thread
            SDL_QuitSubSystem(SDL_INIT_AUDIO);
            device_ = 0;
            openFormat_ = 0;
        }
        return kAudioOutputOK;
    }

    std::string errorText() const override { return error_; }

  private:
    static void SDLCALL sdlCallback(void *userdata, Uint8 *stream, int len) {
        auto *self = static_cast<SdlAudioOutput *>(userdata);
        if (len <= 0) {
            return;
        }
        if (self->proc_ == nullptr) {
            std::memset(stream, self->silence_, static_cast<size_t>(len));
            return;
        }
        self->proc_(self->refCon_, stream, static_cast<uint32_t>(len));
    }

    AudioRenderProc proc_ = nullptr;
    void *refCon_ = nullptr;
    SDL_AudioFormat wantedFormat_ = 0;
    int wantedRate_ = 0;
    SDL_AudioDeviceID device_ = 0;
    SDL_AudioFormat openFormat_ = 0;
    int openRate_ = 0;
    Uint8 silence_ = 0;
    std::string error_;
};

class NullAudioOutput final : public AudioOutput {
  public:
    int setRenderCallback(AudioRenderProc, void *) override { return kAudioOutputOK; }
    int setStreamFormat(const AudioStreamFormat &) override { return kAudioOutputOK; }
    int initialize() override { return kAudioOutputOK; }
    int start() override { return kAudioOutputOK; }
    int stop() override { return kAudioOutputOK; }
    int uninitialize() override { return kAudioOutputOK; }
};

} // namespace

std::unique_ptr<AudioOutput> createSdlAudioOutput() {
    return std::unique_ptr<AudioOutput>(new (std::nothrow) SdlAudioOutput());
}

std::unique_ptr<AudioOutput> createNullAudioOutput() {
    return std::unique_ptr<AudioOutput>(new (std::nothrow) NullAudioOutput());
}
