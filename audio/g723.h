// Decoders for the two compressed recorder audio formats: G.723 ADPCM at
// 24 kbit/s (3-bit codes, the 24 kbit/s mode of G.726) and G.711 u-law.
// The G.723 decoder follows the standard's reference decomposition so that its
// output matches other decoders built on the same decomposition sample for
// sample. Free functions, no global state.
#pragma once

#include <cstdint>

// Decoder state of the ADPCM algorithm (field meanings as in the standard).
struct g72x_state {
    long yl;     // locked (steady state) step size multiplier
    short yu;    // unlocked (non-steady state) step size multiplier
    short dms;   // short-term energy estimate
    short dml;   // long-term energy estimate
    short ap;    // linear weighting coefficient of yl and yu
    short a[2];  // pole predictor coefficients
    short b[6];  // zero predictor coefficients
    short pk[2]; // signs of previous two partially reconstructed signals
    short dq[6]; // previous quantized differences, floating point form
    short sr[2]; // previous reconstructed signals, floating point form
    char td;     // tone detect flag
};

// Output coding accepted by g723_24_decoder: 16-bit linear samples.
constexpr int AUDIO_ENCODING_LINEAR = 3;

void g72x_init_state(g72x_state *state);

// Decodes one 3-bit code (only its low three bits are used). Returns the
// 16-bit linear sample, or -1 for an output coding other than linear (the
// state is updated all the same).
int g723_24_decoder(int code, int out_coding, g72x_state *state);

// Decodes a packet of 3-bit codes packed least significant bit first: 8 codes
// per 3 bytes, 2 codes from a last single byte, 5 from a last pair. The state
// is taken by value: every packet starts from the state the caller holds.
// With no output array, returns the sample count the packet holds. Returns -1
// when the count exceeds outCapacity, for a negative byte count, a missing
// packet, or a packet whose sample count does not fit an int; otherwise the
// number of samples written.
int CG723Decode(const uint8_t *packet, int packetBytes, short *out, int outCapacity, g72x_state state);

// G.711 u-law byte to a signed 16-bit sample (-32124 to 32124).
int ulaw_to_s16(uint8_t u);
int ulaw_to_PCMs16(uint8_t u);

// The standard's building blocks, exposed for tests of the decoder's steps.
// Kept in their own namespace: names like update() are too common to be global.
namespace g72x {
int fmult(int an, int srn);
int predictor_zero(const g72x_state *state);
int predictor_pole(const g72x_state *state);
int step_size(const g72x_state *state);
int reconstruct(int sign, int dqln, int y);
void update(int code_size, int y, int wi, int fi, int dq, int sr, int dqsez, g72x_state *state);
} // namespace g72x
