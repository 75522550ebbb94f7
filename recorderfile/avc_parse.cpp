#include "recorderfile/avc_parse.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <new>
#include <string>

#include "platform/buffer_file.h"
#include "platform/handle_registry.h"
#include "platform/log.h"
#include "platform/portable.h"
#include "platform/win_event.h"
#include "recorderfile/avc_index.h"

namespace {

constexpr unsigned long kFrameBufferSize = 1920 * 1080; // one payload
constexpr unsigned long kReaderBufferSize = 0x200000;
constexpr unsigned long kMinRecordSize = 6; // flags word + trailing u16

} // namespace

// One open recording. Created by avc_parse_open, registered under its handle;
// the threads use it through a plain pointer, which stays valid because close
// joins them before letting go of the object.
struct AVC_PARSE {
    HEADER_AVC header{}; // main header, then the frame last read by the reader

    // The index: tableCount entries are valid once indexReady is true (or
    // from the start when a loaded index was trusted).
    MAPPING_TABLE *table = nullptr;
    unsigned long tableCount = 0;
    std::atomic<bool> indexReady{false};

    unsigned long totalFrames = 0;
    uint64_t firstFrameOffset = 0;

    std::atomic<int> status{AVC_STATUS_NORMAL};

    int readerThread = 0;
    int indexThread = 0;

    int run = 0;  // manual, set: the reader may read the next record
    int quit = 0; // manual, clear: both threads end (stays set once set)
    // Set right before quit: the index build asks after every record, cheaper than the event.
    std::atomic<bool> quitting{false};
    int gate = 0;       // manual, set: the reader may go on after a record
    int indexDone = 0;  // automatic, clear: the index thread has finished
    int readerLock = 0; // the file position, the reads and the fields below it
    int statusLock = 0;
    int gateLock = 0; // paused, step pending, running, the gate and run events

    // Under the reader lock.
    unsigned long nextIndex = 0;       // table index of the record the reader reads next
    unsigned long reversePosition = 0; // 1-based key entry chosen going backwards
    bool seekedInReverse = false;
    // Bumped under the reader lock by every move of the reader; the reader
    // halts at an end only when nobody moved it since it read the record.
    std::atomic<unsigned> moveSeq{0};
    // The mark of the seek whose place the reader reads from (0: none, or moved away since).
    unsigned placeMark = 0;

    // Reader thread only.
    unsigned long lastNumber = 0; // 1-based position of the record last read; 0 before any
    unsigned long emptyRun = 0;   // records without payload read one after the other
    unsigned recordMark = 0;      // placeMark when the record last read was read
    // Going backwards: the key frame each channel byte (0..16) was shown last (1-based record, 0 =
    // none), and the move count after the reader's own last move back.
    unsigned long backKey[17] = {};
    unsigned backSeq = 0;

    std::atomic<int> running{1};
    std::atomic<int> paused{0};
    // While paused: records the reader may still finish before it stops.
    std::atomic<int> stepPending{0};
    // Under the gate lock: the reader is on a record that will end with a gate check.
    bool inRecord = false;
    std::atomic<long> passes{0};

    char *frameBuffer = nullptr;
    char *bitstream = nullptr;
    FILE *avcFile = nullptr;
    std::string indexPath; // empty: the index stays in memory
    void *user = nullptr;
    AVC_PARSE_CALLBACK callback = nullptr;
    BUFFER_FILE reader{};

    AVC_PARSE() = default;
    AVC_PARSE(const AVC_PARSE &) = delete;
    AVC_PARSE &operator=(const AVC_PARSE &) = delete;
    ~AVC_PARSE();
};

AVC_PARSE::~AVC_PARSE() {
    event_close(run);
    event_close(quit);
    event_close(gate);
    event_close(indexDone);
    mutex_close(readerLock);
    mutex_close(statusLock);
    mutex_close(gateLock);
    buffer_file_release(&reader);
    if (avcFile) std::fclose(avcFile);
    std::free(frameBuffer);
    std::free(table);
    release_main_header(&header.mainHeader);
}

