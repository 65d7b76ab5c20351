// Opening a file at a line: the arguments each form of editor gets, and a
// real Vim, started with an awkward name, at the line.
#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QTest>

#include "app/relmain.hpp"
#include "tests/app/fake_desktop.hpp"

namespace korvalen::test {
namespace {

using Editor = WindowTest;

TEST_F(Editor, ArgumentsByEditorAndTemplate) {
    TMainForm& f = Start();
    const QString p = QStringLiteral("/d/a b.txt");
    const struct {
        QString name, line, path;
        int at;
        QStringList want;
    } cases[] = {
        {"vim", "", p, 7, {"+7", p}},
        {"mousepad", "", p, 7, {"--line=7", p}},
        {"kate", "", p, 7, {"--line", "7", p}},
        {"code", "", p, 7, {"-g", p + ":7"}},
        {"vim", "", p, 0, {p}},  // no line: the file's start
        {"other", "", p, 7, {p}},
        {"other", "--line %l %f", p, 7, {"--line", "7", p}},
        {"vim", "\"-a b\" %f:%l 100%%", p, 7, {"-a b", p + ":7", "100%"}},
        {"vim", "", "-x.txt", 7, {"+7", "./-x.txt"}},  // never an option
    };
    for (const auto& c : cases) {
        f.Options.Editor = "/bin/" + c.name.toStdString();
        f.Options.EditorLine = c.line.toStdString();
        f.OpenWithEditor(c.path.toStdString(), c.at);
        EXPECT_EQ(desktop.started.back(),
                  std::pair(QString::fromStdString(f.Options.Editor), c.want))
            << c.name.toStdString() << " " << c.line.toStdString();
    }
}

TEST_F(Editor, RealVimOpensAtTheLine) {
    const QString vim = QStandardPaths::findExecutable(QStringLiteral("vim"));
    if (vim.isEmpty()) {
        GTEST_SKIP() << "vim is not installed";
    }
    const QString file = Path(QStringLiteral("日本語 'q' \"d\" $x;y (1).txt"));
    WriteAll(file, "1\n2\n3\n4\n5\n");
    const QString seen = Path(QStringLiteral("line")), script = Path(QStringLiteral("vim"));
    // Named vim for Vim's arguments; the real Vim writes the line it stands on.
    WriteAll(script, ("#!/bin/sh\nexec " + vim +
                      " -Es -N -u NONE -i NONE \"$@\" -c 'call writefile([line(\".\")], \"" + seen +
                      "\")' -c 'qa!'\n")
                         .toStdString());
    QFile::setPermissions(script, QFile::permissions(script) | QFile::ExeOwner);
    TMainForm& f = Start();
    desktop.reallyStart = true;
    f.Options.Editor = Bytes(script);
    f.OpenWithEditor(Bytes(file), 4);
    EXPECT_TRUE(QTest::qWaitFor([&] { return ReadAll(seen) == "4\n"; }, 10000)) << ReadAll(seen);
}

}  // namespace
}  // namespace korvalen::test
