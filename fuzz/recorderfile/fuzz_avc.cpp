// Feeds arbitrary bytes to the AVC header and frame readers, the payload tests
// and the index build and check, as a recording file would reach them.
#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "recorderfile/avc_format.h"
#include "recorderfile/avc_index.h"

namespace {

constexpr unsigned long kFrameCapacity = 4096;
constexpr unsigned long kMaxTable = 4096;

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size < 4) return 0;
    // The first byte chooses: odd = the rest is the whole file; even = a plain
    // main header (version byte 1, total frames byte 2, main flags byte 3) is
    // put in front, so the frame readers are reached at once.
    std::vector<char> copy;
    if (data[0] & 1) {
        copy.assign(data + 1, data + size);
    } else {
        copy.assign(82, 0);
        copy[48] = static_cast<char>(data[2]);
        copy[58] = static_cast<char>(data[1]);
        copy[76] = static_cast<char>(data[3] & 0x01); // no optional fields
        copy.insert(copy.end(), data + 4, data + size);
    }
    size = copy.size();
    if (size == 0) return 0;
    FILE *f = fmemopen(copy.data(), copy.size(), "rb");
    if (!f) return 0;
    // A small buffer so reads cross refills often.
    BUFFER_FILE reader{};
    if (buffer_file_init(&reader, f, 61) != 1) {
        buffer_file_release(&reader);
        std::fclose(f);
        return 0;
    }

    HEADER_MAIN_EX header{};
    unsigned long headerLen = 0;
    if (parse_main_header(&reader, &header, &headerLen) == 1) {
        if (header.pTitle) {
            static char titles[AVC_TITLE_ROWS][AVC_TITLE_ROW_SIZE];
            get_channel_title(&titles[0][0], header.pTitle, header.wTitleLength);
        }
        // Exactly the capacity on the heap, so any write past it is caught.
        std::unique_ptr<char[]> frame(new char[kFrameCapacity]);
        unsigned long pos = headerLen;
        for (int n = 0; n < 10000; ++n) {
            HEADER_FRAME fh;
            const int r = get_avc_frame(&reader, &fh, frame.get(), kFrameCapacity, &pos);
            if (r == AVC_READ_SHORT) break;
            char *es = nullptr;
            unsigned long esLen = 0;
            if (fix_avc_frame(frame.get(), fh.dwLength, &es, &esLen, header.main.byVersion) == 1) {
                fix_width_hight(es, esLen, fh.byStreamType, &fh.wWidth, &fh.wHeight);
                check_i_frame(es, esLen, fh.byStreamType);
                check_mapping_table_type(es, esLen, fh.byStreamType);
            }
        }

        const unsigned long total =
            header.main.dwTotalFrames < kMaxTable ? header.main.dwTotalFrames : kMaxTable;
        std::vector<MAPPING_TABLE> table(total ? total : 1);
        unsigned long built = 0;
        build_mapping_table(&reader, headerLen, total, header.main.byVersion, frame.get(), kFrameCapacity,
                            table.data(), &built, nullptr, nullptr, nullptr);
        check_mapping_table(table.data(), built, total, headerLen, size, &reader);

        // The growing build, and the loader on what it built (one byte changed when bit 1 of
        // the first byte is set), through a file in memory.
        MAPPING_TABLE *grown = nullptr;
        unsigned long grownCount = 0;
        build_mapping_table_grown(&reader, headerLen, header.main.dwTotalFrames, header.main.byVersion,
                                  frame.get(), kFrameCapacity, &grown, &grownCount, nullptr, nullptr,
                                  nullptr);
        static const int idxFd = memfd_create("fuzz_avc_idx", MFD_CLOEXEC);
        if (idxFd >= 0 && grownCount > 0 && ftruncate(idxFd, 0) == 0) {
            std::vector<unsigned char> idx(grownCount * AVC_IDX_RECORD_SIZE, 0);
            for (unsigned long i = 0; i < grownCount; ++i) {
                for (int k = 0; k < 4; ++k) {
                    idx[i * AVC_IDX_RECORD_SIZE + 8 + k] =
                        static_cast<unsigned char>(grown[i].qwOffset >> (8 * k));
                    idx[i * AVC_IDX_RECORD_SIZE + 12 + k] =
                        static_cast<unsigned char>(grown[i].dwType >> (8 * k));
                }
            }
            if (data[0] & 2) idx[data[2] % idx.size()] ^= static_cast<unsigned char>(data[3] | 1);
            if (pwrite(idxFd, idx.data(), idx.size(), 0) == static_cast<ssize_t>(idx.size())) {
                FILE *idxFile = fdopen(dup(idxFd), "rb");
                if (idxFile) {
                    MAPPING_TABLE *loaded = nullptr;
                    unsigned long loadedCount = 0;
                    if (load_mapping_table(idxFile, header.main.dwTotalFrames, headerLen, size, &reader,
                                           &loaded, &loadedCount) == 1)
                        std::free(loaded);
                    std::fclose(idxFile);
                }
            }
        }
        std::free(grown);
        unsigned long idx = 0;
        seek_i_index_next(table.data(), built, built / 2, &idx);
        seek_i_index_last(table.data(), built, built + 3, &idx);
    }
    release_main_header(&header);
    buffer_file_release(&reader);
    std::fclose(f);
    return 0;
}
