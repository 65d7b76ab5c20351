#include "app/setting.hpp"

#include <QCheckBox>
#include <QEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPalette>
#include <QPushButton>
#include <QToolButton>
#include <QVBoxLayout>
#include <algorithm>
#include <utility>

#include "app/desktop.hpp"
#include "app/qtext.hpp"
#include "config/settings.hpp"
#include "platform/editor.hpp"

namespace korvalen {

namespace {

const char* const kHelpContext = "helpContext";

}  // namespace

TUpDown::TUpDown(QLineEdit* buddy, int min, int max, QWidget* parent)
    : QWidget(parent),
      buddy_(buddy),
      up_(new QToolButton(this)),
      down_(new QToolButton(this)),
      min_(min),
      max_(max),
      position_(min) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    for (auto [button, arrow] : {std::pair{up_, Qt::UpArrow}, std::pair{down_, Qt::DownArrow}}) {
        button->setArrowType(arrow);
        button->setAutoRepeat(true);
        button->setFocusPolicy(Qt::NoFocus);
        button->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
        layout->addWidget(button);
    }
    connect(up_, &QToolButton::clicked, this, [this] { Step(1); });
    connect(down_, &QToolButton::clicked, this, [this] { Step(-1); });
}

int TUpDown::Position() {
    bool ok = false;
    const qlonglong typed = buddy_->text().trimmed().toLongLong(&ok);
    if (ok) {
        position_ = static_cast<int>(std::clamp<qlonglong>(typed, min_, max_));
    }
    return position_;
}

void TUpDown::SetPosition(int position) {
    position_ = std::clamp(position, min_, max_);
    buddy_->setText(QString::number(position_));
}

void TUpDown::Step(int delta) {
    SetPosition(Position() + delta);
}

