// Helpers shared by the H.264 bitstream library tests: stdout capture for
// the printers, the printers' "name : value" lines, Annex B splitting, and
// FFmpeg's trace_headers output as a list of NAL units with their fields.
#pragma once

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <map>
#include <memory>
#include <regex>
#include <string>
#include <vector>

#include "streaminfo/h264_stream.h"

// A time limit for work that must stay linear: as stated in an optimised
// build, ten times longer under the sanitizers or without optimisation.
inline double time_limit(double seconds) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__) || !defined(NDEBUG)
    return seconds * 10;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
    return seconds * 10;
#else
    return seconds;
#endif
#else
    return seconds;
#endif
}

using StreamPtr = std::unique_ptr<h264_stream_t, void (*)(h264_stream_t *)>;

inline StreamPtr new_stream() {
    return StreamPtr(h264_new(), h264_free);
}

// Everything f prints on standard output.
template <typename F> std::string capture_stdout(F f) {
    std::fflush(stdout);
    FILE *tmp = std::tmpfile();
    if (!tmp) return "<no temp file>";
    int saved = dup(1);
    dup2(fileno(tmp), 1);
    f();
    std::fflush(stdout);
    dup2(saved, 1);
    close(saved);
    std::string out;
    std::rewind(tmp);
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, tmp)) > 0)
        out.append(buf, n);
    std::fclose(tmp);
    return out;
}

// The printers' field lines (" name : value " and " name : value ( text ) ").
inline std::map<std::string, int64_t> printed_fields(const std::string &text) {
    static const std::regex line(R"(^ +(\w+) : (-?\d+) )");
    std::map<std::string, int64_t> fields;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        std::string l = text.substr(start, end - start);
        std::smatch m;
        if (std::regex_search(l, m, line)) fields[m[1]] = std::stoll(m[2]);
        start = end + 1;
    }
    return fields;
}

// The NAL units of an Annex B stream, header byte first.
inline std::vector<std::vector<uint8_t>> split_nal_units(const std::vector<uint8_t> &data) {
    std::vector<std::vector<uint8_t>> units;
    int offset = 0;
    for (;;) {
        int s, e;
        if (find_nal_unit(data.data() + offset, int(data.size()) - offset, &s, &e) <= 0) break;
        units.emplace_back(data.begin() + offset + s, data.begin() + offset + e);
        offset += e;
    }
    return units;
}

// One syntax element as trace_headers prints it.
struct TraceField {
    long pos;         // bit position in the NAL unit, header included
    std::string name; // with its indices, e.g. "luma_weight_l0[1]"
    std::string bits; // the coded bits
    int64_t value;
};

struct TraceNal {
    std::string kind; // "Sequence Parameter Set", "Slice Header", ...
    std::vector<TraceField> fields;

    const TraceField *find(const std::string &name) const {
        for (const auto &f : fields)
            if (f.name == name) return &f;
        return nullptr;
    }
};

// Output of a command line, standard error included.
inline std::string run_output(const std::string &cmd) {
    std::string out;
    FILE *p = popen((cmd + " 2>&1").c_str(), "r");
    if (!p) return out;
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, p)) > 0)
        out.append(buf, n);
    pclose(p);
    return out;
}

// The NAL units of the packets of a raw H.264 file, in file order, as
// trace_headers parses them (the extradata copy before the first packet is
// left out).
inline std::vector<TraceNal> trace_nal_units(const std::string &path) {
    const std::string out =
        run_output("ffmpeg -nostdin -hide_banner -i '" + path + "' -c:v copy -bsf:v trace_headers -f null -");
    static const std::regex field(R"(\] (\d+)\s+(\S+)\s+([01]+) = (-?\d+)\s*$)");
    static const std::regex heading(R"(\[trace_headers @ [^\]]*\] ([A-Za-z][^=]*?)\s*$)");
    std::vector<TraceNal> units;
    bool in_packets = false;
    std::string pending;
    size_t start = 0;
    while (start < out.size()) {
        size_t end = out.find_first_of("\r\n", start);
        if (end == std::string::npos) end = out.size();
        const std::string line = out.substr(start, end - start);
        start = end + 1;
        if (line.find("] Packet:") != std::string::npos) {
            in_packets = true;
            continue;
        }
        if (!in_packets) continue;
        std::smatch m;
        if (std::regex_search(line, m, field)) {
            TraceField f{std::stol(m[1]), m[2], m[3], std::stoll(m[4])};
            if (f.name == "forbidden_zero_bit" && f.pos == 0) units.push_back({pending, {}});
            if (!units.empty()) units.back().fields.push_back(f);
        } else if (std::regex_search(line, m, heading)) {
            pending = m[1];
        }
    }
    return units;
}
