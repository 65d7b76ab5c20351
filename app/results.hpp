// The results window: the output file as it is on disk, hits grouped by input
// file, the matched word highlighted, a filter, and Enter to open the editor
// at a hit's line. A model over the core's index of line offsets: rows are
// decoded only when shown.
#pragma once

#include <QAbstractListModel>
#include <QStyledItemDelegate>
#include <QWidget>
#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <unordered_map>
#include <vector>

#include "results/output_index.hpp"

class QFileSystemWatcher;
class QLabel;
class QLineEdit;
class QListView;
class QTimer;

namespace korvalen {

class ResultsModel : public QAbstractListModel {
    Q_OBJECT
  public:
    enum Role { KindRole = Qt::UserRole, WordRole, TextRole, LineRole };
    using QAbstractListModel::QAbstractListModel;

    // Reads `outputFile` afresh, a slice at a time (Step); false when it
    // cannot be read.
    bool Load(const std::string& outputFile, const std::string& currentDir);
    // Looks at the file again: what was added is read by Step.
    OutputIndex::Change Refresh();
    // Reads on for about `budget` (a slice at least); true while more remains.
    bool Step(std::chrono::milliseconds budget);
    // Shows the rows read since the last call.
    void Publish();
    bool Reading() const { return index_.Reading(); }
    // Lets the file's bytes and the index go (a closed window keeps nothing).
    void Clear();
    void SetFilter(const QString& filter);
    int rowCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    const OutputIndex& Index() const { return index_; }
    const OutputIndex::Row& RowAt(int row) const { return index_.Rows()[shown_[row]]; }

  private:
    QString GroupName(std::uint32_t group) const;
    void Reset();

    OutputIndex index_;
    std::vector<std::uint32_t> shown_;
    std::uint32_t filtered_ = 0;    // rows of the index that shown_ has looked at
    std::uint32_t groupsSeen_ = 0;  // groups when last published
    std::string filter_;
    mutable std::unordered_map<std::uint32_t, QString> names_;  // group: shown name
};

// Paints a hit as its line number and text with the word marked.
class ResultsDelegate : public QStyledItemDelegate {
  public:
    using QStyledItemDelegate::QStyledItemDelegate;
    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override;
};

class TResultsForm : public QWidget {
    Q_OBJECT
  public:
    // `open(file, line, columns)` opens a file (file-system bytes) at a line
    // and a column (0: none).
    using Open = std::function<void(const std::string&, std::int64_t, WordColumns)>;
    explicit TResultsForm(Open open, QWidget* parent = nullptr);

    // Shows `outputFile` (read again whenever it changes on disk: only what
    // was added when a run appends). A large file is read in slices, the
    // window busy meanwhile.
    void ShowFile(const std::string& outputFile);
    void Reload();
    bool Loading() const;
    // How long a slice of reading may keep the window's thread (at least
    // one piece is read).
    void SetSlice(std::chrono::milliseconds slice) { slice_ = slice; }

    QLineEdit* EFilter;
    QListView* LResults;
    QLabel* LCount;
    ResultsModel* Model() const { return model_; }
    void OpenCurrent();

  protected:
    void keyPressEvent(QKeyEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void Watch();
    void ShowCount();
    void ReadOn();

    Open open_;
    ResultsModel* model_;
    QFileSystemWatcher* watcher_;
    QTimer* stepper_;  // reads on between events
    std::string outputFile_;
    bool read_ = false;    // the output file could be read
    bool loaded_ = false;  // the model holds outputFile_ (not closed since)
    int keep_ = 0;         // the current row to come back to
    std::chrono::milliseconds slice_{4};
    std::chrono::steady_clock::time_point published_;  // rows last shown
};

}  // namespace korvalen
