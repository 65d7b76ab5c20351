#include "app/desktop.hpp"

#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QGuiApplication>
#include <QMessageBox>
#include <QScreen>
#include <QSortFilterProxyModel>
#include <QUrl>

#include "app/startup.hpp"
#include "platform/memory.hpp"
#include "platform/process.hpp"

namespace korvalen {

namespace {

// Shows folders, and files the user may run. Qt name filters cannot test the
// executable bit, so the first filter of the editor dialog works through this.
class ExecutableFilter final : public QSortFilterProxyModel {
  public:
    using QSortFilterProxyModel::QSortFilterProxyModel;
    bool active = true;

  protected:
    bool filterAcceptsRow(int row, const QModelIndex& parent) const override {
        if (!active) {
            return true;
        }
        const auto* model = qobject_cast<const QFileSystemModel*>(sourceModel());
        if (model == nullptr) {
            return true;
        }
        const QFileInfo info = model->fileInfo(model->index(row, 0, parent));
        return info.isDir() || info.isExecutable();
    }
};

}  // namespace

void RealDesktop::Message(QWidget* parent, const QString& text) {
    QMessageBox box(QMessageBox::NoIcon, QStringLiteral("Korvalen"), text, QMessageBox::Ok, parent);
    box.exec();
}

bool RealDesktop::Question(QWidget* parent, const QString& text) {
    // A question shows the question icon, as the desktop's own do.
    QMessageBox box(QMessageBox::Question, QStringLiteral("Korvalen"), text,
                    QMessageBox::Yes | QMessageBox::No, parent);
    JapaneseYesNo(box);
    return box.exec() == QMessageBox::Yes;
}

std::optional<QString> RealDesktop::ChooseFile(QWidget* parent, const FileDialogRequest& request) {
    QFileDialog dialog(parent, request.title, request.directory);
    dialog.setNameFilters(request.filters);
    // The file names are the user's own; the dialog adds no extension and
    // does not ask before an existing file is chosen.
    dialog.setOption(QFileDialog::DontConfirmOverwrite, true);
    if (request.kind == FileDialogRequest::Kind::Save) {
        dialog.setAcceptMode(QFileDialog::AcceptSave);
        dialog.setFileMode(QFileDialog::AnyFile);
    } else {
        dialog.setAcceptMode(QFileDialog::AcceptOpen);
        dialog.setFileMode(request.kind == FileDialogRequest::Kind::Open
                               ? QFileDialog::AnyFile
                               : QFileDialog::ExistingFile);
    }
    ExecutableFilter* proxy = nullptr;
    if (request.kind == FileDialogRequest::Kind::OpenExecutable) {
        // The proxy needs Qt's own dialog; the desktop's cannot take one.
        dialog.setOption(QFileDialog::DontUseNativeDialog, true);
        proxy = new ExecutableFilter(&dialog);  // owned by the dialog
        dialog.setProxyModel(proxy);
        const QString first = request.filters.isEmpty() ? QString() : request.filters.first();
        QObject::connect(&dialog, &QFileDialog::filterSelected, proxy,
                         [proxy, first](const QString& filter) {
                             proxy->active = filter == first;
                             proxy->invalidate();
                         });
    }
    if (!request.fileName.isEmpty()) {
        dialog.selectFile(request.fileName);
    }
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
        return std::nullopt;
    }
    return QDir::toNativeSeparators(QFileInfo(dialog.selectedFiles().first()).absoluteFilePath());
}

Qt::KeyboardModifiers RealDesktop::KeyboardModifiers() {
    return QGuiApplication::queryKeyboardModifiers();
}

QRect RealDesktop::PrimaryScreen() {
    const QScreen* screen = QGuiApplication::primaryScreen();
    return screen != nullptr ? screen->geometry() : QRect();
}

std::vector<QRect> RealDesktop::Screens() {
    std::vector<QRect> screens;
    for (const QScreen* screen : QGuiApplication::screens()) {
        screens.push_back(screen->geometry());
    }
    return screens;
}

MemoryStatus RealDesktop::Memory() {
    return ReadMemoryStatus();
}

int RealDesktop::StartProgram(const std::string& program, const std::vector<std::string>& args) {
    // Not QProcess: its arguments are QStrings, which lose a name that is
    // not UTF-8.
    return korvalen::StartProgram(program, args);
}

bool RealDesktop::OpenDocument(const std::string& path) {
    // The URL from the bytes, percent-encoded: QUrl::fromLocalFile takes a
    // QString.
    return QDesktopServices::openUrl(QUrl::fromEncoded(
        "file://" +
        QByteArray(path.data(), static_cast<qsizetype>(path.size())).toPercentEncoding("/")));
}

QStringList NameFilters(const QString& barFilter) {
    const QStringList parts = barFilter.split(QLatin1Char('|'));
    QStringList filters;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        const QString& description = parts[i];
        const QString& pattern = parts[i + 1];
        if (description.contains(QLatin1Char('(') + pattern + QLatin1Char(')'))) {
            filters << description;
        } else {
            filters << description + QStringLiteral(" (") + pattern + QLatin1Char(')');
        }
    }
    return filters;
}

QString FolderPart(const QString& path) {
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    return path.left(slash + 1);
}

QString NamePart(const QString& path) {
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    return path.mid(slash + 1);
}

}  // namespace korvalen
