// Probes over an MPEG-4 Part 2 elementary stream held in memory.
#pragma once

// Width and height of the first rectangular video object layer header.
// Returns 1 after storing both (width first); 0 when no rectangular layer
// header lies wholly inside the buffer, with nothing stored.
int getMpeg4Dimensions(const char *buffer, int length, int *width, int *height);

// vop_coding_type of the first video object plane (the byte after
// 00 00 01 B6, shifted right by 6): 0 I, 1 P, 2 B, 3 S; -1 when there is none
// or length is below 1.
int getMpeg4FrameType(const unsigned char *buffer, int length);
