#include "recorderfile/avc_index.h"

#include <cstdlib>
#include <cstring>
#include <new>
#include <sys/stat.h>
#include <sys/types.h>

#include "platform/byte_order.h"
#include "platform/log.h"
#include "platform/portable.h"
#include "recorderfile/avc_format.h"

namespace {

bool knownEntryType(uint32_t type) {
    switch (type) {
    case AVC_ENTRY_OTHER:
    case AVC_ENTRY_VIDEO_KEY:
    case AVC_ENTRY_VIDEO:
    case AVC_ENTRY_UNDECODED:
    case AVC_ENTRY_ULAW:
    case AVC_ENTRY_PCM8:
    case AVC_ENTRY_G723:
    case AVC_ENTRY_PCM16:
    case AVC_ENTRY_PCM16_2:
        return true;
    default:
        return false;
    }
}

constexpr unsigned long kProbeCapacity = 512; // more than the largest frame header
constexpr unsigned long kMinRecordSize = 6;   // flags word + trailing u16
// The smallest record that carries a payload: flags, length, trailing u16, one byte.
constexpr uint64_t kMinPayloadRecordSize = 11;
constexpr unsigned long kFirstTableRoom = 4096;
constexpr unsigned long kLinkSamples = 64;
constexpr unsigned long kBlockBytes = AVC_IDX_RECORD_SIZE * AVC_IDX_BLOCK_RECORDS;

// Offset just past the record at offset; false when its header is short.
bool recordEnd(BUFFER_FILE *probe, uint64_t offset, uint64_t &end) {
    if (buffer_file_set(probe, offset) != 1) return false;
    HEADER_FRAME header;
    unsigned long headerLen = 0;
    if (parse_frame_header(probe, &header, headerLen) == AVC_READ_SHORT) return false;
    end = offset + headerLen + header.dwLength;
    return true;
}

} // namespace

int get_mapping_table(MAPPING_TABLE **out, FILE *idx, unsigned long *count) {
    if (!idx || !out) return 0;
    if (fseeko(idx, 0, SEEK_END) != 0) return 0;
    const off_t size = ftello(idx);
    if (size < 0 || static_cast<uint64_t>(size) % AVC_IDX_RECORD_SIZE != 0) {
        fseeko(idx, 0, SEEK_SET);
        return 0;
    }
    const uint64_t entries = static_cast<uint64_t>(size) / AVC_IDX_RECORD_SIZE;
    auto *table = static_cast<MAPPING_TABLE *>(std::calloc(entries ? entries : 1, sizeof(MAPPING_TABLE)));
    if (!table) {
        fseeko(idx, 0, SEEK_SET);
        return 0;
    }
    fseeko(idx, 0, SEEK_SET);
    unsigned char chunk[AVC_IDX_RECORD_SIZE * AVC_IDX_LOAD_RECORDS];
    uint64_t n = 0;
    while (n < entries) {
        const size_t got = std::fread(chunk, 1, sizeof chunk, idx);
        const size_t records = got / AVC_IDX_RECORD_SIZE;
        for (size_t r = 0; r < records && n < entries; ++r, ++n) {
            table[n].qwOffset = readLE32(chunk + r * AVC_IDX_RECORD_SIZE + 8);
            table[n].dwType = readLE32(chunk + r * AVC_IDX_RECORD_SIZE + 12);
        }
        if (got < sizeof chunk) break;
    }
    fseeko(idx, 0, SEEK_SET);
    if (n != entries) { // the file shrank or could not be read
        std::free(table);
        return 0;
    }
    *out = table;
    if (count) *count = static_cast<unsigned long>(entries);
    return 1;
}

