#include "audio/audio_stream_processor.h"

#include <exception>
#include <new>
#include <typeinfo>

#include "platform/log.h"

AudioStreamProcessor::AudioStreamProcessor(AudioOutputFactory outputFactory)
    : mOutputFactory(outputFactory) {}

AudioStreamProcessor::~AudioStreamProcessor() {
    std::lock_guard<std::mutex> lock(locker);
    channelsAudio.clear();
    mActiveChannel = -1;
}

bool AudioStreamProcessor::createDeviceAudio(int channel) {
    {
        std::lock_guard<std::mutex> lock(locker);
        if (channelsAudio.count(channel) != 0) {
            return false;
        }
    }
    // Made outside the lock: the other callers need not wait for it.
    std::unique_ptr<AudioMgr> mgr(new (std::nothrow) AudioMgr(mOutputFactory));
    if (mgr == nullptr || mgr->numAudioBufferObjs() != kAudioBufferCount) {
        player_log("Failed to allocate resource for audio manager");
        return false;
    }
    if (!mgr->createDefaultAudioOuputDevice()) {
        player_log("failed to create default audio ouput device, channel=%d", channel);
        return false;
    }
    std::lock_guard<std::mutex> lock(locker);
    try {
        // A manager stored meanwhile by another caller stays; this one goes.
        return channelsAudio.emplace(channel, std::move(mgr)).second;
    } catch (const std::exception &e) {
        player_log("Exception, Failed to create key for audio manager, channel=%d, name=%s, reason=%s",
                   channel, typeid(e).name(), e.what());
        return false;
    }
}

bool AudioStreamProcessor::removeDeviceAudio(int channel) {
    std::lock_guard<std::mutex> lock(locker);
    auto it = channelsAudio.find(channel);
    if (it == channelsAudio.end()) {
        return false;
    }
    it->second->stop();
    if (mActiveChannel == channel) {
        mActiveChannel = -1;
    }
    channelsAudio.erase(it); // closes the output, joining its render thread
    return true;
}

bool AudioStreamProcessor::addAudioDataToDevice(int channel, const void *audioData, int dataSize,
                                                char *audioRawData, int audioRawDataCapacity,
                                                int *audioRawDataLen, bool needCopyPCM) {
    // Whatever happens, a count left from an earlier packet must not be taken
    // for this one's.
    if (audioRawDataLen != nullptr) {
        *audioRawDataLen = 0;
    }
    if (audioData == nullptr || dataSize < 1) {
        return false;
    }
    std::lock_guard<std::mutex> lock(locker);
    auto it = channelsAudio.find(channel);
    if (it == channelsAudio.end()) {
        return false;
    }
    if (channel != mActiveChannel) {
        return true;
    }
    return it->second->addAudioData(static_cast<const uint8_t *>(audioData), dataSize, audioRawData,
                                    audioRawDataCapacity, audioRawDataLen, needCopyPCM);
}

void AudioStreamProcessor::setParameterWithChannel(int channel, int audioFormat) {
    std::lock_guard<std::mutex> lock(locker);
    auto it = channelsAudio.find(channel);
    if (it != channelsAudio.end()) {
        it->second->setFormat(audioFormat);
    }
}

void AudioStreamProcessor::setVolumeViaProgramming(float volume) {
    std::lock_guard<std::mutex> lock(locker);
    auto it = channelsAudio.find(mActiveChannel);
    if (mActiveChannel != -1 && it != channelsAudio.end()) {
        it->second->setVolumeViaProgramming(volume);
    }
}

bool AudioStreamProcessor::playDeviceAudio(int channel) {
    player_log("audio channel to playback = %d\n", channel);
    std::lock_guard<std::mutex> lock(locker);
    auto it = channelsAudio.find(channel);
    if (it == channelsAudio.end()) {
        return false;
    }
    bool ok = it->second->play();
    if (ok) {
        mActiveChannel = channel;
        player_log("==>activeChannel = %d\n", mActiveChannel);
    }
    return ok;
}

bool AudioStreamProcessor::stopDeviceAudio(int channel) {
    std::lock_guard<std::mutex> lock(locker);
    auto it = channelsAudio.find(channel);
    if (it == channelsAudio.end()) {
        return false;
    }
    bool ok = it->second->stop();
    if (ok && channel == mActiveChannel) {
        mActiveChannel = -1;
    }
    return ok;
}

void AudioStreamProcessor::changeActiveChannel(int channel) {
    std::lock_guard<std::mutex> lock(locker);
    mActiveChannel = channel;
}

int AudioStreamProcessor::activeChannel() const {
    std::lock_guard<std::mutex> lock(locker);
    return mActiveChannel;
}

bool AudioStreamProcessor::hasDeviceAudio(int channel) const {
    std::lock_guard<std::mutex> lock(locker);
    return channelsAudio.count(channel) != 0;
}
