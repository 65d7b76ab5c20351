#include "app/instance.hpp"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QLocalServer>
#include <QLocalSocket>
#include <QWindow>
#include <memory>

namespace korvalen {

namespace {

constexpr int kTimeoutMs = 3000;
// A record that is not a file (files are absolute): the launcher's startup id.
constexpr char kStartupPrefix[] = "startup:";

// A folder of `uid` alone: a real folder (no link), its owner, no access for others.
bool PrivateFolder(const QByteArray& path, uid_t uid) {
    struct stat st {};
    return ::lstat(path.constData(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == uid &&
           (st.st_mode & 077) == 0;
}

}  // namespace

QString RuntimeFolder(const QByteArray& xdgRuntimeDir, const QString& tmp, uid_t uid) {
    if (xdgRuntimeDir.startsWith('/') && PrivateFolder(xdgRuntimeDir, uid)) {
        return QFile::decodeName(xdgRuntimeDir);
    }
    const QByteArray own = QFile::encodeName(tmp + QStringLiteral("/korvalen-%1").arg(uid));
    if (::mkdir(own.constData(), 0700) != 0 && errno != EEXIST) {
        return {};
    }
    // Made by someone else first, or opened up since: not ours to trust.
    return PrivateFolder(own, uid) ? QFile::decodeName(own) : QString();
}

QString DisplayKey(const QByteArray& waylandDisplay, const QByteArray& display) {
    QString key;
    if (!waylandDisplay.isEmpty()) {
        key = QStringLiteral("wl-") + QFile::decodeName(waylandDisplay);
    } else if (!display.isEmpty()) {
        QByteArray name = display;
        // ":1.0" and ":1" are one display; its screens share the window.
        const qsizetype colon = name.lastIndexOf(':');
        const qsizetype dot = name.lastIndexOf('.');
        if (colon >= 0 && dot > colon) {
            name.truncate(dot);
        }
        key = QStringLiteral("x11-") + QFile::decodeName(name);
    }
    key.replace(QLatin1Char('/'), QLatin1Char('_'));  // WAYLAND_DISPLAY may be a path
    return key;
}

QString InstanceSocketName(const QString& folder, const QString& displayKey) {
    if (folder.isEmpty()) {
        return {};
    }
    return folder + QStringLiteral("/korvalen") +
           (displayKey.isEmpty() ? QString() : QLatin1Char('-') + displayKey) +
           QStringLiteral(".socket");
}

QString InstanceSocketName() {
    return InstanceSocketName(
        RuntimeFolder(qgetenv("XDG_RUNTIME_DIR"), QDir::tempPath(), ::getuid()),
        DisplayKey(qgetenv("WAYLAND_DISPLAY"), qgetenv("DISPLAY")));
}

InstanceLock::InstanceLock(const QString& socketName) {
    if (socketName.isEmpty()) {
        return;
    }
    const QByteArray path = QFile::encodeName(socketName + QStringLiteral(".lock"));
    fd_ = ::open(path.constData(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd_ < 0) {
        return;
    }
    int result = 0;
    while ((result = ::flock(fd_, LOCK_EX)) != 0 && errno == EINTR) {
    }
    if (result != 0) {
        ::close(fd_);
        fd_ = -1;
    }
}

InstanceLock::~InstanceLock() {
    if (fd_ >= 0) {
        ::close(fd_);  // ends the lock
    }
}

bool HandToRunningInstance(const QString& name, const std::vector<std::string>& files,
                           const QByteArray& startupId, uid_t owner) {
    // File names go only to a window of this user's own.
    const QFileInfo info(name);
    if (name.isEmpty() || !info.exists() || info.ownerId() != owner) {
        return false;
    }
    QLocalSocket socket;
    socket.connectToServer(name);
    if (!socket.waitForConnected(kTimeoutMs)) {
        return false;
    }
    // Each record ends with a NUL, the one byte no path holds; no file at all
    // asks the window to come forward. An empty record ends the message.
    QByteArray message;
    if (!startupId.isEmpty()) {
        message.append(kStartupPrefix).append(startupId).append('\0');
    }
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
    // The answer: '1' once the window has taken the files (searched, or
    // waiting for the run under way).
    while (socket.bytesAvailable() < 1) {
        if (!socket.waitForReadyRead(kTimeoutMs)) {
            return false;
        }
    }
    const bool taken = socket.read(1) == "1";
    socket.disconnectFromServer();
    return taken;
}

void EndStartupNotification() {
    // Qt took DESKTOP_STARTUP_ID at its start and ends the sequence when its
    // first window is shown: a window of one pixel, off the screen, unmanaged.
    if (QGuiApplication::platformName() != QLatin1String("xcb")) {
        return;
    }
    QWindow blip;
    blip.setFlags(Qt::ToolTip | Qt::BypassWindowManagerHint | Qt::WindowDoesNotAcceptFocus);
    blip.setGeometry(-10, -10, 1, 1);
    blip.show();
    QCoreApplication::processEvents();
    blip.hide();
}

InstanceServer::InstanceServer(QObject* parent) : QObject(parent), server_(new QLocalServer(this)) {
    server_->setSocketOptions(QLocalServer::UserAccessOption);
    connect(server_, &QLocalServer::newConnection, this, &InstanceServer::Accept);
}

bool InstanceServer::Listen(const QString& name) {
    if (name.isEmpty()) {
        return false;
    }
    if (server_->listen(name)) {
        return true;
    }
    // Nobody answered on it (the caller asked first, under the lock): a dead
    // program's socket.
    QLocalServer::removeServer(name);
    return server_->listen(name);
}

void InstanceServer::Accept() {
    while (QLocalSocket* socket = server_->nextPendingConnection()) {
        auto buffer = std::make_shared<QByteArray>();
        // The message is whole at its empty record (or, from a start that
        // does not wait for the answer, when it hangs up).
        const auto take = [this, socket, buffer] {
            std::vector<std::string> files;
            QByteArray startupId;
            for (const QByteArray& part : buffer->split('\0')) {
                if (part.startsWith(kStartupPrefix)) {
                    startupId = part.mid(sizeof kStartupPrefix - 1);
                } else if (!part.isEmpty()) {
                    files.push_back(part.toStdString());
                }
            }
            buffer->clear();
            emit filesArrived(std::move(files), startupId);
            socket->write("1");  // the receiver has them now
            socket->flush();
        };
        connect(socket, &QLocalSocket::readyRead, this, [socket, buffer, take] {
            buffer->append(socket->readAll());
            if (*buffer == QByteArrayView("\0", 1) || buffer->endsWith(QByteArrayView("\0\0", 2))) {
                take();
            }
        });
        connect(socket, &QLocalSocket::disconnected, this, [socket, buffer, take] {
            buffer->append(socket->readAll());
            socket->deleteLater();
            if (!buffer->isEmpty()) {
                take();
            }
        });
    }
}

}  // namespace korvalen
