// The desktop program: the command line, then the application title, the
// main window, the settings dialog and the about dialog, then the event loop.
// A second start for the same user hands its files to the first and ends.
#include <QApplication>
#include <QFileInfo>
#include <QTimer>
#include <QTranslator>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <system_error>

#include "app/desktop.hpp"
#include "app/icon.hpp"
#include "app/instance.hpp"
#include "app/qtext.hpp"
#include "app/relmain.hpp"
#include "app/startup.hpp"
#include "config/settings.hpp"

namespace {

constexpr const char* kUsage =
    "Usage: korvalen [FILE]...\n"
    "Starts the Korvalen window and searches FILEs as if they were dropped on it.\n"
    "When Korvalen already runs for this user, the FILEs go to that window.\n\n"
    "  -h, --help       show this help and exit\n"
    "      --version    show the version and exit\n"
    "      --help-path  print the help file the window shows and exit (1: missing)\n";

QString ExePath() {
    std::error_code ec;
    const std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    return ec ? QString() : QFile::decodeName(QByteArray::fromStdString(exe.string()));
}

korvalen::CommandLine Parse(int argc, char* argv[]) {
    std::error_code ec;
    return korvalen::ParseCommandLine(std::vector<std::string>(argv + 1, argv + argc),
                                      std::filesystem::current_path(ec).string());
}

}  // namespace

int main(int argc, char* argv[]) {
    // Past the file-size limit a write then fails with EFBIG and the run says
    // "ファイルに出力できません"; the signal would end the window unheard.
    std::signal(SIGXFSZ, SIG_IGN);
    // Help and version need no display: answered before Qt looks for one.
    korvalen::CommandLine line = Parse(argc, argv);
    switch (line.action) {
        case korvalen::CommandLine::Action::Help:
            std::fputs(kUsage, stdout);
            return 0;
        case korvalen::CommandLine::Action::Version:
            std::printf("korvalen %s\n", KORVALEN_VERSION);
            return 0;
        case korvalen::CommandLine::Action::HelpPath: {
            const QString help = korvalen::FindHelpFile(ExePath());
            std::printf("%s\n", qPrintable(help));
            return QFileInfo::exists(help) ? 0 : 1;
        }
        case korvalen::CommandLine::Action::Error:
        case korvalen::CommandLine::Action::Start:
            break;
    }

    QApplication app(argc, argv);  // takes Qt's own options out of argv
    line = Parse(argc, argv);
    if (line.action == korvalen::CommandLine::Action::Error) {
        std::fprintf(stderr, "korvalen: %s\n%s", line.error.c_str(), kUsage);
        return 2;
    }

    const QString socketName = korvalen::InstanceSocketName();
    if (korvalen::HandToRunningInstance(socketName, line.files)) {
        return 0;
    }

    QCoreApplication::setApplicationName(QStringLiteral("Korvalen"));
    QTranslator qtTexts;
    if (korvalen::LoadQtTranslation(qtTexts, QLocale())) {
        QCoreApplication::installTranslator(&qtTexts);
    }
    QApplication::setWindowIcon(korvalen::KorvalenIcon());
    QGuiApplication::setDesktopFileName(QStringLiteral("korvalen"));
    korvalen::InstallFontSubstitutes();
    QApplication::setFont(korvalen::ProportionalGothic());

    korvalen::RealDesktop desktop;
    korvalen::FormSetup setup;
    setup.iniPath = korvalen::DefaultIniPath();
    setup.helpFile = korvalen::FindHelpFile(ExePath());
    const auto form = korvalen::CreateForms(desktop, std::move(setup));
    form->show();

    const auto raise = [&form] {
        form->setWindowState(form->windowState() & ~Qt::WindowMinimized);
        form->show();
        form->raise();
        form->activateWindow();
    };
    korvalen::InstanceServer server([&form, raise](std::vector<std::string> files) {
        raise();
        return form->HandOver(std::move(files));
    });
    if (!server.Listen(socketName)) {
        std::fprintf(stderr, "korvalen: %s: files cannot be handed to this window\n",
                     qPrintable(socketName));
    }
    QObject::connect(&server, &korvalen::InstanceServer::raiseRequested, form.get(), raise);
    if (!line.files.empty()) {
        QTimer::singleShot(0, form.get(), [&form, files = line.files] { form->HandOver(files); });
    }
    return QApplication::exec();
}
