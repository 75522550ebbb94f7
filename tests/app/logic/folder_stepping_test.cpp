// Splitting a recorder file's path, and stepping to the previous and next recorder file over
// a folder listing, in listings given here and in a real temporary folder.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <set>

#include "app/logic/folder_stepping.h"
#include "common/run_cmd.h"

namespace {

using Listing = std::vector<std::string>;

// The name a step from `name` leads to, or "" when it finds nothing.
std::string step(const Listing &entries, const std::string &name, bool forward) {
    const int32_t location = fileLocationInFolder(entries, name);
    const FolderStep s = forward ? openNextFile(entries, location) : openPreviousFile(entries, location);
    return s.found ? entries[s.entryIndex] : "";
}

Listing withOthers(const std::string &first, int others, const std::string &last) {
    Listing l{".", "..", first};
    for (int i = 0; i < others; ++i)
        l.push_back("note" + std::to_string(i) + ".txt");
    l.push_back(last);
    return l;
}

} // namespace

TEST(FolderStepping, SplitPath) {
    const struct {
        const char *path, *dir, *last, *name, *ext, *withExt;
    } rows[] = {
        {"/home/u/rec/a.avc", "/home/u/rec/", "a.avc", "a", "avc", "a.avc"},
        {"/data/a.avc/a.avc", "/data/a.avc/", "a.avc", "a", "avc", "a.avc"},
        {"/data/cam1.DV4x/cam1.DV4", "/data/cam1.DV4x/", "cam1.DV4", "cam1", "DV4", "cam1.DV4"},
        {"/data/noext", "/data/", "noext", "noext", "", "noext."},
        {"/data/noext/noext", "/data/noext/", "noext", "noext", "", "noext."},
        {"/data/.hidden", "/data/", ".hidden", ".hidden", "", ".hidden."},
        {"/data/archive.tar.Dv5", "/data/", "archive.tar.Dv5", "archive.tar", "Dv5", "archive.tar.Dv5"},
        {"/data/name.", "/data/", "name.", "name", "", "name."},
        {"/data/a%20b.avc", "/data/", "a%20b.avc", "a%20b", "avc", "a%20b.avc"},
        {"rel.avc", "", "rel.avc", "rel", "avc", "rel.avc"},
        {"/data/dir/", "/data/", "dir", "dir", "", "dir."},
        {"/x.dv5", "/", "x.dv5", "x", "dv5", "x.dv5"},
    };
    for (const auto &r : rows) {
        SCOPED_TRACE(r.path);
        const RecorderFilePath p = splitRecorderFilePath(r.path);
        EXPECT_EQ(p.absoluteFilePath, r.path);
        EXPECT_EQ(p.absoluteFileDir, r.dir);
        EXPECT_EQ(p.lastPathComponent, r.last);
        EXPECT_EQ(p.fileName, r.name);
        EXPECT_EQ(p.fileExtension, r.ext);
        EXPECT_EQ(p.fileNameWithExtension, r.withExt);
        // The folder and the entry name give the path back.
        if (r.path[std::strlen(r.path) - 1] != '/') {
            EXPECT_EQ(joinFolderAndName(p.absoluteFileDir, p.lastPathComponent), r.path);
        }
    }
    EXPECT_EQ(joinFolderAndName("/data", "a.avc"), "/data/a.avc");
}

TEST(FolderStepping, RecorderFileNames) {
    const struct {
        const char *name;
        bool recorder;
    } rows[] = {{"a.avc", true},     {"a.AVC", true}, {"b.Dv4", true}, {"c.dV5", true},
                {"d.avi", false},    {"avc", false},  {".avc", false}, {"e.avc.txt", false},
                {"f.txt.dv5", true}, {".", false},    {"..", false},   {"g.", false}};
    for (const auto &r : rows)
        EXPECT_EQ(isRecorderFileName(r.name), r.recorder) << r.name;
}

