#include "h264bits/h264_read.h"

#include <climits>
#include <cstdlib>

#include "h264bits/h264_common.h"

using namespace h264bits_detail;

namespace {

// Bit index of the reader's position from the start of its buffer.
inline int64_t bit_pos(const bs_t *b) {
    return int64_t(b->p - b->start) * 8 + (8 - b->bits_left);
}

// Bits from the position to the end of the buffer.
inline int64_t bits_remaining(const bs_t *b) {
    if (b->p >= b->end) return 0;
    return int64_t(b->end - b->p) * 8 - (8 - b->bits_left);
}

// Bit index of the last 1 bit at or after the position, or -1 if none.
int64_t last_one_bit(const bs_t *b) {
    for (const uint8_t *q = b->end; q > b->p;) {
        --q;
        if (*q) {
            int low = 0;
            while (!((*q >> low) & 1))
                low++;
            return int64_t(q - b->start) * 8 + (7 - low);
        }
    }
    return -1;
}

inline int clamp_to_int(int64_t v) {
    return v > INT_MAX ? INT_MAX : (v < INT_MIN ? INT_MIN : static_cast<int>(v));
}

// Appends a fresh message to the SEI list and makes it the current one.
// The array doubles whenever the count reaches a power of two, so a unit
// with many small messages costs linear time. False when out of memory.
bool append_sei(h264_stream_t *h) {
    int n = h->num_seis;
    if ((n & (n - 1)) == 0) {
        size_t cap = n == 0 ? 1 : size_t(n) * 2;
        void *grown = std::realloc(h->seis, cap * sizeof(sei_t *));
        if (!grown) return false;
        h->seis = static_cast<sei_t **>(grown);
    }
    sei_t *s = sei_new();
    if (!s) return false;
    h->seis[n] = s;
    h->num_seis = n + 1;
    h->sei = s;
    return true;
}

} // namespace

int more_rbsp_data(h264_stream_t * /*h*/, bs_t *b) {
    if (b->p >= b->end) return 0;
    return bit_pos(b) < last_one_bit(b) ? 1 : 0;
}

int more_rbsp_trailing_data(h264_stream_t * /*h*/, bs_t *b) {
    return b->p < b->end ? 1 : 0;
}

int is_slice_type(int slice_type, int cmp_type) {
    return slice_class(slice_type) == slice_class(cmp_type) ? 1 : 0;
}

int next_bits(bs_t * /*b*/, int /*n*/) {
    return 0;
}

int read_nal_unit(h264_stream_t *h, const uint8_t *buf, int size) {
    if (!h || !buf || size < 1) return 0;
    // The readers never write through the buffer.
    uint8_t *bytes = const_cast<uint8_t *>(buf);
    bs_t hb;
    bs_init(&hb, bytes, size);
    h->nal->forbidden_zero_bit = read_u(&hb, 1);
    h->nal->nal_ref_idc = read_u(&hb, 2);
    h->nal->nal_unit_type = read_u(&hb, 5);

    uint8_t *rbsp = static_cast<uint8_t *>(std::malloc(size_t(size)));
    if (!rbsp) return 0;
    int nal_size = size;
    int rbsp_size = 0;
    nal_to_rbsp(buf, &nal_size, rbsp, &rbsp_size);
    bs_t b;
    bs_init(&b, rbsp, rbsp_size);

    switch (h->nal->nal_unit_type) {
    case NAL_UNIT_TYPE_CODED_SLICE_NON_IDR:
    case NAL_UNIT_TYPE_CODED_SLICE_IDR:
    case NAL_UNIT_TYPE_CODED_SLICE_AUX:
        read_slice_layer_rbsp(h, &b);
        break;
    case NAL_UNIT_TYPE_SEI:
        read_sei_rbsp(h, &b);
        break;
    case NAL_UNIT_TYPE_SPS:
        read_seq_parameter_set_rbsp(h, &b);
        break;
    case NAL_UNIT_TYPE_PPS:
        read_pic_parameter_set_rbsp(h, &b);
        break;
    case NAL_UNIT_TYPE_AUD:
        read_access_unit_delimiter_rbsp(h, &b);
        break;
    default:
        break;
    }
    std::free(rbsp);
    return nal_size;
}

