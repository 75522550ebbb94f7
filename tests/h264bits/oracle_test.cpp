// Checks the readers, printers and writers against libx264 streams as
// FFmpeg's trace_headers filter parses them, and against FFmpeg's decoder.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "h264bits/h264_print.h"
#include "h264bits/h264_read.h"
#include "h264bits/h264_write.h"
#include "h264bits_util.h"
#include "streaminfo/bit_writer.h"
#include "streaminfo/oracle_util.h"

namespace {

struct ClipSpec {
    std::string name;
    std::string size;
    std::string options; // filters and encoder options
};

// Short clips that between them reach every syntax element x264 writes.
const std::vector<ClipSpec> kClips = {
    {"baseline", "176x144", "-pix_fmt yuv420p -c:v libx264 -profile:v baseline -x264-params aud=1:ref=3"},
    {"main_slices", "176x144",
     "-pix_fmt yuv420p -c:v libx264 -profile:v main -x264-params slices=2:ref=3:bframes=2:weightp=0"},
    {"high_pyramid", "176x144",
     "-pix_fmt yuv420p -c:v libx264 -x264-params ref=3:bframes=3:b-pyramid=normal:weightp=0:aud=1"},
    {"interlaced", "176x144",
     "-pix_fmt yuv420p -c:v libx264 -x264-params interlaced=1:ref=2:bframes=2:weightp=0:slices=2"},
    {"cqm_jvt", "176x144", "-pix_fmt yuv420p -c:v libx264 -x264-params cqm=jvt:weightp=0"},
    {"cqm_custom", "176x144",
     "-pix_fmt yuv420p -c:v libx264 -x264-params weightp=0:"
     "cqm4iy=6,13,20,27,11,18,25,9,16,23,7,14,21,28,12,19:"
     "cqm8=10,47,84,31,68,15,52,89,36,73,20,57,94,41,78,25,62,99,46,83,30,67,14,51,88,35,72,19,56,93,40,77,"
     "24,61,98,45,82,29,66,13,50,87,34,71,18,55,92,39,76,23,60,97,44,81,28,65,12,49,86,33,70,17,54,91"},
    {"hrd_sar_crop", "170x100",
     "-vf setsar=4/3 -pix_fmt yuv420p -c:v libx264 -b:v 200k -maxrate 300k -bufsize 400k "
     "-x264-params nal-hrd=vbr:weightp=0:bframes=1"},
    {"weighted", "176x144",
     "-vf fade=in:0:8 -pix_fmt yuv420p -c:v libx264 -x264-params ref=1:weightp=1:bframes=0"},
    {"cavlc", "176x144", "-pix_fmt yuv420p -c:v libx264 -x264-params cabac=0:weightp=0:bframes=2:ref=2"},
};

struct Clip {
    std::string name;
    std::string path;
    std::vector<std::vector<uint8_t>> nals;
    std::vector<TraceNal> trace;
};

int nal_type(const std::vector<uint8_t> &nal) {
    return nal[0] & 0x1f;
}

std::string to_bits(const std::vector<uint8_t> &bytes) {
    std::string s;
    for (uint8_t x : bytes)
        for (int k = 7; k >= 0; k--)
            s += char('0' + ((x >> k) & 1));
    return s;
}

std::vector<uint8_t> from_bits(const std::string &bits) {
    BitWriter w;
    w.bits(bits);
    return w.bytes();
}

std::string se_bits(int64_t v) {
    BitWriter w;
    w.se(v);
    return to_bits(w.bytes()).substr(0, w.size_bits());
}

// The bits our writer has produced so far.
std::string written_bits(const bs_t &b) {
    std::string all = to_bits(std::vector<uint8_t>(b.start, b.p + (b.bits_left < 8 ? 1 : 0)));
    return all.substr(0, size_t(b.p - b.start) * 8 + size_t(8 - b.bits_left));
}

// A NAL unit from its header byte and RBSP: emulation prevention as the
// standard has it, and a final 03 after a last zero byte.
std::vector<uint8_t> nal_from_rbsp(uint8_t header, const std::vector<uint8_t> &rbsp) {
    std::vector<uint8_t> nal = annexb_nal(header, rbsp);
    nal.erase(nal.begin(), nal.begin() + 4);
    if (!rbsp.empty() && rbsp.back() == 0) nal.push_back(3);
    return nal;
}

// Rounds a bit string up to whole bytes the way our writer does: a stop bit
// and zeros when it is not on a byte boundary, nothing when it is.
std::string our_trailing(std::string bits) {
    if (bits.size() % 8) {
        bits += '1';
        while (bits.size() % 8)
            bits += '0';
    }
    return bits;
}

std::string strip_index(const std::string &name) {
    size_t b = name.find('[');
    return b == std::string::npos ? name : name.substr(0, b);
}

// Indices of "name[i]" or "name[i][j]".
std::vector<int> indices(const std::string &name) {
    std::vector<int> idx;
    size_t p = 0;
    while ((p = name.find('[', p)) != std::string::npos) {
        idx.push_back(std::atoi(name.c_str() + p + 1));
        p++;
    }
    return idx;
}

class H264Oracle : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        if (!testutil::haveTool("ffmpeg")) return;
        dir_ = new testutil::TempDir;
        clips_ = new std::vector<Clip>;
        for (const ClipSpec &spec : kClips) {
            Clip c;
            c.name = spec.name;
            c.path = dir_->file(spec.name + ".264");
            if (!ffmpeg("-f lavfi -i testsrc2=size=" + spec.size + ":rate=25 -frames:v 6 " + spec.options +
                        " -preset veryfast -f h264 '" + c.path + "'"))
                continue;
            c.nals = split_nal_units(read_file(c.path));
            c.trace = trace_nal_units(c.path);
            clips_->push_back(std::move(c));
        }
    }
    static void TearDownTestSuite() {
        delete clips_;
        delete dir_;
        clips_ = nullptr;
        dir_ = nullptr;
    }
    void SetUp() override {
        REQUIRE_FFMPEG();
        ASSERT_EQ(clips_->size(), kClips.size()) << "a clip could not be made";
        for (const Clip &c : *clips_) {
            ASSERT_EQ(c.nals.size(), c.trace.size()) << c.name;
            ASSERT_GT(c.nals.size(), 8u) << c.name;
        }
    }

    static testutil::TempDir *dir_;
    static std::vector<Clip> *clips_;
};