namespace {

int checkTable(const MAPPING_TABLE *table, unsigned long count, unsigned long total, uint64_t firstOffset,
               uint64_t fileSize, BUFFER_FILE *reader) {
    if (!table || !reader->stream || count == 0 || count > total) return 0;
    if (table[0].qwOffset != firstOffset) return 0;
    for (unsigned long i = 0; i < count; ++i) {
        if (table[i].qwOffset >= fileSize || !knownEntryType(table[i].dwType)) return 0;
        if (i > 0 && table[i].qwOffset <= table[i - 1].qwOffset) return 0;
    }

    // Headers are read through a small reader of their own: a refill of the
    // caller's large buffer per probe would read far more than the headers.
    BUFFER_FILE probe{};
    if (buffer_file_init(&probe, reader->stream, kProbeCapacity) != 1) {
        buffer_file_release(&probe);
        return 0;
    }
    int trusted = 1;
    // A sample of records spread over the file must each end exactly where the
    // next entry starts: an index of another recording fails this.
    const unsigned long links = count - 1;
    const unsigned long samples = links < kLinkSamples ? links : kLinkSamples;
    for (unsigned long k = 0; trusted && k < samples; ++k) {
        const unsigned long i =
            samples == links
                ? k
                : static_cast<unsigned long>(static_cast<uint64_t>(k) * (links - 1) / (samples - 1));
        uint64_t end = 0;
        if (!recordEnd(&probe, table[i].qwOffset, end) || end != table[i + 1].qwOffset) trusted = 0;
    }
    uint64_t end = 0;
    if (trusted && (!recordEnd(&probe, table[count - 1].qwOffset, end) || end > fileSize))
        trusted = 0; // the last indexed record is not complete in this file
    if (trusted && count < total && end < fileSize) {
        // Fewer entries than frames: trusted only if the data ends here, that
        // is, no complete record follows the last indexed one.
        uint64_t nextEnd = 0;
        if (recordEnd(&probe, end, nextEnd) && nextEnd <= fileSize) trusted = 0;
    }
    buffer_file_release(&probe);
    return trusted;
}

} // namespace

namespace {

// Makes room for at least `need` entries, doubling; false when memory runs out (the table
// stays as it was).
bool growTable(MAPPING_TABLE **table, unsigned long *room, unsigned long need, unsigned long limit) {
    if (need <= *room) return true;
    uint64_t next = *room ? static_cast<uint64_t>(*room) * 2 : kFirstTableRoom;
    if (next < need) next = need;
    if (next > limit) next = limit;
    if (next < need) return false;
    auto *grown =
        static_cast<MAPPING_TABLE *>(std::realloc(*table, static_cast<size_t>(next) * sizeof(MAPPING_TABLE)));
    if (!grown) return false;
    *table = grown;
    *room = static_cast<unsigned long>(next);
    return true;
}

} // namespace

int load_mapping_table(FILE *idx, unsigned long total, uint64_t firstOffset, uint64_t fileSize,
                       BUFFER_FILE *reader, MAPPING_TABLE **out, unsigned long *count) {
    if (!idx || !out || !reader || !reader->stream || fileSize <= firstOffset) return 0;
    struct stat st {};
    if (fstat(fileno(idx), &st) != 0 || !S_ISREG(st.st_mode) || st.st_size <= 0) return 0;
    const uint64_t size = static_cast<uint64_t>(st.st_size);
    const uint64_t entries = size / AVC_IDX_RECORD_SIZE;
    uint64_t fits = (fileSize - firstOffset) / kMinRecordSize;
    if (fits > total) fits = total;
    if (size % AVC_IDX_RECORD_SIZE != 0 || entries > fits) {
        player_log("AVC index of %llu bytes cannot describe this recording\n",
                   static_cast<unsigned long long>(size));
        return 0;
    }
    if (fseeko(idx, 0, SEEK_SET) != 0) return 0;

    BUFFER_FILE probe{};
    if (buffer_file_init(&probe, reader->stream, kProbeCapacity) != 1) {
        buffer_file_release(&probe);
        return 0;
    }
    MAPPING_TABLE *table = nullptr;
    unsigned long room = 0;
    unsigned long n = 0;
    unsigned long shortRun = 0;
    bool ok = true;
    unsigned char chunk[AVC_IDX_RECORD_SIZE * AVC_IDX_LOAD_RECORDS];
    while (ok && n < entries) {
        const size_t got = std::fread(chunk, 1, sizeof chunk, idx);
        const unsigned long records = static_cast<unsigned long>(got / AVC_IDX_RECORD_SIZE);
        if (records == 0 || !growTable(&table, &room, n + records, static_cast<unsigned long>(entries))) {
            ok = false;
            break;
        }
        const unsigned long pieceStart = n;
        for (unsigned long r = 0; ok && r < records && n < entries; ++r, ++n) {
            MAPPING_TABLE &e = table[n];
            e.qwOffset = readLE32(chunk + r * AVC_IDX_RECORD_SIZE + 8);
            e.dwType = readLE32(chunk + r * AVC_IDX_RECORD_SIZE + 12);
            if (e.qwOffset >= fileSize || !knownEntryType(e.dwType)) {
                ok = false;
            } else if (n == 0) {
                ok = e.qwOffset == firstOffset;
            } else if (e.qwOffset <= table[n - 1].qwOffset) {
                ok = false;
            } else {
                shortRun = e.qwOffset - table[n - 1].qwOffset < kMinPayloadRecordSize ? shortRun + 1 : 0;
                ok = shortRun < AVC_MAX_EMPTY_RECORD_RUN;
            }
        }
        // One link per piece: its first record must end where the next entry starts.
        const unsigned long from = pieceStart > 0 ? pieceStart - 1 : 0;
        uint64_t end = 0;
        if (ok && from + 1 < n &&
            (!recordEnd(&probe, table[from].qwOffset, end) || end != table[from + 1].qwOffset))
            ok = false;
    }
    buffer_file_release(&probe);
    if (ok && n == entries && check_mapping_table(table, n, total, firstOffset, fileSize, reader) == 1) {
        *out = table;
        if (count) *count = n;
        return 1;
    }
    buffer_file_set(reader, firstOffset);
    std::free(table);
    return 0;
}

