#include "h264bits/h264_write.h"

#include <cstdlib>

#include "h264bits/h264_common.h"
#include "h264bits/h264_read.h"

using namespace h264bits_detail;

namespace {

inline void write_bit(bs_t *b, uint32_t bit) {
    if (b->p >= b->end) {
        b->overflow = 1;
        return;
    }
    b->bits_left--;
    *b->p = static_cast<uint8_t>((*b->p & ~(1u << b->bits_left)) | ((bit & 1u) << b->bits_left));
    if (b->bits_left == 0) {
        b->p++;
        b->bits_left = 8;
    }
}

// True (and the overflow noted) when the buffer is full while more is still
// to be written; loops over stored counts stop there instead of running on.
inline bool full(bs_t *b) {
    if (b->p < b->end) return false;
    b->overflow = 1;
    return true;
}

// Flags are written as their low bit, so conditions on them test that bit:
// what the reader will see decides which fields follow.
inline int flag(int v) {
    return v & 1;
}

inline void write_flag(bs_t *b, int v) {
    bs_write_f(b, 1, static_cast<uint32_t>(v));
}

inline void write_ue(bs_t *b, int v) {
    bs_write_ue(b, static_cast<uint32_t>(v));
}

// Number of significant bits of every byte value (0 counts as 1).
struct BitLengthTable {
    uint8_t len[256];
    constexpr BitLengthTable() : len() {
        len[0] = 1;
        for (int x = 1; x < 256; x++) {
            int n = 0;
            for (int t = x; t; t >>= 1)
                n++;
            len[x] = static_cast<uint8_t>(n);
        }
    }
};
constexpr BitLengthTable kBitLength;

} // namespace

void bs_write_f(bs_t *b, int n, uint32_t value) {
    if (n < 1) return;
    if (n > 32) n = 32;
    for (int k = n - 1; k >= 0; k--)
        write_bit(b, value >> k);
}

void bs_write_u8(bs_t *b, uint32_t value) {
    bs_write_f(b, 8, value);
}

void bs_write_ue(bs_t *b, uint32_t value) {
    if (value == 0) {
        write_bit(b, 1);
        return;
    }
    if (value == 0xFFFFFFFFu) {
        // No 32-bit code: the reader takes the 32 bits after 32 zeros and a
        // 1 as the value itself.
        bs_write_f(b, 32, 0);
        write_bit(b, 1);
        bs_write_f(b, 32, value);
        return;
    }
    uint32_t w = value + 1;
    int len;
    if (w >> 24)
        len = 24 + kBitLength.len[w >> 24];
    else if (w >> 16)
        len = 16 + kBitLength.len[w >> 16];
    else if (w >> 8)
        len = 8 + kBitLength.len[w >> 8];
    else
        len = kBitLength.len[w];
    bs_write_f(b, len - 1, 0);
    bs_write_f(b, len, w);
}

void bs_write_se(bs_t *b, int32_t value) {
    // 64-bit on the way: -2 x INT32_MIN does not fit 32 bits and ends up as
    // 2^32 - 1's code.
    int64_t v = value;
    int64_t code = v > 0 ? 2 * v - 1 : -2 * v;
    if (code > 0xFFFFFFFFll) code = 0xFFFFFFFFll;
    bs_write_ue(b, static_cast<uint32_t>(code));
}

void write_rbsp_trailing_bits(h264_stream_t * /*h*/, bs_t *b) {
    if (b->bits_left == 8) return;
    write_bit(b, 1);
    while (b->bits_left != 8)
        write_bit(b, 0);
}

int rbsp_to_nal(const uint8_t *rbsp_buf, int *rbsp_size, uint8_t *nal_buf, int *nal_size) {
    const int n = *rbsp_size < 0 ? 0 : *rbsp_size;
    const int cap = *nal_size;
    if (cap < 2) {
        *nal_size = 1;
        *rbsp_size = 0;
        return (n == 0 && cap >= 1) ? 1 : 0;
    }
    int i = 1; // index 0 is the header byte
    int j = 0;
    int zeros = 0;
    bool fits = true;
    for (; j < n; j++) {
        const uint8_t x = rbsp_buf[j];
        if (zeros >= 2 && x <= 3) {
            if (i >= cap) {
                fits = false;
                break;
            }
            nal_buf[i++] = 3;
            zeros = 0;
        }
        if (i >= cap) {
            fits = false;
            break;
        }
        nal_buf[i++] = x;
        zeros = (x == 0) ? zeros + 1 : 0;
    }
    // A unit may not end in a zero byte.
    if (fits && n > 0 && rbsp_buf[n - 1] == 0) {
        if (i < cap)
            nal_buf[i++] = 3;
        else
            fits = false;
    }
    *nal_size = i;
    *rbsp_size = j;
    return fits ? 1 : 0;
}