testutil::TempDir *H264Oracle::dir_ = nullptr;
std::vector<Clip> *H264Oracle::clips_ = nullptr;

// ---------------------------------------------------------------------------
// Field values

// Trace names that our records spell differently.
const std::map<std::string, std::string> kRenamed = {
    {"max_num_ref_frames", "num_ref_frames"},
    {"gaps_in_frame_num_allowed_flag", "gaps_in_frame_num_value_allowed_flag"},
    {"separate_colour_plane_flag", "residual_colour_transform_flag"},
    {"max_num_reorder_frames", "num_reorder_frames"},
    {"bottom_field_pic_order_in_frame_present_flag", "pic_order_present_flag"},
    {"num_ref_idx_l0_default_active_minus1", "num_ref_idx_l0_active_minus1"},
    {"num_ref_idx_l1_default_active_minus1", "num_ref_idx_l1_active_minus1"},
    {"ref_pic_list_modification_flag_l0", "ref_pic_list_reordering_flag_l0"},
    {"ref_pic_list_modification_flag_l1", "ref_pic_list_reordering_flag_l1"},
};

const std::set<std::string> kNotFields = {"forbidden_zero_bit",      "nal_ref_idc",
                                          "nal_unit_type",           "rbsp_stop_one_bit",
                                          "rbsp_alignment_zero_bit", "cabac_alignment_one_bit"};

// Our value for a trace field: printed when the printer prints it, taken
// from the record otherwise. False for a field we have no place for.
using Resolver = std::function<bool(const std::string &name, const std::vector<int> &idx, int64_t *v)>;

