// Reads a linear-PCM RIFF/WAVE file into memory and hands out its samples.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

class ANWAVFile {
  public:
    // Reads the format and the first "data" chunk. Returns false, leaving the fields read
    // so far, when the file is missing, not a WAVE file, or not mono/stereo linear PCM.
    bool loadFromFile(const std::string &path);

    // Little-endian reads from an open file; a short read gives the bytes that were there
    // (zeros for the rest) and sets the file's end-of-file state.
    static int16_t nextShort(FILE *fp);
    static uint32_t nextInt(FILE *fp);
    static std::string nextFourBytes(FILE *fp);

    // The first n sample frames of the data (fewer when the data holds fewer).
    std::vector<uint8_t> dataForNumberSamples(int n) const;
    // Sample frames in that many seconds, at most all of them; 0 before a file is loaded.
    int numberOfSamples(float seconds) const;

    int16_t wFormatTag() const { return wFormatTag_; }
    void setWFormatTag(int16_t v) { wFormatTag_ = v; }
    int16_t nChannels() const { return nChannels_; }
    void setNChannels(int16_t v) { nChannels_ = v; }
    int32_t nSamplesPerSec() const { return nSamplesPerSec_; }
    void setNSamplesPerSec(int32_t v) { nSamplesPerSec_ = v; }
    int32_t nAvgBytesPerSec() const { return nAvgBytesPerSec_; }
    void setNAvgBytesPerSec(int32_t v) { nAvgBytesPerSec_ = v; }
    int16_t nBlockAlign() const { return nBlockAlign_; }
    void setNBlockAlign(int16_t v) { nBlockAlign_ = v; }
    int16_t wBitsPerSample() const { return wBitsPerSample_; }
    void setWBitsPerSample(int16_t v) { wBitsPerSample_ = v; }
    const std::vector<uint8_t> &samples() const { return samples_; }

  private:
    int16_t wFormatTag_ = 0;
    int16_t nChannels_ = 0;
    int32_t nSamplesPerSec_ = 0;
    int32_t nAvgBytesPerSec_ = 0;
    int16_t nBlockAlign_ = 0;
    int16_t wBitsPerSample_ = 0;
    std::vector<uint8_t> samples_;
};
