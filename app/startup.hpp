// What the program does before its window: the command line, the help file's
// place, Qt's own texts in Japanese, and handing files to a window already
// running for this user.
#pragma once

#include <QString>
#include <string>
#include <vector>

class QLocale;
class QMessageBox;
class QTranslator;

namespace korvalen {

// The help file: <program>.HLP beside the executable, else the installed
// ../share/korvalen/korvalen.html relative to it. Neither there: the first.
QString FindHelpFile(const QString& exePath);

// Qt's translation of its own texts: the locale's when Qt has one (English
// counts as none), else Japanese, as the program's own texts are.
// False when none could be loaded.
bool LoadQtTranslation(QTranslator& translator, const QLocale& locale);

// Yes and No of a question box in the program's words.
void JapaneseYesNo(QMessageBox& box);

struct CommandLine {
    enum class Action { Start, Help, Version, HelpPath, Error };
    Action action = Action::Start;
    std::vector<std::string> files;  // file-system bytes, made absolute
    std::string error;
};

// The arguments (after Qt took its own, for files and errors). Relative names are made absolute
// against `cwd` (bytes), since a running window may be the one to search them.
CommandLine ParseCommandLine(const std::vector<std::string>& args, const std::string& cwd);

}  // namespace korvalen
