// The bit writer, emulation prevention and the syntax writers: codes as the
// standard defines them, the writers' stated choices, and buffers that are
// too small.
#include <chrono>
#include <cstring>
#include <initializer_list>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "h264bits/h264_read.h"
#include "h264bits/h264_write.h"
#include "h264bits_util.h"
#include "streaminfo/bit_writer.h"

namespace {

// Runs f on a writer over a buffer of 0xFF bytes and returns the bits
// written, as text.
template <typename F> std::string bits_of(F f, int size = 64) {
    std::vector<uint8_t> buf(size_t(size), 0xFF);
    bs_t b;
    bs_init(&b, buf.data(), size);
    f(&b);
    std::string s;
    const long n = long(b.p - b.start) * 8 + (8 - b.bits_left);
    for (long i = 0; i < n; i++)
        s += char('0' + ((buf[size_t(i / 8)] >> (7 - i % 8)) & 1));
    return s;
}

// The bits a test-side writer holds, as text.
std::string text_of(const BitWriter &w) {
    std::string s;
    for (size_t i = 0; i < w.size_bits(); i++)
        s += char('0' + ((w.bytes()[i / 8] >> (7 - i % 8)) & 1));
    return s;
}

std::vector<uint8_t> to_nal(const std::vector<uint8_t> &rbsp, int cap, int *result = nullptr,
                            int *consumed = nullptr) {
    std::vector<uint8_t> nal(size_t(cap > 0 ? cap : 1), 0xEE);
    int rbsp_size = int(rbsp.size());
    int nal_size = cap;
    int r = rbsp_to_nal(rbsp.data(), &rbsp_size, nal.data(), &nal_size);
    if (result) *result = r;
    if (consumed) *consumed = rbsp_size;
    nal.resize(size_t(nal_size));
    nal.erase(nal.begin()); // the header byte's place
    return nal;
}

TEST(H264Write, ExpGolombAndFixedWidthCodes) {
    EXPECT_EQ(bits_of([](bs_t *b) { bs_write_ue(b, 0); }), "1");
    EXPECT_EQ(bits_of([](bs_t *b) { bs_write_ue(b, 1); }), "010");
    EXPECT_EQ(bits_of([](bs_t *b) { bs_write_ue(b, 2); }), "011");
    EXPECT_EQ(bits_of([](bs_t *b) { bs_write_ue(b, 3); }), "00100");
    EXPECT_EQ(bits_of([](bs_t *b) { bs_write_ue(b, 7); }), "0001000");
    EXPECT_EQ(bits_of([](bs_t *b) { bs_write_se(b, 1); }), "010");
    EXPECT_EQ(bits_of([](bs_t *b) { bs_write_se(b, -1); }), "011");
    EXPECT_EQ(bits_of([](bs_t *b) { bs_write_se(b, 0); }), "1");
    EXPECT_EQ(bits_of([](bs_t *b) { bs_write_f(b, 3, 13); }), "101");
    EXPECT_EQ(bits_of([](bs_t *b) {
                  bs_write_f(b, 0, 13);
                  bs_write_f(b, -4, 13);
              }),
              "");
    EXPECT_EQ(bits_of([](bs_t *b) { bs_write_u8(b, 0x1A5); }), "10100101");
    // Values across every byte boundary of the length table, against the
    // code built from its definition.
    for (uint32_t v :
         {254u, 255u, 256u, 65534u, 65535u, 65536u, 16777214u, 16777215u, 0x7FFFFFFFu, 0xFFFFFFFEu}) {
        BitWriter w;
        w.ue(v);
        const std::string expected = text_of(w);
        EXPECT_EQ(bits_of([&](bs_t *b) { bs_write_ue(b, v); }), expected) << v;
    }
}

TEST(H264Write, CodesReadBackThroughTheReader) {
    const std::vector<uint32_t> ue = {0, 1, 5, 254, 255, 1u << 20, 0x7FFFFFFF, 0xFFFFFFFE, 0xFFFFFFFF};
    // The reader takes ue codes as signed 32-bit numbers for se, which
    // bounds the signed values it can give back to about +-2^30.
    const std::vector<int32_t> se = {0, 1, -1, 100, -100, 1 << 30, -(1 << 30) + 1};
    std::vector<uint8_t> buf(128);
    bs_t w;
    bs_init(&w, buf.data(), int(buf.size()));
    for (uint32_t v : ue)
        bs_write_ue(&w, v);
    for (int32_t v : se)
        bs_write_se(&w, v);
    bs_write_f(&w, 32, 0xDEADBEEF);
    EXPECT_EQ(w.overflow, 0);
    bs_t r;
    bs_init(&r, buf.data(), int(buf.size()));
    for (uint32_t v : ue)
        EXPECT_EQ(bs_read_ue(&r), v);
    for (int32_t v : se)
        EXPECT_EQ(bs_read_se(&r), v);
    EXPECT_EQ(bs_read_f(&r, 32), 0xDEADBEEFu);
}

TEST(H264Write, WritingOverwritesAndStopsAtTheEnd) {
    uint8_t buf[2] = {0xFF, 0x00};
    bs_t b;
    bs_init(&b, buf, 1);
    bs_write_f(&b, 4, 0x5);
    EXPECT_EQ(buf[0], 0x5F);
    bs_write_f(&b, 4, 0x0);
    EXPECT_EQ(buf[0], 0x50);
    EXPECT_EQ(b.overflow, 0);
    EXPECT_EQ(b.p, b.end);
    bs_write_f(&b, 1, 1);
    EXPECT_EQ(b.overflow, 1);
    EXPECT_EQ(buf[1], 0x00); // nothing past the end
    EXPECT_EQ(b.bits_left, 8);
}

TEST(H264Write, TrailingBits) {
    EXPECT_EQ(bits_of([](bs_t *b) {
                  bs_write_f(b, 3, 5);
                  write_rbsp_trailing_bits(nullptr, b);
              }),
              "10110000");
    EXPECT_EQ(bits_of([](bs_t *b) {
                  bs_write_f(b, 8, 5);
                  write_rbsp_trailing_bits(nullptr, b);
              }),
              "00000101");
    EXPECT_EQ(bits_of([](bs_t *b) { write_filler_data_rbsp(nullptr, b); }), "");
}

TEST(H264Write, EmulationPrevention) {
    using V = std::vector<uint8_t>;
    EXPECT_EQ(to_nal({0, 0, 1}, 16), (V{0, 0, 3, 1}));
    EXPECT_EQ(to_nal({0, 0, 0, 0, 1}, 16), (V{0, 0, 3, 0, 0, 3, 1}));
    EXPECT_EQ(to_nal({0x25, 0, 0}, 16), (V{0x25, 0, 0, 3}));
    EXPECT_EQ(to_nal({0x65, 0}, 16), (V{0x65, 0, 3}));
    EXPECT_EQ(to_nal({0, 0, 4, 0, 0, 2}, 16), (V{0, 0, 4, 0, 0, 3, 2}));
    int r = -1, used = -1;
    EXPECT_EQ(to_nal({}, 16, &r), V{});
    EXPECT_EQ(r, 1);
    // A capacity below 2 takes nothing.
    EXPECT_EQ(to_nal({1, 2}, 1, &r, &used), V{});
    EXPECT_EQ(r, 0);
    EXPECT_EQ(used, 0);
    // A capacity that cuts the unit short says so.
    EXPECT_EQ(to_nal({1, 2, 3, 4}, 3, &r, &used), (V{1, 2}));
    EXPECT_EQ(r, 0);
    EXPECT_EQ(used, 2);
    EXPECT_EQ(to_nal({1, 2, 0}, 4, &r, &used), (V{1, 2, 0})); // no room for the final 03
    EXPECT_EQ(r, 0);
    EXPECT_EQ(to_nal({1, 2, 3}, 4, &r, &used), (V{1, 2, 3}));
    EXPECT_EQ(r, 1);
    EXPECT_EQ(used, 3);
}

TEST(H264Write, FfCodedNumbersAndScalingLists) {
    auto ff = [](int n) { return bits_of([&](bs_t *b) { _write_ff_coded_number(b, n); }); };
    EXPECT_EQ(ff(254), "11111110");
    EXPECT_EQ(ff(255), "1111111100000000");
    EXPECT_EQ(ff(256), "1111111100000001");
    EXPECT_EQ(ff(300), "1111111100101101");
    EXPECT_EQ(ff(510), "111111111111111100000000");
    EXPECT_EQ(ff(-5), "00000000");

    auto code = [](std::initializer_list<int> deltas) {
        BitWriter w;
        for (int d : deltas)
            w.se(d);
        const std::string s = text_of(w);
        return s;
    };
    int list[64];
    for (int &x : list)
        x = 16;
    EXPECT_EQ(bits_of([&](bs_t *b) { write_scaling_list(b, list, 16, 1); }), code({-8}));
    EXPECT_EQ(bits_of([&](bs_t *b) { write_scaling_list(b, list, 16, 0); }),
              code({8, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
    // Not folded into -128..127: 8 to 200 is +192.
    list[0] = 200;
    EXPECT_EQ(bits_of([&](bs_t *b) { write_scaling_list(b, list, 16, 0); }),
              code({192, -184, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
    // A zero entry ends the list: the rest repeat the entry before it.
    int stop[16] = {9, 0, 7, 7};
    EXPECT_EQ(bits_of([&](bs_t *b) { write_scaling_list(b, stop, 16, 0); }), code({1, -9}));
}

std::vector<uint8_t> write(h264_stream_t *h, int size, int *overflow = nullptr) {
    std::vector<uint8_t> buf(size_t(size) + 8, 0xEE);
    int n = write_nal_unit(h, buf.data(), size, overflow);
    for (size_t i = size_t(size); i < buf.size(); i++)
        EXPECT_EQ(buf[i], 0xEE) << "written past the buffer";
    buf.resize(size_t(n));
    return buf;
}

TEST(H264Write, AccessUnitDelimiterAndEmptyUnits) {
    StreamPtr h = new_stream();
    h->nal->nal_unit_type = 9;
    h->aud->primary_pic_type = 2;
    int overflow = -1;
    EXPECT_EQ(write(h.get(), 16, &overflow), (std::vector<uint8_t>{0x09, 0x50}));
    EXPECT_EQ(overflow, 0);
    h->nal->nal_unit_type = 11;
    h->nal->nal_ref_idc = 1;
    EXPECT_EQ(write(h.get(), 16, &overflow), (std::vector<uint8_t>{0x2B}));
    EXPECT_EQ(overflow, 0);
    // No room at all.
    EXPECT_EQ(write(h.get(), 0, &overflow), std::vector<uint8_t>{});
    EXPECT_EQ(overflow, 1);
}

TEST(H264Write, TooSmallBuffersAreReportedAndNeverOverrun) {
    StreamPtr h = new_stream();
    h->nal->nal_unit_type = 7;
    h->nal->nal_ref_idc = 3;
    h->sps->profile_idc = 100;
    h->sps->level_idc = 40;
    h->sps->pic_width_in_mbs_minus1 = 119;
    h->sps->pic_height_in_map_units_minus1 = 67;
    h->sps->frame_mbs_only_flag = 1;
    h->sps->vui_parameters_present_flag = 1;
    h->sps->timing_info_present_flag = 1;
    h->sps->num_units_in_tick = 1;
    h->sps->time_scale = 50;
    int overflow = -1;
    const std::vector<uint8_t> full = write(h.get(), 64, &overflow);
    EXPECT_EQ(overflow, 0);
    ASSERT_GT(full.size(), 10u);
    for (int size = 1; size < int(full.size()); size++) {
        const std::vector<uint8_t> part = write(h.get(), size, &overflow);
        EXPECT_EQ(overflow, 1) << size;
        EXPECT_LE(int(part.size()), size);
        EXPECT_EQ(std::vector<uint8_t>(full.begin(), full.begin() + long(part.size() - 1)),
                  std::vector<uint8_t>(part.begin(), part.end() - 1))
            << size;
    }
    // Three quarters of the buffer hold the RBSP: the exact size is not
    // enough, a third more is.
    write(h.get(), int(full.size()), &overflow);
    EXPECT_EQ(overflow, 1);
    EXPECT_EQ(write(h.get(), int(full.size() * 4 / 3 + 1), &overflow), full);
    EXPECT_EQ(overflow, 0);

    // Stored counts far beyond the data end at the buffer's end.
    h->nal->nal_unit_type = 8;
    h->pps->num_slice_groups_minus1 = 1;
    h->pps->slice_group_map_type = 6;
    h->pps->pic_size_in_map_units_minus1 = 0x7FFFFFFE;
    auto t0 = std::chrono::steady_clock::now();
    EXPECT_EQ(write(h.get(), 4096, &overflow).size(), 4096u);
    EXPECT_EQ(overflow, 1);
    h->nal->nal_unit_type = 6;
    h->seis = static_cast<sei_t **>(std::malloc(sizeof(sei_t *)));
    h->seis[0] = sei_new();
    h->num_seis = 1;
    h->seis[0]->payloadType = INT32_MAX;
    write(h.get(), 4096, &overflow);
    EXPECT_EQ(overflow, 1);
    EXPECT_LT(std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count(), time_limit(1.0));
}

TEST(H264Write, SeiMessagesWithoutStopByte) {
    StreamPtr h = new_stream();
    h->nal->nal_unit_type = 6;
    std::vector<uint8_t> in = {0x06, 0x05, 0x03, 0xAA, 0x00, 0x00, 0x03, 0x01, 0x02, 0x01, 0xFF, 0x80};
    read_nal_unit(h.get(), in.data(), int(in.size()));
    ASSERT_EQ(h->num_seis, 2);
    // The messages end on a byte boundary, so no stop byte follows them; the
    // zero run in the payload is escaped.
    EXPECT_EQ(write(h.get(), 64), (std::vector<uint8_t>(in.begin(), in.end() - 1)));

    // A write asked for more bytes than the message holds pads with zeros.
    uint8_t out[8];
    std::memset(out, 0x77, sizeof out);
    bs_t b;
    bs_init(&b, out, 8);
    h->sei = h->seis[1];
    write_sei_payload(h.get(), &b, 2, 4);
    EXPECT_EQ(out[0], 0x01);
    EXPECT_EQ(out[1], 0xFF);
    EXPECT_EQ(out[2], 0x00);
    EXPECT_EQ(out[3], 0x00);
    EXPECT_EQ(out[4], 0x77);
    // A message without a block writes zeros for its size.
    sei_t *empty = sei_new();
    empty->payloadType = 1;
    empty->payloadSize = 2;
    h->sei = empty;
    bs_init(&b, out, 8);
    write_sei_message(h.get(), &b);
    EXPECT_EQ(out[0], 1);
    EXPECT_EQ(out[1], 2);
    EXPECT_EQ(out[2], 0);
    EXPECT_EQ(out[3], 0);
    sei_free(empty);
}

// A slice header written from a record, read back against the same SPS/PPS.
std::string slice_bits(h264_stream_t *h) {
    return bits_of([&](bs_t *b) { write_slice_header(h, b); }, 256);
}

TEST(H264Write, UnterminatedCommandsAreWrittenOnceAndTerminated) {
    StreamPtr h = new_stream();
    h->sps->frame_mbs_only_flag = 1;
    h->sps->pic_order_cnt_type = 2;
    h->nal->nal_unit_type = 1;
    h->nal->nal_ref_idc = 1;
    slice_header_t &s = *h->slice_header;
    s.slice_type = 0;
    s.rplr.ref_pic_list_reordering_flag_l0 = 1;
    s.rplr.reordering_of_pic_nums_idc = 0;
    s.rplr.abs_diff_pic_num_minus1 = 4;
    s.drpm.adaptive_ref_pic_marking_mode_flag = 1;
    s.drpm.memory_management_control_operation = 3;
    s.drpm.difference_of_pic_nums_minus1 = 2;
    s.drpm.long_term_frame_idx = 1;

    BitWriter w;
    w.ue(0).ue(0).ue(0).u(4, 0).bit(0);
    w.bit(1).ue(0).ue(4).ue(3);       // reordering: the command, then 3
    w.bit(1).ue(3).ue(2).ue(1).ue(0); // marking: the operation, then 0
    w.se(0);
    const std::string expected = text_of(w);
    EXPECT_EQ(slice_bits(h.get()), expected);

    // A record as the reader leaves it writes just the terminators.
    s.rplr.reordering_of_pic_nums_idc = 3;
    s.drpm.memory_management_control_operation = 0;
    BitWriter t;
    t.ue(0).ue(0).ue(0).u(4, 0).bit(0).bit(1).ue(3).bit(1).ue(0).se(0);
    const std::string term = text_of(t);
    EXPECT_EQ(slice_bits(h.get()), term);
}

TEST(H264Write, WeightTableWritesTheStoredFlagForEveryReference) {
    StreamPtr h = new_stream();
    h->sps->frame_mbs_only_flag = 1;
    h->sps->pic_order_cnt_type = 2;
    h->sps->chroma_format_idc = 1;
    h->pps->weighted_pred_flag = 1;
    h->pps->num_ref_idx_l0_active_minus1 = 1; // two references
    h->nal->nal_unit_type = 1;
    slice_header_t &s = *h->slice_header;
    s.slice_type = 5;
    s.pwt.luma_log2_weight_denom = 6;
    s.pwt.chroma_log2_weight_denom = 2;
    s.pwt.luma_weight_l0_flag = 1;
    s.pwt.luma_weight_l0[0] = 70;
    s.pwt.luma_offset_l0[0] = -3;
    s.pwt.luma_weight_l0[1] = 64;
    s.pwt.luma_offset_l0[1] = 0;
    s.pwt.chroma_weight_l0_flag = 0;
    BitWriter w;
    w.ue(0).ue(5).ue(0).u(4, 0).bit(0).bit(0);
    w.ue(6).ue(2);
    w.bit(1).se(70).se(-3).bit(0);
    w.bit(1).se(64).se(0).bit(0);
    w.se(0);
    const std::string expected = text_of(w);
    EXPECT_EQ(slice_bits(h.get()), expected);
}

TEST(H264Write, SliceHeaderFieldsRoundTrip) {
    // Every optional part switched on, against a PPS with evolving slice
    // groups: the change cycle takes Ceil(Log2(99 / 10 + 1)) = 4 bits.
    StreamPtr h = new_stream();
    sps_t &sps = *h->sps;
    sps.log2_max_frame_num_minus4 = 3;
    sps.pic_order_cnt_type = 0;
    sps.log2_max_pic_order_cnt_lsb_minus4 = 2;
    sps.frame_mbs_only_flag = 0;
    sps.pic_width_in_mbs_minus1 = 10;
    sps.pic_height_in_map_units_minus1 = 8;
    pps_t &pps = *h->pps;
    pps.pic_order_present_flag = 1;
    pps.redundant_pic_cnt_present_flag = 1;
    pps.entropy_coding_mode_flag = 1;
    pps.deblocking_filter_control_present_flag = 1;
    pps.num_slice_groups_minus1 = 1;
    pps.slice_group_map_type = 4;
    pps.slice_group_change_rate_minus1 = 9;
    h->nal->nal_unit_type = 5;
    h->nal->nal_ref_idc = 3;
    slice_header_t &s = *h->slice_header;
    s.first_mb_in_slice = 7;
    s.slice_type = 6; // B
    s.frame_num = 100;
    s.field_pic_flag = 0;
    s.idr_pic_id = 2;
    s.pic_order_cnt_lsb = 31;
    s.delta_pic_order_cnt_bottom = -1;
    s.redundant_pic_cnt = 1;
    s.direct_spatial_mv_pred_flag = 1;
    s.num_ref_idx_active_override_flag = 1;
    s.num_ref_idx_l0_active_minus1 = 2;
    s.num_ref_idx_l1_active_minus1 = 1;
    s.drpm.long_term_reference_flag = 1;
    s.cabac_init_idc = 1;
    s.slice_qp_delta = 3;
    s.disable_deblocking_filter_idc = 2;
    s.slice_alpha_c0_offset_div2 = -2;
    s.slice_beta_offset_div2 = 2;
    s.slice_group_change_cycle = 11;

    BitWriter w;
    w.ue(7).ue(6).ue(0).u(7, 100).bit(0).ue(2).u(6, 31).se(-1).ue(1).bit(1).bit(1).ue(2).ue(1);
    w.bit(0).bit(0).bit(0).bit(1).ue(1).se(3).ue(2).se(-2).se(2).u(4, 11);
    const std::string expected = text_of(w);
    EXPECT_EQ(slice_bits(h.get()), expected);

    // Read back into a fresh record holding the same parameter sets.
    std::vector<uint8_t> buf(64);
    bs_t b;
    bs_init(&b, buf.data(), 64);
    write_slice_header(h.get(), &b);
    StreamPtr r = new_stream();
    *r->sps = sps;
    *r->pps = pps;
    *r->nal = *h->nal;
    bs_t rb;
    bs_init(&rb, buf.data(), 64);
    read_slice_header(r.get(), &rb);
    EXPECT_EQ(std::memcmp(r->slice_header, h->slice_header, sizeof(slice_header_t)), 0);
}

TEST(H264Write, ParameterSetsRoundTripThroughTheReader) {
    StreamPtr h = new_stream();
    sps_t &sps = *h->sps;
    sps.profile_idc = 122;
    sps.constraint_set1_flag = 1;
    sps.level_idc = 41;
    sps.seq_parameter_set_id = 3;
    sps.chroma_format_idc = 3;
    sps.residual_colour_transform_flag = 1;
    sps.bit_depth_luma_minus8 = 2;
    sps.bit_depth_chroma_minus8 = 2;
    sps.seq_scaling_matrix_present_flag = 1;
    sps.seq_scaling_list_present_flag[1] = 1;
    sps.seq_scaling_list_present_flag[6] = 1;
    for (int j = 0; j < 16; j++)
        sps.ScalingList4x4[1][j] = 4 + j * 15;
    for (int j = 0; j < 64; j++)
        sps.ScalingList8x8[0][j] = 255 - j * 3;
    sps.log2_max_frame_num_minus4 = 5;
    sps.pic_order_cnt_type = 1;
    sps.offset_for_non_ref_pic = -9;
    sps.offset_for_top_to_bottom_field = 4;
    sps.num_ref_frames_in_pic_order_cnt_cycle = 3;
    sps.offset_for_ref_frame[0] = 1;
    sps.offset_for_ref_frame[1] = -2;
    sps.offset_for_ref_frame[2] = 300;
    sps.num_ref_frames = 5;
    sps.pic_width_in_mbs_minus1 = 79;
    sps.pic_height_in_map_units_minus1 = 22;
    sps.mb_adaptive_frame_field_flag = 1;
    sps.vui_parameters_present_flag = 1;
    sps.nal_hrd_parameters_present_flag = 1;
    sps.vcl_hrd_parameters_present_flag = 1;
    sps.cpb_cnt_minus1 = 2;
    sps.bit_rate_value_minus1[2] = 77;
    sps.cbr_flag[1] = 1;
    sps.time_offset_length = 9;
    sps.low_delay_hrd_flag = 1;
    h->nal->nal_unit_type = 7;
    std::vector<uint8_t> buf(256);
    int n = write_nal_unit(h.get(), buf.data(), 256);
    StreamPtr r = new_stream();
    EXPECT_EQ(read_nal_unit(r.get(), buf.data(), n), n);
    EXPECT_EQ(std::memcmp(r->sps, h->sps, offsetof(sps_t, width)), 0);
    EXPECT_EQ(std::memcmp(&r->sps->aspect_ratio_info_present_flag, &h->sps->aspect_ratio_info_present_flag,
                          sizeof(sps_t) - offsetof(sps_t, aspect_ratio_info_present_flag)),
              0);

    pps_t &pps = *h->pps;
    pps.pic_parameter_set_id = 4;
    pps.num_slice_groups_minus1 = 3;
    pps.slice_group_map_type = 2;
    pps.top_left[2] = 12;
    pps.bottom_right[2] = 40;
    pps.pic_init_qs_minus26 = -26;
    pps.transform_8x8_mode_flag = 1;
    pps.pic_scaling_matrix_present_flag = 1;
    pps.pic_scaling_list_present_flag[7] = 1;
    for (int j = 0; j < 64; j++)
        pps.ScalingList8x8[1][j] = 1 + (j * 37) % 255;
    pps.second_chroma_qp_index_offset = -7;
    h->nal->nal_unit_type = 8;
    n = write_nal_unit(h.get(), buf.data(), 256);
    EXPECT_EQ(read_nal_unit(r.get(), buf.data(), n), n);
    EXPECT_EQ(std::memcmp(r->pps, h->pps, sizeof(pps_t)), 0);
}

} // namespace
