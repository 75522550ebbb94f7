// Playback of one recorder audio channel: each encoded packet is turned into
// 8000 Hz mono linear PCM, queued in a ring of 15 buffers of 4096 bytes, and
// pulled from the ring by the sound output's render thread.
//
// Threads: every method except processAudioBuffer() and AudioRender() is
// called by one thread at a time (the audio stream processor serialises them
// under its lock). The render side never takes a lock and never waits for the
// writer; buffers pass between the two by an atomic state per buffer.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

#include "audio/audio_output.h"
#include "audio/g723.h"

constexpr int kAudioBufferBytes = 4096;
constexpr int kAudioBufferCount = 15;

// Who owns a buffer of the ring at this moment.
enum AudioBufferState : int {
    kAudioBufferFree = 0,      // empty, nobody's
    kAudioBufferWriting = 1,   // the writer's current buffer
    kAudioBufferReady = 2,     // full, waiting for the render side
    kAudioBufferRendering = 3, // the render side is copying out of it
};

// One buffer of the ring.
struct AudioBufferObj {
    uint8_t data[kAudioBufferBytes];
    uint32_t id;            // creation number, 0 to 14
    int fill;               // PCM bytes written into data
    int readPos;            // bytes of data already handed to the output
    std::atomic<int> state; // an AudioBufferState; publishes data, fill and readPos
    AudioBufferObj *prev;
    AudioBufferObj *next;
};

class AudioMgr {
  public:
    // The factory makes the sound output when createDefaultAudioOuputDevice()
    // is called; the device itself is opened only by play().
    explicit AudioMgr(AudioOutputFactory outputFactory = &createSdlAudioOutput);
    ~AudioMgr();
    AudioMgr(const AudioMgr &) = delete;
    AudioMgr &operator=(const AudioMgr &) = delete;

    // Makes the sound output and installs the render callback. NO when there
    // already is one, or when the output cannot be made.
    bool createDefaultAudioOuputDevice();
    // Stops and releases the sound output.
    void closeDefaultAudioOutputDevice();

    // Sets the stream format for an enAudioFormat of 1 to 5; other values
    // change nothing. The output takes it at the next play().
    void setFormat(int audioFormat);

    // Applies the stream format and starts the output. If no sound device can
    // be opened, a silent stand-in takes its place for the manager's life
    // (logged once per process) so that packets are still decoded, queued and
    // copied for a conversion.
    bool play();
    // Stops the output and closes its device; the queued audio stays queued.
    bool stop();

    // Gain of the rendered samples, 0.0 to 1.0; other values change nothing.
    void setVolumeViaProgramming(float volume);

    // Decodes one packet and queues the whole samples that fit into the
    // writer's buffer (a packet never spills past its 4096 bytes). When
    // needCopyPCM is set, the packet's PCM is also copied to audioRawData, up
    // to audioRawDataCapacity bytes in whole samples. *audioRawDataLen (when
    // not null) receives the bytes copied: 0 when no copy was wanted or made.
    // 16-bit PCM packets of an odd length lose their last byte.
    bool addAudioData(const uint8_t *audioData, int dataSize, char *audioRawData, int audioRawDataCapacity,
                      int *audioRawDataLen, bool needCopyPCM);

    // The render side: copies up to targetBufferSize queued bytes to
    // destination, going on into the following buffers while they are ready.
    // NO (nothing copied) when the render position's buffer is not ready.
    // *bytesCopied (when not null) receives the bytes copied.
    bool processAudioBuffer(void *destination, uint32_t targetBufferSize, uint32_t *bytesCopied = nullptr);

    // Render callback of the sound output (refCon is the AudioMgr): fills the
    // whole buffer, the queued PCM at the current volume followed by silence.
    static int AudioRender(void *refCon, uint8_t *buffer, uint32_t byteSize);

    int numAudioBufferObjs() const { return mNumAudioBufferObjs; }
    int audioFormat() const { return mAudioFormat; }
    AudioStreamFormat streamFormat() const;
    float volume() const { return mVolume.load(std::memory_order_relaxed); }

  private:
    bool addAudioBufferObj();
    void enterBuffer(AudioBufferObj *buffer);
    AudioBufferObj *following(AudioBufferObj *buffer) const;
    const uint8_t *convert(const uint8_t *packet, int packetBytes, int64_t pcmBytes);
    void applyGain(uint8_t *buffer, uint32_t bytes) const;

    AudioOutputFactory mOutputFactory;
    std::unique_ptr<AudioOutput> mOutputUnit;
    int mNumAudioBufferObjs = 0;
    AudioBufferObj *mNextAudioBufferObj = nullptr;        // writer position
    AudioBufferObj *mNextProcessAudioBufferObj = nullptr; // render position
    AudioBufferObj *mHeadAudioBufferObj = nullptr;
    AudioBufferObj *mTailAudioBufferObj = nullptr;

    double mSampleRate = 0.0;
    uint32_t mFormatID = 0;
    uint32_t mFormatFlags = 0;
    uint32_t mBytesPerPacket = 0;
    uint32_t mFramesPerPacket = 0;
    uint32_t mBytesPerFrame = 0;
    uint32_t mChannelsPerFrame = 0;
    uint32_t mBitsPerChannel = 0;
    int mAudioFormat = 0;
    g72x_state m_decState;

    // Read by the render thread.
    std::atomic<float> mVolume{1.0f};
    std::atomic<int> mRenderSampleBytes{2}; // sample size of the stream being played
    std::atomic<int> mRenderSilence{0};     // byte value of silence in that stream

    // Decoded PCM of the packet being written; grows to the largest packet.
    std::vector<uint8_t> mScratch;
    std::vector<short> mScratchSamples;
};
