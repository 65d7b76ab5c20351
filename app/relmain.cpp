#include "app/relmain.hpp"

#include <QAction>
#include <QCloseEvent>
#include <QComboBox>
#include <QCoreApplication>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QFocusEvent>
#include <QFrame>
#include <QGridLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QStatusBar>
#include <QTimer>
#include <QUrl>
#include <QVBoxLayout>
#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <system_error>
#include <utility>

#include "app/about.hpp"
#include "app/helpview.hpp"
#include "app/icon.hpp"
#include "app/qtext.hpp"
#include "app/results.hpp"
#include "app/setting.hpp"
#include "config/settings.hpp"
#include "platform/editor.hpp"
#include "platform/file_info.hpp"
#include "platform/trash.hpp"
#include "words/relation.hpp"
#include "words/word_list.hpp"

namespace korvalen {

namespace {

const QString kTitle = QStringLiteral("Korvalen");

// A progress bar of the old kind: no percentage text.
QProgressBar* NewProgressBar(QWidget* parent) {
    auto* bar = new QProgressBar(parent);
    bar->setTextVisible(false);
    bar->setRange(0, 100);
    return bar;
}

void GreyText(QLineEdit* edit) {
    QPalette palette = edit->palette();
    for (auto group : {QPalette::Active, QPalette::Inactive}) {
        palette.setColor(group, QPalette::Text, palette.color(QPalette::Disabled, QPalette::Text));
    }
    edit->setPalette(palette);
}

// A path box is narrower than most paths: it shows the end, where the file
// name is, and the whole path as its tooltip.
void SetPath(QLineEdit* box, std::string_view path) {
    SetPathBytes(box, path);
    box->setCursorPosition(static_cast<int>(box->text().size()));
    box->setToolTip(box->text());
}

QString SaveFailedText(const std::string& iniPath) {
    return QStringLiteral("設定ファイルに保存できません：") + PathText(iniPath);
}

QString EditorFailedText(const std::string& program, const QString& file, const QString& why) {
    return QStringLiteral("エディタを起動できません：") + PathText(program) + QStringLiteral("\n") +
           why + QStringLiteral("\n") + file;
}

}  // namespace

QColor InactiveCaptionColour() {
    return QColor(128, 128, 128);
}

QPoint WindowPlace(std::int64_t left, std::int64_t top, QSize size, const QRect& primary,
                   const std::vector<QRect>& screens) {
    // 64-bit throughout: a saved place may be anywhere in the int range.
    const std::int64_t width = size.width();
    const std::int64_t height = size.height();
    auto overlap = [&](const QRect& s) {
        const std::int64_t w =
            std::min<std::int64_t>(left + width, std::int64_t{s.x()} + s.width()) -
            std::max<std::int64_t>(left, s.x());
        const std::int64_t h =
            std::min<std::int64_t>(top + height, std::int64_t{s.y()} + s.height()) -
            std::max<std::int64_t>(top, s.y());
        return w > 0 && h > 0 ? w * h : 0;
    };
    QRect screen = primary;
    std::int64_t most = 0;
    for (const QRect& s : screens) {
        if (const std::int64_t area = overlap(s); area > most) {
            most = area;
            screen = s;
        }
    }
    // Only ever the place, never the size: a window larger than its screen
    // keeps its top left off the screen.
    auto pull = [](std::int64_t at, std::int64_t extent, std::int64_t start, std::int64_t length) {
        if (start + length < at + extent) {
            return start + length - extent;
        }
        return std::max(at, start);
    };
    return QPoint(static_cast<int>(pull(left, width, screen.x(), screen.width())),
                  static_cast<int>(pull(top, height, screen.y(), screen.height())));
}

QRect WindowGeometry(std::int64_t left, std::int64_t top, QSize saved, QSize minimum,
                     const QRect& primary, const std::vector<QRect>& screens) {
    auto bound = [&](QSize limit) {
        limit = limit.expandedTo(minimum);
        return QSize(std::clamp(saved.width(), minimum.width(), limit.width()),
                     std::clamp(saved.height(), minimum.height(), limit.height()));
    };
    QSize largest = primary.size();
    for (const QRect& s : screens) {
        largest = largest.expandedTo(s.size());
    }
    // Bounded by the largest screen to find the one it opens on, then by that one.
    QSize size = bound(largest);
    const QRect first(WindowPlace(left, top, size, primary, screens), size);
    QRect on = primary;
    for (const QRect& s : screens) {
        if (s.contains(first.center())) {
            on = s;
        }
    }
    size = bound(on.size());
    return QRect(WindowPlace(first.x(), first.y(), size, primary, screens), size);
}

QString ExePathWithExtension(const QString& exePath, const QString& extension) {
    const qsizetype slash = exePath.lastIndexOf(QLatin1Char('/'));
    const qsizetype dot = exePath.lastIndexOf(QLatin1Char('.'));
    return (dot > slash ? exePath.left(dot) : exePath) + extension;
}

TMainForm::TMainForm(Desktop& desktop, FormSetup setup, QWidget* parent)
    : QMainWindow(parent),
      desktop_(desktop),
      setup_(std::move(setup)),
      run_(*this),
      helpViewer_(new THelpViewer(this)),
      statusLabel_(new QLabel(this)) {
    setObjectName(QStringLiteral("MainForm"));
    setWindowTitle(kTitle);
    setWindowIconText(kTitle);
    setWindowIcon(KorvalenIcon());
    setFont(ProportionalGothic());
    resize(465, 280);
    BuildMenu();
    BuildControls();

    OpenKvlFile.kind = FileDialogRequest::Kind::Open;
    OpenKvlFile.title = QStringLiteral("関連ﾌｧｲﾙを選択");
    OpenKvlFile.filters = NameFilters(
        QStringLiteral("関連ﾌｧｲﾙ (*.kvl)|*.kvl|ﾃｷｽﾄﾌｧｲﾙ (*.txt)|*.txt|すべてのﾌｧｲﾙ (*.*)|*.*"));
    OutputDialog.kind = FileDialogRequest::Kind::Save;
    OutputDialog.title = QStringLiteral("出力ﾌｧｲﾙを指定");
    OutputDialog.filters =
        NameFilters(QStringLiteral("ﾃｷｽﾄﾌｧｲﾙ (*.txt)|*.txt|すべてのﾌｧｲﾙ (*.*)|*.*"));

    FormCreate();
}

TMainForm::~TMainForm() {
    FormDestroy();
    // The children outlive this part of the object; no more events for it.
    for (QObject* watched :
         std::initializer_list<QObject*>{DCRelStr, MSearchStr, ERelFile, EOutputFile}) {
        watched->removeEventFilter(this);
    }
    disconnect(MSearchStr, nullptr, this, nullptr);
}

void TMainForm::BuildMenu() {
    auto addAction = [this](QMenu* menu, const char* name, const QString& caption,
                            void (TMainForm::*handler)()) {
        QAction* action = menu->addAction(caption);
        action->setObjectName(QString::fromLatin1(name));
        connect(action, &QAction::triggered, this, [this, handler] { (this->*handler)(); });
        return action;
    };
    auto addMenu = [this](const char* name, const QString& caption) {
        QMenu* menu = menuBar()->addMenu(caption);
        menu->setObjectName(QString::fromLatin1(name));
        menu->menuAction()->setObjectName(QString::fromLatin1(name));
        return menu;
    };
    auto separator = [](QMenu* menu, const char* name) {
        menu->addSeparator()->setObjectName(QString::fromLatin1(name));
    };

    MFile = addMenu("MFile", QStringLiteral("ﾌｧｲﾙ(&F)"));
    MFileRel = addAction(MFile, "MFileRel", QStringLiteral("関連ﾌｧｲﾙ指定(&R)..."),
                         &TMainForm::MFileRelClick);
    MFileOut = addAction(MFile, "MFileOut", QStringLiteral("出力ﾌｧｲﾙ指定(&O)..."),
                         &TMainForm::MFileOutClick);
    KS1 = addAction(MFile, "KS1", QStringLiteral("名前を変えて保存(&S)..."), &TMainForm::KS1Click);
    MFileResults = addAction(MFile, "MFileResults", QStringLiteral("検索結果一覧(&L)..."),
                             &TMainForm::MFileResultsClick);
    separator(MFile, "N1");
    MFileOutDel = addAction(MFile, "MFileOutDel", QStringLiteral("出力ﾌｧｲﾙ削除(&D)"),
                            &TMainForm::MFileOutDelClick);
    separator(MFile, "N3");
    MFileStop =
        addAction(MFile, "MFileStop", QStringLiteral("検索中止(&S)"), &TMainForm::MFileStopClick);
    MFileStop->setEnabled(false);
    // Both 検索中止 and 名前を変えて保存 answer to S: Esc is the sure way to stop.
    MFileStop->setShortcut(QKeySequence(Qt::Key_Escape));
    MFileExit =
        addAction(MFile, "MFileExit", QStringLiteral("終了(&X)"), &TMainForm::MFileExitClick);

    MEdit = addMenu("MEdit", QStringLiteral("編集(&E)"));
    MEditRel =
        addAction(MEdit, "MEditRel", QStringLiteral("関連ﾌｧｲﾙ(&R)"), &TMainForm::MEditRelClick);
    MEditOut =
        addAction(MEdit, "MEditOut", QStringLiteral("出力ﾌｧｲﾙ(&O)"), &TMainForm::MEditOutClick);
    separator(MEdit, "N4");
    MEditRelChg = addAction(MEdit, "MEditRelChg", QStringLiteral("関連項目更新(&C)"),
                            &TMainForm::MEditRelChgClick);
    MEditWord = MEdit->addAction(QStringLiteral("検索語変更(&W)"));
    MEditWord->setObjectName(QStringLiteral("MEditWord"));
    MEditWord->setCheckable(true);
    // The check mark is the edit mode, set by the handler alone: undo the
    // toggle the action made on its own before the handler looks at it.
    connect(MEditWord, &QAction::triggered, this, [this](bool checked) {
        MEditWord->setChecked(!checked);
        MEditWordClick();
    });

    MSetting = addMenu("MSetting", QStringLiteral("設定(&S)"));
    MSettingRun = addAction(MSetting, "MSettingRun", QStringLiteral("動作設定(&R)..."),
                            &TMainForm::MSettingRunClick);
    MSettingPos = addAction(MSetting, "MSettingPos", QStringLiteral("表示位置保存(&P)"),
                            &TMainForm::MSettingPosClick);

    MHelp = addMenu("MHelp", QStringLiteral("ﾍﾙﾌﾟ(&H)"));
    MHelpTopic =
        addAction(MHelp, "MHelpTopic", QStringLiteral("目次(&T)"), &TMainForm::MHelpTopicClick);
    MHelpAbout = addAction(MHelp, "MHelpAbout", QStringLiteral("ﾊﾞｰｼﾞｮﾝ情報(&A)"),
                           &TMainForm::MHelpAboutClick);
}

void TMainForm::BuildControls() {
    auto* central = new QWidget(this);
    auto* column = new QVBoxLayout(central);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);

