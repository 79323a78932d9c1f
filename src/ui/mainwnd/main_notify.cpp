// The main window's reactions to the engine's notifications and to its controls' clicks.
// Engine notifications arrive on the UI thread while the sending worker waits, so their
// handlers only call session operations that queue commands; the ones that wait for a
// reply (a colour, a key code) come from clicks, or run as jobs.
#include <QLabel>
#include <QSystemTrayIcon>
#include <QTimer>

#include "app/app_globals.h"
#include "app/applog.h"
#include "app/texts.h"
#include "device/job_runner.h"
#include "device/key_assign.h"
#include "device/key_counts.h"
#include "device/keyboard_hub.h"
#include "device/notify_payload.h"
#include "device/session.h"
#include "device/session_jobs.h"
#include "device/session_result.h"
#include "keys/keycodes.h"
#include "ui/common/job_state_relay.h"
#include "ui/common/keyboard_guard.h"
#include "ui/mainwnd/keyboard_view.h"
#include "ui/mainwnd/main_window.h"
#include "ui/mainwnd/my_button.h"
#include "ui/widgets/control_codes.h"
#include "ui/widgets/keyboard_tab.h"
#include "ui/widgets/pic_button.h"
#include "ui/widgets/text_buttons.h"
#include "ui/widgets/ui_prompts.h"
#include "ui/widgets/ui_texts.h"
#include "update/update_service.h"

