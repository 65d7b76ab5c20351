// The program's icon: a page of text under a magnifying glass, 32 x 32 in the
// sixteen standard colours. Drawn, not shipped, so no file can go missing.
#pragma once

#include <QIcon>
#include <QPixmap>

namespace korvalen {

QPixmap KorvalenPixmap();
QIcon KorvalenIcon();

}  // namespace korvalen
