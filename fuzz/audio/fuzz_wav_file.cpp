// Feeds arbitrary bytes to the WAVE loader through a file, as the loader only reads files. The
// file lives in memory (memfd), reached by its /proc path: nothing is left on disk, however the
// run ends.
#include "audio/an_wav_file.h"
#include "platform/log.h"

#include <sys/mman.h>
#include <unistd.h>

#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    static const int fd = memfd_create("fuzz_wav", MFD_CLOEXEC);
    static const std::string path = "/proc/self/fd/" + std::to_string(fd);
    static bool quiet = (player_log_set_sink([](const std::string &) {}), true);
    (void)quiet;
    if (fd < 0 || ftruncate(fd, 0) != 0) return 0;
    for (size_t done = 0; done < size;) {
        const ssize_t n = pwrite(fd, data + done, size - done, static_cast<off_t>(done));
        if (n <= 0) return 0;
        done += static_cast<size_t>(n);
    }
    ANWAVFile w;
    if (w.loadFromFile(path)) {
        (void)w.numberOfSamples(1.5f);
        (void)w.dataForNumberSamples(w.numberOfSamples(100.0f) + 1);
    }
    return 0;
}
