// One window per user: a second start hands its files to the running window
// over a local socket (or, without files, just raises it) and ends.
#pragma once

#include <QObject>
#include <QString>
#include <string>
#include <vector>

class QLocalServer;

namespace korvalen {

// The socket's name: in $XDG_RUNTIME_DIR when set, else in the temporary
// folder with the user's id in the name.
QString InstanceSocketName();

// True when a running window took `files` (empty: a request to raise it).
bool HandToRunningInstance(const QString& name, const std::vector<std::string>& files);

class InstanceServer : public QObject {
    Q_OBJECT

  public:
    explicit InstanceServer(QObject* parent = nullptr);
    // Starts listening; a socket left behind by a program that died is removed.
    bool Listen(const QString& name);

  signals:
    void filesArrived(std::vector<std::string> files);  // file-system bytes
    void raiseRequested();

  private:
    void Accept();
    QLocalServer* server_;
};

}  // namespace korvalen