    Panel1 = new QFrame(central);
    Panel1->setObjectName(QStringLiteral("Panel1"));
    Panel1->setFrameStyle(QFrame::Panel | QFrame::Raised);
    Panel1->setFixedHeight(49);
    auto* grid = new QGridLayout(Panel1);
    grid->setContentsMargins(6, 3, 6, 3);
    grid->setHorizontalSpacing(6);
    grid->setVerticalSpacing(3);

    auto label = [this](const char* name, const QString& text) {
        auto* l = new QLabel(text, Panel1);
        l->setObjectName(QString::fromLatin1(name));
        return l;
    };
    auto pathBox = [this](const char* name) {
        auto* edit = new QLineEdit(Panel1);
        edit->setObjectName(QString::fromLatin1(name));
        edit->setReadOnly(true);
        edit->setFixedSize(169, 20);
        edit->setAcceptDrops(false);  // a dropped file starts a run, wherever it lands
        GreyText(edit);
        edit->installEventFilter(this);
        return edit;
    };

    Label3 = label("Label3", QStringLiteral("関連項目"));
    DCRelStr = new QComboBox(Panel1);
    DCRelStr->setObjectName(QStringLiteral("DCRelStr"));
    DCRelStr->setEditable(false);
    DCRelStr->setFixedSize(137, 20);
    DCRelStr->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    DCRelStr->installEventFilter(this);
    connect(DCRelStr, &QComboBox::activated, this, [this] { DCRelStrExit(); });
    PFileCount = NewProgressBar(Panel1);
    PFileCount->setObjectName(QStringLiteral("PFileCount"));
    PFileCount->setFixedSize(193, 16);
    PFileCount->hide();

