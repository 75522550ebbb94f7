#pragma once
// The audio format codes the builder is handed, until the audio library's own declaration is
// available to include here.
namespace avi {
enum AudioCode : int {
    enAudioFormat_ULAW = 1,
    enAudioFormat_PCM = 2,
    enAudioFormat_PCM16 = 3,
    enAudioFormat_PCM16_2 = 4,
    enAudioFormat_G723 = 5,
};
} // namespace avi
