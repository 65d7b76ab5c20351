#include "app/qtext.hpp"

#include <QFontDatabase>
#include <QLineEdit>
#include <QStringList>
#include <QVariant>

#include "text/encoding.hpp"

namespace korvalen {

namespace {

QFont Gothic(const char16_t* family, QFont::StyleHint hint) {
    QFont font(QString::fromUtf16(family));
    font.setPixelSize(12);
    font.setStyleHint(hint);
    return font;
}

const char* const kPathBytes = "korvalenPathBytes";
const char* const kPathShown = "korvalenPathShown";

}  // namespace

QString PathText(std::string_view bytes) {
    QString text;
    while (true) {
        const std::size_t slash = bytes.find('/');
        const std::string_view part = bytes.substr(0, slash);
        text += IsValidUtf8(part) ? Utf8Text(part) : Cp932Text(part);
        if (slash == std::string_view::npos) {
            return text;
        }
        text += QLatin1Char('/');
        bytes.remove_prefix(slash + 1);
    }
}

void SetPathBytes(QLineEdit* box, std::string_view bytes) {
    const QString text = PathText(bytes);
    box->setProperty(kPathBytes, QByteArray(bytes.data(), static_cast<qsizetype>(bytes.size())));
    box->setProperty(kPathShown, text);
    box->setText(text);
}

std::string PathBytesOf(const QLineEdit* box) {
    if (box->property(kPathShown).toString() == box->text()) {
        return box->property(kPathBytes).toByteArray().toStdString();
    }
    return PathBytes(box->text());
}

std::string LocalFileBytes(const QUrl& url) {
    return QByteArray::fromPercentEncoding(url.path(QUrl::FullyEncoded).toLatin1()).toStdString();
}

void InstallFontSubstitutes() {
    // Installed by the setup (fonts-ipafont-gothic); the others where present.
    QFont::insertSubstitutions(QString::fromUtf16(kProportionalGothic),
                               {QStringLiteral("IPAPGothic"), QStringLiteral("Noto Sans CJK JP"),
                                QStringLiteral("IPAGothic"), QStringLiteral("VL PGothic"),
                                QStringLiteral("Takao PGothic")});
    QFont::insertSubstitutions(
        QString::fromUtf16(kFixedGothic),
        {QStringLiteral("IPAGothic"), QStringLiteral("Noto Sans Mono CJK JP"),
         QStringLiteral("VL Gothic"), QStringLiteral("Takao Gothic")});
}

QFont ProportionalGothic() {
    return Gothic(kProportionalGothic, QFont::SansSerif);
}

QFont FixedGothic() {
    QFont font = Gothic(kFixedGothic, QFont::Monospace);
    font.setFixedPitch(true);
    return font;
}

QString MissingJapaneseFontHint() {
    if (!QFontDatabase::families(QFontDatabase::Japanese).isEmpty()) {
        return {};
    }
    // Short enough for the status bar of the window's first size.
    return QStringLiteral("No Japanese font installed (fonts-ipafont-gothic)");
}

}  // namespace korvalen
