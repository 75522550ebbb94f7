// A forward reader that serves many small reads of an open file out of one
// large buffer, refilled with one read of the whole buffer at a time. It keeps
// the file offset of the next byte it delivers and can be moved to any offset,
// which drops what is buffered.
//
// One thread at a time. The stream is not owned: the owner opens it before
// buffer_file_init and closes it after buffer_file_release, and nothing else
// may move it in between.
#pragma once

#include <cstdint>
#include <cstdio>

struct BUFFER_FILE {
    FILE *stream;      // not owned
    char *buffer;      // capacity bytes, owned
    uint32_t capacity; // fixed at initialisation
    uint32_t valid;    // bytes the last refill placed in the buffer
    uint32_t readPos;  // index of the next byte to deliver; readPos <= valid <= capacity
    uint64_t filePos;  // file offset of the next byte to deliver
};

// 1 on success; 0 for a NULL record, a capacity of 0 or above 4 GiB - 1, or
// when the buffer cannot be allocated (the record then keeps the stream but
// no buffer). Nothing is read yet.
int buffer_file_init(BUFFER_FILE *r, FILE *stream, unsigned long capacity);
// Frees the buffer and zeroes the record; the stream is not closed.
void buffer_file_release(BUFFER_FILE *r);
// Refills the whole buffer from the stream's position: true when at least one
// byte was read. filePos does not move.
bool buffer_file_push(BUFFER_FILE *r);
// Delivers the next n bytes into dst: 1 when all n were delivered, 0 at end of
// file (the bytes that were there have been copied and counted into filePos)
// or without a stream or buffer.
int buffer_file_pop(BUFFER_FILE *r, char *dst, unsigned long n);
// The next n bytes where they lie in the buffer, for reading in place; NULL when fewer than n
// are buffered (pop them instead: this never reads the file) or without a stream or buffer.
// Nothing is delivered: the pointer is good until the next call that refills or moves.
char *buffer_file_peek(BUFFER_FILE *r, unsigned long n);
// Delivers the next n bytes as pop does, without copying them anywhere: same result, same
// position afterwards.
int buffer_file_skip(BUFFER_FILE *r, unsigned long n);
// Moves to offset from the start of the file and drops the buffered bytes: 1;
// 0 when the seek failed (the record is unchanged).
int buffer_file_set(BUFFER_FILE *r, uint64_t offset);