void write_scaling_list(bs_t *b, int *scalingList, int sizeOfScalingList, int useDefaultScalingMatrixFlag) {
    int64_t lastScale = 8;
    int64_t nextScale = 8;
    for (int j = 0; j < sizeOfScalingList; j++) {
        if (nextScale != 0) {
            nextScale = useDefaultScalingMatrixFlag ? 0 : scalingList[j];
            // C remainder: -255..255, not folded into -128..127.
            int64_t delta = (nextScale - lastScale) % 256;
            bs_write_se(b, static_cast<int32_t>(delta));
        }
        lastScale = scalingList[j];
    }
}

void write_hrd_parameters(h264_stream_t *h, bs_t *b) {
    const sps_t *sps = h->sps;
    write_ue(b, sps->cpb_cnt_minus1);
    bs_write_f(b, 4, sps->bit_rate_scale);
    bs_write_f(b, 4, sps->cpb_size_scale);
    // Entries past the arrays are not stored; they are written as zeros so
    // that the count and the fields after the loop stay consistent.
    for (int64_t i = 0; i <= sps->cpb_cnt_minus1; i++) {
        if (full(b)) break;
        const bool stored = i < H264_MAX_CPB_CNT;
        write_ue(b, stored ? sps->bit_rate_value_minus1[i] : 0);
        write_ue(b, stored ? sps->cpb_size_value_minus1[i] : 0);
        write_flag(b, stored ? sps->cbr_flag[i] : 0);
    }
    bs_write_f(b, 5, sps->initial_cpb_removal_delay_length_minus1);
    bs_write_f(b, 5, sps->cpb_removal_delay_length_minus1);
    bs_write_f(b, 5, sps->dpb_output_delay_length_minus1);
    bs_write_f(b, 5, sps->time_offset_length);
}

void write_vui_parameters(h264_stream_t *h, bs_t *b) {
    const sps_t *sps = h->sps;
    write_flag(b, sps->aspect_ratio_info_present_flag);
    if (flag(sps->aspect_ratio_info_present_flag)) {
        bs_write_f(b, 8, sps->aspect_ratio_idc);
        if ((sps->aspect_ratio_idc & 0xFF) == 255) { // Extended_SAR
            bs_write_f(b, 16, sps->sar_width);
            bs_write_f(b, 16, sps->sar_height);
        }
    }
    write_flag(b, sps->overscan_info_present_flag);
    if (flag(sps->overscan_info_present_flag)) write_flag(b, sps->overscan_appropriate_flag);
    write_flag(b, sps->video_signal_type_present_flag);
    if (flag(sps->video_signal_type_present_flag)) {
        bs_write_f(b, 3, sps->video_format);
        write_flag(b, sps->video_full_range_flag);
        write_flag(b, sps->colour_description_present_flag);
        if (flag(sps->colour_description_present_flag)) {
            bs_write_f(b, 8, sps->colour_primaries);
            bs_write_f(b, 8, sps->transfer_characteristics);
            bs_write_f(b, 8, sps->matrix_coefficients);
        }
    }
    write_flag(b, sps->chroma_loc_info_present_flag);
    if (flag(sps->chroma_loc_info_present_flag)) {
        write_ue(b, sps->chroma_sample_loc_type_top_field);
        write_ue(b, sps->chroma_sample_loc_type_bottom_field);
    }
    write_flag(b, sps->timing_info_present_flag);
    if (flag(sps->timing_info_present_flag)) {
        bs_write_f(b, 32, static_cast<uint32_t>(sps->num_units_in_tick));
        bs_write_f(b, 32, static_cast<uint32_t>(sps->time_scale));
        write_flag(b, sps->fixed_frame_rate_flag);
    }
    // The one HRD record goes after each flag that is set.
    write_flag(b, sps->nal_hrd_parameters_present_flag);
    if (flag(sps->nal_hrd_parameters_present_flag)) write_hrd_parameters(h, b);
    write_flag(b, sps->vcl_hrd_parameters_present_flag);
    if (flag(sps->vcl_hrd_parameters_present_flag)) write_hrd_parameters(h, b);
    if (flag(sps->nal_hrd_parameters_present_flag) || flag(sps->vcl_hrd_parameters_present_flag))
        write_flag(b, sps->low_delay_hrd_flag);
    write_flag(b, sps->pic_struct_present_flag);
    write_flag(b, sps->bitstream_restriction_flag);
    if (flag(sps->bitstream_restriction_flag)) {
        write_flag(b, sps->motion_vectors_over_pic_boundaries_flag);
        write_ue(b, sps->max_bytes_per_pic_denom);
        write_ue(b, sps->max_bits_per_mb_denom);
        write_ue(b, sps->log2_max_mv_length_horizontal);
        write_ue(b, sps->log2_max_mv_length_vertical);
        write_ue(b, sps->num_reorder_frames);
        write_ue(b, sps->max_dec_frame_buffering);
    }
}

