#include "audio/g723.h"

#include <climits>
#include <cstdlib>

// The intermediate values are kept in the widths the standard's decomposition
// uses (short where it narrows): the truncations are part of its results.

namespace {

const short power2[15] = {1,     2,     4,     8,     0x10,   0x20,   0x40,  0x80,
                          0x100, 0x200, 0x400, 0x800, 0x1000, 0x2000, 0x4000};

// 24 kbit/s decoder tables, indexed by the 3-bit code.
const short _dqlntab[8] = {-2048, 135, 273, 373, 373, 273, 135, -2048};   // log of dq magnitude
const short _witab[8] = {-128, 960, 4384, 18624, 18624, 4384, 960, -128}; // scale factor multipliers
const short _fitab[8] = {0, 0x200, 0x400, 0xE00, 0xE00, 0x400, 0x200, 0}; // transition detector inputs

// Index of the first table entry above val (size when none is).
int quan(int val, const short *table, int size) {
    int i = 0;
    for (; i < size; i++) {
        if (val < table[i]) {
            break;
        }
    }
    return i;
}

} // namespace

namespace g72x {

// Multiplies predictor coefficient an by a signal value in the 4-bit exponent,
// 6-bit mantissa floating form srn.
int fmult(int an, int srn) {
    short anmag = static_cast<short>((an > 0) ? an : ((-an) & 0x1FFF));
    short anexp = static_cast<short>(quan(anmag, power2, 15) - 6);
    short anmant = static_cast<short>((anmag == 0) ? 32 : (anexp >= 0) ? anmag >> anexp : anmag << -anexp);
    short wanexp = static_cast<short>(anexp + ((srn >> 6) & 0xF) - 13);
    short wanmant = static_cast<short>((anmant * (srn & 077) + 0x30) >> 4);
    short retval = static_cast<short>((wanexp >= 0) ? ((wanmant << wanexp) & 0x7FFF) : (wanmant >> -wanexp));
    return ((an ^ srn) < 0) ? -retval : retval;
}

int predictor_zero(const g72x_state *s) {
    int sezi = fmult(s->b[0] >> 2, s->dq[0]);
    for (int i = 1; i < 6; i++) {
        sezi += fmult(s->b[i] >> 2, s->dq[i]);
    }
    return sezi;
}

int predictor_pole(const g72x_state *s) {
    return fmult(s->a[1] >> 2, s->sr[1]) + fmult(s->a[0] >> 2, s->sr[0]);
}

int step_size(const g72x_state *s) {
    if (s->ap >= 256) {
        return s->yu;
    }
    int y = static_cast<int>(s->yl >> 6);
    int dif = s->yu - y;
    int al = s->ap >> 2;
    if (dif > 0) {
        y += (dif * al) >> 6;
    } else if (dif < 0) {
        y += (dif * al + 0x3F) >> 6;
    }
    return y;
}

int reconstruct(int sign, int dqln, int y) {
    short dql = static_cast<short>(dqln + (y >> 2)); // log of dq magnitude
    if (dql < 0) {
        return sign ? -0x8000 : 0;
    }
    short dex = static_cast<short>((dql >> 7) & 15); // integer part of the log
    short dqt = static_cast<short>(128 + (dql & 127));
    short dq = static_cast<short>((dqt << 7) >> (14 - dex));
    return sign ? (dq - 0x8000) : dq;
}

void update(int code_size, int y, int wi, int fi, int dq, int sr, int dqsez, g72x_state *s) {
    short a2p = 0;
    short pk0 = static_cast<short>((dqsez < 0) ? 1 : 0);
    short mag = static_cast<short>(dq & 0x7FFF);

    // Transition detector.
    short ylint = static_cast<short>(s->yl >> 15);
    short ylfrac = static_cast<short>((s->yl >> 10) & 0x1F);
    short thr1 = static_cast<short>((32 + ylfrac) << ylint);
    short thr2 = static_cast<short>((ylint > 9) ? 31 << 10 : thr1);
    short dqthr = static_cast<short>((thr2 + (thr2 >> 1)) >> 1);
    char tr;
    if (s->td == 0) {
        tr = 0;
    } else if (mag <= dqthr) {
        tr = 0;
    } else {
        tr = 1;
    }

    // Quantizer scale factor adaptation.
    s->yu = static_cast<short>(y + ((wi - y) >> 5));
    if (s->yu < 544) {
        s->yu = 544;
    } else if (s->yu > 5120) {
        s->yu = 5120;
    }
    s->yl += s->yu + ((-s->yl) >> 6);

    // Adaptive predictor coefficients.
    if (tr == 1) {
        s->a[0] = 0;
        s->a[1] = 0;
        for (int i = 0; i < 6; i++) {
            s->b[i] = 0;
        }
    } else {
        short pks1 = static_cast<short>(pk0 ^ s->pk[0]);

        a2p = static_cast<short>(s->a[1] - (s->a[1] >> 7));
        if (dqsez != 0) {
            short fa1 = static_cast<short>(pks1 ? s->a[0] : -s->a[0]);
            if (fa1 < -8191) {
                a2p = static_cast<short>(a2p - 0x100);
            } else if (fa1 > 8191) {
                a2p = static_cast<short>(a2p + 0xFF);
            } else {
                a2p = static_cast<short>(a2p + (fa1 >> 5));
            }

            if (pk0 ^ s->pk[1]) {
                if (a2p <= -12160) {
                    a2p = -12288;
                } else if (a2p >= 12416) {
                    a2p = 12288;
                } else {
                    a2p = static_cast<short>(a2p - 0x80);
                }
            } else if (a2p <= -12416) {
                a2p = -12288;
            } else if (a2p >= 12160) {
                a2p = 12288;
            } else {
                a2p = static_cast<short>(a2p + 0x80);
            }
        }
        s->a[1] = a2p;

        s->a[0] = static_cast<short>(s->a[0] - (s->a[0] >> 8));
        if (dqsez != 0) {
            if (pks1 == 0) {
                s->a[0] = static_cast<short>(s->a[0] + 192);
            } else {
                s->a[0] = static_cast<short>(s->a[0] - 192);
            }
        }
        short a1ul = static_cast<short>(15360 - a2p);
        if (s->a[0] < -a1ul) {
            s->a[0] = static_cast<short>(-a1ul);
        } else if (s->a[0] > a1ul) {
            s->a[0] = a1ul;
        }

        for (int i = 0; i < 6; i++) {
            if (code_size == 5) {
                s->b[i] = static_cast<short>(s->b[i] - (s->b[i] >> 9));
            } else {
                s->b[i] = static_cast<short>(s->b[i] - (s->b[i] >> 8));
            }
            if (dq & 0x7FFF) {
                if ((dq ^ s->dq[i]) >= 0) {
                    s->b[i] = static_cast<short>(s->b[i] + 128);
                } else {
                    s->b[i] = static_cast<short>(s->b[i] - 128);
                }
            }
        }
    }

    for (int i = 5; i > 0; i--) {
        s->dq[i] = s->dq[i - 1];
    }
    // dq to 4-bit exponent, 6-bit mantissa floating form.
    if (mag == 0) {
        s->dq[0] = static_cast<short>((dq >= 0) ? 0x20 : 0xFC20);
    } else {
        short exp = static_cast<short>(quan(mag, power2, 15));
        s->dq[0] = static_cast<short>((dq >= 0) ? (exp << 6) + ((mag << 6) >> exp)
                                                : (exp << 6) + ((mag << 6) >> exp) - 0x400);
    }

    s->sr[1] = s->sr[0];
    // sr to the same floating form.
    if (sr == 0) {
        s->sr[0] = 0x20;
    } else if (sr > 0) {
        short exp = static_cast<short>(quan(sr, power2, 15));
        s->sr[0] = static_cast<short>((exp << 6) + ((sr << 6) >> exp));
    } else if (sr > -32768) {
        mag = static_cast<short>(-sr);
        short exp = static_cast<short>(quan(mag, power2, 15));
        s->sr[0] = static_cast<short>((exp << 6) + ((mag << 6) >> exp) - 0x400);
    } else {
        s->sr[0] = static_cast<short>(0xFC20);
    }

    s->pk[1] = s->pk[0];
    s->pk[0] = pk0;

    // Tone detector.
    if (tr == 1) {
        s->td = 0;
    } else if (a2p < -11776) {
        s->td = 1;
    } else {
        s->td = 0;
    }

    // Adaptation speed control.
    s->dms = static_cast<short>(s->dms + ((fi - s->dms) >> 5));
    s->dml = static_cast<short>(s->dml + (((fi << 2) - s->dml) >> 7));

    if (tr == 1) {
        s->ap = 256;
    } else if (y < 1536) {
        s->ap = static_cast<short>(s->ap + ((0x200 - s->ap) >> 4));
    } else if (s->td == 1) {
        s->ap = static_cast<short>(s->ap + ((0x200 - s->ap) >> 4));
    } else if (std::abs(s->dms * 4 - s->dml) >= (s->dml >> 3)) {
        s->ap = static_cast<short>(s->ap + ((0x200 - s->ap) >> 4));
    } else {
        s->ap = static_cast<short>(s->ap + ((-s->ap) >> 4));
    }
}

} // namespace g72x

