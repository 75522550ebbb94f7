// Feeds arbitrary bytes to the WAVE loader through a file, as the loader only reads files.
#include "audio/an_wav_file.h"
#include "platform/log.h"

#include <cstdio>
#include <string>
#include <unistd.h>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    static const std::string path = "/tmp/fuzz_wav_" + std::to_string(getpid()) + ".wav";
    static bool quiet = (player_log_set_sink([](const std::string &) {}), true);
    (void)quiet;
    FILE *fp = std::fopen(path.c_str(), "wb");
    if (!fp) return 0;
    std::fwrite(data, 1, size, fp);
    std::fclose(fp);
    ANWAVFile w;
    if (w.loadFromFile(path)) {
        (void)w.numberOfSamples(1.5f);
        (void)w.dataForNumberSamples(w.numberOfSamples(100.0f) + 1);
    }
    return 0;
}
