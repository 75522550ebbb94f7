// Helpers shared by the audio tests: a temporary folder, running the tools
// the oracle tests check against, and little-endian sample conversion.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "common/run_cmd.h"

namespace audiotest {

using testutil::haveTool;
using testutil::TempDir;

// Runs a shell command; true when it exits with 0.
inline bool run(const std::string &cmd) {
    return testutil::runCommand(cmd) == 0;
}

// Sets an environment variable while alive.
class EnvSetting {
  public:
    EnvSetting(const char *name, const std::string &value) : name_(name) {
        const char *old = std::getenv(name);
        had_ = old != nullptr;
        old_ = had_ ? old : "";
        setenv(name, value.c_str(), 1);
    }
    ~EnvSetting() {
        if (had_) {
            setenv(name_.c_str(), old_.c_str(), 1);
        } else {
            unsetenv(name_.c_str());
        }
    }
    EnvSetting(const EnvSetting &) = delete;
    EnvSetting &operator=(const EnvSetting &) = delete;

  private:
    std::string name_;
    std::string old_;
    bool had_ = false;
};

inline std::vector<uint8_t> readFile(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline bool writeFile(const std::string &path, const std::vector<uint8_t> &bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char *>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(out);
}

inline std::vector<int16_t> samplesLE(const std::vector<uint8_t> &bytes) {
    std::vector<int16_t> s(bytes.size() / 2);
    for (size_t i = 0; i < s.size(); i++) {
        s[i] = static_cast<int16_t>(static_cast<uint16_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8)));
    }
    return s;
}

inline std::vector<uint8_t> bytesLE(const std::vector<int16_t> &samples) {
    std::vector<uint8_t> b(samples.size() * 2);
    for (size_t i = 0; i < samples.size(); i++) {
        uint16_t v = static_cast<uint16_t>(samples[i]);
        b[2 * i] = static_cast<uint8_t>(v & 0xFF);
        b[2 * i + 1] = static_cast<uint8_t>(v >> 8);
    }
    return b;
}

} // namespace audiotest