void read_pic_parameter_set_rbsp(h264_stream_t *h, bs_t *b) {
    pps_t *pps = h->pps;
    pps->pic_parameter_set_id = read_ue(b);
    pps->seq_parameter_set_id = read_ue(b);
    pps->entropy_coding_mode_flag = read_flag(b);
    pps->pic_order_present_flag = read_flag(b);
    pps->num_slice_groups_minus1 = read_ue(b);

    // Loops below read every coded entry, so that the fields after them
    // stay in place, and keep the ones that fit. Once the data has run out
    // the rest would read as zeros, so they are filled in without reading.
    if (pps->num_slice_groups_minus1 > 0) {
        const int64_t groups_minus1 = pps->num_slice_groups_minus1;
        pps->slice_group_map_type = read_ue(b);
        if (pps->slice_group_map_type == 0) {
            for (int64_t i = 0; i <= groups_minus1; i++) {
                if (bs_eof(b)) {
                    for (; i <= groups_minus1 && i < H264_MAX_SLICE_GROUPS; i++)
                        pps->run_length_minus1[i] = 0;
                    break;
                }
                int v = read_ue(b);
                if (i < H264_MAX_SLICE_GROUPS) pps->run_length_minus1[i] = v;
            }
        } else if (pps->slice_group_map_type == 2) {
            for (int64_t i = 0; i < groups_minus1; i++) {
                if (bs_eof(b)) {
                    for (; i < groups_minus1 && i < H264_MAX_SLICE_GROUPS; i++)
                        pps->top_left[i] = pps->bottom_right[i] = 0;
                    break;
                }
                int tl = read_ue(b);
                int br = read_ue(b);
                if (i < H264_MAX_SLICE_GROUPS) {
                    pps->top_left[i] = tl;
                    pps->bottom_right[i] = br;
                }
            }
        } else if (pps->slice_group_map_type >= 3 && pps->slice_group_map_type <= 5) {
            pps->slice_group_change_direction_flag = read_flag(b);
            pps->slice_group_change_rate_minus1 = read_ue(b);
        } else if (pps->slice_group_map_type == 6) {
            pps->pic_size_in_map_units_minus1 = read_ue(b);
            const int64_t units_minus1 = pps->pic_size_in_map_units_minus1;
            const int bits = slice_group_id_bits(pps);
            for (int64_t i = 0; i <= units_minus1; i++) {
                if (bs_eof(b)) {
                    for (; i <= units_minus1 && i < H264_MAX_SLICE_GROUP_IDS; i++)
                        pps->slice_group_id[i] = 0;
                    break;
                }
                int v = read_u(b, bits);
                if (i < H264_MAX_SLICE_GROUP_IDS) pps->slice_group_id[i] = v;
            }
        }
    }

    pps->num_ref_idx_l0_active_minus1 = read_ue(b);
    pps->num_ref_idx_l1_active_minus1 = read_ue(b);
    pps->weighted_pred_flag = read_flag(b);
    pps->weighted_bipred_idc = read_u(b, 2);
    pps->pic_init_qp_minus26 = bs_read_se(b);
    pps->pic_init_qs_minus26 = bs_read_se(b);
    pps->chroma_qp_index_offset = bs_read_se(b);
    pps->deblocking_filter_control_present_flag = read_flag(b);
    pps->constrained_intra_pred_flag = read_flag(b);
    pps->redundant_pic_cnt_present_flag = read_flag(b);

    if (more_rbsp_data(h, b)) {
        pps->transform_8x8_mode_flag = read_flag(b);
        pps->pic_scaling_matrix_present_flag = read_flag(b);
        if (pps->pic_scaling_matrix_present_flag) {
            const int lists = 6 + 2 * pps->transform_8x8_mode_flag;
            for (int i = 0; i < lists; i++) {
                pps->pic_scaling_list_present_flag[i] = read_flag(b);
                if (!pps->pic_scaling_list_present_flag[i]) continue;
                if (i < 6)
                    read_scaling_list(b, pps->ScalingList4x4[i], 16);
                else
                    read_scaling_list(b, pps->ScalingList8x8[i - 6], 64);
            }
        }
        pps->second_chroma_qp_index_offset = bs_read_se(b);
    }
    read_rbsp_trailing_bits(h, b);
}