// Both directions, wrapping at either end, with mixed-case extensions, a lone recorder file,
// and the backward walk's limit of 20 other entries.
TEST(FolderStepping, StepsOverListings) {
    const Listing mixed{".", "a.AVC", "..", "b.txt", "c.dv4", "sub", "d.Dv5", "e.avi"};
    const Listing lone{".", "..", "x.avc", "y.txt"};
    const struct {
        const char *name;
        Listing entries;
        std::string from;
        bool forward;
        std::string to;
    } rows[] = {
        {"next", mixed, "a.AVC", true, "c.dv4"},
        {"next 2", mixed, "c.dv4", true, "d.Dv5"},
        {"next wraps", mixed, "d.Dv5", true, "a.AVC"},
        {"previous", mixed, "d.Dv5", false, "c.dv4"},
        {"previous 2", mixed, "c.dv4", false, "a.AVC"},
        {"previous wraps", mixed, "a.AVC", false, "d.Dv5"},
        {"next from a non-recorder file", mixed, "b.txt", true, "c.dv4"},
        {"previous from a non-recorder file", mixed, "b.txt", false, "a.AVC"},
        {"lone file next reopens it", lone, "x.avc", true, "x.avc"},
        {"lone file previous reopens it", lone, "x.avc", false, "x.avc"},
        {"19 others: previous reaches it", withOthers("p.avc", 19, "q.dv5"), "q.dv5", false, "p.avc"},
        {"20 others: previous gives up", withOthers("p.avc", 20, "q.dv5"), "q.dv5", false, ""},
        {"20 others: next does not", withOthers("p.avc", 20, "q.dv5"), "p.avc", true, "q.dv5"},
        // Backwards from p: "..", "." (2 misses), wrap to q.
        {"previous wraps within the limit", withOthers("p.avc", 30, "q.dv5"), "p.avc", false, "q.dv5"},
        {"lone file among 19 others", withOthers("p.avc", 16, "z.txt"), "p.avc", false, "p.avc"},
        {"lone file among 20 others", withOthers("p.avc", 17, "z.txt"), "p.avc", false, ""},
        {"no recorder file", Listing{".", "..", "a.txt"}, "a.txt", true, ""},
        {"empty listing next", Listing{}, "a.avc", true, ""},
        {"empty listing previous", Listing{}, "a.avc", false, ""},
    };
    for (const auto &r : rows) {
        SCOPED_TRACE(r.name);
        EXPECT_EQ(step(r.entries, r.from, r.forward), r.to);
    }
    // The open file is found by its exact name; the position moves past the entry found.
    EXPECT_EQ(fileLocationInFolder(mixed, "a.avc"), static_cast<int32_t>(mixed.size()));
    const FolderStep s = openNextFile(mixed, fileLocationInFolder(mixed, "a.AVC"));
    EXPECT_EQ(s.fileLocationInFolder, 5);
}

// A real folder: every entry is listed, and stepping either way visits each recorder file once
// per round, whatever order the directory yields.
TEST(FolderStepping, RealFolderRoundTrip) {
    testutil::TempDir dir;
    ASSERT_TRUE(dir.valid());
    const std::set<std::string> recorders{"one.avc", "Two.DV4", "three.Dv5", "four.aVc"};
    for (const auto &n : recorders)
        std::ofstream(dir.file(n)) << "x";
    for (const char *n : {"readme.txt", "clip.avi", "noext"})
        std::ofstream(dir.file(n)) << "x";
    std::filesystem::create_directory(dir.file("sub.avc.d"));

    Listing entries;
    ASSERT_TRUE(readFolderListing(dir.path(), entries));
    EXPECT_EQ(entries.size(), 2u + recorders.size() + 4u);
    EXPECT_EQ(std::count(entries.begin(), entries.end(), "."), 1);
    EXPECT_EQ(std::count(entries.begin(), entries.end(), ".."), 1);

    for (bool forward : {true, false}) {
        SCOPED_TRACE(forward);
        std::string at = "one.avc";
        std::set<std::string> seen;
        for (size_t i = 0; i < recorders.size(); ++i) {
            const RecorderFilePath p = splitRecorderFilePath(dir.file(at));
            Listing l;
            ASSERT_TRUE(readFolderListing(p.absoluteFileDir, l));
            const std::string next = step(l, p.lastPathComponent, forward);
            ASSERT_FALSE(next.empty());
            seen.insert(next);
            at = next;
        }
        EXPECT_EQ(seen, recorders);
        EXPECT_EQ(at, "one.avc");
    }
    Listing none;
    EXPECT_FALSE(readFolderListing(dir.file("missing"), none));
    EXPECT_TRUE(none.empty());
}
