// AVC recording files: the main header, the frame records, the recorder's
// in-band prefix at the start of a video payload, and the small tests that
// classify a payload (key frame, index entry type, audio properties).
//
// Every record is decoded field by field from little-endian bytes; nothing is
// read by overlaying a struct on file data. All readers take their bytes from a
// BUFFER_FILE at its current position and advance it.
#pragma once

#include <cstdint>

#include "platform/buffer_file.h"
#include "recorderfile/recorder_time.h"

// Main header, fixed part: the first 80 bytes of the file.
struct HEADER_MAIN {
    uint16_t wField0;       // 0, not interpreted
    uint16_t wField2;       // 2, not interpreted
    uint8_t byField4[4];    // 4, not interpreted
    _SYSTEMTIME stTime8;    // 8, not interpreted
    _SYSTEMTIME stTime24;   // 24, not interpreted
    uint32_t dwField40;     // 40, not interpreted
    uint32_t dwField44;     // 44, not interpreted
    uint32_t dwTotalFrames; // 48: number of frame records (frame numbers 1..total)
    uint32_t dwField52;     // 52, not interpreted
    uint16_t wField56;      // 56, not interpreted
    uint8_t byVersion;      // 58: 9 selects the long in-band video prefix
    uint8_t byField59;      // 59, not interpreted
    char szField60[16];     // 60, not interpreted
    uint32_t dwFlags;       // 76: which optional fields follow
};

constexpr unsigned long AVC_MAIN_HEADER_FIXED_SIZE = 80;

// Main-header flags: which optional fields follow the fixed part.
enum : uint32_t {
    AVC_MAIN_FLAG_BIT0 = 0x1,          // no field; kept as a byte
    AVC_MAIN_FLAG_QWORD = 0x2,         // u64, not interpreted
    AVC_MAIN_FLAG_VIDEO_MASK = 0x4,    // u32 video channel mask
    AVC_MAIN_FLAG_TITLE = 0x8,         // u16 length + text
    AVC_MAIN_FLAG_DWORD10 = 0x10,      // u32, not interpreted
    AVC_MAIN_FLAG_AUDIO_MASK8 = 0x20,  // u8 audio channel mask
    AVC_MAIN_FLAG_AUDIO_MASK32 = 0x40, // u32 audio channel mask (wins over 0x20)
    AVC_MAIN_FLAG_WORD80 = 0x80,       // u16, not interpreted
};

// The main header with its optional part.
struct HEADER_MAIN_EX {
    HEADER_MAIN main;
    uint8_t byFlag1;             // main flags & 1
    uint64_t qwField2;           // 0x2; 4294967295 when absent
    uint32_t dwVideoChannelMask; // 0x4: bit n = channel n+1
    uint16_t wTitleLength;       // 0x8: bytes of title text
    // 0x8: the title text, wTitleLength bytes followed by one NUL (so it can be
    // searched as a C string). Allocated by parse_main_header even when the
    // length is 0; owned by the record's owner, freed by release_main_header().
    char *pTitle;
    uint32_t dwField10;          // 0x10
    uint32_t dwAudioChannelMask; // 0x20 byte or 0x40 word: bit n = audio channel n+1
    uint16_t wField80;           // 0x80
    uint16_t wTrailing;          // always present
};

// Frame-header flags: which fields follow the flags word.
enum : uint32_t {
    AVC_FRAME_FLAG_NUMBER = 0x1,
    AVC_FRAME_FLAG_LENGTH = 0x2,
    AVC_FRAME_FLAG_WIDTH = 0x4,
    AVC_FRAME_FLAG_HEIGHT = 0x8,
    AVC_FRAME_FLAG_TIMESTAMP = 0x10,
    AVC_FRAME_FLAG_CHANNEL = 0x20,
    AVC_FRAME_FLAG_BYTE40 = 0x40,
    AVC_FRAME_FLAG_STREAM_TYPE = 0x80,
    AVC_FRAME_FLAG_FRAME_TIME = 0x100,
    AVC_FRAME_FLAG_INT_PAIR = 0x200,
    AVC_FRAME_FLAG_BYTE400 = 0x400,
    AVC_FRAME_FLAG_BYTE800 = 0x800,
    AVC_FRAME_FLAG_PICTURE_STRUCT = 0x1000,
    AVC_FRAME_FLAG_DISPLAY_TIME = 0x2000,
    AVC_FRAME_FLAG_BLOCK40 = 0x4000,
    AVC_FRAME_FLAG_BYTES16 = 0x8000,
    AVC_FRAME_FLAG_DWORD10000 = 0x10000,
    AVC_FRAME_FLAG_MARKER = 0x20000000,
    AVC_FRAME_FLAG_WORD40000000 = 0x40000000,
    AVC_FRAME_FLAG_WORD80000000 = 0x80000000,
};

