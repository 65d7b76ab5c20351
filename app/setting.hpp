// The settings dialog: shows the options the user may change and applies
// them until the program ends (OK), applies and stores them (save), or drops
// the changes (cancel, Esc, the close box).
#pragma once

#include <QDialog>
#include <QWidget>
#include <array>
#include <functional>
#include <string>

#include "config/options.hpp"

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QToolButton;

namespace korvalen {

class Desktop;

// Up and down arrows bound to a text box: they step the number the box shows
// within a range and stop at its ends. The position is read from the box, so
// what the user typed counts: a whole number is taken (clamped to the range),
// anything else leaves the last valid position.
class TUpDown : public QWidget {
    Q_OBJECT

  public:
    TUpDown(QLineEdit* buddy, int min, int max, QWidget* parent = nullptr);

    int Position();
    void SetPosition(int position);  // clamped; the box shows the number
    void Step(int delta);

    QToolButton* Up() const noexcept { return up_; }
    QToolButton* Down() const noexcept { return down_; }

  private:
    QLineEdit* buddy_;
    QToolButton* up_;
    QToolButton* down_;
    int min_, max_;
    int position_;
};

class TSettingForm : public QDialog {
    Q_OBJECT

  public:
    // `options` is the program's one record; `showHelp` opens a help topic.
    TSettingForm(iset& options, std::string iniPath, Desktop& desktop,
                 std::function<void(int)> showHelp, QWidget* parent = nullptr);

    // Fills the controls from the options and shows the dialog modally.
    int Execute();
    // The filling alone (Execute's first step).
    void Fill();

    QCheckBox* CNewTag;
    QCheckBox* CFileSeparate;
    QCheckBox* CErrorStop;
    QCheckBox* CFileOverWrite;
    QCheckBox* CCloseFileDelete;
    QCheckBox* CAddSortWord;
    QCheckBox* COutputFileOpen;
    QCheckBox* CSearchIconize;
    QCheckBox* CJapaneseWord;
    QCheckBox* CCRText;
    QCheckBox* CInputEncoding;  // detect UTF-8 / UTF-16 input files
    QCheckBox* CShowResults;    // the results window after a run with hits
    QLabel* Label1;
    QLineEdit* EOutputStrLength;
    TUpDown* UDLength;
    QLabel* Label5;
    QLineEdit* EThreads;  // threads a run searches with, 0 one per core
    TUpDown* UDThreads;
    QLabel* Label2;
    QLineEdit* EEditor;
    QPushButton* Button1;
    QLabel* Label3;
    QLineEdit* EEditorLine;     // the editor's arguments for a line (%f, %l)
    QCheckBox* CSearchFolders;  // a dropped folder stands for its files
    QLabel* Label4;
    QLineEdit* EFolderFilter;  // which of them: name patterns
    QPushButton* BOK;
    QPushButton* BCancel;
    QPushButton* BSaveSet;

    void BOKClick();
    void BSaveSetClick();
    void BCancelClick();
    void BEditorClick();
    void EEditorKeyDown(int key);

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    bool EditorLineTaken();
    std::array<QCheckBox*, 10> Boxes() const;
    iset Collected();  // the options as the controls show them

    iset& options_;
    std::string iniPath_;
    Desktop& desktop_;
    std::function<void(int)> showHelp_;
};

}  // namespace korvalen
