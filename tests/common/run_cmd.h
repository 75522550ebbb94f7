// Small helpers for tests that call outside tools (ffmpeg, ffprobe, pactl) and use temp folders.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

namespace testutil {

// Runs a shell command; returns its exit status and fills `out` with its standard output.
int runCommand(const std::string &cmd, std::string *out = nullptr);

bool haveTool(const std::string &name);

// A fresh folder under the system temp folder, removed with everything in it.
class TempDir {
  public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir &) = delete;
    TempDir &operator=(const TempDir &) = delete;
    const std::string &path() const { return path_; }
    bool valid() const { return !path_.empty(); }
    std::string file(const std::string &name) const { return path_ + "/" + name; }

  private:
    std::string path_;
};

} // namespace testutil
