#include "recorderfile/avc_format.h"

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/byte_order.h"
#include "platform/log.h"
#include "streaminfo/h264_stream.h"
#include "streaminfo/mpeg4_probe.h"

namespace {

_SYSTEMTIME decodeSystemTime(const uint8_t *p) {
    _SYSTEMTIME st;
    st.wYear = readLE16(p);
    st.wMonth = readLE16(p + 2);
    st.wDayOfWeek = readLE16(p + 4);
    st.wDay = readLE16(p + 6);
    st.wHour = readLE16(p + 8);
    st.wMinute = readLE16(p + 10);
    st.wSecond = readLE16(p + 12);
    st.wMilliseconds = readLE16(p + 14);
    return st;
}

// Reads fields one after the other from a BUFFER_FILE; once a read comes up
// short every later read fails too. count is the bytes of the fields read whole.
class FieldReader {
  public:
    explicit FieldReader(BUFFER_FILE *reader) : reader_(reader) {}

    bool bytes(void *dst, unsigned long n) {
        if (!ok_) return false;
        if (n > 0 && buffer_file_pop(reader_, static_cast<char *>(dst), n) != 1) {
            ok_ = false;
            return false;
        }
        count_ += n;
        return true;
    }
    bool u8(uint8_t &v) { return bytes(&v, 1); }
    bool u16(uint16_t &v) { return littleEndian(v, readLE16); }
    bool u32(uint32_t &v) { return littleEndian(v, readLE32); }
    bool u64(uint64_t &v) { return littleEndian(v, readLE64); }
    bool ok() const { return ok_; }
    unsigned long count() const { return count_; }

  private:
    template <typename T> bool littleEndian(T &v, T (*read)(const uint8_t *)) {
        uint8_t b[sizeof(T)] = {};
        if (!bytes(b, sizeof b)) return false;
        v = read(b);
        return true;
    }

    BUFFER_FILE *reader_;
    unsigned long count_ = 0;
    bool ok_ = true;
};

void decodeMainFixed(const uint8_t *p, HEADER_MAIN &m) {
    m.wField0 = readLE16(p + 0);
    m.wField2 = readLE16(p + 2);
    std::memcpy(m.byField4, p + 4, 4);
    m.stTime8 = decodeSystemTime(p + 8);
    m.stTime24 = decodeSystemTime(p + 24);
    m.dwField40 = readLE32(p + 40);
    m.dwField44 = readLE32(p + 44);
    m.dwTotalFrames = readLE32(p + 48);
    m.dwField52 = readLE32(p + 52);
    m.wField56 = readLE16(p + 56);
    m.byVersion = p[58];
    m.byField59 = p[59];
    std::memcpy(m.szField60, p + 60, 16);
    m.dwFlags = readLE32(p + 76);
}

// Whole seconds since 1900-01-01 into a calendar time.
void secondsToTime(uint32_t seconds, _SYSTEMTIME *out) {
    _tagNtpTime ntp;
    ntp.dwTime[0] = 0;
    ntp.dwTime[1] = seconds;
    parser_time::TransferNtp2Sys(&ntp, out);
}

// A probe length for the stream-inspection functions, which take an int.
int probeLength(unsigned long len) {
    return len > static_cast<unsigned long>(INT_MAX) ? INT_MAX : static_cast<int>(len);
}

} // namespace

