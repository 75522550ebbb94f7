// Test helper: runs the recording generator (PLAYER_BIN_DIR "/mkrec") into a temporary folder
// and reads back its manifest. Tests that use it declare NEEDS_MKREC.
//
//   mkrec::TempDir dir;                                  // removed with everything in it
//   mkrec::Recording r = mkrec::make(dir, "a.avc", {"--kind", "avc", "--audio", "g723"});
//   ASSERT_TRUE(r.ok()) << r.output;
//   for (const mkrec::Unit* u : r.manifest.video(0)) ...  // units of video channel 0
//   std::vector<uint8_t> bytes = mkrec::readFile(r.path);
#pragma once

#include <dirent.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "common/run_cmd.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace mkrec {

// A fresh folder under $TMPDIR (or /tmp), removed with its contents on destruction.
using TempDir = testutil::TempDir;

// One unit (frame record / stream unit) of the recording, as the manifest lists it.
struct Unit {
    size_t index = 0;
    bool video = true;
    int channel = 0;        // 0-based
    bool key = false;       // the encoder's key frame
    int frame = 0;          // video frame / audio packet index within the channel
    uint64_t offset = 0;    // first header byte
    uint64_t headerLen = 0; // bytes before the payload
    uint64_t payloadOffset = 0, payloadLen = 0;
    uint64_t prefixLen = 0;                   // AVC in-band prefix at the start of the payload
    uint64_t esOffset = 0, esLen = 0;         // payload without the prefix
    std::string md5, esMd5;                   // lower-case hex MD5 of payload / es bytes
    int64_t tUs = 0;                          // unix time, microseconds
    uint64_t sec = 0, usec = 0, ms = 0;       // stored values
    std::map<std::string, std::string> attrs; // every key=value of the line
    std::string attr(const std::string &k, const std::string &def = "") const {
        auto it = attrs.find(k);
        return it == attrs.end() ? def : it->second;
    }
    bool has(const std::string &k) const { return attrs.count(k) != 0; }
};

struct Manifest {
    bool valid = false;
    std::map<std::string, std::string> file; // the "file" line
    std::vector<std::map<std::string, std::string>> videoChannels, audioChannels, damage;
    std::vector<Unit> units;

    std::string get(const std::string &k, const std::string &def = "") const {
        auto it = file.find(k);
        return it == file.end() ? def : it->second;
    }
    long long num(const std::string &k, long long def = -1) const {
        auto it = file.find(k);
        return it == file.end() ? def : std::strtoll(it->second.c_str(), nullptr, 0);
    }
    // Units of one kind, in file order; channel -1 = all channels.
    std::vector<const Unit *> video(int channel = -1) const { return select(true, channel); }
    std::vector<const Unit *> audio(int channel = -1) const { return select(false, channel); }

  private:
    std::vector<const Unit *> select(bool v, int ch) const {
        std::vector<const Unit *> r;
        for (const Unit &u : units)
            if (u.video == v && (ch < 0 || u.channel == ch)) r.push_back(&u);
        return r;
    }
};

// Decodes the manifest's %XX escapes.
std::string unescape(const std::string &s);
// The key=value fields of the rest of a manifest line.
std::map<std::string, std::string> parseFields(std::istringstream &in);
Manifest parseManifest(const std::string &path);

std::vector<uint8_t> readFile(const std::string &path);
std::string readText(const std::string &path);

// Runs a program with arguments (no shell); stdout and stderr go to outputFile.
// Returns its exit status, or -1 when it could not run or died from a signal.
int runProgram(const std::vector<std::string> &argv, const std::string &outputFile);

struct Recording {
    int status = -1;             // mkrec's exit status
    std::string output;          // what it printed
    std::string path;            // the recording
    std::string manifestPath;    // path + ".manifest"
    std::string expectedIdxPath; // path + ".expected-idx" (AVC)
    Manifest manifest;
    bool ok() const { return status == 0 && manifest.valid; }
};

// The generator the build made.
std::string mkrecPath();

// Writes dir/name with mkrec and the given options (--out is added).
Recording make(const TempDir &dir, const std::string &name, const std::vector<std::string> &args);

// The bytes of one unit's payload (or of its elementary stream, without an AVC prefix).
std::vector<uint8_t> payload(const std::vector<uint8_t> &file, const Unit &u, bool esOnly = false);

// MD5 (RFC 1321) as lower-case hex, to compare bytes with the manifest's md5 fields.
std::string md5Hex(const void *data, size_t n);
inline std::string md5Hex(const std::vector<uint8_t> &v) {
    return md5Hex(v.data(), v.size());
}

// Traces a frame's bytes back to its video unit, by the MD5 of the payload or of its elementary
// stream (an AVC payload without its prefix).
class FrameTrace {
  public:
    explicit FrameTrace(const Manifest &m) {
        for (const Unit *u : m.video()) {
            byMd5_[u->md5] = u;
            byMd5_[u->esMd5] = u;
        }
    }
    // Null when the bytes are no video unit of the recording.
    const Unit *unitOf(const void *data, size_t n) const {
        const auto it = byMd5_.find(md5Hex(data, n));
        return it == byMd5_.end() ? nullptr : it->second;
    }

  private:
    std::map<std::string, const Unit *> byMd5_;
};

// Little-endian reads from a byte buffer (0 past the end).
uint32_t le(const std::vector<uint8_t> &b, uint64_t at, int width);

} // namespace mkrec
