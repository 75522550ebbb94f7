// The audio path's one entry point for the application: one AudioMgr per
// recorder audio channel (channels numbered from 0), of which only the active
// channel's packets are decoded, queued and heard; packets of every other
// channel are accepted and dropped. Every method runs under one lock, so the
// engines' threads and the main thread may call at the same time; the sound
// outputs' render threads never take it.
#pragma once

#include <map>
#include <memory>
#include <mutex>

#include "audio/audio_mgr.h"
#include "audio/audio_output.h"

class AudioStreamProcessor {
  public:
    explicit AudioStreamProcessor(AudioOutputFactory outputFactory = &createSdlAudioOutput);
    ~AudioStreamProcessor();
    AudioStreamProcessor(const AudioStreamProcessor &) = delete;
    AudioStreamProcessor &operator=(const AudioStreamProcessor &) = delete;

    // Creates the channel's manager with its sound output (no device is
    // opened before playDeviceAudio). YES only when a new manager was stored.
    bool createDeviceAudio(int channel);
    // Stops and removes the channel's manager; YES when there was one.
    bool removeDeviceAudio(int channel);

    // Queues a packet of the active channel. NO for a missing or empty packet
    // or a channel without a manager; YES without doing anything for another
    // channel. When needCopyPCM is set, the packet's PCM is copied to
    // audioRawData (at most audioRawDataCapacity bytes). *audioRawDataLen (when
    // not null) receives the bytes copied: 0 whenever nothing was copied.
    bool addAudioDataToDevice(int channel, const void *audioData, int dataSize, char *audioRawData,
                              int audioRawDataCapacity, int *audioRawDataLen, bool needCopyPCM);

    // The channel manager's stream format (enAudioFormat 1 to 5).
    void setParameterWithChannel(int channel, int audioFormat);
    // Volume 0.0 to 1.0 of the active channel's output.
    void setVolumeViaProgramming(float volume);
    // Starts the channel's output and makes it the active channel.
    bool playDeviceAudio(int channel);
    // Stops the channel's output; the active channel becomes -1 if it was it.
    bool stopDeviceAudio(int channel);
    // Makes another channel the active one; no output is started or stopped.
    void changeActiveChannel(int channel);

    int activeChannel() const;
    bool hasDeviceAudio(int channel) const;

  private:
    AudioOutputFactory mOutputFactory;
    std::map<int, std::unique_ptr<AudioMgr>> channelsAudio;
    mutable std::mutex locker;
    int mActiveChannel = -1;
};
