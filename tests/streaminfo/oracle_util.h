// Helpers for tests that check our parsers against FFmpeg's command-line
// tools on streams generated at test time.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

// A temporary folder removed with everything in it at the end of the scope.
class TempDir {
public:
    TempDir()
    {
        char tmpl[] = "/tmp/streaminfo_test_XXXXXX";
        const char* d = mkdtemp(tmpl);
        path_ = d ? d : "";
    }
    ~TempDir()
    {
        if (!path_.empty())
            std::system(("rm -rf '" + path_ + "'").c_str());
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& path() const { return path_; }
    std::string file(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

// Runs a shell command; returns its standard output, and its exit status in
// *status.
inline std::string run_capture(const std::string& cmd, int* status = nullptr)
{
    std::string out;
    FILE* f = popen(cmd.c_str(), "r");
    if (!f) {
        if (status)
            *status = -1;
        return out;
    }
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, f)) > 0)
        out.append(buf, n);
    int rc = pclose(f);
    if (status)
        *status = rc;
    return out;
}

inline std::vector<uint8_t> read_file(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Splits "a=1|b=2" (ffprobe's compact output) into a map.
inline std::map<std::string, std::string> parse_compact(const std::string& line)
{
    std::map<std::string, std::string> kv;
    std::stringstream ss(line);
    std::string item;
    while (std::getline(ss, item, '|')) {
        size_t eq = item.find('=');
        if (eq != std::string::npos)
            kv[item.substr(0, eq)] = item.substr(eq + 1);
    }
    return kv;
}

inline std::vector<std::string> split_lines(const std::string& s)
{
    std::vector<std::string> lines;
    std::stringstream ss(s);
    std::string line;
    while (std::getline(ss, line))
        lines.push_back(line);
    return lines;
}

// Width and height of the first video stream as ffprobe reports them.
inline bool ffprobe_size(const std::string& path, int* w, int* h)
{
    int status = 0;
    std::string out = run_capture("ffprobe -v error -select_streams v:0 -show_entries stream=width,height "
                                  "-of compact=p=0 '" + path + "'",
                                  &status);
    auto kv = parse_compact(split_lines(out).empty() ? "" : split_lines(out)[0]);
    if (status != 0 || !kv.count("width") || !kv.count("height"))
        return false;
    *w = std::atoi(kv["width"].c_str());
    *h = std::atoi(kv["height"].c_str());
    return true;
}
