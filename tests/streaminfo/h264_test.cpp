#include "streaminfo/h264_stream.h"

#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include <gtest/gtest.h>

#include "bit_writer.h"

namespace {

// Exactly-sized heap copy so that AddressSanitizer flags any over-read.
struct Buf {
    explicit Buf(const std::vector<uint8_t> &v)
        : size(int(v.size())), data(new uint8_t[v.size() ? v.size() : 1]) {
        std::copy(v.begin(), v.end(), data.get());
    }
    int size;
    std::unique_ptr<uint8_t[]> data;
};

std::vector<uint8_t> cat(std::vector<uint8_t> a, const std::vector<uint8_t> &b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// A sequence parameter set written field by field from the syntax tables.
struct SpsSpec {
    int profile_idc = 66;
    int level_idc = 30;
    int chroma_format_idc = 1; // high profiles only
    int bit_depth_luma_minus8 = 0;
    std::vector<std::vector<int>> scaling_deltas; // high profiles: 8 lists, empty = absent
    bool scaling_matrix = false;
    int poc_type = 0;
    std::vector<int> ref_offsets;       // poc type 1
    int64_t num_ref_offsets_coded = -1; // overrides ref_offsets.size() when >= 0
    int num_ref_frames = 1;
    uint64_t width_mbs_minus1 = 10;
    uint64_t height_map_units_minus1 = 8;
    int frame_mbs_only = 1;
    bool crop = false;
    uint64_t crop_l = 0, crop_r = 0, crop_t = 0, crop_b = 0;
    bool vui = false;
    int hrd_cpb_cnt_minus1 = -1; // >= 0: NAL HRD with that many entries + 1
    int num_reorder_frames = 0;
};

std::vector<uint8_t> sps_rbsp(const SpsSpec &s) {
    BitWriter w;
    w.u(8, s.profile_idc).u(4, 0).u(4, 0).u(8, s.level_idc).ue(0);
    if (s.profile_idc == 100 || s.profile_idc == 110 || s.profile_idc == 122 || s.profile_idc == 144) {
        w.ue(s.chroma_format_idc);
        if (s.chroma_format_idc == 3) w.bit(0);
        w.ue(s.bit_depth_luma_minus8).ue(0).bit(0).bit(s.scaling_matrix);
        if (s.scaling_matrix) {
            for (int i = 0; i < 8; i++) {
                bool present = i < int(s.scaling_deltas.size()) && !s.scaling_deltas[i].empty();
                w.bit(present);
                if (present)
                    for (int d : s.scaling_deltas[i])
                        w.se(d);
            }
        }
    }
    w.ue(0).ue(s.poc_type);
    if (s.poc_type == 0) {
        w.ue(2);
    } else if (s.poc_type == 1) {
        w.bit(0).se(-3).se(5);
        w.ue(s.num_ref_offsets_coded >= 0 ? s.num_ref_offsets_coded : s.ref_offsets.size());
        for (int o : s.ref_offsets)
            w.se(o);
    }
    w.ue(s.num_ref_frames).bit(0).ue(s.width_mbs_minus1).ue(s.height_map_units_minus1).bit(s.frame_mbs_only);
    if (!s.frame_mbs_only) w.bit(1);
    w.bit(1).bit(s.crop);
    if (s.crop) w.ue(s.crop_l).ue(s.crop_r).ue(s.crop_t).ue(s.crop_b);
    w.bit(s.vui);
    if (s.vui) {
        w.bit(0).bit(0).bit(0).bit(0).bit(0); // aspect, overscan, signal, chroma loc, timing
        w.bit(s.hrd_cpb_cnt_minus1 >= 0);
        if (s.hrd_cpb_cnt_minus1 >= 0) {
            w.ue(s.hrd_cpb_cnt_minus1).u(4, 1).u(4, 2);
            for (int i = 0; i <= s.hrd_cpb_cnt_minus1; i++)
                w.ue(1000 + i).ue(2000 + i).bit(i & 1);
            w.u(5, 23).u(5, 22).u(5, 21).u(5, 20);
        }
        w.bit(0);                                // vcl hrd
        if (s.hrd_cpb_cnt_minus1 >= 0) w.bit(1); // low_delay_hrd_flag
        w.bit(0).bit(1);                         // pic_struct, bitstream_restriction
        w.bit(1).ue(0).ue(0).ue(11).ue(11).ue(s.num_reorder_frames).ue(4);
    }
    w.trailing();
    return w.bytes();
}

std::vector<uint8_t> sps_nal(const SpsSpec &s) {
    return annexb_nal(0x67, sps_rbsp(s));
}

// Parses an SPS RBSP into a fresh stream record.
std::unique_ptr<h264_stream_t, void (*)(h264_stream_t *)> parse_sps(const std::vector<uint8_t> &rbsp) {
    std::unique_ptr<h264_stream_t, void (*)(h264_stream_t *)> h(h264_new(), h264_free);
    Buf buf(rbsp);
    bs_t b;
    bs_init(&b, buf.data.get(), buf.size);
    read_seq_parameter_set_rbsp(h.get(), &b);
    return h;
}

const std::vector<uint8_t> kSlice = {0, 0, 0, 1, 0x65, 0x88, 0x84, 0x21, 0xA0};
const std::vector<uint8_t> kPps = {0, 0, 0, 1, 0x68, 0xCE, 0x3C, 0x80};

TEST(FindNalUnit, StartCodesAndEnds) {
    int s = -1, e = -1;
    {
        Buf b({0, 0, 0, 1, 0x67, 0x42, 0x00, 0x00, 0x01, 0x68, 0x11, 0x22});
        EXPECT_EQ(find_nal_unit(b.data.get(), b.size, &s, &e), 2);
        EXPECT_EQ(s, 4);
        EXPECT_EQ(e, 6);
    }
    {
        // A 3-byte start code after some junk; the unit runs to the end.
        Buf b({0x12, 0x00, 0x00, 0x01, 0x65, 0xAA, 0xBB, 0xCC, 0xDD});
        EXPECT_EQ(find_nal_unit(b.data.get(), b.size, &s, &e), 5);
        EXPECT_EQ(s, 4);
        EXPECT_EQ(e, 9);
    }
    {
        // 00 00 00 ends a unit too.
        Buf b({0, 0, 1, 0x09, 0xF0, 0, 0, 0, 1, 0x67});
        EXPECT_EQ(find_nal_unit(b.data.get(), b.size, &s, &e), 2);
        EXPECT_EQ(e, 5);
    }
    {
        // A pattern starting in the last three bytes is not seen.
        Buf b({0, 0, 1, 0x65, 0xAA, 0xBB, 0, 0, 1});
        EXPECT_EQ(find_nal_unit(b.data.get(), b.size, &s, &e), 6);
        EXPECT_EQ(e, 9);
    }
    {
        // Empty unit: start code followed at once by another.
        Buf b({0, 0, 1, 0, 0, 1, 0x67, 0x42});
        EXPECT_EQ(find_nal_unit(b.data.get(), b.size, &s, &e), 0);
        EXPECT_EQ(s, 3);
        EXPECT_EQ(e, 3);
    }
    {
        Buf b({0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77});
        EXPECT_EQ(find_nal_unit(b.data.get(), b.size, &s, &e), 0);
        EXPECT_EQ(s, 0);
        EXPECT_EQ(e, 0);
    }
}

TEST(FindNalUnit, ShortBuffersAndUnitsAtTheVeryEnd) {
    int s, e;
    // Fewer than four bytes, and units starting in the last two bytes: no
    // byte beyond the buffer is read (AddressSanitizer checks that).
    const std::vector<std::vector<uint8_t>> cases = {
        {},
        {0},
        {0, 0},
        {0, 0, 1},
        {0, 0, 0},
        {0, 0, 0, 1},
        {0, 0, 1, 0x67},
        {0, 0, 0, 1, 0x67},
        {0, 0, 1, 0x67, 0},
        {0, 0, 1, 0x67, 0, 0},
        {0, 0, 0, 1, 0, 0},
    };
    for (const auto &c : cases) {
        Buf b(c);
        int n = find_nal_unit(b.data.get(), b.size, &s, &e);
        EXPECT_GE(n, 0);
        EXPECT_LE(e, b.size);
        EXPECT_EQ(n, e - s);
    }
    Buf one({0, 0, 1, 0x67});
    EXPECT_EQ(find_nal_unit(one.data.get(), one.size, &s, &e), 1);
    EXPECT_EQ(s, 3);
    Buf three({0, 0, 1});
    EXPECT_EQ(find_nal_unit(three.data.get(), three.size, &s, &e), 0);
}

TEST(NalToRbsp, EmulationPreventionAndEmbeddedStartCodes) {
    struct Case {
        std::vector<uint8_t> nal;
        std::vector<uint8_t> rbsp;
        int consumed;
    };
    const std::vector<Case> cases = {
        {{0x67, 0x00, 0x00, 0x03, 0x01, 0x7F}, {0x00, 0x00, 0x01, 0x7F}, 6},
        {{0x67, 0xAA, 0x00, 0x00, 0x03}, {0xAA, 0x00, 0x00}, 5},
        {{0x67, 0xAA, 0x00, 0x00, 0x01, 0xBB}, {0xAA}, 2},
        {{0x67, 0x00, 0x00, 0x03, 0x00, 0x00, 0x03, 0x03}, {0x00, 0x00, 0x00, 0x00, 0x03}, 8},
        {{0x67, 0x00, 0x00}, {0x00, 0x00}, 3},
        {{0x67}, {}, 1},
        {{}, {}, 1},
    };
    for (const auto &c : cases) {
        Buf in(c.nal);
        std::vector<uint8_t> out(c.nal.size() + 1, 0xEE);
        int nal_size = in.size;
        int rbsp_size = -7;
        nal_to_rbsp(in.data.get(), &nal_size, out.data(), &rbsp_size);
        EXPECT_EQ(nal_size, c.consumed);
        ASSERT_EQ(rbsp_size, int(c.rbsp.size()));
        EXPECT_TRUE(std::equal(c.rbsp.begin(), c.rbsp.end(), out.begin()));
    }
}

TEST(SpsReader, FieldsScalingListsAndPocCycle) {
    SpsSpec s;
    s.profile_idc = 100;
    s.chroma_format_idc = 1;
    s.bit_depth_luma_minus8 = 2;
    s.scaling_matrix = true;
    s.scaling_deltas.resize(8);
    s.scaling_deltas[0] = std::vector<int>(16, 1); // 9, 10, ..., 24
    s.scaling_deltas[1] = {-8};                    // next becomes 0 at once: all 8
    s.scaling_deltas[6] = {-7, 0};                 // 1, then 0 keeps the last value
    s.scaling_deltas[6].resize(64 - 1, 0);
    s.scaling_deltas[6][1] = 254;        // (1 + 254 + 256) % 256 = 255
    s.scaling_deltas[6].push_back(-255); // 255 - 255 = 0: stop, last value repeats
    s.poc_type = 1;
    s.ref_offsets = {4, -6, 100};
    s.width_mbs_minus1 = 119;
    s.height_map_units_minus1 = 67;
    s.crop = true;
    s.crop_b = 4;
    auto h = parse_sps(sps_rbsp(s));
    const sps_t *sps = h->sps;
    EXPECT_EQ(sps->profile_idc, 100);
    EXPECT_EQ(sps->level_idc, 30);
    EXPECT_EQ(sps->bit_depth_luma_minus8, 2);
    EXPECT_EQ(sps->seq_scaling_matrix_present_flag, 1);
    for (int j = 0; j < 16; j++) {
        EXPECT_EQ(sps->ScalingList4x4[0][j], 9 + j);
        EXPECT_EQ(sps->ScalingList4x4[1][j], 8);
        EXPECT_EQ(sps->ScalingList4x4[2][j], 0); // absent list left as it was
    }
    EXPECT_EQ(sps->ScalingList8x8[0][0], 1);
    EXPECT_EQ(sps->ScalingList8x8[0][1], 255);
    EXPECT_EQ(sps->ScalingList8x8[0][62], 255);
    EXPECT_EQ(sps->ScalingList8x8[0][63], 255);
    EXPECT_EQ(sps->seq_scaling_list_present_flag[6], 1);
    EXPECT_EQ(sps->seq_scaling_list_present_flag[7], 0);
    EXPECT_EQ(sps->UseDefaultScalingMatrix4x4Flag[1], 0);
    EXPECT_EQ(sps->pic_order_cnt_type, 1);
    EXPECT_EQ(sps->offset_for_non_ref_pic, -3);
    EXPECT_EQ(sps->offset_for_top_to_bottom_field, 5);
    EXPECT_EQ(sps->num_ref_frames_in_pic_order_cnt_cycle, 3);
    EXPECT_EQ(sps->offset_for_ref_frame[0], 4);
    EXPECT_EQ(sps->offset_for_ref_frame[1], -6);
    EXPECT_EQ(sps->offset_for_ref_frame[2], 100);
    EXPECT_EQ(sps->offset_for_ref_frame[3], 0);
    EXPECT_EQ(sps->width, 1920);
    EXPECT_EQ(sps->height, 1080);
}

TEST(SpsReader, OversizedCountsAreReadButNotStoredPastTheArrays) {
    SpsSpec s;
    s.poc_type = 1;
    for (int i = 0; i < 300; i++)
        s.ref_offsets.push_back(i % 2 ? -i : i);
    s.vui = true;
    s.hrd_cpb_cnt_minus1 = 40;
    s.num_reorder_frames = 3;
    s.width_mbs_minus1 = 21;
    s.height_map_units_minus1 = 17;
    auto h = parse_sps(sps_rbsp(s));
    const sps_t *sps = h->sps;
    EXPECT_EQ(sps->num_ref_frames_in_pic_order_cnt_cycle, 300);
    EXPECT_EQ(sps->offset_for_ref_frame[0], 0);
    EXPECT_EQ(sps->offset_for_ref_frame[254], 254);
    EXPECT_EQ(sps->offset_for_ref_frame[255], -255);
    EXPECT_EQ(sps->cpb_cnt_minus1, 40);
    EXPECT_EQ(sps->bit_rate_value_minus1[31], 1031);
    EXPECT_EQ(sps->cpb_size_value_minus1[31], 2031);
    EXPECT_EQ(sps->cbr_flag[31], 1);
    // Everything after the long loops is still in step.
    EXPECT_EQ(sps->initial_cpb_removal_delay_length_minus1, 23);
    EXPECT_EQ(sps->time_offset_length, 20);
    EXPECT_EQ(sps->low_delay_hrd_flag, 1);
    EXPECT_EQ(sps->log2_max_mv_length_vertical, 11);
    EXPECT_EQ(sps->num_reorder_frames, 3);
    EXPECT_EQ(sps->width, 352);
    EXPECT_EQ(sps->height, 288);
}

TEST(SpsReader, HugeCountsInATruncatedSetFinishQuickly) {
    // Counts near 2^31 with the data ending at once: no hang, no overrun,
    // the missing entries read as zeros.
    BitWriter w;
    w.u(8, 66).u(8, 0).u(8, 30).ue(0).ue(0).ue(1).bit(0).se(1).se(1).ue(0x7FFFFFFE).se(9).se(-9);
    auto h = parse_sps(w.bytes());
    EXPECT_EQ(h->sps->num_ref_frames_in_pic_order_cnt_cycle, 0x7FFFFFFE);
    EXPECT_EQ(h->sps->offset_for_ref_frame[0], 9);
    EXPECT_EQ(h->sps->offset_for_ref_frame[1], -9);
    // The five zero bits that pad the last byte read as ue 15, se 8.
    EXPECT_EQ(h->sps->offset_for_ref_frame[2], 8);
    EXPECT_EQ(h->sps->offset_for_ref_frame[3], 0);

    std::unique_ptr<h264_stream_t, void (*)(h264_stream_t *)> h2(h264_new(), h264_free);
    BitWriter hw;
    hw.ue(0x7FFFFFFE).u(4, 3).u(4, 4).ue(5).ue(6).bit(1);
    Buf buf(hw.bytes());
    bs_t b;
    bs_init(&b, buf.data.get(), buf.size);
    h2->sps->bit_rate_value_minus1[1] = 77;
    read_hrd_parameters(h2.get(), &b);
    EXPECT_EQ(h2->sps->cpb_cnt_minus1, 0x7FFFFFFE);
    EXPECT_EQ(h2->sps->bit_rate_value_minus1[0], 5);
    EXPECT_EQ(h2->sps->cbr_flag[0], 1);
    EXPECT_EQ(h2->sps->bit_rate_value_minus1[1], 0);
    EXPECT_EQ(h2->sps->time_offset_length, 0);
}

TEST(SpsReader, ProfileListAndTrailingBits) {
    // Profile 244 has a high-profile part in the stream, but it is not read:
    // chroma_format_idc's ue(1) = "010" is taken as log2_max_frame_num etc.
    SpsSpec s;
    s.profile_idc = 244;
    BitWriter w;
    w.u(8, 244).u(8, 0).u(8, 40).ue(0);
    w.ue(1).ue(0).ue(0).bit(0).bit(0); // high-profile part
    w.ue(0).ue(2).ue(1).bit(0).ue(10).ue(8).bit(1).bit(1).bit(0).bit(0);
    w.trailing();
    auto h = parse_sps(w.bytes());
    EXPECT_EQ(h->sps->chroma_format_idc, 0);
    EXPECT_EQ(h->sps->log2_max_frame_num_minus4, 1);
    EXPECT_NE(h->sps->width, 176);

    // Trailing bits: nothing on a byte boundary, up to it otherwise.
    uint8_t bytes[2] = {0x80, 0xFF};
    bs_t b;
    bs_init(&b, bytes, 2);
    read_rbsp_trailing_bits(nullptr, &b);
    EXPECT_EQ(b.p, bytes);
    bs_read_f(&b, 3);
    read_rbsp_trailing_bits(nullptr, &b);
    EXPECT_EQ(b.p, bytes + 1);
    EXPECT_EQ(b.bits_left, 8);
}

TEST(GetH264Resolution, SizesFromTheFirstSps) {
    int w = -1, h = -1;
    SpsSpec hd;
    hd.width_mbs_minus1 = 119;
    hd.height_map_units_minus1 = 67;
    hd.crop = true;
    hd.crop_b = 4;
    {
        Buf b(cat(cat(sps_nal(hd), kPps), kSlice));
        EXPECT_EQ(getH264Resolution(b.data.get(), b.size, &w, &h), 1);
        EXPECT_EQ(w, 1920);
        EXPECT_EQ(h, 1080);
    }
    {
        // Field coding: the crop unit stays 2.
        SpsSpec f = hd;
        f.frame_mbs_only = 0;
        f.height_map_units_minus1 = 33;
        f.crop_b = 2;
        Buf b(cat(cat(kSlice, sps_nal(f)), kPps));
        EXPECT_EQ(getH264Resolution(b.data.get(), b.size, &w, &h), 1);
        EXPECT_EQ(w, 1920);
        EXPECT_EQ(h, 1084);
    }
    {
        // The SPS is the last thing in the buffer; it ends with the buffer.
        SpsSpec c;
        c.crop = true;
        c.crop_l = 1;
        c.crop_r = 2;
        c.crop_t = 3;
        c.crop_b = 1;
        Buf b(cat(kSlice, sps_nal(c)));
        EXPECT_EQ(getH264Resolution(b.data.get(), b.size, &w, &h), 1);
        EXPECT_EQ(w, 176 - 6);
        EXPECT_EQ(h, 144 - 8);
    }
    {
        // Only the first SPS counts.
        SpsSpec other;
        Buf b(cat(sps_nal(hd), sps_nal(other)));
        EXPECT_EQ(getH264Resolution(b.data.get(), b.size, &w, &h), 1);
        EXPECT_EQ(w, 1920);
    }
    {
        // An SPS of its header byte alone: all zeros, one macroblock, field coded.
        Buf b({0, 0, 0, 1, 0x67, 0, 0, 1, 0x68, 0xCE});
        EXPECT_EQ(getH264Resolution(b.data.get(), b.size, &w, &h), 1);
        EXPECT_EQ(w, 16);
        EXPECT_EQ(h, 32);
    }
}

TEST(GetH264Resolution, NothingStoredWithoutAUsableSps) {
    SpsSpec good;
    const std::vector<std::vector<uint8_t>> frames = {
        cat(kPps, kSlice),                                  // no SPS
        cat({0, 0, 1, 0, 0, 1}, sps_nal(good)),             // empty unit first
        {},                                                 // nothing
        {0x67, 0x42, 0x00, 0x1E},                           // no start code
        cat({0, 0, 1, 0x09, 0xF0, 0, 0, 1}, sps_nal(good)), // empty unit after an AUD
    };
    for (size_t i = 0; i < frames.size(); i++) {
        SCOPED_TRACE(i);
        Buf b(frames[i]);
        int w = -5, h = -6;
        EXPECT_EQ(getH264Resolution(b.data.get(), b.size, &w, &h), 0);
        EXPECT_EQ(w, -5);
        EXPECT_EQ(h, -6);
    }
}

TEST(GetH264Resolution, GarbageSizesAreRejected) {
    struct Case {
        uint64_t wmbs, hmu;
        uint64_t crop_l, crop_b;
        int frame_mbs_only;
    };
    const std::vector<Case> cases = {
        {0, 0, 8, 0, 1},               // width 16 - 16 = 0
        {0, 0, 9, 0, 1},               // negative width
        {1023, 10, 0, 0, 1},           // 16384 wide is the limit ...
        {1024, 10, 0, 0, 1},           // ... 16400 is too wide
        {10, 512, 0, 0, 0},            // field coding doubles to 16416
        {0xFFFFFFFEull, 10, 0, 0, 1},  // wraps an int
        {10, 10, 0x7FFFFFFFull, 0, 1}, // huge crop
    };
    const bool accepted[] = {false, false, true, false, false, false, false};
    for (size_t i = 0; i < cases.size(); i++) {
        SCOPED_TRACE(i);
        SpsSpec s;
        s.width_mbs_minus1 = cases[i].wmbs;
        s.height_map_units_minus1 = cases[i].hmu;
        s.frame_mbs_only = cases[i].frame_mbs_only;
        s.crop = true;
        s.crop_l = cases[i].crop_l;
        s.crop_b = cases[i].crop_b;
        Buf b(sps_nal(s));
        int w = -1, h = -1;
        EXPECT_EQ(getH264Resolution(b.data.get(), b.size, &w, &h), accepted[i] ? 1 : 0);
        if (accepted[i]) {
            EXPECT_EQ(w, 16384);
            EXPECT_EQ(h, 176);
        } else {
            EXPECT_EQ(w, -1);
        }
    }
}

TEST(StreamRecord, NewIsZeroFilledAndFreeReleasesEverything) {
    h264_stream_t *h = h264_new();
    ASSERT_NE(h, nullptr);
    ASSERT_NE(h->sps, nullptr);
    ASSERT_NE(h->pps, nullptr);
    ASSERT_NE(h->slice_header, nullptr);
    EXPECT_EQ(h->sei, nullptr);
    EXPECT_EQ(h->seis, nullptr);
    EXPECT_EQ(h->num_seis, 0);
    sps_t zero_sps;
    std::memset(&zero_sps, 0, sizeof zero_sps);
    EXPECT_EQ(std::memcmp(h->sps, &zero_sps, sizeof zero_sps), 0);
    EXPECT_EQ(h->nal->nal_unit_type, 0);
    EXPECT_EQ(h->pps->slice_group_id[255], 0);
    EXPECT_EQ(h->slice_header->drpm.long_term_pic_num, 0);
    // SEI messages go with the stream record (the leak checker watches this).
    h->seis = static_cast<sei_t **>(std::malloc(2 * sizeof(sei_t *)));
    h->seis[0] = sei_new();
    h->seis[1] = sei_new();
    h->seis[1]->payloadSize = 4;
    h->seis[1]->payload = static_cast<uint8_t *>(std::malloc(4));
    h->num_seis = 2;
    h->sei = h->seis[1];
    h264_free(h);
    h264_free(nullptr);
}

} // namespace