// Compares every field of one NAL unit. Loop fields hold the last pass in
// our records, so every name is compared with its last occurrence.
void compare_fields(const TraceNal &t, const std::map<std::string, int64_t> &printed, const Resolver &record,
                    const std::string &where) {
    std::map<std::string, std::pair<int64_t, std::vector<int>>> last;
    int64_t cs4 = -1, cs5 = -1, r2 = -1;
    bool in_marking = false;
    for (size_t k = 0; k < t.fields.size(); k++) {
        const TraceField &f = t.fields[k];
        if (kNotFields.count(f.name) || f.name.rfind("delta_scale", 0) == 0) continue;
        if (f.name == "constraint_set4_flag") {
            cs4 = f.value;
            continue;
        }
        if (f.name == "constraint_set5_flag") {
            cs5 = f.value;
            continue;
        }
        if (f.name == "reserved_zero_2bits") {
            r2 = f.value;
            continue;
        }
        if (f.name == "adaptive_ref_pic_marking_mode_flag") in_marking = true;
        std::string key = f.name;
        if (key == "long_term_pic_num")
            key = in_marking ? "drpm.long_term_pic_num" : "rplr.long_term_pic_num";
        // Weight flags are single values; the arrays keep one entry per index.
        const std::string base = strip_index(key);
        if (base == "luma_weight_l0_flag" || base == "chroma_weight_l0_flag" ||
            base == "luma_weight_l1_flag" || base == "chroma_weight_l1_flag")
            key = base;
        // A 32-bit field keeps its bits in our int.
        int64_t v = f.value > INT32_MAX ? int64_t(int32_t(uint32_t(f.value))) : f.value;
        last[key] = {v, indices(key)};
    }
    if (cs4 >= 0) {
        ASSERT_TRUE(printed.count("reserved_zero_4bits"));
        EXPECT_EQ(printed.at("reserved_zero_4bits"), (cs4 << 3) | (cs5 << 2) | r2) << where;
    }
    for (const auto &[key, entry] : last) {
        std::string name = strip_index(key);
        auto rn = kRenamed.find(name);
        if (rn != kRenamed.end()) name = rn->second;
        int64_t ours = 0;
        if (entry.second.empty() && printed.count(name)) {
            ours = printed.at(name);
        } else {
            ASSERT_TRUE(record(name, entry.second, &ours)) << where << ": no field for " << key;
        }
        EXPECT_EQ(ours, entry.first) << where << ": " << key;
    }
}

bool sps_record(const sps_t &s, const std::string &n, const std::vector<int> &i, int64_t *v) {
    if (i.size() != 1) return false;
    const int k = i[0];
    if (n == "bit_rate_value_minus1" && k < 32) return *v = s.bit_rate_value_minus1[k], true;
    if (n == "cpb_size_value_minus1" && k < 32) return *v = s.cpb_size_value_minus1[k], true;
    if (n == "cbr_flag" && k < 32) return *v = s.cbr_flag[k], true;
    if (n == "offset_for_ref_frame" && k < 256) return *v = s.offset_for_ref_frame[k], true;
    if (n == "seq_scaling_list_present_flag" && k < 8) return *v = s.seq_scaling_list_present_flag[k], true;
    return false;
}

bool pps_record(const pps_t &p, const std::string &n, const std::vector<int> &i, int64_t *v) {
    if (i.empty()) {
        if (n == "slice_group_change_direction_flag") return *v = p.slice_group_change_direction_flag, true;
        if (n == "slice_group_change_rate_minus1") return *v = p.slice_group_change_rate_minus1, true;
        if (n == "pic_size_in_map_units_minus1") return *v = p.pic_size_in_map_units_minus1, true;
        return false;
    }
    const int k = i[0];
    if (n == "pic_scaling_list_present_flag" && k < 8) return *v = p.pic_scaling_list_present_flag[k], true;
    if (n == "run_length_minus1" && k < 8) return *v = p.run_length_minus1[k], true;
    if (n == "top_left" && k < 8) return *v = p.top_left[k], true;
    if (n == "bottom_right" && k < 8) return *v = p.bottom_right[k], true;
    if (n == "slice_group_id" && k < 256) return *v = p.slice_group_id[k], true;
    return false;
}