    Label1 = label("Label1", QStringLiteral("関連ﾌｧｲﾙ"));
    ERelFile = pathBox("ERelFile");
    Label2 = label("Label2", QStringLiteral("出力ﾌｧｲﾙ"));
    EOutputFile = pathBox("EOutputFile");

    grid->addWidget(Label3, 0, 0);
    grid->addWidget(DCRelStr, 0, 1, Qt::AlignLeft);
    grid->addWidget(PFileCount, 1, 0, 1, 2, Qt::AlignLeft | Qt::AlignVCenter);
    grid->setColumnStretch(2, 1);
    grid->addWidget(Label1, 0, 3);
    grid->addWidget(ERelFile, 0, 4);
    grid->addWidget(Label2, 1, 3);
    grid->addWidget(EOutputFile, 1, 4);
    grid->setRowMinimumHeight(1, 20);

    MSearchStr = new QPlainTextEdit(central);
    MSearchStr->setObjectName(QStringLiteral("MSearchStr"));
    MSearchStr->setLineWrapMode(QPlainTextEdit::NoWrap);
    MSearchStr->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    MSearchStr->setAcceptDrops(false);
    MSearchStr->setTabChangesFocus(true);  // a word never holds a tab; Tab leaves the box
    MSearchStr->installEventFilter(this);
    connect(MSearchStr, &QPlainTextEdit::textChanged, this, [this] { ++wordsGeneration_; });
    SetEditing(false);