int check_mapping_table(const MAPPING_TABLE *table, unsigned long count, unsigned long total,
                        uint64_t firstOffset, uint64_t fileSize, BUFFER_FILE *reader) {
    if (!reader) return 0;
    const int trusted = checkTable(table, count, total, firstOffset, fileSize, reader);
    // The probe moved the stream under the caller's reader: put it back in step.
    buffer_file_set(reader, firstOffset);
    return trusted;
}

int seek_i_index_next(const MAPPING_TABLE *table, unsigned long count, unsigned long from,
                      unsigned long *index) {
    if (index) *index = 0;
    if (!table) return 0;
    for (unsigned long i = from; i < count; ++i) {
        if (is_key_entry_type(table[i].dwType)) {
            if (index) *index = i;
            return 1;
        }
    }
    return 0;
}

int seek_i_index_last(const MAPPING_TABLE *table, unsigned long count, unsigned long from,
                      unsigned long *number) {
    unsigned long result = 1;
    if (table && from >= 2 && count > 0) {
        unsigned long i = from - 1;
        if (i > count - 1) i = count - 1;
        for (;;) {
            if (is_key_entry_type(table[i].dwType)) {
                result = i + 1;
                break;
            }
            if (i == 0) break; // no key entry at all: the first frame
            --i;
        }
    }
    if (number) *number = result;
    return 1;
}

MappingTableWriter::~MappingTableWriter() {
    abandon();
}

int MappingTableWriter::open(const std::string &idxPath) {
    abandon();
    path_ = idxPath;
    tempPath_ = idxPath + ".tmp";
    used_ = 0;
    failed_ = false;
    // The temporary name is ours: whatever an interrupted build left there goes (a FIFO
    // included, which would block the open).
    std::remove(tempPath_.c_str());
    if (!block_) block_.reset(new (std::nothrow) unsigned char[kBlockBytes]);
    file_ = block_ ? file_create_regular(tempPath_.c_str()) : nullptr;
    if (!file_) {
        player_log("Cannot create index file %s\n", tempPath_.c_str());
        return 0;
    }
    return 1;
}

int MappingTableWriter::flush() {
    if (used_ == 0) return 1;
    if (std::fwrite(block_.get(), 1, used_, file_) != used_) failed_ = true;
    used_ = 0;
    return failed_ ? 0 : 1;
}

int MappingTableWriter::append(uint64_t offset, uint32_t type) {
    if (!file_ || failed_) return 0;
    if (offset > 0xFFFFFFFFull) {
        player_log("Recording beyond 4 GiB: index file %s not written\n", path_.c_str());
        failed_ = true;
        return 0;
    }
    if (used_ + AVC_IDX_RECORD_SIZE > kBlockBytes && !flush()) return 0;
    unsigned char *rec = block_.get() + used_;
    std::memset(rec, 0, AVC_IDX_RECORD_SIZE);
    writeLE32(rec + 8, static_cast<uint32_t>(offset));
    writeLE32(rec + 12, type);
    used_ += AVC_IDX_RECORD_SIZE;
    return 1;
}

int MappingTableWriter::commit() {
    if (!file_) return 0;
    if (!failed_) flush();
    const bool closedOk = std::fclose(file_) == 0;
    file_ = nullptr;
    if (failed_ || !closedOk || std::rename(tempPath_.c_str(), path_.c_str()) != 0) {
        std::remove(tempPath_.c_str());
        return 0;
    }
    return 1;
}

void MappingTableWriter::abandon() {
    if (!file_) return;
    std::fclose(file_);
    file_ = nullptr;
    std::remove(tempPath_.c_str());
}

