// Pictures of what the user sees, for a person to look at: the main window at
// rest and during a run, and both dialogs. Saved as PNG in the build folder.
#include <QPlainTextEdit>
#include <QTest>

#include "app/about.hpp"
#include "app/qtext.hpp"
#include "app/setting.hpp"
#include "tests/app/fake_desktop.hpp"
#include "text/cp932.hpp"

namespace korvalen::test {
namespace {

void Save(QWidget& widget, const char* name) {
    QTest::qWait(30);  // let the layouts settle
    EXPECT_TRUE(widget.grab().save(QStringLiteral(KORVALEN_SHOT_DIR "/") + name)) << name;
}

using Screenshot = WindowTest;

TEST_F(Screenshot, MainWindowAndDialogs) {
    const QString rel = Path(QStringLiteral("sample.kvl"));
    WriteAll(rel, Utf8ToCp932("検索=検索,探索,サーチ,さがす,捜す,探す,調べる\r\n色=赤,青\r\n"));
    WriteIni("[File]\r\nRelFile=" + QFile::encodeName(rel).toStdString() +
             "\r\nOutputFile=/home/user/Documents/projects/korvalen/search/out.txt\r\n");
    QApplication::setFont(ProportionalGothic());
    TMainForm& f = Start();
    f.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&f));
    Save(f, "main.png");
    RunHost& host = f;
    host.SetProgressMax(1000);
    host.SetProgressPos(380);
    host.SetProgressVisible(true);
    host.LockControls();
    host.SetCaption("Korvalen+");
    Save(f, "main_running.png");
    host.UnlockControls();
    f.Options.Editor = "/usr/bin/mousepad";
    f.SettingForm()->Fill();
    f.SettingForm()->show();
    Save(*f.SettingForm(), "settings.png");
    f.AboutForm()->show();
    Save(*f.AboutForm(), "about.png");
}

}  // namespace
}  // namespace korvalen::test
