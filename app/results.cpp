#include "app/results.hpp"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QFileSystemWatcher>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QPainter>
#include <QShortcut>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>
#include <unordered_set>
#ifdef __GLIBC__
#include <malloc.h>
#endif

#include "text/cp932.hpp"

#include "app/qtext.hpp"

namespace korvalen {

bool ResultsModel::Load(const std::string& outputFile, const std::string& currentDir) {
    beginResetModel();
    const bool ok = index_.Start(outputFile, currentDir);
    Reset();
    endResetModel();
    return ok;
}

void ResultsModel::Reset() {
    names_.clear();
    std::vector<std::uint32_t>().swap(shown_);
    filtered_ = groupsSeen_ = 0;
}

OutputIndex::Change ResultsModel::Refresh() {
    const auto change = index_.Refresh();
    if (change == OutputIndex::Change::Rewritten || change == OutputIndex::Change::Failed) {
        beginResetModel();
        Reset();
        endResetModel();
    } else if (const auto rows = static_cast<std::uint32_t>(index_.Rows().size());
               rows < filtered_) {
        // The last line, read again: its rows go.
        const auto first = std::lower_bound(shown_.begin(), shown_.end(), rows);
        if (first != shown_.end()) {
            beginRemoveRows({}, static_cast<int>(first - shown_.begin()),
                            static_cast<int>(shown_.size()) - 1);
            shown_.erase(first, shown_.end());
            endRemoveRows();
        }
        std::erase_if(names_,
                      [&](const auto& name) { return name.first >= index_.Groups().size(); });
        filtered_ = rows;
        groupsSeen_ = std::min(groupsSeen_, static_cast<std::uint32_t>(index_.Groups().size()));
    }
    return change;
}

bool ResultsModel::Step(std::chrono::milliseconds budget) {
    const auto until = std::chrono::steady_clock::now() + budget;
    bool more = false;
    do {
        more = index_.Step(std::size_t{1} << 18);
    } while (more && std::chrono::steady_clock::now() < until);
    return more;
}

void ResultsModel::Publish() {
    // The rows read since: those the filter shows follow the shown ones.
    std::vector<std::uint32_t> added;
    if (!shown_.empty()) {
        added.push_back(shown_.back());  // FilterFrom looks at the last shown
    }
    index_.FilterFrom(filter_, filtered_, added);
    filtered_ = static_cast<std::uint32_t>(index_.Rows().size());
    const std::size_t from = shown_.empty() ? 0 : 1;
    if (added.size() > from) {
        beginInsertRows({}, static_cast<int>(shown_.size()),
                        static_cast<int>(shown_.size() + added.size() - from) - 1);
        shown_.insert(shown_.end(), added.begin() + static_cast<std::ptrdiff_t>(from), added.end());
        endInsertRows();
    }
    // The group that was last may have gone on: a new count.
    if (groupsSeen_ > 0 && groupsSeen_ <= index_.Groups().size()) {
        const std::uint32_t row = index_.Groups()[groupsSeen_ - 1].row;
        const auto at = std::lower_bound(shown_.begin(), shown_.end(), row);
        if (at != shown_.end() && *at == row) {
            const QModelIndex changed = index(static_cast<int>(at - shown_.begin()));
            emit dataChanged(changed, changed);
        }
    }
    groupsSeen_ = static_cast<std::uint32_t>(index_.Groups().size());
}

void ResultsModel::Clear() {
    beginResetModel();
    index_ = OutputIndex();
    Reset();
    endResetModel();
}

// A group's file as the file system names it: the first form of its path
// that names a file (so a name written byte for byte shows as itself), else
// its code page 932 reading.
QString ResultsModel::GroupName(std::uint32_t group) const {
    const auto [it, fresh] = names_.try_emplace(group);
    if (fresh) {
        const std::string_view path = index_.GroupPath(group);
        OutputLine hit;
        hit.path = path;
        const std::string file = index_.FileOf(hit);
        QString name = Cp932Text(path);
        for (const std::string& form : OutputPathForms(path)) {
            if (file.ends_with(form) && form != Cp932ToUtf8(path)) {
                name = PathText(form);
                break;
            }
        }
        it->second = name;
    }
    return it->second;
}

void ResultsModel::SetFilter(const QString& filter) {
    beginResetModel();
    filter_ = FromCp932Text(filter);
    shown_ = index_.Filter(filter_);
    filtered_ = static_cast<std::uint32_t>(index_.Rows().size());
    groupsSeen_ = static_cast<std::uint32_t>(index_.Groups().size());
    endResetModel();
}

int ResultsModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(shown_.size());
}