namespace {

using platform::processHandles;

// The parser whose callback the current thread is running, to refuse a close
// from inside it (the thread would wait for itself).
thread_local const AVC_PARSE *tlsInsideCallback = nullptr;

class Locked {
  public:
    explicit Locked(int mutex) : mutex_(mutex) { mutex_lock(mutex_); }
    ~Locked() { mutex_unlock(mutex_); }
    Locked(const Locked &) = delete;
    Locked &operator=(const Locked &) = delete;

  private:
    int mutex_;
};

void notify(AVC_PARSE *p, int code, HEADER_AVC *header, char *bitstream) {
    if (!p->callback) return;
    const AVC_PARSE *outer = tlsInsideCallback;
    tlsInsideCallback = p;
    p->callback(code, header, bitstream, p->user);
    tlsInsideCallback = outer;
}

int readStatus(AVC_PARSE *p) {
    Locked lock(p->statusLock);
    return p->status.load();
}

bool isRewind(int status) {
    return status >= AVC_STATUS_REWIND_1X && status <= AVC_STATUS_REWIND_16X;
}

bool goesBackwards(int status) {
    return isRewind(status) || status == AVC_STATUS_STEP_BACK;
}

// Under the reader lock.
bool moveToEntry(AVC_PARSE *p, unsigned long index) {
    if (index >= p->tableCount || buffer_file_set(&p->reader, p->table[index].qwOffset) != 1) return false;
    p->nextIndex = index;
    p->moveSeq.fetch_add(1);
    return true;
}

// Under the reader lock.
void moveToFirstFrame(AVC_PARSE *p) {
    if (buffer_file_set(&p->reader, p->firstFrameOffset) == 1) p->nextIndex = 0;
    p->moveSeq.fetch_add(1);
    p->placeMark = 0;
}

// Reader thread: the newest key frame the way back has shown (0 = none); forgets them all.
unsigned long takeWayBack(AVC_PARSE *p) {
    unsigned long newest = 0;
    for (unsigned long &number : p->backKey) {
        newest = std::max(newest, number);
        number = 0;
    }
    return newest;
}

// The reader has come to an end: it waits for run again, unless another thread
// moved it since it read (a seek or a play that it must not undo).
void haltUnlessMoved(AVC_PARSE *p, unsigned seqAtRead) {
    Locked lock(p->gateLock);
    p->inRecord = false;
    if (p->moveSeq.load() == seqAtRead) {
        event_nonsignal(p->run);
        p->running = 0;
    }
}

// Under the gate lock, while paused: one more record, then a stop again. A record the reader
// is still on uses up what was allowed before, so this one is added after it: a step or seek
// asked for just then is not lost.
void allowOneMoreRecord(AVC_PARSE *p) {
    p->stepPending = p->inRecord ? p->stepPending + 1 : 1;
    event_signal(p->gate);
}

// Wait for any of the two events; true when the second one was set. The quit
// event (first) or a broken handle ends the thread.
bool waitFor(AVC_PARSE *p, int event) {
    int events[2] = {p->quit, event};
    return event_wait_ex(events, 2, INFINITE) == 1;
}

void *readerMain(void *arg) {
    auto *p = static_cast<AVC_PARSE *>(arg);
    // It waits for each frame's hand-off and pacing: it keeps time as the playback threads do.
    thread_raise_priority();
    if (!waitFor(p, p->indexDone)) return nullptr;
    HEADER_FRAME &frame = p->header.frameHeader;
    const unsigned char version = p->header.mainHeader.main.byVersion;
    for (;;) {
        if (!waitFor(p, p->run)) return nullptr;
        {
            Locked lock(p->gateLock);
            p->inRecord = true;
        }
        const int status = readStatus(p);
        const bool backwards = goesBackwards(status);

        mutex_lock(p->readerLock);
        const unsigned seqAtRead = p->moveSeq.load();
        if (!backwards) {
            // Forward again after going backwards: every channel shows the key frame the way back
            // gave it last. Reading goes on after the newest of them, so that no channel is handed
            // frames older than its picture, nor frames whose key frame its decoder never had. A
            // move by anyone else since (a seek, a stop) keeps its place.
            const unsigned long newest = takeWayBack(p);
            if (newest != 0 && seqAtRead == p->backSeq) moveToEntry(p, newest);
        } else if (seqAtRead != p->backSeq) {
            takeWayBack(p); // moved by someone else: those pictures belong to another place
        }
        if (backwards) {
            unsigned long cur = p->lastNumber;
            if (p->seekedInReverse) {
                cur = p->reversePosition;
                p->seekedInReverse = false;
            }
            bool atStart = cur < 2;
            if (!atStart) {
                unsigned long number = 1;
                seek_i_index_last(p->table, p->tableCount, cur - 1, &number);
                if (moveToEntry(p, number - 1))
                    p->reversePosition = number;
                else
                    atStart = true; // nothing indexed to go back to
                p->backSeq = p->moveSeq.load();
            }
            if (atStart) {
                mutex_unlock(p->readerLock);
                haltUnlessMoved(p, seqAtRead);
                notify(p, AVC_CODE_FIRST_FRAME, &p->header, p->bitstream);
                p->passes.fetch_add(1);
                continue;
            }
        }
        const unsigned seqAfterMove = p->moveSeq.load();
        unsigned long consumed = 0;
        const int read = get_avc_frame(&p->reader, &frame, p->frameBuffer, kFrameBufferSize, &consumed);
        const unsigned long number = ++p->nextIndex;
        p->recordMark = p->placeMark;
        mutex_unlock(p->readerLock);

        // A long run of records without payload is damage (a file of zeros reads as billions
        // of them): the data ends there, as the index does.
        p->emptyRun = read != AVC_READ_SHORT && frame.dwLength == 0 ? p->emptyRun + 1 : 0;
        if (read == AVC_READ_SHORT || p->emptyRun >= AVC_MAX_EMPTY_RECORD_RUN) {
            p->running = 0;
            notify(p, AVC_CODE_END_OF_DATA, nullptr, nullptr);
            return nullptr;
        }

        char *data = p->frameBuffer;
        unsigned long length = frame.dwLength;
        bool usable =
            read != AVC_READ_DROPPED && fix_avc_frame(p->frameBuffer, length, &data, &length, version) == 1;
        if (!usable) {
            data = p->frameBuffer;
            length = 0;
        }
        p->bitstream = data;
        frame.dwLength = static_cast<uint32_t>(length);
        frame.byIsKeyFrame = 0;
        if (usable) {
            fix_width_hight(data, length, frame.byStreamType, &frame.wWidth, &frame.wHeight);
            frame.byIsKeyFrame = static_cast<uint8_t>(check_i_frame(data, length, frame.byStreamType));
        }

        p->lastNumber = number;
        uint64_t progress = 100ull * number / p->totalFrames;
        if (progress > 100) progress = 100;
        const int code = static_cast<int>(progress);
        const int statusNow = readStatus(p);
        const bool everyFrame = statusNow >= AVC_STATUS_NORMAL && statusNow <= AVC_STATUS_FORWARD_4X;
        const bool fastKeysOnly = statusNow == AVC_STATUS_FORWARD_8X || statusNow == AVC_STATUS_FORWARD_16X;
        unsigned long nextKey = 0;
        const bool fastEnd = fastKeysOnly && !seek_i_index_next(p->table, p->tableCount, number, &nextKey);
        const bool end = fastEnd || code == 100;
        // A frame read going backwards is not shown once the reader is told to go forward: Play
        // goes on from the pictures on screen, not from one older than them.
        const bool turned = backwards && !goesBackwards(statusNow);
        const bool deliver = usable && !turned && (everyFrame || frame.byIsKeyFrame);
        if (backwards && deliver && frame.byChannel < 17) p->backKey[frame.byChannel] = number;

        if (end) haltUnlessMoved(p, seqAfterMove);
        if (deliver) notify(p, code, &p->header, p->bitstream);
        // The end is always reported, with the record that ended it (as fast
        // forward does), also when that record was not delivered: a step onto
        // the last record, or one whose payload could not be used (length 0).
        if (end && !(deliver && code == 100)) notify(p, 100, &p->header, p->bitstream);
        if (end) {
            p->passes.fetch_add(1);
            continue;
        }

        {
            Locked lock(p->gateLock);
            p->inRecord = false;
            if (p->stepPending > 0 && --p->stepPending == 0) event_nonsignal(p->gate);
        }
        p->passes.fetch_add(1);
        if (!waitFor(p, p->gate)) return nullptr;
    }
}

struct BuildProgress {
    AVC_PARSE *parser;
    int lastSent;
    unsigned long nextCode; // entries at which the per cent changes next
};

int onIndexed(void *user, unsigned long built) {
    auto *b = static_cast<BuildProgress *>(user);
    AVC_PARSE *p = b->parser;
    // Closing: stop at once.
    if (p->quitting.load(std::memory_order_relaxed)) return 1;
    if (built < b->nextCode) return 0;
    const uint64_t percent = 100ull * built / p->totalFrames;
    b->nextCode = static_cast<unsigned long>(((percent + 1) * p->totalFrames + 99) / 100);
    const int code = AVC_CODE_INDEX_BASE + static_cast<int>(percent);
    // 1100 is sent once the index can be used.
    if (code != b->lastSent && code < AVC_CODE_INDEX_DONE) {
        b->lastSent = code;
        notify(p, code, nullptr, nullptr);
    }
    return 0;
}

void *indexMain(void *arg) {
    auto *p = static_cast<AVC_PARSE *>(arg);
    BuildProgress progress{p, -1, 0};
    unsigned long built = 0;
    // The table grows with the records read: the header's count is only a claim.
    const int finished = build_mapping_table_grown(
        &p->reader, p->firstFrameOffset, p->totalFrames, p->header.mainHeader.main.byVersion, p->frameBuffer,
        kFrameBufferSize, &p->table, &built, p->indexPath.empty() ? nullptr : p->indexPath.c_str(), onIndexed,
        &progress);
    const bool quitting = event_wait(p->quit) != static_cast<int>(WAIT_TIMEOUT);
    if (!quitting) {
        // A recording cut short ends the build at its last whole record; the
        // table then holds fewer entries than the header's total.
        if (finished != 1)
            player_log("AVC index: the recording could not be read\n");
        else if (built < p->totalFrames)
            player_log("AVC index: %lu of %lu frames present\n", built, p->totalFrames);
        p->tableCount = built;
        p->indexReady = true;
        notify(p, AVC_CODE_INDEX_DONE, nullptr, nullptr);
    }
    event_signal(p->indexDone);
    return nullptr;
}

// Loads the existing index file and keeps it when it describes this recording.
bool loadIndex(AVC_PARSE *p, uint64_t fileSize) {
    if (p->indexPath.empty()) return false;
    // Never a FIFO or device: the open would wait for a writer on the caller's thread.
    FILE *idx = file_open_regular(p->indexPath.c_str());
    if (!idx) return false;
    MAPPING_TABLE *table = nullptr;
    unsigned long count = 0;
    const int loaded =
        load_mapping_table(idx, p->totalFrames, p->firstFrameOffset, fileSize, &p->reader, &table, &count);
    std::fclose(idx);
    if (loaded != 1) {
        player_log("AVC index %s does not match the recording: rebuilding it\n", p->indexPath.c_str());
        return false;
    }
    std::free(p->table);
    p->table = table;
    p->tableCount = count;
    p->indexReady = true;
    return true;
}

// Ends what was started; the object frees the rest.
void stopThreads(AVC_PARSE *p) {
    p->quitting = true;
    event_signal(p->quit);
    p->readerThread = thread_close(p->readerThread);
    p->indexThread = thread_close(p->indexThread);
}

int openFailed(const char *path, const char *why) {
    player_log("Cannot open AVC recording %s: %s\n", path ? path : "(null)", why);
    return 0;
}

} // namespace

