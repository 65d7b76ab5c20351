// The settings dialog, the about dialog and the help file.
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTest>
#include <QTextBlock>
#include <QTextBrowser>
#include <QTimer>
#include <QToolButton>
#include <QWhatsThis>
#include <set>

#include "app/about.hpp"
#include "app/helpview.hpp"
#include "app/setting.hpp"
#include "tests/app/fake_desktop.hpp"

namespace korvalen::test {
namespace {

using Settings = WindowTest;

// Runs `answer` once the modal dialog is up, then opens it.
void WhileOpen(TSettingForm& dialog, std::function<void()> answer) {
    QTimer::singleShot(0, &dialog, std::move(answer));
    dialog.Execute();
}

TEST_F(Settings, EveryOpeningStartsFromTheOptions) {
    TMainForm& f = Start();
    TSettingForm& s = *f.SettingForm();
    f.Options.CRText = true;
    f.Options.OutputStrLength = 42;
    f.Options.Editor = "/usr/bin/vi";
    WhileOpen(s, [&] {
        EXPECT_TRUE(s.isVisible());
        EXPECT_TRUE(s.CCRText->isChecked());
        EXPECT_TRUE(s.CNewTag->isChecked());
        EXPECT_FALSE(s.CAddSortWord->isChecked());
        EXPECT_EQ(s.EOutputStrLength->text(), QStringLiteral("42"));
        EXPECT_EQ(s.EEditor->text(), QStringLiteral("/usr/bin/vi"));
        s.CCRText->setChecked(false);
        s.EEditor->clear();
        QTest::keyClick(&s, Qt::Key_Escape);  // cancel
    });
    EXPECT_TRUE(f.Options.CRText);
    EXPECT_EQ(f.Options.Editor, "/usr/bin/vi");
    WhileOpen(s, [&] {
        EXPECT_TRUE(s.CCRText->isChecked());  // refilled, not left from last time
        s.BCancel->click();
    });
    EXPECT_EQ(IniText(), "<missing>");
}

TEST_F(Settings, OkAppliesAndSaveAlsoStores) {
    WriteIni("[File]\r\nDelete=2\r\nRelFile=keep\r\n");
    TMainForm& f = Start();
    TSettingForm& s = *f.SettingForm();
    const std::string editor = "/opt/\x95\xD2\x8F\x57";  // a Shift-JIS name: 編集
    f.Options.Editor = editor;
    WhileOpen(s, [&] {
        EXPECT_EQ(s.EEditor->text(), QStringLiteral("/opt/編集"));
        s.CAddSortWord->setChecked(true);
        s.CNewTag->setChecked(false);
        s.EOutputStrLength->setText(QStringLiteral("120"));
        s.BOK->click();
    });
    EXPECT_TRUE(f.Options.AddSortWord);
    EXPECT_FALSE(f.Options.TagJump);
    EXPECT_EQ(f.Options.OutputStrLength, 120);
    EXPECT_EQ(f.Options.Editor, editor);
    EXPECT_EQ(IniText().find("AddSortWord"), std::string::npos);

    // Save stores the box's text as it is, and applies what the arrows hold.
    WhileOpen(s, [&] {
        EXPECT_FALSE(s.CNewTag->isChecked());
        s.EOutputStrLength->setText(QStringLiteral("abc"));
        s.BSaveSet->click();
    });
    // Every box to its own key; the keys the dialog does not own stay.
    const std::string ini = IniText();
    EXPECT_NE(
        ini.find("[Other]\r\nTagJump=0\r\nFileSeparate=1\r\nErrorStop=1\r\nFileOverWrite=1\r\n"
                 "CloseFileDelete=0\r\nAddSortWord=1\r\nOutputFileOpen=0\r\nSearchIconize=1\r\n"
                 "JapaneseWord=1\r\nCRText=0\r\nOutputStrLength=abc\r\n"),
        std::string::npos)
        << ini;
    EXPECT_NE(ini.find("Delete=2\r\nRelFile=keep\r\n"), std::string::npos);
    EXPECT_NE(ini.find("Editor=" + editor + "\r\n"), std::string::npos);
    EXPECT_EQ(f.Options.OutputStrLength, 120);  // "abc" leaves the last valid position
    EXPECT_EQ(f.Options.Delete, 2);
}

TEST_F(Settings, InputEncodingBox) {
    TMainForm& f = Start();
    TSettingForm& s = *f.SettingForm();
    // Below the ten boxes, above the length row, inside the dialog.
    const QRect box = s.CInputEncoding->geometry();
    EXPECT_GT(box.top(), s.CCRText->geometry().bottom());
    EXPECT_LT(box.bottom(), s.Label1->geometry().top());
    for (QWidget* w : std::initializer_list<QWidget*>{s.CInputEncoding, s.EEditor, s.Button1}) {
        EXPECT_TRUE(s.rect().contains(w->geometry())) << w->objectName().toStdString();
    }
    struct Case {
        std::int32_t stored;
        bool shown;
        bool check;
        std::int32_t applied;
    };
    for (const Case& c : {Case{0, false, true, 1}, Case{1, true, false, 0}, Case{2, true, true, 2},
                          Case{-1, true, false, 0}}) {
        f.Options.InputEncoding = c.stored;
        WhileOpen(s, [&] {
            EXPECT_EQ(s.CInputEncoding->isChecked(), c.shown) << c.stored;
            s.CInputEncoding->setChecked(c.check);
            s.BOK->click();
        });
        EXPECT_EQ(f.Options.InputEncoding, c.applied) << c.stored;
    }
    EXPECT_EQ(IniText(), "<missing>");
}

TEST_F(Settings, LengthArrowsStopAtTheirEnds) {
    TMainForm& f = Start();
    TSettingForm& s = *f.SettingForm();
    struct Case {
        int start;
        int steps;
        QString shown;
        bool keys = false;  // the Up and Down keys in the box instead of the arrows
    };
    for (const Case& c :
         {Case{199, 5, "200"}, Case{1, -5, "0"}, Case{500, 0, "200"}, Case{-3, 0, "0"},
          Case{78, 1, "79"}, Case{199, 5, "200", true}, Case{2, -1, "1", true}}) {
        f.Options.OutputStrLength = c.start;
        s.Fill();
        for (int i = 0; i < std::abs(c.steps); ++i) {
            if (c.keys) {
                QTest::keyClick(s.EOutputStrLength, c.steps > 0 ? Qt::Key_Up : Qt::Key_Down);
            } else {
                (c.steps > 0 ? s.UDLength->Up() : s.UDLength->Down())->click();
            }
        }
        EXPECT_EQ(s.EOutputStrLength->text(), c.shown) << c.start << " " << c.steps;
    }
    s.EOutputStrLength->setText(QStringLiteral(" 300 "));
    EXPECT_EQ(s.UDLength->Position(), 200);
}

TEST_F(Settings, EditorBoxQuestionAndDialog) {
    TMainForm& f = Start();
    TSettingForm& s = *f.SettingForm();
    f.Options.Editor = "/opt/ed/bin/edit";
    s.Fill();
    desktop.answer = false;
    QTest::keyClick(s.EEditor, Qt::Key_Delete);
    EXPECT_EQ(desktop.questions, std::vector<QString>{QStringLiteral("エディタ指定を削除します")});
    EXPECT_EQ(s.EEditor->text(), QStringLiteral("/opt/ed/bin/edit"));
    desktop.answer = true;
    QTest::keyClick(s.EEditor, Qt::Key_Delete, Qt::ShiftModifier);
    EXPECT_TRUE(s.EEditor->text().isEmpty());
    QTest::keyClick(s.EEditor, Qt::Key_Delete);  // empty: no question
    EXPECT_EQ(desktop.questions.size(), 2u);

    desktop.files = {std::nullopt, QStringLiteral("/usr/bin/kate")};
    s.Button1->click();
    const FileDialogRequest& first = desktop.requests.back();
    EXPECT_EQ(first.title, QStringLiteral("ｴﾃﾞｨﾀの指定"));
    EXPECT_EQ(first.filters.front(), QStringLiteral("実行できるファイル (*)"));
    EXPECT_TRUE(first.directory.isEmpty() && first.fileName.isEmpty());
    EXPECT_TRUE(s.EEditor->text().isEmpty());
    QTest::mouseDClick(s.EEditor, Qt::LeftButton);
    EXPECT_EQ(s.EEditor->text(), QStringLiteral("/usr/bin/kate"));
    s.EEditor->setText(QStringLiteral("/usr/bin/kate"));
    desktop.files = {std::nullopt};
    s.Button1->click();
    EXPECT_EQ(desktop.requests.back().directory, QStringLiteral("/usr/bin/"));
    EXPECT_EQ(desktop.requests.back().fileName, QStringLiteral("kate"));
}

TEST_F(Settings, HelpTopicsOfTheControls) {
    TMainForm& f = Start();
    TSettingForm& s = *f.SettingForm();
    const std::vector<std::pair<QWidget*, int>> topics = {
        {s.CNewTag, 101}, {s.CCRText, 110},  {s.EOutputStrLength, 111},
        {s.EEditor, 112}, {s.Button1, 113},  {s.BOK, 114},
        {s.BCancel, 115}, {s.BSaveSet, 116}, {s.CInputEncoding, 117}};
    for (const auto& [control, topic] : topics) {
        f.HelpViewer()->hide();
        QTest::keyClick(control, Qt::Key_F1);
        EXPECT_TRUE(f.HelpViewer()->isVisible());
        EXPECT_EQ(f.HelpViewer()->CurrentTopic(), topic);
    }
    // The title bar's help button: what's-this on a control.
    QHelpEvent what(QEvent::WhatsThis, QPoint(2, 2), QPoint(2, 2));
    QCoreApplication::sendEvent(s.CSearchIconize, &what);
    EXPECT_EQ(f.HelpViewer()->CurrentTopic(), 108);
    QHelpEvent arrows(QEvent::WhatsThis, QPoint(2, 2), QPoint(2, 2));
    QCoreApplication::sendEvent(s.UDLength->Up(), &arrows);  // passed up to the arrows
    EXPECT_EQ(f.HelpViewer()->CurrentTopic(), 111);
}

TEST_F(Settings, HelpOpenedFromTheModalDialogIsUsable) {
    TMainForm& f = Start();
    TSettingForm& s = *f.SettingForm();
    THelpViewer& help = *f.HelpViewer();
    QScrollBar& bar = *help.Browser()->verticalScrollBar();
    WhileOpen(s, [&] {
        // Keys as the window system delivers them, which a blocked window never gets.
        for (const QKeyCombination close :
             {Qt::Key_Escape | Qt::NoModifier, Qt::CTRL | Qt::Key_W}) {
            QTest::keyClick(s.CNewTag, Qt::Key_F1);
            ASSERT_TRUE(QTest::qWaitForWindowActive(&help));
            const int at = bar.value();
            QTest::keyClick(help.windowHandle(), Qt::Key_PageUp);
            EXPECT_LT(bar.value(), at);
            QTest::keyClick(help.windowHandle(), close.key(), close.keyboardModifiers());
            EXPECT_FALSE(help.isVisible());
        }
        QTest::keyClick(s.CNewTag, Qt::Key_F1);
        s.BCancel->click();
    });
    // Still open after the dialog, and the main window's again.
    EXPECT_TRUE(help.isVisible());
    EXPECT_EQ(help.parentWidget(), &f);
}

TEST(HelpFile, HasTheContentsAndEveryTopic) {
    THelpViewer viewer;
    viewer.SetHelpFile(QStringLiteral(KORVALEN_HELP_SOURCE));
    viewer.ShowContents();
    std::set<QString> anchors;
    for (QTextBlock b = viewer.Browser()->document()->begin(); b.isValid(); b = b.next()) {
        for (auto it = b.begin(); !it.atEnd(); ++it) {
            for (const QString& name : it.fragment().charFormat().anchorNames()) {
                anchors.insert(name);
            }
        }
    }
    EXPECT_TRUE(anchors.count(QStringLiteral("contents")));
    for (int topic = 101; topic <= 117; ++topic) {
        EXPECT_TRUE(anchors.count(QString::number(topic))) << topic;
    }
    EXPECT_TRUE(viewer.Browser()->toPlainText().contains(QStringLiteral("目次")));
}

TEST(AboutLines, ColumnsAndLargeMemory) {
    struct Case {
        std::int64_t total, available;
        const char16_t* totalLine;
        const char16_t* availableLine;
    };
    const Case cases[] = {
        {33554432, 5000000, u"物理メモリ　　：  32 Mbyte (   33,554,432)",
         u"空き物理メモリ：   4 Mbyte (    5,000,000)"},
        {134217728, 0, u"物理メモリ　　： 128 Mbyte (  134,217,728)",
         u"空き物理メモリ：   0 Mbyte (            0)"},
        {2147483647, 1048575, u"物理メモリ　　：2047 Mbyte (2,147,483,647)",
         u"空き物理メモリ：   0 Mbyte (    1,048,575)"},
        // Beyond the old fields: both lines widen together and keep their columns.
        {std::int64_t{16} << 30, std::int64_t{3} << 30,
         u"物理メモリ　　：16384 Mbyte (17,179,869,184)",
         u"空き物理メモリ： 3072 Mbyte ( 3,221,225,472)"},
        {std::int64_t{4} << 30, 0, u"物理メモリ　　：4096 Mbyte (4,294,967,296)",
         u"空き物理メモリ：   0 Mbyte (            0)"},
    };
    for (const Case& c : cases) {
        const auto [total, available] = MemoryLines(c.total, c.available);
        EXPECT_EQ(total, QString::fromUtf16(c.totalLine));
        EXPECT_EQ(available, QString::fromUtf16(c.availableLine));
        EXPECT_EQ(total.size(), available.size());
    }
}

TEST_F(Settings, AboutDialogReadsTheMemoryAtEveryShowing) {
    TMainForm& f = Start();
    TAboutForm& about = *f.AboutForm();
    for (std::int64_t mb : {64, 512}) {
        desktop.memory = {mb << 20, mb << 19};
        QTimer::singleShot(0, &about, [&] {
            EXPECT_EQ(about.focusWidget(), about.Button1);
            about.Button1->click();
        });
        f.MHelpAbout->trigger();
        EXPECT_EQ(about.LTotalPhys->text(), MemoryLines(mb << 20, mb << 19).first);
        EXPECT_EQ(about.LAvailPhys->text(), MemoryLines(mb << 20, mb << 19).second);
        EXPECT_FALSE(about.isVisible());
    }
}

}  // namespace
}  // namespace korvalen::test