bool slice_record(const slice_header_t &s, const std::string &n, const std::vector<int> &i, int64_t *v) {
    if (i.empty()) {
        if (n == "modification_of_pic_nums_idc") return *v = s.rplr.reordering_of_pic_nums_idc, true;
        if (n == "abs_diff_pic_num_minus1") return *v = s.rplr.abs_diff_pic_num_minus1, true;
        if (n == "rplr.long_term_pic_num") return *v = s.rplr.long_term_pic_num, true;
        if (n == "memory_management_control_operation")
            return *v = s.drpm.memory_management_control_operation, true;
        if (n == "difference_of_pic_nums_minus1") return *v = s.drpm.difference_of_pic_nums_minus1, true;
        if (n == "drpm.long_term_pic_num") return *v = s.drpm.long_term_pic_num, true;
        if (n == "long_term_frame_idx") return *v = s.drpm.long_term_frame_idx, true;
        if (n == "max_long_term_frame_idx_plus1") return *v = s.drpm.max_long_term_frame_idx_plus1, true;
        return false;
    }
    const int k = i[0];
    if (k >= 64) return false;
    if (n == "delta_pic_order_cnt" && k < 2) return *v = s.delta_pic_order_cnt[k], true;
    if (n == "luma_weight_l0") return *v = s.pwt.luma_weight_l0[k], true;
    if (n == "luma_offset_l0") return *v = s.pwt.luma_offset_l0[k], true;
    if (n == "luma_weight_l1") return *v = s.pwt.luma_weight_l1[k], true;
    if (n == "luma_offset_l1") return *v = s.pwt.luma_offset_l1[k], true;
    if (i.size() != 2 || i[1] > 1) return false;
    const int j = i[1];
    if (n == "chroma_weight_l0") return *v = s.pwt.chroma_weight_l0[k][j], true;
    if (n == "chroma_offset_l0") return *v = s.pwt.chroma_offset_l0[k][j], true;
    if (n == "chroma_weight_l1") return *v = s.pwt.chroma_weight_l1[k][j], true;
    if (n == "chroma_offset_l1") return *v = s.pwt.chroma_offset_l1[k][j], true;
    return false;
}

// Scaling lists as the standard decodes the trace's delta_scale values,
// compared with our record. Returns the number of lists compared.
int compare_scaling_lists(const TraceNal &t, const std::string &flag_name, int (*l4)[16], int (*l8)[64],
                          const std::string &where) {
    int lists = 0;
    for (size_t k = 0; k < t.fields.size(); k++) {
        const TraceField &f = t.fields[k];
        if (strip_index(f.name) != flag_name || f.value != 1) continue;
        const int i = indices(f.name)[0];
        const int size = i < 6 ? 16 : 64;
        std::vector<int> expected(size);
        int last = 8, next = 8;
        size_t d = k + 1;
        for (int j = 0; j < size; j++) {
            if (next != 0) {
                EXPECT_LT(d, t.fields.size());
                next = (last + int(t.fields[d++].value) + 256) % 256;
            }
            expected[j] = next == 0 ? last : next;
            last = expected[j];
        }
        std::vector<int> ours(i < 6 ? l4[i] : l8[i - 6], (i < 6 ? l4[i] : l8[i - 6]) + size);
        EXPECT_EQ(ours, expected) << where << ": scaling list " << i;
        lists++;
    }
    return lists;
}

// One SEI message as trace_headers sees it.
struct TraceSei {
    int64_t type = 0, size = 0;
    std::vector<uint8_t> payload;
};

// Splits an SEI unit's fields into messages. The payload is rebuilt from
// the bits of the fields that lie inside it.
std::vector<TraceSei> trace_seis(const TraceNal &t, const std::string &where) {
    std::vector<TraceSei> out;
    size_t k = 0;
    const auto &f = t.fields;
    while (k < f.size() && f[k].pos < 8)
        k++;
    while (k < f.size() && f[k].name != "rbsp_stop_one_bit") {
        TraceSei s;
        while (k < f.size() && f[k].name == "ff_byte")
            s.type += f[k++].value;
        if (k >= f.size() || f[k].name != "last_payload_type_byte") {
            ADD_FAILURE() << where << ": unexpected " << (k < f.size() ? f[k].name : "end");
            return out;
        }
        s.type += f[k++].value;
        while (k < f.size() && f[k].name == "ff_byte")
            s.size += f[k++].value;
        s.size += f[k].value;
        const long start = f[k].pos + 8;
        const long end = start + 8 * s.size;
        k++;
        std::string bits;
        while (k < f.size() && f[k].pos < end) {
            bits += f[k].bits;
            k++;
        }
        EXPECT_EQ(long(bits.size()), end - start) << where << ": payload bits of type " << s.type;
        s.payload = from_bits(bits);
        out.push_back(std::move(s));
    }
    return out;
}

// A payload as the printers dump it.
std::string dump(const std::vector<uint8_t> &bytes) {
    std::string out;
    char hex[4];
    for (size_t i = 0; i < bytes.size(); i++) {
        std::snprintf(hex, sizeof hex, "%02X ", bytes[i]);
        out += hex;
        if (i % 16 == 15) out += "\n";
    }
    return out + "\n";
}