void g72x_init_state(g72x_state *s) {
    s->yl = 34816;
    s->yu = 544;
    s->dms = 0;
    s->dml = 0;
    s->ap = 0;
    for (int i = 0; i < 2; i++) {
        s->a[i] = 0;
        s->pk[i] = 0;
        s->sr[i] = 32;
    }
    for (int i = 0; i < 6; i++) {
        s->b[i] = 0;
        s->dq[i] = 32;
    }
    s->td = 0;
}

int g723_24_decoder(int code, int out_coding, g72x_state *s) {
    code &= 0x07;
    short sezi = static_cast<short>(g72x::predictor_zero(s));
    short sez = static_cast<short>(sezi >> 1);
    short sei = static_cast<short>(sezi + g72x::predictor_pole(s));
    short se = static_cast<short>(sei >> 1); // estimated signal

    short y = static_cast<short>(g72x::step_size(s));
    short dq = static_cast<short>(g72x::reconstruct(code & 0x04, _dqlntab[code], y));

    short sr = static_cast<short>((dq < 0) ? (se - (dq & 0x3FFF)) : (se + dq)); // reconstructed signal
    short dqsez = static_cast<short>(sr - se + sez);

    g72x::update(3, y, _witab[code], _fitab[code], dq, sr, dqsez, s);

    if (out_coding == AUDIO_ENCODING_LINEAR) {
        return sr * 4; // from the 14-bit range to 16 bits (a multiply: sr may be negative)
    }
    return -1;
}

