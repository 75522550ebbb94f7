// Threads, events and mutexes behind integer handles, and thin file and
// buffer functions.
//
// Handles are ids in the process-wide registry (platform/handle_registry.h),
// never addresses: 0 means "no handle", and a handle that names nothing (never
// made, already closed, or of another kind) is harmless: waits and locks return
// -1, signals do nothing and return 0, closes return 0. Close functions return
// 0 so that callers can store the result back into their handle.
#pragma once

#include <cstdint>
#include <cstdio>

// Starts a thread running fn(arg); its handle, or 0 when it cannot be started.
int thread_create(void *(*fn)(void *), void *arg);
// Waits until the thread has ended and drops its exit value; always 0.
int thread_close(int thread);
// Ends the calling thread.
[[noreturn]] void thread_exit();
// Raises the calling thread (alone) above the other threads of the process and the processes
// around it, so that a thread that keeps time is served first on a busy machine. Threads it
// starts afterwards inherit the raise. Where the system does not allow it the thread stays as
// it was; answers whether it was raised.
bool thread_raise_priority();

// An unnamed event, manual-reset when manualReset is not 0, set when
// initialState is not 0; 0 when it cannot be made.
int event_create(int manualReset, int initialState);
// 1; 0 for an unknown handle.
int event_signal(int event);
int event_nonsignal(int event);
// Drops the handle; the event itself goes once no call is using it. Always 0.
int event_close(int event);
// A poll: 0 when the event was set (an automatic-reset event is consumed),
// WAIT_TIMEOUT (258, platform/win_event.h) when not, -1 for 0 or an unknown handle.
int event_wait(int event);
// Waits for any of n events (ms = INFINITE: no limit): the index of the set
// one (the lowest when several are), WAIT_TIMEOUT on time-out; -1 for a NULL
// array, n outside 1..MAXIMUM_WAIT_OBJECTS, or an unknown handle among them.
int event_wait_ex(int *events, int n, unsigned long ms);

// A recursive mutex; 0 when it cannot be made.
int mutex_open();
// The POSIX result (0 = success); -1 for an unknown handle.
int mutex_lock(int mutex);
int mutex_unlock(int mutex);
// Always 0.
int mutex_close(int mutex);

// Reads up to n bytes and adds the number read to *total; returns that number
// (0 at end of file or on error).
unsigned long file_read(void *buffer, unsigned long n, FILE *stream, unsigned long *total);
// Seeks (whence 0 start, 1 current, 2 end) and then stores the stream's
// position in *position, also after a failed seek; 0 on success.
int file_move_pointer(FILE *stream, int64_t offset, int whence, uint64_t *position);

// Opens an existing regular file for reading. Anything else (a FIFO, a device, a
// directory, a socket) is refused at once with errno EINVAL: opening it is never
// allowed to wait for a writer. NULL on failure.
FILE *file_open_regular(const char *path);
// Creates path as a new regular file for writing (O_EXCL: nothing there is
// replaced), never waiting on whatever sits at the path. NULL on failure.
FILE *file_create_regular(const char *path);

// n zero bytes, or NULL when memory runs out.
void *buffer_new(unsigned long n);
void buffer_clear(void *buffer, unsigned long n);
// Frees *slot when it is not NULL and sets it to NULL.
void buffer_free(void **slot);
// Copies n bytes; the areas must not overlap.
void buffer_copy(void *destination, const void *source, unsigned long n);
