#include "common/run_cmd.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <sys/wait.h>
#include <unistd.h>

namespace testutil {

int runCommand(const std::string &cmd, std::string *out) {
    FILE *p = popen(cmd.c_str(), "r");
    if (!p) return -1;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0)
        if (out) out->append(buf, n);
    int st = pclose(p);
    return WIFEXITED(st) ? WEXITSTATUS(st) : -1;
}

bool haveTool(const std::string &name) {
    return runCommand("command -v " + name + " >/dev/null 2>&1") == 0;
}

TempDir::TempDir() {
    std::string tmpl = (std::filesystem::temp_directory_path() / "playertest-XXXXXX").string();
    if (mkdtemp(tmpl.data())) path_ = tmpl;
}

TempDir::~TempDir() {
    std::error_code ec;
    if (!path_.empty()) std::filesystem::remove_all(path_, ec);
}

} // namespace testutil
