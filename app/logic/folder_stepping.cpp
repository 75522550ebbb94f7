#include "app/logic/folder_stepping.h"

#include <dirent.h>

#include "app/logic/recorder_file_probe.h"

namespace {

// Entries that are not recorder files passed over before the backward step gives up.
constexpr int kPreviousFileMissLimit = 20;

std::string_view extensionOf(std::string_view name) {
    const size_t dot = name.rfind('.');
    if (dot == std::string_view::npos || dot == 0) return {};
    return name.substr(dot + 1);
}

} // namespace

RecorderFilePath splitRecorderFilePath(std::string_view path) {
    RecorderFilePath parts;
    parts.absoluteFilePath = std::string(path);
    std::string_view p = path;
    while (p.size() > 1 && p.back() == '/')
        p.remove_suffix(1);
    const size_t slash = p.rfind('/');
    const std::string_view name = slash == std::string_view::npos ? p : p.substr(slash + 1);
    parts.absoluteFileDir =
        std::string(slash == std::string_view::npos ? std::string_view() : p.substr(0, slash + 1));
    parts.lastPathComponent = std::string(name);
    const std::string_view ext = extensionOf(name);
    parts.fileExtension = std::string(ext);
    // "name.ext" -> "name"; a trailing dot ("name.") goes too; "name" and ".hidden" stay whole.
    std::string_view stem = name;
    if (!ext.empty() || (name.size() > 1 && name.back() == '.'))
        stem = name.substr(0, name.size() - ext.size() - 1);
    parts.fileName = std::string(stem);
    parts.fileNameWithExtension = parts.fileName + "." + parts.fileExtension;
    return parts;
}

bool isRecorderFileName(std::string_view name) {
    return recorderFileKindFromExtension(extensionOf(name)) != RecorderFileKind::Unknown;
}

bool readFolderListing(const std::string &folder, std::vector<std::string> &entries) {
    entries.clear();
    DIR *dir = ::opendir(folder.empty() ? "." : folder.c_str());
    if (!dir) return false;
    while (const dirent *entry = ::readdir(dir))
        entries.emplace_back(entry->d_name);
    ::closedir(dir);
    return true;
}

int32_t fileLocationInFolder(const std::vector<std::string> &entries, std::string_view name) {
    for (size_t i = 0; i < entries.size(); ++i)
        if (entries[i] == name) return static_cast<int32_t>(i + 1);
    return static_cast<int32_t>(entries.size());
}

FolderStep openNextFile(const std::vector<std::string> &entries, int32_t location) {
    FolderStep step;
    const int32_t end = static_cast<int32_t>(entries.size());
    // From the entry after the open file to the end, then once more from the start.
    int32_t start = location < 0 ? 0 : location;
    for (int pass = 0; pass < 2; ++pass, start = 0) {
        for (int32_t i = start; i < end; ++i) {
            step.fileLocationInFolder = i + 1;
            if (isRecorderFileName(entries[static_cast<size_t>(i)])) {
                step.found = true;
                step.entryIndex = static_cast<size_t>(i);
                return step;
            }
        }
        step.fileLocationInFolder = end;
    }
    return step;
}

FolderStep openPreviousFile(const std::vector<std::string> &entries, int32_t location) {
    FolderStep step;
    step.fileLocationInFolder = location;
    const int32_t end = static_cast<int32_t>(entries.size());
    if (end < 1) return step;
    int32_t p = location - 1; // the open file's own entry
    for (int misses = 0; misses < kPreviousFileMissLimit;) {
        --p;
        if (p < 0 || p >= end) p = end - 1; // wrap from the first entry to the last
        step.fileLocationInFolder = p + 1;
        if (isRecorderFileName(entries[static_cast<size_t>(p)])) {
            step.found = true;
            step.entryIndex = static_cast<size_t>(p);
            return step;
        }
        ++misses;
    }
    return step;
}

std::string joinFolderAndName(std::string_view folder, std::string_view name) {
    std::string path(folder);
    if (!path.empty() && path.back() != '/') path += '/';
    path += name;
    return path;
}
