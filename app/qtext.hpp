// Where bytes meet widgets: code page 932 text, file-system paths, and the
// Japanese fonts the windows ask for.
#pragma once

#include <QFile>
#include <QFont>
#include <QString>
#include <string>
#include <string_view>

#include "text/cp932.hpp"

namespace korvalen {

// Code page 932 bytes for the screen; undecodable bytes show as marks and
// come back unchanged through FromCp932Text.
inline QString Cp932Text(std::string_view bytes) {
    return QString::fromStdU16String(Cp932ToUtf16(bytes));
}
inline std::string FromCp932Text(const QString& text) {
    return Utf16ToCp932(std::u16string_view(reinterpret_cast<const char16_t*>(text.utf16()),
                                            static_cast<std::size_t>(text.size())));
}

// File-system bytes, as the core takes paths.
inline QString PathText(std::string_view bytes) {
    return QFile::decodeName(QByteArray(bytes.data(), static_cast<qsizetype>(bytes.size())));
}
inline std::string PathBytes(const QString& path) {
    return QFile::encodeName(path).toStdString();
}

inline QString Utf8Text(std::string_view utf8) {
    return QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
}

// The proportional and the fixed-pitch gothic, asked for by their Windows
// names; fontconfig falls back to an installed Japanese gothic through the
// substitutions InstallFontSubstitutes sets.
inline constexpr char16_t kProportionalGothic[] = u"ＭＳ Ｐゴシック";
inline constexpr char16_t kFixedGothic[] = u"ＭＳ ゴシック";
void InstallFontSubstitutes();
QFont ProportionalGothic();  // 12 pixels high
QFont FixedGothic();         // 12 pixels high

}  // namespace korvalen
