// The frame index of an AVC recording: one entry per frame record (its file
// offset and kind), kept in memory as an array of MAPPING_TABLE and on disk as
// the ".idx" file beside the recording (36-byte little-endian records, no file
// header), so the whole file is scanned only the first time it is opened.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

#include "platform/buffer_file.h"

// One index entry; entry i describes the i-th frame record of the file.
struct MAPPING_TABLE {
    uint64_t qwOffset; // file offset of the record's flags word
    uint32_t dwType;   // AVC_ENTRY_* (check_mapping_table_type)
};

constexpr unsigned long AVC_IDX_RECORD_SIZE = 36;
// Records per write. The file appears under its name only when complete, so the block size
// is not seen in it; large blocks keep the writes few.
constexpr unsigned long AVC_IDX_BLOCK_RECORDS = 8192;
constexpr unsigned long AVC_IDX_LOAD_RECORDS = 128; // records per read

// A run of this many consecutive records without payload is damage, not recording: six zero
// bytes make a legal empty record, so a file of zeros would otherwise index as billions of
// them. Recorders write a payload with every record; a build ends at such a run (the run
// itself is not indexed), as it ends at a truncation.
constexpr unsigned long AVC_MAX_EMPTY_RECORD_RUN = 4096;

// Whether an entry type is a place a seek or a rewind may land on.
inline bool is_key_entry_type(uint32_t type) {
    return type == 0x1001 || type == 0;
}

// Loads an index file into a new zero-filled array (free with std::free).
// Returns 1 with *out and *count set; 0 (nothing stored) for a NULL file, a
// read error, an allocation failure, or a length that is not a whole number
// of records (an interrupted write).
int get_mapping_table(MAPPING_TABLE **out, FILE *idx, unsigned long *count);

// Loads the index file of a recording only when it may describe it, never trusting its size:
// a file longer than the recording's frames (total, and the records the data can hold) is
// refused before anything is read; the rest is read in bounded pieces into a table that grows
// with them, each piece checked as it comes (first entry at firstOffset, increasing offsets
// inside the file, known types, records that end where the next entry starts, no run of
// AVC_MAX_EMPTY_RECORD_RUN records too short to carry a payload), so a foreign or forged file
// is refused after its first piece. Last the whole table must pass check_mapping_table.
// Returns 1 with *out (free with std::free) and *count set; 0, storing nothing, otherwise.
// The reader is left at firstOffset.
int load_mapping_table(FILE *idx, unsigned long total, uint64_t firstOffset, uint64_t fileSize,
                       BUFFER_FILE *reader, MAPPING_TABLE **out, unsigned long *count);

// Decides whether a loaded index describes this recording: at least one entry,
// the first at firstOffset, offsets strictly increasing and inside the file,
// known entry types, a sample of records (up to 64, spread over the file) each
// ending exactly where the next entry starts, the last record complete, and
// count equal to total -- or smaller only when no complete record follows the
// last indexed one (a truncated recording). Probes the recording's stream with
// a small reader of its own and leaves reader at firstOffset. 1 = trust it.
int check_mapping_table(const MAPPING_TABLE *table, unsigned long count, unsigned long total,
                        uint64_t firstOffset, uint64_t fileSize, BUFFER_FILE *reader);

// First key entry at index from or after it, below count: 1 with *index set;
// 0 with *index = 0 when there is none.
int seek_i_index_next(const MAPPING_TABLE *table, unsigned long count, unsigned long from,
                      unsigned long *index);

// 1-based number of the last key entry at index from-1 or below; 1 when from is
// below 2 or no key entry lies there. Indices at or above count are not read.
// Always returns 1.
int seek_i_index_last(const MAPPING_TABLE *table, unsigned long count, unsigned long from,
                      unsigned long *number);

// Writes an index file: records go to "<path>.tmp" in blocks and the
// file is renamed to its real name only by commit(), so a reader never finds a
// partial index under the real name. Offsets at or above 4 GiB do not fit the
// file's 32-bit field: such an index is not written at all.
class MappingTableWriter {
  public:
    MappingTableWriter() = default;
    ~MappingTableWriter(); // abandons an uncommitted file
    MappingTableWriter(const MappingTableWriter &) = delete;
    MappingTableWriter &operator=(const MappingTableWriter &) = delete;

    // 1 when the temporary file was created.
    int open(const std::string &idxPath);
    // Appends one record; 0 once the index can no longer be written.
    int append(uint64_t offset, uint32_t type);
    // Writes what is buffered and puts the file in place: 1 on success; else
    // the temporary file is removed and 0 returned.
    int commit();
    // Closes and removes the temporary file.
    void abandon();

    bool isOpen() const { return file_ != nullptr; }

  private:
    int flush();

    FILE *file_ = nullptr;
    std::string path_;
    std::string tempPath_;
    std::unique_ptr<unsigned char[]> block_; // AVC_IDX_BLOCK_RECORDS records
    unsigned long used_ = 0;
    bool failed_ = false;
};

// Called after each indexed frame with the number of entries built so far; a
// non-zero result stops the build.
typedef int (*mapping_build_progress)(void *user, unsigned long built);

// Builds the index by reading every frame record from firstOffset on: entry i
// is the i-th record read (whatever frame number it carries), up to total
// entries, the first short read, or a run of AVC_MAX_EMPTY_RECORD_RUN records
// without payload (left out of the index). frameBuf (frameCapacity bytes) receives
// each payload. When idxPath is given the index file is written beside the
// recording once the build has finished. Returns 1 when the build finished
// (total reached or the data ended), 0 when progress stopped it or an argument
// was missing; *built = entries filled. The reader is left at firstOffset.
int build_mapping_table(BUFFER_FILE *reader, uint64_t firstOffset, unsigned long total, unsigned char version,
                        char *frameBuf, unsigned long frameCapacity, MAPPING_TABLE *table,
                        unsigned long *built, const char *idxPath, mapping_build_progress progress,
                        void *user);

// The same build into a table that grows with the records really read (never sized from the
// header's claim): *table (NULL or a block of std::malloc) is replaced by the grown table, to
// be freed with std::free also on failure. 0 as well when memory runs out (*built entries
// are valid).
int build_mapping_table_grown(BUFFER_FILE *reader, uint64_t firstOffset, unsigned long total,
                              unsigned char version, char *frameBuf, unsigned long frameCapacity,
                              MAPPING_TABLE **table, unsigned long *built, const char *idxPath,
                              mapping_build_progress progress, void *user);
