#include "platform/buffer_file.h"

#include "platform/portable.h"

#include <cstdint>
#include <cstring>

int buffer_file_init(BUFFER_FILE *r, FILE *stream, unsigned long capacity) {
    if (!r) return 0;
    std::memset(r, 0, sizeof *r);
    r->stream = stream;
    // capacity is kept in 32 bits; an empty buffer could never deliver a byte.
    if (capacity == 0 || capacity > UINT32_MAX) return 0;
    r->buffer = static_cast<char *>(buffer_new(capacity));
    if (!r->buffer) return 0;
    r->capacity = static_cast<uint32_t>(capacity);
    return 1;
}

void buffer_file_release(BUFFER_FILE *r) {
    if (!r) return;
    void *buffer = r->buffer;
    buffer_free(&buffer);
    std::memset(r, 0, sizeof *r);
}

bool buffer_file_push(BUFFER_FILE *r) {
    if (!r || !r->stream || !r->buffer) return false;
    unsigned long total = 0;
    file_read(r->buffer, r->capacity, r->stream, &total);
    r->valid = static_cast<uint32_t>(total);
    r->readPos = 0;
    return total != 0;
}

namespace {

// pop and skip: delivers n bytes, copying them to dst unless skipping.
int deliver(BUFFER_FILE *r, char *dst, unsigned long n, bool skip) {
    if (!r || !r->stream || !r->buffer) return 0;
    if (r->valid == 0 && !buffer_file_push(r)) return 0;
    if (!skip && n != 0 && !dst) return 0;
    unsigned long done = 0;
    for (;;) {
        const unsigned long remaining = n - done;
        const unsigned long left = r->valid - r->readPos; // 32-bit values: no overflow in 64-bit sums
        if (remaining <= left) {
            if (!skip) buffer_copy(dst + done, r->buffer + r->readPos, remaining);
            r->readPos += static_cast<uint32_t>(remaining);
            r->filePos += remaining;
            return 1;
        }
        if (!skip) buffer_copy(dst + done, r->buffer + r->readPos, left);
        done += left;
        r->filePos += left;
        r->readPos = r->valid;
        if (!buffer_file_push(r)) return 0;
    }
}

} // namespace

int buffer_file_pop(BUFFER_FILE *r, char *dst, unsigned long n) {
    return deliver(r, dst, n, false);
}

int buffer_file_skip(BUFFER_FILE *r, unsigned long n) {
    return deliver(r, nullptr, n, true);
}

char *buffer_file_peek(BUFFER_FILE *r, unsigned long n) {
    if (!r || !r->stream || !r->buffer) return nullptr;
    return n <= r->valid - r->readPos ? r->buffer + r->readPos : nullptr;
}

int buffer_file_set(BUFFER_FILE *r, uint64_t offset) {
    if (!r || !r->stream || offset > static_cast<uint64_t>(INT64_MAX)) return 0;
    uint64_t position = 0;
    if (file_move_pointer(r->stream, static_cast<int64_t>(offset), SEEK_SET, &position) != 0) return 0;
    r->filePos = offset;
    r->readPos = 0;
    r->valid = 0;
    return 1;
}
