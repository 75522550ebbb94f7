// Log lines carry only printable text: bytes from a file (a header's id, a name) that are
// control bytes or not UTF-8 are written as \xHH; printable UTF-8, new lines and tabs pass.
#include "platform/log.h"

#include <gtest/gtest.h>

#include <string>

TEST(PlayerLog, WritesOnlyPrintableText) {
    const struct {
        std::string in, out;
    } rows[] = {
        {"minor_id: 700\n", "minor_id: 700\n"},
        {"Hof \xc3\xbc\tT\xf0\x9f\x98\x80\n", "Hof \xc3\xbc\tT\xf0\x9f\x98\x80\n"},
        {"a\x01"
         "b\x7f\x1b[2J",
         "a\\x01b\\x7F\\x1B[2J"},
        {"\xff\xfe\x80", "\\xFF\\xFE\\x80"},
        {"\xc2\x85 \xc2\xa0", "\\xC2\\x85 \xc2\xa0"},                     // C1 control, no-break space
        {"\xe2\x82", "\\xE2\\x82"},                                       // cut short
        {"\xed\xa0\x80", "\\xED\\xA0\\x80"},                              // surrogate
        {"\xc0\xaf \xf4\x90\x80\x80", "\\xC0\\xAF \\xF4\\x90\\x80\\x80"}, // overlong, past U+10FFFF
    };
    std::string line;
    PlayerLogSink previous = player_log_set_sink([&](const std::string &l) { line = l; });
    for (const auto &r : rows) {
        player_log("%.*s", static_cast<int>(r.in.size()), r.in.data());
        EXPECT_EQ(line, r.out) << r.in;
    }
    player_log_set_sink(previous);
}
