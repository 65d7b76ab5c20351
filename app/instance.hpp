// One window per user: a second start hands its files to the running window
// over a local socket (or, without files, just raises it) and ends.
#pragma once

#include <QObject>
#include <QString>
#include <functional>
#include <string>
#include <vector>

class QLocalServer;

namespace korvalen {

// The socket's name: in $XDG_RUNTIME_DIR when set, else in the temporary
// folder with the user's id in the name.
QString InstanceSocketName();

// True when a running window took `files` (empty: a request to raise it):
// it answers only once it has them, searched or waiting for its run.
bool HandToRunningInstance(const QString& name, const std::vector<std::string>& files);

class InstanceServer : public QObject {
    Q_OBJECT

  public:
    // `take` is given the files of a second start; what it returns is the
    // answer: taken or not.
    using Take = std::function<bool(std::vector<std::string>)>;
    explicit InstanceServer(Take take, QObject* parent = nullptr);
    // Starts listening; a socket left behind by a program that died is removed.
    bool Listen(const QString& name);

  signals:
    void raiseRequested();

  private:
    void Accept();
    Take take_;
    QLocalServer* server_;
};

}  // namespace korvalen