// Whether the weight table is laid out as our reader expects it: counted
// from the PPS, with chroma entries only when the SPS record has a chroma
// format. The corpus keeps to such tables; the reader tests cover the rest.
bool pwt_as_expected(const TraceNal &t, const h264_stream_t &h) {
    if (!t.find("luma_log2_weight_denom")) return true;
    int l0 = 0, l1 = 0;
    bool chroma = false;
    for (const auto &f : t.fields) {
        const std::string b = strip_index(f.name);
        l0 += b == "luma_weight_l0_flag";
        l1 += b == "luma_weight_l1_flag";
        chroma |= b == "chroma_weight_l0_flag" || b == "chroma_weight_l1_flag";
    }
    return l0 == h.pps->num_ref_idx_l0_active_minus1 + 1 &&
           (l1 == 0 || l1 == h.pps->num_ref_idx_l1_active_minus1 + 1) &&
           chroma == (h.sps->chroma_format_idc != 0);
}

TEST_F(H264Oracle, PrintedAndStoredFieldsMatchTraceHeaders) {
    int compared[32] = {};
    int lists = 0, sei_messages = 0;
    for (const Clip &c : *clips_) {
        StreamPtr h = new_stream();
        for (size_t n = 0; n < c.nals.size(); n++) {
            const auto &nal = c.nals[n];
            const TraceNal &t = c.trace[n];
            const std::string where = c.name + " unit " + std::to_string(n) + " (" + t.kind + ")";
            ASSERT_EQ(read_nal_unit(h.get(), nal.data(), int(nal.size())), int(nal.size())) << where;
            const std::string text = capture_stdout([&] { debug_nal(h.get(), h->nal); });
            const auto printed = printed_fields(text);

            // Header.
            ASSERT_FALSE(t.fields.empty()) << where;
            EXPECT_EQ(printed.at("forbidden_zero_bit"), t.find("forbidden_zero_bit")->value) << where;
            EXPECT_EQ(printed.at("nal_ref_idc"), t.find("nal_ref_idc")->value) << where;
            EXPECT_EQ(printed.at("nal_unit_type"), t.find("nal_unit_type")->value) << where;
            const int type = nal_type(nal);
            compared[type]++;

            switch (type) {
            case 7:
                EXPECT_EQ(t.kind, "Sequence Parameter Set");
                compare_fields(
                    t, printed, [&](auto &nm, auto &i, int64_t *v) { return sps_record(*h->sps, nm, i, v); },
                    where);
                lists += compare_scaling_lists(t, "seq_scaling_list_present_flag", h->sps->ScalingList4x4,
                                               h->sps->ScalingList8x8, where);
                break;
            case 8:
                EXPECT_EQ(t.kind, "Picture Parameter Set");
                compare_fields(
                    t, printed, [&](auto &nm, auto &i, int64_t *v) { return pps_record(*h->pps, nm, i, v); },
                    where);
                lists += compare_scaling_lists(t, "pic_scaling_list_present_flag", h->pps->ScalingList4x4,
                                               h->pps->ScalingList8x8, where);
                break;
            case 1:
            case 5: {
                EXPECT_EQ(t.kind, "Slice Header");
                ASSERT_TRUE(pwt_as_expected(t, *h)) << where;
                compare_fields(
                    t, printed,
                    [&](auto &nm, auto &i, int64_t *v) { return slice_record(*h->slice_header, nm, i, v); },
                    where);
                EXPECT_NE(text.find(" slice_type : " + std::to_string(h->slice_header->slice_type) + " ( "),
                          std::string::npos);
                break;
            }
            case 9:
                EXPECT_EQ(t.kind, "Access Unit Delimiter");
                compare_fields(
                    t, printed, [](auto &, auto &, int64_t *) { return false; }, where);
                break;
            case 6: {
                EXPECT_EQ(t.kind, "Supplemental Enhancement Information");
                const auto expected = trace_seis(t, where);
                ASSERT_EQ(h->num_seis, int(expected.size())) << where;
                size_t at = 0;
                for (size_t m = 0; m < expected.size(); m++) {
                    const sei_t *s = h->seis[m];
                    EXPECT_EQ(s->payloadType, expected[m].type) << where;
                    EXPECT_EQ(s->payloadSize, expected[m].size) << where;
                    ASSERT_EQ(size_t(s->payloadSize), expected[m].payload.size()) << where;
                    EXPECT_EQ(0,
                              std::memcmp(s->payload, expected[m].payload.data(), expected[m].payload.size()))
                        << where;
                    // The printed messages, in order.
                    const std::string lines = " payloadType : " + std::to_string(expected[m].type) +
                                              " \n payloadSize : " + std::to_string(expected[m].size) +
                                              " \n payload : " + dump(expected[m].payload);
                    at = text.find(lines, at);
                    ASSERT_NE(at, std::string::npos) << where;
                    sei_messages++;
                }
                break;
            }
            default:
                break;
            }
        }
    }
    // The corpus reaches every reader.
    EXPECT_GT(compared[1], 20);
    EXPECT_GT(compared[5], 5);
    EXPECT_GT(compared[6], 5);
    EXPECT_GT(compared[7], 5);
    EXPECT_GT(compared[8], 5);
    EXPECT_GT(compared[9], 5);
    EXPECT_GE(lists, 3);
    EXPECT_GT(sei_messages, 10);
}

