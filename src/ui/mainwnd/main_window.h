// The program's only top-level window: frameless, 1060 x 560, its own background and
// controls. It owns the keyboard hub (four transports and sessions), shows the selected
// keyboard through the keyboard view, receives every notification of the engine (on the
// UI thread, while the sending worker waits) and of its controls, and can live in the tray.
#pragma once

#include <QPointer>
#include <QWidget>
#include <array>
#include <atomic>
#include <condition_variable>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "app/settings.h"
#include "device/edit_history.h"
#include "device/notify.h"
#include "ui/mainwnd/my_button_host.h"
#include "ui/settings/setup_host.h"
#include "ui/widgets/notify_sink.h"

class QMenu;
class QTimer;
class QSocketNotifier;
class QSystemTrayIcon;

namespace tavrik {
class CCCDev;
class OnlineUpdateService;
struct JobStatus;
struct UpdateConfig;
struct UpdateTimings;
class DeviceMonitor;
class HidBackend;
class KeyboardHub;
struct SessionSnapshot;
struct JobStatus;
}  // namespace tavrik

namespace tavrik::ui {

class CInfoButton;
class CSetupButton;
class CSetupDlg;
class CUndoButton;
class UpdateBridge;
class KeyboardView;

// With TAVRIK_TIMING set, writes "tavrik-timing <what> <wall-clock ns>" to stderr: the
// start-up measurement (scripts/measure-window) compares them with the time it started the
// program.
void ReportTiming(const char* what);

inline constexpr int kWindowWidth = 1060;
inline constexpr int kWindowHeight = 560;

// What start-up hands the window.
struct MainWindowSetup {
    std::unique_ptr<HidBackend> backend;  // hidapi, or simulated keyboards
    double simPauseScale = 1.0;
    int simReplySlackMs = 0;
    bool autoBoot = false;             // started with "-auto"
    std::string commandLine;           // for the log
    std::filesystem::path dataFolder;  // settings file; empty: the user's data folder
    bool askLanguage = true;           // the first run's language question (tests: off)
    // The keyboards are attached, the tray icon made and the update threads started right
    // after the window's first frame instead of before it is shown, which the user would
    // otherwise wait for. Tests do all at once.
    bool attachAfterFirstFrame = false;
    // The online update's threads start with the window (tests start them themselves).
    bool onlineUpdate = true;
    // Tests: a tray icon is made even where the platform reports no tray.
    bool assumeTray = false;
};

class CTavrikDlg : public QWidget,
                   public NotifySink,
                   public NotifyTarget,
                   public MyButtonHost,
                   public SetupHost {
    Q_OBJECT
public:
    explicit CTavrikDlg(QWidget* parent = nullptr);
    // Shutdown: position stored, sessions closed, tray icon removed.
    ~CTavrikDlg() override;

    // The initialisation after construction: settings, sessions, controls, attach, tray,
    // placement. Returns false only when the window cannot work at all.
    bool Init(MainWindowSetup setup);

    // Control notifications (UI thread).
    int OnNotify(uint32_t code, uint32_t wParam, int32_t lParam) override;
    // Engine notifications: delivered on the UI thread by the sessions' channels.
    void Notify(uint32_t code, uint32_t wParam, uint32_t lParam) override;

    // MyButtonHost.
    void DeselectKeys(int slot) override;
    void LedHighlightOn(int slot, uint32_t colour) override;
    void LedHighlightOff(int slot, uint32_t colour) override;
    QPoint DialogPosition() const override;
    KeyPickInputs PickInputs(int slot) const override;
    void RunMarcoEditor(const MarcoEditInputs& inputs) override;
    KeyboardRef ShownKeyboard() const override;
    bool ConfirmKeyboard(const KeyboardRef& ref) override;
    void KeyCodePicked(int slot, int keyCode) override;
    void KeyColourPicked(int slot, uint32_t colour) override;

    // Keys at window level, before the control with the focus: Escape, the arrows and F1
    // are swallowed; the left Shift key is followed.
    bool eventFilter(QObject* watched, QEvent* event) override;

    // The tray's "exit", SIGTERM, SIGINT: the window closes and the program ends. While a
    // firmware upgrade runs it ends after the upgrade: the tray's exit asks first
    // (`ask`); a signal, which nobody may be there to answer, does not.
    void ExitProgram(bool ask = true);
    // A second copy asked, or the tray icon was clicked: shown, raised, scan requested.
    void ShowFromTray();

    // ---- What tests and the start-up read ----
    KeyboardHub& Hub() { return *hub_; }
    KeyboardView& View() { return *view_; }
    int SelDev() const;
    bool HasTray() const { return trayAdded_; }
    QString StatusText() const;
    AppSettings& Settings() { return *settings_; }
    // The hidden-in-the-tray state (or minimised where there is no tray).
    bool HiddenToTray() const { return hiddenToTray_; }
    // Handles the device monitor's events now (the socket notifier does it otherwise).
    void ProcessDeviceEvents();

    // ---- Settings window and online update (main_settings.cpp, main_update.cpp) ----
    // SetupHost.
    CCCDev* KeyboardFor(const KeyboardRef& ticket) override;
    void RefreshUpdateBadge() override;
    std::string InstallerUrl() const override;
    void FollowUpgrade(const KeyboardRef& ticket, uint32_t job, bool controller) override;
    // The selected keyboard as a dialog remembers it.
    // The open settings window, or null.
    CSetupDlg* SettingsDialog() const { return settingsDlg_; }
    // A firmware upgrade runs on some keyboard.
    bool UpgradeRunning() const;
    // The gear button's click: the settings window, modal; its changes applied after it.
    void OpenSettings();
    OnlineUpdateService* Updates() { return updates_.get(); }
    CSetupButton& SettingsButton() { return *setup_; }
    // Starts the online update with `config` (Init does it with the tool's configuration).
    void StartUpdates(const UpdateConfig& config, const UpdateTimings& timings);
    void StopUpdates();
    // ---- end of the settings and update block ----

    // ---- Undo and redo of key changes (main_undo.cpp) ----
    // Ctrl+Z / Ctrl+Shift+Z and the two buttons: the selected keyboard's last key change
    // taken back or again, as a job the status line follows.
    void UndoKeyChange(bool redo);
    EditHistory& HistoryOf(int dev);
    CUndoButton& UndoButton(bool redo) { return *(redo ? redo_ : undo_); }
    // ---- end of the undo block ----

Q_SIGNALS:
    // After every handled engine notification (tests wait on it).
    void engineNotified(uint32_t code);

protected:
    void paintEvent(QPaintEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    // Start-up.
    void CreateControls();
    void FinishStart();
    void AttachAtStart();
    void StartDeviceMonitor();
    void AddTrayIcon();
    void PlaceWindow();
    void StartMinimizeThread();
    void DeliverNotifications();
    // The window's place, for the next start; once, at the end.
    void StorePosition();

    // Attach and detach.
    void OnDeviceArrival(const std::string& path);
    void OnDeviceRemoval(const std::string& path);
    void AfterAttach(int slot, bool first);
    void UpdateKeyboardButtons();
    void ReportDeniedKeyboards();
    void ReportUnreachableKeyboards();
    void ShowLongHelp(const char* titleKey, const std::string& text);

    // Notification reactions.
    int OnHideToTray();
    int OnChangeColor(uint32_t slot, uint32_t colour);
    int OnChangeKeyCode(uint32_t slot, uint32_t keyCode);
    int OnRefreshScan();
    int OnOneClickProgram();
    int OnVkChange(uint32_t wParam, uint32_t lParam);
    int OnSummaryChange(uint32_t wParam, uint32_t lParam);
    int OnUpdateAllKeys(uint32_t wParam);
    int OnKeyPressed(uint32_t wParam);
    int OnKeyReleased(uint32_t wParam);
    int OnKeyboardSelect(int k);
    int OnLayerSelect(int layer);
    int OnOtherKeyboardLayer(uint32_t wParam);
    int OnPageSwitch();
    int OnJobState(uint32_t wParam, uint32_t lParam);
    // "Color All Keys": the chooser, then a job on the keyboard it was opened for.
    void ChooseAllKeysColour();
    // Shows the progress and the end of job `id` of keyboard `dev` in the status line,
    // under `caption`; `keySlot` >= 0 names the key whose button waits for the job's end.
    // With `ended`, the end shows what it makes of the job's status whichever keyboard is
    // selected then, a failure as a notice that scans do not replace.
    void FollowJob(int dev, uint32_t id, const QString& caption, int keySlot = -1,
                   std::function<QString(const JobStatus&)> ended = {});
    void ShowJobEnd(int dev, const JobStatus& status);
    // "<caption>: done", "<caption>: failed: <reason>", or that `keyboard` went.
    QString JobEndText(const KeyboardRef& keyboard, const QString& caption,
                       const JobStatus& status) const;
    bool StatusHeld() const;
    // The counts of the selected keyboard's key table in the status line.
    void ShowCounts();
    // The selected keyboard's controller waits for its firmware: said instead of "no keys".
    bool ShowControllerStageB(const SessionSnapshot& snap);
    CCCDev* SelSession();
    bool IsSelected(uint32_t wParam) const;
    void SetStatus(const QString& text);
    void SetStatusKey(const char* key);

    // ---- Undo and redo (main_undo.cpp) ----
    void CreateUndoControls();
    // A key change of the window starts / ended (`written`: its write reported success;
    // the key table tells the rest).
    uint64_t BeginKeyEdit(CCCDev& dev, const KeyEdit& edit);
    void FinishKeyEdit(CCCDev& dev, uint64_t ticket, bool written, bool undoOrRedo = false);
    // The write of `ticket` runs as job `job` of keyboard `dev`.
    void TrackKeyWrite(int dev, uint32_t job, uint64_t ticket, bool undoOrRedo);
    // Job `job` of `dev` ended: the history learns what its write did.
    void EndKeyWrite(int dev, uint32_t job);
    // What keyboard `dev` reports now, held against what its history expects.
    void ObserveHistory(int dev);
    void ForgetHistory(int dev);
    void RefreshUndoButtons();
    struct KeyWriteJob {
        int dev = 0;
        uint32_t job = 0;
        uint64_t ticket = 0;
        bool undoOrRedo = false;
    };
    EditHistories histories_;
    std::vector<KeyWriteJob> keyWrites_;
    CUndoButton* undo_ = nullptr;
    CUndoButton* redo_ = nullptr;

    // ---- Settings window and online update (main_settings.cpp, main_update.cpp) ----
    SetupState CollectSetupState();
    void ApplySettings(const SetupState& opened, const SetupState& edited);
    // A failure in the status line that scan summaries do not replace until the user
    // acts again (settings, refresh, another keyboard).
    void SetNotice(const QString& text);
    QString notice_;
    // Exit asked while an upgrade runs: asks (with `ask`), then waits for the upgrade's end
    // and says so in the status line and the log.
    bool DeferExitForUpgrade(bool ask);
    CSetupDlg* settingsDlg_ = nullptr;
    bool exitAfterUpgrade_ = false;
    std::unique_ptr<UpdateBridge> updateBridge_;
    std::unique_ptr<OnlineUpdateService> updates_;
    // ---- end of the settings and update block ----

    std::unique_ptr<AppSettings> settings_;
    std::unique_ptr<KeyboardHub> hub_;
    std::unique_ptr<DeviceMonitor> monitor_;
    QPointer<QSocketNotifier> monitorNotifier_;
    std::unique_ptr<KeyboardView> view_;
    CInfoButton* status_ = nullptr;
    CSetupButton* setup_ = nullptr;
    QSystemTrayIcon* tray_ = nullptr;
    QMenu* trayMenu_ = nullptr;
    bool trayAdded_ = false;
    bool assumeTray_ = false;
    bool hiddenToTray_ = false;
    bool autoBoot_ = false;
    std::string commandLine_;
    int storedLeft_ = -1;
    int storedTop_ = -1;
    bool shutDown_ = false;
    bool exiting_ = false;
    bool positionStored_ = false;
    bool painted_ = false;
    bool startPending_ = false;  // FinishStart follows the first frame
    bool onlineUpdate_ = true;
    bool dragging_ = false;
    QPoint dragOffset_;
    bool deniedReported_ = false;
    bool m_bLShiftDown = false;
    std::atomic<int> m_bHidePending{1};
    std::thread minimizeThread_;
    std::mutex minimizeMutex_;
    std::condition_variable minimizeCv_;
    bool minimizeStop_ = false;
    // The job whose progress the status line shows, per keyboard.
    struct ShownJob {
        uint32_t id = 0;
        QString caption;
        int keySlot = -1;
        std::function<QString(const JobStatus&)> ended;
    };
    std::array<ShownJob, 4> shownJob_{};
    // Counts return to the status line a moment after a job's end was said.
    QTimer* countsTimer_ = nullptr;
};

}  // namespace tavrik::ui