void read_slice_header(h264_stream_t *h, bs_t *b) {
    slice_header_t *sh = h->slice_header;
    const sps_t *sps = h->sps;
    const pps_t *pps = h->pps;

    sh->first_mb_in_slice = read_ue(b);
    sh->slice_type = read_ue(b);
    sh->pic_parameter_set_id = read_ue(b);
    sh->frame_num = read_u(b, frame_num_bits(sps));

    const int cls = slice_class(sh->slice_type);
    const bool is_p = cls == SH_SLICE_TYPE_P, is_b = cls == SH_SLICE_TYPE_B;
    const bool is_i = cls == SH_SLICE_TYPE_I, is_sp = cls == SH_SLICE_TYPE_SP;
    const bool is_si = cls == SH_SLICE_TYPE_SI;

    if (!sps->frame_mbs_only_flag) {
        sh->field_pic_flag = read_flag(b);
        if (sh->field_pic_flag) sh->bottom_field_flag = read_flag(b);
    }
    if (h->nal->nal_unit_type == NAL_UNIT_TYPE_CODED_SLICE_IDR) sh->idr_pic_id = read_ue(b);
    if (sps->pic_order_cnt_type == 0) {
        sh->pic_order_cnt_lsb = read_u(b, pic_order_cnt_lsb_bits(sps));
        if (pps->pic_order_present_flag && !sh->field_pic_flag)
            sh->delta_pic_order_cnt_bottom = bs_read_se(b);
    }
    if (sps->pic_order_cnt_type == 1 && !sps->delta_pic_order_always_zero_flag) {
        sh->delta_pic_order_cnt[0] = bs_read_se(b);
        if (pps->pic_order_present_flag && !sh->field_pic_flag) sh->delta_pic_order_cnt[1] = bs_read_se(b);
    }
    if (pps->redundant_pic_cnt_present_flag) sh->redundant_pic_cnt = read_ue(b);
    if (is_b) sh->direct_spatial_mv_pred_flag = read_flag(b);
    if (is_p || is_sp || is_b) {
        sh->num_ref_idx_active_override_flag = read_flag(b);
        if (sh->num_ref_idx_active_override_flag) {
            sh->num_ref_idx_l0_active_minus1 = read_ue(b);
            if (is_b) sh->num_ref_idx_l1_active_minus1 = read_ue(b);
        }
    }
    read_ref_pic_list_reordering(h, b);
    if ((pps->weighted_pred_flag && (is_p || is_sp)) || (pps->weighted_bipred_idc == 1 && is_b))
        read_pred_weight_table(h, b);
    if (h->nal->nal_ref_idc != 0) read_dec_ref_pic_marking(h, b);
    if (pps->entropy_coding_mode_flag && !is_i && !is_si) sh->cabac_init_idc = read_ue(b);
    sh->slice_qp_delta = bs_read_se(b);
    if (is_sp || is_si) {
        if (is_sp) sh->sp_for_switch_flag = read_flag(b);
        sh->slice_qs_delta = bs_read_se(b);
    }
    if (pps->deblocking_filter_control_present_flag) {
        sh->disable_deblocking_filter_idc = read_ue(b);
        if (sh->disable_deblocking_filter_idc != 1) {
            sh->slice_alpha_c0_offset_div2 = bs_read_se(b);
            sh->slice_beta_offset_div2 = bs_read_se(b);
        }
    }
    if (pps->num_slice_groups_minus1 > 0 && pps->slice_group_map_type >= 3 && pps->slice_group_map_type <= 5)
        sh->slice_group_change_cycle = read_u(b, slice_group_change_cycle_bits(sps, pps));
}

