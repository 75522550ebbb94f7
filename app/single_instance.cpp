#include "app/single_instance.h"

#include <QLocalSocket>
#include <QProcessEnvironment>
#include <QRegularExpression>
#include <unistd.h>

#include "platform/log.h"

namespace {
const char kOpenPrefix[] = "open ";
const char kReopen[] = "reopen";
} // namespace

SingleInstance::SingleInstance(const QString &serverName, QObject *parent)
    : QObject(parent), serverName_(serverName) {}

SingleInstance::~SingleInstance() {
    server_.close();
}

QString SingleInstance::defaultServerName() {
    QString display = QProcessEnvironment::systemEnvironment().value(QStringLiteral("WAYLAND_DISPLAY"));
    if (display.isEmpty())
        display = QProcessEnvironment::systemEnvironment().value(QStringLiteral("DISPLAY"));
    display.replace(QRegularExpression(QStringLiteral("[^A-Za-z0-9_.-]")), QStringLiteral("_"));
    return QStringLiteral("recorderplayer-%1-%2").arg(getuid()).arg(display);
}

bool SingleInstance::handToRunningInstance(const QStringList &absolutePaths, int timeoutMs) {
    QLocalSocket socket;
    socket.connectToServer(serverName_);
    if (!socket.waitForConnected(timeoutMs)) return false;
    QByteArray message;
    if (absolutePaths.isEmpty()) {
        message = QByteArray(kReopen) + '\n';
    } else {
        for (const QString &path : absolutePaths) {
            // A path cannot be split across lines: one holding a line break is not sent.
            if (path.contains(QLatin1Char('\n'))) continue;
            message += QByteArray(kOpenPrefix) + path.toUtf8() + '\n';
        }
    }
    socket.write(message);
    bool sent = true;
    while (sent && socket.bytesToWrite() > 0)
        sent = socket.waitForBytesWritten(timeoutMs);
    socket.disconnectFromServer();
    if (socket.state() != QLocalSocket::UnconnectedState) socket.waitForDisconnected(timeoutMs);
    return sent;
}

bool SingleInstance::listen() {
    server_.setSocketOptions(QLocalServer::UserAccessOption);
    if (!server_.listen(serverName_)) {
        // A socket left behind by a player that ended without closing it: nobody answers on it
        // (handToRunningInstance has just tried), so it can go.
        QLocalServer::removeServer(serverName_);
        if (!server_.listen(serverName_)) {
            player_log("Cannot answer later launches: %s\n", qPrintable(server_.errorString()));
            return false;
        }
    }
    connect(&server_, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket *socket = server_.nextPendingConnection()) {
            connect(socket, &QLocalSocket::readyRead, this, [this, socket] { readMessages(socket, false); });
            connect(socket, &QLocalSocket::disconnected, this, [this, socket] {
                readMessages(socket, true);
                socket->deleteLater();
            });
            readMessages(socket, false);
        }
    });
    return true;
}

void SingleInstance::readMessages(QLocalSocket *socket, bool final) {
    const qint64 total = socket->property("receivedBytes").toLongLong() + socket->bytesAvailable();
    if (total > kMaxMessageBytes) {
        player_log("A launch request was too large and was refused\n");
        socket->abort();
        return;
    }
    while (socket->canReadLine()) {
        QByteArray line = socket->readLine();
        socket->setProperty("receivedBytes", socket->property("receivedBytes").toLongLong() + line.size());
        line.chop(1);
        if (line == kReopen) {
            emit reopenRequested();
        } else if (line.startsWith(kOpenPrefix)) {
            const QString path = QString::fromUtf8(line.mid(static_cast<int>(sizeof kOpenPrefix) - 1));
            if (!path.isEmpty()) emit openRequested(path);
        }
    }
    if (final) socket->readAll(); // an unterminated last line is no request
}