// ---------------------------------------------------------------------------
// Write-back

// Bits of the trace fields from the RBSP start, stopping before the stop bit
// (or cabac alignment), with our writers' departures applied when asked.
struct Predicted {
    std::string bits;
    bool departs = false; // the prediction differs from the original
};

// Parameter sets, delimiters and SEI: the RBSP our writer gives back.
Predicted predict_rbsp(const TraceNal &t, int type, bool apply) {
    Predicted out;
    const auto &f = t.fields;
    size_t k = 0;
    while (k < f.size() && f[k].pos < 8)
        k++;
    for (; k < f.size() && f[k].name != "rbsp_stop_one_bit"; k++) {
        const std::string base = strip_index(f[k].name);
        const bool list_flag =
            base == "seq_scaling_list_present_flag" || base == "pic_scaling_list_present_flag";
        out.bits += f[k].bits;
        if (!(apply && list_flag && f[k].value == 1)) continue;
        // A scaling list goes back as one plain delta per entry.
        const int size = indices(f[k].name)[0] < 6 ? 16 : 64;
        int last = 8, next = 8;
        std::string coded, plain;
        for (int j = 0; j < size; j++) {
            if (next != 0) {
                const TraceField &d = f[++k];
                coded += d.bits;
                next = (last + int(d.value) + 256) % 256;
            }
            const int v = next == 0 ? last : next;
            plain += se_bits(v - last);
            last = v;
        }
        out.bits += plain;
        out.departs |= plain != coded;
    }
    if (apply && type == 8 && !t.find("transform_8x8_mode_flag")) {
        // No extension in the original: ours writes one, with the values of a
        // record that never held one.
        out.bits += "0"
                    "0" +
                    se_bits(0);
        out.departs = true;
    }
    if (apply) {
        if (out.bits.size() % 8 == 0) out.departs = true; // no stop byte
        out.bits = our_trailing(out.bits);
    } else {
        out.bits += '1';
        while (out.bits.size() % 8)
            out.bits += '0';
    }
    return out;
}

TEST_F(H264Oracle, ParameterSetsDelimitersAndSeiWriteBackByteForByte) {
    int exact = 0, departed = 0;
    for (const Clip &c : *clips_) {
        StreamPtr h = new_stream();
        for (size_t n = 0; n < c.nals.size(); n++) {
            const auto &nal = c.nals[n];
            const int type = nal_type(nal);
            read_nal_unit(h.get(), nal.data(), int(nal.size()));
            if (type != 6 && type != 7 && type != 8 && type != 9) continue;
            const std::string where = c.name + " unit " + std::to_string(n) + " type " + std::to_string(type);

            // The trace's bits rebuild the original unit, so the prediction
            // starts from FFmpeg's reading of it.
            const Predicted original = predict_rbsp(c.trace[n], type, false);
            ASSERT_EQ(nal_from_rbsp(nal[0], from_bits(original.bits)), nal) << where;

            const Predicted expected = predict_rbsp(c.trace[n], type, true);
            std::vector<uint8_t> buf(nal.size() * 2 + 64, 0xAA);
            int overflow = -1;
            const int len = write_nal_unit(h.get(), buf.data(), int(buf.size()), &overflow);
            EXPECT_EQ(overflow, 0) << where;
            buf.resize(size_t(len));
            EXPECT_EQ(buf, nal_from_rbsp(nal[0], from_bits(expected.bits))) << where;
            if (expected.departs)
                departed++;
            else {
                exact++;
                EXPECT_EQ(buf, nal) << where;
            }
        }
    }
    EXPECT_GT(exact, 10);
    EXPECT_GT(departed, 10); // SEI without stop byte, PPS extensions, plain scaling deltas
}

