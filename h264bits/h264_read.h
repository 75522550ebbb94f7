// Readers for the H.264 NAL units that the stream inspection code does not
// need: picture parameter sets, slice headers (with reference list
// reordering, prediction weights and reference marking), SEI messages,
// access unit delimiters and the payload-less units. They fill the records of
// one h264_stream_t, which the writers can write back and the printers print.
//
// As with the SPS reader, malformed data never fails: missing bits read as
// zeros, every loop ends at the end of the data, counts are stored as read
// and only the entries that fit the fixed arrays are kept.
//
// Deliberate simplifications callers must know about:
//  - one SPS and one PPS: slice headers are read against the last ones read,
//    whatever ids they name;
//  - the prediction weight table is counted from the PPS's reference counts,
//    not from the slice's override;
//  - loop fields (weight flags, reordering commands, marking operations) keep
//    only the values of the last pass.
#pragma once

#include <cstdint>

#include "streaminfo/bs.h"
#include "streaminfo/h264_stream.h"

// NAL unit types.
enum {
    NAL_UNIT_TYPE_UNSPECIFIED = 0,
    NAL_UNIT_TYPE_CODED_SLICE_NON_IDR = 1,
    NAL_UNIT_TYPE_CODED_SLICE_DATA_PARTITION_A = 2,
    NAL_UNIT_TYPE_CODED_SLICE_DATA_PARTITION_B = 3,
    NAL_UNIT_TYPE_CODED_SLICE_DATA_PARTITION_C = 4,
    NAL_UNIT_TYPE_CODED_SLICE_IDR = 5,
    NAL_UNIT_TYPE_SEI = 6,
    NAL_UNIT_TYPE_SPS = 7,
    NAL_UNIT_TYPE_PPS = 8,
    NAL_UNIT_TYPE_AUD = 9,
    NAL_UNIT_TYPE_END_OF_SEQUENCE = 10,
    NAL_UNIT_TYPE_END_OF_STREAM = 11,
    NAL_UNIT_TYPE_FILLER = 12,
    NAL_UNIT_TYPE_SPS_EXT = 13,
    NAL_UNIT_TYPE_CODED_SLICE_AUX = 19,
};

// Slice classes (slice_type values 5 to 9 mean the same classes).
enum {
    SH_SLICE_TYPE_P = 0,
    SH_SLICE_TYPE_B = 1,
    SH_SLICE_TYPE_I = 2,
    SH_SLICE_TYPE_SP = 3,
    SH_SLICE_TYPE_SI = 4,
};

// Reads one NAL unit, header byte first, into the stream's records and
// returns the bytes consumed: size, or the offset of an embedded 00 00 01.
// A NAL unit of a type without a reader changes only h->nal. size < 1 (or a
// null buffer) reads nothing and returns 0.
int read_nal_unit(h264_stream_t *h, const uint8_t *buf, int size);

void read_pic_parameter_set_rbsp(h264_stream_t *h, bs_t *b);
void read_slice_header(h264_stream_t *h, bs_t *b);
void read_ref_pic_list_reordering(h264_stream_t *h, bs_t *b);
void read_pred_weight_table(h264_stream_t *h, bs_t *b);
void read_dec_ref_pic_marking(h264_stream_t *h, bs_t *b);

// Replaces the stream's SEI list with the messages of this NAL unit (at
// least one). Sizes are clamped to the bytes that are really there.
void read_sei_rbsp(h264_stream_t *h, bs_t *b);
void read_sei_message(h264_stream_t *h, bs_t *b);
void read_sei_payload(h264_stream_t *h, bs_t *b, int payloadType, int payloadSize);
// A number coded as 0xFF bytes plus a final byte below 0xFF, summed; a sum
// above INT32_MAX gives INT32_MAX.
int _read_ff_coded_number(bs_t *b);

void read_access_unit_delimiter_rbsp(h264_stream_t *h, bs_t *b);
void read_slice_layer_rbsp(h264_stream_t *h, bs_t *b);
void read_end_of_seq_rbsp(h264_stream_t *h, bs_t *b);
void read_end_of_stream_rbsp(h264_stream_t *h, bs_t *b);
// Only the trailing bits: the 0xFF filler bytes are not consumed.
void read_filler_data_rbsp(h264_stream_t *h, bs_t *b);
void read_rbsp_slice_trailing_bits(h264_stream_t *h, bs_t *b);

// 1 when the position is before the last 1 bit of the buffer (the
// rbsp_stop_one_bit), else 0.
int more_rbsp_data(h264_stream_t *h, bs_t *b);
// 1 while the position is before the end of the buffer.
int more_rbsp_trailing_data(h264_stream_t *h, bs_t *b);
// 1 when both slice types name the same class (5 to 9 count as 0 to 4).
int is_slice_type(int slice_type, int cmp_type);
// Always 0 and reads nothing.
int next_bits(bs_t *b, int n);
