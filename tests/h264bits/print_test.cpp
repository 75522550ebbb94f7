// The printers' text: a parameter set pair and a slice header against a
// checked-in dump, and the small printers' edge cases.
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "h264bits/h264_print.h"
#include "h264bits/h264_read.h"
#include "h264bits_util.h"
#include "streaminfo/bit_writer.h"

namespace {

std::vector<uint8_t> unit(uint8_t header, BitWriter &w) {
    w.trailing();
    std::vector<uint8_t> nal = annexb_nal(header, w.bytes());
    nal.erase(nal.begin(), nal.begin() + 4);
    return nal;
}

// A high-profile SPS with cropping, VUI and NAL HRD, coded by hand.
std::vector<uint8_t> sample_sps() {
    BitWriter w;
    w.u(8, 100).bit(0).bit(1).bit(0).bit(0).u(4, 0).u(8, 30).ue(1);
    w.ue(1).ue(0).ue(0).bit(0).bit(0);          // 4:2:0, 8 bits, no matrices
    w.ue(2).ue(0).ue(3);                        // frame_num 6 bits, POC type 0 with 7 bits
    w.ue(4).bit(0).ue(21).ue(17).bit(1).bit(1); // 352x288 frames
    w.bit(1).ue(0).ue(2).ue(0).ue(3);           // cropping
    w.bit(1);                                   // VUI
    w.bit(1).u(8, 255).u(16, 16).u(16, 11);     // SAR 16:11
    w.bit(0);                                   // overscan
    w.bit(1).u(3, 5).bit(0).bit(1).u(8, 1).u(8, 1).u(8, 1);
    w.bit(0);                                 // chroma location
    w.bit(1).u(32, 1001).u(32, 60000).bit(1); // timing
    w.bit(1).ue(0).u(4, 4).u(4, 3).ue(999).ue(1999).bit(0).u(5, 23).u(5, 23).u(5, 23).u(5, 24);
    w.bit(0).bit(0).bit(1); // no VCL HRD, low delay 0, pic_struct
    w.bit(1).bit(1).ue(0).ue(0).ue(11).ue(11).ue(2).ue(4);
    return unit(0x67, w);
}

std::vector<uint8_t> sample_pps() {
    BitWriter w;
    w.ue(2).ue(1).bit(1).bit(0).ue(0); // ids, CABAC, one slice group
    w.ue(2).ue(0).bit(1).u(2, 2).se(-3).se(0).se(-2).bit(1).bit(0).bit(0);
    w.bit(1).bit(0).se(-2); // extension
    return unit(0x68, w);
}

// A P slice with reordering, a weight table of the PPS's three entries and
// adaptive marking.
std::vector<uint8_t> sample_slice() {
    BitWriter w;
    w.ue(33).ue(5).ue(2).u(6, 3).u(7, 6);
    w.bit(1).ue(1);                            // override: two references
    w.bit(1).ue(0).ue(1).ue(3);                // reordering
    w.ue(5).ue(4);                             // denominators
    w.bit(1).se(40).se(-3).bit(0);             // entry 0
    w.bit(0).bit(1).se(16).se(0).se(16).se(1); // entry 1
    w.bit(0).bit(0);                           // entry 2
    w.bit(1).ue(1).ue(0).ue(0);                // marking
    w.ue(2).se(-4).ue(0).se(1).se(-1);
    return unit(0x41, w);
}

std::string read_text(const std::string &path) {
    std::ifstream in(path);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

TEST(H264Print, ParameterSetsAndSliceHeaderMatchTheCheckedInDump) {
    const std::string expected =
        read_text(std::string(PLAYER_SOURCE_DIR) + "/tests/h264bits/data/printers_expected.txt");
    ASSERT_FALSE(expected.empty());
    StreamPtr h = new_stream();
    std::string text;
    for (const auto &nal : {sample_sps(), sample_pps(), sample_slice()}) {
        ASSERT_EQ(read_nal_unit(h.get(), nal.data(), int(nal.size())), int(nal.size()));
        text += capture_stdout([&] { debug_nal(h.get(), h->nal); });
    }
    EXPECT_EQ(text, expected);
}

TEST(H264Print, HexDumpsSixteenBytesALine) {
    const uint8_t three[] = {0x00, 0x1A, 0xFF};
    EXPECT_EQ(capture_stdout([&] { debug_bytes(three, 3); }), "00 1A FF \n");
    uint8_t sixteen[16];
    for (int i = 0; i < 16; i++)
        sixteen[i] = uint8_t(i * 17);
    EXPECT_EQ(capture_stdout([&] { debug_bytes(sixteen, 16); }),
              "00 11 22 33 44 55 66 77 88 99 AA BB CC DD EE FF \n\n");
    uint8_t seventeen[17] = {};
    seventeen[16] = 0xC3;
    EXPECT_EQ(capture_stdout([&] { debug_bytes(seventeen, 17); }),
              "00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 \nC3 \n");
    EXPECT_EQ(capture_stdout([&] { debug_bytes(three, 0); }), "\n");
    EXPECT_EQ(capture_stdout([&] { debug_bytes(nullptr, 5); }), "\n");
}

TEST(H264Print, BitDumpShowsTheConsumedBits) {
    uint8_t data[] = {0xA5, 0xC0};
    bs_t b;
    bs_init(&b, data, 2);
    bs_read_f(&b, 10);
    EXPECT_EQ(capture_stdout([&] { debug_bs(&b); }), "10100101 11");
    bs_read_f(&b, 6);
    EXPECT_EQ(capture_stdout([&] { debug_bs(&b); }), "10100101 11000000 ");
    bs_t fresh;
    bs_init(&fresh, data, 2);
    EXPECT_EQ(capture_stdout([&] { debug_bs(&fresh); }), "");
}

TEST(H264Print, CodesOutsideTheTablesPrintUnknown) {
    StreamPtr h = new_stream();
    h->nal->nal_unit_type = 15;
    EXPECT_EQ(capture_stdout([&] { debug_nal(h.get(), h->nal); }),
              "==================== NAL ====================\n"
              " forbidden_zero_bit : 0 \n"
              " nal_ref_idc : 0 \n"
              " nal_unit_type : 15 ( Unknown ) \n");
    h->nal->nal_unit_type = 19; // an auxiliary slice: named, but no record printed
    EXPECT_EQ(capture_stdout([&] { debug_nal(h.get(), h->nal); }).find("Slice"), std::string::npos);
    EXPECT_NE(capture_stdout([&] {
                  debug_nal(h.get(), h->nal);
              }).find("( Coded slice of an auxiliary coded picture without partitioning )"),
              std::string::npos);

    h->slice_header->slice_type = 12;
    EXPECT_NE(
        capture_stdout([&] { debug_slice_header(h->slice_header); }).find(" slice_type : 12 ( Unknown ) \n"),
        std::string::npos);
    h->slice_header->slice_type = -1;
    EXPECT_NE(
        capture_stdout([&] { debug_slice_header(h->slice_header); }).find(" slice_type : -1 ( Unknown ) \n"),
        std::string::npos);
    h->slice_header->slice_type = 9;
    EXPECT_NE(capture_stdout([&] {
                  debug_slice_header(h->slice_header);
              }).find(" slice_type : 9 ( SI slice only ) \n"),
              std::string::npos);

    h->aud->primary_pic_type = 7;
    EXPECT_EQ(capture_stdout([&] { debug_aud(h->aud); }),
              "======= Access Unit Delimiter =======\n primary_pic_type : 7 ( I, SI, P, SP, B ) \n");
    h->aud->primary_pic_type = 8;
    EXPECT_EQ(capture_stdout([&] { debug_aud(h->aud); }),
              "======= Access Unit Delimiter =======\n primary_pic_type : 8 ( Unknown ) \n");
}

TEST(H264Print, SeiMessagesWithTheirPayloads) {
    EXPECT_EQ(capture_stdout([&] { debug_seis(nullptr, 0); }), "======= SEI =======\n");

    sei_t a{5, 3, nullptr};
    uint8_t bytes[] = {0xDE, 0xAD, 0x01};
    a.payload = bytes;
    sei_t b{21, 0, nullptr};
    sei_t c{22, 4, nullptr}; // a size with no block behind it
    sei_t *list[] = {&a, &b, &c};
    EXPECT_EQ(capture_stdout([&] { debug_seis(list, 3); }), "======= SEI =======\n"
                                                            "=== User data unregistered ===\n"
                                                            " payloadType : 5 \n"
                                                            " payloadSize : 3 \n"
                                                            " payload : DE AD 01 \n"
                                                            "=== Stereo video info ===\n"
                                                            " payloadType : 21 \n"
                                                            " payloadSize : 0 \n"
                                                            " payload : \n"
                                                            "=== Unknown ===\n"
                                                            " payloadType : 22 \n"
                                                            " payloadSize : 4 \n"
                                                            " payload : \n");
}

TEST(H264Print, SpsPrintsItsVuiAndHrdSectionsEvenWithoutVui) {
    StreamPtr h = new_stream();
    const std::string text = capture_stdout([&] { debug_sps(h->sps); });
    EXPECT_NE(text.find("=== VUI ===\n aspect_ratio_info_present_flag : 0 \n"), std::string::npos);
    EXPECT_NE(text.find("=== HRD ===\n cpb_cnt_minus1 : 0 \n"), std::string::npos);
    EXPECT_EQ(text.find(" width : "), std::string::npos);
    EXPECT_EQ(text.find(" height : "), std::string::npos);
}

} // namespace
