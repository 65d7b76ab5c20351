#include "app/helpview.hpp"

#include <QApplication>
#include <QFile>
#include <QShortcut>
#include <QTextBrowser>
#include <QUrl>
#include <QVBoxLayout>

#include "app/qtext.hpp"

namespace korvalen {

THelpViewer::THelpViewer(QWidget* parent)
    : QWidget(parent, Qt::Window), browser_(new QTextBrowser(this)), home_(parent) {
    setObjectName(QStringLiteral("HelpViewer"));
    setWindowTitle(QStringLiteral("Korvalen ヘルプ"));
    setFont(ProportionalGothic());
    browser_->setObjectName(QStringLiteral("HelpBrowser"));
    browser_->setOpenExternalLinks(false);
    browser_->setOpenLinks(true);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(browser_);
    setFocusProxy(browser_);
    resize(520, 460);
    for (const QKeySequence& keys :
         {QKeySequence(Qt::Key_Escape), QKeySequence(Qt::CTRL | Qt::Key_W)}) {
        connect(new QShortcut(keys, this), &QShortcut::activated, this, &QWidget::close);
    }
}

void THelpViewer::OwnedBy(QWidget* owner) {
    if (parentWidget() == owner) {
        return;
    }
    if (parentWidget() != nullptr && parentWidget() != home_) {
        parentWidget()->removeEventFilter(this);
    }
    const QRect place = geometry();
    const bool shown = isVisible();
    setParent(owner, windowFlags());  // hides the window
    if (placed_) {
        setGeometry(place);
    } else {
        // Never shown, it has no place yet: a (0, 0) set here would be a
        // place the user asked for, above the screen's top with the title bar.
        resize(place.size());
    }
    if (owner != home_) {
        owner->installEventFilter(this);  // back home when the dialog closes
    }
    if (shown) {
        show();
    }
}

bool THelpViewer::eventFilter(QObject* watched, QEvent* event) {
    if (watched == parentWidget() && watched != home_ && event->type() == QEvent::Hide) {
        OwnedBy(home_);
    }
    return QWidget::eventFilter(watched, event);
}

bool THelpViewer::Load() {
    QFile file(helpFile_);
    if (helpFile_.isEmpty() || !file.open(QIODevice::ReadOnly)) {
        browser_->setHtml(QStringLiteral("<h3>ヘルプファイルが見つかりません</h3><p>%1</p>"
                                         "<p>ヘルプファイルはプログラムと同じフォルダに、"
                                         "プログラム名に .HLP を付けた名前で置かれます。</p>")
                              .arg(helpFile_.toHtmlEscaped()));
        current_ = -1;
        return false;
    }
    // Links between topics are anchors of the same file.
    browser_->document()->setBaseUrl(QUrl::fromLocalFile(helpFile_));
    browser_->setHtml(QString::fromUtf8(file.readAll()));
    return true;
}

void THelpViewer::ShowContents() {
    Show(0, QStringLiteral("contents"));
}

void THelpViewer::ShowTopic(int topic) {
    Show(topic, QString::number(topic));
}

void THelpViewer::Show(int topic, const QString& anchor) {
    // A modal dialog blocks every window but its own: help asked for from
    // one becomes its window while it is open.
    QWidget* modal = QApplication::activeModalWidget();
    OwnedBy(modal != nullptr ? modal : home_);
    // Shown first: the page is laid out only then, and the anchor found.
    show();
    placed_ = true;
    raise();
    activateWindow();
    browser_->setFocus(Qt::OtherFocusReason);  // keys scroll the page at once
    if (Load()) {
        current_ = topic;
        browser_->scrollToAnchor(anchor);
    }
}

}  // namespace korvalen