void write_seq_parameter_set_rbsp(h264_stream_t *h, bs_t *b) {
    sps_t *sps = h->sps;
    bs_write_f(b, 8, sps->profile_idc);
    write_flag(b, sps->constraint_set0_flag);
    write_flag(b, sps->constraint_set1_flag);
    write_flag(b, sps->constraint_set2_flag);
    write_flag(b, sps->constraint_set3_flag);
    bs_write_f(b, 4, sps->reserved_zero_4bits);
    bs_write_f(b, 8, sps->level_idc);
    write_ue(b, sps->seq_parameter_set_id);

    const int profile = sps->profile_idc & 0xFF;
    if (profile == 100 || profile == 110 || profile == 122 || profile == 144) {
        write_ue(b, sps->chroma_format_idc);
        if (sps->chroma_format_idc == 3) write_flag(b, sps->residual_colour_transform_flag);
        write_ue(b, sps->bit_depth_luma_minus8);
        write_ue(b, sps->bit_depth_chroma_minus8);
        write_flag(b, sps->qpprime_y_zero_transform_bypass_flag);
        write_flag(b, sps->seq_scaling_matrix_present_flag);
        if (flag(sps->seq_scaling_matrix_present_flag)) {
            for (int i = 0; i < 8; i++) {
                write_flag(b, sps->seq_scaling_list_present_flag[i]);
                if (!flag(sps->seq_scaling_list_present_flag[i])) continue;
                if (i < 6)
                    write_scaling_list(b, sps->ScalingList4x4[i], 16, sps->UseDefaultScalingMatrix4x4Flag[i]);
                else
                    write_scaling_list(b, sps->ScalingList8x8[i - 6], 64,
                                       sps->UseDefaultScalingMatrix8x8Flag[i - 6]);
            }
        }
    }

    write_ue(b, sps->log2_max_frame_num_minus4);
    write_ue(b, sps->pic_order_cnt_type);
    if (sps->pic_order_cnt_type == 0) {
        write_ue(b, sps->log2_max_pic_order_cnt_lsb_minus4);
    } else if (sps->pic_order_cnt_type == 1) {
        write_flag(b, sps->delta_pic_order_always_zero_flag);
        bs_write_se(b, sps->offset_for_non_ref_pic);
        bs_write_se(b, sps->offset_for_top_to_bottom_field);
        write_ue(b, sps->num_ref_frames_in_pic_order_cnt_cycle);
        for (int64_t i = 0; i < sps->num_ref_frames_in_pic_order_cnt_cycle; i++) {
            if (full(b)) break;
            bs_write_se(b, i < H264_MAX_REF_FRAMES_IN_POC_CYCLE ? sps->offset_for_ref_frame[i] : 0);
        }
    }
    write_ue(b, sps->num_ref_frames);
    write_flag(b, sps->gaps_in_frame_num_value_allowed_flag);
    write_ue(b, sps->pic_width_in_mbs_minus1);
    write_ue(b, sps->pic_height_in_map_units_minus1);
    write_flag(b, sps->frame_mbs_only_flag);
    if (!flag(sps->frame_mbs_only_flag)) write_flag(b, sps->mb_adaptive_frame_field_flag);
    write_flag(b, sps->direct_8x8_inference_flag);
    write_flag(b, sps->frame_cropping_flag);
    if (flag(sps->frame_cropping_flag)) {
        write_ue(b, sps->frame_crop_left_offset);
        write_ue(b, sps->frame_crop_right_offset);
        write_ue(b, sps->frame_crop_top_offset);
        write_ue(b, sps->frame_crop_bottom_offset);
    }
    write_flag(b, sps->vui_parameters_present_flag);
    if (flag(sps->vui_parameters_present_flag)) write_vui_parameters(h, b);
    write_rbsp_trailing_bits(h, b);
}