QVariant ResultsModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rowCount()) {
        return {};
    }
    using Kind = OutputIndex::RowKind;
    const OutputIndex::Row& row = RowAt(index.row());
    switch (role) {
        case KindRole:
            return static_cast<int>(row.kind);
        case Qt::DisplayRole:
            switch (row.kind) {
                case Kind::Group:
                    return GroupName(row.Group()) +
                           QStringLiteral("  (%1件)").arg(index_.Groups()[row.Group()].hits);
                case Kind::Hit: {
                    const OutputLine hit = index_.Read(row);
                    return QString::number(hit.number) + QStringLiteral(": ") + Cp932Text(hit.text);
                }
                default:
                    return Cp932Text(index_.Line(row));
            }
        case WordRole:
            return row.kind == Kind::Hit ? Cp932Text(index_.Read(row).word) : QString();
        case TextRole:
            return row.kind == Kind::Hit ? Cp932Text(index_.Read(row).text) : QString();
        case LineRole:
            return row.kind == Kind::Hit ? QVariant(qlonglong(index_.Read(row).number))
                                         : QVariant();
        case Qt::ForegroundRole:
            if (row.kind == Kind::FileError) {
                return QColor(Qt::darkRed);
            }
            if (row.kind == Kind::Separator || row.kind == Kind::Other) {
                return QColor(Qt::darkGray);
            }
            return {};
        case Qt::FontRole:
            if (row.kind == Kind::Group) {
                QFont bold;
                bold.setBold(true);
                return bold;
            }
            return {};
        default:
            return {};
    }
}

void ResultsDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                            const QModelIndex& index) const {
    const QString word = index.data(ResultsModel::WordRole).toString();
    if (word.isEmpty()) {
        QStyledItemDelegate::paint(painter, option, index);
        return;
    }
    QStyleOptionViewItem opt = option;
    initStyleOption(&opt, index);
    const QString shown = opt.text;
    opt.text.clear();
    opt.widget->style()->drawControl(QStyle::CE_ItemViewItem, &opt, painter, opt.widget);
    // The hit's line number, then the text with every occurrence of the word marked.
    const QString head = QStringLiteral("    ") + shown.left(shown.indexOf(QLatin1Char(':')) + 2);
    const QString text = shown.mid(head.size() - 4);
    const QFontMetrics fm(opt.font);
    QRect r = opt.rect.adjusted(2, 0, 0, 0);
    const bool selected = (opt.state & QStyle::State_Selected) != 0;
    const QColor ink = opt.palette.color(selected ? QPalette::HighlightedText : QPalette::Text);
    painter->save();
    painter->setFont(opt.font);
    painter->setPen(opt.palette.color(QPalette::PlaceholderText));
    painter->drawText(r, Qt::AlignVCenter | Qt::AlignLeft, head);
    r.setLeft(r.left() + fm.horizontalAdvance(head));
    qsizetype at = 0;
    while (at < text.size() && r.left() < opt.rect.right()) {
        const qsizetype found = text.indexOf(word, at);
        const qsizetype end = found < 0 ? text.size() : found;
        const QString plain = text.mid(at, end - at);
        painter->setPen(ink);
        painter->drawText(r, Qt::AlignVCenter | Qt::AlignLeft, plain);
        r.setLeft(r.left() + fm.horizontalAdvance(plain));
        if (found < 0) {
            break;
        }
        const QRect mark(r.left(), r.top() + 1, fm.horizontalAdvance(word), r.height() - 2);
        painter->fillRect(mark, QColor(255, 220, 80));
        painter->setPen(Qt::black);
        painter->drawText(r, Qt::AlignVCenter | Qt::AlignLeft, word);
        r.setLeft(mark.right() + 1);
        at = found + word.size();
    }
    painter->restore();
}

