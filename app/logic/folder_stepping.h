// A recorder file's path split into the names the player keeps, and stepping to the previous or
// next recorder file of its folder.
//
// Stepping works on a snapshot of the folder listing: every entry ("." and ".." included) in the
// order the directory yields them, unsorted. Positions are indexes into that snapshot; the
// recorded position of the open file is the index of the entry after it (entries.size() when
// the file is not listed). Pure functions, no Qt, any thread; readFolderListing reads the disk.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

struct RecorderFilePath {
    std::string absoluteFilePath;      // as given
    std::string absoluteFileDir;       // everything up to and including the last "/" ("" if none)
    std::string lastPathComponent;     // the entry's own name, as listed in its folder
    std::string fileName;              // lastPathComponent without its extension
    std::string fileExtension;         // without the dot; "" when there is none
    std::string fileNameWithExtension; // fileName "." fileExtension (ends in "." without one)
};

// Splits a path. The folder is cut at the last "/", so a name without an extension or a folder
// whose name contains the file's name still gives the file's own folder. Trailing "/" are
// dropped first. A leading dot (".hidden") does not start an extension.
RecorderFilePath splitRecorderFilePath(std::string_view path);

// Whether an entry name's extension is "avc", "dv4" or "dv5" in any case.
bool isRecorderFileName(std::string_view name);

// The folder's entries in directory order. Returns false (and leaves `entries` empty) when the
// folder cannot be opened.
bool readFolderListing(const std::string &folder, std::vector<std::string> &entries);

// recordFileLocationInFolder: the index after the first entry equal to `name` byte for byte,
// or entries.size() when none is.
int32_t fileLocationInFolder(const std::vector<std::string> &entries, std::string_view name);

struct FolderStep {
    bool found = false;
    size_t entryIndex = 0;            // the recorder file to open, when found
    int32_t fileLocationInFolder = 0; // the position after the last entry looked at
};

// openNextFile: the first recorder file from `location` to the end, else from the start to
// the end (so a lone recorder file finds itself).
FolderStep openNextFile(const std::vector<std::string> &entries, int32_t location);

// openPreviousFile: walks back from the open file's own entry (location - 1), wrapping from
// the first entry to the last; gives up after 20 entries that are not recorder files.
FolderStep openPreviousFile(const std::vector<std::string> &entries, int32_t location);

// The path of an entry of the folder: absoluteFileDir (which ends in "/") plus the name, with
// a "/" put between them when the folder lacks it.
std::string joinFolderAndName(std::string_view folder, std::string_view name);
