// One running player per user and display. A second launch hands its files (or, without a
// file, a request to show the player) to the running player over a local socket and ends.
//
// Messages are UTF-8 lines: "open <absolute path>" or "reopen".
#pragma once

#include <QLocalServer>
#include <QObject>
#include <QString>
#include <QStringList>

class QLocalSocket;

class SingleInstance : public QObject {
    Q_OBJECT
  public:
    explicit SingleInstance(const QString &serverName, QObject *parent = nullptr);
    ~SingleInstance() override;

    // The socket name for this user on this display.
    static QString defaultServerName();

    // Hands the paths (or, when there are none, a reopen request) to a player that already
    // runs; false when none answers within the time-out.
    bool handToRunningInstance(const QStringList &absolutePaths, int timeoutMs = 2000);
    // Becomes the running player: answers later launches. False when the socket cannot be made.
    bool listen();

    // A request is larger than any path list a launch sends; beyond it the sender is cut off.
    static constexpr qint64 kMaxMessageBytes = 1 << 20;

  signals:
    void openRequested(const QString &path);
    void reopenRequested();

  private:
    void readMessages(QLocalSocket *socket, bool final);

    QString serverName_;
    QLocalServer server_;
};
