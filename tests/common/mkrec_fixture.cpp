#include "common/mkrec_fixture.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>

#ifndef PLAYER_BIN_DIR
#error "PLAYER_BIN_DIR must be defined (the test_common library does it)"
#endif

extern char **environ;

namespace mkrec {

std::string unescape(const std::string &s) {
    std::string o;
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '%' && i + 2 < s.size()) {
            o += static_cast<char>(std::strtol(s.substr(i + 1, 2).c_str(), nullptr, 16));
            i += 2;
        } else {
            o += s[i];
        }
    }
    return o;
}

std::map<std::string, std::string> parseFields(std::istringstream &in) {
    std::map<std::string, std::string> m;
    std::string tok;
    while (in >> tok) {
        size_t eq = tok.find('=');
        if (eq == std::string::npos) continue;
        m[tok.substr(0, eq)] = unescape(tok.substr(eq + 1));
    }
    return m;
}

Manifest parseManifest(const std::string &path) {
    Manifest m;
    std::ifstream f(path);
    std::string line;
    if (!std::getline(f, line) || line != "mkrec-manifest 1") return m;
    auto u64 = [](const std::map<std::string, std::string> &a, const char *k) -> uint64_t {
        auto it = a.find(k);
        return it == a.end() ? 0 : std::strtoull(it->second.c_str(), nullptr, 0);
    };
    while (std::getline(f, line)) {
        std::istringstream in(line);
        std::string head;
        in >> head;
        auto a = parseFields(in);
        if (head == "file") {
            m.file = a;
        } else if (head == "video") {
            m.videoChannels.push_back(a);
        } else if (head == "audio") {
            m.audioChannels.push_back(a);
        } else if (head == "damage") {
            m.damage.push_back(a);
        } else if (head == "unit") {
            Unit u;
            u.index = u64(a, "i");
            u.video = a["type"] == "video";
            u.channel = static_cast<int>(u64(a, "ch"));
            u.key = a["key"] == "1";
            u.frame = static_cast<int>(u64(a, "frame"));
            u.offset = u64(a, "off");
            u.headerLen = u64(a, "hdr_len");
            u.payloadOffset = u64(a, "payload_off");
            u.payloadLen = u64(a, "len");
            u.prefixLen = u64(a, "prefix");
            u.esOffset = u64(a, "es_off");
            u.esLen = u64(a, "es_len");
            u.md5 = a["md5"];
            u.esMd5 = a["es_md5"];
            u.tUs = std::strtoll(a["t_us"].c_str(), nullptr, 10);
            u.sec = u64(a, "sec");
            u.usec = u64(a, "usec");
            u.ms = u64(a, "ms");
            u.attrs = a;
            m.units.push_back(u);
        }
    }
    m.valid = !m.file.empty();
    return m;
}

