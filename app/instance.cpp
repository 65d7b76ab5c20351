#include "app/instance.hpp"

#include <unistd.h>

#include <QDir>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <memory>
#include <utility>

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
    // Each name ends with a NUL, the one byte no path holds; an empty name
    // ends the message, so a lone NUL asks the window to come forward.
    QByteArray message;
    for (const std::string& file : files) {
        message.append(file.data(), static_cast<qsizetype>(file.size()));
        message.append('\0');
    }
    message.push_back('\0');
    if (socket.write(message) != message.size()) {
        return false;
    }
    while (socket.bytesToWrite() > 0) {
        if (!socket.waitForBytesWritten(kTimeoutMs)) {
            return false;
        }
    }
    // The answer: '1' once the window has taken the files.
    while (socket.bytesAvailable() < 1) {
        if (!socket.waitForReadyRead(kTimeoutMs)) {
            return false;
        }
    }
    const bool taken = socket.read(1) == "1";
    socket.disconnectFromServer();
    return taken;
}

InstanceServer::InstanceServer(Take take, QObject* parent)
    : QObject(parent), take_(std::move(take)), server_(new QLocalServer(this)) {
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
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QLocalSocket::readyRead, this, [this, socket, buffer] {
            buffer->append(socket->readAll());
            // Whole once it ends with the empty name.
            if (*buffer != QByteArrayView("\0", 1) &&
                !buffer->endsWith(QByteArrayView("\0\0", 2))) {
                return;
            }
            std::vector<std::string> files;
            for (const QByteArray& part : buffer->split('\0')) {
                if (!part.isEmpty()) {
                    files.push_back(part.toStdString());
                }
            }
            buffer->clear();
            bool taken = true;
            if (files.empty()) {
                emit raiseRequested();
            } else {
                taken = take_(std::move(files));
            }
            socket->write(taken ? "1" : "0");
            socket->flush();
        });
    }
}

}  // namespace korvalen
