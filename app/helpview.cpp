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
    if (Load()) {
        current_ = 0;
        browser_->scrollToAnchor(QStringLiteral("contents"));
    }
    show();
    raise();
    activateWindow();
}

void THelpViewer::ShowTopic(int topic) {
    if (Load()) {
        current_ = topic;
        browser_->scrollToAnchor(QString::number(topic));
    }
    show();
    raise();
    activateWindow();
}

}  // namespace korvalen