std::string avc_index_path(const std::string &recordingPath) {
    const size_t slash = recordingPath.rfind('/');
    const size_t nameStart = slash == std::string::npos ? 0 : slash + 1;
    const size_t ext = recordingPath.rfind(".avc");
    if (ext == std::string::npos || ext < nameStart) return std::string();
    return recordingPath.substr(0, ext) + ".idx";
}

extern "C" int avc_parse_open(const char *path, AVC_PARSE_CALLBACK callback, void *user) {
    if (!path) return openFailed(path, "no path");
    std::shared_ptr<AVC_PARSE> ctx;
    try {
        ctx = std::make_shared<AVC_PARSE>();
        ctx->indexPath = avc_index_path(path);
    } catch (const std::bad_alloc &) {
        return openFailed(path, "out of memory");
    }
    AVC_PARSE *p = ctx.get();
    p->callback = callback;
    p->user = user;

    p->avcFile = file_open_regular(path);
    if (!p->avcFile) return openFailed(path, errno == EINVAL ? "not a regular file" : "cannot open the file");
    uint64_t fileSize = 0;
    if (file_move_pointer(p->avcFile, 0, SEEK_END, &fileSize) != 0 ||
        file_move_pointer(p->avcFile, 0, SEEK_SET, nullptr) != 0)
        return openFailed(path, "cannot seek");
    if (buffer_file_init(&p->reader, p->avcFile, kReaderBufferSize) != 1)
        return openFailed(path, "out of memory");
    p->frameBuffer = static_cast<char *>(std::calloc(kFrameBufferSize, 1));
    if (!p->frameBuffer) return openFailed(path, "out of memory");
    p->bitstream = p->frameBuffer;

    unsigned long headerLength = 0;
    if (parse_main_header(&p->reader, &p->header.mainHeader, &headerLength) != 1)
        return openFailed(path, "short main header");
    p->totalFrames = p->header.mainHeader.main.dwTotalFrames;
    p->firstFrameOffset = headerLength;
    if (p->totalFrames == 0) return openFailed(path, "no frames");
    const uint64_t dataBytes = fileSize > headerLength ? fileSize - headerLength : 0;
    if (p->totalFrames > dataBytes / kMinRecordSize)
        return openFailed(path, "more frames than the file can hold");

    p->quit = event_create(1, 0);
    p->run = event_create(1, 1);
    p->gate = event_create(1, 1);
    p->indexDone = event_create(0, 0);
    p->readerLock = mutex_open();
    p->statusLock = mutex_open();
    p->gateLock = mutex_open();
    if (!p->quit || !p->run || !p->gate || !p->indexDone || !p->readerLock || !p->statusLock || !p->gateLock)
        return openFailed(path, "cannot make events and locks");

    if (loadIndex(p, fileSize)) {
        event_signal(p->indexDone);
    } else {
        buffer_file_set(&p->reader, p->firstFrameOffset);
        p->indexThread = thread_create(indexMain, p);
        if (!p->indexThread) return openFailed(path, "cannot start the index thread");
    }
    p->readerThread = thread_create(readerMain, p);
    if (!p->readerThread) {
        stopThreads(p);
        return openFailed(path, "cannot start the reader thread");
    }
    const int handle = processHandles().add(ctx);
    if (!handle) {
        stopThreads(p);
        return openFailed(path, "out of memory");
    }
    return handle;
}