void write_pic_parameter_set_rbsp(h264_stream_t *h, bs_t *b) {
    pps_t *pps = h->pps;
    write_ue(b, pps->pic_parameter_set_id);
    write_ue(b, pps->seq_parameter_set_id);
    write_flag(b, pps->entropy_coding_mode_flag);
    write_flag(b, pps->pic_order_present_flag);
    write_ue(b, pps->num_slice_groups_minus1);

    if (pps->num_slice_groups_minus1 > 0) {
        const int64_t groups_minus1 = pps->num_slice_groups_minus1;
        write_ue(b, pps->slice_group_map_type);
        if (pps->slice_group_map_type == 0) {
            for (int64_t i = 0; i <= groups_minus1; i++) {
                if (full(b)) break;
                write_ue(b, i < H264_MAX_SLICE_GROUPS ? pps->run_length_minus1[i] : 0);
            }
        } else if (pps->slice_group_map_type == 2) {
            for (int64_t i = 0; i < groups_minus1; i++) {
                if (full(b)) break;
                const bool stored = i < H264_MAX_SLICE_GROUPS;
                write_ue(b, stored ? pps->top_left[i] : 0);
                write_ue(b, stored ? pps->bottom_right[i] : 0);
            }
        } else if (pps->slice_group_map_type >= 3 && pps->slice_group_map_type <= 5) {
            write_flag(b, pps->slice_group_change_direction_flag);
            write_ue(b, pps->slice_group_change_rate_minus1);
        } else if (pps->slice_group_map_type == 6) {
            write_ue(b, pps->pic_size_in_map_units_minus1);
            const int bits = slice_group_id_bits(pps);
            for (int64_t i = 0; i <= pps->pic_size_in_map_units_minus1; i++) {
                if (full(b)) break;
                bs_write_f(b, bits, i < H264_MAX_SLICE_GROUP_IDS ? pps->slice_group_id[i] : 0);
            }
        }
    }

    write_ue(b, pps->num_ref_idx_l0_active_minus1);
    write_ue(b, pps->num_ref_idx_l1_active_minus1);
    write_flag(b, pps->weighted_pred_flag);
    bs_write_f(b, 2, pps->weighted_bipred_idc);
    bs_write_se(b, pps->pic_init_qp_minus26);
    bs_write_se(b, pps->pic_init_qs_minus26);
    bs_write_se(b, pps->chroma_qp_index_offset);
    write_flag(b, pps->deblocking_filter_control_present_flag);
    write_flag(b, pps->constrained_intra_pred_flag);
    write_flag(b, pps->redundant_pic_cnt_present_flag);

    if (b->p < b->end) {
        write_flag(b, pps->transform_8x8_mode_flag);
        write_flag(b, pps->pic_scaling_matrix_present_flag);
        if (flag(pps->pic_scaling_matrix_present_flag)) {
            const int lists = 6 + 2 * flag(pps->transform_8x8_mode_flag);
            for (int i = 0; i < lists; i++) {
                write_flag(b, pps->pic_scaling_list_present_flag[i]);
                if (!flag(pps->pic_scaling_list_present_flag[i])) continue;
                if (i < 6)
                    write_scaling_list(b, pps->ScalingList4x4[i], 16, pps->UseDefaultScalingMatrix4x4Flag[i]);
                else
                    write_scaling_list(b, pps->ScalingList8x8[i - 6], 64,
                                       pps->UseDefaultScalingMatrix8x8Flag[i - 6]);
            }
        }
        bs_write_se(b, pps->second_chroma_qp_index_offset);
    }
    write_rbsp_trailing_bits(h, b);
}

