// Helpers for tests that check our parsers against FFmpeg's command-line
// tools on streams generated at test time.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "common/run_cmd.h"

inline std::vector<uint8_t> read_file(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Splits "a=1|b=2" (ffprobe's compact output) into a map.
inline std::map<std::string, std::string> parse_compact(const std::string &line) {
    std::map<std::string, std::string> kv;
    std::stringstream ss(line);
    std::string item;
    while (std::getline(ss, item, '|')) {
        size_t eq = item.find('=');
        if (eq != std::string::npos) kv[item.substr(0, eq)] = item.substr(eq + 1);
    }
    return kv;
}

inline std::vector<std::string> split_lines(const std::string &s) {
    std::vector<std::string> lines;
    std::stringstream ss(s);
    std::string line;
    while (std::getline(ss, line))
        if (!line.empty()) lines.push_back(line);
    return lines;
}

// Width and height of the first video stream as ffprobe reports them.
inline bool ffprobe_size(const std::string &path, int *w, int *h) {
    std::string out;
    int rc = testutil::runCommand("ffprobe -v error -select_streams v:0 -show_entries stream=width,height "
                                  "-of compact=p=0 '" +
                                      path + "'",
                                  &out);
    auto lines = split_lines(out);
    if (rc != 0 || lines.empty()) return false;
    auto kv = parse_compact(lines[0]);
    if (!kv.count("width") || !kv.count("height")) return false;
    *w = std::atoi(kv["width"].c_str());
    *h = std::atoi(kv["height"].c_str());
    return true;
}

// Runs ffmpeg quietly; true on success.
inline bool ffmpeg(const std::string &args) {
    return testutil::runCommand("ffmpeg -nostdin -hide_banner -loglevel error -y " + args + " 2>&1") == 0;
}

#define REQUIRE_FFMPEG()                                                                                     \
    do {                                                                                                     \
        if (!testutil::haveTool("ffmpeg") || !testutil::haveTool("ffprobe"))                                 \
            GTEST_SKIP() << "ffmpeg/ffprobe not installed";                                                  \
    } while (0)