int parse_main_header(BUFFER_FILE *reader, HEADER_MAIN_EX *header, unsigned long *consumed) {
    if (consumed) *consumed = 0;
    if (!reader || !header) return 0;
    FieldReader in(reader);
    uint8_t fixed[AVC_MAIN_HEADER_FIXED_SIZE] = {};
    const bool fixedOk = in.bytes(fixed, sizeof fixed);
    // What was read stays in the record, even after a short read.
    decodeMainFixed(fixed, header->main);
    if (!fixedOk) return 0;

    const uint32_t flags = header->main.dwFlags;
    header->byFlag1 = static_cast<uint8_t>(flags & 1);
    bool ok = true;
    if (flags & AVC_MAIN_FLAG_QWORD)
        ok = in.u64(header->qwField2);
    else
        header->qwField2 = 0xFFFFFFFFull;
    if (ok && (flags & AVC_MAIN_FLAG_VIDEO_MASK)) ok = in.u32(header->dwVideoChannelMask);
    if (ok && (flags & AVC_MAIN_FLAG_TITLE)) {
        ok = in.u16(header->wTitleLength);
        if (ok) {
            std::free(header->pTitle);
            // One byte more than the text, always zero, so the text is terminated.
            header->pTitle =
                static_cast<char *>(std::calloc(static_cast<size_t>(header->wTitleLength) + 1, 1));
            if (!header->pTitle) {
                player_log("AVC header: cannot allocate %u bytes of title text\n", header->wTitleLength);
                ok = false;
            } else if (header->wTitleLength != 0) {
                ok = in.bytes(header->pTitle, header->wTitleLength);
                if (!ok) std::memset(header->pTitle, 0, static_cast<size_t>(header->wTitleLength) + 1);
            }
        }
    }
    if (ok && (flags & AVC_MAIN_FLAG_DWORD10)) ok = in.u32(header->dwField10);
    if (ok && (flags & AVC_MAIN_FLAG_AUDIO_MASK8)) {
        uint8_t mask = 0;
        ok = in.u8(mask);
        if (ok) header->dwAudioChannelMask = mask;
    }
    if (ok && (flags & AVC_MAIN_FLAG_AUDIO_MASK32)) ok = in.u32(header->dwAudioChannelMask);
    if (ok && (flags & AVC_MAIN_FLAG_WORD80)) ok = in.u16(header->wField80);
    if (ok) ok = in.u16(header->wTrailing);
    if (consumed) *consumed = in.count();
    return ok ? 1 : 0;
}

void release_main_header(HEADER_MAIN_EX *header) {
    if (!header) return;
    std::free(header->pTitle);
    header->pTitle = nullptr;
}