extern "C" void avc_parse_close(int handle) {
    if (handle == 0) return;
    std::shared_ptr<AVC_PARSE> p = processHandles().get<AVC_PARSE>(handle);
    if (!p) return;
    if (tlsInsideCallback == p.get()) {
        player_log("AVC parser %d: close from inside its own callback refused\n", handle);
        return;
    }
    if (!processHandles().take<AVC_PARSE>(handle)) return; // closed by another thread meanwhile
    stopThreads(p.get());
    // Calls still running on other threads keep the object until they return.
}

namespace {

bool isVideoStream(uint8_t type) {
    return type == AVC_STREAM_MPEG4 || type == AVC_STREAM_MPEG4_B || type == AVC_STREAM_MJPEG ||
           type == AVC_STREAM_MJPEG_B || type == AVC_STREAM_H264;
}

// The last record at or before percent of the file's frames (1-based), 0 without a usable index.
unsigned long placeNumber(const AVC_PARSE *p, int percent) {
    if (!p->indexReady || p->tableCount == 0) return 0;
    percent = std::clamp(percent, 0, 100);
    uint64_t k = static_cast<uint64_t>(p->totalFrames) * static_cast<uint64_t>(percent) / 100;
    if (k == 0) k = 1;
    if (k > p->tableCount) k = p->tableCount;
    return static_cast<unsigned long>(k);
}

} // namespace

