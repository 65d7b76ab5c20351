// The about dialog: the program's name and version, and the machine's total
// and free physical memory, read anew each time the dialog is shown.
#pragma once

#include <QDialog>
#include <QString>
#include <cstdint>
#include <utility>

class QLabel;
class QPushButton;

namespace korvalen {

class Desktop;

// The two memory lines ("物理メモリ　　：" and "空き物理メモリ："): whole
// megabytes right-aligned to 4 places, " Mbyte (", the grouped byte count
// right-aligned to 13, ")". Where the machine's memory needs more places
// (4 GiB and up has 10-digit byte counts and so on) both fields widen
// together, to what the larger count needs, so the lines keep their columns.
std::pair<QString, QString> MemoryLines(std::int64_t total, std::int64_t available);

class TAboutForm : public QDialog {
    Q_OBJECT

  public:
    explicit TAboutForm(Desktop& desktop, QWidget* parent = nullptr);

    QLabel* Image1;
    QLabel* SoftName;
    QLabel* LTotalPhys;
    QLabel* LAvailPhys;
    QPushButton* Button1;

  protected:
    void showEvent(QShowEvent* event) override;

  private:
    void FormShow();
    void Button1Click();

    Desktop& desktop_;
};

}  // namespace korvalen
