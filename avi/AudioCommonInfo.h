#pragma once
#include <cstdint>

// Wave-format record of the AVI audio stream. The audio path hands the builder linear PCM at
// 8000 samples per second, mono: 8-bit for enAudioFormat_PCM, 16-bit for every other format.
class AudioCommonInfo {
  public:
    void setAudioCommonInfoWithFormat(int audioFormat);
    // Bytes per sample frame: 2, or 1 for 8-bit.
    uint32_t getAudioScaleValueForAVIHeader() const;

    int16_t wFormatTag() const { return wFormatTag_; }
    int16_t wChannels() const { return wChannels_; }
    int16_t wBlockAlign() const { return wBlockAlign_; }
    int16_t wBitsPerSample() const { return wBitsPerSample_; }
    int32_t nSamplesPerSec() const { return nSamplesPerSec_; }
    int32_t nAvgBytesPerSec() const { return nAvgBytesPerSec_; }
    void setWFormatTag(int16_t v) { wFormatTag_ = v; }
    void setWChannels(int16_t v) { wChannels_ = v; }
    void setWBlockAlign(int16_t v) { wBlockAlign_ = v; }
    void setWBitsPerSample(int16_t v) { wBitsPerSample_ = v; }
    void setNSamplesPerSec(int32_t v) { nSamplesPerSec_ = v; }
    void setNAvgBytesPerSec(int32_t v) { nAvgBytesPerSec_ = v; }

  private:
    int16_t wFormatTag_ = 0;
    int16_t wChannels_ = 0;
    int16_t wBlockAlign_ = 0;
    int16_t wBitsPerSample_ = 0;
    int32_t nSamplesPerSec_ = 0;
    int32_t nAvgBytesPerSec_ = 0;
};