constexpr uint16_t AVC_FRAME_MARKER = 0x5641; // bytes 'A' 'V'

// The 40-byte block of frame flag 0x4000; not interpreted.
struct FRAME_BLOCK40 {
    uint8_t by0, by1, by2, by3;
    uint8_t bytes[16];
    uint32_t dwValue;
    _SYSTEMTIME stTime;
};

// One frame record's header. Zeroed before each read.
struct HEADER_FRAME {
    uint32_t dwFrameNo;        // 0x1: 1-based
    uint32_t dwLength;         // 0x2: payload bytes
    uint32_t dwTimeStamp;      // 0x10: milliseconds, the pacing clock
    uint32_t dwField10000;     // 0x10000
    uint16_t wWidth;           // 0x4: 0 = not given
    uint16_t wHeight;          // 0x8: 0 = not given
    uint16_t wMarker;          // 0x20000000
    uint16_t wField40000000;   // 0x40000000
    uint16_t wField80000000;   // 0x80000000
    uint16_t wUnused;          // never filled
    uint8_t byField8000[16];   // 0x8000
    uint8_t byChannel;         // 0x20: 1-based (0 is taken as 1 by the engine)
    uint8_t byField40;         // 0x40
    uint8_t byStreamType;      // 0x80: AVC_STREAM_*
    uint8_t byField400;        // 0x400
    uint8_t byField800;        // 0x800
    uint8_t byFirstField;      // from the 0x1000 picture-structure byte
    uint8_t byFieldCoded;      // 1 = the picture is coded as two fields
    uint8_t byIsKeyFrame;      // set by the parser from check_i_frame, not read
    _SYSTEMTIME stFrameTime;   // 0x100
    _SYSTEMTIME stDisplayTime; // 0x2000, or a copy of the frame time
    int32_t iField200[2];      // 0x200
    FRAME_BLOCK40 block4000;   // 0x4000, zero when absent
};

// The main header and the header of the frame last read.
struct HEADER_AVC {
    HEADER_MAIN_EX mainHeader;
    HEADER_FRAME frameHeader;
};

// Stream types (the frame header's stream-type byte).
enum : uint8_t {
    AVC_STREAM_MPEG4 = 1,
    AVC_STREAM_MJPEG = 2,
    AVC_STREAM_UNDECODED = 3,
    AVC_STREAM_MPEG4_B = 4,
    AVC_STREAM_MJPEG_B = 5,
    AVC_STREAM_ULAW = 6,
    AVC_STREAM_PCM8 = 7,
    AVC_STREAM_H264 = 8,
    AVC_STREAM_G723 = 9,
    AVC_STREAM_PCM16 = 10,
    AVC_STREAM_PCM16_2 = 11,
};

// Index entry types (check_mapping_table_type). 0 and 0x1001 are key entries.
enum : uint32_t {
    AVC_ENTRY_OTHER = 0,
    AVC_ENTRY_VIDEO_KEY = 0x1001,
    AVC_ENTRY_VIDEO = 0x1002,
    AVC_ENTRY_UNDECODED = 0x8000,
    AVC_ENTRY_ULAW = 0x8001,
    AVC_ENTRY_PCM8 = 0x8002,
    AVC_ENTRY_G723 = 0x8004,
    AVC_ENTRY_PCM16 = 0x8008,
    AVC_ENTRY_PCM16_2 = 0x8010,
};

// The recorder's own header at the start of some video payloads. Starts
// 00 00 00 01 1F 0F or 00 00 00 01 1E 0F; byte 22 bit 0x20 = extend info
// follows, its length the u32 at bytes 44-47. Only those bytes are interpreted.
struct bk_video_frame_header {
    unsigned char bytes[48];
};

