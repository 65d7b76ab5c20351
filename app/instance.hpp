// One window per user and display: a second start hands its files to the
// running window over a local socket (or, without files, just raises it) and
// ends. Becoming the running window is atomic: a lock file is held from the
// look for a running window until this one listens.
#pragma once

#include <sys/types.h>
#include <unistd.h>

#include <QObject>
#include <QString>
#include <string>
#include <vector>

class QLocalServer;

namespace korvalen {

// The user's private runtime folder: $XDG_RUNTIME_DIR when it is an absolute
// folder of `uid` that no one else may enter, else <tmp>/korvalen-<uid>, made
// with mode 0700 when missing and taken only when it is that too. Empty when
// neither is: another user got there first, and no socket is shared.
QString RuntimeFolder(const QByteArray& xdgRuntimeDir, const QString& tmp, uid_t uid);

// The display this process shows on, fit for a file name: "wl-wayland-0",
// "x11-:1" (the screen number dropped), or "" for none (offscreen).
QString DisplayKey(const QByteArray& waylandDisplay, const QByteArray& display);

// <folder>/korvalen-<display>.socket, and .lock beside it; empty without a folder.
QString InstanceSocketName(const QString& folder, const QString& displayKey);
// The same for this process's environment.
QString InstanceSocketName();

// Holds an exclusive lock on <socket>.lock for its lifetime (blocks until
// it gets it). Not held when the file cannot be made.
class InstanceLock {
  public:
    explicit InstanceLock(const QString& socketName);
    ~InstanceLock();
    InstanceLock(const InstanceLock&) = delete;
    InstanceLock& operator=(const InstanceLock&) = delete;
    bool Held() const { return fd_ >= 0; }

  private:
    int fd_ = -1;
};

// True when a running window took `files` (empty: a request to raise it)
// and `startupId`, answered once it has them (the launcher's startup notification, for the window
// to end). The socket must belong to `owner`.
bool HandToRunningInstance(const QString& name, const std::vector<std::string>& files,
                           const QByteArray& startupId = {}, uid_t owner = ::getuid());

// The launcher's startup notification (the busy cursor) of a start that
// handed its files over: ended here, since this start shows no window.
void EndStartupNotification();

class InstanceServer : public QObject {
    Q_OBJECT

  public:
    explicit InstanceServer(QObject* parent = nullptr);
    // Starts listening; a socket left behind by a program that died is
    // removed. Call with the InstanceLock held and nobody answering.
    bool Listen(const QString& name);

  signals:
    // file-system bytes; empty: just come forward. The second start is told
    // they were taken once the receivers have returned.
    void filesArrived(std::vector<std::string> files, QByteArray startupId);

  private:
    void Accept();
    QLocalServer* server_;
};

}  // namespace korvalen
