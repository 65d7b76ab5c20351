// Where bytes meet widgets: code page 932 text, file-system paths, and the
// Japanese fonts the windows ask for.
#pragma once

#include <QFile>
#include <QFont>
#include <QString>
#include <QUrl>
#include <string>
#include <string_view>

#include "text/cp932.hpp"

class QLineEdit;

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

// File-system paths. The core takes paths as the file system's bytes; a
// name that is not UTF-8 (a Shift-JIS name copied from Windows) has no
// QString that turns back into its bytes. So the text shows the bytes
// decoded, each part of the path as UTF-8 where it is UTF-8 and as code page
// 932 where not, and the bytes are kept beside it; the shown form is never
// stored or handed on.
QString PathText(std::string_view bytes);
// Text the user typed or a dialog chose, as the file system's bytes.
inline std::string PathBytes(const QString& path) {
    return QFile::encodeName(path).toStdString();
}
// A path box: shows the path and keeps its bytes, which PathBytesOf gives
// back for as long as the box shows that text (once the user edits it, the
// bytes of what was typed).
void SetPathBytes(QLineEdit* box, std::string_view bytes);
std::string PathBytesOf(const QLineEdit* box);
// The bytes of a local file URL's path, from its percent-encoding:
// QUrl::toLocalFile loses those of a name that is not UTF-8.
std::string LocalFileBytes(const QUrl& url);

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

// Without a font that covers Japanese every text of the window shows as
// boxes: a hint in plain ASCII, so it can be read then; empty when one is
// installed.
QString MissingJapaneseFontHint();

}  // namespace korvalen
