#include "app/instance.hpp"

#include <unistd.h>

#include <QDir>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <memory>

namespace korvalen {

namespace {

constexpr int kTimeoutMs = 3000;

}  // namespace

QString InstanceSocketName() {
    const QByteArray runtime = qgetenv("XDG_RUNTIME_DIR");
    if (!runtime.isEmpty() && QDir(QFile::decodeName(runtime)).exists()) {
        return QFile::decodeName(runtime) + QStringLiteral("/korvalen.socket");
    }
    return QDir::temp().filePath(QStringLiteral("korvalen-%1.socket").arg(getuid()));
}

bool HandToRunningInstance(const QString& name, const std::vector<std::string>& files) {
    // In a shared temporary folder another user could have made the socket:
    // file names go only to our own.
    const QFileInfo info(name);
    if (!info.exists() || info.ownerId() != getuid()) {
        return false;
    }
    QLocalSocket socket;
    socket.connectToServer(name);
    if (!socket.waitForConnected(kTimeoutMs)) {
        return false;
    }
    // Each name ends with a NUL, the one byte no path holds; none at all asks
    // the window to come forward.
    QByteArray message;
    for (const std::string& file : files) {
        message.append(file.data(), static_cast<qsizetype>(file.size()));
        message.append('\0');
    }
    if (socket.write(message) != message.size()) {
        return false;
    }
    while (socket.bytesToWrite() > 0) {
        if (!socket.waitForBytesWritten(kTimeoutMs)) {
            return false;
        }
    }
    // Closing tells the window the message is whole.
    socket.disconnectFromServer();
    return socket.state() == QLocalSocket::UnconnectedState ||
           socket.waitForDisconnected(kTimeoutMs);
}

InstanceServer::InstanceServer(QObject* parent) : QObject(parent), server_(new QLocalServer(this)) {
    server_->setSocketOptions(QLocalServer::UserAccessOption);
    connect(server_, &QLocalServer::newConnection, this, &InstanceServer::Accept);
}

bool InstanceServer::Listen(const QString& name) {
    if (server_->listen(name)) {
        return true;
    }
    // Nobody answered on it (the caller asked first): a dead program's socket.
    QLocalServer::removeServer(name);
    return server_->listen(name);
}

void InstanceServer::Accept() {
    while (QLocalSocket* socket = server_->nextPendingConnection()) {
        auto buffer = std::make_shared<QByteArray>();
        connect(socket, &QLocalSocket::readyRead, this,
                [socket, buffer] { buffer->append(socket->readAll()); });
        connect(socket, &QLocalSocket::disconnected, this, [this, socket, buffer] {
            buffer->append(socket->readAll());
            socket->deleteLater();
            std::vector<std::string> files;
            for (const QByteArray& part : buffer->split('\0')) {
                if (!part.isEmpty()) {
                    files.push_back(part.toStdString());
                }
            }
            if (files.empty()) {
                emit raiseRequested();
            } else {
                emit filesArrived(std::move(files));
            }
        });
    }
}

}  // namespace korvalen
