// What the engine side hands a running conversion from the engine threads: the compressed
// frames, the decoded sound and the end of the recording. The conversion implements it.
#pragma once

#include <cstdint>

#include "recorderfile/recorder_time.h"

class ConversionSink {
  public:
    virtual ~ConversionSink() = default;
    // One decoded picture's compressed frame; the builder's result.
    virtual int videoDataWrapping(unsigned channel, const uint8_t *frame, unsigned length, int imageWidth,
                                  int imageHeight, bool isIFrame, unsigned interval,
                                  const _SYSTEMTIME &sysTime) = 0;
    // Whether the audio callback should copy the decoded PCM.
    virtual bool needCopyPCM() const = 0;
    virtual void audioDataWrapping(const char *pcm, int length, int audioFormat) = 0;
    // An engine announced audio.
    virtual void setContainsAudioData() = 0;
    // AVC parser thread: a channel's codec.
    virtual void setAVCFmtVdoIdxForAVIBuilder(int codec) = 0;
    // The recording has been read to its end.
    virtual void endOfRecording() = 0;
};
