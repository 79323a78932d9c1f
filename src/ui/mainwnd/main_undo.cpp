// Undo and redo of the key codes and colours changed in this window, per keyboard. The
// rules live in EditHistory (src/device); the window records its writes there, runs each
// undo as a job and hands the key table back when the job ends.
#include "app/app_globals.h"
#include "app/applog.h"
#include "device/job_runner.h"
#include "device/keyboard_hub.h"
#include "device/session.h"
#include "ui/common/keyboard_guard.h"
#include "ui/mainwnd/main_window.h"
#include "ui/widgets/control_codes.h"
#include "ui/widgets/ui_texts.h"
#include "ui/widgets/undo_buttons.h"

namespace tavrik::ui {

void CTavrikDlg::CreateUndoControls() {
    const UndoControls made = MakeUndoControls(this, Ltrb(780, 32, 816, 68), Ltrb(820, 32, 856, 68),
                                               [this](bool redo) { UndoKeyChange(redo); });
    undo_ = made.undo;
    redo_ = made.redo;
    RefreshUndoButtons();
}

EditHistory& CTavrikDlg::HistoryOf(int dev) {
    return histories_.For(hub_->Ref(dev));
}

void CTavrikDlg::UndoKeyChange(bool redo) {
    CCCDev* dev = SelSession();
    if (dev == nullptr) {
        return;
    }
    const int d = dev->DevIdx();
    notice_.clear();
    EditHistory& history = HistoryOf(d);
    history.Observe(dev->Snapshot());
    if (history.Busy()) {
        SetStatus(PromptText("undoBusy"));
        return;
    }
    const std::optional<KeyWrite> write = redo ? history.BeginRedo() : history.BeginUndo();
    if (!write) {
        SetStatus(PromptText(redo ? "nothingToRedo" : "nothingToUndo"));
        RefreshUndoButtons();
        return;
    }
    const KeyEdit& e = write->edit;
    DlgLog(std::string(redo ? "Redo" : "Undo") + " of key " + std::to_string(e.slot) +
           (e.kind == KeyEdit::Kind::Colour ? " colour"
                                            : " code on layer " + std::to_string(e.layer)));
    const uint32_t job = SubmitKeyWriteJob(*dev, *write);
    const QString context = KeyboardGuard(*hub_, hub_->Ref(d))
                                .Context(e.slot, e.kind == KeyEdit::Kind::Code ? e.layer : -1);
    // Its end is said whichever keyboard is selected then; a failure stays until the user acts.
    const QString caption = PromptText(redo ? "redoJob" : "undoJob") + " (" + context + ")";
    const KeyboardRef keyboard = hub_->Ref(d);
    FollowJob(d, job, caption, e.slot, [this, keyboard, caption](const JobStatus& status) {
        return JobEndText(keyboard, caption, status);
    });
    TrackKeyWrite(d, job, write->ticket, true);
    RefreshUndoButtons();
}

uint64_t CTavrikDlg::BeginKeyEdit(CCCDev& dev, const KeyEdit& edit) {
    EditHistory& history = HistoryOf(dev.DevIdx());
    history.Observe(dev.Snapshot());
    return history.BeginEdit(edit);
}

void CTavrikDlg::FinishKeyEdit(CCCDev& dev, uint64_t ticket, bool written, bool undoOrRedo) {
    const auto outcome = HistoryOf(dev.DevIdx()).Finish(ticket, dev.Snapshot(), written);
    // After the job's end was said; a keyboard that went takes its history with it.
    if (undoOrRedo && outcome == EditHistory::Outcome::Ended && !dev.TransportGone()) {
        SetNotice(StatusText() + "  " + PromptText("historyEnded"));
    }
    RefreshUndoButtons();
}

void CTavrikDlg::TrackKeyWrite(int dev, uint32_t job, uint64_t ticket, bool undoOrRedo) {
    keyWrites_.push_back({dev, job, ticket, undoOrRedo});
    // A job may end before it is tracked; its end notification then finds nothing.
    const auto status = hub_->Session(dev).Jobs().Status(job);
    if (status && status->Finished()) {
        EndKeyWrite(dev, job);
    }
}

void CTavrikDlg::EndKeyWrite(int dev, uint32_t job) {
    for (auto it = keyWrites_.begin(); it != keyWrites_.end(); ++it) {
        if (it->dev == dev && it->job == job) {
            const KeyWriteJob write = *it;
            keyWrites_.erase(it);
            if (hub_->IsAttached(dev)) {
                CCCDev& session = hub_->Session(dev);
                const auto status = session.Jobs().Status(job);
                const bool written = status && status->state == JobState::Done;
                FinishKeyEdit(session, write.ticket, written, write.undoOrRedo);
            }
            return;
        }
    }
}

void CTavrikDlg::ObserveHistory(int dev) {
    if (dev >= 0 && dev < kHubSlots && hub_->IsAttached(dev)) {
        HistoryOf(dev).Observe(hub_->Session(dev).Snapshot());
    }
}

void CTavrikDlg::ForgetHistory(int dev) {
    histories_.Drop(dev);
    std::erase_if(keyWrites_, [dev](const KeyWriteJob& w) { return w.dev == dev; });
    RefreshUndoButtons();
}

void CTavrikDlg::RefreshUndoButtons() {
    if (undo_ == nullptr || !hub_) {
        return;
    }
    const int sel = hub_->Count() > 0 ? hub_->Selected() : -1;
    const bool attached = sel >= 0 && hub_->IsAttached(sel);
    const EditHistory* history = attached ? &HistoryOf(sel) : nullptr;
    const bool idle = history != nullptr && !history->Busy();
    undo_->setEnabled(idle && history->UndoCount() > 0);
    redo_->setEnabled(idle && history->RedoCount() > 0);
    undo_->update();
    redo_->update();
}

}  // namespace tavrik::ui
