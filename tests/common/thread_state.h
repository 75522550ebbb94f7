// Whether a thread of this process sleeps in the kernel, read from /proc. A test that must act
// while another thread waits (and not before it has got there) waits for this, not a fixed time.
#pragma once

#include <fcntl.h>
#include <sys/syscall.h>
#include <sys/types.h>
#include <unistd.h>

#include <chrono>
#include <dirent.h>
#include <string>
#include <thread>
#include <vector>

namespace testutil {

inline pid_t currentTid() {
    return static_cast<pid_t>(syscall(SYS_gettid));
}

// The start of a file under /proc, empty when it cannot be read. Read with plain calls: a stream
// throws when the thread the file belongs to ends while it is read.
inline std::string procText(const std::string &path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return std::string();
    char buffer[512];
    const ssize_t got = ::read(fd, buffer, sizeof buffer);
    ::close(fd);
    return std::string(buffer, got > 0 ? static_cast<size_t>(got) : 0);
}

// The state letter of /proc/self/task/TID/stat ('R', 'S', ...), '?' when it cannot be read.
inline char threadState(pid_t tid) {
    const std::string text = procText("/proc/self/task/" + std::to_string(tid) + "/stat");
    const size_t paren = text.rfind(')');
    return paren == std::string::npos || paren + 2 >= text.size() ? '?' : text[paren + 2];
}

// The kernel ids of this process's threads.
inline std::vector<pid_t> threadIds() {
    std::vector<pid_t> ids;
    if (DIR *dir = opendir("/proc/self/task")) {
        while (const dirent *entry = readdir(dir))
            if (entry->d_name[0] != '.') ids.push_back(static_cast<pid_t>(std::stol(entry->d_name)));
        closedir(dir);
    }
    return ids;
}

// The kernel id of this process's thread with the given name, 0 when there is none.
inline pid_t threadNamed(const std::string &name) {
    pid_t found = 0;
    for (pid_t tid : threadIds())
        if (procText("/proc/self/task/" + std::to_string(tid) + "/comm") == name + "\n") found = tid;
    return found;
}

// Returns once the thread has been seen asleep in the kernel several times in a row: it has gone
// on into its wait. False after `limit`.
inline bool waitUntilAsleep(pid_t tid, std::chrono::milliseconds limit = std::chrono::seconds(10)) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    int seen = 0;
    while (std::chrono::steady_clock::now() < deadline) {
        seen = threadState(tid) == 'S' ? seen + 1 : 0;
        if (seen >= 3) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return false;
}

} // namespace testutil
