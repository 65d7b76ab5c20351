// The window tests need one QApplication for the whole run, offscreen unless
// told otherwise (the X server's tests), and a trash folder of their own.
#include <gtest/gtest.h>

#include <QApplication>
#include <QTemporaryDir>

#include "app/qtext.hpp"

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QTemporaryDir data;  // QFile::moveToTrash goes to $XDG_DATA_HOME/Trash
    qputenv("XDG_DATA_HOME", QFile::encodeName(data.path()));
    QApplication app(argc, argv);
    korvalen::InstallFontSubstitutes();
    QApplication::setFont(korvalen::ProportionalGothic());  // as the program does
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
