// Read -> write -> read over arbitrary NAL units (an Annex B stream, or the
// whole input as one unit). Nothing may read or write outside its buffers or
// hang, and what is written must read back as the record it came from, up
// to the writers' stated simplifications:
//  - parameter sets and delimiters read back to the same record;
//  - slice headers settle after one pass (loop commands collapse to the
//    stored one), so the second and third writes are equal;
//  - SEI messages read back the same, except that a run of all-zero
//    messages at the end may be lost and an empty type 3 message may appear
//    (no stop byte after aligned messages, 03 after a last zero byte).
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "h264bits/h264_print.h"
#include "h264bits/h264_read.h"
#include "h264bits/h264_write.h"

namespace {

using Bytes = std::vector<uint8_t>;

struct SeiCopy {
    int type;
    int size;
    Bytes payload;
};

struct Snapshot {
    int type = -1;
    std::unique_ptr<sps_t> sps;
    std::unique_ptr<pps_t> pps;
    int primary_pic_type = 0;
    std::vector<SeiCopy> seis;
};

struct Pass {
    std::vector<Bytes> written;
    std::vector<Snapshot> snaps;
    bool overflow = false;
};

void fail(int line) {
    std::fprintf(stderr, "check failed at line %d\n", line);
    std::abort();
}
#define check(ok) ((ok) ? (void)0 : fail(__LINE__))

Pass run_pass(const std::vector<Bytes> &units) {
    Pass out;
    h264_stream_t *h = h264_new();
    if (!h) return out;
    for (const Bytes &u : units) {
        // Exact-size copies, so the sanitizer sees any access past the end.
        std::unique_ptr<uint8_t[]> in(new uint8_t[u.size() ? u.size() : 1]);
        if (!u.empty()) std::memcpy(in.get(), u.data(), u.size());
        const int n = read_nal_unit(h, in.get(), int(u.size()));
        check(n >= 0 && n <= int(u.size()));
        debug_nal(h, h->nal);

        Snapshot s;
        s.type = h->nal->nal_unit_type;
        if (s.type == 7) s.sps.reset(new sps_t(*h->sps));
        if (s.type == 8) s.pps.reset(new pps_t(*h->pps));
        if (s.type == 9) s.primary_pic_type = h->aud->primary_pic_type;
        if (s.type == 6) {
            check(h->num_seis >= 1 && h->sei == h->seis[h->num_seis - 1]);
            for (int i = 0; i < h->num_seis; i++) {
                const sei_t *m = h->seis[i];
                check(m->payloadSize >= 0 && m->payloadSize <= int(u.size()));
                check((m->payloadSize == 0) == (m->payload == nullptr));
                s.seis.push_back(
                    {m->payloadType, m->payloadSize, Bytes(m->payload, m->payload + m->payloadSize)});
            }
        }

        const size_t cap = u.size() * 4 + 1024;
        std::unique_ptr<uint8_t[]> buf(new uint8_t[cap]);
        int overflow = -1;
        const int m = write_nal_unit(h, buf.get(), int(cap), &overflow);
        check(m >= 0 && m <= int(cap) && (overflow == 0 || overflow == 1));
        if (overflow) out.overflow = true;
        out.written.emplace_back(buf.get(), buf.get() + m);
        out.snaps.push_back(std::move(s));
    }
    h264_free(h);
    return out;
}

// A delta_scale far outside -128..127 leaves a negative entry in a scaling
// list (the reader keeps the sign of the remainder), which no delta written
// from it can reproduce. Such lists are left out of the comparison.
template <typename T> void mask_negative_lists(T *a, T *b) {
    for (int i = 0; i < 6; i++) {
        bool bad = false;
        for (int v : a->ScalingList4x4[i])
            bad |= v < 1;
        if (bad) {
            std::memset(a->ScalingList4x4[i], 0, sizeof a->ScalingList4x4[i]);
            std::memset(b->ScalingList4x4[i], 0, sizeof b->ScalingList4x4[i]);
        }
    }
    for (int i = 0; i < 2; i++) {
        bool bad = false;
        for (int v : a->ScalingList8x8[i])
            bad |= v < 1;
        if (bad) {
            std::memset(a->ScalingList8x8[i], 0, sizeof a->ScalingList8x8[i]);
            std::memset(b->ScalingList8x8[i], 0, sizeof b->ScalingList8x8[i]);
        }
    }
}

// With both NAL and VCL HRD parameters the one HRD record is read twice;
// entries past the count that the second copy leaves in it come from the
// first and are not written again.
void mask_stale_hrd_entries(sps_t *a, sps_t *b) {
    for (int64_t i = 0; i < H264_MAX_CPB_CNT; i++) {
        if (i <= a->cpb_cnt_minus1) continue;
        for (sps_t *s : {a, b})
            s->bit_rate_value_minus1[i] = s->cpb_size_value_minus1[i] = s->cbr_flag[i] = 0;
    }
}

// All bytes of a message as the writer codes it are zero: type 0, size
// 0 (only then can the size byte be zero).
bool all_zero_message(const SeiCopy &s) {
    return s.type == 0 && s.size == 0;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    // The printers write to standard output; keep the fuzzer's own quiet.
    if (!std::freopen("/dev/null", "w", stdout)) std::abort();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size == 0 || size > (1u << 16)) return 0;
    std::vector<Bytes> units;
    int offset = 0;
    for (;;) {
        int s, e;
        if (find_nal_unit(data + offset, int(size) - offset, &s, &e) <= 0) break;
        units.emplace_back(data + offset + s, data + offset + e);
        offset += e;
    }
    if (units.empty()) units.emplace_back(data, data + size);

    Pass p1 = run_pass(units);
    if (p1.overflow || p1.written.size() != units.size()) return 0;
    Pass p2 = run_pass(p1.written);
    if (p2.overflow) return 0;
    const Pass p3 = run_pass(p2.written);
    if (p3.overflow) return 0;
    check(p2.snaps.size() == units.size() && p3.snaps.size() == units.size());

    for (size_t i = 0; i < units.size(); i++) {
        Snapshot &a = p1.snaps[i];
        Snapshot &b = p2.snaps[i];
        check(a.type == b.type);
        if (a.type == 7) {
            mask_negative_lists(a.sps.get(), b.sps.get());
            mask_stale_hrd_entries(a.sps.get(), b.sps.get());
            check(std::memcmp(a.sps.get(), b.sps.get(), sizeof(sps_t)) == 0);
        }
        if (a.type == 8) {
            mask_negative_lists(a.pps.get(), b.pps.get());
            check(std::memcmp(a.pps.get(), b.pps.get(), sizeof(pps_t)) == 0);
        }
        if (a.type == 9) check(a.primary_pic_type == b.primary_pic_type);
        if (a.type == 6) {
            const size_t common = std::min(a.seis.size(), b.seis.size());
            for (size_t k = 0; k < common; k++)
                check(a.seis[k].type == b.seis[k].type && a.seis[k].size == b.seis[k].size &&
                      a.seis[k].payload == b.seis[k].payload);
            for (size_t k = common; k < a.seis.size(); k++)
                check(all_zero_message(a.seis[k]));
            for (size_t k = common; k < b.seis.size(); k++)
                check(b.seis[k].type == 3 && b.seis[k].size == 0);
        }
        if (a.type == 1 || a.type == 5 || a.type == 19) check(p2.written[i] == p3.written[i]);
    }
    return 0;
}