int parse_frame_header(BUFFER_FILE *reader, HEADER_FRAME *header, unsigned long &consumed) {
    if (!header) return AVC_READ_SHORT;
    std::memset(header, 0, sizeof *header);
    if (!reader) return AVC_READ_SHORT;
    FieldReader in(reader);
    uint32_t flags = 0;
    in.u32(flags);

    if (flags & AVC_FRAME_FLAG_NUMBER) in.u32(header->dwFrameNo);
    if (flags & AVC_FRAME_FLAG_LENGTH) in.u32(header->dwLength);
    if (flags & AVC_FRAME_FLAG_WIDTH) in.u16(header->wWidth);
    if (flags & AVC_FRAME_FLAG_HEIGHT) in.u16(header->wHeight);
    if (flags & AVC_FRAME_FLAG_TIMESTAMP) in.u32(header->dwTimeStamp);
    if (flags & AVC_FRAME_FLAG_CHANNEL) in.u8(header->byChannel);
    if (flags & AVC_FRAME_FLAG_BYTE40) in.u8(header->byField40);
    if (flags & AVC_FRAME_FLAG_STREAM_TYPE) in.u8(header->byStreamType);
    if (flags & AVC_FRAME_FLAG_FRAME_TIME) {
        uint32_t seconds = 0;
        if (in.u32(seconds)) secondsToTime(seconds, &header->stFrameTime);
    }
    if (flags & AVC_FRAME_FLAG_INT_PAIR) {
        uint32_t a = 0, b = 0;
        if (in.u32(a) && in.u32(b)) {
            header->iField200[0] = static_cast<int32_t>(a);
            header->iField200[1] = static_cast<int32_t>(b);
        }
    }
    if (flags & AVC_FRAME_FLAG_BYTE400) in.u8(header->byField400);
    if (flags & AVC_FRAME_FLAG_BYTE800) in.u8(header->byField800);
    if (flags & AVC_FRAME_FLAG_PICTURE_STRUCT) {
        uint8_t b = 0;
        if (in.u8(b)) {
            if (b & 1) {
                header->byFirstField = 1;
                header->byFieldCoded = 1;
            } else {
                header->byFieldCoded = 0;
                header->byFirstField = ((b & 2) || b == 0x10) ? 1 : 0;
            }
        }
    }
    if (flags & AVC_FRAME_FLAG_DISPLAY_TIME) {
        uint32_t seconds = 0;
        if (in.u32(seconds)) secondsToTime(seconds, &header->stDisplayTime);
    } else {
        header->stDisplayTime = header->stFrameTime;
    }
    if (flags & AVC_FRAME_FLAG_BLOCK40) {
        uint8_t b[40] = {};
        if (in.bytes(b, sizeof b)) {
            FRAME_BLOCK40 &blk = header->block4000;
            blk.by0 = b[0];
            blk.by1 = b[1];
            blk.by2 = b[2];
            blk.by3 = b[3];
            std::memcpy(blk.bytes, b + 4, 16);
            blk.dwValue = readLE32(b + 20);
            blk.stTime = decodeSystemTime(b + 24);
        }
    }
    if (flags & AVC_FRAME_FLAG_BYTES16) in.bytes(header->byField8000, 16);
    if (flags & AVC_FRAME_FLAG_DWORD10000) in.u32(header->dwField10000);
    bool marker = false;
    if (flags & AVC_FRAME_FLAG_MARKER) {
        if (in.u16(header->wMarker)) marker = header->wMarker == AVC_FRAME_MARKER;
    }
    if (flags & AVC_FRAME_FLAG_WORD40000000) in.u16(header->wField40000000);
    if (flags & AVC_FRAME_FLAG_WORD80000000) in.u16(header->wField80000000);
    uint16_t dropped = 0;
    in.u16(dropped);

    consumed += in.count();
    if (!in.ok()) return AVC_READ_SHORT;
    return marker ? AVC_READ_MARKER : AVC_READ_OK;
}

int get_avc_frame(BUFFER_FILE *reader, HEADER_FRAME *header, char *buf, unsigned long capacity,
                  unsigned long *pos) {
    unsigned long headerBytes = 0;
    const int result = parse_frame_header(reader, header, headerBytes);
    if (pos) *pos += headerBytes;
    if (result == AVC_READ_SHORT) return AVC_READ_SHORT;

    const unsigned long len = header->dwLength;
    if (len > capacity || (!buf && len > 0)) {
        // Too large for the frame buffer: read past the payload in chunks so the
        // position stays in step with the file, and drop the frame.
        char scratch[4096];
        char *chunk = (buf && capacity >= sizeof scratch) ? buf : scratch;
        const unsigned long chunkSize = (chunk == buf) ? capacity : sizeof scratch;
        unsigned long left = len;
        while (left > 0) {
            const unsigned long n = left < chunkSize ? left : chunkSize;
            if (buffer_file_pop(reader, chunk, n) != 1) return AVC_READ_SHORT;
            left -= n;
        }
        player_log("AVC frame %u: payload of %lu bytes exceeds the frame buffer (%lu bytes), dropped\n",
                   header->dwFrameNo, len, capacity);
        header->dwLength = 0;
        if (pos) *pos += len;
        return AVC_READ_DROPPED;
    }
    if (len > 0 && buffer_file_pop(reader, buf, len) != 1) return AVC_READ_SHORT;
    if (pos) *pos += len;
    return result;
}

