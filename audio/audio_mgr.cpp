#include "audio/audio_mgr.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <new>
#include <stdexcept>
#include <thread>

#include "platform/byte_order.h"
#include "platform/log.h"
#include "recorderfile/audio_format.h"

namespace {

// The first manager that has to go on without a sound device says so; the
// others stay quiet (a file opens 16 of them).
std::atomic<bool> gNoOutputLogged{false};

int sampleBytesOf(int audioFormat) {
    switch (audioFormat) {
    case enAudioFormat_ULAW:
    case enAudioFormat_PCM16:
    case enAudioFormat_PCM16_2:
    case enAudioFormat_G723:
        return 2;
    default:
        return 1;
    }
}

// Bytes of PCM a whole packet decodes to (64-bit: a G.723 packet of 2 GB
// would overflow an int).
int64_t pcmBytesOf(int audioFormat, int packetBytes) {
    int64_t n = packetBytes;
    switch (audioFormat) {
    case enAudioFormat_G723:
        return n * 8 / 3 * 2;
    case enAudioFormat_ULAW:
        return n * 2;
    case enAudioFormat_PCM16:
    case enAudioFormat_PCM16_2:
        return n & ~int64_t{1};
    default:
        return n;
    }
}

// Packet bytes that hold the first `samples` G.723 codes: 8 codes per 3
// bytes; a last single byte holds 2 codes, a last pair 5.
int g723PrefixBytes(int64_t samples) {
    int64_t groups = samples / 8;
    int64_t rest = samples % 8;
    int64_t bytes = groups * 3 + (rest == 0 ? 0 : rest <= 2 ? 1 : rest <= 5 ? 2 : 3);
    return static_cast<int>(std::min<int64_t>(bytes, INT32_MAX));
}

} // namespace

AudioMgr::AudioMgr(AudioOutputFactory outputFactory) : mOutputFactory(outputFactory) {
    for (int i = 0; i < kAudioBufferCount; i++) {
        if (!addAudioBufferObj()) {
            break;
        }
    }
    g72x_init_state(&m_decState);
    try {
        mScratch.reserve(kAudioBufferBytes);
        mScratchSamples.reserve(kAudioBufferBytes / 2 + 8);
    } catch (const std::bad_alloc &) {
        // Reserved only to spare the writer allocations; it grows on demand.
    }
}

AudioMgr::~AudioMgr() {
    stop();
    // Closing the output joins its render thread: only then may the ring go.
    mOutputUnit.reset();
    AudioBufferObj *buffer = mHeadAudioBufferObj;
    while (buffer != nullptr) {
        AudioBufferObj *next = buffer->next;
        delete buffer;
        buffer = next;
    }
    mNumAudioBufferObjs = 0;
    mNextAudioBufferObj = nullptr;
    mNextProcessAudioBufferObj = nullptr;
    mHeadAudioBufferObj = nullptr;
    mTailAudioBufferObj = nullptr;
}

bool AudioMgr::addAudioBufferObj() {
    auto *buffer = new (std::nothrow) AudioBufferObj();
    if (buffer == nullptr) {
        return false;
    }
    buffer->id = static_cast<uint32_t>(mNumAudioBufferObjs);
    buffer->state.store(kAudioBufferFree, std::memory_order_relaxed);
    buffer->prev = mTailAudioBufferObj;
    buffer->next = nullptr;
    if (mTailAudioBufferObj != nullptr) {
        mTailAudioBufferObj->next = buffer;
    } else {
        mHeadAudioBufferObj = buffer;
    }
    mTailAudioBufferObj = buffer;
    mNumAudioBufferObjs++;
    return true;
}

AudioBufferObj *AudioMgr::following(AudioBufferObj *buffer) const {
    return buffer->next != nullptr ? buffer->next : mHeadAudioBufferObj;
}

bool AudioMgr::createDefaultAudioOuputDevice() {
    if (mOutputUnit != nullptr) {
        return false;
    }
    std::unique_ptr<AudioOutput> output = mOutputFactory != nullptr ? mOutputFactory() : nullptr;
    if (output == nullptr) {
        player_log("FindNextComponent\n");
        return false;
    }
    mOutputUnit = std::move(output);
    int err = mOutputUnit->setRenderCallback(&AudioMgr::AudioRender, this);
    if (err != kAudioOutputOK) {
        player_log("AudioUnitSetProperty-CB=%ld\n", static_cast<long>(err));
        return false;
    }
    return true;
}

