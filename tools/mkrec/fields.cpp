// Second fields of split two-field H.264 frames.
//
// A split two-field frame is the first field, coded by the encoder as a picture of half the
// frame height, followed by the second field as a non-reference picture whose NAL header byte
// is 0x01, so that 00 00 00 01 01 marks where the second field starts. The encoder cannot make
// non-reference P pictures, so the second field is written here: one P slice in which every
// macroblock predicts from the first field moved two pixels to the right (the box of the
// test picture moves four pixels per frame, so the second field shows it half a frame later).
#include <algorithm>
#include <cstddef>

#include "mkrec.h"

namespace mkrec {
namespace {

std::vector<uint8_t> unescape(const uint8_t *p, size_t n) {
    std::vector<uint8_t> o;
    o.reserve(n);
    int zeros = 0;
    for (size_t i = 0; i < n; ++i) {
        if (zeros >= 2 && p[i] == 3) {
            zeros = 0;
            continue;
        }
        zeros = p[i] == 0 ? zeros + 1 : 0;
        o.push_back(p[i]);
    }
    return o;
}

struct BitReader {
    const std::vector<uint8_t> &d;
    size_t pos = 0; // in bits
    bool bad = false;
    explicit BitReader(const std::vector<uint8_t> &v) : d(v) {}
    uint32_t u(int n) {
        uint32_t v = 0;
        for (int i = 0; i < n; ++i) {
            if (pos >= d.size() * 8) {
                bad = true;
                return 0;
            }
            v = (v << 1) | ((d[pos / 8] >> (7 - pos % 8)) & 1);
            ++pos;
        }
        return v;
    }
    uint32_t ue() {
        int lz = 0;
        while (u(1) == 0) {
            if (bad || ++lz > 31) {
                bad = true;
                return 0;
            }
        }
        return lz ? ((1u << lz) - 1 + u(lz)) : 0;
    }
    int32_t se() {
        uint32_t k = ue();
        return (k & 1) ? static_cast<int32_t>((k + 1) / 2) : -static_cast<int32_t>(k / 2);
    }
};

struct BitWriter {
    std::vector<uint8_t> d;
    int bits = 0;
    void u(int n, uint32_t v) {
        for (int i = n - 1; i >= 0; --i) {
            if (bits % 8 == 0) d.push_back(0);
            if ((v >> i) & 1) d.back() |= static_cast<uint8_t>(0x80 >> (bits % 8));
            ++bits;
        }
    }
    void ue(uint32_t v) {
        uint32_t x = v + 1;
        int len = 0;
        while ((x >> len) > 1)
            ++len;
        u(len, 0);
        u(len + 1, x);
    }
    void se(int32_t v) { ue(v > 0 ? static_cast<uint32_t>(2 * v - 1) : static_cast<uint32_t>(-2 * v)); }
    void trailing() {
        u(1, 1);
        while (bits % 8)
            u(1, 0);
    }
};

struct Sps {
    bool found = false;
    int log2MaxFrameNum = 4, pocType = 0, log2MaxPocLsb = 4;
    bool deltaPocAlwaysZero = false, frameMbsOnly = true;
};
struct Pps {
    bool found = false;
    int ppsId = 0;
    bool cabac = false, bottomFieldPocPresent = false, weightedPred = false;
    bool deblockingControl = false, redundantPicCnt = false;
    int sliceGroups = 1;
};

bool highProfile(uint32_t p) {
    return p == 100 || p == 110 || p == 122 || p == 244 || p == 44 || p == 83 || p == 86 || p == 118 ||
           p == 128 || p == 138 || p == 139 || p == 134 || p == 135;
}

std::string parseSps(const std::vector<uint8_t> &rbsp, Sps &s) {
    BitReader b(rbsp);
    b.u(8); // NAL header
    uint32_t profile = b.u(8);
    b.u(16);
    b.ue();
    if (highProfile(profile)) {
        if (b.ue() == 3) b.u(1);
        b.ue();
        b.ue();
        b.u(1);
        if (b.u(1)) return "scaling matrices are not supported for split fields";
    }
    s.log2MaxFrameNum = static_cast<int>(b.ue()) + 4;
    s.pocType = static_cast<int>(b.ue());
    if (s.pocType == 0) {
        s.log2MaxPocLsb = static_cast<int>(b.ue()) + 4;
    } else if (s.pocType == 1) {
        s.deltaPocAlwaysZero = b.u(1) != 0;
        b.se();
        b.se();
        uint32_t n = b.ue();
        for (uint32_t i = 0; i < n && !b.bad; ++i)
            b.se();
    }
    b.ue();
    b.u(1);
    b.ue();
    b.ue();
    s.frameMbsOnly = b.u(1) != 0;
    if (b.bad) return "short sequence parameter set";
    s.found = true;
    return "";
}

std::string parsePps(const std::vector<uint8_t> &rbsp, Pps &p) {
    BitReader b(rbsp);
    b.u(8);
    p.ppsId = static_cast<int>(b.ue());
    b.ue();
    p.cabac = b.u(1) != 0;
    p.bottomFieldPocPresent = b.u(1) != 0;
    p.sliceGroups = static_cast<int>(b.ue()) + 1;
    if (p.sliceGroups != 1) return "slice groups are not supported for split fields";
    b.ue();
    b.ue();
    p.weightedPred = b.u(1) != 0;
    b.u(2);
    b.se();
    b.se();
    b.se();
    p.deblockingControl = b.u(1) != 0;
    b.u(1);
    p.redundantPicCnt = b.u(1) != 0;
    if (b.bad) return "short picture parameter set";
    p.found = true;
    return "";
}

// NAL units of an Annex B buffer, without their start codes.
std::vector<std::pair<const uint8_t *, size_t>> nals(const std::vector<uint8_t> &d) {
    std::vector<std::pair<const uint8_t *, size_t>> v;
    std::vector<size_t> starts;
    for (size_t i = 0; i + 2 < d.size(); ++i)
        if (d[i] == 0 && d[i + 1] == 0 && d[i + 2] == 1) {
            starts.push_back(i + 3);
            i += 2;
        }
    for (size_t k = 0; k < starts.size(); ++k) {
        size_t end = k + 1 < starts.size() ? starts[k + 1] - 3 : d.size();
        while (end > starts[k] && d[end - 1] == 0)
            --end; // the zero of a four-byte start code
        v.push_back({d.data() + starts[k], end - starts[k]});
    }
    return v;
}

} // namespace

std::string makeSecondField(const std::vector<uint8_t> &firstFieldAu, const std::vector<uint8_t> &spsPps,
                            int mbCount, std::vector<uint8_t> &out) {
    Sps sps;
    Pps pps;
    for (auto &n : nals(spsPps)) {
        int type = n.first[0] & 0x1F;
        std::string err;
        if (type == 7) err = parseSps(unescape(n.first, n.second), sps);
        if (type == 8) err = parsePps(unescape(n.first, n.second), pps);
        if (!err.empty()) return err;
    }
    if (!sps.found || !pps.found) return "no parameter sets before a split-field frame";
    if (!sps.frameMbsOnly) return "interlaced parameter sets are not supported for split fields";
    if (pps.cabac || pps.weightedPred) return "split fields need CAVLC without weighted prediction";

    // frame_num and picture order of the first field's slice.
    uint32_t frameNum = 0, pocLsb = 0;
    bool haveSlice = false;
    for (auto &n : nals(firstFieldAu)) {
        int type = n.first[0] & 0x1F;
        if (type != 1 && type != 5) continue;
        std::vector<uint8_t> rbsp = unescape(n.first, std::min<size_t>(n.second, 64));
        BitReader b(rbsp);
        b.u(8);
        b.ue();
        b.ue();
        b.ue();
        frameNum = b.u(sps.log2MaxFrameNum);
        if (type == 5) b.ue();
        if (sps.pocType == 0) pocLsb = b.u(sps.log2MaxPocLsb);
        if (b.bad) return "short slice header";
        haveSlice = true;
        break;
    }
    if (!haveSlice) return "first field has no slice";

    BitWriter w;
    w.u(8, 0x01); // nal_ref_idc 0, non-IDR slice
    w.ue(0);      // first_mb_in_slice
    w.ue(5);      // P, all slices of the picture
    w.ue(static_cast<uint32_t>(pps.ppsId));
    // The first field is a reference picture, so frame_num goes up by one.
    w.u(sps.log2MaxFrameNum, (frameNum + 1) & ((1u << sps.log2MaxFrameNum) - 1));
    if (sps.pocType == 0) {
        w.u(sps.log2MaxPocLsb, (pocLsb + 1) & ((1u << sps.log2MaxPocLsb) - 1));
        if (pps.bottomFieldPocPresent) w.se(0);
    } else if (sps.pocType == 1 && !sps.deltaPocAlwaysZero) {
        w.se(0);
        if (pps.bottomFieldPocPresent) w.se(0);
    }
    if (pps.redundantPicCnt) w.ue(0);
    w.u(1, 1);                          // num_ref_idx_active_override_flag
    w.ue(0);                            // one reference picture: the first field
    w.u(1, 0);                          // no reference list modification
    w.se(0);                            // slice_qp_delta
    if (pps.deblockingControl) w.ue(1); // no deblocking: the prediction is copied as is
    for (int mb = 0; mb < mbCount; ++mb) {
        w.ue(0);               // mb_skip_run
        w.ue(0);               // P_L0_16x16
        w.se(mb == 0 ? 8 : 0); // mvd x: every predictor equals the first macroblock's vector
        w.se(0);               // mvd y
        w.ue(0);               // coded_block_pattern 0
    }
    w.trailing();

    out = {0, 0, 0, 1};
    int zeros = 0;
    for (uint8_t byte : w.d) {
        if (zeros >= 2 && byte <= 3) {
            out.push_back(3);
            zeros = 0;
        }
        out.push_back(byte);
        zeros = byte == 0 ? zeros + 1 : 0;
    }
    return "";
}

} // namespace mkrec
