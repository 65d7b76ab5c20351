// The desktop program: the command line, then the application title, the
// main window, the settings dialog and the about dialog, then the event loop.
// A second start for the same user and display hands its files to the
// first and ends.
#include <QApplication>
#include <QFileInfo>
#include <QStatusBar>
#include <QTranslator>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <system_error>

#include "app/activation.hpp"
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
    "When Korvalen already runs for this user and display, the FILEs go to that\n"
    "window.\n\n"
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

    // The launcher's startup notification; Qt takes it from the environment.
    const QByteArray startupId = qEnvironmentVariableIsEmpty("XDG_ACTIVATION_TOKEN")
                                     ? qgetenv("DESKTOP_STARTUP_ID")
                                     : qgetenv("XDG_ACTIVATION_TOKEN");
    QApplication app(argc, argv);  // takes Qt's own options out of argv
    line = Parse(argc, argv);
    if (line.action == korvalen::CommandLine::Action::Error) {
        std::fprintf(stderr, "korvalen: %s\n%s", line.error.c_str(), kUsage);
        return 2;
    }

    // Looking for a running window and becoming it is one step under the
    // lock: two starts at once never both become it.
    const QString socketName = korvalen::InstanceSocketName();
    auto lock = std::make_unique<korvalen::InstanceLock>(socketName);
    if (korvalen::HandToRunningInstance(socketName, line.files, startupId)) {
        korvalen::EndStartupNotification();
        return 0;
    }
    korvalen::InstanceServer server;
    if (!server.Listen(socketName)) {
        std::fprintf(stderr, "korvalen: %s: files cannot be handed to this window\n",
                     qPrintable(socketName));
    }
    lock.reset();
    // Files may arrive while the window is still being made (a message box
    // of its start): they wait for it.
    std::vector<std::vector<std::string>> early;
    auto earlyConnection = QObject::connect(
        &server, &korvalen::InstanceServer::filesArrived,
        [&early](std::vector<std::string> files, const QByteArray&) { early.push_back(files); });

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
    if (const QString hint = korvalen::MissingJapaneseFontHint(); !hint.isEmpty()) {
        form->statusBar()->showMessage(hint, 15000);  // once, then the status again
    }

    // Files handed over during a run wait for its end (the window keeps them).
    QObject::disconnect(earlyConnection);
    QObject::connect(&server, &korvalen::InstanceServer::filesArrived, form.get(),
                     [&form](std::vector<std::string> files, const QByteArray& startup) {
                         korvalen::ComeForward(*form, startup);
                         form->HandOver(std::move(files));
                     });
    early.insert(early.begin(), line.files);
    for (std::vector<std::string>& files : early) {
        form->HandOver(std::move(files));
    }
    return QApplication::exec();
}
