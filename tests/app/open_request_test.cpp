// Requests to open a document and to show the player again: from the command line at launch,
// from a second launch while the player runs, and the reopen answer.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QDir>
#include <QLocalSocket>
#include <QSignalSpy>
#include <unistd.h>

#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "app/VistrelAppDelegate.h"
#include "app/main_window.h"
#include "app/player_application.h"
#include "app/single_instance.h"
#include "qt_test_app.h"

namespace {

QString uniqueServerName() {
    static std::atomic<int> counter{0};
    return QString("recorderplayer-test-%1-%2").arg(getpid()).arg(counter.fetch_add(1));
}

TEST(OpenRequest, IsServedOnlyAfterLaunchingHasBuiltTheInterface) {
    testApp();
    VistrelAppDelegate delegate;
    // The desktop's request arrives while the application is still launching.
    EXPECT_TRUE(delegate.applicationOpenFile("/recordings/site A/cam.DV4"));
    EXPECT_TRUE(delegate.absoluteFilePathString().isEmpty());
    delegate.applicationDidFinishLaunching();
    EXPECT_TRUE(delegate.absoluteFilePathString().isEmpty()) << "opened before the event loop served it";
    EXPECT_TRUE(delegate.window()->isVisible()) << "the window comes to the front";

    serveEvents();
    EXPECT_EQ(delegate.absoluteFilePathString(), QString("/recordings/site A/cam.DV4"));
    EXPECT_EQ(delegate.absoluteFilePath(), std::string("/recordings/site A/cam.DV4"));
    EXPECT_EQ(delegate.openFile().fileName(), QString("cam"));
    EXPECT_EQ(delegate.openFile().fileExtension(), QString("DV4"));
    EXPECT_EQ(delegate.openFile().fileNameWithExtension(), QString("cam.DV4"));

    // A name without extension keeps a trailing dot in its name with extension.
    delegate.applicationOpenFile("/recordings/noextension");
    serveEvents();
    EXPECT_EQ(delegate.openFile().fileName(), QString("noextension"));
    EXPECT_TRUE(delegate.openFile().fileExtension().isEmpty());
    EXPECT_EQ(delegate.openFile().fileNameWithExtension(), QString("noextension."));
}

TEST(OpenRequest, CommandLineFileIsOpenedAfterTheWindowIsBuilt) {
    testApp();
    const QString server = uniqueServerName();
    PlayerApplication player;
    ASSERT_TRUE(player.launch({"relative/one.avc"}, server));
    VistrelAppDelegate *delegate = player.delegate();
    ASSERT_NE(delegate, nullptr);
    // launch() has returned: the interface is complete, the file still waits in the queue.
    EXPECT_EQ(delegate->window()->ui.audioChannelSwitchBtn->count(), 16);
    EXPECT_EQ(delegate->window()->ui.videoChannelSwitchBtn->count(), 5);
    EXPECT_TRUE(delegate->absoluteFilePathString().isEmpty());
    serveEvents();
    EXPECT_EQ(delegate->absoluteFilePathString(), QDir::current().absoluteFilePath("relative/one.avc"));
}

TEST(OpenRequest, SecondLaunchHandsItsFileToTheRunningPlayer) {
    testApp();
    const QString server = uniqueServerName();
    PlayerApplication first;
    ASSERT_TRUE(first.launch({}, server));
    VistrelAppDelegate *delegate = first.delegate();
    serveEvents();
    EXPECT_TRUE(delegate->absoluteFilePathString().isEmpty()) << "no file is opened at launch";

    // The second launch runs beside the first one's event loop, as another process would.
    std::atomic<int> secondLaunched{-1};
    std::thread second([&] {
        PlayerApplication other;
        secondLaunched = other.launch({"/mnt/evidence/ch 2/tag ü.dv5"}, server) ? 1 : 0;
    });
    ASSERT_TRUE(serveEventsUntil([&] { return secondLaunched.load() >= 0; }));
    second.join();
    EXPECT_EQ(secondLaunched.load(), 0) << "the second launch must leave the work to the first";
    ASSERT_TRUE(serveEventsUntil([&] { return !delegate->absoluteFilePathString().isEmpty(); }));
    EXPECT_EQ(delegate->absoluteFilePathString(), QString::fromUtf8("/mnt/evidence/ch 2/tag ü.dv5"));
    EXPECT_EQ(delegate->openFile().fileExtension(), QString("dv5"));

    // A second file replaces the first.
    std::thread third([&] {
        PlayerApplication other;
        other.launch({"/mnt/evidence/next.avc"}, server);
    });
    ASSERT_TRUE(serveEventsUntil([&] { return delegate->openFile().fileName() == "next"; }));
    third.join();
}

TEST(OpenRequest, SecondLaunchWithoutFileBringsTheWindowBack) {
    testApp();
    const QString server = uniqueServerName();
    PlayerApplication first;
    ASSERT_TRUE(first.launch({}, server));
    VistrelAppDelegate *delegate = first.delegate();
    serveEvents();
    delegate->window()->hide();
    ASSERT_FALSE(delegate->window()->isVisible());

    std::atomic<int> secondLaunched{-1};
    std::thread second([&] {
        PlayerApplication other;
        secondLaunched = other.launch({}, server) ? 1 : 0;
    });
    ASSERT_TRUE(serveEventsUntil([&] { return delegate->window()->isVisible(); }));
    second.join();
    EXPECT_EQ(secondLaunched.load(), 0);
    EXPECT_TRUE(delegate->absoluteFilePathString().isEmpty()) << "showing the player opens nothing";
}

TEST(OpenRequest, ReopenShowsTheWindowOnlyWhenNoneIsVisible) {
    testApp();
    VistrelAppDelegate delegate;
    delegate.applicationDidFinishLaunching();
    EXPECT_FALSE(delegate.window()->isVisible());
    EXPECT_TRUE(delegate.applicationShouldHandleReopen(true));
    EXPECT_FALSE(delegate.window()->isVisible()) << "with a visible window nothing changes";
    EXPECT_TRUE(delegate.applicationShouldHandleReopen(false));
    EXPECT_TRUE(delegate.window()->isVisible());
    EXPECT_TRUE(delegate.applicationShouldHandleReopen(false));
    EXPECT_TRUE(delegate.window()->isVisible());
}

TEST(SingleInstanceMessages, OversizedOrUnterminatedRequestsOpenNothing) {
    testApp();
    const QString server = uniqueServerName();
    SingleInstance instance(server);
    ASSERT_TRUE(instance.listen());
    QSignalSpy opened(&instance, &SingleInstance::openRequested);

    // Each request goes out on a connection of its own, and a last one carries a marker: the
    // server has read the request through to its end once the marker has arrived. What was
    // opened before the marker is what the request opened.
    auto connectAndWrite = [&](const QByteArray &bytes) {
        std::atomic<bool> gone{false};
        std::thread client([&] {
            QLocalSocket socket;
            socket.connectToServer(server);
            if (socket.waitForConnected(10000)) {
                socket.write(bytes);
                while (socket.bytesToWrite() > 0 && socket.waitForBytesWritten(10000)) {
                }
                socket.disconnectFromServer();
            }
            gone = true;
        });
        // Serve the server side while the client writes, until it has gone.
        const bool done = serveEventsUntil([&] { return gone.load(); }, 20000);
        client.join();
        return done;
    };
    const QString marker = QStringLiteral("/marker");
    const std::string m = marker.toStdString();
    auto send = [&](const QByteArray &bytes) {
        opened.clear();
        std::vector<std::string> paths;
        if (!connectAndWrite(bytes) || !connectAndWrite("open " + marker.toUtf8() + "\n")) return paths;
        if (!serveEventsUntil([&] { return opened.count() > 0 && opened.last().at(0).toString() == marker; },
                              20000))
            return paths;
        for (int i = 0; i + 1 < opened.count(); ++i)
            paths.push_back(opened.at(i).at(0).toString().left(40).toStdString());
        paths.push_back(marker.toStdString());
        return paths;
    };

    EXPECT_EQ(send(QByteArray("open /a.dv4\nopen /b.avc")), (std::vector<std::string>{"/a.dv4", m}))
        << "an unterminated last line is no request";
    EXPECT_EQ(send(QByteArray("open /") + QByteArray(SingleInstance::kMaxMessageBytes + 10, 'x') + "\n"),
              (std::vector<std::string>{m}));
    EXPECT_EQ(send(QByteArray("delete /everything\nopen \n")), (std::vector<std::string>{m}))
        << "unknown requests and empty paths are ignored";
}

} // namespace