    column->addWidget(Panel1);
    column->addWidget(MSearchStr, 1);
    setCentralWidget(central);

    StatusBar = statusBar();
    StatusBar->setObjectName(QStringLiteral("StatusBar"));
    statusLabel_->setObjectName(QStringLiteral("StatusText"));
    StatusBar->addWidget(statusLabel_, 1);

    setTabOrder(DCRelStr, ERelFile);
    setTabOrder(ERelFile, EOutputFile);
    setTabOrder(EOutputFile, MSearchStr);
    DCRelStr->setFocus();
}

void TMainForm::SetDialogs(TSettingForm* setting, TAboutForm* about) {
    settingForm_ = setting;
    aboutForm_ = about;
}

QString TMainForm::StatusText() const {
    return statusLabel_->text();
}

QString TMainForm::HelpFile() const {
    return helpViewer_->HelpFile();
}

// ---- start and end -------------------------------------------------------

void TMainForm::FormCreate() {
    helpViewer_->SetHelpFile(setup_.helpFile);

    const Settings settings = ReadSettings(setup_.iniPath);
    SetPath(ERelFile, settings.RelFile);
    SetPath(EOutputFile, settings.OutputFile);
    Options = settings.Options;

    if (EOutputFile->text().isEmpty()) {
        MEditOut->setEnabled(false);
    }

    const QRect place =
        WindowGeometry(settings.LeftPos, settings.TopPos, QSize(settings.Width, settings.Height),
                       minimumSizeHint(), desktop_.PrimaryScreen(), desktop_.Screens());
    resize(place.size());
    move(place.topLeft());

    LoadRelKeys(PathBytesOf(ERelFile));
    SetDropTarget(true);
}

void TMainForm::FormDestroy() {
    if (destroyed_) {
        return;
    }
    destroyed_ = true;
    // Closing the window wrote them already, where a failure can be shown.
    if (!pathsSaved_ &&
        !WritePaths(setup_.iniPath, PathBytesOf(ERelFile), PathBytesOf(EOutputFile))) {
        std::fprintf(stderr, "korvalen: %s\n", qPrintable(SaveFailedText(setup_.iniPath)));
    }
    if (Options.CloseFileDelete) {
        const std::string out = PathBytesOf(EOutputFile);
        if (Options.Delete == 0) {
            RecycleFile(out);
        } else if (!out.empty() && std::remove(out.c_str()) != 0) {
            // Removing it is a courtesy; a file in use or gone stays unreported.
        }
    }
}

void TMainForm::RecycleFile(const std::string& path) {
    if (path.empty() || !FileExists(path)) {
        return;
    }
    if (desktop_.Question(isVisible() ? this : nullptr,
                          QStringLiteral("「%1」をごみ箱に移動しますか？").arg(PathText(path)))) {
        // Nowhere else than the trash: a file that cannot go there stays.
        if (!MoveToTrash(path)) {
            desktop_.Message(isVisible() ? this : nullptr,
                             QStringLiteral("「%1」をごみ箱に移動できません").arg(PathText(path)));
        }
    }
}

void TMainForm::closeEvent(QCloseEvent* event) {
    // Refused from the drop to the run's very end, after a Stop too.
    if (inRun_ || dropPending_) {
        event->ignore();
        return;
    }
    helpViewer_->close();
    pathsSaved_ = true;
    if (!WritePaths(setup_.iniPath, PathBytesOf(ERelFile), PathBytesOf(EOutputFile))) {
        SaveFailed();  // standard error alone is lost for a desktop user
    }
    event->accept();
}

// ---- the key list and the words -----------------------------------------