void AudioMgr::closeDefaultAudioOutputDevice() {
    // The output goes with its handle, so nothing can close it twice.
    if (mOutputUnit != nullptr) {
        mOutputUnit->stop();
        mOutputUnit->uninitialize();
        mOutputUnit.reset();
    }
}

void AudioMgr::setFormat(int audioFormat) {
    if (audioFormat >= enAudioFormat_ULAW && audioFormat <= enAudioFormat_G723) {
        bool eightBit = audioFormat == enAudioFormat_PCM;
        mSampleRate = kAudioSampleRate;
        mFormatID = kAudioStreamLinearPCM;
        mFormatFlags = eightBit ? kAudioStreamFlagPacked : (kAudioStreamFlagSigned | kAudioStreamFlagPacked);
        mBytesPerPacket = eightBit ? 1 : 2;
        mFramesPerPacket = 1;
        mBytesPerFrame = eightBit ? 1 : 2;
        mChannelsPerFrame = 1;
        mBitsPerChannel = eightBit ? 8 : 16;
        mAudioFormat = audioFormat;
    }
    player_log("mAudioFormat = 0x%x\n", static_cast<unsigned>(mAudioFormat));
}

AudioStreamFormat AudioMgr::streamFormat() const {
    AudioStreamFormat f;
    f.mSampleRate = mSampleRate;
    f.mFormatID = mFormatID;
    f.mFormatFlags = mFormatFlags;
    f.mBytesPerPacket = mBytesPerPacket;
    f.mFramesPerPacket = mFramesPerPacket;
    f.mBytesPerFrame = mBytesPerFrame;
    f.mChannelsPerFrame = mChannelsPerFrame;
    f.mBitsPerChannel = mBitsPerChannel;
    return f;
}

bool AudioMgr::play() {
    AudioStreamFormat format = streamFormat();
    int err = mOutputUnit != nullptr ? mOutputUnit->setStreamFormat(format) : kAudioOutputErrState;
    if (err != kAudioOutputOK) {
        char code[5] = {};
        std::memcpy(code, &err, 4); // the code's bytes as they lie in memory
        player_log("AudioUnitSetProperty-SF=%4.4s, %ld\n", code, static_cast<long>(err));
        return false;
    }
    // The render side learns the sample layout before the device can pull.
    bool eightBitUnsigned =
        format.mBitsPerChannel == 8 && (format.mFormatFlags & kAudioStreamFlagSigned) == 0;
    mRenderSampleBytes.store(format.mBitsPerChannel == 8 ? 1 : 2, std::memory_order_relaxed);
    mRenderSilence.store(eightBitUnsigned ? 0x80 : 0, std::memory_order_relaxed);

    err = mOutputUnit->initialize();
    if (err != kAudioOutputOK) {
        // Without a sound device the audio must still be decoded, queued and
        // copied (a conversion needs it): a silent output stands in. Said
        // once: every file opens sixteen managers.
        std::unique_ptr<AudioOutput> standIn = createNullAudioOutput();
        if (standIn == nullptr) {
            player_log("AudioUnitInitialize=%ld\n", static_cast<long>(err));
            return false;
        }
        if (!gNoOutputLogged.exchange(true)) {
            std::string why = mOutputUnit->errorText();
            player_log("AudioUnitInitialize=%ld\n", static_cast<long>(err));
            player_log("No usable sound output (%s): audio goes on without sound",
                       why.empty() ? "unknown" : why.c_str());
        }
        mOutputUnit = std::move(standIn);
        mOutputUnit->setRenderCallback(&AudioMgr::AudioRender, this);
        mOutputUnit->setStreamFormat(format);
        mOutputUnit->initialize();
    }
    err = mOutputUnit->start();
    if (err != kAudioOutputOK) {
        player_log("AudioOutputUnitStart=%ld\n", static_cast<long>(err));
        return false;
    }
    return true;
}

bool AudioMgr::stop() {
    if (mOutputUnit == nullptr) {
        return true;
    }
    int err = mOutputUnit->stop();
    if (err != kAudioOutputOK) {
        player_log("AudioOutputUnitStop=%ld\n", static_cast<long>(err));
        return false;
    }
    err = mOutputUnit->uninitialize();
    if (err != kAudioOutputOK) {
        player_log("AudioUnitUninitialize=%ld\n", static_cast<long>(err));
        return false;
    }
    return true;
}

