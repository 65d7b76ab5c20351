// Opening a file at a line: a stand-in script under each recognised editor's
// name records the arguments the window starts it with; a real Vim opens at
// the line.
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QThread>

#include "app/relmain.hpp"
#include "fake_desktop.hpp"

namespace korvalen::test {
namespace {

class Editor : public WindowTest {
  protected:
    // An executable script at `name` in the test's folder, running `body`.
    QString Script(const QString& name, const QString& body) {
        const QString path = Path(name);
        WriteAll(path, ("#!/bin/sh\n" + body + "\n").toStdString());
        QFile::setPermissions(path, QFile::permissions(path) | QFile::ExeOwner);
        return path;
    }
    // Waits for the lines a started program writes.
    static QString WaitFor(const QString& path) {
        std::string text;
        for (int i = 0; i < 1000 && (text == "<missing>" || !text.ends_with('\n')); ++i) {
            QThread::msleep(10);
            text = ReadAll(path);
        }
        return QString::fromStdString(text);
    }
};

TEST_F(Editor, ArgumentsOfEachRecognisedEditorAndTemplate) {
    TMainForm& f = Start();
    desktop.reallyStart = true;
    const QString odd = Path(QStringLiteral("a b 'q' \"d\" $x;y.txt"));
    struct Case {
        QString name, line, path, want;  // want: the arguments, one a line
    };
    const QString p = odd;
    const std::vector<Case> cases = {
        {"vim", "", p, "+7\n" + p},
        {"nvim", "", p, "+7\n" + p},
        {"gvim", "", p, "+7\n" + p},
        {"emacs", "", p, "+7\n" + p},
        {"emacsclient", "", p, "-n\n+7\n" + p},
        {"nano", "", p, "+7\n" + p},
        {"micro", "", p, "+7\n" + p},
        {"gedit", "", p, "+7\n" + p},
        {"mousepad", "", p, "--line=7\n" + p},
        {"kate", "", p, "--line\n7\n" + p},
        {"kwrite", "", p, "--line\n7\n" + p},
        {"geany", "", p, "--line=7\n" + p},
        {"pluma", "", p, "+7\n" + p},
        {"code", "", p, "-g\n" + p + ":7"},
        {"subl", "", p, p + ":7"},
        {"sublime_text", "", p, p + ":7"},
        {"other", "", p, p},
        {"other", "--line %l %f", p, "--line\n7\n" + p},
        {"other", "\"-a b\" %f:%l 100%%", p, "-a b\n" + p + ":7\n100%"},
        {"vim", "", "-x.txt", "+7\n./-x.txt"},  // never an option
        {"code", "", "-x.txt", "-g\n./-x.txt:7"},
    };
    int n = 0;
    for (const Case& c : cases) {
        const QString sub = Path(QString::number(++n));
        ASSERT_TRUE(QDir().mkpath(sub));
        const QString log = sub + "/args";
        f.Options.Editor =
            QFile::encodeName(
                Script(QString::number(n) + "/" + c.name,
                       "printf '%s\\n' \"$@\" >\"$0.tmp\" && mv \"$0.tmp\" '" + log + "'"))
                .toStdString();
        f.Options.EditorLine = c.line.toStdString();
        f.OpenWithEditor(QFile::encodeName(c.path).toStdString(), 7);
        EXPECT_EQ(WaitFor(log), c.want + "\n")
            << c.name.toStdString() << " " << c.line.toStdString();
    }
}

TEST_F(Editor, RealVimOpensAtTheLine) {
    const QString vim = QStandardPaths::findExecutable(QStringLiteral("vim"));
    if (vim.isEmpty()) {
        GTEST_SKIP() << "vim is not installed";
    }
    TMainForm& f = Start();
    desktop.reallyStart = true;
    const QString file = Path(QStringLiteral("日本語 (1).txt"));
    WriteAll(file, "1\n2\n3\n4\n5\n");
    const QString seen = Path(QStringLiteral("line"));
    // Named vim, so the window gives it the arguments for Vim; the real Vim
    // runs them without a terminal and writes the line it stands on.
    ASSERT_TRUE(QDir().mkpath(Path("bin")));
    f.Options.Editor = QFile::encodeName(Script(QStringLiteral("bin/vim"),
                                                "exec " + vim +
                                                    " -Es -N -u NONE -i NONE \"$@\" "
                                                    "-c 'call writefile([line(\".\")], \"" +
                                                    seen + "\")' -c 'qa!'"))
                           .toStdString();
    f.OpenWithEditor(QFile::encodeName(file).toStdString(), 4);
    EXPECT_EQ(WaitFor(seen), "4\n");
}

}  // namespace
}  // namespace korvalen::test
