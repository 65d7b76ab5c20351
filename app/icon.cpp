#include "app/icon.hpp"

#include <QPainter>
#include <QPainterPath>

namespace korvalen {

QPixmap KorvalenPixmap() {
    QPixmap pixmap(32, 32);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    // The page.
    p.setPen(QColor(0, 0, 0));
    p.setBrush(QColor(255, 255, 255));
    p.drawRect(3, 1, 19, 25);
    p.setPen(QColor(0, 0, 128));
    for (int y = 5; y <= 21; y += 4) {
        p.drawLine(6, y, 18, y);
    }
    // One line found.
    p.setPen(QColor(255, 0, 0));
    p.drawLine(6, 13, 18, 13);
    // The glass.
    p.setRenderHint(QPainter::Antialiasing, false);
    p.setPen(QPen(QColor(128, 128, 0), 3));
    p.drawLine(23, 23, 29, 29);
    p.setPen(QPen(QColor(0, 0, 0), 2));
    p.setBrush(QColor(0, 255, 255));
    p.drawEllipse(QPoint(18, 18), 7, 7);
    p.setPen(QColor(255, 255, 255));
    p.drawArc(13, 13, 8, 8, 90 * 16, 90 * 16);
    return pixmap;
}

QIcon KorvalenIcon() {
    return QIcon(KorvalenPixmap());
}

}  // namespace korvalen
