#include "streaminfo/h264_stream.h"

#include <cstdint>
#include <limits>
#include <new>

namespace {

bool has_high_profile_fields(int profile_idc) {
    return profile_idc == 100 || profile_idc == 110 || profile_idc == 122 || profile_idc == 144;
}

int clamp_to_int(int64_t v) {
    if (v < std::numeric_limits<int>::min() || v > std::numeric_limits<int>::max()) return 0;
    return static_cast<int>(v);
}

// Size before the int conversion, so that callers can range-check it.
int64_t sps_width64(const sps_t *sps) {
    return (static_cast<int64_t>(sps->pic_width_in_mbs_minus1) + 1) * 16 -
           2 * (static_cast<int64_t>(sps->frame_crop_left_offset) + sps->frame_crop_right_offset);
}

int64_t sps_height64(const sps_t *sps) {
    return (static_cast<int64_t>(sps->pic_height_in_map_units_minus1) + 1) *
               (2 - static_cast<int64_t>(sps->frame_mbs_only_flag)) * 16 -
           2 * (static_cast<int64_t>(sps->frame_crop_top_offset) + sps->frame_crop_bottom_offset);
}

} // namespace

void read_scaling_list(bs_t *b, int *scalingList, int sizeOfScalingList) {
    int lastScale = 8;
    int nextScale = 8;
    for (int j = 0; j < sizeOfScalingList; j++) {
        if (nextScale != 0) {
            int64_t delta_scale = bs_read_se(b);
            // C remainder: keeps the sign of the dividend.
            nextScale = static_cast<int>((lastScale + delta_scale + 256) % 256);
        }
        scalingList[j] = (nextScale == 0) ? lastScale : nextScale;
        lastScale = scalingList[j];
    }
}

void read_hrd_parameters(h264_stream_t *h, bs_t *b) {
    sps_t *sps = h->sps;
    sps->cpb_cnt_minus1 = read_ue(b);
    sps->bit_rate_scale = read_u(b, 4);
    sps->cpb_size_scale = read_u(b, 4);
    // Every coded entry is read so that the fields after them stay in place;
    // only the ones that fit are stored. Once the data has run out the rest
    // would all read as zero, so they are filled in without reading.
    for (int64_t i = 0; i <= sps->cpb_cnt_minus1; i++) {
        if (bs_eof(b)) {
            for (; i <= sps->cpb_cnt_minus1 && i < H264_MAX_CPB_CNT; i++) {
                sps->bit_rate_value_minus1[i] = 0;
                sps->cpb_size_value_minus1[i] = 0;
                sps->cbr_flag[i] = 0;
            }
            break;
        }
        int bit_rate = read_ue(b);
        int cpb_size = read_ue(b);
        int cbr = read_flag(b);
        if (i < H264_MAX_CPB_CNT) {
            sps->bit_rate_value_minus1[i] = bit_rate;
            sps->cpb_size_value_minus1[i] = cpb_size;
            sps->cbr_flag[i] = cbr;
        }
    }
    sps->initial_cpb_removal_delay_length_minus1 = read_u(b, 5);
    sps->cpb_removal_delay_length_minus1 = read_u(b, 5);
    sps->dpb_output_delay_length_minus1 = read_u(b, 5);
    sps->time_offset_length = read_u(b, 5);
}

