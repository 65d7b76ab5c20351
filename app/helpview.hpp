// The help viewer: shows the HTML help file beside the executable, its
// contents page or one numbered topic (the anchors 101 to 116). Esc and
// Ctrl+W close it.
#pragma once

#include <QString>
#include <QWidget>

class QTextBrowser;

namespace korvalen {

class THelpViewer : public QWidget {
    Q_OBJECT

  public:
    explicit THelpViewer(QWidget* parent = nullptr);

    void SetHelpFile(const QString& path) { helpFile_ = path; }
    const QString& HelpFile() const noexcept { return helpFile_; }

    // Both read the file anew, so an edited file shows at once, and raise
    // the viewer. A missing file shows a message naming it.
    void ShowContents();
    void ShowTopic(int topic);

    // What the viewer shows now: the topic, 0 for the contents, -1 for the
    // message about a missing file.
    int CurrentTopic() const noexcept { return current_; }
    QTextBrowser* Browser() const noexcept { return browser_; }

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void OwnedBy(QWidget* owner);  // keeps the window's place and visibility
    bool Load();
    void Show(int topic, const QString& anchor);

    QTextBrowser* browser_;
    QWidget* home_;  // the window the viewer belongs to when no dialog is open
    QString helpFile_;
    int current_ = 0;
    bool placed_ = false;  // shown once: the window manager has given it a place
};

}  // namespace korvalen
