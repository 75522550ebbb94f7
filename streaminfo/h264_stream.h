// H.264 parse state and the readers that turn an Annex B frame into its
// picture size: NAL unit search, emulation-prevention removal, and the
// sequence parameter set with its scaling lists, VUI and HRD parameters.
//
// The records follow the syntax element names of the 2005 edition of H.264
// (with the FRExt high profiles). Every record starts zero-filled and a field
// that the syntax skips keeps its previous value. Counts read from the stream
// are stored as read, but only the entries that fit the fixed arrays are
// stored; code that walks an array by such a count must clamp it itself.
#pragma once

#include <cstdint>

#include "streaminfo/bs.h"

// NAL unit header (one byte).
struct nal_t {
    int forbidden_zero_bit;
    int nal_ref_idc;
    int nal_unit_type;
};

// Capacities of the arrays below.
enum {
    H264_MAX_REF_FRAMES_IN_POC_CYCLE = 256,
    H264_MAX_CPB_CNT = 32,
    H264_MAX_SLICE_GROUPS = 8,
    H264_MAX_SLICE_GROUP_IDS = 256,
    H264_MAX_REF_IDX = 64,
};

struct sps_t {
    int profile_idc;
    int constraint_set0_flag;
    int constraint_set1_flag;
    int constraint_set2_flag;
    int constraint_set3_flag;
    int reserved_zero_4bits;
    int level_idc;
    int seq_parameter_set_id;

    // Read only for profile_idc 100, 110, 122 and 144.
    int chroma_format_idc;
    int residual_colour_transform_flag;
    int bit_depth_luma_minus8;
    int bit_depth_chroma_minus8;
    int qpprime_y_zero_transform_bypass_flag;
    int seq_scaling_matrix_present_flag;
    int seq_scaling_list_present_flag[8];
    int ScalingList4x4[6][16];             // in coded (zig-zag) order
    int UseDefaultScalingMatrix4x4Flag[6]; // never set by the reader
    int ScalingList8x8[2][64];             // lists 6 and 7, coded order
    int UseDefaultScalingMatrix8x8Flag[2]; // never set by the reader

    int log2_max_frame_num_minus4;
    int pic_order_cnt_type;
    int log2_max_pic_order_cnt_lsb_minus4;
    int delta_pic_order_always_zero_flag;
    int offset_for_non_ref_pic;
    int offset_for_top_to_bottom_field;
    int num_ref_frames_in_pic_order_cnt_cycle; // may exceed the array
    int offset_for_ref_frame[H264_MAX_REF_FRAMES_IN_POC_CYCLE];

    int num_ref_frames;
    int gaps_in_frame_num_value_allowed_flag;
    int pic_width_in_mbs_minus1;
    int pic_height_in_map_units_minus1;
    int frame_mbs_only_flag;
    int mb_adaptive_frame_field_flag;
    int direct_8x8_inference_flag;
    int frame_cropping_flag;
    int frame_crop_left_offset;
    int frame_crop_right_offset;
    int frame_crop_top_offset;
    int frame_crop_bottom_offset;
    int vui_parameters_present_flag;

    // Picture size in pixels, computed after each SPS is read. Every crop
    // offset counts two pixels in both directions, whatever the chroma
    // format or field coding. 0 when the result does not fit an int.
    int width;
    int height;

    // VUI
    int aspect_ratio_info_present_flag;
    int aspect_ratio_idc;
    int sar_width;
    int sar_height;
    int overscan_info_present_flag;
    int overscan_appropriate_flag;
    int video_signal_type_present_flag;
    int video_format;
    int video_full_range_flag;
    int colour_description_present_flag;
    int colour_primaries;
    int transfer_characteristics;
    int matrix_coefficients;
    int chroma_loc_info_present_flag;
    int chroma_sample_loc_type_top_field;
    int chroma_sample_loc_type_bottom_field;
    int timing_info_present_flag;
    int num_units_in_tick;
    int time_scale;
    int fixed_frame_rate_flag;
    int nal_hrd_parameters_present_flag;
    int vcl_hrd_parameters_present_flag;
    int low_delay_hrd_flag;
    int pic_struct_present_flag;
    int bitstream_restriction_flag;
    int motion_vectors_over_pic_boundaries_flag;
    int max_bytes_per_pic_denom;
    int max_bits_per_mb_denom;
    int log2_max_mv_length_horizontal;
    int log2_max_mv_length_vertical;
    int num_reorder_frames;
    int max_dec_frame_buffering;

    // HRD: one record; VCL parameters, when present, overwrite NAL ones.
    int cpb_cnt_minus1; // may exceed the arrays
    int bit_rate_scale;
    int cpb_size_scale;
    int bit_rate_value_minus1[H264_MAX_CPB_CNT];
    int cpb_size_value_minus1[H264_MAX_CPB_CNT];
    int cbr_flag[H264_MAX_CPB_CNT];
    int initial_cpb_removal_delay_length_minus1;
    int cpb_removal_delay_length_minus1;
    int dpb_output_delay_length_minus1;
    int time_offset_length;
};

struct pps_t {
    int pic_parameter_set_id;
    int seq_parameter_set_id;
    int entropy_coding_mode_flag;
    int pic_order_present_flag;

    int num_slice_groups_minus1;
    int slice_group_map_type;
    int run_length_minus1[H264_MAX_SLICE_GROUPS];
    int top_left[H264_MAX_SLICE_GROUPS];
    int bottom_right[H264_MAX_SLICE_GROUPS];
    int slice_group_change_direction_flag;
    int slice_group_change_rate_minus1;
    int pic_size_in_map_units_minus1;
    int slice_group_id[H264_MAX_SLICE_GROUP_IDS];

