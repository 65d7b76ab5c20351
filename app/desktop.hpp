// Everything the windows ask of the desktop around them: message boxes, file
// dialogs, the keyboard, the screen, memory, starting programs. The program
// uses RealDesktop; tests answer through a fake, so no test waits on a box.
#pragma once

#include <QRect>
#include <QString>
#include <QStringList>
#include <QtGlobal>
#include <optional>
#include <string>
#include <vector>

#include "platform/memory.hpp"

class QWidget;

namespace korvalen {

struct FileDialogRequest {
    enum class Kind { Open, Save, OpenExecutable };
    Kind kind = Kind::Open;
    QString title;
    QStringList filters;  // Qt name filters: "ﾃｷｽﾄﾌｧｲﾙ (*.txt)"
    QString directory;    // empty: the dialog's own choice
    QString fileName;     // preset name; empty for none
};

class Desktop {
  public:
    virtual ~Desktop() = default;

    // A modal box with an OK button.
    virtual void Message(QWidget* parent, const QString& text) = 0;
    // A modal question box with Yes and No; true for Yes.
    virtual bool Question(QWidget* parent, const QString& text) = 0;
    // The chosen full path, or nothing when cancelled.
    virtual std::optional<QString> ChooseFile(QWidget* parent,
                                              const FileDialogRequest& request) = 0;

    virtual Qt::KeyboardModifiers KeyboardModifiers() = 0;
    // Geometry of the primary screen, in pixels.
    virtual QRect PrimaryScreen() = 0;
    // Geometry of every screen, the primary one among them.
    virtual std::vector<QRect> Screens() = 0;
    virtual MemoryStatus Memory() = 0;

    // Starts `program` with `args`, each one argument, without a shell. Does
    // not wait. 0, or the error number when it could not start. Paths are
    // the file system's bytes.
    virtual int StartProgram(const std::string& program, const std::vector<std::string>& args) = 0;
    // Opens a document with the desktop's default application for it; false
    // when none could be started.
    virtual bool OpenDocument(const std::string& path) = 0;
};

class RealDesktop : public Desktop {
  public:
    void Message(QWidget* parent, const QString& text) override;
    bool Question(QWidget* parent, const QString& text) override;
    std::optional<QString> ChooseFile(QWidget* parent, const FileDialogRequest& request) override;
    Qt::KeyboardModifiers KeyboardModifiers() override;
    QRect PrimaryScreen() override;
    std::vector<QRect> Screens() override;
    MemoryStatus Memory() override;
    int StartProgram(const std::string& program, const std::vector<std::string>& args) override;
    bool OpenDocument(const std::string& path) override;
};

// Turns a filter of the form "description|pattern|description|pattern" into
// Qt name filters. A description that already shows its pattern in
// parentheses is kept as it is.
QStringList NameFilters(const QString& barFilter);

// The folder part of a path (up to and including the last "/") and the name
// part (the rest).
QString FolderPart(const QString& path);
QString NamePart(const QString& path);

}  // namespace korvalen