// Slice headers: our writer's bits for a header read from each slice, against
// the original bits with the predicted change: loop commands reduced to the
// stored (last) one.
std::string predict_slice_bits(const TraceNal &t, bool *departs) {
    static const std::set<std::string> kRplrArgs = {"abs_diff_pic_num_minus1", "long_term_pic_num"};
    static const std::set<std::string> kMmcoArgs = {"difference_of_pic_nums_minus1", "long_term_pic_num",
                                                    "long_term_frame_idx", "max_long_term_frame_idx_plus1"};
    const auto &f = t.fields;
    std::string bits;
    *departs = false;
    size_t k = 0;
    while (k < f.size() && f[k].pos < 8)
        k++;
    while (k < f.size() && f[k].name != "cabac_alignment_one_bit") {
        const TraceField &x = f[k];
        if (x.name == "modification_of_pic_nums_idc" && x.value != 3) {
            *departs = true;
            for (k++; k < f.size() && kRplrArgs.count(f[k].name); k++) {
            }
            continue;
        }
        if (x.name == "memory_management_control_operation" && x.value != 0) {
            *departs = true;
            for (k++; k < f.size() && kMmcoArgs.count(f[k].name); k++) {
            }
            continue;
        }
        // Weight flags are single values: a table goes back as coded only
        // when every index of a list has the same flags, as in the corpus
        // (the writer tests cover tables with mixed flags).
        const std::string base = strip_index(x.name);
        if (base.find("weight_l") != std::string::npos && base.find("_flag") != std::string::npos) {
            const TraceField *first = nullptr;
            for (const auto &y : f)
                if (strip_index(y.name) == base && !first) first = &y;
            EXPECT_EQ(x.value, first->value) << "mixed weight flags in " << t.kind;
        }
        bits += x.bits;
        k++;
    }
    return bits;
}

TEST_F(H264Oracle, SliceHeadersWriteBackTheBitsTheyWereReadFrom) {
    int exact = 0, departed = 0;
    for (const Clip &c : *clips_) {
        StreamPtr h = new_stream();
        for (size_t n = 0; n < c.nals.size(); n++) {
            const auto &nal = c.nals[n];
            const int type = nal_type(nal);
            read_nal_unit(h.get(), nal.data(), int(nal.size()));
            if (type != 1 && type != 5) continue;
            const TraceNal &t = c.trace[n];
            const std::string where = c.name + " unit " + std::to_string(n);
            ASSERT_TRUE(pwt_as_expected(t, *h)) << where;

            // Read again into a record that holds only the parameter sets, so
            // that entries the slice does not code are zeros.
            StreamPtr f = new_stream();
            *f->sps = *h->sps;
            *f->pps = *h->pps;
            *f->nal = *h->nal;
            std::vector<uint8_t> rbsp(nal.size());
            int nal_size = int(nal.size()), rbsp_size = 0;
            nal_to_rbsp(nal.data(), &nal_size, rbsp.data(), &rbsp_size);
            bs_t r;
            bs_init(&r, rbsp.data(), rbsp_size);
            read_slice_header(f.get(), &r);

            // The header ends where FFmpeg's does.
            long end = t.fields.back().pos + long(t.fields.back().bits.size());
            if (const TraceField *a = t.find("cabac_alignment_one_bit")) end = a->pos;
            EXPECT_EQ(8 + (r.p - r.start) * 8 + (8 - r.bits_left), end) << where;

            std::vector<uint8_t> out(nal.size() + 64);
            bs_t w;
            bs_init(&w, out.data(), int(out.size()));
            write_slice_header(f.get(), &w);
            EXPECT_EQ(w.overflow, 0);

            bool departs = false;
            const std::string expected = predict_slice_bits(t, &departs);
            EXPECT_EQ(written_bits(w), expected) << where;
            if (departs) {
                departed++;
            } else {
                exact++;
                EXPECT_EQ(written_bits(w), to_bits(rbsp).substr(0, size_t(end - 8))) << where;
            }
        }
    }
    EXPECT_GT(exact, 30);
    EXPECT_GT(departed, 3); // reordering and marking commands of the B-pyramid clips
}

// ---------------------------------------------------------------------------
// Decoding

std::string framemd5(const std::string &path) {
    std::string out;
    testutil::runCommand("ffmpeg -nostdin -hide_banner -loglevel error -i '" + path + "' -f framemd5 -",
                         &out);
    // Only the frame lines: the header names the input.
    std::string frames;
    for (const std::string &line : split_lines(out))
        if (!line.empty() && line[0] != '#') frames += line + "\n";
    return frames;
}

