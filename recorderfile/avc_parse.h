// The AVC parser: reads an AVC recording on a thread of its own and hands every
// frame to the caller's callback, under play, pause, step, speed and seek
// commands. When no usable ".idx" lies beside the recording, a second thread
// builds the frame index first and reports its progress through the same
// callback.
//
// Handles are registry ids (0 = none), never addresses.
#pragma once

#include <string>

#include "recorderfile/avc_format.h"

extern "C" {

// Called on the parser's threads; the result is ignored.
//   code 0..100   a frame (reader thread): header is the parser's HEADER_AVC
//                 (main header + this frame's header, whose dwLength is the
//                 length of bitstream), bitstream the elementary-stream data;
//                 the code is the progress, 100 x frame / total frames. 100
//                 is also sent, with the current frame again, when fast
//                 forward at 8x or 16x finds no later key entry.
//   code -3       going backwards, the first frame was reached (reader
//                 thread); header and bitstream are those of the frame last
//                 read.
//   code -2       a frame could not be read (end of the data or a short
//                 record); header and bitstream are NULL; the reader has ended.
//   1000..1100    index building (index thread): 1000 + per cent done; NULL,
//                 NULL. 1100 comes once the index is complete and seeks work.
// header and bitstream are valid until the callback returns. The reader does
// not go on until then; controls and seeks may be called from inside.
// The end is always reported with 100: when the record that ends the play is
// not one the status delivers (a step onto a last record that is not a key
// frame), it comes with 100 all the same. A frame whose payload could not be
// used (larger than the frame buffer, or a broken in-band prefix) is not
// delivered, except with such a 100, then with dwLength 0.
typedef int (*AVC_PARSE_CALLBACK)(int code, HEADER_AVC *header, char *bitstream, void *user);

// Opens the recording (read only) and starts the threads. The callback may run
// before this returns. 0 when the file cannot be opened or is not a regular
// file (a FIFO, a device: refused at once, never waited on), its main header is
// short, its total frame count is 0 or more than the file can hold, or the
// threads and their events cannot be made.
int avc_parse_open(const char *path, AVC_PARSE_CALLBACK callback, void *user);

// Ends the threads and frees everything; 0 or an unknown handle does nothing.
// Must not be called from inside the callback (such a call is refused).
void avc_parse_close(int handle);

// Seeks to the last key frame at or before percent (clamped to 0..100) of the
// file's frames. 0; -1 while the index is not complete (or holds no frame) or
// for an unknown handle. Paused, the reader reads one record there and stops
// again; a step, key-frames-only or rewind status gives way to normal reading.
int avc_playback_progress(int handle, int percent);

// The record a seek to percent (clamped to 0..100) goes to: the number (1-based) of the record at
// that share of the file's frames; 0 without a usable index.
unsigned long avc_playback_place(int handle, int percent);

// One video record, as a seek's look at the records around its place sees it.
typedef struct {
    unsigned long number; // 1-based
    int channel;          // 0-based (the header's channel 0 and 1 are both channel 0)
    uint32_t timeMs;      // the record's millisecond time stamp
    int key;              // the index marks it a key frame
    uint64_t offset;      // file offset of the record
} AVC_RECORD_FACTS;
// Nonzero to go on.
typedef int (*AVC_RECORD_VISIT)(const AVC_RECORD_FACTS *facts, void *user);

// Reads the frame headers of the video records from number `from` (1-based) on, forwards
// (`step` 1) or backwards (-1), and hands each to `visit` until it returns 0 or the index ends;
// with `keysOnly`, only the index's key entries are read. Nothing moves: the parser's reader
// stays where it is. 1 when the records ran out going forward (the end of the file), 0
// otherwise; -1 without a usable index or for an unknown handle.
int avc_playback_visit_records(int handle, unsigned long from, int step, int keysOnly, AVC_RECORD_VISIT visit,
                               void *user);

// As avc_playback_progress, but to record `number` (1-based) when it is not 0. The records read
// from the new place on carry `mark` (see avc_playback_record_mark), until another seek or a stop
// moves the reader.
int avc_playback_progress_from(int handle, int percent, unsigned long number, unsigned mark);

// Inside the callback: the mark of the seek from whose place the record handed over was read; 0
// for one read before any marked seek moved the reader, or after a stop moved it away. A playing
// reader may hand over a record or more read before a seek's move after the seek has returned.
unsigned avc_playback_record_mark(int handle);

// One of the actions below; others are ignored. May be called from any thread,
// including from inside the callback.
void avc_playback_status(int handle, int action);

// While paused: the reader reads one more record after the one it is on and then
// stops again, as a step does but at the status it has. Nothing when not paused.
// May be called from any thread, including from inside the callback.
void avc_playback_read_one_more(int handle);

} // extern "C"

// Callback codes besides the progress 0..100.
enum : int {
    AVC_CODE_END_OF_DATA = -2,
    AVC_CODE_FIRST_FRAME = -3,
    AVC_CODE_INDEX_BASE = 1000, // + per cent of the index built
    AVC_CODE_INDEX_DONE = 1100,
};

// Playback status (set by actions 0..9, 13, 14).
enum : int {
    AVC_STATUS_NORMAL = 0,     // every frame
    AVC_STATUS_FORWARD_2X = 1, // every frame (the caller paces faster)
    AVC_STATUS_FORWARD_4X = 2,
    AVC_STATUS_FORWARD_8X = 3, // key frames only; ends after the last key entry
    AVC_STATUS_FORWARD_16X = 4,
    // Reading forward after going backwards (these, or step back) goes on after the newest key
    // frame the way back showed any channel, not from the oldest.
    AVC_STATUS_REWIND_1X = 5, // backwards from key entry to key entry
    AVC_STATUS_REWIND_2X = 6,
    AVC_STATUS_REWIND_4X = 7,
    AVC_STATUS_REWIND_8X = 8,
    AVC_STATUS_REWIND_16X = 9,
    AVC_STATUS_STEP_FORWARD = 13, // one record per step, delivered if a key frame
    AVC_STATUS_STEP_BACK = 14,    // one jump back to the previous key entry per step
};

// Actions for avc_playback_status: 0..9 set that status (and continue when
// stopped), then these.
enum : int {
    AVC_ACTION_PLAY = 10,         // status 0; from the first frame when stopped or ended
    AVC_ACTION_STOP = 11,         // halt and go back to the first frame
    AVC_ACTION_PAUSE = 12,        // toggle; pausing stops after the next delivered frame
    AVC_ACTION_STEP_FORWARD = 13, // while paused: one record forward
    AVC_ACTION_STEP_BACK = 14,    // while paused: one key entry back
};

// The name of the index file of a recording: the path up to the last ".avc" of
// its file name (case-sensitive), then ".idx"; empty when the file name holds
// no ".avc" (the index is then kept in memory only).
std::string avc_index_path(const std::string &recordingPath);

// Diagnostics: how many times the reader has finished handling a record (read
// and delivered or passed over) or a first-frame notice, so a caller can tell
// that a step was taken even when it delivered nothing. -1 for an unknown
// handle.
long avc_parse_passes(int handle);