void read_ref_pic_list_reordering(h264_stream_t *h, bs_t *b) {
    slice_header_t *sh = h->slice_header;
    const int cls = slice_class(sh->slice_type);

    // One list's commands; the loop ends at its terminator or at the end of
    // the data.
    auto read_commands = [&]() {
        do {
            sh->rplr.reordering_of_pic_nums_idc = read_ue(b);
            const int idc = sh->rplr.reordering_of_pic_nums_idc;
            if (idc == 0 || idc == 1)
                sh->rplr.abs_diff_pic_num_minus1 = read_ue(b);
            else if (idc == 2)
                sh->rplr.long_term_pic_num = read_ue(b);
        } while (sh->rplr.reordering_of_pic_nums_idc != 3 && !bs_eof(b));
    };

    if (cls != SH_SLICE_TYPE_I && cls != SH_SLICE_TYPE_SI) {
        sh->rplr.ref_pic_list_reordering_flag_l0 = read_flag(b);
        if (sh->rplr.ref_pic_list_reordering_flag_l0) read_commands();
    }
    if (cls == SH_SLICE_TYPE_B) {
        sh->rplr.ref_pic_list_reordering_flag_l1 = read_flag(b);
        if (sh->rplr.ref_pic_list_reordering_flag_l1) read_commands();
    }
}

void read_pred_weight_table(h264_stream_t *h, bs_t *b) {
    slice_header_t *sh = h->slice_header;
    const bool chroma = h->sps->chroma_format_idc != 0;
    auto &pwt = sh->pwt;

    pwt.luma_log2_weight_denom = read_ue(b);
    if (chroma) pwt.chroma_log2_weight_denom = read_ue(b);

    // One list. Entries past the arrays are read and dropped; once the data
    // has run out every remaining flag would read as 0.
    auto read_list = [&](int64_t count_minus1, int &luma_flag, int *luma_weight, int *luma_offset,
                         int &chroma_flag, int(*chroma_weight)[2], int(*chroma_offset)[2]) {
        for (int64_t i = 0; i <= count_minus1; i++) {
            if (bs_eof(b)) {
                luma_flag = 0;
                if (chroma) chroma_flag = 0;
                break;
            }
            const bool keep = i < H264_MAX_REF_IDX;
            luma_flag = read_flag(b);
            if (luma_flag) {
                int w = bs_read_se(b);
                int o = bs_read_se(b);
                if (keep) {
                    luma_weight[i] = w;
                    luma_offset[i] = o;
                }
            }
            if (chroma) {
                chroma_flag = read_flag(b);
                if (chroma_flag) {
                    for (int j = 0; j < 2; j++) {
                        int w = bs_read_se(b);
                        int o = bs_read_se(b);
                        if (keep) {
                            chroma_weight[i][j] = w;
                            chroma_offset[i][j] = o;
                        }
                    }
                }
            }
        }
    };

    read_list(h->pps->num_ref_idx_l0_active_minus1, pwt.luma_weight_l0_flag, pwt.luma_weight_l0,
              pwt.luma_offset_l0, pwt.chroma_weight_l0_flag, pwt.chroma_weight_l0, pwt.chroma_offset_l0);
    if (slice_class(sh->slice_type) == SH_SLICE_TYPE_B)
        read_list(h->pps->num_ref_idx_l1_active_minus1, pwt.luma_weight_l1_flag, pwt.luma_weight_l1,
                  pwt.luma_offset_l1, pwt.chroma_weight_l1_flag, pwt.chroma_weight_l1, pwt.chroma_offset_l1);
}

