// Small computations that the readers and writers must agree on bit for bit.
#pragma once

#include <cstdint>

#include "streaminfo/h264_stream.h"

namespace h264bits_detail {

// A field width computed from stored values, limited to 0..32 bits.
inline int clamp_width(int64_t w) {
    return w < 0 ? 0 : (w > 32 ? 32 : static_cast<int>(w));
}

// Ceil(Log2(x)) for x >= 1; 0 for x <= 1.
inline int ceil_log2(uint64_t x) {
    int n = 0;
    while (n < 64 && (uint64_t(1) << n) < x)
        n++;
    return n;
}

inline int frame_num_bits(const sps_t *sps) {
    return clamp_width(int64_t(sps->log2_max_frame_num_minus4) + 4);
}

inline int pic_order_cnt_lsb_bits(const sps_t *sps) {
    return clamp_width(int64_t(sps->log2_max_pic_order_cnt_lsb_minus4) + 4);
}

// Width of one slice_group_id entry: Ceil(Log2(num_slice_groups_minus1 + 1)).
inline int slice_group_id_bits(const pps_t *pps) {
    if (pps->num_slice_groups_minus1 <= 0) return 0;
    return clamp_width(ceil_log2(uint64_t(pps->num_slice_groups_minus1) + 1));
}

// Width of slice_group_change_cycle:
// Ceil(Log2(PicSizeInMapUnits / SliceGroupChangeRate + 1)), the division
// exact. Sizes or rates that are not positive give 0 bits.
inline int slice_group_change_cycle_bits(const sps_t *sps, const pps_t *pps) {
    int64_t pic_size =
        (int64_t(sps->pic_width_in_mbs_minus1) + 1) * (int64_t(sps->pic_height_in_map_units_minus1) + 1);
    int64_t rate = int64_t(pps->slice_group_change_rate_minus1) + 1;
    if (pic_size <= 0 || rate <= 0) return 0;
    // With an exact quotient q, Ceil(Log2(q + 1)) equals Ceil(Log2(ceil(q) + 1)).
    uint64_t q = uint64_t((pic_size + rate - 1) / rate);
    return clamp_width(ceil_log2(q + 1));
}

inline int slice_class(int slice_type) {
    return slice_type > 4 ? slice_type - 5 : slice_type;
}

} // namespace h264bits_detail