void read_vui_parameters(h264_stream_t *h, bs_t *b) {
    sps_t *sps = h->sps;
    sps->aspect_ratio_info_present_flag = read_flag(b);
    if (sps->aspect_ratio_info_present_flag) {
        sps->aspect_ratio_idc = read_u(b, 8);
        if (sps->aspect_ratio_idc == 255) { // Extended_SAR
            sps->sar_width = read_u(b, 16);
            sps->sar_height = read_u(b, 16);
        }
    }
    sps->overscan_info_present_flag = read_flag(b);
    if (sps->overscan_info_present_flag) sps->overscan_appropriate_flag = read_flag(b);
    sps->video_signal_type_present_flag = read_flag(b);
    if (sps->video_signal_type_present_flag) {
        sps->video_format = read_u(b, 3);
        sps->video_full_range_flag = read_flag(b);
        sps->colour_description_present_flag = read_flag(b);
        if (sps->colour_description_present_flag) {
            sps->colour_primaries = read_u(b, 8);
            sps->transfer_characteristics = read_u(b, 8);
            sps->matrix_coefficients = read_u(b, 8);
        }
    }
    sps->chroma_loc_info_present_flag = read_flag(b);
    if (sps->chroma_loc_info_present_flag) {
        sps->chroma_sample_loc_type_top_field = read_ue(b);
        sps->chroma_sample_loc_type_bottom_field = read_ue(b);
    }
    sps->timing_info_present_flag = read_flag(b);
    if (sps->timing_info_present_flag) {
        sps->num_units_in_tick = read_u(b, 32);
        sps->time_scale = read_u(b, 32);
        sps->fixed_frame_rate_flag = read_flag(b);
    }
    sps->nal_hrd_parameters_present_flag = read_flag(b);
    if (sps->nal_hrd_parameters_present_flag) read_hrd_parameters(h, b);
    sps->vcl_hrd_parameters_present_flag = read_flag(b);
    if (sps->vcl_hrd_parameters_present_flag) read_hrd_parameters(h, b);
    if (sps->nal_hrd_parameters_present_flag || sps->vcl_hrd_parameters_present_flag)
        sps->low_delay_hrd_flag = read_flag(b);
    sps->pic_struct_present_flag = read_flag(b);
    sps->bitstream_restriction_flag = read_flag(b);
    if (sps->bitstream_restriction_flag) {
        sps->motion_vectors_over_pic_boundaries_flag = read_flag(b);
        sps->max_bytes_per_pic_denom = read_ue(b);
        sps->max_bits_per_mb_denom = read_ue(b);
        sps->log2_max_mv_length_horizontal = read_ue(b);
        sps->log2_max_mv_length_vertical = read_ue(b);
        sps->num_reorder_frames = read_ue(b);
        sps->max_dec_frame_buffering = read_ue(b);
    }
}

void read_rbsp_trailing_bits(h264_stream_t * /*h*/, bs_t *b) {
    while (b->bits_left != 8)
        bs_read_f(b, 1);
}