namespace {

// Where the build puts its entries: the caller's array, or a table that grows.
class EntrySink {
  public:
    EntrySink(MAPPING_TABLE *fixed, MAPPING_TABLE **grown, unsigned long total)
        : fixed_(fixed), grown_(grown), total_(total) {}
    bool put(unsigned long n, uint64_t offset, uint32_t type) {
        MAPPING_TABLE *table = fixed_;
        if (grown_) {
            if (!growTable(grown_, &room_, n + 1, total_)) return false;
            table = *grown_;
        }
        table[n].qwOffset = offset;
        table[n].dwType = type;
        return true;
    }
    MAPPING_TABLE &at(unsigned long n) { return grown_ ? (*grown_)[n] : fixed_[n]; }

  private:
    MAPPING_TABLE *fixed_;
    MAPPING_TABLE **grown_;
    unsigned long total_;
    unsigned long room_ = 0;
};

int buildTable(BUFFER_FILE *reader, uint64_t firstOffset, unsigned long total, unsigned char version,
               char *frameBuf, unsigned long frameCapacity, EntrySink &sink, unsigned long *built,
               const char *idxPath, mapping_build_progress progress, void *user) {
    if (built) *built = 0;
    if (!reader || (!frameBuf && frameCapacity > 0)) return 0;
    if (buffer_file_set(reader, firstOffset) != 1) return 0;

    MappingTableWriter writer;
    if (idxPath) writer.open(idxPath);

    unsigned long pos = static_cast<unsigned long>(firstOffset);
    unsigned long n = 0;
    // Records without payload since the last one with. Entries are written to the file only
    // once a record with payload (or the end of the data) shows they are not a run of damage.
    unsigned long emptyRun = 0;
    unsigned long written = 0;
    auto writePending = [&](unsigned long upTo) {
        for (; written < upTo; ++written)
            if (writer.isOpen()) writer.append(sink.at(written).qwOffset, sink.at(written).dwType);
    };
    bool stopped = false;
    bool failed = false;
    while (n < total) {
        const unsigned long offset = pos;
        uint32_t type = 0;
        uint32_t length = 0;
        if (index_avc_frame(reader, version, frameBuf, frameCapacity, &type, &length, &pos) == AVC_READ_SHORT)
            break; // the end of the data (or of a truncated recording)
        // Placed by position in the file, not by the frame number it carries.
        if (!sink.put(n, offset, type)) {
            player_log("AVC index: no memory for more than %lu entries\n", n);
            failed = true;
            break;
        }
        ++n;
        if (length == 0) {
            if (++emptyRun >= AVC_MAX_EMPTY_RECORD_RUN) {
                player_log("AVC index: %lu records without payload at %lu: the data ends before them\n",
                           emptyRun, static_cast<unsigned long>(sink.at(n - emptyRun).qwOffset));
                n -= emptyRun;
                emptyRun = 0;
                if (built) *built = n;
                break;
            }
        } else {
            emptyRun = 0;
            writePending(n);
        }
        if (built) *built = n;
        if (progress && progress(user, n) != 0) {
            stopped = true;
            break;
        }
    }
    if (stopped || failed) {
        writer.abandon();
    } else if (writer.isOpen()) {
        writePending(n);
        writer.commit();
    }
    buffer_file_set(reader, firstOffset);
    return stopped || failed ? 0 : 1;
}

} // namespace

int build_mapping_table(BUFFER_FILE *reader, uint64_t firstOffset, unsigned long total, unsigned char version,
                        char *frameBuf, unsigned long frameCapacity, MAPPING_TABLE *table,
                        unsigned long *built, const char *idxPath, mapping_build_progress progress,
                        void *user) {
    if (!table) {
        if (built) *built = 0;
        return 0;
    }
    EntrySink sink(table, nullptr, total);
    return buildTable(reader, firstOffset, total, version, frameBuf, frameCapacity, sink, built, idxPath,
                      progress, user);
}

int build_mapping_table_grown(BUFFER_FILE *reader, uint64_t firstOffset, unsigned long total,
                              unsigned char version, char *frameBuf, unsigned long frameCapacity,
                              MAPPING_TABLE **table, unsigned long *built, const char *idxPath,
                              mapping_build_progress progress, void *user) {
    if (!table) {
        if (built) *built = 0;
        return 0;
    }
    EntrySink sink(nullptr, table, total);
    return buildTable(reader, firstOffset, total, version, frameBuf, frameCapacity, sink, built, idxPath,
                      progress, user);
}