void TMainForm::SetStatus(const QString& text) {
    emit statusTextSet(text);
    if (run_.State().Searching) {
        // The label repaints only between lines anyway; set it then.
        pendingStatus_ = text;
        statusPending_ = true;
        return;
    }
    statusPending_ = false;
    statusLabel_->setText(text);
}

std::vector<std::string> TMainForm::Words() const {
    WordList list;
    list.SetText(FromCp932Text(MSearchStr->toPlainText()));
    return list.Lines();
}

void TMainForm::SetWords(const std::vector<std::string>& words) {
    MSearchStr->setPlainText(Cp932Text(WordList(words).Text("\n")));
}

void TMainForm::LoadRelKeys(const std::string& path) {
    const RelKeysResult result = korvalen::LoadRelKeys(path);
    DCRelStr->clear();
    for (const std::string& key : result.keys) {
        DCRelStr->addItem(Cp932Text(key),
                          QByteArray(key.data(), static_cast<qsizetype>(key.size())));
    }
    if (!result.message.empty()) {
        desktop_.Message(this, Utf8Text(result.message));
    }
    if (result.LoadsWords()) {
        DCRelStr->setCurrentIndex(result.SelectedIndex());
        DCRelStrExit();
    }
}

void TMainForm::DCRelStrExit() {
    const QByteArray key =
        DCRelStr->currentIndex() >= 0 ? DCRelStr->currentData().toByteArray() : QByteArray();
    MSearchStr->clear();
    if (!key.isEmpty()) {
        const RelWordsResult result = LoadRelWords(
            PathBytesOf(ERelFile), std::string_view(key.data(), key.size()), Options.AddSortWord);
        SetWords(result.words);
        if (!result.message.empty()) {
            desktop_.Message(this, Utf8Text(result.message));
        }
    }
    SetStatus(Utf8Text(WordList::WordCountText(Words().size())));
}

void TMainForm::DCRelStrEnter() {
    if (ERelFile->text().isEmpty()) {
        MEditRel->setEnabled(false);
    }
}

void TMainForm::DCRelStrKeyDown(int key) {
    if (key == Qt::Key_Return || key == Qt::Key_Enter) {
        MSearchStr->setFocus(Qt::OtherFocusReason);
    }
}

void TMainForm::MSearchStrKeyDown(int key) {
    if (key == Qt::Key_Insert) {
        MEditWordClick();
    }
}

void TMainForm::MSearchStrExit() {
    EndEditWord();
}

void TMainForm::SetEditing(bool editing) {
    MSearchStr->setReadOnly(!editing);
    QPalette palette = MSearchStr->palette();
    const QColor colour =
        editing ? QPalette().color(QPalette::Active, QPalette::Text) : InactiveCaptionColour();
    for (auto group : {QPalette::Active, QPalette::Inactive}) {
        palette.setColor(group, QPalette::Text, colour);
    }
    MSearchStr->setPalette(palette);
}

void TMainForm::MEditWordClick() {
    if (MEditWord->isChecked()) {
        EndEditWord();
        return;
    }
    QTextCursor cursor = MSearchStr->textCursor();
    cursor.clearSelection();
    MSearchStr->setTextCursor(cursor);
    SetEditing(true);
    MEditWord->setChecked(true);
    MSearchStr->setFocus(Qt::OtherFocusReason);
}

void TMainForm::EndEditWord() {
    WordList list;
    list.SetText(FromCp932Text(MSearchStr->toPlainText()));
    const std::size_t before = list.Count();
    list.Tidy();
    if (list.Count() != before) {
        SetWords(list.Lines());
    }
    SetEditing(false);
    SetStatus(Utf8Text(list.CountText()));
    MEditWord->setChecked(false);
}

void TMainForm::MEditRelChgClick() {
    LoadRelKeys(PathBytesOf(ERelFile));
}

// ---- file and editor commands -------------------------------------------

QString TMainForm::ShowFileDialog(FileDialogRequest& dialog) {
    const std::optional<QString> chosen = desktop_.ChooseFile(this, dialog);
    if (!chosen || chosen->isEmpty()) {
        return {};
    }
    dialog.fileName = *chosen;
    return *chosen;
}

void TMainForm::MFileRelClick() {
    OpenKvlFile.directory = FolderPart(ERelFile->text());
    const QString chosen = ShowFileDialog(OpenKvlFile);
    if (!chosen.isEmpty()) {
        SetPath(ERelFile, PathBytes(chosen));
        MEditRel->setEnabled(true);
    }
    if (!ERelFile->text().isEmpty()) {
        LoadRelKeys(PathBytesOf(ERelFile));
    }
}