namespace {

// Where the index needs to look in a frame header, from its flags word alone: the optional
// fields come in increasing bit order, so each offset is the width of the set fields before it.
struct FrameHeaderLayout {
    unsigned long size;     // the whole header, flags word and trailing u16 included
    unsigned long lengthAt; // the payload length, when its flag is set
    unsigned long typeAt;   // the stream type, when its flag is set
};

// Width of each optional field by its bit number; bits without a field have none.
constexpr unsigned char kFieldWidth[32] = {4, 4, 2, 2, 4, 1, 1, 1, 4, 8, 1, 1, 1, 4, 40, 16,
                                           4, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 2, 2,  2};

// Bytes of the fields that the set bits of one byte of the flags word select, for each byte
// value: a header's layout costs four table reads instead of a walk over every flag.
struct FieldBytesTable {
    unsigned char bytes[4][256];
    constexpr FieldBytesTable() : bytes() {
        for (int part = 0; part < 4; ++part)
            for (int v = 0; v < 256; ++v) {
                unsigned sum = 0;
                for (int bit = 0; bit < 8; ++bit)
                    if (v & (1 << bit)) sum += kFieldWidth[part * 8 + bit];
                bytes[part][v] = static_cast<unsigned char>(sum);
            }
    }
};
constexpr FieldBytesTable kFieldBytes;

unsigned long fieldBytes(uint32_t flags) {
    return kFieldBytes.bytes[0][flags & 0xFF] + kFieldBytes.bytes[1][(flags >> 8) & 0xFF] +
           kFieldBytes.bytes[2][(flags >> 16) & 0xFF] + kFieldBytes.bytes[3][flags >> 24];
}

FrameHeaderLayout frameHeaderLayout(uint32_t flags) {
    return {4 + fieldBytes(flags) + 2, 4 + fieldBytes(flags & (AVC_FRAME_FLAG_LENGTH - 1)),
            4 + fieldBytes(flags & (AVC_FRAME_FLAG_STREAM_TYPE - 1))};
}

// The entry type of a payload as it lies in memory.
uint32_t entryType(char *data, unsigned long len, unsigned char streamType, unsigned char version) {
    char *es = nullptr;
    unsigned long esLen = 0;
    if (fix_avc_frame(data, len, &es, &esLen, version) == 0) {
        es = nullptr;
        esLen = 0;
    }
    return check_mapping_table_type(es, esLen, streamType);
}

} // namespace

int index_avc_frame(BUFFER_FILE *reader, unsigned char version, char *buf, unsigned long capacity,
                    uint32_t *type, uint32_t *length, unsigned long *pos) {
    *type = AVC_ENTRY_OTHER;
    *length = 0;
    unsigned long moved = 0;
    // The common case: the whole record lies in the reader's buffer and is looked at there.
    if (char *record = buffer_file_peek(reader, 4)) {
        const unsigned long buffered = reader->valid - reader->readPos;
        const auto *u = reinterpret_cast<const uint8_t *>(record);
        const uint32_t flags = readLE32(u);
        const FrameHeaderLayout layout = frameHeaderLayout(flags);
        if (layout.size <= buffered) {
            const uint32_t len = (flags & AVC_FRAME_FLAG_LENGTH) ? readLE32(u + layout.lengthAt) : 0;
            const unsigned char streamType = (flags & AVC_FRAME_FLAG_STREAM_TYPE) ? u[layout.typeAt] : 0;
            if (len <= capacity && (buf || len == 0) && len <= buffered - layout.size) {
                // The next record's header is what the build waits for next: ask for it now.
                if (len < buffered - layout.size) __builtin_prefetch(record + layout.size + len);
                *type = entryType(record + layout.size, len, streamType, version);
                *length = len;
                buffer_file_skip(reader, layout.size + len); // within the buffer
                if (pos) *pos += layout.size + len;
                return AVC_READ_OK;
            }
        }
    }
    // A record that spans a refill (or the end of the data): read as get_avc_frame reads it,
    // its payload copied into buf, unless it is too large (then skipped, not copied).
    HEADER_FRAME header;
    if (parse_frame_header(reader, &header, moved) == AVC_READ_SHORT) {
        if (pos) *pos += moved;
        return AVC_READ_SHORT;
    }
    const uint32_t len = header.dwLength;
    if (len > capacity || (!buf && len > 0)) {
        if (buffer_file_skip(reader, len) != 1) return AVC_READ_SHORT;
        player_log("AVC frame %u: payload of %u bytes exceeds the frame buffer (%lu bytes), dropped\n",
                   header.dwFrameNo, len, capacity);
        if (pos) *pos += moved + len;
        *type = check_mapping_table_type(nullptr, 0, header.byStreamType);
        return AVC_READ_DROPPED;
    }
    if (len > 0 && buffer_file_pop(reader, buf, len) != 1) return AVC_READ_SHORT;
    if (pos) *pos += moved + len;
    *type = entryType(buf, len, header.byStreamType, version);
    *length = len;
    return AVC_READ_OK;
}

