// Checks the H.264 readers against streams made by libx264 and read back by
// ffprobe and by ffmpeg's trace_headers bitstream filter.
#include "streaminfo/h264_stream.h"

#include <cstdlib>
#include <map>
#include <memory>
#include <regex>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "oracle_util.h"

namespace {

struct TraceField {
    long pos; // bit position in the NAL unit, header byte included
    std::string name;
    int64_t value;
};
using TraceBlock = std::vector<TraceField>;

// The syntax structures printed by trace_headers, in order, with the name
// of each ("Sequence Parameter Set", ...).
std::vector<std::pair<std::string, TraceBlock>> trace_headers(const std::string &path) {
    std::string out;
    testutil::runCommand(
        "ffmpeg -nostdin -hide_banner -i '" + path + "' -c:v copy -bsf:v trace_headers -f null - 2>&1", &out);
    static const std::regex field(R"(\] (\d+)\s+(\S+)\s+[01]+ = (-?\d+)\s*$)");
    static const std::regex heading(R"(^\[trace_headers @ [^\]]*\] ([A-Za-z][^=]*)$)");
    std::vector<std::pair<std::string, TraceBlock>> blocks;
    for (const std::string &line : split_lines(out)) {
        std::smatch m;
        if (std::regex_search(line, m, field)) {
            if (!blocks.empty()) blocks.back().second.push_back({std::stol(m[1]), m[2], std::stoll(m[3])});
        } else if (std::regex_search(line, m, heading)) {
            blocks.push_back({m[1], {}});
        }
    }
    return blocks;
}

const TraceBlock *first_block(const std::vector<std::pair<std::string, TraceBlock>> &blocks,
                              const std::string &name) {
    for (const auto &b : blocks)
        if (b.first == name && !b.second.empty()) return &b.second;
    return nullptr;
}

// The first NAL unit of the given type in an Annex B buffer, as RBSP.
bool first_rbsp(const std::vector<uint8_t> &data, int type, std::vector<uint8_t> *rbsp) {
    int offset = 0;
    for (;;) {
        int s, e;
        if (find_nal_unit(data.data() + offset, int(data.size()) - offset, &s, &e) <= 0) return false;
        const uint8_t *nal = data.data() + offset + s;
        if ((nal[0] & 0x1f) == type) {
            int nal_size = e - s;
            int rbsp_size = 0;
            rbsp->assign(nal_size, 0);
            nal_to_rbsp(nal, &nal_size, rbsp->data(), &rbsp_size);
            rbsp->resize(rbsp_size);
            return true;
        }
        offset += e;
    }
}

using StreamPtr = std::unique_ptr<h264_stream_t, void (*)(h264_stream_t *)>;

// Our record's value for one trace_headers field; false for a name we do not
// know (so that a field we fail to compare is noticed).
bool our_value(const sps_t &sps, const std::string &name, int64_t *v) {
    static const std::map<std::string, int sps_t::*> scalars = {
        {"profile_idc", &sps_t::profile_idc},
        {"constraint_set0_flag", &sps_t::constraint_set0_flag},
        {"constraint_set1_flag", &sps_t::constraint_set1_flag},
        {"constraint_set2_flag", &sps_t::constraint_set2_flag},
        {"constraint_set3_flag", &sps_t::constraint_set3_flag},
        {"level_idc", &sps_t::level_idc},
        {"seq_parameter_set_id", &sps_t::seq_parameter_set_id},
        {"chroma_format_idc", &sps_t::chroma_format_idc},
        {"separate_colour_plane_flag", &sps_t::residual_colour_transform_flag},
        {"bit_depth_luma_minus8", &sps_t::bit_depth_luma_minus8},
        {"bit_depth_chroma_minus8", &sps_t::bit_depth_chroma_minus8},
        {"qpprime_y_zero_transform_bypass_flag", &sps_t::qpprime_y_zero_transform_bypass_flag},
        {"seq_scaling_matrix_present_flag", &sps_t::seq_scaling_matrix_present_flag},
        {"log2_max_frame_num_minus4", &sps_t::log2_max_frame_num_minus4},
        {"pic_order_cnt_type", &sps_t::pic_order_cnt_type},
        {"log2_max_pic_order_cnt_lsb_minus4", &sps_t::log2_max_pic_order_cnt_lsb_minus4},
        {"delta_pic_order_always_zero_flag", &sps_t::delta_pic_order_always_zero_flag},
        {"offset_for_non_ref_pic", &sps_t::offset_for_non_ref_pic},
        {"offset_for_top_to_bottom_field", &sps_t::offset_for_top_to_bottom_field},
        {"num_ref_frames_in_pic_order_cnt_cycle", &sps_t::num_ref_frames_in_pic_order_cnt_cycle},
        {"max_num_ref_frames", &sps_t::num_ref_frames},
        {"gaps_in_frame_num_allowed_flag", &sps_t::gaps_in_frame_num_value_allowed_flag},
        {"pic_width_in_mbs_minus1", &sps_t::pic_width_in_mbs_minus1},
        {"pic_height_in_map_units_minus1", &sps_t::pic_height_in_map_units_minus1},
        {"frame_mbs_only_flag", &sps_t::frame_mbs_only_flag},
        {"mb_adaptive_frame_field_flag", &sps_t::mb_adaptive_frame_field_flag},
        {"direct_8x8_inference_flag", &sps_t::direct_8x8_inference_flag},
        {"frame_cropping_flag", &sps_t::frame_cropping_flag},
        {"frame_crop_left_offset", &sps_t::frame_crop_left_offset},
        {"frame_crop_right_offset", &sps_t::frame_crop_right_offset},
        {"frame_crop_top_offset", &sps_t::frame_crop_top_offset},
        {"frame_crop_bottom_offset", &sps_t::frame_crop_bottom_offset},
        {"vui_parameters_present_flag", &sps_t::vui_parameters_present_flag},
        {"aspect_ratio_info_present_flag", &sps_t::aspect_ratio_info_present_flag},
        {"aspect_ratio_idc", &sps_t::aspect_ratio_idc},
        {"sar_width", &sps_t::sar_width},
        {"sar_height", &sps_t::sar_height},
        {"overscan_info_present_flag", &sps_t::overscan_info_present_flag},
        {"overscan_appropriate_flag", &sps_t::overscan_appropriate_flag},
        {"video_signal_type_present_flag", &sps_t::video_signal_type_present_flag},
        {"video_format", &sps_t::video_format},
        {"video_full_range_flag", &sps_t::video_full_range_flag},
        {"colour_description_present_flag", &sps_t::colour_description_present_flag},
        {"colour_primaries", &sps_t::colour_primaries},
        {"transfer_characteristics", &sps_t::transfer_characteristics},
        {"matrix_coefficients", &sps_t::matrix_coefficients},
        {"chroma_loc_info_present_flag", &sps_t::chroma_loc_info_present_flag},
        {"chroma_sample_loc_type_top_field", &sps_t::chroma_sample_loc_type_top_field},
        {"chroma_sample_loc_type_bottom_field", &sps_t::chroma_sample_loc_type_bottom_field},
        {"timing_info_present_flag", &sps_t::timing_info_present_flag},
        {"num_units_in_tick", &sps_t::num_units_in_tick},
        {"time_scale", &sps_t::time_scale},
        {"fixed_frame_rate_flag", &sps_t::fixed_frame_rate_flag},
        {"nal_hrd_parameters_present_flag", &sps_t::nal_hrd_parameters_present_flag},
        {"vcl_hrd_parameters_present_flag", &sps_t::vcl_hrd_parameters_present_flag},
        {"cpb_cnt_minus1", &sps_t::cpb_cnt_minus1},
        {"bit_rate_scale", &sps_t::bit_rate_scale},
        {"cpb_size_scale", &sps_t::cpb_size_scale},
        {"initial_cpb_removal_delay_length_minus1", &sps_t::initial_cpb_removal_delay_length_minus1},
        {"cpb_removal_delay_length_minus1", &sps_t::cpb_removal_delay_length_minus1},
        {"dpb_output_delay_length_minus1", &sps_t::dpb_output_delay_length_minus1},
        {"time_offset_length", &sps_t::time_offset_length},
        {"low_delay_hrd_flag", &sps_t::low_delay_hrd_flag},
        {"pic_struct_present_flag", &sps_t::pic_struct_present_flag},
        {"bitstream_restriction_flag", &sps_t::bitstream_restriction_flag},
        {"motion_vectors_over_pic_boundaries_flag", &sps_t::motion_vectors_over_pic_boundaries_flag},
        {"max_bytes_per_pic_denom", &sps_t::max_bytes_per_pic_denom},
        {"max_bits_per_mb_denom", &sps_t::max_bits_per_mb_denom},
        {"log2_max_mv_length_horizontal", &sps_t::log2_max_mv_length_horizontal},
        {"log2_max_mv_length_vertical", &sps_t::log2_max_mv_length_vertical},
        {"max_num_reorder_frames", &sps_t::num_reorder_frames},
        {"max_dec_frame_buffering", &sps_t::max_dec_frame_buffering},
    };
    auto it = scalars.find(name);
    if (it != scalars.end()) {
        *v = sps.*(it->second);
        return true;
    }
    static const std::regex indexed(R"((\w+)\[(\d+)\])");
    std::smatch m;
    if (std::regex_match(name, m, indexed)) {
        size_t i = std::stoul(m[2]);
        const std::string base = m[1];
        if (base == "bit_rate_value_minus1" && i < 32) {
            *v = sps.bit_rate_value_minus1[i];
            return true;
        }
        if (base == "cpb_size_value_minus1" && i < 32) {
            *v = sps.cpb_size_value_minus1[i];
            return true;
        }
        if (base == "cbr_flag" && i < 32) {
            *v = sps.cbr_flag[i];
            return true;
        }
        if (base == "offset_for_ref_frame" && i < 256) {
            *v = sps.offset_for_ref_frame[i];
            return true;
        }
        if (base == "seq_scaling_list_present_flag" && i < 8) {
            *v = sps.seq_scaling_list_present_flag[i];
            return true;
        }
    }
    return false;
}

enum class Expect {
    Ffprobe,  // 4:2:0, frame coded: our size is the decoder's size
    Explicit, // the crop rule of 2 differs from the standard's here
};

struct StreamSpec {
    StreamSpec(std::string n, std::string sz, std::string enc, Expect e = Expect::Ffprobe, int w = 0,
               int h = 0)
        : name(std::move(n)), size(std::move(sz)), encode(std::move(enc)), expect(e), width(w), height(h) {}
    std::string name;
    std::string size;   // WxH of the source
    std::string encode; // ffmpeg output options
    Expect expect;
    int width, height; // for Expect::Explicit
    std::string bsf;   // applied in a second, copying pass
};

// Generates the stream, then compares every SPS field with trace_headers and
// the picture size with ffprobe (or with the stated size).
void check_stream(const testutil::TempDir &dir, const StreamSpec &spec) {
    SCOPED_TRACE(spec.name);
    const std::string raw = dir.file(spec.name + ".264");
    ASSERT_TRUE(ffmpeg("-f lavfi -i testsrc=size=" + spec.size + ":rate=25 -frames:v 2 " + spec.encode +
                       " -f h264 '" + raw + "'"));
    std::string path = raw;
    if (!spec.bsf.empty()) {
        path = dir.file(spec.name + "_bsf.264");
        ASSERT_TRUE(ffmpeg("-i '" + raw + "' -c:v copy -bsf:v " + spec.bsf + " -f h264 '" + path + "'"));
    }
    std::vector<uint8_t> data = read_file(path);
    ASSERT_GT(data.size(), 100u);

    // Fields.
    auto blocks = trace_headers(path);
    const TraceBlock *trace = first_block(blocks, "Sequence Parameter Set");
    ASSERT_NE(trace, nullptr);
    std::vector<uint8_t> rbsp;
    ASSERT_TRUE(first_rbsp(data, 7, &rbsp));
    StreamPtr h(h264_new(), h264_free);
    bs_t b;
    bs_init(&b, rbsp.data(), int(rbsp.size()));
    read_seq_parameter_set_rbsp(h.get(), &b);
    const sps_t &sps = *h->sps;
    int64_t cs4 = 0, cs5 = 0, r2 = 0;
    int compared = 0;
    for (const TraceField &f : *trace) {
        if (f.name == "forbidden_zero_bit" || f.name == "nal_ref_idc" || f.name == "nal_unit_type" ||
            f.name == "rbsp_stop_one_bit" || f.name == "rbsp_alignment_zero_bit")
            continue;
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
        int64_t ours = 0;
        ASSERT_TRUE(our_value(sps, f.name, &ours)) << "no field for " << f.name;
        // A 32-bit field keeps its bits in our int.
        int64_t theirs = (f.value > INT32_MAX) ? int64_t(int32_t(uint32_t(f.value))) : f.value;
        EXPECT_EQ(ours, theirs) << f.name << " at bit " << f.pos;
        compared++;
    }
    EXPECT_EQ(sps.reserved_zero_4bits, (cs4 << 3) | (cs5 << 2) | r2);
    EXPECT_GE(compared, 20);
    // The reader stopped where the set ends.
    EXPECT_TRUE(b.p == b.end || (b.p + 1 == b.end && *b.p == 0x80));

    // Size.
    int w = -1, ht = -1;
    ASSERT_EQ(getH264Resolution(data.data(), int(data.size()), &w, &ht), 1);
    EXPECT_EQ(w, sps.width);
    EXPECT_EQ(ht, sps.height);
    if (spec.expect == Expect::Ffprobe) {
        int pw = 0, ph = 0;
        ASSERT_TRUE(ffprobe_size(path, &pw, &ph));
        EXPECT_EQ(w, pw);
        EXPECT_EQ(ht, ph);
    } else {
        EXPECT_EQ(w, spec.width);
        EXPECT_EQ(ht, spec.height);
    }
}

TEST(H264Oracle, PictureSizesAcrossProfiles) {
    REQUIRE_FFMPEG();
    testutil::TempDir dir;
    const std::vector<StreamSpec> streams = {
        {"qcif_baseline", "176x144", "-pix_fmt yuv420p -c:v libx264 -profile:v baseline"},
        {"cif_main", "352x288", "-pix_fmt yuv420p -c:v libx264 -profile:v main"},
        {"d1_high", "704x576", "-pix_fmt yuv420p -c:v libx264 -preset veryfast"},
        {"odd_high", "1278x718", "-pix_fmt yuv420p -c:v libx264 -preset veryfast"},
        {"odd_main", "1918x1078", "-pix_fmt yuv420p -c:v libx264 -preset veryfast -profile:v main"},
        {"hd_high", "1920x1080", "-pix_fmt yuv420p -c:v libx264 -preset veryfast"},
        {"uhd_baseline", "3840x2160", "-pix_fmt yuv420p -c:v libx264 -preset ultrafast -profile:v baseline"},
        {"aud_first", "720x480", "-pix_fmt yuv420p -c:v libx264 -preset veryfast -x264-params aud=1"},
    };
    for (const auto &s : streams)
        check_stream(dir, s);
}

TEST(H264Oracle, VuiHrdCroppingAndHighBitDepth) {
    REQUIRE_FFMPEG();
    testutil::TempDir dir;
    const std::vector<StreamSpec> streams = {
        {"ten_bit", "352x288", "-pix_fmt yuv420p10le -c:v libx264 -preset veryfast"},
        {"vui", "640x360",
         "-vf setsar=7/5 -pix_fmt yuv420p -color_range pc -color_primaries bt709 -color_trc bt709 "
         "-colorspace bt709 -c:v libx264 -preset veryfast -x264-params "
         "chromaloc=1:overscan=show:videoformat=pal"},
        {"hrd_vbr", "640x360",
         "-pix_fmt yuv420p -c:v libx264 -preset veryfast -b:v 500k -maxrate 600k -bufsize 1000k "
         "-x264-params nal-hrd=vbr"},
        {"hrd_cbr", "320x240",
         "-pix_fmt yuv420p -c:v libx264 -preset veryfast -b:v 300k -maxrate 300k -bufsize 300k "
         "-x264-params nal-hrd=cbr:pic-struct=1"},
        {"no_bframes", "1280x720", "-pix_fmt yuv420p -c:v libx264 -preset veryfast -bf 0"},
    };
    for (const auto &s : streams)
        check_stream(dir, s);
    StreamSpec cropped{"cropped", "352x288", "-pix_fmt yuv420p -c:v libx264 -preset veryfast"};
    cropped.bsf = "h264_metadata=crop_left=16:crop_right=30:crop_top=8:crop_bottom=22";
    check_stream(dir, cropped);
}

TEST(H264Oracle, CropUnitOfTwoForFieldsAndFourTwoTwo) {
    REQUIRE_FFMPEG();
    testutil::TempDir dir;
    // The crop offsets count two lines each here, where the standard counts
    // four (fields) or one (4:2:2): 1080i comes out as 1084 lines and 718
    // lines of 4:2:2 as 716 (358 as 348).
    StreamSpec interlaced{"interlaced",
                          "1920x1080",
                          "-pix_fmt yuv420p -c:v libx264 -preset veryfast -x264-params interlaced=1",
                          Expect::Explicit,
                          1920,
                          1084};
    check_stream(dir, interlaced);
    StreamSpec four22{"four22",         "1278x718", "-pix_fmt yuv422p -c:v libx264 -preset veryfast",
                      Expect::Explicit, 1278,       716};
    check_stream(dir, four22);
    StreamSpec four22_10{"four22_10",      "640x358", "-pix_fmt yuv422p10le -c:v libx264 -preset veryfast",
                         Expect::Explicit, 640,       348};
    check_stream(dir, four22_10);
}

// Scan orders of the standard (frame macroblocks).
const int kZigzag4x4[16] = {0, 1, 4, 8, 5, 2, 3, 6, 9, 12, 13, 10, 7, 11, 14, 15};
const int kZigzag8x8[64] = {0,  1,  8,  16, 9,  2,  3,  10, 17, 24, 32, 25, 18, 11, 4,  5,
                            12, 19, 26, 33, 40, 48, 41, 34, 27, 20, 13, 6,  7,  14, 21, 28,
                            35, 42, 49, 56, 57, 50, 43, 36, 29, 22, 15, 23, 30, 37, 44, 51,
                            58, 59, 52, 45, 38, 31, 39, 46, 53, 60, 61, 54, 47, 55, 62, 63};

TEST(H264Oracle, ScalingListsMatchTheEncodersMatrices) {
    REQUIRE_FFMPEG();
    testutil::TempDir dir;
    // x264 codes its quantisation matrices (given in raster order) in the
    // picture parameter set; each list is read where trace_headers places it.
    std::vector<int> m4(16), m8(64);
    for (int i = 0; i < 16; i++)
        m4[i] = 6 + (i * 7) % 23;
    for (int i = 0; i < 64; i++)
        m8[i] = 10 + (i * 37) % 90;
    auto join = [](const std::vector<int> &v) {
        std::string s;
        for (int x : v)
            s += (s.empty() ? "" : ",") + std::to_string(x);
        return s;
    };
    const std::string path = dir.file("cqm.264");
    ASSERT_TRUE(ffmpeg("-f lavfi -i testsrc=size=176x144:rate=25 -frames:v 2 -pix_fmt yuv420p -c:v libx264 "
                       "-preset veryfast -x264-params cqm4iy=" +
                       join(m4) + ":cqm8=" + join(m8) + " -f h264 '" + path + "'"));
    std::vector<uint8_t> data = read_file(path);
    std::vector<uint8_t> rbsp;
    ASSERT_TRUE(first_rbsp(data, 8, &rbsp));
    const auto blocks = trace_headers(path);
    const TraceBlock *pps = first_block(blocks, "Picture Parameter Set");
    ASSERT_NE(pps, nullptr);

    int lists_read = 0;
    for (size_t k = 0; k < pps->size(); k++) {
        const TraceField &f = (*pps)[k];
        std::smatch m;
        static const std::regex flag(R"(pic_scaling_list_present_flag\[(\d)\])");
        if (!std::regex_match(f.name, m, flag) || f.value != 1) continue;
        int i = std::stoi(m[1]);
        SCOPED_TRACE(i);
        int size = i < 6 ? 16 : 64;
        std::vector<int> expected(size, 16); // x264's other lists are flat
        if (i == 0)
            for (int j = 0; j < 16; j++)
                expected[j] = m4[kZigzag4x4[j]];
        if (i >= 6) // cqm8 sets both 8x8 lists
            for (int j = 0; j < 64; j++)
                expected[j] = m8[kZigzag8x8[j]];

        bs_t b;
        bs_init(&b, rbsp.data(), int(rbsp.size()));
        long start = f.pos + 1 - 8; // trace positions count the header byte
        for (long skip = start; skip > 0; skip -= 32)
            bs_read_f(&b, int(skip > 32 ? 32 : skip));
        std::vector<int> list(size, -1);
        read_scaling_list(&b, list.data(), size);
        EXPECT_EQ(list, expected);
        // The list ends where the next field starts.
        ASSERT_LT(k + 1, pps->size());
        long next = (*pps)[k + 1].pos - 8;
        while (k + 1 < pps->size() && (*pps)[k + 1].name.rfind("delta_scale", 0) == 0)
            next = (*pps)[++k + 1].pos - 8;
        EXPECT_EQ(long(b.p - b.start) * 8 + (8 - b.bits_left), next);
        lists_read++;
    }
    EXPECT_GE(lists_read, 3);
}

} // namespace
