#include "app/icon.hpp"

namespace korvalen {

namespace {

QString IconFile(int size) {
    return QStringLiteral(":/korvalen/icons/hicolor/%1x%1/apps/korvalen.png").arg(size);
}

}  // namespace

QPixmap KorvalenPixmap() {
    return QPixmap(IconFile(32));
}

QIcon KorvalenIcon() {
    QIcon icon;
    for (const int size : kIconSizes) {
        icon.addFile(IconFile(size), QSize(size, size));
    }
    return icon;
}

}  // namespace korvalen