TEST_F(H264Oracle, StreamsWithRewrittenParameterSetsDecodeTheSame) {
    for (const Clip &c : *clips_) {
        StreamPtr h = new_stream();
        std::vector<uint8_t> stream;
        int rewritten = 0;
        for (const auto &nal : c.nals) {
            read_nal_unit(h.get(), nal.data(), int(nal.size()));
            stream.insert(stream.end(), {0, 0, 0, 1});
            const int type = nal_type(nal);
            if (type == 6 || type == 7 || type == 8 || type == 9) {
                std::vector<uint8_t> buf(nal.size() * 2 + 64);
                int overflow = -1;
                const int len = write_nal_unit(h.get(), buf.data(), int(buf.size()), &overflow);
                ASSERT_EQ(overflow, 0);
                stream.insert(stream.end(), buf.begin(), buf.begin() + len);
                rewritten++;
            } else {
                stream.insert(stream.end(), nal.begin(), nal.end());
            }
        }
        const std::string path = dir_->file(c.name + "_rewritten.264");
        {
            FILE *fp = std::fopen(path.c_str(), "wb");
            ASSERT_NE(fp, nullptr);
            std::fwrite(stream.data(), 1, stream.size(), fp);
            std::fclose(fp);
        }
        const std::string before = framemd5(c.path);
        EXPECT_EQ(std::count(before.begin(), before.end(), '\n'), 6) << c.name;
        EXPECT_EQ(framemd5(path), before) << c.name;
        EXPECT_GE(rewritten, 3) << c.name;
    }
}

// ---------------------------------------------------------------------------
// A profile outside the four with the high-profile fields

TEST(H264OracleDeparture, FourFourFourSpsIsReadWithoutItsHighProfileFields) {
    REQUIRE_FFMPEG();
    testutil::TempDir dir;
    const std::string path = dir.file("444.264");
    ASSERT_TRUE(ffmpeg("-f lavfi -i testsrc2=size=176x144:rate=25 -frames:v 2 -pix_fmt yuv444p -c:v libx264 "
                       "-preset veryfast -f h264 '" +
                       path + "'"));
    const auto nals = split_nal_units(read_file(path));
    const auto trace = trace_nal_units(path);
    ASSERT_EQ(nals.size(), trace.size());
    size_t n = 0;
    while (n < nals.size() && nal_type(nals[n]) != 7)
        n++;
    ASSERT_LT(n, nals.size());
    const TraceNal &t = trace[n];
    ASSERT_EQ(t.find("profile_idc")->value, 244);

    StreamPtr h = new_stream();
    read_nal_unit(h.get(), nals[n].data(), int(nals[n].size()));
    const auto printed = printed_fields(capture_stdout([&] { debug_sps(h->sps); }));
    // Up to the id the fields agree.
    for (const char *name : {"profile_idc", "constraint_set0_flag", "level_idc", "seq_parameter_set_id"})
        EXPECT_EQ(printed.at(name), t.find(name)->value) << name;
    // Then the high-profile part is skipped: its fields stay as they were,
    // and the fields after it are read from the bits that start with
    // chroma_format_idc.
    EXPECT_EQ(printed.at("chroma_format_idc"), 0);
    EXPECT_EQ(printed.at("bit_depth_luma_minus8"), 0);
    std::string bits;
    for (const TraceField &f : t.fields)
        if (f.pos >= t.find("chroma_format_idc")->pos) bits += f.bits;
    size_t pos = 0;
    auto ue = [&]() { // an Exp-Golomb code of the trace's bits
        int zeros = 0;
        while (pos < bits.size() && bits[pos] == '0')
            zeros++, pos++;
        pos++;
        uint64_t v = 1;
        for (int i = 0; i < zeros; i++)
            v = v * 2 + (pos < bits.size() && bits[pos++] == '1');
        return int64_t(v - 1);
    };
    EXPECT_EQ(printed.at("log2_max_frame_num_minus4"), ue());
    EXPECT_EQ(printed.at("pic_order_cnt_type"), ue());
    EXPECT_EQ(t.find("chroma_format_idc")->value, 3);
    EXPECT_NE(printed.at("pic_width_in_mbs_minus1"), t.find("pic_width_in_mbs_minus1")->value);
}

} // namespace
