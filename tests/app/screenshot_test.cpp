// Pictures of what the user sees, for a person to look at: the main window
// at its default size and resized, during a run, and both dialogs. Saved as
// PNG in the build folder; nothing is compared.
#include <QLineEdit>
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
    const QString path = QStringLiteral(KORVALEN_SHOT_DIR "/") + QString::fromLatin1(name);
    EXPECT_TRUE(widget.grab().save(path)) << path.toStdString();
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

    TSettingForm& s = *f.SettingForm();
    f.Options.Editor = "/usr/bin/mousepad";
    s.Fill();
    s.show();
    Save(s, "settings.png");
    s.hide();
    desktop.memory = {std::int64_t{16} << 30, std::int64_t{9} << 30};
    f.AboutForm()->show();
    Save(*f.AboutForm(), "about.png");
}

}  // namespace
}  // namespace korvalen::test
