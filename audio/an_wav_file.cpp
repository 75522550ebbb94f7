#include "audio/an_wav_file.h"

#include "platform/byte_order.h"
#include "platform/log.h"
#include "platform/portable.h"

#include <memory>
#include <sys/stat.h>

namespace {
struct FileCloser {
    void operator()(FILE *fp) const { std::fclose(fp); }
};

bool readExact(FILE *fp, uint8_t *out, size_t n) {
    size_t got = std::fread(out, 1, n, fp);
    for (size_t i = got; i < n; ++i)
        out[i] = 0;
    return got == n;
}
} // namespace

int16_t ANWAVFile::nextShort(FILE *fp) {
    uint8_t b[2];
    readExact(fp, b, 2);
    return static_cast<int16_t>(readLE16(b));
}

uint32_t ANWAVFile::nextInt(FILE *fp) {
    uint8_t b[4];
    readExact(fp, b, 4);
    return readLE32(b);
}

std::string ANWAVFile::nextFourBytes(FILE *fp) {
    uint8_t b[4];
    size_t got = std::fread(b, 1, 4, fp);
    return std::string(reinterpret_cast<const char *>(b), got);
}

bool ANWAVFile::loadFromFile(const std::string &path) {
    std::unique_ptr<FILE, FileCloser> fp(file_open_regular(path.c_str()));
    if (!fp) {
        player_log("Cannot open WAVE file %s\n", path.c_str());
        return false;
    }
    struct stat st {};
    const int64_t fileSize = fstat(fileno(fp.get()), &st) == 0 ? int64_t(st.st_size) : 0;

    // RIFF header and the "fmt " chunk identifier.
    std::string riff = nextFourBytes(fp.get());
    nextInt(fp.get());
    std::string wave = nextFourBytes(fp.get());
    std::string fmt = nextFourBytes(fp.get());
    if (riff != "RIFF" || wave != "WAVE" || fmt != "fmt ") {
        player_log("Not a WAVE file: %s\n", path.c_str());
        return false;
    }

    if (nextInt(fp.get()) != 16) {
        player_log("ERROR, invalid format length\n");
        return false;
    }
    wFormatTag_ = nextShort(fp.get());
    nChannels_ = nextShort(fp.get());
    if (wFormatTag_ != 1) {
        player_log("Unsupported format: %d\n", wFormatTag_);
        return false;
    }
    if (nChannels_ >= 3) {
        player_log("Only support mono or sterio audio not %d\n", nChannels_);
        return false;
    }
    nSamplesPerSec_ = static_cast<int32_t>(nextInt(fp.get()));
    nAvgBytesPerSec_ = static_cast<int32_t>(nextInt(fp.get()));
    nBlockAlign_ = nextShort(fp.get());
    wBitsPerSample_ = nextShort(fp.get());
    if (std::feof(fp.get())) {
        player_log("Truncated WAVE header\n");
        return false;
    }
    // A block is one sample of every channel; anything else cannot be split into frames.
    const int bytesPerSample = (wBitsPerSample_ + 7) / 8;
    if (nChannels_ <= 0 || nSamplesPerSec_ <= 0 || wBitsPerSample_ <= 0 ||
        nBlockAlign_ != nChannels_ * bytesPerSample) {
        player_log("Invalid WAVE format: channels %d, rate %d, block align %d, bits %d\n", nChannels_,
                   nSamplesPerSec_, nBlockAlign_, wBitsPerSample_);
        return false;
    }

    // Walk the chunks to the first "data" one; writers put LIST and others in between.
    for (;;) {
        std::string id = nextFourBytes(fp.get());
        uint32_t len = nextInt(fp.get());
        if (id.size() != 4 || std::feof(fp.get())) {
            player_log("No data chunk in %s\n", path.c_str());
            return false;
        }
        if (id == "data") {
            const int64_t here = ftello(fp.get());
            const int64_t avail = fileSize > here ? fileSize - here : 0;
            const int64_t n = std::min<int64_t>(len, avail);
            samples_.assign(static_cast<size_t>(n), 0);
            if (n > 0) samples_.resize(std::fread(samples_.data(), 1, static_cast<size_t>(n), fp.get()));
            break;
        }
        if (fseeko(fp.get(), off_t(len) + (len & 1), SEEK_CUR) != 0) return false;
    }

    player_log("Samples per Second: %d\n\t\t  nAvgBytesPerSec: %d\n\t\t  nBlockAlign: %d\n\t\t  "
               "wBitsPerSample: %d\n",
               nSamplesPerSec_, nAvgBytesPerSec_, nBlockAlign_, wBitsPerSample_);
    return true;
}

std::vector<uint8_t> ANWAVFile::dataForNumberSamples(int n) const {
    if (n <= 0 || nBlockAlign_ <= 0) return {};
    const size_t want = size_t(n) * size_t(nBlockAlign_);
    const size_t len = std::min(want, samples_.size());
    return std::vector<uint8_t>(samples_.begin(), samples_.begin() + static_cast<std::ptrdiff_t>(len));
}

int ANWAVFile::numberOfSamples(float seconds) const {
    if (nBlockAlign_ <= 0 || nSamplesPerSec_ <= 0) return 0;
    const int64_t total = int64_t(samples_.size()) / nBlockAlign_;
    if (!(seconds <= float(total / nSamplesPerSec_))) return static_cast<int>(total);
    if (seconds <= 0) return 0;
    return static_cast<int>(double(nSamplesPerSec_) * seconds);
}
