// The syntax readers on hand-coded NAL units: optional fields, the stated
// simplifications, and malformed data that must neither hang nor overrun.
#include <chrono>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "h264bits/h264_read.h"
#include "h264bits_util.h"
#include "streaminfo/bit_writer.h"

namespace {

// A NAL unit (no start code) from its header byte and RBSP bits.
std::vector<uint8_t> unit(uint8_t header, BitWriter &w, bool trailing = true) {
    if (trailing) w.trailing();
    std::vector<uint8_t> nal = annexb_nal(header, w.bytes());
    nal.erase(nal.begin(), nal.begin() + 4);
    return nal;
}

int read(h264_stream_t *h, const std::vector<uint8_t> &nal) {
    return read_nal_unit(h, nal.data(), int(nal.size()));
}

// Bits a reader has consumed.
long consumed(const bs_t &b) {
    return long(b.p - b.start) * 8 + (8 - b.bits_left);
}

double seconds_since(std::chrono::steady_clock::time_point t0) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

// A baseline-like SPS: frame_num of (log2_max_frame_num_minus4 + 4) bits,
// POC type 0 with 4-bit lsb, frames only.
std::vector<uint8_t> simple_sps(int log2_max_frame_num_minus4 = 0, int poc_type = 0) {
    BitWriter w;
    w.u(8, 66).u(8, 0).u(8, 30).ue(0).ue(uint64_t(log2_max_frame_num_minus4)).ue(uint64_t(poc_type));
    if (poc_type == 0) w.ue(0);
    if (poc_type == 1) w.bit(0).se(-2).se(1).ue(2).se(5).se(-6);
    w.ue(1).bit(0).ue(10).ue(8).bit(1).bit(1).bit(0).bit(0);
    return unit(0x67, w);
}

TEST(H264Read, PictureParameterSetFieldsAndTheMissingExtension) {
    StreamPtr h = new_stream();
    // A main-profile PPS ends after redundant_pic_cnt_present_flag: the
    // extension fields keep what the record held.
    h->pps->transform_8x8_mode_flag = 1;
    h->pps->pic_scaling_matrix_present_flag = 1;
    h->pps->second_chroma_qp_index_offset = 5;
    BitWriter w;
    w.ue(3).ue(1).bit(1).bit(1).ue(0).ue(4).ue(1).bit(1).u(2, 1).se(-5).se(7).se(-12).bit(1).bit(1).bit(1);
    auto nal = unit(0x68, w);
    EXPECT_EQ(read(h.get(), nal), int(nal.size()));
    const pps_t &p = *h->pps;
    EXPECT_EQ(p.pic_parameter_set_id, 3);
    EXPECT_EQ(p.seq_parameter_set_id, 1);
    EXPECT_EQ(p.entropy_coding_mode_flag, 1);
    EXPECT_EQ(p.pic_order_present_flag, 1);
    EXPECT_EQ(p.num_ref_idx_l0_active_minus1, 4);
    EXPECT_EQ(p.num_ref_idx_l1_active_minus1, 1);
    EXPECT_EQ(p.weighted_pred_flag, 1);
    EXPECT_EQ(p.weighted_bipred_idc, 1);
    EXPECT_EQ(p.pic_init_qp_minus26, -5);
    EXPECT_EQ(p.pic_init_qs_minus26, 7);
    EXPECT_EQ(p.chroma_qp_index_offset, -12);
    EXPECT_EQ(p.redundant_pic_cnt_present_flag, 1);
    EXPECT_EQ(p.transform_8x8_mode_flag, 1);
    EXPECT_EQ(p.pic_scaling_matrix_present_flag, 1);
    EXPECT_EQ(p.second_chroma_qp_index_offset, 5);

    // With the extension: eight lists when 8x8 transforms are on.
    BitWriter x;
    x.ue(0).ue(0).bit(0).bit(0).ue(0).ue(0).ue(0).bit(0).u(2, 0).se(0).se(0).se(0).bit(0).bit(0).bit(0);
    x.bit(1).bit(1);
    for (int i = 0; i < 8; i++)
        x.bit(i == 7);
    x.se(4); // list 7 starts 12 ...
    for (int j = 1; j < 64; j++)
        x.se(0); // ... and stays there
    x.se(-3);
    nal = unit(0x68, x);
    read(h.get(), nal);
    EXPECT_EQ(p.transform_8x8_mode_flag, 1);
    EXPECT_EQ(p.pic_scaling_list_present_flag[7], 1);
    EXPECT_EQ(p.ScalingList8x8[1][0], 12);
    EXPECT_EQ(p.ScalingList8x8[1][63], 12);
    EXPECT_EQ(p.second_chroma_qp_index_offset, -3);
}

TEST(H264Read, SliceGroupMapsOfEveryType) {
    StreamPtr h = new_stream();
    auto tail = [](BitWriter &w) { w.ue(0).ue(0).bit(0).u(2, 0).se(0).se(0).se(0).bit(1).bit(0).bit(0); };

    BitWriter t0; // interleaved runs
    t0.ue(0).ue(0).bit(0).bit(0).ue(2).ue(0).ue(10).ue(20).ue(30);
    tail(t0);
    read(h.get(), unit(0x68, t0));
    EXPECT_EQ(h->pps->num_slice_groups_minus1, 2);
    EXPECT_EQ(h->pps->run_length_minus1[0], 10);
    EXPECT_EQ(h->pps->run_length_minus1[2], 30);
    EXPECT_EQ(h->pps->deblocking_filter_control_present_flag, 1);

    BitWriter t2; // rectangles: one fewer than the groups
    t2.ue(0).ue(0).bit(0).bit(0).ue(2).ue(2).ue(1).ue(5).ue(7).ue(9);
    tail(t2);
    read(h.get(), unit(0x68, t2));
    EXPECT_EQ(h->pps->top_left[0], 1);
    EXPECT_EQ(h->pps->bottom_right[0], 5);
    EXPECT_EQ(h->pps->top_left[1], 7);
    EXPECT_EQ(h->pps->bottom_right[1], 9);
    EXPECT_EQ(h->pps->deblocking_filter_control_present_flag, 1);

    BitWriter t4; // evolving groups
    t4.ue(0).ue(0).bit(0).bit(0).ue(1).ue(4).bit(1).ue(9);
    tail(t4);
    read(h.get(), unit(0x68, t4));
    EXPECT_EQ(h->pps->slice_group_change_direction_flag, 1);
    EXPECT_EQ(h->pps->slice_group_change_rate_minus1, 9);

    BitWriter t6; // explicit map: 5 groups give 3-bit ids
    t6.ue(0).ue(0).bit(0).bit(0).ue(4).ue(6).ue(3).u(3, 4).u(3, 0).u(3, 2).u(3, 1);
    tail(t6);
    read(h.get(), unit(0x68, t6));
    EXPECT_EQ(h->pps->pic_size_in_map_units_minus1, 3);
    EXPECT_EQ(h->pps->slice_group_id[0], 4);
    EXPECT_EQ(h->pps->slice_group_id[2], 2);
    EXPECT_EQ(h->pps->slice_group_id[3], 1);
    EXPECT_EQ(h->pps->deblocking_filter_control_present_flag, 1);
}

TEST(H264Read, CountsBeyondTheArraysAreReadButNotStored) {
    StreamPtr h = new_stream();
    std::memset(h->pps, 0x5A, sizeof(pps_t));
    // 100 run lengths: the fields after them must still be in place.
    BitWriter w;
    w.ue(0).ue(0).bit(0).bit(0).ue(99).ue(0);
    for (int i = 0; i < 100; i++)
        w.ue(uint64_t(i));
    w.ue(6).ue(0).bit(0).u(2, 0).se(0).se(0).se(0).bit(1).bit(0).bit(0);
    read(h.get(), unit(0x68, w));
    EXPECT_EQ(h->pps->run_length_minus1[7], 7);
    EXPECT_EQ(h->pps->num_ref_idx_l0_active_minus1, 6);
    EXPECT_EQ(h->pps->deblocking_filter_control_present_flag, 1);
    EXPECT_EQ(h->pps->top_left[0], 0x5A5A5A5A); // the array after it is untouched

    // 300 slice group ids of 1 bit.
    BitWriter m;
    m.ue(0).ue(0).bit(0).bit(0).ue(1).ue(6).ue(299);
    for (int i = 0; i < 300; i++)
        m.bit(i % 3 == 0);
    m.ue(5).ue(0).bit(0).u(2, 0).se(0).se(0).se(0).bit(1).bit(0).bit(0);
    read(h.get(), unit(0x68, m));
    EXPECT_EQ(h->pps->slice_group_id[255], 1);
    EXPECT_EQ(h->pps->slice_group_id[254], 0);
    EXPECT_EQ(h->pps->num_ref_idx_l0_active_minus1, 5);
    // No extension in this set: what follows the map in the record is as it was.
    EXPECT_EQ(h->pps->transform_8x8_mode_flag, 0x5A5A5A5A);
    EXPECT_EQ(h->pps->ScalingList4x4[1][0], 0x5A5A5A5A);

    // A weight table with 100 references per the PPS.
    read(h.get(), simple_sps());
    BitWriter p;
    p.ue(0).ue(0).bit(0).bit(0).ue(0).ue(99).ue(0).bit(1).u(2, 0).se(0).se(0).se(0).bit(0).bit(0).bit(0);
    read(h.get(), unit(0x68, p));
    BitWriter s;
    s.ue(0).ue(0).ue(0).u(4, 1).u(4, 2).bit(0).bit(0).ue(3);
    for (int i = 0; i < 100; i++) {
        s.bit(1).se(i).se(-i);
    }
    s.se(7);
    read(h.get(), unit(0x01, s));
    EXPECT_EQ(h->slice_header->pwt.luma_log2_weight_denom, 3);
    EXPECT_EQ(h->slice_header->pwt.luma_weight_l0[63], 63);
    EXPECT_EQ(h->slice_header->pwt.luma_offset_l0[63], -63);
    EXPECT_EQ(h->slice_header->slice_qp_delta, 7);
}

TEST(H264Read, SeiMessagesAndTheirSizes) {
    StreamPtr h = new_stream();
    BitWriter w;
    w.u(8, 5).u(8, 16);
    for (int i = 0; i < 16; i++)
        w.u(8, uint64_t(0x10 + i));
    auto nal = unit(0x06, w);
    read(h.get(), nal);
    ASSERT_EQ(h->num_seis, 1);
    EXPECT_EQ(h->sei, h->seis[0]);
    EXPECT_EQ(h->sei->payloadType, 5);
    EXPECT_EQ(h->sei->payloadSize, 16);
    EXPECT_EQ(h->sei->payload[0], 0x10);
    EXPECT_EQ(h->sei->payload[15], 0x1F);

    // 0xFF-extended numbers; three messages; the second unit replaces the
    // first one's list (the sanitizer build sees the old ones freed).
    BitWriter x;
    x.u(8, 0xFF).u(8, 0xFF).u(8, 2).u(8, 0xFF).u(8, 1);
    for (int i = 0; i < 256; i++)
        x.u(8, uint64_t(i));
    x.u(8, 0).u(8, 0);            // type 0, empty
    x.u(8, 6).u(8, 1).u(8, 0x80); // a payload that looks like a stop byte
    read(h.get(), unit(0x06, x));
    ASSERT_EQ(h->num_seis, 3);
    EXPECT_EQ(h->seis[0]->payloadType, 512);
    EXPECT_EQ(h->seis[0]->payloadSize, 256);
    EXPECT_EQ(h->seis[0]->payload[255], 255);
    EXPECT_EQ(h->seis[1]->payloadType, 0);
    EXPECT_EQ(h->seis[1]->payloadSize, 0);
    EXPECT_EQ(h->seis[2]->payloadType, 6);
    ASSERT_EQ(h->seis[2]->payloadSize, 1);
    EXPECT_EQ(h->seis[2]->payload[0], 0x80);
    EXPECT_EQ(h->sei, h->seis[2]);

    // A size beyond the data is cut to the bytes there.
    BitWriter y;
    y.u(8, 4).u(8, 200).u(8, 0xAB).u(8, 0xCD);
    read(h.get(), unit(0x06, y, false));
    ASSERT_EQ(h->num_seis, 1);
    EXPECT_EQ(h->sei->payloadSize, 2);
    EXPECT_EQ(h->sei->payload[1], 0xCD);
}

TEST(H264Read, HugeSeiNumbersAndPictureSizesFinishQuickly) {
    StreamPtr h = new_stream();
    // One megabyte of 0xFF: a payload type of 255 per byte, summed without
    // overflow, and nothing left for a payload.
    std::vector<uint8_t> nal(1 + (1 << 20), 0xFF);
    nal[0] = 0x06;
    auto t0 = std::chrono::steady_clock::now();
    EXPECT_EQ(read(h.get(), nal), int(nal.size()));
    EXPECT_LT(seconds_since(t0), time_limit(1.0));
    ASSERT_EQ(h->num_seis, 1);
    EXPECT_EQ(h->sei->payloadType, 255 << 20);
    EXPECT_EQ(h->sei->payloadSize, 0);

    // Many tiny messages before a long run of trailing zeros: finding the
    // stop bit and growing the list stay linear.
    std::vector<uint8_t> many(1 + 400000 + 1 + 400000, 0x00);
    many[0] = 0x06;
    for (size_t i = 1; i < 400001; i += 2)
        many[i] = 0x01; // type 1, size 0
    many[400001] = 0x80;
    for (size_t i = 400002; i + 2 < many.size(); i += 3)
        many[i + 2] = 0x03; // keep the zeros escaped
    t0 = std::chrono::steady_clock::now();
    read(h.get(), many);
    EXPECT_LT(seconds_since(t0), time_limit(1.0));
    EXPECT_EQ(h->num_seis, 200000);

    // A number longer than 2^31 / 255 bytes is clamped, not wrapped.
    std::vector<uint8_t> ff(8500000, 0xFF);
    bs_t b;
    bs_init(&b, ff.data(), int(ff.size()));
    EXPECT_EQ(_read_ff_coded_number(&b), INT32_MAX);

    // pic_size_in_map_units_minus1 of 2^32 - 1 and 2^32 - 2 (stored as -1
    // and -2: no entries), and of 2^31 - 2 with a few bytes of map: all end
    // at once. The reader takes the 32 bits after 32 zeros and a 1 as the
    // value itself, so 2^32 - 1 is coded that way.
    const std::vector<std::pair<uint64_t, std::string>> sizes = {
        {0xFFFFFFFFull, std::string(32, '0') + "1" + std::string(32, '1')},
        {0xFFFFFFFEull, ""},
        {0x7FFFFFFEull, ""},
    };
    for (const auto &[size_minus1, code] : sizes) {
        BitWriter w;
        w.ue(0).ue(0).bit(0).bit(0).ue(1).ue(6);
        if (code.empty())
            w.ue(size_minus1);
        else
            w.bits(code);
        w.u(16, 0xA5A5);
        t0 = std::chrono::steady_clock::now();
        read(h.get(), unit(0x68, w));
        EXPECT_LT(seconds_since(t0), time_limit(1.0));
        EXPECT_EQ(uint32_t(h->pps->pic_size_in_map_units_minus1), size_minus1);
        if (size_minus1 > 0x7FFFFFFF) {                         // no map: the fields after it follow at once
            EXPECT_EQ(h->pps->num_ref_idx_l0_active_minus1, 0); // 1010 0101 ...
            EXPECT_EQ(h->pps->num_ref_idx_l1_active_minus1, 1);
        }
    }
    EXPECT_EQ(h->pps->slice_group_id[0], 1);
    EXPECT_EQ(h->pps->slice_group_id[1], 0);
    EXPECT_EQ(h->pps->slice_group_id[255], 0); // past the data: zeros
}

// Reads a slice against the stream's SPS and PPS and returns the bits it took.
long read_slice(h264_stream_t *h, uint8_t header, BitWriter &w) {
    auto nal = unit(header, w, false);
    h->nal->nal_ref_idc = (header >> 5) & 3;
    h->nal->nal_unit_type = header & 0x1f;
    std::vector<uint8_t> rbsp(nal.size());
    int nal_size = int(nal.size()), rbsp_size = 0;
    nal_to_rbsp(nal.data(), &nal_size, rbsp.data(), &rbsp_size);
    bs_t b;
    bs_init(&b, rbsp.data(), rbsp_size);
    read_slice_header(h, &b);
    return consumed(b);
}

TEST(H264Read, SliceHeaderOptionalParts) {
    StreamPtr h = new_stream();
    read(h.get(), simple_sps(0));
    BitWriter p; // CABAC, deblocking control, bottom POC, redundant counts
    p.ue(0).ue(0).bit(1).bit(1).ue(0).ue(0).ue(0).bit(0).u(2, 0).se(0).se(0).se(0).bit(1).bit(0).bit(1);
    read(h.get(), unit(0x68, p));

    // slice_type 7 is an I slice: no override, no reordering, no cabac_init_idc.
    BitWriter i;
    i.ue(0).ue(7).ue(0).u(4, 9).ue(3).u(4, 5).se(-2).ue(4).bit(0).bit(1).se(6).ue(1);
    long n = read_slice(h.get(), 0x65, i);
    EXPECT_EQ(n, long(i.size_bits()));
    const slice_header_t &s = *h->slice_header;
    EXPECT_EQ(s.frame_num, 9);
    EXPECT_EQ(s.idr_pic_id, 3);
    EXPECT_EQ(s.pic_order_cnt_lsb, 5);
    EXPECT_EQ(s.delta_pic_order_cnt_bottom, -2);
    EXPECT_EQ(s.redundant_pic_cnt, 4);
    EXPECT_EQ(s.drpm.no_output_of_prior_pics_flag, 0);
    EXPECT_EQ(s.drpm.long_term_reference_flag, 1);
    EXPECT_EQ(s.slice_qp_delta, 6);
    EXPECT_EQ(s.disable_deblocking_filter_idc, 1);

    // frame_num is 16 bits with log2_max_frame_num_minus4 of 12.
    read(h.get(), simple_sps(12));
    BitWriter w;
    w.ue(0).ue(2).ue(0).u(16, 0xBEEF).u(4, 0).se(0).ue(0).se(0).ue(1);
    EXPECT_EQ(read_slice(h.get(), 0x01, w), long(w.size_bits()));
    EXPECT_EQ(s.frame_num, 0xBEEF);

    // POC type 1: two deltas. SP slice: sp_for_switch_flag and qs delta.
    read(h.get(), simple_sps(0, 1));
    BitWriter sp;
    sp.ue(0).ue(3).ue(0).u(4, 1).se(-7).se(8).ue(0).bit(0).bit(0).ue(2).se(1).bit(1).se(-3).ue(0).se(2).se(
        -2);
    EXPECT_EQ(read_slice(h.get(), 0x01, sp), long(sp.size_bits()));
    EXPECT_EQ(s.delta_pic_order_cnt[0], -7);
    EXPECT_EQ(s.delta_pic_order_cnt[1], 8);
    EXPECT_EQ(s.cabac_init_idc, 2);
    EXPECT_EQ(s.sp_for_switch_flag, 1);
    EXPECT_EQ(s.slice_qs_delta, -3);
    EXPECT_EQ(s.slice_beta_offset_div2, -2);
}

TEST(H264Read, ReorderingAndMarkingKeepTheLastCommand) {
    StreamPtr h = new_stream();
    read(h.get(), simple_sps(0));
    BitWriter p;
    p.ue(0).ue(0).bit(0).bit(0).ue(0).ue(0).ue(0).bit(0).u(2, 0).se(0).se(0).se(0).bit(0).bit(0).bit(0);
    read(h.get(), unit(0x68, p));
    const slice_header_t &s = *h->slice_header;

    // B slice: both lists reordered, then adaptive marking.
    BitWriter b;
    b.ue(0).ue(1).ue(0).u(4, 2).u(4, 0).bit(1).bit(0);
    b.bit(1).ue(0).ue(4).ue(2).ue(9).ue(3);
    b.bit(1).ue(1).ue(6).ue(3);
    b.bit(1).ue(1).ue(11).ue(6).ue(2).ue(3).ue(5).ue(12).ue(0);
    b.se(0);
    EXPECT_EQ(read_slice(h.get(), 0x21, b), long(b.size_bits()));
    EXPECT_EQ(s.rplr.ref_pic_list_reordering_flag_l0, 1);
    EXPECT_EQ(s.rplr.ref_pic_list_reordering_flag_l1, 1);
    EXPECT_EQ(s.rplr.reordering_of_pic_nums_idc, 3);
    EXPECT_EQ(s.rplr.abs_diff_pic_num_minus1, 6);
    EXPECT_EQ(s.rplr.long_term_pic_num, 9);
    EXPECT_EQ(s.drpm.memory_management_control_operation, 0);
    EXPECT_EQ(s.drpm.difference_of_pic_nums_minus1, 5);
    EXPECT_EQ(s.drpm.long_term_frame_idx, 12);

    // A reordering loop whose data ends before the terminator stops there.
    BitWriter cut;
    cut.ue(0).ue(0).ue(0).u(4, 0).u(4, 0).bit(0).bit(1).ue(0).ue(1).ue(1).ue(2);
    auto t0 = std::chrono::steady_clock::now();
    read_slice(h.get(), 0x01, cut);
    EXPECT_LT(seconds_since(t0), time_limit(1.0));
    EXPECT_EQ(s.rplr.reordering_of_pic_nums_idc, 0); // what the end reads as
    EXPECT_EQ(s.rplr.abs_diff_pic_num_minus1, 0);
}

TEST(H264Read, WeightTableIsCountedFromThePps) {
    StreamPtr h = new_stream();
    read(h.get(), simple_sps(0)); // not a high profile: no chroma weights
    BitWriter p;                  // two references by default, weighted P
    p.ue(0).ue(0).bit(0).bit(0).ue(0).ue(1).ue(0).bit(1).u(2, 0).se(0).se(0).se(0).bit(0).bit(0).bit(0);
    read(h.get(), unit(0x68, p));

    // The slice overrides to one reference and codes one entry; the reader
    // still reads two, the second from the first bits of slice_qp_delta
    // (00110 = 3): flag 0, and then 0110... reads as ue 2, se -1.
    BitWriter w;
    w.ue(0).ue(0).ue(0).u(4, 1).u(4, 2).bit(1).ue(0).bit(0).ue(2).bit(1).se(5).se(-2).se(3);
    read_slice(h.get(), 0x01, w);
    const slice_header_t &s = *h->slice_header;
    EXPECT_EQ(s.num_ref_idx_l0_active_minus1, 0);
    EXPECT_EQ(s.pwt.luma_log2_weight_denom, 2);
    EXPECT_EQ(s.pwt.luma_weight_l0[0], 5);
    EXPECT_EQ(s.pwt.luma_offset_l0[0], -2);
    EXPECT_EQ(s.pwt.luma_weight_l0_flag, 0);
    EXPECT_EQ(s.slice_qp_delta, -1);
}

TEST(H264Read, UnitsWithoutAReaderChangeOnlyTheHeader) {
    StreamPtr h = new_stream();
    read(h.get(), simple_sps(3));
    StreamPtr before = new_stream();
    *before->sps = *h->sps;
    for (int type : {0, 2, 3, 4, 10, 11, 12, 13, 14, 15, 16, 17, 18, 20, 21, 25, 31}) {
        std::vector<uint8_t> nal = {uint8_t(0x60 | type), 0x12, 0x34, 0x80};
        EXPECT_EQ(read(h.get(), nal), 4);
        EXPECT_EQ(h->nal->nal_unit_type, type);
        EXPECT_EQ(h->nal->nal_ref_idc, 3);
        EXPECT_EQ(std::memcmp(h->sps, before->sps, sizeof(sps_t)), 0);
        EXPECT_EQ(std::memcmp(h->pps, before->pps, sizeof(pps_t)), 0);
        EXPECT_EQ(std::memcmp(h->slice_header, before->slice_header, sizeof(slice_header_t)), 0);
        EXPECT_EQ(h->aud->primary_pic_type, 0);
        EXPECT_EQ(h->num_seis, 0);
    }
}

TEST(H264Read, NalUnitResultAndDelimiter) {
    StreamPtr h = new_stream();
    std::vector<uint8_t> aud = {0x09, 0xF0};
    EXPECT_EQ(read(h.get(), aud), 2);
    EXPECT_EQ(h->aud->primary_pic_type, 7);
    // The result is the offset of an embedded start code.
    std::vector<uint8_t> cut = {0x09, 0x50, 0x00, 0x00, 0x01, 0x67};
    EXPECT_EQ(read(h.get(), cut), 2);
    EXPECT_EQ(h->aud->primary_pic_type, 2);
    // Nothing to read.
    EXPECT_EQ(read_nal_unit(h.get(), aud.data(), 0), 0);
    EXPECT_EQ(read_nal_unit(h.get(), nullptr, 5), 0);
}

TEST(H264Read, WidthsFromStoredFieldsStayWithin32Bits) {
    StreamPtr h = new_stream();
    h->sps->frame_mbs_only_flag = 1;
    h->sps->pic_order_cnt_type = 2;
    std::vector<uint8_t> data(12, 0xFF);
    for (int stored : {100, -40, 2147483647}) {
        h->sps->log2_max_frame_num_minus4 = stored;
        bs_t b;
        bs_init(&b, data.data(), int(data.size()));
        h->nal->nal_unit_type = 1;
        h->nal->nal_ref_idc = 0;
        // first_mb 0, slice_type 0 (P) come first: feed them as "1 1 1".
        data[0] = 0xE0 | (data[0] & 0x1F);
        read_slice_header(h.get(), &b);
        if (stored < 0)
            EXPECT_EQ(h->slice_header->frame_num, 0);
        else
            EXPECT_EQ(uint32_t(h->slice_header->frame_num), 0xFFFFFFFFu);
    }
}

TEST(H264Read, MoreRbspDataAndSliceTypes) {
    uint8_t data[] = {0x5C, 0x80, 0x00}; // 0101 1100 | stop bit | zero byte
    bs_t b;
    bs_init(&b, data, 3);
    EXPECT_EQ(more_rbsp_data(nullptr, &b), 1);
    bs_read_f(&b, 8);
    EXPECT_EQ(more_rbsp_data(nullptr, &b), 0); // at the stop bit
    EXPECT_EQ(more_rbsp_trailing_data(nullptr, &b), 1);
    bs_read_f(&b, 16);
    EXPECT_EQ(more_rbsp_data(nullptr, &b), 0);
    EXPECT_EQ(more_rbsp_trailing_data(nullptr, &b), 0);
    uint8_t zeros[4] = {};
    bs_init(&b, zeros, 4);
    EXPECT_EQ(more_rbsp_data(nullptr, &b), 0);
    uint8_t low[] = {0x00, 0x01};
    bs_init(&b, low, 2);
    bs_read_f(&b, 14);
    EXPECT_EQ(more_rbsp_data(nullptr, &b), 1);
    bs_read_f(&b, 1);
    EXPECT_EQ(more_rbsp_data(nullptr, &b), 0);

    EXPECT_EQ(is_slice_type(7, 2), 1);
    EXPECT_EQ(is_slice_type(2, 7), 1);
    EXPECT_EQ(is_slice_type(5, 1), 0);
    EXPECT_EQ(is_slice_type(9, 4), 1);
    EXPECT_EQ(next_bits(&b, 8), 0);
}

TEST(H264Read, SliceTrailingBitsSkipCabacZeroWords) {
    StreamPtr h = new_stream();
    h->pps->entropy_coding_mode_flag = 1;
    uint8_t data[] = {0xA0, 0x00, 0x00, 0x03, 0x00};
    bs_t b;
    bs_init(&b, data, 5);
    bs_read_f(&b, 2);
    read_rbsp_slice_trailing_bits(h.get(), &b);
    EXPECT_EQ(b.p, b.end);
    bs_init(&b, data, 5);
    bs_read_f(&b, 2);
    read_filler_data_rbsp(h.get(), &b);
    EXPECT_EQ(consumed(b), 8);

    // The reader of one payload keeps the size equal to the block it made.
    h->seis = static_cast<sei_t **>(std::malloc(sizeof(sei_t *)));
    h->seis[0] = h->sei = sei_new();
    h->num_seis = 1;
    bs_init(&b, data, 5);
    read_sei_payload(h.get(), &b, 5, 1000);
    EXPECT_EQ(h->sei->payloadSize, 5);
    EXPECT_EQ(h->sei->payload[3], 0x03);
}

} // namespace