extern "C" int avc_playback_progress(int handle, int percent) {
    return avc_playback_progress_from(handle, percent, 0, 0);
}

extern "C" unsigned long avc_playback_place(int handle, int percent) {
    std::shared_ptr<AVC_PARSE> p = handle ? processHandles().get<AVC_PARSE>(handle) : nullptr;
    return p ? placeNumber(p.get(), percent) : 0;
}

extern "C" int avc_playback_visit_records(int handle, unsigned long from, int step, int keysOnly,
                                          AVC_RECORD_VISIT visit, void *user) {
    std::shared_ptr<AVC_PARSE> p = handle ? processHandles().get<AVC_PARSE>(handle) : nullptr;
    if (!p || !visit || !p->indexReady || p->tableCount == 0) return -1;
    if (from == 0 || from > p->tableCount || (step != 1 && step != -1)) return 0;
    Locked lock(p->readerLock);
    // The headers are read with a small reader of their own; the parser's reader stays where it is.
    BUFFER_FILE probe{};
    if (buffer_file_init(&probe, p->avcFile, 1024) != 1) return 0;
    int result = 0;
    for (unsigned long i = from - 1;; i += static_cast<unsigned long>(step)) {
        if (i >= p->tableCount) {
            result = step == 1 ? 1 : 0;
            break;
        }
        const bool key = is_key_entry_type(p->table[i].dwType);
        if (keysOnly && !key) continue;
        HEADER_FRAME h{};
        unsigned long consumed = 0;
        if (buffer_file_set(&probe, p->table[i].qwOffset) != 1 ||
            parse_frame_header(&probe, &h, consumed) == AVC_READ_SHORT || !isVideoStream(h.byStreamType))
            continue;
        const AVC_RECORD_FACTS facts{i + 1, h.byChannel == 0 ? 0 : h.byChannel - 1, h.dwTimeStamp,
                                     key ? 1 : 0, p->table[i].qwOffset};
        if (!visit(&facts, user)) break;
    }
    buffer_file_release(&probe);
    buffer_file_set(&p->reader, p->reader.filePos);
    return result;
}

