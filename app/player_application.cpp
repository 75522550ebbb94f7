#include "app/player_application.h"

#include <QDir>
#include <QFileInfo>

#include "app/VistrelAppDelegate.h"
#include "app/main_window.h"

PlayerApplication::PlayerApplication(QObject *parent) : QObject(parent) {}

// The delegate (and with it the engines) ends before the socket that could still ask it for
// something.
PlayerApplication::~PlayerApplication() {
    delegate_.reset();
    instance_.reset();
}

bool PlayerApplication::launch(const QStringList &files, const QString &serverName) {
    QStringList paths;
    for (const QString &file : files) {
        if (file.isEmpty()) continue;
        // The running player may sit in another folder: relative names are made whole here.
        paths << QDir::cleanPath(QFileInfo(file).absoluteFilePath());
    }
    instance_ = std::make_unique<SingleInstance>(serverName);
    if (instance_->handToRunningInstance(paths)) return false;
    instance_->listen();

    delegate_ = std::make_unique<VistrelAppDelegate>();
    VistrelAppDelegate *delegate = delegate_.get();
    connect(instance_.get(), &SingleInstance::openRequested, delegate,
            [delegate](const QString &path) { delegate->applicationOpenFile(path); });
    // Without a dock to click, launching the player again is how it is asked for again: its
    // window comes to the front whether or not it was visible.
    connect(instance_.get(), &SingleInstance::reopenRequested, delegate, [delegate] {
        const bool visible =
            delegate->window() && delegate->window()->isVisible() && !delegate->window()->isMinimized();
        delegate->applicationShouldHandleReopen(visible);
        delegate->makeWindowKeyAndOrderFront();
    });

    // Requests to open a document made while launching are queued behind the interface.
    for (const QString &path : paths)
        delegate->applicationOpenFile(path);
    delegate->applicationDidFinishLaunching();
    delegate->makeWindowKeyAndOrderFront();
    return true;
}
