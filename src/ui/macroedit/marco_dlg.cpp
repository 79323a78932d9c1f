#include "ui/macroedit/marco_dlg.h"

#include <QApplication>
#include <QComboBox>
#include <QFile>
#include <QGroupBox>
#include <QKeyEvent>
#include <QListWidget>

#include "app/texts.h"
#include "device/job_runner.h"
#include "device/session.h"
#include "device/session_jobs.h"
#include "device/session_result.h"
#include "macro/marco_file.h"
#include "ui/common/job_state_relay.h"
#include "ui/common/key_event_code.h"
#include "ui/widgets/check_button.h"
#include "ui/widgets/control_codes.h"
#include "ui/widgets/info_button.h"
#include "ui/widgets/pic_button.h"
#include "ui/widgets/ui_prompts.h"
#include "ui/widgets/ui_texts.h"

namespace tavrik::ui {
namespace {

// The delay-mode switch's number in UM_CHECK_BUTTON.
constexpr int kDelaySwitchNumber = 4;

MarcoEditor EditorFor(CCCDev* dev) {
    if (dev == nullptr) {
        return MarcoEditor();
    }
    const SessionSnapshot snap = dev->Snapshot();
    return MarcoEditor(snap.marcoMax, snap.marcoDelay, snap.autoLoop);
}

QString Key(std::string_view key) {
    return QString::fromUtf8(key.data(), static_cast<qsizetype>(key.size()));
}

}  // namespace

CMarcoDlg::CMarcoDlg(KeyboardGuard keyboard, int slot, int layer, QWidget* parent)
    : ModalDialog(keyboard, parent),
      slot_(slot),
      layer_(layer),
      editor_(EditorFor(keyboard.Session())) {
    clock_.start();

    // It frames the list and the editing buttons, so it lies under them.
    frame_ = new QGroupBox(this);
    frame_->setGeometry(50, 70, 630, 435);
    frame_->setAccessibleName("Macro steps");
    frame_->setStyleSheet("QGroupBox { border: 1px solid #c8c8c8; }");
    frame_->lower();

    prompt_ = new CInfoButton(this, PromptText("MarcoDlgPrompt1"));
    prompt_->setGeometry(Ltrb(50, 520, 750, 546));
    prompt_->setAccessibleName("Prompt");
    SetContext(slot_, layer_);
    delayLabel_ = new CInfoButton(this, ButtonText("InfoDefaultDelay"));
    delayLabel_->setGeometry(Ltrb(380, 135, 565, 170));
    delayLabel_->setAccessibleName("Delay mode");
    delaySwitch_ = new CMyCheckButton(this, kDelaySwitchNumber, false);
    delaySwitch_->setGeometry(Ltrb(580, 135, 640, 170));
    delaySwitch_->setAccessibleName("Recorded delay");

    modes_ = new QComboBox(this);
    modes_->setObjectName(QString::number(kMarcoModeListId));
    modes_->setGeometry(70, 90, 600, 35);
    modes_->setAccessibleName("Macro mode");
    for (const MarcoMode mode : kMarcoModes) {
        const std::string key(MarcoModeTextKey(mode));
        modes_->addItem(ButtonText(key.c_str()));
    }
    modes_->setCurrentIndex(editor_.ModeIndex());
    connect(modes_, &QComboBox::activated, this, &CMarcoDlg::ModeChosen);

    steps_ = new QListWidget(this);
    steps_->setObjectName(QString::number(kMarcoStepListId));
    steps_->setGeometry(70, 130, 240, 345);
    steps_->setAccessibleName("Macro step list");
    steps_->setSelectionMode(QAbstractItemView::SingleSelection);
    steps_->setStyleSheet("QListWidget { background: #202020; color: white; }");

    AddButton("StartRecordMarco", UM_START_RECORD_MARCO, 720, 120, 960, 150);
    AddButton("ClearRecordMarco", UM_CLEAR_RECORD_MARCO, 720, 180, 960, 210);
    AddButton("SaveRecordMarco", UM_SAVE_RECORD_MARCO, 720, 240, 960, 270);
    AddButton("ReadRecordMarco", UM_READ_RECORD_MARCO, 720, 300, 960, 330);
    AddButton("SaveRecordMarcoToFile", UM_SAVE_RECORD_MARCO_TO_FILE, 720, 360, 960, 390);
    AddButton("ReadRecordMarcoFromFile", UM_READ_RECORD_MARCO_FROM_FILE, 720, 420, 960, 450);
    AddButton("InsertGuiDown", UM_INSERT_GUI_DOWN, 380, 212, 640, 242);
    AddButton("InsertGuiUp", UM_INSERT_GUI_UP, 380, 254, 640, 284);
    AddButton("DelOneMarcoEntry", UM_DEL_ONE_MARCO_ENTRY, 380, 296, 640, 326);
    AddButton("ChangeMarcoDelay", UM_CHANGE_MARCO_DELAY, 380, 338, 640, 368);
    AddButton("InsertKeyUpFlag", UM_INSERT_KEY_UP_FLAG, 380, 380, 640, 410);
    AddButton("InsertMarcoLoopStartFlag", UM_INSERT_MARCO_LOOP_START_FLAG, 380, 422, 640, 452);
    AddButton("InsertMarcoLoopEndFlag", UM_INSERT_MARCO_LOOP_END_FLAG, 380, 464, 640, 494);

    // Queued: a notification's sender waits until it is handled, and the end of a job may
    // show a message.
    const auto follow = [this](int dev) {
        if (jobId_ != 0 && jobDev_ != nullptr && dev == jobDev_->DevIdx()) {
            FollowJob();
        }
    };
    connect(
        &JobStateRelay::Instance(), &JobStateRelay::jobState, this,
        [follow](int dev, quint32, quint32) { follow(dev); }, Qt::QueuedConnection);
    connect(&JobStateRelay::Instance(), &JobStateRelay::keyboardGone, this, follow,
            Qt::QueuedConnection);
    connect(steps_, &QListWidget::itemSelectionChanged, this, [this] { Refresh(); });
    CreateUndoControls();
    MarkSaved();
    // Key messages of every control of the dialog pass here first while recording.
    qApp->installEventFilter(this);
    Refresh();
}

CMarcoDlg::~CMarcoDlg() {
    qApp->removeEventFilter(this);
}

ClickSdMsgButton* CMarcoDlg::AddButton(const char* textKey, uint32_t code, int l, int t, int r,
                                       int b) {
    auto* button = new ClickSdMsgButton(this, ButtonText(textKey), code);
    button->setGeometry(Ltrb(l, t, r, b));
    // Screen readers say the caption; without a text table, what the button is for.
    button->setAccessibleName(button->text().isEmpty() ? QString(textKey) : button->text());
    buttons_[code] = button;
    return button;
}

ClickSdMsgButton* CMarcoDlg::Button(uint32_t code) const {
    const auto it = buttons_.find(code);
    return it == buttons_.end() ? nullptr : it->second;
}

void CMarcoDlg::done(int result) {
    StopRecording();
    // A read can stop at once; a write runs to its end, since a macro stopped halfway
    // would leave the key playing part of it.
    if (jobId_ != 0 && jobKind_ == JobKind::Read && jobDev_ != nullptr) {
        jobDev_->Jobs().Cancel(jobId_);
    }
    writeLeft_ = jobKind_ == JobKind::Write ? jobId_ : 0;
    jobId_ = 0;
    jobKind_ = JobKind::None;
    QDialog::done(result);
}

void CMarcoDlg::reject() {
    if (Unsaved() && !UiPrompts::Question(this, PromptText("marcoDiscard"))) {
        return;
    }
    QDialog::reject();
}

void CMarcoDlg::MarkSaved() {
    savedLines_ = editor_.Lines();
    savedMode_ = editor_.ModeIndex();
}

bool CMarcoDlg::Unsaved() const {
    if (editor_.Steps().Empty()) {
        return false;
    }
    return editor_.Lines() != savedLines_ || editor_.ModeIndex() != savedMode_;
}

CCCDev* CMarcoDlg::Target() {
    return KeyboardStays() ? Keyboard().Session() : nullptr;
}

bool CMarcoDlg::eventFilter(QObject* watched, QEvent* event) {
    const QEvent::Type type = event->type();
    if (type != QEvent::KeyPress && type != QEvent::KeyRelease &&
        type != QEvent::ShortcutOverride) {
        return false;
    }
    if (!editor_.Recording() || !watched->isWidgetType()) {
        return false;
    }
    auto* widget = static_cast<QWidget*>(watched);
    if (widget != this && !isAncestorOf(widget)) {
        return false;
    }
    if (type == QEvent::ShortcutOverride) {
        event->accept();  // no shortcut fires: the key comes as a key message
        return true;
    }
    return RecordKeyEvent(static_cast<QKeyEvent*>(event));
}

bool CMarcoDlg::RecordKeyEvent(QKeyEvent* event) {
    if (event->isAutoRepeat()) {
        return true;
    }
    MarcoKeyEvent key;
    key.down = event->type() == QEvent::KeyPress;
    const KeyEventCode code = KeyCodeOfEvent(*event);
    key.keyCode = code.keyCode;
    key.extended = code.extended;
    // Without the physical key a generic modifier is taken as the left one going down.
    key.leftDown = key.down;
    key.timeMs = event->timestamp() != 0 ? static_cast<uint32_t>(event->timestamp())
                                         : static_cast<uint32_t>(clock_.elapsed());
    const MarcoEditor::RecordResult result = editor_.RecordKey(key);
    ShowLines();
    Refresh();
    Say(result.message);
    return true;
}

int CMarcoDlg::SelectedLine() const {
    const QList<QListWidgetItem*> selected = steps_->selectedItems();
    return selected.isEmpty() ? -1 : steps_->row(selected.front());
}

void CMarcoDlg::ShowLines() {
    const int selected = SelectedLine();
    steps_->clear();
    for (const std::string& line : editor_.Lines()) {
        steps_->addItem(QString::fromStdString(line));
    }
    if (selected >= 0 && selected < steps_->count()) {
        steps_->setCurrentRow(selected);
    }
}

void CMarcoDlg::Refresh() {
    const bool any = !editor_.Steps().Empty();
    for (const uint32_t code :
         {UM_INSERT_GUI_DOWN, UM_INSERT_GUI_UP, UM_DEL_ONE_MARCO_ENTRY, UM_CHANGE_MARCO_DELAY}) {
        Button(code)->setVisible(any);
    }
    Button(UM_INSERT_KEY_UP_FLAG)->setVisible(any && editor_.Mode() == MarcoMode::DualSec);
    const bool loops = any && editor_.Mode() == MarcoMode::SingleShot;
    Button(UM_INSERT_MARCO_LOOP_START_FLAG)->setVisible(loops);
    Button(UM_INSERT_MARCO_LOOP_END_FLAG)->setVisible(loops);
    const char* recordKey = editor_.Recording() ? "StopRecordMarco" : "StartRecordMarco";
    ClickSdMsgButton* record = Button(UM_START_RECORD_MARCO);
    record->setText(ButtonText(recordKey));
    record->setAccessibleName(record->text().isEmpty() ? QString(recordKey) : record->text());
    delayLabel_->setText(
        ButtonText(editor_.DelayMode() == 1 ? "InfoRecordDelay" : "InfoDefaultDelay"));
    delaySwitch_->SetState(editor_.DelayMode() == 1);
    modes_->setCurrentIndex(editor_.ModeIndex());
    // A job of this dialog owns the keyboard until it ends.
    for (const uint32_t code : {UM_START_RECORD_MARCO, UM_CLEAR_RECORD_MARCO, UM_SAVE_RECORD_MARCO,
                                UM_READ_RECORD_MARCO, UM_READ_RECORD_MARCO_FROM_FILE}) {
        Button(code)->setEnabled(jobId_ == 0);
    }
    // What needs a selected step, or steps at all, is greyed out until it can act.
    const bool selected = SelectedLine() >= 0;
    Button(UM_DEL_ONE_MARCO_ENTRY)->setEnabled(selected);
    Button(UM_CHANGE_MARCO_DELAY)->setEnabled(selected);
    Button(UM_SAVE_RECORD_MARCO)->setEnabled(jobId_ == 0 && any);
    Button(UM_SAVE_RECORD_MARCO_TO_FILE)->setEnabled(any);
    Button(UM_CLEAR_RECORD_MARCO)->setEnabled(jobId_ == 0 && any);
    RefreshUndo();
    update();
}

void CMarcoDlg::Say(std::string_view messageKey) {
    if (!messageKey.empty()) {
        const std::string key(messageKey);
        UiPrompts::Message(this, PromptText(key.c_str()));
    }
}

int CMarcoDlg::OnNotify(uint32_t code, uint32_t, int32_t lParam) {
    const int line = SelectedLine();
    std::string_view message;
    switch (code) {
        case UM_START_RECORD_MARCO:
            if (editor_.Recording()) {
                StopRecording();
            } else {
                StartRecording();
                steps_->setFocus();
            }
            return 1;
        case UM_START_RECORD:
            StartRecording();
            return 1;
        case UM_STOP_RECORD:
            StopRecording();
            return 1;
        case UM_CLEAR_RECORD_MARCO:
            ClearList();
            steps_->setFocus();
            return 1;
        case UM_SAVE_RECORD_MARCO:
            WriteToKey();
            return 1;
        case UM_READ_RECORD_MARCO:
            ReadFromKey();
            return 1;
        case UM_SAVE_RECORD_MARCO_TO_FILE:
            SaveToFile();
            return 1;
        case UM_READ_RECORD_MARCO_FROM_FILE:
            LoadFromFile();
            return 1;
        case UM_INSERT_GUI_DOWN:
        case UM_INSERT_GUI_UP:
            message = editor_.InsertGui(line, code == UM_INSERT_GUI_DOWN);
            break;
        case UM_INSERT_KEY_UP_FLAG:
            message = editor_.InsertSwitch(line);
            break;
        case UM_INSERT_MARCO_LOOP_START_FLAG:
            InsertLoopStart();
            return 1;
        case UM_INSERT_MARCO_LOOP_END_FLAG:
            message = editor_.InsertLoopEnd(line);
            break;
        case UM_DEL_ONE_MARCO_ENTRY:
            message = editor_.DeleteLine(line);
            break;
        case UM_CHANGE_MARCO_DELAY:
            ChangeDelay();
            return 1;
        case UM_UNDO:
        case UM_REDO:
            UndoSteps(code == UM_REDO);
            return 1;
        case UM_CHECK_BUTTON:
            if (lParam != kDelaySwitchNumber) {
                return 0;
            }
            editor_.ToggleDelayMode();
            Refresh();
            return 1;
        default:
            return 0;
    }
    ShowLines();
    Refresh();
    Say(message);
    return 1;
}

void CMarcoDlg::StartRecording() {
    editor_.StartRecording();
    ShowLines();
    Refresh();
}

void CMarcoDlg::StopRecording() {
    editor_.StopRecording();
    ShowLines();
    Refresh();
}

void CMarcoDlg::ClearList() {
    editor_.Clear();
    ShowLines();
    Refresh();
}

void CMarcoDlg::InsertLoopStart() {
    const int line = SelectedLine();
    std::string_view message = editor_.CheckLoopStart(line);
    if (message.empty() && line < editor_.LineCount()) {
        const int count =
            UiPrompts::AskNumber(this, "  ", "Input Loop count 2-250/输入宏循环次数 2-250");
        message = editor_.InsertLoopStart(line, count);
    }
    ShowLines();
    Refresh();
    Say(message);
}

void CMarcoDlg::ChangeDelay() {
    const int line = SelectedLine();
    std::string_view message = editor_.CheckDelayChange(line);
    if (message.empty() && line < editor_.LineCount()) {
        const int step = line / 2;
        const int current =
            step < editor_.Steps().Size() ? editor_.Steps()[step].delay : editor_.DefaultDelay();
        message = editor_.ChangeDelay(line, UiPrompts::AskNumber(this, {}, {}, current));
    }
    ShowLines();
    Refresh();
    Say(message);
}

void CMarcoDlg::ModeChosen(int index) {
    const std::string_view message = editor_.SelectMode(index);
    ShowLines();
    Refresh();
    Say(message);
}

// A macro from the key or a file: taken only when every rule holds, else the list stays.
void CMarcoDlg::LoadRecord(const MarcoRecord& record) {
    const std::string_view refusal = editor_.Load(record);
    if (refusal.empty()) {
        MarkSaved();
    }
    ShowLoaded(refusal);
}

void CMarcoDlg::ShowLoaded(std::string_view refusal) {
    steps_->clearSelection();
    ShowLines();
    Refresh();
    if (!refusal.empty()) {
        const std::string key(refusal);
        UiPrompts::Message(this, PromptText("InfoMarcoInvalid") + "\n" + PromptText(key.c_str()));
    }
}

std::optional<MarcoRecord> CMarcoDlg::EncodeList() {
    if (editor_.Steps().Empty()) {
        return std::nullopt;
    }
    std::string_view message;
    std::optional<MarcoRecord> record = editor_.Encode(message);
    ShowLines();
    Refresh();
    Say(message);
    return record;
}

void CMarcoDlg::WriteToKey() {
    if (jobId_ != 0) {
        return;
    }
    const std::optional<MarcoRecord> record = EncodeList();
    if (!record) {
        return;
    }
    CCCDev* dev = Target();
    if (dev == nullptr) {
        return;
    }
    jobDev_ = dev;
    StartJob(JobKind::Write, SubmitMarcoWriteJob(*dev, slot_, layer_, *record));
}

void CMarcoDlg::ReadFromKey() {
    if (jobId_ != 0) {
        return;
    }
    CCCDev* dev = Target();
    if (dev == nullptr) {
        return;
    }
    editor_.StopRecording();
    ClearList();
    readInto_ = std::make_shared<MarcoRecord>();
    jobDev_ = dev;
    StartJob(JobKind::Read, SubmitMarcoReadJob(*dev, slot_, readInto_));
}

void CMarcoDlg::StartJob(JobKind kind, uint32_t id) {
    jobId_ = id;
    jobKind_ = kind;
    prompt_->setText(ButtonText(kind == JobKind::Write ? "SaveRecordMarco" : "ReadRecordMarco") +
                     "  ...");
    Refresh();
}

// The notification only says that the job moved: its state is read from the runner, so
// notifications that were merged or dropped lose nothing.
void CMarcoDlg::FollowJob() {
    const QString caption =
        ButtonText(jobKind_ == JobKind::Write ? "SaveRecordMarco" : "ReadRecordMarco");
    const std::optional<JobStatus> status = jobDev_->Jobs().Status(jobId_);
    if (status && !status->Finished()) {
        prompt_->setText(caption + QString("  %1%").arg(status->percent));
        return;
    }
    const JobKind kind = jobKind_;
    jobId_ = 0;
    jobKind_ = JobKind::None;
    JobEnded(kind, status);
}

void CMarcoDlg::JobEnded(JobKind kind, const std::optional<JobStatus>& status) {
    const QString caption =
        ButtonText(kind == JobKind::Write ? "SaveRecordMarco" : "ReadRecordMarco");
    const bool ok = status && status->state == JobState::Done;
    const int result = status ? status->result : kJobCancelled;
    // A keyboard that went is said as such, not as the empty slot its session then shows.
    const bool gone = !ok && (result == kJobKeyboardGone || Keyboard().Gone());
    if (gone) {
        SetContext(slot_, layer_);
    }
    // The session's refusals in the user's language; the job's own words for the rest.
    const QString reason =
        gone      ? Keyboard().GoneText()
        : !status ? QString()
        : status->result > kJobCancelled
            ? QString::fromStdString(SessionResultText(status->result, g_strLanguage))
            : QString::fromStdString(status->message);
    prompt_->setText(ok ? caption + "  100%" : PromptText("MarcoDlgPrompt1"));
    Refresh();
    if (kind == JobKind::Read) {
        if (ok) {
            LoadRecord(*readInto_);
            return;
        }
        QString text = QString("Read Marco Fail, error code is %1").arg(result);
        if (!reason.isEmpty()) {
            text += "\n" + reason;
        }
        UiPrompts::Message(this, gone ? reason : text);
        return;
    }
    if (ok) {
        MarkSaved();
        return;
    }
    UiPrompts::Message(
        this,
        gone ? reason : caption + ": " + (reason.isEmpty() ? QString::number(result) : reason));
}

void CMarcoDlg::SaveToFile() {
    const std::optional<MarcoRecord> record = EncodeList();
    if (!record) {
        return;
    }
    const QString name = UiPrompts::ChooseMarcoFile(this, true);
    if (name.isEmpty()) {
        return;
    }
    const std::filesystem::path path(QFile::encodeName(name).toStdString());
    if (SaveMarcoFile(path, *record) != MarcoFileStatus::Ok) {
        UiPrompts::Message(this, PromptText("marcoFileNotSaved") + "\n" + name);
        return;
    }
    MarkSaved();
}

// The list is replaced only by a macro that loaded: a cancelled chooser or a bad file
// leaves the steps the user had.
void CMarcoDlg::LoadFromFile() {
    if (jobId_ != 0) {
        return;
    }
    StopRecording();
    const QString name = UiPrompts::ChooseMarcoFile(this, false);
    if (name.isEmpty()) {
        return;
    }
    const MarcoFileResult file =
        LoadMarcoFile(std::filesystem::path(QFile::encodeName(name).toStdString()));
    switch (file.status) {
        case MarcoFileStatus::Ok:
            LoadRecord(file.record);
            return;
        case MarcoFileStatus::InvalidData:
            UiPrompts::Message(this, Key(kMarcoFileInvalidText));
            return;
        default:
            UiPrompts::Message(this, QString::fromStdString(file.error));
            return;
    }
}

}  // namespace tavrik::ui