namespace tavrik::ui {

void CTavrikDlg::Notify(uint32_t code, uint32_t wParam, uint32_t lParam) {
    if (shutDown_) {
        return;
    }
    OnNotify(code, wParam, static_cast<int32_t>(lParam));
    Q_EMIT engineNotified(code);
}

int CTavrikDlg::OnNotify(uint32_t code, uint32_t wParam, int32_t lParam) {
    if (!hub_) {
        return 0;
    }
    const auto l = static_cast<uint32_t>(lParam);
    // Whatever happened may have changed what can be undone.
    struct UndoButtonsAfter {
        CTavrikDlg* w;
        ~UndoButtonsAfter() { w->RefreshUndoButtons(); }
    } undoButtonsAfter{this};
    switch (code) {
        case UM_HIDE_TO_TRAY:
            return OnHideToTray();
        case UM_BACK:
            return 0;
        case UM_CHANGE_ONE_KEY_LIGHT_COLOR:
            return OnChangeColor(wParam, l);
        case UM_CHANGE_ONE_KEY_VK:
            return OnChangeKeyCode(wParam, l);
        case UM_REFRESH_SCAN:
            return OnRefreshScan();
        case UM_ONE_CLICK_PROGRAM_KEY:
            return OnOneClickProgram();
        case UM_INFO_DLG_VK_CHANGE:
            return OnVkChange(wParam, l);
        case UM_INFO_DLG_SUMMARY_CHANGE:
            return OnSummaryChange(wParam, l);
        case UM_INFO_DLG_UPDATE_ALL_KEY_DISPLAY:
            return OnUpdateAllKeys(wParam);
        case UM_KEY_PRESSED:
            return OnKeyPressed(wParam);
        case UM_KEY_RELEASED:
            return OnKeyReleased(wParam);
        case UM_KEYBOARD_SELECT:
            return OnKeyboardSelect(lParam);
        case UM_INFO_UPDATE_CHECK:
            // A keyboard's scan settled: the update prompt looks at it.
            if (updates_) {
                updates_->ResumePrompt();
            }
            return 0;
        case UM_LAYER_SELECT:
            return OnLayerSelect(lParam);
        case UM_OTHER_KEYBOARD_SWITCH_LAYER:
            return OnOtherKeyboardLayer(wParam);
        case UM_PAGE_SWITCH:
            return OnPageSwitch();
        case UM_KBD_KIND_CHANGE:
            return 1;
        case UM_JOB_STATE: {
            JobStateRelay::Instance().Publish(wParam, l);
            const int r = OnJobState(wParam, l);
            if (IsFinished(JobStateOf(l))) {
                EndKeyWrite(static_cast<int>(wParam & 0xFF), JobIdOf(wParam));
            }
            return r;
        }
        case UM_UNDO:
        case UM_REDO:
            UndoKeyChange(code == UM_REDO);
            return 1;
        default:
            return 0;
    }
}

void CTavrikDlg::KeyCodePicked(int slot, int keyCode) {
    OnChangeKeyCode(static_cast<uint32_t>(slot), static_cast<uint32_t>(keyCode));
}

void CTavrikDlg::KeyColourPicked(int slot, uint32_t colour) {
    OnChangeColor(static_cast<uint32_t>(slot), colour);
}

bool CTavrikDlg::IsSelected(uint32_t wParam) const {
    return hub_->Count() > 0 && static_cast<int>(wParam & 0xFF) == hub_->Selected();
}

int CTavrikDlg::OnChangeColor(uint32_t slot, uint32_t colour) {
    CCCDev* dev = SelSession();
    if (dev == nullptr) {
        return 0;
    }
    if (slot == kAllKeys) {
        DlgDebugLog("Change all color in OnChangeOneKeyLightColor");
        // 90 keys take a while: a job, whose progress the status line shows. The buttons
        // follow the key table as the job goes, so unassigned keys keep what they have.
        FollowJob(dev->DevIdx(), SubmitAllKeyColorJob(*dev, colour), ButtonText("chAllColor"));
        return 0;
    }
    if (slot >= kKeySlots) {
        return -1;
    }
    DlgDebugLog("Change Idx " + std::to_string(slot) + " color in OnChangeOneKeyLightColor");
    CMyButton& key = view_->Key(static_cast<int>(slot));
    const int s = static_cast<int>(slot);
    const uint32_t was = dev->Snapshot().slots[slot].colour;
    const uint64_t ticket = BeginKeyEdit(*dev, {KeyEdit::Kind::Colour, s, 0, was, colour});
    if (dev->HasMarcoLayer(s)) {
        // The key's macro is read back and written again: a job; the button keeps the
        // colour the key has until it ends.
        key.SetColor(was);
        const uint32_t job = SubmitKeyColorJob(*dev, s, colour);
        FollowJob(dev->DevIdx(), job, PromptText("keyWriteJob"), s);
        TrackKeyWrite(dev->DevIdx(), job, ticket, false);
        return 0;
    }
    const int result = dev->SetKeyColor(s, colour);
    FinishKeyEdit(*dev, ticket, result == kSessionOk);
    if (result != kSessionOk) {
        // The key keeps the colour it really has.
        key.SetColor(dev->Snapshot().slots[slot].colour);
        SetStatus(QString::fromStdString(SessionResultText(result, g_strLanguage)));
    } else {
        key.SetColor(colour);
    }
    key.update();
    return 0;
}

// "Color All Keys" of the main window: the keyboard is taken when the chooser opens, and
// the colour goes to that keyboard only, whatever came or went meanwhile.
void CTavrikDlg::ChooseAllKeysColour() {
    const KeyboardGuard guard(*hub_, ShownKeyboard());
    if (guard.Gone()) {
        return;
    }
    CChAllLightColorButton& button = view_->AllColorButton();
    const std::optional<QColor> chosen = UiPrompts::ChooseColor(this, ColorOf(button.Color()));
    if (!chosen) {
        return;
    }
    CCCDev* dev = guard.Session();
    if (dev == nullptr) {
        SetStatus(guard.GoneText());
        UiPrompts::Message(this, guard.GoneText());
        return;
    }
    button.SetColor(LedColorRef(ColorRefOf(*chosen)));
    FollowJob(dev->DevIdx(), SubmitAllKeyColorJob(*dev, button.Color()), ButtonText("chAllColor"));
}

int CTavrikDlg::OnChangeKeyCode(uint32_t slot, uint32_t keyCode) {
    if (slot >= kKeySlots) {
        return -1;
    }
    CCCDev* dev = SelSession();
    if (dev == nullptr) {
        return 0;
    }
    const SessionSnapshot before = dev->Snapshot();
    const int layer = before.curLayer & 3;
    const int s = static_cast<int>(slot);
    const auto code = static_cast<uint8_t>(keyCode & 0xFF);
    CMyButton& key = view_->Key(s);
    const int shown = before.slots[slot].vk[static_cast<size_t>(layer)];
    // The user picked the code for this layer, so it replaces a macro there.
    if (const int refused = KeyCodeRefusal(layer, code); refused != 0) {
        key.SetVk(shown);
        SetStatus(QString::fromStdString(SessionResultText(refused, g_strLanguage)));
        return 1;
    }
    const auto& vk = before.slots[slot].vk;
    bool macroElsewhere = false;
    for (int l = 0; l < 4; ++l) {
        macroElsewhere = macroElsewhere || (l != layer && vk[static_cast<size_t>(l)] == VK_MARCO);
    }
    if (macroElsewhere) {
        // The macro on the other layer is read back and written again: a job; the button
        // shows the key's code until it ends.
        key.SetVk(shown);
        const uint64_t ticket =
            BeginKeyEdit(*dev, {KeyEdit::Kind::Code, s, layer, uint32_t(shown), code});
        const uint32_t job = SubmitAssignKeyJob(*dev, s, layer, code, true);
        FollowJob(dev->DevIdx(), job, PromptText("keyWriteJob"), s);
        TrackKeyWrite(dev->DevIdx(), job, ticket, false);
        return 0;
    }
    const uint64_t ticket =
        BeginKeyEdit(*dev, {KeyEdit::Kind::Code, s, layer, uint32_t(shown), code});
    const int result = dev->AssignKey(s, layer, code, true);
    FinishKeyEdit(*dev, ticket, result == kSessionOk);
    if (result != kSessionOk) {
        // Nothing was written: the button shows what the key really holds.
        key.SetVk(dev->Snapshot().slots[slot].vk[static_cast<size_t>(layer)]);
        SetStatus(QString::fromStdString(SessionResultText(result, g_strLanguage)));
    } else {
        key.SetVk(code);
        // An unassigned key that got its code counts as assigned now.
        ShowCounts();
    }
    key.update();
    return result == kSessionOk ? 0 : 1;
}

int CTavrikDlg::OnRefreshScan() {
    notice_.clear();
    if (CCCDev* dev = SelSession()) {
        // Pausing waits for a running pass: the job's worker does it, not this thread.
        SubmitRescanJob(*dev);
    }
    return 0;
}

int CTavrikDlg::OnOneClickProgram() {
    QTimer::singleShot(50, this, [this] {
        for (int s = 0; s < static_cast<int>(kKeySlots); ++s) {
            view_->Key(s).update();
        }
    });
    return 0;
}

int CTavrikDlg::OnVkChange(uint32_t wParam, uint32_t lParam) {
    ObserveHistory(UnpackSlotDev(wParam).dev);
    if (!IsSelected(wParam)) {
        return 1;
    }
    const SlotDev sd = UnpackSlotDev(wParam);
    if (sd.slot < 0 || sd.slot >= static_cast<int>(kKeySlots)) {
        return 1;
    }
    // The notification carries one layer's code (an insert reports all four, layer 0
    // last): the button shows the shown layer's value from the key table instead.
    static_cast<void>(lParam);
    const SessionSnapshot snap = SelSession()->Snapshot();
    CMyButton& key = view_->Key(sd.slot);
    const int layer = key.Layer() & 3;
    const int vk = snap.slots[static_cast<size_t>(sd.slot)].vk[static_cast<size_t>(layer)];
    if (key.Vk() != vk) {
        key.SetVk(vk);
        key.update();
    }
    return 0;
}

int CTavrikDlg::OnSummaryChange(uint32_t wParam, uint32_t lParam) {
    ObserveHistory(UnpackSummaryState(wParam).dev);
    if (!IsSelected(wParam)) {
        return 1;
    }
    CCCDev* dev = SelSession();
    switch (UnpackSummaryState(wParam).state) {
        case kSummaryScanning:
            if (!StatusHeld()) {
                SetStatusKey("scanningKeys");
            }
            break;
        case kSummaryNoKeys:
            view_->HideKeysView();
            view_->SetPromptPicture(2);
            if (!ShowControllerStageB(dev->Snapshot())) {
                SetStatusKey("plsinstallkey");
            }
            break;
        case kSummaryKeysFound: {
            const KeyCounts c = UnpackCounts(lParam);
            if (!StatusHeld()) {
                SetStatus(
                    QString::fromStdString(FillNumbers(GetPromptText("scanresult", g_strLanguage),
                                                       {c.total, c.assigned, c.boot, c.blank})));
            }
            view_->ShowKeysView(dev->Snapshot());
            dev->SetHostView(true);
            break;
        }
        default:
            break;
    }
    return 0;
}

// A failure said in the status line stays until the user acts again; a followed job's
// progress and, for a moment, its end are not replaced by the scan that follows the job
// (the counts come back when the moment is over).
bool CTavrikDlg::StatusHeld() const {
    if (!notice_.isEmpty() || (countsTimer_ != nullptr && countsTimer_->isActive())) {
        return true;
    }
    return hub_->Count() > 0 && shownJob_[static_cast<size_t>(hub_->Selected())].id != 0;
}

int CTavrikDlg::OnUpdateAllKeys(uint32_t wParam) {
    if (!IsSelected(wParam)) {
        return 1;
    }
    const SessionSnapshot snap = SelSession()->Snapshot();
    view_->UpdatePageControls(snap);
    view_->ShowPage(snap);
    return 0;
}

int CTavrikDlg::OnKeyPressed(uint32_t wParam) {
    if (!IsSelected(wParam)) {
        return 1;
    }
    const SlotDev sd = UnpackSlotDev(wParam);
    if (sd.slot < 0 || sd.slot >= static_cast<int>(kKeySlots)) {
        return 1;
    }
    if (PageOfSlot(sd.slot) != view_->ShownPage()) {
        OnPageSwitch();
    }
    view_->DeselectKeys(sd.slot);
    view_->Key(sd.slot).SetSelected(true);
    return 0;
}

int CTavrikDlg::OnKeyReleased(uint32_t wParam) {
    if (!IsSelected(wParam)) {
        return 1;
    }
    const SlotDev sd = UnpackSlotDev(wParam);
    if (sd.slot >= 0 && sd.slot < static_cast<int>(kKeySlots)) {
        view_->Key(sd.slot).SetSelected(false);
    }
    return 0;
}

int CTavrikDlg::OnKeyboardSelect(int k) {
    if (k < 0 || k >= kHubSlots || !hub_->IsAttached(k)) {
        return 1;
    }
    notice_.clear();
    for (int i = 0; i < kHubSlots; ++i) {
        CKeyBoardButton& tab = view_->KeyboardTab(i);
        if (tab.Selected() && hub_->IsAttached(i)) {
            hub_->Session(i).SetHostActive(0);
        }
        tab.SetSelected(i == k);
        tab.update();
    }
    hub_->Select(k);
    CCCDev& dev = hub_->Session(k);
    view_->ShowPage(dev.Snapshot());
    dev.RefreshSummary();
    dev.SetHostActive(1);
    return 1;
}

int CTavrikDlg::OnLayerSelect(int layer) {
    if (layer < 0 || layer > 3) {
        return 1;
    }
    for (int i = 0; i < kHubSlots; ++i) {
        hub_->Session(i).SetLayer(layer);
    }
    view_->SelectLayer(layer);
    if (CCCDev* dev = SelSession()) {
        view_->ShowPage(dev->Snapshot());
    }
    return 0;
}

int CTavrikDlg::OnOtherKeyboardLayer(uint32_t wParam) {
    const int from = static_cast<int>(wParam & 0xFF);
    for (int i = 0; i < kHubSlots; ++i) {
        if (i != from && hub_->IsAttached(i)) {
            hub_->Session(i).RelayLayerSwitch(wParam);
        }
    }
    return 1;
}

int CTavrikDlg::OnPageSwitch() {
    CCCDev* dev = SelSession();
    if (dev == nullptr) {
        return 0;
    }
    const int sel = dev->DevIdx();
    view_->SetDevPage(sel, view_->DevPage(sel) ^ 1);
    view_->ShowPage(dev->Snapshot());
    return 0;
}

void CTavrikDlg::FollowJob(int dev, uint32_t id, const QString& caption, int keySlot,
                           std::function<QString(const JobStatus&)> ended) {
    if (dev < 0 || dev >= kHubSlots) {
        return;
    }
    const bool ownEnd = static_cast<bool>(ended);
    shownJob_[static_cast<size_t>(dev)] = {id, caption, keySlot, std::move(ended)};
    countsTimer_->stop();
    // A job may have ended before it was followed (a write left by a closed editor).
    const auto status = hub_->Session(dev).Jobs().Status(id);
    if (status && status->Finished()) {
        ShowJobEnd(dev, *status);
    } else if (ownEnd || (hub_->Count() > 0 && dev == hub_->Selected())) {
        SetStatus(caption + QString::fromUtf8(" …"));
    }
}

// A job of the selected keyboard shows its progress in the status line, and the buttons
// follow the key table as it goes; its end is said, then the counts come back. A job
// followed with its own end text says it whichever keyboard is selected: a failure is
// never left unsaid.
int CTavrikDlg::OnJobState(uint32_t wParam, uint32_t lParam) {
    const int dev = static_cast<int>(wParam & 0xFF);
    const uint32_t id = JobIdOf(wParam);
    if (dev < 0 || dev >= kHubSlots || shownJob_[static_cast<size_t>(dev)].id != id) {
        return 1;
    }
    const ShownJob& job = shownJob_[static_cast<size_t>(dev)];
    const bool ownEnd = static_cast<bool>(job.ended);
    const JobState state = JobStateOf(lParam);
    if (IsFinished(state)) {
        const auto status = hub_->Session(dev).Jobs().Status(id);
        JobStatus end;
        end.id = id;
        end.state = state;
        ShowJobEnd(dev, status ? *status : end);
        return 0;
    }
    if (!ownEnd && !IsSelected(wParam)) {
        return 1;
    }
    if (state == JobState::Progress && job.keySlot < 0 && IsSelected(wParam)) {
        view_->RefreshShownKeys(hub_->Session(dev).Snapshot());
    }
    const int percent = JobPercentOf(lParam);
    const QString text =
        job.caption + (percent > 0 ? QString("  %1%").arg(percent) : QString::fromUtf8(" …"));
    SetStatus(text);
    if (tray_ != nullptr && ownEnd) {
        tray_->setToolTip(text.left(127));
    }
    return 0;
}

void CTavrikDlg::ShowJobEnd(int dev, const JobStatus& status) {
    const ShownJob job = std::move(shownJob_[static_cast<size_t>(dev)]);
    shownJob_[static_cast<size_t>(dev)] = {};
    if (job.ended) {
        if (tray_ != nullptr) {
            tray_->setToolTip(TaskBarText("KBName").left(127));
        }
        if (status.state == JobState::Done) {
            SetStatus(job.ended(status));
        } else {
            SetNotice(job.ended(status));
        }
        if (hub_->Count() > 0 && dev == hub_->Selected() && view_->KeysShown()) {
            view_->RefreshShownKeys(hub_->Session(dev).Snapshot());
        }
        return;
    }
    if (hub_->Count() == 0 || dev != hub_->Selected()) {
        return;
    }
    // Every button shows what the key table holds now, whatever the job managed.
    const SessionSnapshot snap = hub_->Session(dev).Snapshot();
    if (view_->KeysShown()) {
        view_->RefreshShownKeys(snap);
    }
    SetStatus(JobEndText(hub_->Ref(dev), job.caption, status));
    countsTimer_->start();
}

QString CTavrikDlg::JobEndText(const KeyboardRef& keyboard, const QString& caption,
                               const JobStatus& status) const {
    if (status.state == JobState::Done) {
        return caption + ": " + PromptText("jobDone");
    }
    if (status.result == kJobKeyboardGone) {
        return KeyboardGuard(*hub_, keyboard).GoneText();
    }
    const QString reason =
        status.result > kJobCancelled
            ? QString::fromStdString(SessionResultText(status.result, g_strLanguage))
            : QString::fromStdString(status.message);
    return caption + ": " + PromptText("jobFailed") + " " + reason;
}

void CTavrikDlg::ShowCounts() {
    CCCDev* dev = SelSession();
    if (dev == nullptr || shownJob_[static_cast<size_t>(dev->DevIdx())].id != 0 ||
        !notice_.isEmpty()) {
        return;
    }
    const SessionSnapshot snap = dev->Snapshot();
    if (!view_->KeysShown()) {
        return;
    }
    const KeyCounts c = CountsOfTable(snap);
    SetStatus(QString::fromStdString(FillNumbers(GetPromptText("scanresult", g_strLanguage),
                                                 {c.total, c.assigned, c.boot, c.blank})));
}

bool CTavrikDlg::ShowControllerStageB(const SessionSnapshot& snap) {
    if (snap.kbmcStage != 'B') {
        return false;
    }
    SetStatusKey("controllerStageB");
    // The table keeps a text on one line: "\n" marks its breaks.
    view_->ShowHelp(PromptText("controllerStageBHelp").replace("\\n", "\n"));
    return true;
}

}  // namespace tavrik::ui
