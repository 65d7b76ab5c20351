// Pictures of what the user sees, for a person to look at: the main window
// at its default size and resized, during a run, and both dialogs. Saved as
// PNG in the build folder; nothing is compared.
#include <QCheckBox>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QPixmap>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QTest>
#include <QTimer>
#include <QToolTip>

#include "app/about.hpp"
#include "app/helpview.hpp"
#include "app/qtext.hpp"
#include "app/setting.hpp"
#include "tests/app/fake_desktop.hpp"
#include "text/cp932.hpp"

namespace korvalen::test {
namespace {

void Save(QWidget& widget, const char* name) {
    QTest::qWait(30);  // let the layouts settle
    const QString path =
        QDir(QStringLiteral(KORVALEN_SHOT_DIR)).filePath(QString::fromLatin1(name));
    EXPECT_TRUE(widget.grab().save(path)) << path.toStdString();
}

// The whole screen, where there is one to grab (a real X server).
void SaveScreen(const char* name) {
    QTest::qWait(50);
    const QPixmap screen = QGuiApplication::primaryScreen()->grabWindow(0);
    if (!screen.isNull()) {
        screen.save(QDir(QStringLiteral(KORVALEN_SHOT_DIR)).filePath(QString::fromLatin1(name)));
    }
}

using Screenshot = WindowTest;

TEST_F(Screenshot, MainWindowAndDialogs) {
    const QString rel = Path(QStringLiteral("sample.kvl"));
    WriteAll(rel, Utf8ToCp932("検索=検索,探索,サーチ,さがす,捜す,探す,調べる,照会,ルックアップ\r\n"
                              "色=赤,青,緑\r\n"));
    WriteIni("[File]\r\nRelFile=" + QFile::encodeName(rel).toStdString() +
             "\r\nOutputFile=/home/user/Documents/projects/korvalen/search/out.txt\r\n");
    QApplication::setFont(ProportionalGothic());
    TMainForm& f = Start();
    f.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&f));
    Save(f, "main.png");
    // The narrow path box shows the end of the path; the tooltip the whole.
    QToolTip::showText(f.EOutputFile->mapToGlobal(QPoint(0, f.EOutputFile->height())),
                       f.EOutputFile->toolTip(), f.EOutputFile);
    SaveScreen("screen_path_tooltip.png");
    QToolTip::hideText();

    f.resize(760, 420);
    Save(f, "main_resized.png");

    RunHost& host = f;
    host.SetProgressMax(1000);
    host.SetProgressPos(380);
    host.SetProgressVisible(true);
    host.LockControls();
    host.SetCaption("Korvalen+");
    f.MEditWord->trigger();
    Save(f, "main_running.png");
    host.UnlockControls();
    host.SetProgressVisible(false);

    TSettingForm& s = *f.SettingForm();
    f.Options.Editor = "/usr/bin/mousepad";
    s.Fill();
    s.show();
    Save(s, "settings.png");
    s.hide();

    // Help asked for with F1 while the modal dialog is open, and scrolled
    // there; the whole screen shows both windows under a real X server.
    QTimer::singleShot(0, &s, [&] {
        QTest::keyClick(s.CSearchIconize, Qt::Key_F1);
        THelpViewer& help = *f.HelpViewer();
        help.move(s.frameGeometry().center());
        QTest::qWait(50);
        QTest::keyClick(help.windowHandle(), Qt::Key_PageDown);
        Save(help, "help_from_settings.png");
        SaveScreen("screen_help_from_settings.png");
        help.close();
        s.BCancel->click();
    });
    s.Execute();

    TAboutForm& about = *f.AboutForm();
    desktop.memory = {std::int64_t{16} << 30, std::int64_t{9} << 30};
    about.show();
    Save(about, "about.png");
    about.hide();
}

}  // namespace
}  // namespace korvalen::test
