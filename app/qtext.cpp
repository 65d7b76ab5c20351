#include "app/qtext.hpp"

#include <QStringList>

namespace korvalen {

namespace {

QFont Gothic(const char16_t* family, QFont::StyleHint hint) {
    QFont font(QString::fromUtf16(family));
    font.setPixelSize(12);
    font.setStyleHint(hint);
    return font;
}

}  // namespace

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

}  // namespace korvalen
