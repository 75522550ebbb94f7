#include "h264bits/h264_print.h"

#include <cstdio>

#include "h264bits/h264_read.h"

namespace {

const char *name_of(const char *const *names, unsigned count, int code) {
    // Compared unsigned, so a negative code is out of every table.
    unsigned u = static_cast<unsigned>(code);
    return u < count ? names[u] : "Unknown";
}

const char *const kSliceTypes[] = {"P slice",       "B slice",      "I slice",      "SP slice",
                                   "SI slice",      "P slice only", "B slice only", "I slice only",
                                   "SP slice only", "SI slice only"};

const char *const kPrimaryPicTypes[] = {"I",      "I, P",  "I, P, B",      "SI",
                                        "SI, SP", "I, SI", "I, SI, P, SP", "I, SI, P, SP, B"};

const char *const kNalUnitTypes[] = {
    "Unspecified",
    "Coded slice of a non-IDR picture",
    "Coded slice data partition A",
    "Coded slice data partition B",
    "Coded slice data partition C",
    "Coded slice of an IDR picture",
    "Supplemental enhancement information (SEI)",
    "Sequence parameter set",
    "Picture parameter set",
    "Access unit delimiter",
    "End of sequence",
    "End of stream",
    "Filler data",
    "Sequence parameter set extension",
    "Unknown",
    "Unknown",
    "Unknown",
    "Unknown",
    "Unknown",
    "Coded slice of an auxiliary coded picture without partitioning",
};

const char *const kSeiTypes[] = {"Buffering period",
                                 "Pic timing",
                                 "Pan scan rect",
                                 "Filler payload",
                                 "User data registered ITU-T T35",
                                 "User data unregistered",
                                 "Recovery point",
                                 "Dec ref pic marking repetition",
                                 "Spare pic",
                                 "Scene info",
                                 "Sub seq info",
                                 "Sub seq layer characteristics",
                                 "Sub seq characteristics",
                                 "Full frame freeze",
                                 "Full frame freeze release",
                                 "Full frame snapshot",
                                 "Progressive refinement segment start",
                                 "Progressive refinement segment end",
                                 "Motion constrained slice group set",
                                 "Film grain characteristics",
                                 "Deblocking filter display preference",
                                 "Stereo video info"};

template <unsigned N> const char *lookup(const char *const (&names)[N], int code) {
    return name_of(names, N, code);
}

// One field line: the name between blanks after an indent of 1, 3 or 5.
void field(int indent, const char *name, int value) {
    std::printf("%*s%s : %d \n", indent, "", name, value);
}

void named_field(const char *name, int value, const char *text) {
    std::printf(" %s : %d ( %s ) \n", name, value, text);
}

} // namespace

#define F1(rec, f) field(1, #f, (rec)->f)
#define F3(rec, f) field(3, #f, (rec)->f)
#define F5(rec, f) field(5, #f, (rec)->f)