void write_slice_header(h264_stream_t *h, bs_t *b) {
    slice_header_t *sh = h->slice_header;
    const sps_t *sps = h->sps;
    const pps_t *pps = h->pps;

    write_ue(b, sh->first_mb_in_slice);
    write_ue(b, sh->slice_type);
    write_ue(b, sh->pic_parameter_set_id);
    bs_write_f(b, frame_num_bits(sps), static_cast<uint32_t>(sh->frame_num));

    const int cls = slice_class(sh->slice_type);
    const bool is_p = cls == SH_SLICE_TYPE_P, is_b = cls == SH_SLICE_TYPE_B;
    const bool is_i = cls == SH_SLICE_TYPE_I, is_sp = cls == SH_SLICE_TYPE_SP;
    const bool is_si = cls == SH_SLICE_TYPE_SI;

    if (!flag(sps->frame_mbs_only_flag)) {
        write_flag(b, sh->field_pic_flag);
        if (flag(sh->field_pic_flag)) write_flag(b, sh->bottom_field_flag);
    }
    if ((h->nal->nal_unit_type & 0x1F) == NAL_UNIT_TYPE_CODED_SLICE_IDR) write_ue(b, sh->idr_pic_id);
    if (sps->pic_order_cnt_type == 0) {
        bs_write_f(b, pic_order_cnt_lsb_bits(sps), static_cast<uint32_t>(sh->pic_order_cnt_lsb));
        if (flag(pps->pic_order_present_flag) && !flag(sh->field_pic_flag))
            bs_write_se(b, sh->delta_pic_order_cnt_bottom);
    }
    if (sps->pic_order_cnt_type == 1 && !flag(sps->delta_pic_order_always_zero_flag)) {
        bs_write_se(b, sh->delta_pic_order_cnt[0]);
        if (flag(pps->pic_order_present_flag) && !flag(sh->field_pic_flag))
            bs_write_se(b, sh->delta_pic_order_cnt[1]);
    }
    if (flag(pps->redundant_pic_cnt_present_flag)) write_ue(b, sh->redundant_pic_cnt);
    if (is_b) write_flag(b, sh->direct_spatial_mv_pred_flag);
    if (is_p || is_sp || is_b) {
        write_flag(b, sh->num_ref_idx_active_override_flag);
        if (flag(sh->num_ref_idx_active_override_flag)) {
            write_ue(b, sh->num_ref_idx_l0_active_minus1);
            if (is_b) write_ue(b, sh->num_ref_idx_l1_active_minus1);
        }
    }
    write_ref_pic_list_reordering(h, b);
    if ((flag(pps->weighted_pred_flag) && (is_p || is_sp)) || ((pps->weighted_bipred_idc & 3) == 1 && is_b))
        write_pred_weight_table(h, b);
    if ((h->nal->nal_ref_idc & 3) != 0) write_dec_ref_pic_marking(h, b);
    if (flag(pps->entropy_coding_mode_flag) && !is_i && !is_si) write_ue(b, sh->cabac_init_idc);
    bs_write_se(b, sh->slice_qp_delta);
    if (is_sp || is_si) {
        if (is_sp) write_flag(b, sh->sp_for_switch_flag);
        bs_write_se(b, sh->slice_qs_delta);
    }
    if (flag(pps->deblocking_filter_control_present_flag)) {
        write_ue(b, sh->disable_deblocking_filter_idc);
        if (sh->disable_deblocking_filter_idc != 1) {
            bs_write_se(b, sh->slice_alpha_c0_offset_div2);
            bs_write_se(b, sh->slice_beta_offset_div2);
        }
    }
    if (pps->num_slice_groups_minus1 > 0 && pps->slice_group_map_type >= 3 && pps->slice_group_map_type <= 5)
        bs_write_f(b, slice_group_change_cycle_bits(sps, pps),
                   static_cast<uint32_t>(sh->slice_group_change_cycle));
}