TSettingForm::TSettingForm(iset& options, std::string iniPath, Desktop& desktop,
                           std::function<void(int)> showHelp, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowCloseButtonHint | Qt::WindowContextHelpButtonHint),
      CNewTag(new QCheckBox(QStringLiteral("タグジャンプの行情報に ( ) を付ける"), this)),
      CFileSeparate(new QCheckBox(QStringLiteral("入力ファイル切り替え時に改行を挿入"), this)),
      CErrorStop(new QCheckBox(QStringLiteral("ファイルエラー時にダイアログを表示"), this)),
      CFileOverWrite(new QCheckBox(QStringLiteral("出力ファイルに上書き"), this)),
      CCloseFileDelete(new QCheckBox(QStringLiteral("プログラム終了時に出力ファイルを削除"), this)),
      CAddSortWord(new QCheckBox(QStringLiteral("検索語に関連項目を含める"), this)),
      COutputFileOpen(new QCheckBox(QStringLiteral("検索終了時に出力ファイルを開く"), this)),
      CSearchIconize(new QCheckBox(QStringLiteral("検索開始時に最小化"), this)),
      CJapaneseWord(new QCheckBox(QStringLiteral("日本語を考慮した検索"), this)),
      CCRText(new QCheckBox(QStringLiteral("改行で折り返されたテキストも検索"), this)),
      CInputEncoding(new QCheckBox(QStringLiteral("UTF-8/UTF-16のファイルを判別して検索"), this)),
      CShowResults(new QCheckBox(QStringLiteral("検索終了時に検索結果一覧を開く"), this)),
      Label1(new QLabel(QStringLiteral("出力桁数："), this)),
      EOutputStrLength(new QLineEdit(QStringLiteral("1"), this)),
      UDLength(new TUpDown(EOutputStrLength, 0, 200, this)),
      Label5(new QLabel(QStringLiteral("スレッド数："), this)),
      EThreads(new QLineEdit(QStringLiteral("0"), this)),
      UDThreads(new TUpDown(EThreads, 0, 64, this)),
      Label2(new QLabel(QStringLiteral("エディタ："), this)),
      EEditor(new QLineEdit(this)),
      Button1(new QPushButton(QStringLiteral("設定..."), this)),
      Label3(new QLabel(QStringLiteral("行指定："), this)),
      EEditorLine(new QLineEdit(this)),
      CSearchFolders(
          new QCheckBox(QStringLiteral("ドロップしたフォルダの中のファイルも検索"), this)),
      Label4(new QLabel(QStringLiteral("対象ファイル："), this)),
      EFolderFilter(new QLineEdit(this)),
      BOK(new QPushButton(QStringLiteral("OK"), this)),
      BCancel(new QPushButton(QStringLiteral("ｷｬﾝｾﾙ"), this)),
      BSaveSet(new QPushButton(QStringLiteral("設定保存"), this)),
      options_(options),
      iniPath_(std::move(iniPath)),
      desktop_(desktop),
      showHelp_(std::move(showHelp)) {
    setObjectName(QStringLiteral("SettingForm"));
    setWindowTitle(QStringLiteral("動作設定"));
    setFont(ProportionalGothic());
    setFixedSize(330, 473);
    setModal(true);

    const std::array<const char*, 10> names = {
        "CNewTag",      "CFileSeparate",   "CErrorStop",     "CFileOverWrite", "CCloseFileDelete",
        "CAddSortWord", "COutputFileOpen", "CSearchIconize", "CJapaneseWord",  "CCRText"};
    const auto boxes = Boxes();
    for (std::size_t i = 0; i < boxes.size(); ++i) {
        boxes[i]->setObjectName(QString::fromLatin1(names[i]));
        boxes[i]->setGeometry(12, 12 + static_cast<int>(i) * 24, 232, 20);
        boxes[i]->setProperty(kHelpContext, 101 + static_cast<int>(i));
    }
    // Two more rows below the ten; the rows under them move down by two.
    constexpr int kRow = 24;
    CInputEncoding->setObjectName(QStringLiteral("CInputEncoding"));
    CInputEncoding->setGeometry(12, 12 + 10 * kRow, 306, 20);
    CInputEncoding->setProperty(kHelpContext, 117);
    CShowResults->setObjectName(QStringLiteral("CShowResults"));
    CShowResults->setGeometry(12, 12 + 11 * kRow, 306, 20);
    CShowResults->setProperty(kHelpContext, 120);

    Label1->setObjectName(QStringLiteral("Label1"));
    Label1->setGeometry(14, 266 + 2 * kRow, 60, 21);
    EOutputStrLength->setObjectName(QStringLiteral("EOutputStrLength"));
    EOutputStrLength->setGeometry(76, 266 + 2 * kRow, 41, 21);
    EOutputStrLength->setProperty(kHelpContext, 111);
    UDLength->setObjectName(QStringLiteral("UDLength"));
    UDLength->setGeometry(117, 266 + 2 * kRow, 16, 21);
    UDLength->setProperty(kHelpContext, 111);
    UDLength->SetPosition(1);
    // The threads on the same row, to the right.
    Label5->setObjectName(QStringLiteral("Label5"));
    Label5->setGeometry(160, 266 + 2 * kRow, 80, 21);
    EThreads->setObjectName(QStringLiteral("EThreads"));
    EThreads->setGeometry(242, 266 + 2 * kRow, 41, 21);
    EThreads->setProperty(kHelpContext, 122);
    EThreads->setToolTip(QStringLiteral("0：CPUのコアの数"));
    UDThreads->setObjectName(QStringLiteral("UDThreads"));
    UDThreads->setGeometry(283, 266 + 2 * kRow, 16, 21);
    UDThreads->setProperty(kHelpContext, 122);

    Label2->setObjectName(QStringLiteral("Label2"));
    Label2->setGeometry(14, 298 + 2 * kRow, 60, 21);
    EEditor->setObjectName(QStringLiteral("EEditor"));
    EEditor->setGeometry(76, 298 + 2 * kRow, 188, 21);
    EEditor->setReadOnly(true);
    QPalette grey = EEditor->palette();
    grey.setColor(QPalette::Text, grey.color(QPalette::Disabled, QPalette::Text));
    EEditor->setPalette(grey);
    EEditor->setProperty(kHelpContext, 112);
    Button1->setObjectName(QStringLiteral("Button1"));
    Button1->setGeometry(268, 297 + 2 * kRow, 50, 23);
    Button1->setAutoDefault(false);
    Button1->setProperty(kHelpContext, 113);
    // The editor's arguments for a line, just below the editor.
    Label3->setObjectName(QStringLiteral("Label3"));
    Label3->setGeometry(14, 330 + 2 * kRow, 60, 21);
    EEditorLine->setObjectName(QStringLiteral("EEditorLine"));
    EEditorLine->setGeometry(76, 330 + 2 * kRow, 188, 21);
    EEditorLine->setPlaceholderText(QStringLiteral("+%l %f"));
    EEditorLine->setProperty(kHelpContext, 121);

    // The folder rows at the bottom, below the editor rows.
    CSearchFolders->setObjectName(QStringLiteral("CSearchFolders"));
    CSearchFolders->setGeometry(12, 362 + 2 * kRow, 306, 20);
    CSearchFolders->setProperty(kHelpContext, 118);
    Label4->setObjectName(QStringLiteral("Label4"));
    Label4->setGeometry(14, 388 + 2 * kRow, 80, 21);
    EFolderFilter->setObjectName(QStringLiteral("EFolderFilter"));
    EFolderFilter->setGeometry(96, 388 + 2 * kRow, 222, 21);
    EFolderFilter->setProperty(kHelpContext, 119);
    EFolderFilter->setToolTip(QStringLiteral("例：*.txt;*.log（空欄ならすべてのファイル）"));
    connect(CSearchFolders, &QCheckBox::toggled, EFolderFilter, &QWidget::setEnabled);

    const std::array<std::pair<QPushButton*, const char*>, 3> column = {
        std::pair{BOK, "BOK"}, std::pair{BCancel, "BCancel"}, std::pair{BSaveSet, "BSaveSet"}};
    for (std::size_t i = 0; i < column.size(); ++i) {
        column[i].first->setObjectName(QString::fromLatin1(column[i].second));
        column[i].first->setGeometry(250, 12 + static_cast<int>(i) * 32, 70, 25);
        column[i].first->setProperty(kHelpContext, 114 + static_cast<int>(i));
    }
    BOK->setDefault(true);
    BCancel->setAutoDefault(false);
    BSaveSet->setAutoDefault(false);

    connect(BOK, &QPushButton::clicked, this, &TSettingForm::BOKClick);
    connect(BCancel, &QPushButton::clicked, this, &TSettingForm::BCancelClick);
    connect(BSaveSet, &QPushButton::clicked, this, &TSettingForm::BSaveSetClick);
    connect(Button1, &QPushButton::clicked, this, &TSettingForm::BEditorClick);

    for (QObject* child : children()) {
        if (child->property(kHelpContext).isValid()) {
            child->installEventFilter(this);
        }
    }
    BOK->setFocus();
}

