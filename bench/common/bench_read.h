// The read anchor of the benchmarks that read recordings: the file through read(2), as cat does.
#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <string>
#include <vector>

// Reads `path` from start to end in reads of `buffer`'s size; the bytes read, 0 when it cannot be
// opened.
inline uint64_t readThrough(const std::string &path, std::vector<char> &buffer) {
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return 0;
    uint64_t total = 0;
    for (;;) {
        const ssize_t n = read(fd, buffer.data(), buffer.size());
        if (n <= 0) break;
        total += static_cast<uint64_t>(n);
    }
    close(fd);
    return total;
}