TResultsForm::TResultsForm(Open open, QWidget* parent)
    : QWidget(parent, Qt::Window),
      EFilter(new QLineEdit(this)),
      LResults(new QListView(this)),
      LCount(new QLabel(this)),
      open_(std::move(open)),
      model_(new ResultsModel(this)),
      watcher_(new QFileSystemWatcher(this)),
      stepper_(new QTimer(this)) {
    setObjectName(QStringLiteral("ResultsForm"));
    setWindowTitle(QStringLiteral("検索結果一覧"));
    setFont(ProportionalGothic());
    resize(640, 420);
    EFilter->setObjectName(QStringLiteral("EFilter"));
    EFilter->setPlaceholderText(QStringLiteral("絞り込み (Ctrl+F)"));
    EFilter->setClearButtonEnabled(true);
    LResults->setObjectName(QStringLiteral("LResults"));
    LResults->setModel(model_);
    LResults->setItemDelegate(new ResultsDelegate(LResults));
    LResults->setUniformItemSizes(true);
    // A million rows are laid out a batch at a time between events.
    LResults->setLayoutMode(QListView::Batched);
    LResults->setBatchSize(10000);
    LResults->setSelectionMode(QAbstractItemView::SingleSelection);
    LResults->setEditTriggers(QAbstractItemView::NoEditTriggers);
    LResults->installEventFilter(this);
    EFilter->installEventFilter(this);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(4, 4, 4, 4);
    layout->addWidget(EFilter);
    layout->addWidget(LResults, 1);
    layout->addWidget(LCount);

    connect(EFilter, &QLineEdit::textChanged, this, [this](const QString& text) {
        model_->SetFilter(text);
        LResults->setCurrentIndex(model_->index(0));
        ShowCount();
    });
    connect(LResults, &QListView::activated, this, [this] { OpenCurrent(); });
    auto* find = new QShortcut(QKeySequence::Find, this);
    connect(find, &QShortcut::activated, this, [this] {
        EFilter->setFocus();
        EFilter->selectAll();
    });
    // A run rewrites the file (or replaces it): read it once the writing settles.
    auto* settle = new QTimer(this);
    settle->setSingleShot(true);
    settle->setInterval(200);
    connect(settle, &QTimer::timeout, this, &TResultsForm::Reload);
    connect(watcher_, &QFileSystemWatcher::fileChanged, settle, qOverload<>(&QTimer::start));
    connect(watcher_, &QFileSystemWatcher::directoryChanged, settle, qOverload<>(&QTimer::start));
    // A large file is read a slice at a time between the window's events.
    stepper_->setInterval(0);
    connect(stepper_, &QTimer::timeout, this, &TResultsForm::ReadOn);
}

void TResultsForm::ShowFile(const std::string& outputFile) {
    if (outputFile != outputFile_) {
        loaded_ = false;
    }
    outputFile_ = outputFile;
    Reload();
    show();
    raise();
    activateWindow();
    LResults->setFocus();
}

bool TResultsForm::Loading() const {
    return stepper_->isActive();
}

void TResultsForm::Watch() {
    if (!watcher_->files().isEmpty()) {
        watcher_->removePaths(watcher_->files());
    }
    if (!watcher_->directories().isEmpty()) {
        watcher_->removePaths(watcher_->directories());
    }
    const QString path = PathText(outputFile_);
    if (!watcher_->addPath(path)) {
        // Not there yet: its folder tells when it comes.
        watcher_->addPath(QFileInfo(path).absolutePath());
    }
}