extern "C" int avc_playback_progress_from(int handle, int percent, unsigned long number, unsigned mark) {
    std::shared_ptr<AVC_PARSE> p = handle ? processHandles().get<AVC_PARSE>(handle) : nullptr;
    const unsigned long k = p ? placeNumber(p.get(), percent) : 0;
    if (k == 0) return -1;
    if (number == 0 || number > p->tableCount) seek_i_index_last(p->table, p->tableCount, k, &number);
    {
        Locked lock(p->readerLock);
        if (!moveToEntry(p.get(), number - 1)) return -1;
        p->placeMark = mark;
        const int status = readStatus(p.get());
        if (isRewind(status) && !p->paused) {
            p->reversePosition = number;
            p->seekedInReverse = true;
        } else if (p->paused && status != AVC_STATUS_NORMAL && status != AVC_STATUS_FORWARD_2X &&
                   status != AVC_STATUS_FORWARD_4X) {
            // Paused, the new place is read forward record by record: a step's status would read
            // back from where the reader was, key frames only would pass records over, and a
            // rewind would read back to the first frame and end there.
            Locked statusLock(p->statusLock);
            p->status = AVC_STATUS_NORMAL;
        }
    }
    Locked lock(p->gateLock);
    p->running = 1;
    if (p->paused) {
        // One frame from the new place is shown, then the reader stops again.
        allowOneMoreRecord(p.get());
    }
    event_signal(p->run);
    return 0;
}