void TMainForm::MFileOutClick() {
    const QString current = EOutputFile->text();
    OutputDialog.directory = FolderPart(current);
    OutputDialog.fileName = NamePart(current);
    const QString chosen = ShowFileDialog(OutputDialog);
    if (!chosen.isEmpty()) {
        SetPath(EOutputFile, PathBytes(chosen));
        MEditOut->setEnabled(true);
    }
}

void TMainForm::KS1Click() {
    const QString current = EOutputFile->text();
    OutputDialog.directory = FolderPart(current);
    OutputDialog.fileName = NamePart(current);
    const QString chosen = ShowFileDialog(OutputDialog);
    if (chosen.isEmpty() || PathBytes(chosen) == PathBytesOf(EOutputFile)) {
        return;
    }
    std::error_code ec;  // a failed copy goes unreported, as the shell's do
    std::filesystem::copy_file(PathBytesOf(EOutputFile), PathBytes(chosen),
                               std::filesystem::copy_options::overwrite_existing, ec);
}

void TMainForm::MFileOutDelClick() {
    const std::string out = PathBytesOf(EOutputFile);
    if (Options.Delete == 0 || Options.Delete == 2) {
        RecycleFile(out);
    } else if (!out.empty() && std::remove(out.c_str()) != 0) {
        // Unreported by design; the path stays and the next run creates the file.
    }
}

void TMainForm::OpenWithEditor(const std::string& path) {
    OpenWithEditor(path, 0);
}

void TMainForm::OpenWithEditor(const std::string& path, std::int64_t line, std::int64_t column,
                               std::int64_t screenColumn) {
    if (Options.Editor.empty()) {
        if (!path.empty() && !desktop_.OpenDocument(path)) {
            desktop_.Message(
                this, EditorFailedText("xdg-open", PathText(path),
                                       QStringLiteral("既定のアプリケーションがありません")));
        }
        return;
    }
    const int error = desktop_.StartProgram(
        Options.Editor,
        EditorArguments(Options.Editor, Options.EditorLine, path, line, column, screenColumn));
    if (error != 0) {
        desktop_.Message(this, EditorFailedText(Options.Editor, PathText(path),
                                                QString::fromLocal8Bit(std::strerror(error))));
    }
}

TResultsForm* TMainForm::ResultsForm() {
    if (resultsForm_ == nullptr) {
        resultsForm_ = new TResultsForm(
            [this](const std::string& file, std::int64_t line, WordColumns at) {
                OpenWithEditor(file, line, at.chars, at.screen);
            },
            this);
    }
    return resultsForm_;
}

void TMainForm::MFileResultsClick() {
    ResultsForm()->ShowFile(PathBytesOf(EOutputFile));
}

void TMainForm::MEditRelClick() {
    OpenWithEditor(PathBytesOf(ERelFile));
}

void TMainForm::MEditOutClick() {
    OpenWithEditor(PathBytesOf(EOutputFile));
}

void TMainForm::MFileStopClick() {
    run_.Stop();
}

void TMainForm::MFileExitClick() {
    close();
}

void TMainForm::MHelpTopicClick() {
    helpViewer_->ShowContents();
}

void TMainForm::MHelpAboutClick() {
    if (aboutForm_ != nullptr) {
        aboutForm_->exec();
    }
}

void TMainForm::MSettingRunClick() {
    if (settingForm_ != nullptr) {
        settingForm_->Execute();
    }
}

void TMainForm::MSettingPosClick() {
    if (!WritePosition(setup_.iniPath, y(), x(), height(), width())) {
        SaveFailed();
    }
}

void TMainForm::SaveFailed() {
    desktop_.Message(this, SaveFailedText(setup_.iniPath));
}

// ---- events -------------------------------------------------------------

