#include "app/startup.hpp"

#include <QDir>
#include <QFileInfo>
#include <QLibraryInfo>
#include <QLocale>
#include <QMessageBox>
#include <QPushButton>
#include <QTranslator>

#include "app/relmain.hpp"

namespace korvalen {

QString FindHelpFile(const QString& exePath) {
    const QString beside = ExePathWithExtension(exePath, QStringLiteral(".HLP"));
    if (QFileInfo::exists(beside)) {
        return beside;
    }
    // Relative to the executable, so any install prefix works.
    const QString installed = QDir::cleanPath(QFileInfo(exePath).absolutePath() +
                                              QStringLiteral("/" KORVALEN_INSTALLED_HELP));
    return QFileInfo::exists(installed) ? installed : beside;
}

bool LoadQtTranslation(QTranslator& translator, const QLocale& locale) {
    const QString dir = QLibraryInfo::path(QLibraryInfo::TranslationsPath);
    // Qt's texts are English to begin with: qtbase_en holds only plural forms.
    const QLocale::Language language = locale.language();
    if (language != QLocale::Japanese && language != QLocale::English && language != QLocale::C &&
        translator.load(locale, QStringLiteral("qtbase"), QStringLiteral("_"), dir)) {
        return true;
    }
    return translator.load(QStringLiteral("qtbase_ja"), dir);
}

void JapaneseYesNo(QMessageBox& box) {
    // Qt's own Japanese reads "はい(&Y)"; the program's questions say just this.
    if (QAbstractButton* yes = box.button(QMessageBox::Yes)) {
        yes->setText(QStringLiteral("はい"));
    }
    if (QAbstractButton* no = box.button(QMessageBox::No)) {
        no->setText(QStringLiteral("いいえ"));
    }
}

CommandLine ParseCommandLine(const std::vector<std::string>& args, const std::string& cwd) {
    CommandLine line;
    bool options = true;
    for (const std::string& arg : args) {
        if (options && arg == "--") {
            options = false;
        } else if (options && (arg == "-h" || arg == "--help")) {
            line.action = CommandLine::Action::Help;
        } else if (options && arg == "--version") {
            line.action = CommandLine::Action::Version;
        } else if (options && arg == "--help-path") {
            line.action = CommandLine::Action::HelpPath;
        } else if (options && arg.size() > 1 && arg[0] == '-') {
            if (line.error.empty()) {
                line.error = "unknown option: " + arg;
            }
        } else if (!arg.empty()) {
            line.files.push_back(arg[0] == '/' ? arg : cwd + "/" + arg);
        }
    }
    // Asked for help, the user gets it whatever else is on the line.
    if (!line.error.empty() && line.action == CommandLine::Action::Start) {
        line.action = CommandLine::Action::Error;
    }
    return line;
}

}  // namespace korvalen
