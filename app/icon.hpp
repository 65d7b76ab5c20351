// The program's icon: a page of text, one line found, under a magnifying
// glass. The pictures installed in the hicolor theme (data/icons, rendered
// from korvalen.svg) are built into the program, so no file can go missing.
#pragma once

#include <QIcon>
#include <QPixmap>

namespace korvalen {

inline constexpr int kIconSizes[] = {16, 22, 24, 32, 48, 64, 128, 256};

QPixmap KorvalenPixmap();  // 32 x 32
QIcon KorvalenIcon();

}  // namespace korvalen