void AudioMgr::setVolumeViaProgramming(float volume) {
    if (volume >= 0.0f && volume <= 1.0f) {
        mVolume.store(volume, std::memory_order_relaxed);
    }
}

// Takes a buffer for the writer, waiting only while the render side is in the
// middle of copying out of it. A buffer still queued for output is emptied:
// the writer overtakes the render side and the oldest audio is lost.
void AudioMgr::enterBuffer(AudioBufferObj *buffer) {
    for (;;) {
        int state = buffer->state.load(std::memory_order_acquire);
        if (state == kAudioBufferRendering) {
            std::this_thread::yield();
            continue;
        }
        if (buffer->state.compare_exchange_weak(state, kAudioBufferWriting, std::memory_order_acq_rel)) {
            break;
        }
    }
    buffer->fill = 0;
    buffer->readPos = 0;
}

// Returns the first pcmBytes of the packet's PCM (pcmBytes never exceeds what
// the packet holds), or null when scratch memory cannot be had.
const uint8_t *AudioMgr::convert(const uint8_t *packet, int packetBytes, int64_t pcmBytes) {
    try {
        if (mAudioFormat == enAudioFormat_G723) {
            int samples = static_cast<int>(pcmBytes / 2);
            int prefix = std::min(g723PrefixBytes(samples), packetBytes);
            int count = CG723Decode(packet, prefix, nullptr, 0, m_decState);
            if (count < samples) {
                return nullptr;
            }
            mScratchSamples.resize(static_cast<size_t>(count));
            if (CG723Decode(packet, prefix, mScratchSamples.data(), count, m_decState) != count) {
                return nullptr;
            }
            mScratch.resize(static_cast<size_t>(samples) * 2);
            for (int i = 0; i < samples; i++) {
                const uint16_t s = static_cast<uint16_t>(mScratchSamples[static_cast<size_t>(i)]);
                writeLE16(&mScratch[2 * static_cast<size_t>(i)], s);
            }
            return mScratch.data();
        }
        if (mAudioFormat == enAudioFormat_ULAW) {
            size_t samples = static_cast<size_t>(pcmBytes / 2);
            mScratch.resize(samples * 2);
            for (size_t i = 0; i < samples; i++) {
                writeLE16(&mScratch[2 * i], static_cast<uint16_t>(ulaw_to_s16(packet[i])));
            }
            return mScratch.data();
        }
    } catch (const std::bad_alloc &) {
        return nullptr;
    } catch (const std::length_error &) {
        return nullptr;
    }
    return packet; // linear PCM is queued as it comes
}

bool AudioMgr::addAudioData(const uint8_t *audioData, int dataSize, char *audioRawData,
                            int audioRawDataCapacity, int *audioRawDataLen, bool needCopyPCM) {
    if (audioRawDataLen != nullptr) {
        *audioRawDataLen = 0;
    }
    if (mNextAudioBufferObj == nullptr) {
        if (mHeadAudioBufferObj == nullptr) {
            player_log("err, no audio buffer object");
            return false;
        }
        enterBuffer(mHeadAudioBufferObj);
        mNextAudioBufferObj = mHeadAudioBufferObj;
    }
    if (audioData == nullptr || dataSize < 0) {
        return false;
    }

    const int sampleBytes = sampleBytesOf(mAudioFormat);
    const int64_t pcmBytes = pcmBytesOf(mAudioFormat, dataSize);
    if (sampleBytes == 2 && mAudioFormat != enAudioFormat_ULAW && mAudioFormat != enAudioFormat_G723 &&
        (dataSize & 1) != 0) {
        player_log("16-bit audio packet of %d bytes: last byte dropped", dataSize);
    }

    AudioBufferObj *buffer = mNextAudioBufferObj;
    const int pos = buffer->fill;
    const int64_t room = kAudioBufferBytes - pos;
    int64_t store = std::min(pcmBytes, room);
    store -= store % sampleBytes;
    if (pcmBytes > room) {
        player_log("Input audio data is too large!");
    }
    int64_t copy = 0;
    if (needCopyPCM && audioRawData != nullptr && audioRawDataCapacity > 0) {
        copy = std::min<int64_t>(pcmBytes, audioRawDataCapacity);
        copy -= copy % sampleBytes;
    }

    const int64_t wanted = std::max(store, copy);
    const uint8_t *pcm = wanted > 0 ? convert(audioData, dataSize, wanted) : audioData;
    if (pcm == nullptr) {
        player_log("Audio packet of %d bytes could not be decoded", dataSize);
        return false;
    }
    if (store > 0) {
        std::memcpy(buffer->data + pos, pcm, static_cast<size_t>(store));
    }
    buffer->fill = pos + static_cast<int>(store);
    if (copy > 0) {
        std::memcpy(audioRawData, pcm, static_cast<size_t>(copy));
        if (audioRawDataLen != nullptr) {
            *audioRawDataLen = static_cast<int>(copy);
        }
    }
    buffer->readPos = 0;

    // Handed over as soon as another packet of this size would not fit.
    if (buffer->fill + pcmBytes >= kAudioBufferBytes) {
        buffer->state.store(kAudioBufferReady, std::memory_order_release);
        AudioBufferObj *next = following(buffer);
        enterBuffer(next);
        mNextAudioBufferObj = next;
    }
    return true;
}

