#include "app/helpview.hpp"

#include <QFile>
#include <QTextBrowser>
#include <QUrl>
#include <QVBoxLayout>

#include "app/qtext.hpp"

namespace korvalen {

THelpViewer::THelpViewer(QWidget* parent)
    : QWidget(parent, Qt::Window), browser_(new QTextBrowser(this)) {
    setObjectName(QStringLiteral("HelpViewer"));
    setWindowTitle(QStringLiteral("Korvalen ヘルプ"));
    setFont(ProportionalGothic());
    browser_->setObjectName(QStringLiteral("HelpBrowser"));
    browser_->setOpenExternalLinks(false);
    browser_->setOpenLinks(true);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(browser_);
    resize(520, 460);
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
    // Shown first: the page is laid out only then, and the anchor found.
    show();
    raise();
    activateWindow();
    if (Load()) {
        current_ = topic;
        browser_->scrollToAnchor(anchor);
    }
}

}  // namespace korvalen
