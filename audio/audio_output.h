// The sound output an AudioMgr plays through: a device that pulls PCM from a
// render callback on a thread of its own. The manager sees only this
// interface, so tests can stand a fake in for the device or drive the render
// callback themselves.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

// Description of the PCM stream handed to the output (linear PCM only).
struct AudioStreamFormat {
    double mSampleRate;
    uint32_t mFormatID;
    uint32_t mFormatFlags;
    uint32_t mBytesPerPacket;
    uint32_t mFramesPerPacket;
    uint32_t mBytesPerFrame;
    uint32_t mChannelsPerFrame;
    uint32_t mBitsPerChannel;
};

constexpr uint32_t audioFourCC(char a, char b, char c, char d) {
    return (static_cast<uint32_t>(static_cast<uint8_t>(a)) << 24) |
           (static_cast<uint32_t>(static_cast<uint8_t>(b)) << 16) |
           (static_cast<uint32_t>(static_cast<uint8_t>(c)) << 8) |
           static_cast<uint32_t>(static_cast<uint8_t>(d));
}

constexpr uint32_t kAudioStreamLinearPCM = audioFourCC('l', 'p', 'c', 'm');
constexpr uint32_t kAudioStreamFlagSigned = 4; // samples are signed integers
constexpr uint32_t kAudioStreamFlagPacked = 8; // samples fill their bytes

// Results of the output calls: 0 for success, else a four-character code.
constexpr int kAudioOutputOK = 0;
constexpr int kAudioOutputErrFormat =
    static_cast<int>(audioFourCC('f', 'm', 't', '?')); // format not supported
constexpr int kAudioOutputErrDevice =
    static_cast<int>(audioFourCC('!', 'd', 'e', 'v')); // device could not be opened
constexpr int kAudioOutputErrState = static_cast<int>(audioFourCC('s', 't', 'a', 't')); // call out of order
constexpr int kAudioOutputErrParam = static_cast<int>(audioFourCC('p', 'a', 'r', 'm')); // bad argument

// The render callback: fill byteSize bytes of buffer with PCM of the stream
// format last set. Runs on the output's own thread; must not block.
using AudioRenderProc = int (*)(void *refCon, uint8_t *buffer, uint32_t byteSize);

class AudioOutput {
  public:
    virtual ~AudioOutput() = default;

    // Installs the render callback; only while the output is not initialised.
    virtual int setRenderCallback(AudioRenderProc proc, void *refCon) = 0;
    // Sets the stream format used by the next initialize().
    virtual int setStreamFormat(const AudioStreamFormat &format) = 0;
    // Opens the device for the stream format, silent until start().
    virtual int initialize() = 0;
    // Starts pulling from the render callback.
    virtual int start() = 0;
    // Stops pulling; the callback is not running when this returns.
    virtual int stop() = 0;
    // Closes the device (joining its thread); initialize() may follow again.
    virtual int uninitialize() = 0;
    // Why the last failed call failed, for the log; empty when not known.
    virtual std::string errorText() const { return std::string(); }
};

using AudioOutputFactory = std::unique_ptr<AudioOutput> (*)();

// The machine's default sound output, through SDL audio. The device is opened
// only by initialize(), so an output that is never started holds no device.
std::unique_ptr<AudioOutput> createSdlAudioOutput();

// An output that accepts every call and never pulls: the stand-in when the
// machine has no usable sound output.
std::unique_ptr<AudioOutput> createNullAudioOutput();
