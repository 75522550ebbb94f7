// The writing half of the H.264 bitstream library: a bit writer over bs_t
// and one RBSP writer per reader, mirroring the reader field for field, and
// write_nal_unit, which turns the records of an h264_stream_t back into one
// NAL unit (header byte, RBSP, emulation prevention).
//
// What a record read and then written gives back, where it is not the
// original byte for byte:
//  - no stop bit when the RBSP already ends on a byte boundary;
//  - the PPS extension (transform_8x8_mode_flag, scaling lists,
//    second_chroma_qp_index_offset) is always written, with the record's
//    values;
//  - scaling lists as plain deltas, one per entry, not folded into -128..127;
//  - reordering and marking loops: the stored (last) command, so a record
//    read from a stream writes just the terminator;
//  - prediction weights: the stored (last) flag for every reference index.
//
// A buffer that is too small never gets written past its end: the bits that
// do not fit are dropped and bs_t::overflow is set, and write_nal_unit can
// report the same through its optional flag.
#pragma once

#include <cstdint>

#include "streaminfo/bs.h"
#include "streaminfo/h264_stream.h"

// The low n bits of value, most significant first; n < 1 writes nothing and
// n above 32 is taken as 32.
void bs_write_f(bs_t *b, int n, uint32_t value);
void bs_write_u8(bs_t *b, uint32_t value);
// Exp-Golomb codes. 2^32 - 1 has no 32-bit code; it is written as 32 zeros,
// a 1 and 32 ones, which the reader gives back as 2^32 - 1.
void bs_write_ue(bs_t *b, uint32_t value);
void bs_write_se(bs_t *b, int32_t value);

// Writes one NAL unit of the type in h->nal into buf and returns the bytes
// written, header byte included. When overflow is given it is set to 1 if
// the unit did not fit (the result then counts what was written), else 0.
int write_nal_unit(h264_stream_t *h, uint8_t *buf, int size, int *overflow = nullptr);

// Emulation prevention from rbsp_buf into nal_buf, starting at index 1 (the
// header byte's place). *rbsp_size: in, RBSP bytes; out, RBSP bytes copied.
// *nal_size: in, capacity of nal_buf; out, bytes in nal_buf counting the
// header byte. Returns 1 when everything fitted, 0 when the capacity cut the
// unit short.
int rbsp_to_nal(const uint8_t *rbsp_buf, int *rbsp_size, uint8_t *nal_buf, int *nal_size);

// A 1 bit and zero bits up to the byte boundary; nothing on a boundary.
void write_rbsp_trailing_bits(h264_stream_t *h, bs_t *b);

void write_seq_parameter_set_rbsp(h264_stream_t *h, bs_t *b);
void write_scaling_list(bs_t *b, int *scalingList, int sizeOfScalingList, int useDefaultScalingMatrixFlag);
void write_vui_parameters(h264_stream_t *h, bs_t *b);
void write_hrd_parameters(h264_stream_t *h, bs_t *b);
void write_pic_parameter_set_rbsp(h264_stream_t *h, bs_t *b);

// The slice header and its parts, without trailing bits.
void write_slice_header(h264_stream_t *h, bs_t *b);
void write_ref_pic_list_reordering(h264_stream_t *h, bs_t *b);
void write_pred_weight_table(h264_stream_t *h, bs_t *b);
void write_dec_ref_pic_marking(h264_stream_t *h, bs_t *b);

void write_sei_rbsp(h264_stream_t *h, bs_t *b);
void write_sei_message(h264_stream_t *h, bs_t *b);
// payloadSize bytes of the current message; bytes beyond its own payload
// block are written as zeros.
void write_sei_payload(h264_stream_t *h, bs_t *b, int payloadType, int payloadSize);
// 0xFF bytes while n >= 255, then the rest as one byte; n < 0 counts as 0.
void _write_ff_coded_number(bs_t *b, int n);

void write_access_unit_delimiter_rbsp(h264_stream_t *h, bs_t *b);
void write_end_of_seq_rbsp(h264_stream_t *h, bs_t *b);
void write_end_of_stream_rbsp(h264_stream_t *h, bs_t *b);
// Trailing bits only: no filler bytes, no cabac_zero_word.
void write_filler_data_rbsp(h264_stream_t *h, bs_t *b);
void write_rbsp_slice_trailing_bits(h264_stream_t *h, bs_t *b);
void write_slice_layer_rbsp(h264_stream_t *h, bs_t *b);