void write_ref_pic_list_reordering(h264_stream_t *h, bs_t *b) {
    slice_header_t *sh = h->slice_header;
    const int cls = slice_class(sh->slice_type);

    // The record keeps one command: it is written, followed by the
    // terminator when it is not the terminator itself.
    auto write_commands = [&]() {
        const int idc = sh->rplr.reordering_of_pic_nums_idc;
        write_ue(b, idc);
        if (idc == 0 || idc == 1)
            write_ue(b, sh->rplr.abs_diff_pic_num_minus1);
        else if (idc == 2)
            write_ue(b, sh->rplr.long_term_pic_num);
        if (idc != 3) write_ue(b, 3);
    };

    if (cls != SH_SLICE_TYPE_I && cls != SH_SLICE_TYPE_SI) {
        write_flag(b, sh->rplr.ref_pic_list_reordering_flag_l0);
        if (flag(sh->rplr.ref_pic_list_reordering_flag_l0)) write_commands();
    }
    if (cls == SH_SLICE_TYPE_B) {
        write_flag(b, sh->rplr.ref_pic_list_reordering_flag_l1);
        if (flag(sh->rplr.ref_pic_list_reordering_flag_l1)) write_commands();
    }
}

void write_pred_weight_table(h264_stream_t *h, bs_t *b) {
    slice_header_t *sh = h->slice_header;
    const bool chroma = h->sps->chroma_format_idc != 0;
    const auto &pwt = sh->pwt;

    write_ue(b, pwt.luma_log2_weight_denom);
    if (chroma) write_ue(b, pwt.chroma_log2_weight_denom);

    auto write_list = [&](int64_t count_minus1, int luma_flag, const int *luma_weight, const int *luma_offset,
                          int chroma_flag, const int(*chroma_weight)[2], const int(*chroma_offset)[2]) {
        for (int64_t i = 0; i <= count_minus1; i++) {
            if (full(b)) break;
            const bool stored = i < H264_MAX_REF_IDX;
            write_flag(b, luma_flag);
            if (flag(luma_flag)) {
                bs_write_se(b, stored ? luma_weight[i] : 0);
                bs_write_se(b, stored ? luma_offset[i] : 0);
            }
            if (chroma) {
                write_flag(b, chroma_flag);
                if (flag(chroma_flag)) {
                    for (int j = 0; j < 2; j++) {
                        bs_write_se(b, stored ? chroma_weight[i][j] : 0);
                        bs_write_se(b, stored ? chroma_offset[i][j] : 0);
                    }
                }
            }
        }
    };

    write_list(h->pps->num_ref_idx_l0_active_minus1, pwt.luma_weight_l0_flag, pwt.luma_weight_l0,
               pwt.luma_offset_l0, pwt.chroma_weight_l0_flag, pwt.chroma_weight_l0, pwt.chroma_offset_l0);
    if (slice_class(sh->slice_type) == SH_SLICE_TYPE_B)
        write_list(h->pps->num_ref_idx_l1_active_minus1, pwt.luma_weight_l1_flag, pwt.luma_weight_l1,
                   pwt.luma_offset_l1, pwt.chroma_weight_l1_flag, pwt.chroma_weight_l1, pwt.chroma_offset_l1);
}

void write_dec_ref_pic_marking(h264_stream_t *h, bs_t *b) {
    const auto &drpm = h->slice_header->drpm;
    if ((h->nal->nal_unit_type & 0x1F) == NAL_UNIT_TYPE_CODED_SLICE_IDR) {
        write_flag(b, drpm.no_output_of_prior_pics_flag);
        write_flag(b, drpm.long_term_reference_flag);
        return;
    }
    write_flag(b, drpm.adaptive_ref_pic_marking_mode_flag);
    if (!flag(drpm.adaptive_ref_pic_marking_mode_flag)) return;
    const int op = drpm.memory_management_control_operation;
    write_ue(b, op);
    if (op == 1 || op == 3) write_ue(b, drpm.difference_of_pic_nums_minus1);
    if (op == 2) write_ue(b, drpm.long_term_pic_num);
    if (op == 3 || op == 6) write_ue(b, drpm.long_term_frame_idx);
    if (op == 4) write_ue(b, drpm.max_long_term_frame_idx_plus1);
    if (op != 0) write_ue(b, 0);
}

void _write_ff_coded_number(bs_t *b, int n) {
    if (n < 0) n = 0;
    while (n >= 255) {
        if (full(b)) return;
        bs_write_u8(b, 0xFF);
        n -= 255;
    }
    bs_write_u8(b, static_cast<uint32_t>(n));
}

