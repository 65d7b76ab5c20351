// The settings dialog, the about dialog, the help file and Qt's own texts.
#include "tests/app/fake_desktop.hpp"

namespace korvalen::test {
namespace {

class Settings : public WindowTest {
  protected:
    void SetUp() override {
        WindowTest::SetUp();
        f = &Start();
        s = f->SettingForm();
    }
    // Runs `answer` once the modal dialog is up, then opens it.
    void WhileOpen(std::function<void()> answer) {
        QTimer::singleShot(0, s, std::move(answer));
        s->Execute();
    }
    TMainForm* f = nullptr;
    TSettingForm* s = nullptr;
};

TEST_F(Settings, EachBoxShowsAndSetsItsOwnOption) {
    // clang-format off
#define BOX(name) {&TSettingForm::C##name, &iset::name}
    const std::pair<QCheckBox * TSettingForm::*, bool iset::*> boxes[] = {
        {&TSettingForm::CNewTag, &iset::TagJump}, BOX(FileSeparate), BOX(ErrorStop),
        BOX(FileOverWrite), BOX(CloseFileDelete), BOX(AddSortWord), BOX(OutputFileOpen),
        BOX(SearchIconize), BOX(JapaneseWord), BOX(CRText), BOX(ShowResults), BOX(SearchFolders)};
#undef BOX
    // clang-format on
    for (const auto& [on, onField] : boxes) {
        for (const auto& [box, field] : boxes) {
            f->Options.*field = field == onField;
        }
        WhileOpen([&] {
            for (const auto& [box, field] : boxes) {
                EXPECT_EQ((s->*box)->isChecked(), field == onField)
                    << (s->*box)->text().toStdString();
                (s->*box)->setChecked(field != onField);
            }
            s->BOK->click();
        });
        for (const auto& [box, field] : boxes) {
            EXPECT_EQ(f->Options.*field, field != onField) << (s->*box)->text().toStdString();
        }
    }
    EXPECT_FALSE(QFile::exists(Path("korvalen.INI")));  // OK stores nothing
}

TEST_F(Settings, CancelKeepsSaveStoresAndApplies) {
    f->Options.Delete = 2;                               // not the dialog's
    const std::string editor = "/opt/\x95\xD2\x8F\x57";  // a Shift-JIS name: 編集
    f->Options.Editor = editor;
    f->Options.OutputStrLength = 42;
    WhileOpen([&] {
        Shot(*s, "settings.png");
        EXPECT_EQ(s->EEditor->text(), QStringLiteral("/opt/編集"));
        EXPECT_EQ(s->EOutputStrLength->text(), QStringLiteral("42"));
        s->EEditor->clear();
        s->EOutputStrLength->setText(QStringLiteral("120"));
        s->BCancel->click();
    });
    EXPECT_EQ(f->Options.Editor, editor);
    EXPECT_EQ(f->Options.OutputStrLength, 42);

    // Save stores the box's text as it is, and applies what the arrows hold.
    // An open quote would swallow the path: said, and the dialog stays open.
    desktop.messages.clear();
    WhileOpen([&] {
        EXPECT_FALSE(s->EFolderFilter->isEnabled());
        s->CSearchFolders->setChecked(true);
        EXPECT_TRUE(s->EFolderFilter->isEnabled());
        s->EFolderFilter->setText(QStringLiteral("*.txt;メモ*"));
        s->EOutputStrLength->setText(QStringLiteral("abc"));
        s->EThreads->setText(QStringLiteral("3"));
        s->EEditorLine->setText(QStringLiteral("--line %l \"%f"));
        for (QPushButton* b : {s->BOK, s->BSaveSet}) {
            b->click();
            EXPECT_TRUE(s->isVisible());
        }
        s->EEditorLine->setText(QStringLiteral("--line %l \"%f\""));
        s->BSaveSet->click();
    });
    const QString said = QStringLiteral("行指定の引用符 \" が閉じていません");
    EXPECT_EQ(desktop.messages, (std::vector<QString>{said, said}));
    EXPECT_EQ(f->Options.FolderFilter, "*.txt;メモ*");
    EXPECT_EQ(f->Options.EditorLine, "--line %l \"%f\"");
    EXPECT_EQ(f->Options.OutputStrLength, 42);  // "abc" leaves the last valid position
    EXPECT_EQ(f->Options.Threads, 3);
    EXPECT_EQ(f->Options.Editor, editor);
    EXPECT_EQ(f->Options.Delete, 2);
    // Stored as applied (the keys are the writer's test), the length as typed.
    EXPECT_NE(IniText().find("\r\nOutputStrLength=abc\r\n"), std::string::npos) << IniText();
}

TEST_F(Settings, InputEncodingBox) {
    // Below the ten boxes, above the length row, inside the dialog.
    const QRect box = s->CInputEncoding->geometry();
    EXPECT_GT(box.top(), s->CCRText->geometry().bottom());
    EXPECT_LT(box.bottom(), s->Label1->geometry().top());
    for (QWidget* w : std::initializer_list<QWidget*>{s->CShowResults, s->Button1, s->EEditorLine,
                                                      s->EFolderFilter, s->BSaveSet}) {
        EXPECT_TRUE(s->rect().contains(w->geometry())) << w->objectName().toStdString();
    }
    // Stored, shown, set, applied: a hand-set value stays while the box does.
    const int cases[][4] = {
        {0, false, true, 1}, {1, true, false, 0}, {2, true, true, 2}, {-1, true, false, 0}};
    for (const auto& c : cases) {
        f->Options.InputEncoding = c[0];
        WhileOpen([&] {
            EXPECT_EQ(s->CInputEncoding->isChecked(), c[1] != 0) << c[0];
            s->CInputEncoding->setChecked(c[2] != 0);
            s->BOK->click();
        });
        EXPECT_EQ(f->Options.InputEncoding, c[3]) << c[0];
    }
}

TEST_F(Settings, LengthArrowsStopAtTheirEnds) {
    const struct {
        int start, steps;
        QString shown;
        int keys = 0;  // 1: Up and Down in the box instead of the arrows; 10: Page Up and Down
    } cases[] = {{199, 5, "200"},     {1, -5, "0"},       {500, 0, "200"}, {-3, 0, "0"},
                 {78, 1, "79"},       {199, 5, "200", 1}, {2, -1, "1", 1}, {78, 2, "98", 10},
                 {195, 1, "200", 10}, {78, -1, "68", 10}, {5, -1, "0", 10}};
    for (const auto& c : cases) {
        f->Options.OutputStrLength = c.start;
        s->Fill();
        for (int i = 0; i < std::abs(c.steps); ++i) {
            const bool up = c.steps > 0;
            if (c.keys != 0) {
                QTest::keyClick(s->EOutputStrLength,
                                c.keys == 1 ? (up ? Qt::Key_Up : Qt::Key_Down)
                                            : (up ? Qt::Key_PageUp : Qt::Key_PageDown));
            } else {
                (up ? s->UDLength->Up() : s->UDLength->Down())->click();
            }
        }
        EXPECT_EQ(s->EOutputStrLength->text(), c.shown) << c.start << " " << c.steps;
    }
    s->EOutputStrLength->setText(QStringLiteral(" 300 "));
    EXPECT_EQ(s->UDLength->Position(), 200);
}

TEST_F(Settings, EditorBoxQuestionAndDialog) {
    f->Options.Editor = "/opt/ed/bin/edit";
    s->Fill();
    desktop.answer = false;
    QTest::keyClick(s->EEditor, Qt::Key_Delete);
    EXPECT_EQ(desktop.questions, std::vector<QString>{QStringLiteral("エディタ指定を削除します")});
    EXPECT_EQ(s->EEditor->text(), QStringLiteral("/opt/ed/bin/edit"));
    desktop.answer = true;
    QTest::keyClick(s->EEditor, Qt::Key_Delete, Qt::ShiftModifier);
    EXPECT_TRUE(s->EEditor->text().isEmpty());
    QTest::keyClick(s->EEditor, Qt::Key_Delete);  // empty: no question
    EXPECT_EQ(desktop.questions.size(), 2u);

    desktop.files = {"", QStringLiteral("/usr/bin/kate"), ""};
    s->Button1->click();
    const FileDialogRequest& first = desktop.requests.back();
    EXPECT_EQ(first.title, QStringLiteral("ｴﾃﾞｨﾀの指定"));
    EXPECT_EQ(first.filters.front(), QStringLiteral("実行できるファイル (*)"));
    EXPECT_TRUE(first.directory.isEmpty() && first.fileName.isEmpty());
    EXPECT_TRUE(s->EEditor->text().isEmpty());
    QTest::mouseDClick(s->EEditor, Qt::LeftButton);
    EXPECT_EQ(s->EEditor->text(), QStringLiteral("/usr/bin/kate"));
    s->Button1->click();
    EXPECT_EQ(desktop.requests.back().directory, QStringLiteral("/usr/bin/"));
    EXPECT_EQ(desktop.requests.back().fileName, QStringLiteral("kate"));
}

TEST_F(Settings, HelpForEachControlAndFromTheModalDialog) {
    const std::string html = ReadAll(QStringLiteral(KORVALEN_HELP_SOURCE));
    EXPECT_NE(html.find("<a name=\"contents\">"), std::string::npos);
    EXPECT_NE(html.find("目次"), std::string::npos);
    for (int topic = 101; topic <= 122; ++topic) {
        EXPECT_NE(html.find("name=\"" + std::to_string(topic) + "\""), std::string::npos) << topic;
    }
    THelpViewer& help = *f->HelpViewer();
    QScrollBar& bar = *help.Browser()->verticalScrollBar();
    WhileOpen([&] {
        // Keys as the window system delivers them, which a blocked window never gets.
        for (const QKeyCombination close :
             {Qt::Key_Escape | Qt::NoModifier, Qt::CTRL | Qt::Key_W}) {
            QTest::keyClick(s->CNewTag, Qt::Key_F1);
            ASSERT_TRUE(QTest::qWaitForWindowActive(&help));
            // First shown from the dialog: placed by the window manager. A place
            // of the program's own would be (0, 0), the title bar above the screen.
            EXPECT_FALSE(help.testAttribute(Qt::WA_Moved));
            const int at = bar.value();
            QTest::keyClick(help.windowHandle(), Qt::Key_PageUp);
            EXPECT_LT(bar.value(), at);
            QTest::keyClick(help.windowHandle(), close.key(), close.keyboardModifiers());
            EXPECT_FALSE(help.isVisible());
        }
        QTest::keyClick(s->CNewTag, Qt::Key_F1);
        s->BCancel->click();
    });
    // Still open after the dialog, and the main window's again.
    EXPECT_TRUE(help.isVisible());
    EXPECT_EQ(help.parentWidget(), f);
    const std::pair<QWidget*, int> topics[] = {
        {s->CNewTag, 101},        {s->CCRText, 110},       {s->EOutputStrLength, 111},
        {s->EEditor, 112},        {s->Button1, 113},       {s->BOK, 114},
        {s->BCancel, 115},        {s->BSaveSet, 116},      {s->CInputEncoding, 117},
        {s->CSearchFolders, 118}, {s->EFolderFilter, 119}, {s->CShowResults, 120},
        {s->EEditorLine, 121},    {s->EThreads, 122}};
    for (const auto& [control, topic] : topics) {
        help.hide();
        QTest::keyClick(control, Qt::Key_F1);
        EXPECT_TRUE(help.isVisible());
        EXPECT_EQ(help.CurrentTopic(), topic);
    }
    // The title bar's help button: what's-this on a control, or passed up to the arrows.
    for (const auto& [control, topic] :
         {std::pair<QWidget*, int>{s->CSearchIconize, 108}, {s->UDLength->Up(), 111}}) {
        QHelpEvent what(QEvent::WhatsThis, QPoint(2, 2), QPoint(2, 2));
        QCoreApplication::sendEvent(control, &what);
        EXPECT_EQ(help.CurrentTopic(), topic);
    }
}

TEST_F(Settings, AboutDialogShowsTheMemoryInColumnsAtEveryShowing) {
    const struct {
        std::int64_t total, available;
        const char16_t *totalLine, *availableLine;
    } cases[] = {
        {2147483647, 1048575, u"物理メモリ　　：2047 Mbyte (2,147,483,647)",
         u"空き物理メモリ：   0 Mbyte (    1,048,575)"},
        // Beyond the old fields: both lines widen together and keep their columns.
        {std::int64_t{16} << 30, std::int64_t{3} << 30,
         u"物理メモリ　　：16384 Mbyte (17,179,869,184)",
         u"空き物理メモリ： 3072 Mbyte ( 3,221,225,472)"},
    };
    TAboutForm& about = *f->AboutForm();
    for (const auto& c : cases) {
        desktop.memory = {c.total, c.available};
        QTimer::singleShot(0, &about, [&] {
            EXPECT_EQ(about.focusWidget(), about.Button1);
            Shot(about, "about.png");
            about.Button1->click();
        });
        f->MHelpAbout->trigger();
        EXPECT_EQ(about.LTotalPhys->text(), QString::fromUtf16(c.totalLine));
        EXPECT_EQ(about.LAvailPhys->text(), QString::fromUtf16(c.availableLine));
        EXPECT_FALSE(about.isVisible());
    }
}

TEST(QtTexts, JapaneseUnlessQtSpeaksTheLocaleAndTheQuestionBox) {
    const std::pair<const char*, QString> rows[] = {
        {"en_US", "ja"}, {"C", "ja"}, {"de_DE", "de"}, {"ja_JP", "ja"}};
    QTranslator translator;
    for (const auto& [locale, language] : rows) {
        ASSERT_TRUE(LoadQtTranslation(translator, QLocale(QString::fromLatin1(locale)))) << locale;
        EXPECT_EQ(translator.language().left(2), language) << locale;
    }
    QString seen;
    QTimer::singleShot(0, [&seen] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            EXPECT_EQ(box->icon(), QMessageBox::Question);
            seen = box->button(QMessageBox::Yes)->text() + box->button(QMessageBox::No)->text();
            Shot(*box, "question.png");
            box->button(QMessageBox::No)->click();
        }
    });
    EXPECT_FALSE(RealDesktop().Question(
        nullptr, QStringLiteral("「/home/user/out.txt」をごみ箱に移動しますか？")));
    EXPECT_EQ(seen, QStringLiteral("はいいいえ"));
}

}  // namespace
}  // namespace korvalen::test
