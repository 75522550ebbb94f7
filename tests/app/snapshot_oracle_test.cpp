// Our snapshot files as ffprobe reads them: a JPEG, a PNG and an LZW TIFF of the picture's size.
#include <gtest/gtest.h>

#include <QFile>

#include "app/snapshot/snapshot_taker.h"
#include "common/run_cmd.h"
#include "qt_test_app.h"
#include "snapshot_fixtures.h"

namespace {

TEST(SnapshotOracle, FfprobeReadsTheThreeFormats) {
    testApp();
    ASSERT_TRUE(testutil::haveTool("ffprobe"));
    ASSERT_TRUE(SnapshotTaker::tiffSupported())
        << "Qt has no TIFF writer: install qt6-image-formats-plugins (listed in scripts/deps.txt)";
    testutil::TempDir dir;
    const SnapshotTime t{2012, 5, 3, 14, 7, 9};
    struct Case {
        int type;
        std::string codec;
    } cases[] = {{0, "mjpeg"}, {1, "png"}, {2, "tiff"}};
    for (const Case &c : cases) {
        const QString path =
            SnapshotTaker::saveSnapshotImage(snapshotfixture::syntheticPicture(72, 40),
                                             QString::fromStdString(dir.path()), c.type, "cam", 1, t);
        ASSERT_FALSE(path.isEmpty());
        std::string out;
        const std::string cmd =
            "ffprobe -v error -select_streams v:0 -show_entries stream=codec_name,width,height "
            "-of csv=p=0 '" +
            QFile::encodeName(path).toStdString() + "'";
        EXPECT_EQ(testutil::runCommand(cmd, &out), 0) << cmd;
        EXPECT_EQ(out, c.codec + ",72,40\n") << cmd;
    }
}

} // namespace