void write_sei_payload(h264_stream_t *h, bs_t *b, int /*payloadType*/, int payloadSize) {
    const sei_t *s = h->sei;
    const int have = (s && s->payload && s->payloadSize > 0) ? s->payloadSize : 0;
    for (int i = 0; i < payloadSize; i++) {
        if (full(b)) return;
        bs_write_u8(b, i < have ? s->payload[i] : 0);
    }
}

void write_sei_message(h264_stream_t *h, bs_t *b) {
    const sei_t *s = h->sei;
    if (!s) return;
    const int size = s->payloadSize < 0 ? 0 : s->payloadSize;
    _write_ff_coded_number(b, s->payloadType);
    _write_ff_coded_number(b, size);
    write_sei_payload(h, b, s->payloadType, size);
}

void write_sei_rbsp(h264_stream_t *h, bs_t *b) {
    for (int i = 0; i < h->num_seis; i++) {
        if (!h->seis[i]) continue;
        h->sei = h->seis[i];
        write_sei_message(h, b);
    }
    write_rbsp_trailing_bits(h, b);
}

void write_access_unit_delimiter_rbsp(h264_stream_t *h, bs_t *b) {
    bs_write_f(b, 3, h->aud->primary_pic_type);
    write_rbsp_trailing_bits(h, b);
}

void write_end_of_seq_rbsp(h264_stream_t * /*h*/, bs_t * /*b*/) {}

void write_end_of_stream_rbsp(h264_stream_t * /*h*/, bs_t * /*b*/) {}

void write_filler_data_rbsp(h264_stream_t *h, bs_t *b) {
    write_rbsp_trailing_bits(h, b);
}

void write_rbsp_slice_trailing_bits(h264_stream_t *h, bs_t *b) {
    write_rbsp_trailing_bits(h, b);
}

void write_slice_layer_rbsp(h264_stream_t *h, bs_t *b) {
    write_slice_header(h, b);
    write_rbsp_trailing_bits(h, b);
}

int write_nal_unit(h264_stream_t *h, uint8_t *buf, int size, int *overflow) {
    if (overflow) *overflow = 0;
    if (!h || !buf || size < 1) {
        if (overflow) *overflow = 1;
        return 0;
    }
    bs_t b;
    bs_init(&b, buf, size);
    bs_write_f(&b, 1, h->nal->forbidden_zero_bit);
    bs_write_f(&b, 2, h->nal->nal_ref_idc);
    bs_write_f(&b, 5, h->nal->nal_unit_type);

    // Three quarters of the buffer for the RBSP leaves room for the
    // emulation-prevention bytes of any RBSP without long zero runs.
    const int rbsp_cap = static_cast<int>(int64_t(size) * 3 / 4);
    uint8_t *rbsp = static_cast<uint8_t *>(std::malloc(size_t(rbsp_cap > 0 ? rbsp_cap : 1)));
    if (!rbsp) {
        if (overflow) *overflow = 1;
        return 1;
    }
    bs_t rb;
    bs_init(&rb, rbsp, rbsp_cap);
    switch (h->nal->nal_unit_type & 0x1F) {
    case NAL_UNIT_TYPE_CODED_SLICE_NON_IDR:
    case NAL_UNIT_TYPE_CODED_SLICE_IDR:
    case NAL_UNIT_TYPE_CODED_SLICE_AUX:
        write_slice_layer_rbsp(h, &rb);
        break;
    case NAL_UNIT_TYPE_SEI:
        write_sei_rbsp(h, &rb);
        break;
    case NAL_UNIT_TYPE_SPS:
        write_seq_parameter_set_rbsp(h, &rb);
        break;
    case NAL_UNIT_TYPE_PPS:
        write_pic_parameter_set_rbsp(h, &rb);
        break;
    case NAL_UNIT_TYPE_AUD:
        write_access_unit_delimiter_rbsp(h, &rb);
        break;
    default:
        break; // an empty RBSP
    }
    int rbsp_size = static_cast<int>(rb.p - rb.start);
    int nal_size = size;
    const int fits = rbsp_to_nal(rbsp, &rbsp_size, buf, &nal_size);
    std::free(rbsp);
    if (overflow) *overflow = (rb.overflow || !fits) ? 1 : 0;
    return nal_size;
}