    int num_ref_idx_l0_active_minus1;
    int num_ref_idx_l1_active_minus1;
    int weighted_pred_flag;
    int weighted_bipred_idc;
    int pic_init_qp_minus26;
    int pic_init_qs_minus26;
    int chroma_qp_index_offset;
    int deblocking_filter_control_present_flag;
    int constrained_intra_pred_flag;
    int redundant_pic_cnt_present_flag;

    int transform_8x8_mode_flag;
    int pic_scaling_matrix_present_flag;
    int pic_scaling_list_present_flag[8];
    int ScalingList4x4[6][16];
    int UseDefaultScalingMatrix4x4Flag[6];
    int ScalingList8x8[2][64];
    int UseDefaultScalingMatrix8x8Flag[2];
    int second_chroma_qp_index_offset;
};

// The slice header keeps its three sub-syntaxes in their own records
// (both reordering and marking have a long_term_pic_num). The flags and
// commands of the loops hold the values of the last pass.
struct slice_header_t {
    int first_mb_in_slice;
    int slice_type;
    int pic_parameter_set_id;
    int frame_num;
    int field_pic_flag;
    int bottom_field_flag;
    int idr_pic_id;
    int pic_order_cnt_lsb;
    int delta_pic_order_cnt_bottom;
    int delta_pic_order_cnt[2];
    int redundant_pic_cnt;
    int direct_spatial_mv_pred_flag;
    int num_ref_idx_active_override_flag;
    int num_ref_idx_l0_active_minus1;
    int num_ref_idx_l1_active_minus1;
    int cabac_init_idc;
    int slice_qp_delta;
    int sp_for_switch_flag;
    int slice_qs_delta;
    int disable_deblocking_filter_idc;
    int slice_alpha_c0_offset_div2;
    int slice_beta_offset_div2;
    int slice_group_change_cycle;

    struct {
        int luma_log2_weight_denom;
        int chroma_log2_weight_denom;
        int luma_weight_l0_flag;
        int luma_weight_l0[H264_MAX_REF_IDX];
        int luma_offset_l0[H264_MAX_REF_IDX];
        int chroma_weight_l0_flag;
        int chroma_weight_l0[H264_MAX_REF_IDX][2];
        int chroma_offset_l0[H264_MAX_REF_IDX][2];
        int luma_weight_l1_flag;
        int luma_weight_l1[H264_MAX_REF_IDX];
        int luma_offset_l1[H264_MAX_REF_IDX];
        int chroma_weight_l1_flag;
        int chroma_weight_l1[H264_MAX_REF_IDX][2];
        int chroma_offset_l1[H264_MAX_REF_IDX][2];
    } pwt;

    struct {
        int ref_pic_list_reordering_flag_l0;
        int ref_pic_list_reordering_flag_l1;
        int reordering_of_pic_nums_idc;
        int abs_diff_pic_num_minus1;
        int long_term_pic_num;
    } rplr;

    struct {
        int no_output_of_prior_pics_flag;
        int long_term_reference_flag;
        int adaptive_ref_pic_marking_mode_flag;
        int memory_management_control_operation;
        int difference_of_pic_nums_minus1;
        int long_term_pic_num;
        int long_term_frame_idx;
        int max_long_term_frame_idx_plus1;
    } drpm;
};

struct aud_t {
    int primary_pic_type;
};

// One SEI message. payload is a malloc'd block of payloadSize bytes owned by
// the record (null until read).
struct sei_t {
    int payloadType;
    int payloadSize;
    uint8_t *payload;
};

struct h264_stream_t {
    nal_t *nal;
    sps_t *sps; // one record: each SPS read overwrites it
    pps_t *pps;
    aud_t *aud;
    sei_t *sei;   // last entry of seis; null before any SEI was read
    sei_t **seis; // malloc'd array (grown with realloc) of sei_new records
    int num_seis;
    slice_header_t *slice_header;
};

// A stream record with zero-filled sub-records and no SEI messages;
// nullptr when out of memory.
h264_stream_t *h264_new();
// Releases the stream record, its sub-records and its SEI messages.
void h264_free(h264_stream_t *h);

// A zero-filled SEI message (nullptr when out of memory); sei_free releases
// its payload and the record. nullptr is allowed.
sei_t *sei_new();
void sei_free(sei_t *s);

// Finds the next Annex B NAL unit in buf: returns its length
// (nal_end - nal_start, indices relative to buf) or 0 when there is no start
// code. Bytes past size are never read.
int find_nal_unit(const uint8_t *buf, int size, int *nal_start, int *nal_end);

// Copies the payload after the NAL header byte into rbsp_buf, dropping
// emulation-prevention bytes and stopping at an embedded 00 00 01.
// *nal_size: in, bytes available; out, bytes consumed. *rbsp_size: out,
// bytes written. rbsp_buf must hold *nal_size - 1 bytes.
void nal_to_rbsp(const uint8_t *nal_buf, int *nal_size, uint8_t *rbsp_buf, int *rbsp_size);

void read_seq_parameter_set_rbsp(h264_stream_t *h, bs_t *b);
void read_scaling_list(bs_t *b, int *scalingList, int sizeOfScalingList);
void read_vui_parameters(h264_stream_t *h, bs_t *b);
void read_hrd_parameters(h264_stream_t *h, bs_t *b);
void read_rbsp_trailing_bits(h264_stream_t *h, bs_t *b);

// Picture size of the first sequence parameter set in an Annex B frame.
// Returns 1 and stores both sizes when an SPS with a size of 1 to 16384 in
// both directions comes before any empty NAL unit; otherwise returns 0 and
// stores nothing.
int getH264Resolution(const uint8_t *buf, int len, int *width, int *height);
