// The macro editor of one key slot: records key messages the dialog receives, edits the
// step list, chooses the playing mode, writes the macro to the key or reads it back (as
// jobs of the keyboard's session, so the window never waits for the keyboard) and saves
// or loads macro files. The editing rules live in MarcoEditor; this window shows them.
#pragma once

#include <QElapsedTimer>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "macro/marco_editor.h"
#include "macro/marco_step_history.h"
#include "ui/widgets/keyboard_dialog.h"

class QComboBox;
class QGroupBox;
class QKeyEvent;
class QListWidget;

namespace tavrik {
class CCCDev;
struct JobStatus;
}  // namespace tavrik

namespace tavrik::ui {

class CInfoButton;
class CMyCheckButton;
class ClickSdMsgButton;
class CUndoButton;

inline constexpr int kMarcoDlgWidth = kKeyboardDialogWidth;
inline constexpr int kMarcoDlgHeight = kKeyboardDialogHeight;
inline constexpr int kMarcoStepListId = 1016;
inline constexpr int kMarcoModeListId = 1021;

class CMarcoDlg : public ModalDialog<CMarcoDlg> {
    Q_OBJECT
public:
    // The macro of `slot` on `layer` of the keyboard `keyboard` was opened for. It writes
    // to that keyboard only: once it went (another may have taken its slot) every transfer
    // is refused with a message saying so. The hub must outlive the dialog.
    CMarcoDlg(KeyboardGuard keyboard, int slot, int layer, QWidget* parent = nullptr);
    ~CMarcoDlg() override;

    // Back, Escape and the close button: asks first when an unsaved macro would be lost.
    void reject() override;
    int OnNotify(uint32_t code, uint32_t wParam, int32_t lParam) override;

    const MarcoEditor& Editor() const { return editor_; }
    QListWidget* StepList() const { return steps_; }
    QComboBox* ModeList() const { return modes_; }
    ClickSdMsgButton* Button(uint32_t code) const;
    CMyCheckButton* DelaySwitch() const { return delaySwitch_; }
    CInfoButton* DelayLabel() const { return delayLabel_; }
    CInfoButton* Prompt() const { return prompt_; }
    // The list holds steps that were neither written to the key nor saved to a file (nor
    // read from either) as they are now.
    bool Unsaved() const;
    // A write this dialog started that had not ended when the dialog closed; 0 for none.
    // The main window follows it and says how it ended.
    uint32_t WriteLeftRunning() const { return writeLeft_; }
    // A write or read job of this dialog has not finished yet.
    bool JobPending() const { return jobId_ != 0; }
    uint32_t PendingJob() const { return jobId_; }
    // Ctrl+Z / Ctrl+Shift+Z and the two buttons: the step list before the last edit, or
    // after the last undone one (marco_undo.cpp).
    void UndoSteps(bool redo);
    CUndoButton* UndoButton(bool redo) const { return redo ? redoButton_ : undoButton_; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void done(int result) override;

private:
    enum class JobKind { None, Write, Read };

    ClickSdMsgButton* AddButton(const char* textKey, uint32_t code, int l, int t, int r, int b);
    bool RecordKeyEvent(QKeyEvent* event);
    int SelectedLine() const;
    void Refresh();
    void ShowLines();
    void ShowEditingButtons(bool on);
    void Say(std::string_view messageKey);
    void StartRecording();
    void StopRecording();
    void ClearList();
    void InsertLoopStart();
    void ChangeDelay();
    void ModeChosen(int index);
    void LoadRecord(const MarcoRecord& record);
    // `refusal`: the message key of the rule a macro that was not taken breaks.
    void ShowLoaded(std::string_view refusal);
    // The list as a macro (the recording stopped); nothing, after saying why, when the
    // list is empty or fails its checks.
    std::optional<MarcoRecord> EncodeList();
    void WriteToKey();
    void ReadFromKey();
    void SaveToFile();
    void LoadFromFile();
    void StartJob(JobKind kind, uint32_t id);
    // The running job moved on (its state notification, or its keyboard went): shows its
    // progress, or what it ended with.
    void FollowJob();
    void JobEnded(JobKind kind, const std::optional<JobStatus>& status);
    // The session of the keyboard the dialog was opened for; null, after saying so, once
    // it went.
    CCCDev* Target();
    void MarkSaved();
    void CreateUndoControls();
    // Notes the list after an action and greys the undo buttons that cannot act.
    void RefreshUndo();
    MarcoStepHistory history_;
    CUndoButton* undoButton_ = nullptr;
    CUndoButton* redoButton_ = nullptr;

    // The session the running job was submitted to (sessions live as long as the hub).
    CCCDev* jobDev_ = nullptr;
    uint32_t writeLeft_ = 0;
    std::vector<std::string> savedLines_;
    int savedMode_ = 0;
    int slot_;
    int layer_;
    MarcoEditor editor_;
    QElapsedTimer clock_;

    CInfoButton* prompt_;
    CInfoButton* delayLabel_;
    CMyCheckButton* delaySwitch_;
    QGroupBox* frame_;
    QComboBox* modes_;
    QListWidget* steps_;
    std::map<uint32_t, ClickSdMsgButton*> buttons_;

    uint32_t jobId_ = 0;
    JobKind jobKind_ = JobKind::None;
    std::shared_ptr<MarcoRecord> readInto_;
};

}  // namespace tavrik::ui