std::array<QCheckBox*, 10> TSettingForm::Boxes() const {
    return {CNewTag,      CFileSeparate,   CErrorStop,     CFileOverWrite, CCloseFileDelete,
            CAddSortWord, COutputFileOpen, CSearchIconize, CJapaneseWord,  CCRText};
}

void TSettingForm::Fill() {
    const auto boxes = Boxes();
    const std::array<bool, 10> values = {options_.TagJump,         options_.FileSeparate,
                                         options_.ErrorStop,       options_.FileOverWrite,
                                         options_.CloseFileDelete, options_.AddSortWord,
                                         options_.OutputFileOpen,  options_.SearchIconize,
                                         options_.JapaneseWord,    options_.CRText};
    for (std::size_t i = 0; i < boxes.size(); ++i) {
        boxes[i]->setChecked(values[i]);
    }
    CInputEncoding->setChecked(options_.InputEncoding != 0);
    CShowResults->setChecked(options_.ShowResults);
    SetPathBytes(EEditorLine, options_.EditorLine);
    UDLength->SetPosition(options_.OutputStrLength);
    UDThreads->SetPosition(options_.Threads);
    SetPathBytes(EEditor, options_.Editor);
    CSearchFolders->setChecked(options_.SearchFolders);
    EFolderFilter->setEnabled(options_.SearchFolders);
    SetPathBytes(EFolderFilter, options_.FolderFilter);  // matched against file names
}

int TSettingForm::Execute() {
    Fill();
    return exec();
}