extern "C" void avc_playback_status(int handle, int action) {
    if (action < 0 || action > AVC_ACTION_STEP_BACK) return;
    std::shared_ptr<AVC_PARSE> p = handle ? processHandles().get<AVC_PARSE>(handle) : nullptr;
    if (!p) return;
    auto setStatus = [&](int status) {
        Locked lock(p->statusLock);
        p->status = status;
    };
    // Until the index is complete the index thread owns the file position:
    // play and stop then only set their flags (the build leaves the reader at
    // the first frame).
    const bool mayMove = p->indexReady;

    if (action <= AVC_STATUS_REWIND_16X) {
        setStatus(action);
        Locked lock(p->gateLock);
        if (!p->running) {
            p->running = 1;
            event_signal(p->run);
        }
        return;
    }
    switch (action) {
    case AVC_ACTION_PLAY: {
        Locked lock(p->gateLock);
        if (!p->running) {
            if (mayMove) {
                Locked reader(p->readerLock);
                moveToFirstFrame(p.get());
            }
            p->running = 1;
        }
        // Status and run before the gate opens, all under its lock: a paused reader let through
        // may reach the end at once and be stopped from its callback, and that stop (which takes
        // this lock) must come after the whole of this play, not between its steps, where the
        // run set afterwards would read the file again from its first frame.
        setStatus(AVC_STATUS_NORMAL);
        event_signal(p->run);
        if (p->paused) {
            p->paused = 0;
            p->stepPending = 0;
            event_signal(p->gate);
        }
        break;
    }
    case AVC_ACTION_STOP: {
        Locked lock(p->gateLock);
        // Run is taken away first: a paused reader let through the gate must not read on.
        event_nonsignal(p->run);
        if (p->paused) {
            p->paused = 0;
            p->stepPending = 0;
            event_signal(p->gate);
        }
        if (mayMove) {
            Locked reader(p->readerLock);
            moveToFirstFrame(p.get());
        }
        p->running = 0;
        break;
    }
    case AVC_ACTION_PAUSE: {
        Locked lock(p->gateLock);
        if (p->paused) {
            p->paused = 0;
            p->stepPending = 0;
            event_signal(p->gate);
        } else {
            p->paused = 1;
            p->stepPending = 1;
        }
        break;
    }
    case AVC_ACTION_STEP_FORWARD:
    case AVC_ACTION_STEP_BACK: {
        setStatus(action);
        Locked lock(p->gateLock);
        if (p->paused) allowOneMoreRecord(p.get());
        break;
    }
    default:
        break;
    }
}

extern "C" unsigned avc_playback_record_mark(int handle) {
    std::shared_ptr<AVC_PARSE> p = handle ? processHandles().get<AVC_PARSE>(handle) : nullptr;
    return p ? p->recordMark : 0;
}

extern "C" void avc_playback_read_one_more(int handle) {
    std::shared_ptr<AVC_PARSE> p = handle ? processHandles().get<AVC_PARSE>(handle) : nullptr;
    if (!p) return;
    Locked lock(p->gateLock);
    if (p->paused) allowOneMoreRecord(p.get());
}

long avc_parse_passes(int handle) {
    std::shared_ptr<AVC_PARSE> p = handle ? processHandles().get<AVC_PARSE>(handle) : nullptr;
    return p ? p->passes.load() : -1;
}