// Results of parse_frame_header and get_avc_frame.
enum {
    AVC_READ_SHORT = 0, // a read came up short: the end of the usable file
    AVC_READ_OK = 1,
    AVC_READ_MARKER = 2, // as OK; the marker field held 0x5641
    // get_avc_frame only: the record was read past, but its payload was larger
    // than the frame buffer and was skipped, not copied. dwLength is set to 0.
    // The file position stays in step; the caller drops the frame.
    AVC_READ_DROPPED = 3,
};

// Reads the main header. *consumed = bytes read. 1, or 0 on a short read (what
// was read stays in the record) or when the title buffer cannot be allocated.
// A title buffer already in the record is freed first.
int parse_main_header(BUFFER_FILE *reader, HEADER_MAIN_EX *header, unsigned long *consumed);

// Frees the title text and clears the pointer. Safe on a record without one.
void release_main_header(HEADER_MAIN_EX *header);

// Zeroes the record and reads one frame header; adds the bytes read to consumed.
// AVC_READ_SHORT, AVC_READ_OK or AVC_READ_MARKER.
int parse_frame_header(BUFFER_FILE *reader, HEADER_FRAME *header, unsigned long &consumed);

// Reads a frame header and its payload into buf (capacity bytes). Adds the
// header's and the payload's bytes to *pos (skipped payloads included).
// Returns the header's result; AVC_READ_SHORT when the payload comes up short;
// AVC_READ_DROPPED when the payload did not fit into buf (logged, skipped).
int get_avc_frame(BUFFER_FILE *reader, HEADER_FRAME *header, char *buf, unsigned long capacity,
                  unsigned long *pos);

// What the index needs of the next record: its entry type and payload length, read as
// get_avc_frame reads the record (same results, same position afterwards) but looked at in the
// reader's buffer where it lies there; buf (capacity bytes) takes only a payload that spans a
// refill. AVC_READ_OK (marker or not), AVC_READ_SHORT, or AVC_READ_DROPPED with *length 0 and
// the type of an empty payload when the payload exceeds capacity.
int index_avc_frame(BUFFER_FILE *reader, unsigned char version, char *buf, unsigned long capacity,
                    uint32_t *type, uint32_t *length, unsigned long *pos);

// Strips the recorder's in-band prefix without copying: *out points into data.
// Returns 1; 0 when the prefix claims more bytes than the payload holds, in
// which case *out = data and *outLen = 0 and the caller drops the frame.
int fix_avc_frame(char *data, unsigned long len, char **out, unsigned long *outLen, unsigned char version);

// Bit 0x20 of byte 22 of the prefix, as 0 or 1.
int check_read_extend_info(const bk_video_frame_header *prefix);

// Fills a missing picture size (width or height 0) from the stream itself, for
// MPEG-4 (type 1) and H.264 (type 8) data; anything else is left alone.
void fix_width_hight(char *data, unsigned long len, unsigned char streamType, unsigned short *width,
                     unsigned short *height);

// Key-frame tests on stripped data: 1 for a key frame, else 0.
int check_i_frame(char *data, unsigned long len, unsigned char streamType);
int check_h264_i_frame(char *data, unsigned long len);
int check_mpeg4_i_frame(char *data, unsigned long len);

// Index entry type of a frame (AVC_ENTRY_*).
uint32_t check_mapping_table_type(char *data, unsigned long len, unsigned char streamType);

// Audio properties by stream type.
int get_audio_samples(unsigned char streamType);
int get_audio_bits(unsigned char streamType);
int get_audio_channels(unsigned char streamType);

constexpr int AVC_TITLE_ROWS = 16;
constexpr int AVC_TITLE_ROW_SIZE = 256;

// Parses title text ("...H<n>.Title=<name>\n" lines, n = 1..16) into out, a
// table of 16 rows of 256 bytes: row n-1 gets the name, NUL-terminated and cut
// to 255 bytes. Rows without a line are left as they were; lines for other
// channel numbers are ignored. Reads at most len bytes of text. Returns the
// number of rows written.
int get_channel_title(char *out, const char *text, unsigned long len);