void read_seq_parameter_set_rbsp(h264_stream_t *h, bs_t *b) {
    sps_t *sps = h->sps;
    sps->profile_idc = read_u(b, 8);
    sps->constraint_set0_flag = read_flag(b);
    sps->constraint_set1_flag = read_flag(b);
    sps->constraint_set2_flag = read_flag(b);
    sps->constraint_set3_flag = read_flag(b);
    sps->reserved_zero_4bits = read_u(b, 4);
    sps->level_idc = read_u(b, 8);
    sps->seq_parameter_set_id = read_ue(b);

    if (has_high_profile_fields(sps->profile_idc)) {
        sps->chroma_format_idc = read_ue(b);
        if (sps->chroma_format_idc == 3) sps->residual_colour_transform_flag = read_flag(b);
        sps->bit_depth_luma_minus8 = read_ue(b);
        sps->bit_depth_chroma_minus8 = read_ue(b);
        sps->qpprime_y_zero_transform_bypass_flag = read_flag(b);
        sps->seq_scaling_matrix_present_flag = read_flag(b);
        if (sps->seq_scaling_matrix_present_flag) {
            for (int i = 0; i < 8; i++) {
                sps->seq_scaling_list_present_flag[i] = read_flag(b);
                if (!sps->seq_scaling_list_present_flag[i]) continue;
                if (i < 6)
                    read_scaling_list(b, sps->ScalingList4x4[i], 16);
                else
                    read_scaling_list(b, sps->ScalingList8x8[i - 6], 64);
            }
        }
    }

    sps->log2_max_frame_num_minus4 = read_ue(b);
    sps->pic_order_cnt_type = read_ue(b);
    if (sps->pic_order_cnt_type == 0) {
        sps->log2_max_pic_order_cnt_lsb_minus4 = read_ue(b);
    } else if (sps->pic_order_cnt_type == 1) {
        sps->delta_pic_order_always_zero_flag = read_flag(b);
        sps->offset_for_non_ref_pic = bs_read_se(b);
        sps->offset_for_top_to_bottom_field = bs_read_se(b);
        sps->num_ref_frames_in_pic_order_cnt_cycle = read_ue(b);
        // As with the HRD entries: read all, store what fits, and stop
        // reading once the data has run out.
        for (int64_t i = 0; i < sps->num_ref_frames_in_pic_order_cnt_cycle; i++) {
            if (bs_eof(b)) {
                for (; i < sps->num_ref_frames_in_pic_order_cnt_cycle && i < H264_MAX_REF_FRAMES_IN_POC_CYCLE;
                     i++)
                    sps->offset_for_ref_frame[i] = 0;
                break;
            }
            int offset = bs_read_se(b);
            if (i < H264_MAX_REF_FRAMES_IN_POC_CYCLE) sps->offset_for_ref_frame[i] = offset;
        }
    }
    sps->num_ref_frames = read_ue(b);
    sps->gaps_in_frame_num_value_allowed_flag = read_flag(b);
    sps->pic_width_in_mbs_minus1 = read_ue(b);
    sps->pic_height_in_map_units_minus1 = read_ue(b);
    sps->frame_mbs_only_flag = read_flag(b);
    if (!sps->frame_mbs_only_flag) sps->mb_adaptive_frame_field_flag = read_flag(b);
    sps->direct_8x8_inference_flag = read_flag(b);
    sps->frame_cropping_flag = read_flag(b);
    if (sps->frame_cropping_flag) {
        sps->frame_crop_left_offset = read_ue(b);
        sps->frame_crop_right_offset = read_ue(b);
        sps->frame_crop_top_offset = read_ue(b);
        sps->frame_crop_bottom_offset = read_ue(b);
    }
    sps->vui_parameters_present_flag = read_flag(b);
    if (sps->vui_parameters_present_flag) read_vui_parameters(h, b);
    read_rbsp_trailing_bits(h, b);

    sps->width = clamp_to_int(sps_width64(sps));
    sps->height = clamp_to_int(sps_height64(sps));
}

int getH264Resolution(const uint8_t *buf, int len, int *width, int *height) {
    if (!buf || len <= 0) return 0;
    h264_stream_t *h = h264_new();
    if (!h) return 0;

    int result = 0;
    int offset = 0;
    for (;;) {
        int nal_start = 0;
        int nal_end = 0;
        if (find_nal_unit(buf + offset, len - offset, &nal_start, &nal_end) <= 0) break;
        const uint8_t *nal = buf + offset + nal_start;
        int nal_size = nal_end - nal_start;

        uint8_t header = nal[0];
        h->nal->forbidden_zero_bit = header >> 7;
        h->nal->nal_ref_idc = (header >> 5) & 3;
        h->nal->nal_unit_type = header & 0x1f;

        if (h->nal->nal_unit_type != 7) {
            // Only the type matters here: no need to unescape the payload.
            offset += nal_end;
            continue;
        }

        uint8_t *rbsp = new (std::nothrow) uint8_t[nal_size];
        if (!rbsp) break;
        int rbsp_size = 0;
        nal_to_rbsp(nal, &nal_size, rbsp, &rbsp_size);
        bs_t b;
        bs_init(&b, rbsp, rbsp_size);
        read_seq_parameter_set_rbsp(h, &b);
        delete[] rbsp;

        // Only the first SPS counts. A garbage SPS must never hand a zero,
        // negative or absurd size downstream, where it sizes buffers.
        int64_t w = sps_width64(h->sps);
        int64_t ht = sps_height64(h->sps);
        if (w >= 1 && w <= 16384 && ht >= 1 && ht <= 16384) {
            *width = static_cast<int>(w);
            *height = static_cast<int>(ht);
            result = 1;
        }
        break;
    }
    h264_free(h);
    return result;
}