void read_dec_ref_pic_marking(h264_stream_t *h, bs_t *b) {
    auto &drpm = h->slice_header->drpm;
    if (h->nal->nal_unit_type == NAL_UNIT_TYPE_CODED_SLICE_IDR) {
        drpm.no_output_of_prior_pics_flag = read_flag(b);
        drpm.long_term_reference_flag = read_flag(b);
        return;
    }
    drpm.adaptive_ref_pic_marking_mode_flag = read_flag(b);
    if (!drpm.adaptive_ref_pic_marking_mode_flag) return;
    do {
        drpm.memory_management_control_operation = read_ue(b);
        const int op = drpm.memory_management_control_operation;
        if (op == 1 || op == 3) drpm.difference_of_pic_nums_minus1 = read_ue(b);
        if (op == 2) drpm.long_term_pic_num = read_ue(b);
        if (op == 3 || op == 6) drpm.long_term_frame_idx = read_ue(b);
        if (op == 4) drpm.max_long_term_frame_idx_plus1 = read_ue(b);
    } while (drpm.memory_management_control_operation != 0 && !bs_eof(b));
}

void read_sei_rbsp(h264_stream_t *h, bs_t *b) {
    for (int i = 0; i < h->num_seis; i++)
        sei_free(h->seis[i]);
    h->num_seis = 0;
    h->sei = nullptr;

    // The stop bit does not move while the messages are read; finding it
    // once keeps a unit of many tiny messages linear.
    const int64_t stop = last_one_bit(b);
    do {
        if (!append_sei(h)) break;
        read_sei_message(h, b);
    } while (b->p < b->end && bit_pos(b) < stop);
    read_rbsp_trailing_bits(h, b);
}

int _read_ff_coded_number(bs_t *b) {
    // 64 bits: a long run of 0xFF bytes overflows 32.
    int64_t n = 0;
    for (;;) {
        uint32_t byte = bs_read_u8(b);
        n += byte;
        if (byte != 0xFF) break;
    }
    return clamp_to_int(n);
}

void read_sei_message(h264_stream_t *h, bs_t *b) {
    sei_t *s = h->sei;
    int payloadType = _read_ff_coded_number(b);
    int payloadSize = _read_ff_coded_number(b);
    if (s) {
        s->payloadType = payloadType;
        s->payloadSize = payloadSize;
    }
    read_sei_payload(h, b, payloadType, payloadSize);
}

void read_sei_payload(h264_stream_t *h, bs_t *b, int /*payloadType*/, int payloadSize) {
    // A size that claims more bytes than the unit has is cut to what is
    // there, so the block never has to be bigger than the data.
    int64_t n = payloadSize < 0 ? 0 : payloadSize;
    const int64_t left = bits_remaining(b) / 8;
    if (n > left) n = left;
    sei_t *s = h->sei;
    if (!s) {
        for (int64_t i = 0; i < n; i++)
            bs_read_u8(b);
        return;
    }
    std::free(s->payload);
    s->payload = nullptr;
    s->payloadSize = 0;
    if (n == 0) return;
    s->payload = static_cast<uint8_t *>(std::malloc(size_t(n)));
    if (!s->payload) {
        for (int64_t i = 0; i < n; i++)
            bs_read_u8(b);
        return;
    }
    s->payloadSize = static_cast<int>(n);
    for (int64_t i = 0; i < n; i++)
        s->payload[i] = static_cast<uint8_t>(bs_read_u8(b));
}

void read_access_unit_delimiter_rbsp(h264_stream_t *h, bs_t *b) {
    h->aud->primary_pic_type = read_u(b, 3);
    read_rbsp_trailing_bits(h, b);
}

void read_slice_layer_rbsp(h264_stream_t *h, bs_t *b) {
    read_slice_header(h, b);
}

void read_end_of_seq_rbsp(h264_stream_t * /*h*/, bs_t * /*b*/) {}

void read_end_of_stream_rbsp(h264_stream_t * /*h*/, bs_t * /*b*/) {}

void read_filler_data_rbsp(h264_stream_t *h, bs_t *b) {
    read_rbsp_trailing_bits(h, b);
}

void read_rbsp_slice_trailing_bits(h264_stream_t *h, bs_t *b) {
    read_rbsp_trailing_bits(h, b);
    if (h->pps->entropy_coding_mode_flag) {
        while (more_rbsp_trailing_data(h, b))
            bs_read_f(b, 16); // cabac_zero_word
    }
}
