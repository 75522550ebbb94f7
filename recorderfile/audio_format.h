// Audio format codes of recorder audio packets, set by the engines from a
// frame's audio type and used by the audio path, the application and the AVI
// export. Every format is 8000 samples per second, mono.
#pragma once

enum enAudioFormat : int {
    enAudioFormat_None = 0,    // no audio format known yet
    enAudioFormat_ULAW = 1,    // G.711 u-law bytes, expanded to signed 16-bit
    enAudioFormat_PCM = 2,     // unsigned 8-bit linear PCM
    enAudioFormat_PCM16 = 3,   // signed 16-bit little-endian linear PCM
    enAudioFormat_PCM16_2 = 4, // the same, from a second recorder type code
    enAudioFormat_G723 = 5,    // G.723 ADPCM, 24 kbit/s, 3-bit codes
};

constexpr int kAudioSampleRate = 8000;