bool TMainForm::eventFilter(QObject* watched, QEvent* event) {
    const QEvent::Type type = event->type();
    if (watched == DCRelStr) {
        if (type == QEvent::FocusIn &&
            static_cast<QFocusEvent*>(event)->reason() != Qt::PopupFocusReason) {
            DCRelStrEnter();
        } else if (type == QEvent::KeyPress) {
            const int key = static_cast<QKeyEvent*>(event)->key();
            DCRelStrKeyDown(key);
            if (key == Qt::Key_Return || key == Qt::Key_Enter) {
                return true;
            }
        }
    } else if (watched == MSearchStr) {
        if (type == QEvent::KeyPress) {
            MSearchStrKeyDown(static_cast<QKeyEvent*>(event)->key());  // then the box's own
        } else if (type == QEvent::FocusOut) {
            // Leaving for another control of the window; a menu, a box or
            // another window takes the focus only for a while.
            const Qt::FocusReason reason = static_cast<QFocusEvent*>(event)->reason();
            if (reason != Qt::PopupFocusReason && reason != Qt::ActiveWindowFocusReason &&
                reason != Qt::MenuBarFocusReason) {
                MSearchStrExit();
            }
        }
    } else if (type == QEvent::MouseButtonDblClick) {
        // Works while the menu item is disabled, too.
        if (watched == ERelFile) {
            MEditRelClick();
            return true;
        }
        if (watched == EOutputFile) {
            MEditOutClick();
            return true;
        }
    }
    return QMainWindow::eventFilter(watched, event);
}

namespace {

std::vector<std::string> LocalFiles(const QMimeData* mime) {
    std::vector<std::string> names;
    if (mime == nullptr || !mime->hasUrls()) {
        return names;
    }
    for (const QUrl& url : mime->urls()) {
        if (url.isLocalFile()) {
            names.push_back(LocalFileBytes(url));
        }
    }
    return names;
}

}  // namespace

void TMainForm::dragEnterEvent(QDragEnterEvent* event) {
    if (dropTarget_ && !dropPending_ && !LocalFiles(event->mimeData()).empty()) {
        event->acceptProposedAction();
    } else {
        event->ignore();
    }
}

void TMainForm::dragMoveEvent(QDragMoveEvent* event) {
    if (dropTarget_ && !dropPending_) {
        event->acceptProposedAction();
    } else {
        event->ignore();
    }
}

void TMainForm::dropEvent(QDropEvent* event) {
    if (DropFiles(LocalFiles(event->mimeData()))) {
        event->acceptProposedAction();
    } else {
        event->ignore();
    }
}

bool TMainForm::DropFiles(std::vector<std::string> names) {
    if (!dropTarget_ || dropPending_ || names.empty()) {
        return false;
    }
    // The run starts once the drop is over, so the program the files came
    // from is not kept waiting for the whole search.
    dropPending_ = true;
    QTimer::singleShot(0, this, [this, names = std::move(names)] {
        dropPending_ = false;
        WMDropFiles(names);
    });
    return true;
}

RunOutcome TMainForm::WMDropFiles(const std::vector<std::string>& names) {
    std::string out = PathBytesOf(EOutputFile);
    inRun_ = true;
    const RunOutcome outcome = run_.Drop(names, out, Options);
    inRun_ = false;
    if (PathBytesOf(EOutputFile) != out) {
        SetPath(EOutputFile, out);
    }
    if (outcome == RunOutcome::Finished && Options.ShowResults && run_.State().HitCount > 0) {
        MFileResultsClick();
    } else if (resultsForm_ != nullptr && resultsForm_->isVisible()) {
        resultsForm_->ShowFile(out);
    }
    emit runEnded(outcome);
    return outcome;
}

// ---- the run's window -----------------------------------------------------

void TMainForm::SetStatusText(std::string_view utf8) {
    SetStatus(Utf8Text(utf8));
}

void TMainForm::SetCaption(std::string_view utf8) {
    setWindowTitle(Utf8Text(utf8));
}

void TMainForm::SetAppTitle(std::string_view utf8) {
    setWindowIconText(Utf8Text(utf8));
}

void TMainForm::SetProgressMax(std::int64_t max) {
    progressShift_ = 0;
    while ((max >> progressShift_) > INT_MAX) {
        ++progressShift_;
    }
    // A range of 0 to 0 would make the bar a busy indicator.
    PFileCount->setRange(
        0, std::max<int>(1, static_cast<int>(std::max<std::int64_t>(max, 0) >> progressShift_)));
    FlushProgress();
}

void TMainForm::SetProgressPos(std::int64_t pos) {
    progressPos_ = pos;
}

void TMainForm::FlushProgress() {
    const std::int64_t scaled = std::max<std::int64_t>(progressPos_, 0) >> progressShift_;
    PFileCount->setValue(static_cast<int>(std::min<std::int64_t>(scaled, PFileCount->maximum())));
}

void TMainForm::SetProgressVisible(bool visible) {
    FlushProgress();
    PFileCount->setVisible(visible);
}