int CG723Decode(const uint8_t *packet, int packetBytes, short *out, int outCapacity, g72x_state state) {
    if (packetBytes < 0) {
        return -1;
    }
    long long count = static_cast<long long>(packetBytes) * 8 / 3;
    if (count > INT_MAX) {
        return -1;
    }
    if (out == nullptr) {
        return static_cast<int>(count);
    }
    if (count > outCapacity) {
        return -1;
    }
    if (count > 0 && packet == nullptr) {
        return -1;
    }

    // Codes are unpacked one 3-byte group at a time; a group holds 8 codes,
    // a last partial group of one or two bytes 2 or 5.
    int produced = 0;
    for (int pos = 0; pos < packetBytes; pos += 3) {
        int left = packetBytes - pos;
        uint32_t bits = packet[pos];
        int codes = 2;
        if (left >= 2) {
            bits |= static_cast<uint32_t>(packet[pos + 1]) << 8;
            codes = 5;
        }
        if (left >= 3) {
            bits |= static_cast<uint32_t>(packet[pos + 2]) << 16;
            codes = 8;
        }
        for (int i = 0; i < codes; i++) {
            int code = static_cast<int>((bits >> (3 * i)) & 7);
            out[produced++] = static_cast<short>(g723_24_decoder(code, AUDIO_ENCODING_LINEAR, &state));
        }
    }
    return produced;
}

int ulaw_to_s16(uint8_t byte) {
    int u = ~byte & 0xFF;
    int t = ((u & 0x0F) << 3) + 0x84;
    t <<= (u & 0x70) >> 4;
    return (u & 0x80) ? (0x84 - t) : (t - 0x84);
}

int ulaw_to_PCMs16(uint8_t byte) {
    return ulaw_to_s16(byte);
}
