// Drives the whole AVC parser over arbitrary bytes: the recording and, when
// asked, an index file beside it are written to a temporary folder, opened,
// played under a short script of controls given by the input (run from the
// callback, as the engine does), and closed. A play that neither ends nor
// reports an end within seconds is a hang.
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "engines/avc_format_playback.h"
#include "recorderfile/avc_parse.h"

namespace {

char gDir[4096];

void removeDir() {
    rmdir(gDir);
}

const char *tempDir() {
    if (!gDir[0]) {
        const char *base = std::getenv("TMPDIR");
        std::snprintf(gDir, sizeof gDir, "%s/fuzz-avcparse-XXXXXX", base && *base ? base : "/tmp");
        if (!mkdtemp(gDir)) std::abort();
        std::atexit(removeDir);
    }
    return gDir;
}

bool writeFile(const std::string &path, const uint8_t *data, size_t size) {
    FILE *f = std::fopen(path.c_str(), "wb");
    if (!f) return false;
    const bool ok = size == 0 || std::fwrite(data, 1, size, f) == size;
    return std::fclose(f) == 0 && ok;
}

struct Step {
    unsigned atEvent; // run at this frame event (or at the next end)
    int action;       // 0..9, 13, 14: a status; 100 + p: a seek to p - 10 per cent
};

struct Run {
    std::mutex mutex;
    std::condition_variable cv;
    int handle = 0;
    bool opened = false;
    bool done = false;
    unsigned events = 0;
    size_t next = 0;
    std::vector<Step> script;
};

void perform(int handle, int action) {
    if (action >= 100) {
        // As the engine seeks: the records around the place and the key frames before it are
        // looked at in the frame headers first.
        const LandingPlan plan = avcLandingPlan(handle, avc_playback_place(handle, action - 110), 0, 0xFFFF);
        avc_playback_progress_from(handle, action - 110,
                                   plan.present ? static_cast<unsigned long>(plan.restart) : 0, 1);
    } else
        avc_playback_status(handle, action);
}

int callback(int code, HEADER_AVC *header, char *bitstream, void *user) {
    auto *run = static_cast<Run *>(user);
    if (header && bitstream && header->frameHeader.dwLength > 0) {
        // Touch the whole payload so that a wrong length shows.
        volatile unsigned char sum = 0;
        for (uint32_t i = 0; i < header->frameHeader.dwLength; ++i)
            sum = static_cast<unsigned char>(sum + static_cast<unsigned char>(bitstream[i]));
        (void)sum;
    }
    std::unique_lock<std::mutex> lock(run->mutex);
    run->cv.wait(lock, [run] { return run->opened; });
    if (run->done) return 0;
    if (code == AVC_CODE_INDEX_DONE && !run->script.empty() && run->script[0].action >= 100) {
        perform(run->handle, run->script[0].action); // a seek as soon as it may
        return 0;
    }
    if (code >= AVC_CODE_INDEX_BASE) return 0;
    ++run->events;
    const bool end = code == 100 || code == AVC_CODE_FIRST_FRAME;
    if (code == AVC_CODE_END_OF_DATA || run->events > 2000 || (end && run->next >= run->script.size())) {
        run->done = true;
        run->cv.notify_all();
        return 0;
    }
    if (end) {
        avc_playback_status(run->handle, AVC_ACTION_PLAY);
        perform(run->handle, run->script[run->next++].action);
    } else if (run->next < run->script.size() && run->events >= run->script[run->next].atEvent) {
        perform(run->handle, run->script[run->next++].action);
    }
    return 0;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    // Byte 0: bit 0 = an index file follows (u16 length, then its bytes);
    // bit 1 = name the recording ".AVC" (index in memory only); bits 2-3 =
    // number of script steps, each two bytes (event, action); bit 4 = put a
    // plain main header in front of the rest (total frames from the next
    // byte, version 9 when bit 5 is set), so frame records are reached at once.
    if (size < 1) return 0;
    const uint8_t mode = data[0];
    size_t at = 1;
    std::vector<uint8_t> idx;
    bool withIdx = false;
    if ((mode & 1) && size >= at + 2) {
        const size_t n = static_cast<size_t>(data[at]) | (static_cast<size_t>(data[at + 1]) << 8);
        at += 2;
        const size_t take = n < size - at ? n : size - at;
        idx.assign(data + at, data + at + take);
        at += take;
        withIdx = true;
    }
    Run run;
    const unsigned steps = (mode >> 2) & 3;
    static const int kActions[] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 13, 14};
    for (unsigned s = 0; s < steps && at + 2 <= size; ++s, at += 2) {
        const uint8_t kind = data[at + 1];
        const int action = (kind & 0x80) ? 100 + (kind & 0x7F) % 121 : kActions[kind % 12];
        run.script.push_back({static_cast<unsigned>(data[at]) % 64, action});
    }

    std::vector<uint8_t> recording;
    if ((mode & 0x10) && at < size) {
        recording.assign(82, 0);
        recording[48] = data[at++];
        recording[58] = (mode & 0x20) ? 9 : 8;
    }
    recording.insert(recording.end(), data + at, data + size);

    const std::string base = std::string(tempDir()) + "/f";
    const std::string path = base + ((mode & 2) ? ".AVC" : ".avc");
    std::remove((base + ".idx").c_str());
    if (!writeFile(path, recording.data(), recording.size())) return 0;
    if (withIdx && !writeFile(base + ".idx", idx.data(), idx.size())) return 0;

    const int handle = avc_parse_open(path.c_str(), callback, &run);
    {
        std::unique_lock<std::mutex> lock(run.mutex);
        run.handle = handle;
        run.opened = true;
        run.cv.notify_all();
        if (handle && !run.cv.wait_for(lock, std::chrono::seconds(5), [&run] { return run.done; })) {
            std::fprintf(stderr, "the parser neither ended nor reported an end\n");
            std::abort();
        }
    }
    avc_parse_close(handle);
    std::remove(path.c_str());
    std::remove((base + ".idx").c_str());
    return 0;
}