iset TSettingForm::Collected() {
    iset values = options_;  // Delete is not the dialog's
    const auto boxes = Boxes();
    bool* const fields[] = {&values.TagJump,        &values.FileSeparate,    &values.ErrorStop,
                            &values.FileOverWrite,  &values.CloseFileDelete, &values.AddSortWord,
                            &values.OutputFileOpen, &values.SearchIconize,   &values.JapaneseWord,
                            &values.CRText};
    for (std::size_t i = 0; i < boxes.size(); ++i) {
        *fields[i] = boxes[i]->isChecked();
    }
    // A non-zero value other than 1 (from a hand-edited INI file) stays while
    // the box stays checked.
    if (!CInputEncoding->isChecked()) {
        values.InputEncoding = 0;
    } else if (values.InputEncoding == 0) {
        values.InputEncoding = 1;
    }
    values.OutputStrLength = UDLength->Position();
    values.Threads = UDThreads->Position();
    values.Editor = PathBytesOf(EEditor);
    values.EditorLine = PathBytesOf(EEditorLine);
    values.ShowResults = CShowResults->isChecked();
    values.SearchFolders = CSearchFolders->isChecked();
    values.FolderFilter = PathBytesOf(EFolderFilter);
    return values;
}

// An open quote in the editor's template would swallow the rest of it.
bool TSettingForm::EditorLineTaken() {
    if (EditorLineQuotesClosed(PathBytesOf(EEditorLine))) {
        return true;
    }
    desktop_.Message(this, QStringLiteral("行指定の引用符 \" が閉じていません"));
    EEditorLine->setFocus();
    return false;
}

void TSettingForm::BOKClick() {
    if (!EditorLineTaken()) {
        return;
    }
    options_ = Collected();
    accept();
}

void TSettingForm::BSaveSetClick() {
    if (!EditorLineTaken()) {
        return;
    }
    const iset values = Collected();
    if (!WriteOptions(iniPath_, values, FromCp932Text(EOutputStrLength->text()))) {
        // Saying nothing would pass a lost save off as a done one.
        desktop_.Message(this,
                         QStringLiteral("設定ファイルに保存できません：") + PathText(iniPath_));
    }
    options_ = values;
    accept();
}

void TSettingForm::BCancelClick() {
    reject();
}

void TSettingForm::BEditorClick() {
    const QString current = EEditor->text();
    FileDialogRequest request;
    request.kind = FileDialogRequest::Kind::OpenExecutable;
    request.title = QStringLiteral("ｴﾃﾞｨﾀの指定");
    // Programs on Linux have no ".exe": the first filter shows every file the
    // user may run.
    request.filters = QStringList{QStringLiteral("実行できるファイル (*)")} +
                      NameFilters(QStringLiteral("実行ファイル|*.exe"));
    request.directory = FolderPart(current);
    request.fileName = NamePart(current);
    if (const auto chosen = desktop_.ChooseFile(this, request)) {
        EEditor->setText(*chosen);
    }
}

void TSettingForm::EEditorKeyDown(int key) {
    if (key == Qt::Key_Delete && !EEditor->text().isEmpty() &&
        desktop_.Question(this, QStringLiteral("エディタ指定を削除します"))) {
        EEditor->clear();
    }
}

bool TSettingForm::eventFilter(QObject* watched, QEvent* event) {
    switch (event->type()) {
        case QEvent::KeyPress: {
            const int key = static_cast<QKeyEvent*>(event)->key();
            if (key == Qt::Key_F1) {
                showHelp_(watched->property(kHelpContext).toInt());
                return true;
            }
            if (watched == EEditor) {
                EEditorKeyDown(key);
            }
            if (watched == EOutputStrLength || watched == EThreads) {
                // Page Up and Page Down step by ten, as a spin box does.
                const int step = key == Qt::Key_Up         ? 1
                                 : key == Qt::Key_Down     ? -1
                                 : key == Qt::Key_PageUp   ? 10
                                 : key == Qt::Key_PageDown ? -10
                                                           : 0;
                if (step != 0) {
                    (watched == EThreads ? UDThreads : UDLength)->Step(step);
                    return true;
                }
            }
            break;
        }
        case QEvent::MouseButtonDblClick:
            if (watched == EEditor) {
                BEditorClick();
                return true;
            }
            break;
        case QEvent::QueryWhatsThis:  // the title bar's help button points here
            return true;
        case QEvent::WhatsThis:
            showHelp_(watched->property(kHelpContext).toInt());
            return true;
        default:
            break;
    }
    return QDialog::eventFilter(watched, event);
}

}  // namespace korvalen
