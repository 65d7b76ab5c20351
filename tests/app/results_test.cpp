// The results window, reached as a user reaches it: after a run (ShowResults)
// or from the menu.
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QPlainTextEdit>
#include <QTest>

#include "app/relmain.hpp"
#include "app/results.hpp"
#include "tests/app/fake_desktop.hpp"
#include "text/cp932.hpp"

namespace korvalen::test {
namespace {

using Results = WindowTest;

TEST_F(Results, GroupsCountsFilterEnterAndReload) {
    const QString a = Path(QStringLiteral("日本語 (1).txt"));
    const QString b = Path(QStringLiteral("b.txt"));
    const QString out = Path(QStringLiteral("out.txt"));
    WriteAll(a, Utf8ToCp932("検索の例\r\nなし\r\nまた検索(2) :(x)と検索\r\n"));
    WriteAll(b, Utf8ToCp932("探索する\r\n"));
    WriteIni(FileIni("OutputFile", out) + "[Other]\r\nShowResults=1\r\nOutputStrLength=0\r\n");
    TMainForm& f = Start();
    f.Options.Editor = "/usr/bin/vim";
    f.MSearchStr->setPlainText(QStringLiteral("検索\n探索"));
    f.WMDropFiles({Bytes(a), Bytes(b)});
    TResultsForm& r = *f.ResultsForm();
    const auto Rows = [&] {
        QStringList rows;
        for (int i = 0; i < r.Model()->rowCount(); ++i) {
            rows << r.Model()->index(i).data().toString();
        }
        return rows;
    };
    ASSERT_TRUE(r.isVisible());  // ShowResults after a run with hits
    const QStringList first = {a + "  (2件)", "1: 検索の例", "3: また検索(2) :(x)と検索", "",
                               b + "  (1件)", "1: 探索する"};
    EXPECT_EQ(Rows(), first);
    EXPECT_EQ(r.LCount->text(), QStringLiteral("3件 / 2ファイル  ") + out);
    EXPECT_EQ(r.Model()->index(2).data(ResultsModel::WordRole).toString(), "検索");
    EXPECT_TRUE(r.LResults->hasFocus() || QApplication::focusWidget() == nullptr);
    EXPECT_TRUE(r.LResults->uniformItemSizes());

    // The marked word: the delegate paints it on a coloured ground.
    r.resize(500, 300);
    const QImage shot =
        r.LResults->viewport()->grab().toImage().convertToFormat(QImage::Format_RGB32);
    const auto* px = reinterpret_cast<const QRgb*>(shot.constBits());
    EXPECT_GT(std::count(px, px + shot.width() * shot.height(), qRgb(255, 220, 80)), 0);

    // Ctrl+F, then typing narrows to hits whose text, word or file name holds it.
    QTest::keyClick(r.LResults, Qt::Key_F, Qt::ControlModifier);
    EXPECT_TRUE(r.EFilter->hasFocus() || !r.isActiveWindow());
    r.EFilter->setText(QStringLiteral("する"));
    EXPECT_EQ(Rows(), (QStringList{b + "  (1件)", "1: 探索する"}));
    r.EFilter->setText(QStringLiteral("日本語"));  // the file name
    EXPECT_EQ(Rows().size(), 3);
    r.EFilter->setText(QStringLiteral("(2)"));  // only in a text
    EXPECT_EQ(Rows(), (QStringList{a + "  (2件)", "3: また検索(2) :(x)と検索"}));

    // Enter on a hit: the editor at its line, the path whole.
    r.LResults->setCurrentIndex(r.Model()->index(1));
    QTest::keyClick(r.LResults, Qt::Key_Return);
    ASSERT_EQ(desktop.started.size(), 1u);
    EXPECT_EQ(desktop.started[0], (std::pair<QString, QStringList>{"/usr/bin/vim", {"+3", a}}));

    // The next run appends to the file: the window shows it as it is now.
    r.EFilter->clear();
    f.Options.FileOverWrite = false;
    f.MSearchStr->setPlainText(QStringLiteral("探索"));
    f.WMDropFiles({Bytes(b)});
    EXPECT_EQ(Rows(), first + QStringList({"----------", b + "  (1件)", "1: 探索する"}));

    // Error blocks show as what they are, never as hits.
    WriteAll(out, Utf8ToCp932("\r\nファイルアクセスでエラーが生じました：e(12) :(f.txt\r\n\r\n"));
    r.ShowFile(Bytes(out));
    EXPECT_EQ(Rows(), (QStringList{"", "ファイルアクセスでエラーが生じました：e(12) :(f.txt", ""}));
    EXPECT_EQ(r.Model()->index(1).data(ResultsModel::KindRole).toInt(),
              int(OutputIndex::RowKind::FileError));
    QTest::keyClick(r.LResults, Qt::Key_Escape);
    EXPECT_FALSE(r.isVisible());
    // The menu command opens it again.
    f.MFileResults->trigger();
    EXPECT_TRUE(r.isVisible());
}

}  // namespace
}  // namespace korvalen::test