void debug_sps(sps_t *sps) {
    std::printf("======= SPS =======\n");
    F1(sps, profile_idc);
    F1(sps, constraint_set0_flag);
    F1(sps, constraint_set1_flag);
    F1(sps, constraint_set2_flag);
    F1(sps, constraint_set3_flag);
    F1(sps, reserved_zero_4bits);
    F1(sps, level_idc);
    F1(sps, seq_parameter_set_id);
    F1(sps, chroma_format_idc);
    F1(sps, residual_colour_transform_flag);
    F1(sps, bit_depth_luma_minus8);
    F1(sps, bit_depth_chroma_minus8);
    F1(sps, qpprime_y_zero_transform_bypass_flag);
    F1(sps, seq_scaling_matrix_present_flag);
    F1(sps, log2_max_frame_num_minus4);
    F1(sps, pic_order_cnt_type);
    F3(sps, log2_max_pic_order_cnt_lsb_minus4);
    F3(sps, delta_pic_order_always_zero_flag);
    F3(sps, offset_for_non_ref_pic);
    F3(sps, offset_for_top_to_bottom_field);
    F3(sps, num_ref_frames_in_pic_order_cnt_cycle);
    F1(sps, num_ref_frames);
    F1(sps, gaps_in_frame_num_value_allowed_flag);
    F1(sps, pic_width_in_mbs_minus1);
    F1(sps, pic_height_in_map_units_minus1);
    F1(sps, frame_mbs_only_flag);
    F1(sps, mb_adaptive_frame_field_flag);
    F1(sps, direct_8x8_inference_flag);
    F1(sps, frame_cropping_flag);
    F3(sps, frame_crop_left_offset);
    F3(sps, frame_crop_right_offset);
    F3(sps, frame_crop_top_offset);
    F3(sps, frame_crop_bottom_offset);
    F1(sps, vui_parameters_present_flag);

    std::printf("=== VUI ===\n");
    F1(sps, aspect_ratio_info_present_flag);
    F3(sps, aspect_ratio_idc);
    F5(sps, sar_width);
    F5(sps, sar_height);
    F1(sps, overscan_info_present_flag);
    F3(sps, overscan_appropriate_flag);
    F1(sps, video_signal_type_present_flag);
    F3(sps, video_format);
    F3(sps, video_full_range_flag);
    F3(sps, colour_description_present_flag);
    F5(sps, colour_primaries);
    F3(sps, transfer_characteristics);
    F3(sps, matrix_coefficients);
    F1(sps, chroma_loc_info_present_flag);
    F3(sps, chroma_sample_loc_type_top_field);
    F3(sps, chroma_sample_loc_type_bottom_field);
    F1(sps, timing_info_present_flag);
    F3(sps, num_units_in_tick);
    F3(sps, time_scale);
    F3(sps, fixed_frame_rate_flag);
    F1(sps, nal_hrd_parameters_present_flag);
    F1(sps, vcl_hrd_parameters_present_flag);
    F3(sps, low_delay_hrd_flag);
    F1(sps, pic_struct_present_flag);
    F1(sps, bitstream_restriction_flag);
    F3(sps, motion_vectors_over_pic_boundaries_flag);
    F3(sps, max_bytes_per_pic_denom);
    F3(sps, max_bits_per_mb_denom);
    F3(sps, log2_max_mv_length_horizontal);
    F3(sps, log2_max_mv_length_vertical);
    F3(sps, num_reorder_frames);
    F3(sps, max_dec_frame_buffering);

    std::printf("=== HRD ===\n");
    F1(sps, cpb_cnt_minus1);
    F1(sps, bit_rate_scale);
    F1(sps, cpb_size_scale);
    F1(sps, initial_cpb_removal_delay_length_minus1);
    F1(sps, cpb_removal_delay_length_minus1);
    F1(sps, dpb_output_delay_length_minus1);
    F1(sps, time_offset_length);
}

void debug_pps(pps_t *pps) {
    std::printf("======= PPS =======\n");
    F1(pps, pic_parameter_set_id);
    F1(pps, seq_parameter_set_id);
    F1(pps, entropy_coding_mode_flag);
    F1(pps, pic_order_present_flag);
    F1(pps, num_slice_groups_minus1);
    F1(pps, slice_group_map_type);
    F1(pps, num_ref_idx_l0_active_minus1);
    F1(pps, num_ref_idx_l1_active_minus1);
    F1(pps, weighted_pred_flag);
    F1(pps, weighted_bipred_idc);
    F1(pps, pic_init_qp_minus26);
    F1(pps, pic_init_qs_minus26);
    F1(pps, chroma_qp_index_offset);
    F1(pps, deblocking_filter_control_present_flag);
    F1(pps, constrained_intra_pred_flag);
    F1(pps, redundant_pic_cnt_present_flag);
    F1(pps, transform_8x8_mode_flag);
    F1(pps, pic_scaling_matrix_present_flag);
    F1(pps, second_chroma_qp_index_offset);
}

