#include "avi/AudioCommonInfo.h"

#include "recorderfile/audio_format.h"

void AudioCommonInfo::setAudioCommonInfoWithFormat(int audioFormat) {
    // The fields of a plain 8 kHz mono 16-bit WAVE header; 8-bit PCM halves the byte rates.
    wFormatTag_ = 1;
    wChannels_ = 1;
    nSamplesPerSec_ = 8000;
    nAvgBytesPerSec_ = 16000;
    wBlockAlign_ = 2;
    wBitsPerSample_ = 16;
    if (audioFormat == enAudioFormat_PCM) {
        nAvgBytesPerSec_ = 8000;
        wBlockAlign_ = 1;
        wBitsPerSample_ = 8;
    }
}

uint32_t AudioCommonInfo::getAudioScaleValueForAVIHeader() const {
    return static_cast<uint32_t>(static_cast<int>(wBitsPerSample_) * static_cast<int>(wChannels_)) >> 3;
}
