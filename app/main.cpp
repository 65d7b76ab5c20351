// The desktop program: the application title, then the main window, the
// settings dialog and the about dialog, then the event loop.
#include <QApplication>

#include "app/desktop.hpp"
#include "app/icon.hpp"
#include "app/qtext.hpp"
#include "app/relmain.hpp"
#include "config/settings.hpp"

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("Korvalen"));
    QApplication::setWindowIcon(korvalen::KorvalenIcon());
    korvalen::InstallFontSubstitutes();
    QApplication::setFont(korvalen::ProportionalGothic());

    korvalen::RealDesktop desktop;
    korvalen::FormSetup setup;
    setup.iniPath = korvalen::DefaultIniPath();
    setup.helpFile = korvalen::ExePathWithExtension(QCoreApplication::applicationFilePath(),
                                                    QStringLiteral(".HLP"));
    const auto form = korvalen::CreateForms(desktop, std::move(setup));
    form->show();
    return QApplication::exec();
}