void TResultsForm::Reload() {
    keep_ = std::max(LResults->currentIndex().row(), 0);
    if (loaded_) {
        read_ = model_->Refresh() != OutputIndex::Change::Failed;
    } else {
        read_ = model_->Load(outputFile_, PathBytes(QDir::currentPath()));
        loaded_ = true;
    }
    Watch();
    ReadOn();
}

// A slice of the file, then the window's events again; busy till the end.
void TResultsForm::ReadOn() {
    const bool more = model_->Step(slice_);
    // What was read shows at most about ten times a second: each showing
    // lays out and paints the list.
    const auto now = std::chrono::steady_clock::now();
    if (!more || !stepper_->isActive() || now - published_ >= std::chrono::milliseconds(100)) {
        model_->Publish();
        published_ = now;
    }
    if (more) {
        if (!stepper_->isActive()) {
            setCursor(Qt::BusyCursor);
            stepper_->start();
        }
        if (!LResults->currentIndex().isValid() && model_->rowCount() > 0) {
            LResults->setCurrentIndex(model_->index(0));
        }
        return;
    }
    stepper_->stop();
    unsetCursor();
    ShowCount();
    const int rows = model_->rowCount();
    if (!LResults->currentIndex().isValid() || LResults->currentIndex().row() < keep_) {
        LResults->setCurrentIndex(model_->index(std::clamp(keep_, 0, std::max(rows - 1, 0))));
    }
}

// The hits, the files they are in (a file's hits may come in several runs),
// and how many rows the filter shows of all.
void TResultsForm::ShowCount() {
    const OutputIndex& index = model_->Index();
    std::uint64_t hits = 0;
    std::unordered_set<std::string_view> files;
    for (std::uint32_t g = 0; g < index.Groups().size(); ++g) {
        hits += index.Groups()[g].hits;
        files.insert(index.GroupPath(g));
    }
    LCount->setText(read_ ? QStringLiteral("%1件 / %2ファイル  表示 %3 / %4行  %5")
                                .arg(hits)
                                .arg(files.size())
                                .arg(model_->rowCount())
                                .arg(index.Rows().size())
                                .arg(PathText(outputFile_))
                          : QStringLiteral("出力ファイルがありません：") + PathText(outputFile_));
}

void TResultsForm::OpenCurrent() {
    const QModelIndex current = LResults->currentIndex();
    if (!current.isValid()) {
        return;
    }
    const OutputIndex::Row& row = model_->RowAt(current.row());
    const OutputIndex& index = model_->Index();
    if (row.kind == OutputIndex::RowKind::Hit) {
        const OutputLine hit = index.Read(row);
        const std::string file = index.FileOf(hit);
        open_(file, hit.number, HitColumns(file, hit));
    } else if (row.kind == OutputIndex::RowKind::Group) {
        OutputLine first;
        first.path = index.GroupPath(row.Group());
        open_(index.FileOf(first), 0, {});
    }
}

void TResultsForm::closeEvent(QCloseEvent* event) {
    // Nothing kept while closed: neither the file nor the watch that would
    // read it again at every run.
    stepper_->stop();
    unsetCursor();
    model_->Clear();
    loaded_ = false;
#ifdef __GLIBC__
    // The allocator keeps large freed blocks for later; a closed window's
    // hundred megabytes go back to the system.
    malloc_trim(0);
#endif
    if (!watcher_->files().isEmpty()) {
        watcher_->removePaths(watcher_->files());
    }
    if (!watcher_->directories().isEmpty()) {
        watcher_->removePaths(watcher_->directories());
    }
    QWidget::closeEvent(event);
}

void TResultsForm::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape) {
        close();
        return;
    }
    QWidget::keyPressEvent(event);
}

bool TResultsForm::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        if (watched == LResults && (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter)) {
            OpenCurrent();
            return true;
        }
        if (watched == EFilter && (key->key() == Qt::Key_Down || key->key() == Qt::Key_Return ||
                                   key->key() == Qt::Key_Enter)) {
            LResults->setFocus();
            return true;
        }
        if (key->key() == Qt::Key_Escape) {
            close();
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

}  // namespace korvalen
