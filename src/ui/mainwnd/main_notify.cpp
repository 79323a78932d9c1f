// The main window's reactions to the engine's notifications and to its controls' clicks.
// Engine notifications arrive on the UI thread while the sending worker waits, so their
// handlers only call session operations that queue commands; the ones that wait for a
// reply (a colour, a key code) come from clicks, or run as jobs.
#include <QSystemTrayIcon>
#include <QTimer>

#include "app/app_globals.h"
#include "app/applog.h"
#include "app/texts.h"
#include "device/job_runner.h"
#include "device/keyboard_hub.h"
#include "device/notify_payload.h"
#include "device/session.h"
#include "device/session_jobs.h"
#include "device/session_result.h"
#include "ui/keypicker/key_button.h"
#include "ui/mainwnd/keyboard_view.h"
#include "ui/mainwnd/main_window.h"
#include "ui/widgets/control_codes.h"
#include "ui/widgets/keyboard_tab.h"
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
        case UM_JOB_STATE:
            return OnJobState(wParam, l);
        default:
            return 0;
    }
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
        // 90 keys take a while: a job, whose progress the status line shows.
        shownJob_[static_cast<size_t>(dev->DevIdx())] = SubmitAllKeyColorJob(*dev, colour);
        const int page = view_->ShownPage();
        for (int s = page * kKeysPerPage; s < (page + 1) * kKeysPerPage; ++s) {
            view_->Key(s).SetColor(colour);
            view_->Key(s).update();
        }
        return 0;
    }
    if (slot >= kKeySlots) {
        return -1;
    }
    DlgDebugLog("Change Idx " + std::to_string(slot) + " color in OnChangeOneKeyLightColor");
    const int result = dev->SetKeyColor(static_cast<int>(slot), colour);
    CMyButton& key = view_->Key(static_cast<int>(slot));
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

int CTavrikDlg::OnChangeKeyCode(uint32_t slot, uint32_t keyCode) {
    if (slot >= kKeySlots) {
        return -1;
    }
    CCCDev* dev = SelSession();
    if (dev == nullptr) {
        return 0;
    }
    const int layer = dev->Snapshot().curLayer & 3;
    // The user picked the code for this layer, so it replaces a macro there.
    const int result =
        dev->AssignKey(static_cast<int>(slot), layer, static_cast<uint8_t>(keyCode & 0xFF), true);
    CMyButton& key = view_->Key(static_cast<int>(slot));
    if (result != kSessionOk) {
        // Nothing was written: the button shows what the key really holds.
        key.SetVk(dev->Snapshot().slots[slot].vk[static_cast<size_t>(layer)]);
        SetStatus(QString::fromStdString(SessionResultText(result, g_strLanguage)));
    } else {
        key.SetVk(static_cast<int>(keyCode & 0xFF));
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
    if (!IsSelected(wParam)) {
        return 1;
    }
    const SlotDev sd = UnpackSlotDev(wParam);
    if (sd.slot < 0 || sd.slot >= static_cast<int>(kKeySlots)) {
        return 1;
    }
    CMyButton& key = view_->Key(sd.slot);
    if (key.Vk() != static_cast<int>(lParam)) {
        key.SetVk(static_cast<int>(lParam));
        key.update();
    }
    return 0;
}

int CTavrikDlg::OnSummaryChange(uint32_t wParam, uint32_t lParam) {
    if (!IsSelected(wParam)) {
        return 1;
    }
    CCCDev* dev = SelSession();
    switch (UnpackSummaryState(wParam).state) {
        case kSummaryScanning:
            // A failure said in the status line stays until the user acts again.
            if (notice_.isEmpty()) {
                SetStatusKey("scanningKeys");
            }
            break;
        case kSummaryNoKeys:
            SetStatusKey("plsinstallkey");
            view_->HideKeysView();
            view_->SetPromptPicture(2);
            break;
        case kSummaryKeysFound: {
            const KeyCounts c = UnpackCounts(lParam);
            if (notice_.isEmpty()) {
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
    ++generation_;
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

// A job of the selected keyboard shows its progress in the status line; its end brings
// the scan result back, or says what failed. A job followed with its own end text says
// it whichever keyboard is selected: a failure is never left unsaid.
int CTavrikDlg::OnJobState(uint32_t wParam, uint32_t lParam) {
    const int dev = static_cast<int>(wParam & 0xFF);
    const uint32_t id = JobIdOf(wParam);
    if (dev < 0 || dev >= kHubSlots || shownJob_[static_cast<size_t>(dev)] != id) {
        return 1;
    }
    const auto i = static_cast<size_t>(dev);
    const bool ownEnd = static_cast<bool>(jobEnded_[i]);
    if (!ownEnd && !IsSelected(wParam)) {
        return 1;
    }
    const JobState state = JobStateOf(lParam);
    const QString caption = jobCaption_[i].isEmpty() ? ButtonText("chAllColor") : jobCaption_[i];
    if (state == JobState::Started || state == JobState::Progress) {
        const QString text = caption + QString("  %1%").arg(JobPercentOf(lParam));
        if (ownEnd || IsSelected(wParam)) {
            SetStatus(text);
        }
        if (tray_ != nullptr && ownEnd) {
            tray_->setToolTip(text.left(127));
        }
        return 0;
    }
    if (!IsFinished(state)) {
        return 0;
    }
    shownJob_[i] = 0;
    const auto ended = std::move(jobEnded_[i]);
    jobEnded_[i] = {};
    jobCaption_[i].clear();
    const auto status = hub_->Session(dev).Jobs().Status(id);
    if (ownEnd) {
        if (tray_ != nullptr) {
            tray_->setToolTip(TaskBarText("KBName").left(127));
        }
        JobStatus gone;
        gone.state = JobState::Failed;
        gone.result = kJobKeyboardGone;
        const JobStatus& s = status ? *status : gone;
        if (s.state == JobState::Done) {
            SetStatus(ended(s));
        } else {
            SetNotice(ended(s));
        }
    } else if (state == JobState::Done) {
        SetStatus(caption + "  100%");
    } else if (status) {
        SetStatus(caption + ": " + QString::fromStdString(status->message));
    }
    return 0;
}

}  // namespace tavrik::ui