std::vector<uint8_t> readFile(const std::string &path) {
    std::ifstream f(path, std::ios::binary);
    return std::vector<uint8_t>((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
}

std::string readText(const std::string &path) {
    std::vector<uint8_t> b = readFile(path);
    return std::string(b.begin(), b.end());
}

int runProgram(const std::vector<std::string> &argv, const std::string &outputFile) {
    std::vector<char *> av;
    for (const std::string &s : argv)
        av.push_back(const_cast<char *>(s.c_str()));
    av.push_back(nullptr);
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_addopen(&fa, 1, outputFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_adddup2(&fa, 1, 2);
    pid_t pid = 0;
    int rc = posix_spawnp(&pid, av[0], &fa, nullptr, av.data(), environ);
    posix_spawn_file_actions_destroy(&fa);
    if (rc != 0) return -1;
    int st = 0;
    if (waitpid(pid, &st, 0) < 0) return -1;
    return WIFEXITED(st) ? WEXITSTATUS(st) : -1;
}

std::string mkrecPath() {
    return std::string(PLAYER_BIN_DIR) + "/mkrec";
}

Recording make(const TempDir &dir, const std::string &name, const std::vector<std::string> &args) {
    Recording r;
    r.path = dir.file(name);
    r.manifestPath = r.path + ".manifest";
    r.expectedIdxPath = r.path + ".expected-idx";
    std::vector<std::string> argv{mkrecPath()};
    argv.insert(argv.end(), args.begin(), args.end());
    argv.push_back("--out");
    argv.push_back(r.path);
    std::string log = r.path + ".log";
    r.status = runProgram(argv, log);
    r.output = readText(log);
    if (r.status == 0) r.manifest = parseManifest(r.manifestPath);
    return r;
}

std::vector<uint8_t> payload(const std::vector<uint8_t> &file, const Unit &u, bool esOnly) {
    uint64_t off = esOnly ? u.esOffset : u.payloadOffset, len = esOnly ? u.esLen : u.payloadLen;
    if (off > file.size()) return {};
    if (len > file.size() - off) len = file.size() - off;
    return std::vector<uint8_t>(file.begin() + static_cast<long>(off),
                                file.begin() + static_cast<long>(off + len));
}

std::string md5Hex(const void *data, size_t n) {
    static const uint32_t K[64] = {
        0xd76aa478, 0xe8c7b756, 0x242070db, 0xc1bdceee, 0xf57c0faf, 0x4787c62a, 0xa8304613, 0xfd469501,
        0x698098d8, 0x8b44f7af, 0xffff5bb1, 0x895cd7be, 0x6b901122, 0xfd987193, 0xa679438e, 0x49b40821,
        0xf61e2562, 0xc040b340, 0x265e5a51, 0xe9b6c7aa, 0xd62f105d, 0x02441453, 0xd8a1e681, 0xe7d3fbc8,
        0x21e1cde6, 0xc33707d6, 0xf4d50d87, 0x455a14ed, 0xa9e3e905, 0xfcefa3f8, 0x676f02d9, 0x8d2a4c8a,
        0xfffa3942, 0x8771f681, 0x6d9d6122, 0xfde5380c, 0xa4beea44, 0x4bdecfa9, 0xf6bb4b60, 0xbebfbc70,
        0x289b7ec6, 0xeaa127fa, 0xd4ef3085, 0x04881d05, 0xd9d4d039, 0xe6db99e5, 0x1fa27cf8, 0xc4ac5665,
        0xf4292244, 0x432aff97, 0xab9423a7, 0xfc93a039, 0x655b59c3, 0x8f0ccc92, 0xffeff47d, 0x85845dd1,
        0x6fa87e4f, 0xfe2ce6e0, 0xa3014314, 0x4e0811a1, 0xf7537e82, 0xbd3af235, 0x2ad7d2bb, 0xeb86d391};
    static const int R[64] = {7, 12, 17, 22, 7, 12, 17, 22, 7, 12, 17, 22, 7, 12, 17, 22,
                              5, 9,  14, 20, 5, 9,  14, 20, 5, 9,  14, 20, 5, 9,  14, 20,
                              4, 11, 16, 23, 4, 11, 16, 23, 4, 11, 16, 23, 4, 11, 16, 23,
                              6, 10, 15, 21, 6, 10, 15, 21, 6, 10, 15, 21, 6, 10, 15, 21};
    std::vector<uint8_t> m(static_cast<const uint8_t *>(data), static_cast<const uint8_t *>(data) + n);
    uint64_t bits = static_cast<uint64_t>(n) * 8;
    m.push_back(0x80);
    while (m.size() % 64 != 56)
        m.push_back(0);
    for (int i = 0; i < 8; ++i)
        m.push_back(static_cast<uint8_t>(bits >> (8 * i)));
    uint32_t h[4] = {0x67452301, 0xefcdab89, 0x98badcfe, 0x10325476};
    for (size_t off = 0; off < m.size(); off += 64) {
        uint32_t w[16];
        for (int i = 0; i < 16; ++i)
            w[i] = static_cast<uint32_t>(m[off + 4 * i]) | static_cast<uint32_t>(m[off + 4 * i + 1]) << 8 |
                   static_cast<uint32_t>(m[off + 4 * i + 2]) << 16 |
                   static_cast<uint32_t>(m[off + 4 * i + 3]) << 24;
        uint32_t a = h[0], b = h[1], c = h[2], d = h[3];
        for (int i = 0; i < 64; ++i) {
            uint32_t f;
            int g;
            if (i < 16) {
                f = (b & c) | (~b & d);
                g = i;
            } else if (i < 32) {
                f = (d & b) | (~d & c);
                g = (5 * i + 1) % 16;
            } else if (i < 48) {
                f = b ^ c ^ d;
                g = (3 * i + 5) % 16;
            } else {
                f = c ^ (b | ~d);
                g = (7 * i) % 16;
            }
            uint32_t t = d;
            d = c;
            c = b;
            uint32_t x = a + f + K[i] + w[g];
            b = b + ((x << R[i]) | (x >> (32 - R[i])));
            a = t;
        }
        h[0] += a;
        h[1] += b;
        h[2] += c;
        h[3] += d;
    }
    char out[33];
    for (int i = 0; i < 16; ++i)
        std::snprintf(out + 2 * i, 3, "%02x", (h[i / 4] >> (8 * (i % 4))) & 0xFF);
    return std::string(out, 32);
}

uint32_t le(const std::vector<uint8_t> &b, uint64_t at, int width) {
    uint32_t v = 0;
    for (int i = 0; i < width; ++i)
        if (at + i < b.size()) v |= static_cast<uint32_t>(b[at + i]) << (8 * i);
    return v;
}

} // namespace mkrec