void debug_slice_header(slice_header_t *sh) {
    std::printf("======= Slice Header =======\n");
    F1(sh, first_mb_in_slice);
    named_field("slice_type", sh->slice_type, lookup(kSliceTypes, sh->slice_type));
    F1(sh, pic_parameter_set_id);
    F1(sh, frame_num);
    F1(sh, field_pic_flag);
    F1(sh, bottom_field_flag);
    F1(sh, idr_pic_id);
    F1(sh, pic_order_cnt_lsb);
    F1(sh, delta_pic_order_cnt_bottom);
    F1(sh, redundant_pic_cnt);
    F1(sh, direct_spatial_mv_pred_flag);
    F1(sh, num_ref_idx_active_override_flag);
    F1(sh, num_ref_idx_l0_active_minus1);
    F1(sh, num_ref_idx_l1_active_minus1);
    F1(sh, cabac_init_idc);
    F1(sh, slice_qp_delta);
    F1(sh, sp_for_switch_flag);
    F1(sh, slice_qs_delta);
    F1(sh, disable_deblocking_filter_idc);
    F1(sh, slice_alpha_c0_offset_div2);
    F1(sh, slice_beta_offset_div2);
    F1(sh, slice_group_change_cycle);

    std::printf("=== Prediction Weight Table ===\n");
    F1(&sh->pwt, luma_log2_weight_denom);
    F1(&sh->pwt, chroma_log2_weight_denom);
    F1(&sh->pwt, luma_weight_l0_flag);
    F1(&sh->pwt, chroma_weight_l0_flag);
    F1(&sh->pwt, luma_weight_l1_flag);
    F1(&sh->pwt, chroma_weight_l1_flag);

    std::printf("=== Ref Pic List Reordering ===\n");
    F1(&sh->rplr, ref_pic_list_reordering_flag_l0);
    F1(&sh->rplr, ref_pic_list_reordering_flag_l1);

    std::printf("=== Decoded Ref Pic Marking ===\n");
    F1(&sh->drpm, no_output_of_prior_pics_flag);
    F1(&sh->drpm, long_term_reference_flag);
    F1(&sh->drpm, adaptive_ref_pic_marking_mode_flag);
}

void debug_aud(aud_t *aud) {
    std::printf("======= Access Unit Delimiter =======\n");
    named_field("primary_pic_type", aud->primary_pic_type, lookup(kPrimaryPicTypes, aud->primary_pic_type));
}

void debug_seis(sei_t **seis, int num_seis) {
    std::printf("======= SEI =======\n");
    for (int i = 0; seis && i < num_seis; i++) {
        const sei_t *s = seis[i];
        if (!s) continue;
        std::printf("=== %s ===\n", lookup(kSeiTypes, s->payloadType));
        field(1, "payloadType", s->payloadType);
        field(1, "payloadSize", s->payloadSize);
        std::printf(" payload : ");
        // Only the bytes the record really holds.
        debug_bytes(s->payload, s->payload ? s->payloadSize : 0);
    }
}

void debug_bytes(const uint8_t *buf, int len) {
    if (!buf || len < 1) {
        std::printf("\n");
        return;
    }
    for (int i = 0; i < len; i++) {
        std::printf("%02X ", buf[i]);
        if ((i + 1) % 16 == 0) std::printf("\n");
    }
    std::printf("\n");
}

void debug_bs(bs_t *b) {
    bs_t r;
    bs_init(&r, b->start, static_cast<int>(b->end - b->start));
    while (r.p < b->p || (r.p == b->p && r.bits_left > b->bits_left)) {
        if (r.p >= r.end) break;
        std::printf("%u", bs_read_f(&r, 1));
        if (r.bits_left == 8) std::printf(" ");
    }
}

void debug_nal(h264_stream_t *h, nal_t *nal) {
    std::printf("==================== NAL ====================\n");
    field(1, "forbidden_zero_bit", nal->forbidden_zero_bit);
    field(1, "nal_ref_idc", nal->nal_ref_idc);
    named_field("nal_unit_type", nal->nal_unit_type, lookup(kNalUnitTypes, nal->nal_unit_type));
    switch (nal->nal_unit_type) {
    case NAL_UNIT_TYPE_CODED_SLICE_NON_IDR:
    case NAL_UNIT_TYPE_CODED_SLICE_IDR:
        debug_slice_header(h->slice_header);
        break;
    case NAL_UNIT_TYPE_SEI:
        debug_seis(h->seis, h->num_seis);
        break;
    case NAL_UNIT_TYPE_SPS:
        debug_sps(h->sps);
        break;
    case NAL_UNIT_TYPE_PPS:
        debug_pps(h->pps);
        break;
    case NAL_UNIT_TYPE_AUD:
        debug_aud(h->aud);
        break;
    default:
        break;
    }
}