void TMainForm::LockControls() {
    for (QAction* action : {MFileExit, MFileOutDel, MEdit->menuAction(), MFileRel, MFileOut,
                            MSetting->menuAction()}) {
        action->setEnabled(false);
    }
    MFileStop->setEnabled(true);
    for (QWidget* widget : std::initializer_list<QWidget*>{DCRelStr, ERelFile, EOutputFile}) {
        widget->setEnabled(false);
    }
    // The window's close box is refused by closeEvent while Searching is set.
    lastMessages_ = std::chrono::steady_clock::now();
    messageCalls_ = 0;
    progressAtCheck_ = 0;
}

void TMainForm::UnlockControls() {
    for (QAction* action : {MFileExit, MFileOutDel, MEdit->menuAction(), MFileRel, MFileOut,
                            MSetting->menuAction()}) {
        action->setEnabled(true);
    }
    MFileStop->setEnabled(false);
    for (QWidget* widget : std::initializer_list<QWidget*>{DCRelStr, ERelFile, EOutputFile}) {
        widget->setEnabled(true);
    }
    if (statusPending_) {
        statusPending_ = false;
        statusLabel_->setText(pendingStatus_);
    }
}

void TMainForm::Minimize() {
    restoreHeldUntil_ = {};
    stateBeforeMinimize_ = windowState();
    setWindowState(windowState() | Qt::WindowMinimized);
}

void TMainForm::Restore() {
    setWindowState(stateBeforeMinimize_ & ~Qt::WindowMinimized);
    // The window manager minimises when it gets to it: after a short run
    // that can be after this restore. The restore holds for a while.
    restoreHeldUntil_ = std::chrono::steady_clock::now() + std::chrono::seconds(1);
}

void TMainForm::changeEvent(QEvent* event) {
    QMainWindow::changeEvent(event);
    if (event->type() == QEvent::WindowStateChange && isMinimized() &&
        std::chrono::steady_clock::now() < restoreHeldUntil_) {
        QTimer::singleShot(0, this, [this] {
            if (isMinimized()) {
                setWindowState(stateBeforeMinimize_ & ~Qt::WindowMinimized);
            }
        });
    }
}

void TMainForm::ShowMessage(std::string_view utf8) {
    if (statusPending_) {
        statusPending_ = false;
        statusLabel_->setText(pendingStatus_);
    }
    desktop_.Message(this, Utf8Text(utf8));
}

void TMainForm::ProcessMessages() {
    // Called after every line: the clock is read only every 16th line, or
    // sooner when long lines have moved the progress a megabyte on.
    if (messageInterval_.count() > 0 && (++messageCalls_ & 15u) != 0 &&
        progressPos_ - progressAtCheck_ < (std::int64_t{1} << 20)) {
        return;
    }
    progressAtCheck_ = progressPos_;
    const auto now = std::chrono::steady_clock::now();
    if (now - lastMessages_ < messageInterval_) {
        return;
    }
    FlushProgress();
    if (statusPending_) {
        statusPending_ = false;
        statusLabel_->setText(pendingStatus_);
    }
    QCoreApplication::processEvents();
    lastMessages_ = std::chrono::steady_clock::now();
}

std::int64_t TMainForm::AvailablePhysicalMemory() {
    return desktop_.Memory().available;
}

bool TMainForm::ShiftCtrlDown() {
    const Qt::KeyboardModifiers mods = desktop_.KeyboardModifiers();
    return mods.testFlag(Qt::ShiftModifier) && mods.testFlag(Qt::ControlModifier);
}

std::string TMainForm::AskOutputPath() {
    OutputDialog.directory = QDir::currentPath();
    // A cancelled dialog gives no path, so a cancel never starts a run on a
    // file chosen earlier for something else.
    const QString chosen = ShowFileDialog(OutputDialog);
    SetPath(EOutputFile, PathBytes(chosen));
    return PathBytes(chosen);
}

void TMainForm::SetDropTarget(bool on) {
    dropTarget_ = on;
    setAcceptDrops(on);
}

// ---- the program's windows ------------------------------------------------

std::unique_ptr<TMainForm> CreateForms(Desktop& desktop, FormSetup setup) {
    auto main = std::make_unique<TMainForm>(desktop, std::move(setup));
    TMainForm* form = main.get();
    auto* setting = new TSettingForm(
        form->Options, form->IniPath(), desktop,
        [form](int topic) { form->HelpViewer()->ShowTopic(topic); }, form);
    auto* about = new TAboutForm(desktop, form);
    form->SetDialogs(setting, about);
    return main;
}

}  // namespace korvalen
