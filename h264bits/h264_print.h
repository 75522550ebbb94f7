// Text dumps of the H.264 records on standard output, for diagnostics: every
// scalar field by its syntax element name, whatever the presence flags say.
// Arrays (scaling lists, reference offsets, slice group maps, HRD entries,
// weights) are not printed.
#pragma once

#include <cstdint>

#include "streaminfo/bs.h"
#include "streaminfo/h264_stream.h"

// The NAL header, then the record that a unit of its type fills.
void debug_nal(h264_stream_t *h, nal_t *nal);
void debug_sps(sps_t *sps);
void debug_pps(pps_t *pps);
void debug_slice_header(slice_header_t *sh);
void debug_aud(aud_t *aud);
void debug_seis(sei_t **seis, int num_seis);
// Hex dump, sixteen bytes a line.
void debug_bytes(const uint8_t *buf, int len);
// The bits the reader has consumed so far.
void debug_bs(bs_t *b);