int check_read_extend_info(const bk_video_frame_header *prefix) {
    if (!prefix) return 0;
    return (prefix->bytes[22] & 0x20) ? 1 : 0;
}

int fix_avc_frame(char *data, unsigned long len, char **out, unsigned long *outLen, unsigned char version) {
    if (out) *out = data;
    if (outLen) *outLen = len;
    if (!data || len < 6) return 1;
    const auto *p = reinterpret_cast<const unsigned char *>(data);
    if (p[0] != 0 || p[1] != 0 || p[2] != 0 || p[3] != 1 || p[5] != 0x0F || (p[4] != 0x1F && p[4] != 0x1E))
        return 1;

    // 64-bit arithmetic: the extend-info length is a u32 from the file.
    uint64_t prefixLen = 20;
    bool known = true;
    if (version == 9) {
        if (p[4] == 0x1E) {
            prefixLen = 42;
        } else if (len < 23) {
            known = false; // the extend-info flag itself lies past the payload
        } else if (p[22] & 0x20) {
            if (len < 48)
                known = false;
            else
                prefixLen = 48 + static_cast<uint64_t>(readLE32(p + 44));
        } else {
            prefixLen = 44;
        }
    }
    if (!known || prefixLen > len) {
        if (outLen) *outLen = 0;
        return 0;
    }
    if (out) *out = data + prefixLen;
    if (outLen) *outLen = len - static_cast<unsigned long>(prefixLen);
    return 1;
}

void fix_width_hight(char *data, unsigned long len, unsigned char streamType, unsigned short *width,
                     unsigned short *height) {
    if (!data || !width || !height) return;
    if (*width != 0 && *height != 0) return;
    int w = 0, h = 0;
    int found = 0;
    if (streamType == AVC_STREAM_MPEG4)
        found = getMpeg4Dimensions(data, probeLength(len), &w, &h);
    else if (streamType == AVC_STREAM_H264)
        found = getH264Resolution(reinterpret_cast<const uint8_t *>(data), probeLength(len), &w, &h);
    else
        return;
    // A size the 16-bit fields cannot hold is not stored.
    if (found == 1 && w > 0 && h > 0 && w <= 0xFFFF && h <= 0xFFFF) {
        *width = static_cast<unsigned short>(w);
        *height = static_cast<unsigned short>(h);
    }
}

int check_h264_i_frame(char *data, unsigned long len) {
    if (!data || len < 5) return 0;
    const auto *p = reinterpret_cast<const unsigned char *>(data);
    // A frame that opens with a sequence parameter set is a key frame.
    return (p[0] == 0 && p[1] == 0 && p[2] == 0 && p[3] == 1 && (p[4] & 0x0F) == 7) ? 1 : 0;
}

int check_mpeg4_i_frame(char *data, unsigned long len) {
    if (!data) return 0;
    const auto *p = reinterpret_cast<const unsigned char *>(data);
    // The window of the three previous bytes starts as zeros.
    unsigned char w0 = 0, w1 = 0, w2 = 0;
    for (unsigned long i = 0; i < len; ++i) {
        const unsigned char b = p[i];
        if (w0 == 0 && w1 == 0 && w2 == 1 && b == 0xB6) {
            if (i + 1 >= len) return 0;
            return p[i + 1] < 0x40 ? 1 : 0; // vop_coding_type 0: intra
        }
        w0 = w1;
        w1 = w2;
        w2 = b;
    }
    return 0;
}

