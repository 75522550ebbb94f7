// Snapshot names: the exact bytes of the three forms, the folder join, names that must not
// leave the chosen folder, and numbering on a clash.
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "app/logic/snapshot_name.h"

namespace {

TEST(SnapshotName, ThreeFormsByteForByte) {
    const SnapshotTime t{2012, 5, 3, 14, 7, 9};
    // Fullwidth solidus EF BC 8F between the date fields, fullwidth colon EF BC 9A between
    // the time fields.
    const std::string date = "2012\xEF\xBC\x8F"
                             "05\xEF\xBC\x8F"
                             "03";
    const std::string time = "14\xEF\xBC\x9A"
                             "07\xEF\xBC\x9A"
                             "09";
    struct Case {
        int type;
        std::string recording;
        int channel;
        SnapshotTime time;
        std::string expected;
    } cases[] = {
        {0, "cam", 3, t, "cam_CH3_" + date + "_" + time + ".jpg"},
        {1, "cam", 3, t, "PlaybackTime_" + date + "_" + time + ".png"},
        {2, "cam", 3, t, "PlaybackTime_" + date + "_" + time + ".tiff"},
        // Format-like text in a recording's name is kept as it stands.
        {0, "rec%2%d%s", 16, t, "rec%2%d%s_CH16_" + date + "_" + time + ".jpg"},
        {0, "a/b", 1, t, "a_b_CH1_" + date + "_" + time + ".jpg"},
        {0,
         "Kamera \xC3\xBC",
         1,
         {999, 12, 31, 0, 0, 0},
         "Kamera \xC3\xBC_CH1_0999\xEF\xBC\x8F"
         "12\xEF\xBC\x8F"
         "31_00\xEF\xBC\x9A"
         "00\xEF\xBC\x9A"
         "00.jpg"},
        {3, "cam", 1, t, ""},
        {-1, "cam", 1, t, ""},
    };
    for (const Case &c : cases)
        EXPECT_EQ(snapshotFileName(c.type, c.recording, c.channel, c.time), c.expected)
            << c.type << " " << c.recording;
}

TEST(SnapshotName, FolderJoinAndSafeNames) {
    struct Case {
        std::string folder, recording, expected;
    } cases[] = {
        {"/home/u/Documents/Vistrel/Snapshot/", "cam", "/home/u/Documents/Vistrel/Snapshot/cam"},
        {"/media/usb/shots", "cam", "/media/usb/shots/cam"}, // a folder from the dialog
        {"/media/usb/shots", "", "/media/usb/shots/_"},
        {"/media/usb/shots", ".", "/media/usb/shots/_"},
        {"/media/usb/shots", "..", "/media/usb/shots/__"},
        {"/media/usb/shots", "...", "/media/usb/shots/___"},
        {"/media/usb/shots", "../../etc", "/media/usb/shots/.._.._etc"},
        {"/media/usb/shots", ".hidden", "/media/usb/shots/.hidden"},
        {"/", "cam", "/cam"},
        {"", "cam", "cam"},
    };
    for (const Case &c : cases)
        EXPECT_EQ(snapshotFolderPath(c.folder, c.recording), c.expected) << c.recording;
}

TEST(SnapshotName, ClashesAreNumberedBeforeTheExtension) {
    struct Case {
        std::string path;
        std::set<std::string> taken;
        std::string expected;
    } cases[] = {
        {"/s/cam/a.jpg", {}, "/s/cam/a.jpg"},
        {"/s/cam/a.jpg", {"/s/cam/a.jpg"}, "/s/cam/a_2.jpg"},
        {"/s/cam/a.jpg", {"/s/cam/a.jpg", "/s/cam/a_2.jpg"}, "/s/cam/a_3.jpg"},
        {"/s/cam/a.b.tiff", {"/s/cam/a.b.tiff"}, "/s/cam/a.b_2.tiff"},
        {"/s/c.d/name", {"/s/c.d/name"}, "/s/c.d/name_2"},
        {"/s/.png", {"/s/.png"}, "/s/.png_2"},
    };
    for (const Case &c : cases) {
        const auto exists = [&](const std::string &p) { return c.taken.count(p) > 0; };
        EXPECT_EQ(firstFreePath(c.path, exists), c.expected) << c.path;
    }
    EXPECT_EQ(firstFreePath(
                  "/s/a.jpg", [](const std::string &) { return true; }, 5),
              "");
}

} // namespace
