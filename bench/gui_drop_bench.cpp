// Times a drop on the real main window: the same files, words and options a
// korvalen-cli run gets, through the window's side of the run (its thread,
// status bar, progress bar, caption and title). Also measures how long the
// window goes without handling events, how soon a Stop ends the run, and how
// often the caption and the task-bar title changed.
//
//   gui_drop_bench -W WORDS -o OUT [--set KEY=VALUE]... [--stop-after MS] [--interval MS] FILE...
//
// --interval 0 shows every call of the run as it comes (as the window did
// before its updates were paced), for comparison.
//
// WORDS holds the search words, one per line, in code page 932 (as for
// korvalen-cli -W). Prints "seconds hits longest-gap-ms stop-latency-ms
// caption-and-title-changes".
#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "app/desktop.hpp"
#include "app/qtext.hpp"
#include "app/relmain.hpp"
#include "app/run_thread.hpp"
#include "config/settings.hpp"

namespace {

// Nothing may wait for a person: boxes go to standard error.
class BatchDesktop final : public korvalen::RealDesktop {
  public:
    void Message(QWidget*, const QString& text) override {
        std::fprintf(stderr, "message: %s\n", qPrintable(text));
    }
    bool Question(QWidget*, const QString&) override { return false; }
    std::optional<QString> ChooseFile(QWidget*, const korvalen::FileDialogRequest&) override {
        return std::nullopt;
    }
};

// A fresh INI file in a folder of its own: the defaults, and nothing written
// anywhere else.
std::string IniPath() {
    static QTemporaryDir dir;
    return QFile::encodeName(dir.filePath(QStringLiteral("korvalen.INI"))).toStdString();
}

int Usage() {
    std::fprintf(stderr,
                 "usage: gui_drop_bench -W WORDS -o OUT [--set KEY=VALUE]... [--stop-after MS] "
                 "FILE...\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication app(argc, argv);
    korvalen::InstallFontSubstitutes();

    QString wordsFile, output;
    std::vector<std::pair<std::string, std::string>> sets;
    std::vector<std::string> names;
    int stopAfter = -1;
    int interval = -1;  // ms between screen updates; the window's own pace unless given
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool more = i + 1 < argc;
        if (arg == "-W" && more) {
            wordsFile = QFile::decodeName(argv[++i]);
        } else if (arg == "-o" && more) {
            output = QFile::decodeName(argv[++i]);
        } else if (arg == "--set" && more) {
            const std::string kv = argv[++i];
            const auto eq = kv.find('=');
            if (eq == std::string::npos) {
                return Usage();
            }
            sets.emplace_back(kv.substr(0, eq), kv.substr(eq + 1));
        } else if (arg == "--stop-after" && more) {
            stopAfter = std::atoi(argv[++i]);
        } else if (arg == "--interval" && more) {
            interval = std::atoi(argv[++i]);
        } else {
            names.push_back(arg);
        }
    }
    QFile words(wordsFile);
    if (output.isEmpty() || names.empty() || !words.open(QIODevice::ReadOnly)) {
        return Usage();
    }

    BatchDesktop desktop;
    const auto form = korvalen::CreateForms(desktop, {IniPath(), {}});
    form->Options.SearchIconize = false;
    if (interval >= 0) {
        form->Runs().SetInterval(std::chrono::milliseconds(interval));
    }
    for (const auto& [key, value] : sets) {
        if (!korvalen::SetOption(form->Options, key, value)) {
            std::fprintf(stderr, "unknown option %s\n", key.c_str());
            return 2;
        }
    }
    const QByteArray bytes = words.readAll();
    form->MSearchStr->setPlainText(
        korvalen::Cp932Text(std::string_view(bytes.data(), bytes.size())));
    form->EOutputFile->setText(output);
    form->show();
    QCoreApplication::processEvents();

    // A tick every 5 ms: the longest wait between two ticks is how long the
    // window went without handling its events.
    QElapsedTimer clock;
    qint64 lastTick = 0, longestGap = 0, stopAt = -1;
    QTimer ticker;
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        const qint64 now = clock.nsecsElapsed();
        longestGap = std::max(longestGap, now - lastTick);
        if (qEnvironmentVariableIsSet("GUI_BENCH_GAPS") && now - lastTick > 15000000) {
            std::fprintf(stderr, "gap %.1f ms ending at %.1f ms\n", (now - lastTick) / 1e6,
                         now / 1e6);
        }
        lastTick = now;
        if (stopAfter >= 0 && stopAt < 0 && now >= qint64{stopAfter} * 1000000) {
            stopAt = now;
            form->MFileStop->trigger();
        }
    });
    ticker.start(5);

    // Every change of the caption or the task-bar title is a window property
    // change (two, in fact: the old and the EWMH name) the window manager acts on.
    long long changes = 0;
    const auto count = [&] { ++changes; };
    QObject::connect(form.get(), &QWidget::windowTitleChanged, count);
    QObject::connect(form.get(), &QWidget::windowIconTextChanged, count);
    korvalen::RunOutcome outcome = korvalen::RunOutcome::Aborted;
    QEventLoop loop;
    QObject::connect(form.get(), &korvalen::TMainForm::runEnded, [&](korvalen::RunOutcome o) {
        outcome = o;
        loop.quit();
    });

    clock.start();
    form->WMDropFiles(names);
    loop.exec();
    const qint64 end = clock.nsecsElapsed();
    longestGap = std::max(longestGap, end - lastTick);
    ticker.stop();

    std::printf("%.3f %lld %.1f %.1f %lld\n", static_cast<double>(end) / 1e9,
                static_cast<long long>(form->State().HitCount),
                static_cast<double>(longestGap) / 1e6,
                stopAt < 0 ? -1.0 : static_cast<double>(end - stopAt) / 1e6, changes);
    const bool ok = outcome == korvalen::RunOutcome::Finished ||
                    (outcome == korvalen::RunOutcome::Stopped && stopAfter >= 0);
    return ok ? 0 : 1;
}
