#include "app/about.hpp"

#include <QGuiApplication>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <algorithm>
#include <string>

#include "app/desktop.hpp"
#include "app/icon.hpp"
#include "app/qtext.hpp"
#include "text/split.hpp"

namespace korvalen {

namespace {

constexpr std::int64_t kMega = 0x100000;

struct Widths {
    std::int32_t mega = 4;
    std::int32_t bytes = 13;
};

std::string MegaField(std::int64_t n) {
    return std::to_string(std::max<std::int64_t>(n, 0) / kMega);
}
std::string ByteField(std::int64_t n) {
    return GroupDigits(std::to_string(std::max<std::int64_t>(n, 0)));
}

QString MemoryLine(const QString& caption, std::int64_t n, Widths w) {
    return caption + QString::fromStdString(PadLeft(MegaField(n), w.mega)) +
           QStringLiteral(" Mbyte (") + QString::fromStdString(PadLeft(ByteField(n), w.bytes)) +
           QLatin1Char(')');
}

}  // namespace

std::pair<QString, QString> MemoryLines(std::int64_t total, std::int64_t available) {
    const std::int64_t larger = std::max(total, available);
    Widths w;
    w.mega = std::max<std::int32_t>(w.mega, static_cast<std::int32_t>(MegaField(larger).size()));
    w.bytes = std::max<std::int32_t>(w.bytes, static_cast<std::int32_t>(ByteField(larger).size()));
    return {MemoryLine(QStringLiteral("物理メモリ　　："), total, w),
            MemoryLine(QStringLiteral("空き物理メモリ："), available, w)};
}

TAboutForm::TAboutForm(Desktop& desktop, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowCloseButtonHint),
      Image1(new QLabel(this)),
      SoftName(new QLabel(QStringLiteral("Korvalen for Windows 95  ver 1.12"), this)),
      LTotalPhys(new QLabel(this)),
      LAvailPhys(new QLabel(this)),
      Button1(new QPushButton(QStringLiteral("OK"), this)),
      desktop_(desktop) {
    setObjectName(QStringLiteral("AboutForm"));
    setWindowTitle(QStringLiteral("ﾊﾞｰｼﾞｮﾝ情報"));
    setFont(ProportionalGothic());
    setFixedSize(297, 190);
    setModal(true);

    Image1->setObjectName(QStringLiteral("Image1"));
    Image1->setGeometry(8, 8, 33, 33);
    Image1->setPixmap(KorvalenPixmap());
    Image1->setAlignment(Qt::AlignCenter);

    SoftName->setObjectName(QStringLiteral("SoftName"));
    SoftName->setGeometry(52, 10, 240, 16);
    auto* subtitle = new QLabel(QStringLiteral("関連語一括検索ツール  Linux 版"), this);
    subtitle->setObjectName(QStringLiteral("SubTitle"));
    subtitle->setGeometry(52, 30, 240, 16);
    auto* rule = new QLabel(this);
    rule->setFrameStyle(QFrame::HLine | QFrame::Sunken);
    rule->setGeometry(8, 58, 281, 2);

    // Fixed pitch, so the two lines' columns sit under each other.
    for (QLabel* line : {LTotalPhys, LAvailPhys}) {
        line->setFont(FixedGothic());
        line->setTextFormat(Qt::PlainText);
    }
    LTotalPhys->setObjectName(QStringLiteral("LTotalPhys"));
    LTotalPhys->setGeometry(8, 78, 289, 16);
    LAvailPhys->setObjectName(QStringLiteral("LAvailPhys"));
    LAvailPhys->setGeometry(8, 96, 289, 16);

    Button1->setObjectName(QStringLiteral("Button1"));
    Button1->setGeometry(111, 150, 75, 25);
    Button1->setDefault(true);
    connect(Button1, &QPushButton::clicked, this, &TAboutForm::Button1Click);
}

void TAboutForm::showEvent(QShowEvent* event) {
    FormShow();
    QDialog::showEvent(event);
}

void TAboutForm::FormShow() {
    const MemoryStatus mem = desktop_.Memory();
    const auto [total, available] = MemoryLines(mem.total, mem.available);
    LTotalPhys->setText(total);
    LAvailPhys->setText(available);
    if (const QScreen* screen = QGuiApplication::primaryScreen(); screen != nullptr) {
        move(screen->geometry().center() - rect().center());
    }
    Button1->setFocus();
}

void TAboutForm::Button1Click() {
    accept();
}

}  // namespace korvalen