int check_i_frame(char *data, unsigned long len, unsigned char streamType) {
    switch (streamType) {
    case AVC_STREAM_MPEG4:
    case AVC_STREAM_MPEG4_B:
        return check_mpeg4_i_frame(data, len);
    case AVC_STREAM_MJPEG:
    case AVC_STREAM_MJPEG_B:
        return 1;
    case AVC_STREAM_H264:
        return check_h264_i_frame(data, len);
    default:
        return 0;
    }
}

uint32_t check_mapping_table_type(char *data, unsigned long len, unsigned char streamType) {
    switch (streamType) {
    case AVC_STREAM_MPEG4:
    case AVC_STREAM_MPEG4_B:
        return check_mpeg4_i_frame(data, len) ? AVC_ENTRY_VIDEO_KEY : AVC_ENTRY_VIDEO;
    case AVC_STREAM_H264:
        return check_h264_i_frame(data, len) ? AVC_ENTRY_VIDEO_KEY : AVC_ENTRY_VIDEO;
    case AVC_STREAM_UNDECODED:
        return AVC_ENTRY_UNDECODED;
    case AVC_STREAM_ULAW:
        return AVC_ENTRY_ULAW;
    case AVC_STREAM_PCM8:
        return AVC_ENTRY_PCM8;
    case AVC_STREAM_G723:
        return AVC_ENTRY_G723;
    case AVC_STREAM_PCM16:
        return AVC_ENTRY_PCM16;
    case AVC_STREAM_PCM16_2:
        return AVC_ENTRY_PCM16_2;
    default:
        return AVC_ENTRY_OTHER; // Motion JPEG and anything else
    }
}

int get_audio_samples(unsigned char) {
    return 8000;
}

int get_audio_bits(unsigned char streamType) {
    switch (streamType) {
    case AVC_STREAM_ULAW:
    case AVC_STREAM_PCM16:
    case AVC_STREAM_PCM16_2:
        return 16;
    case AVC_STREAM_PCM8:
    case AVC_STREAM_G723:
        return 8;
    default:
        return 0;
    }
}

int get_audio_channels(unsigned char streamType) {
    return streamType == AVC_STREAM_G723 ? 2 : 1;
}

int get_channel_title(char *out, const char *text, unsigned long len) {
    if (!out || !text) return 0;
    static const char kMarker[] = ".Title=";
    const unsigned long markerLen = sizeof kMarker - 1; // 7, "=" included
    int rows = 0;
    for (unsigned long eq = 0; eq < len; ++eq) {
        if (text[eq] != '=' || eq + 1 < markerLen) continue;
        const unsigned long markerStart = eq + 1 - markerLen;
        if (std::memcmp(text + markerStart, kMarker, markerLen) != 0) continue;
        // "H", then one or two digits, right before ".Title=".
        auto isDigit = [&](unsigned long i) { return text[i] >= '0' && text[i] <= '9'; };
        int channel = -1;
        if (markerStart >= 2 && isDigit(markerStart - 1) && text[markerStart - 2] == 'H') {
            channel = text[markerStart - 1] - '0';
        } else if (markerStart >= 3 && isDigit(markerStart - 1) && isDigit(markerStart - 2) &&
                   text[markerStart - 3] == 'H') {
            channel = (text[markerStart - 2] - '0') * 10 + (text[markerStart - 1] - '0');
        }
        if (channel < 1 || channel > AVC_TITLE_ROWS) continue;
        char *row = out + static_cast<size_t>(channel - 1) * AVC_TITLE_ROW_SIZE;
        unsigned long n = 0;
        for (unsigned long i = eq + 1; i < len && text[i] != '\n' && text[i] != '\0'; ++i) {
            if (n < static_cast<unsigned long>(AVC_TITLE_ROW_SIZE - 1)) row[n++] = text[i];
        }
        row[n] = '\0';
        ++rows;
    }
    return rows;
}