bool AudioMgr::processAudioBuffer(void *destination, uint32_t targetBufferSize, uint32_t *bytesCopied) {
    uint32_t copied = 0;
    bool first = true;
    bool result = false;
    auto *out = static_cast<uint8_t *>(destination);
    // At most one lap of the ring per call, so the render thread cannot be
    // kept here by a fast writer.
    for (int lap = 0; lap <= mNumAudioBufferObjs && copied < targetBufferSize; lap++) {
        if (mNextProcessAudioBufferObj == nullptr) {
            if (mHeadAudioBufferObj == nullptr) {
                break;
            }
            mNextProcessAudioBufferObj = mHeadAudioBufferObj;
        }
        AudioBufferObj *buffer = mNextProcessAudioBufferObj;
        int expected = kAudioBufferReady;
        if (!buffer->state.compare_exchange_strong(expected, kAudioBufferRendering,
                                                   std::memory_order_acq_rel)) {
            break;
        }
        if (first) {
            result = true;
            first = false;
        }
        uint32_t left = static_cast<uint32_t>(std::max(0, buffer->fill - buffer->readPos));
        uint32_t n = std::min(targetBufferSize - copied, left);
        if (n > 0) {
            std::memcpy(out + copied, buffer->data + buffer->readPos, n);
            buffer->readPos += static_cast<int>(n);
            copied += n;
        }
        if (buffer->readPos >= buffer->fill) {
            buffer->fill = 0;
            buffer->readPos = 0;
            mNextProcessAudioBufferObj = following(buffer);
            buffer->state.store(kAudioBufferFree, std::memory_order_release);
        } else {
            buffer->state.store(kAudioBufferReady, std::memory_order_release);
        }
    }
    if (bytesCopied != nullptr) {
        *bytesCopied = copied;
    }
    return result;
}

void AudioMgr::applyGain(uint8_t *buffer, uint32_t bytes) const {
    float gain = mVolume.load(std::memory_order_relaxed);
    if (gain == 1.0f) {
        return;
    }
    if (mRenderSampleBytes.load(std::memory_order_relaxed) == 1) {
        // Unsigned 8-bit: the gain scales the distance from the mid level.
        for (uint32_t i = 0; i < bytes; i++) {
            long v = std::lrint((static_cast<int>(buffer[i]) - 0x80) * gain);
            buffer[i] = static_cast<uint8_t>(v + 0x80);
        }
        return;
    }
    for (uint32_t i = 0; i + 1 < bytes; i += 2) {
        const int v = static_cast<int16_t>(readLE16(buffer + i));
        writeLE16(buffer + i, static_cast<uint16_t>(static_cast<int16_t>(std::lrint(v * gain))));
    }
}

int AudioMgr::AudioRender(void *refCon, uint8_t *buffer, uint32_t byteSize) {
    if (buffer == nullptr || byteSize == 0) {
        return 0;
    }
    auto *self = static_cast<AudioMgr *>(refCon);
    if (self == nullptr) {
        std::memset(buffer, 0, byteSize);
        return 0;
    }
    uint32_t copied = 0;
    self->processAudioBuffer(buffer, byteSize, &copied);
    self->applyGain(buffer, copied);
    // The output's buffer still holds what it played last: what the ring did
    // not fill must be silence, not a replay.
    if (copied < byteSize) {
        std::memset(buffer + copied, self->mRenderSilence.load(std::memory_order_relaxed), byteSize - copied);
    }
    return 0;
}
