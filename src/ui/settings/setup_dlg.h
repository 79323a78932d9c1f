// The settings window: the tool's options, the selected keyboard's modes, the language, the
// version table with its upgrade buttons, and links. It edits a copy (State()); the window
// that opened it applies the changes after it closed. The firmware upgrades it starts run
// as jobs of the keyboard's session; meanwhile the window keeps painting, shows the
// progress on the row's button and refuses to close.
#pragma once

#include <QDialog>
#include <QTimer>
#include <array>
#include <cstdint>
#include <functional>
#include <memory>

#include "protocol/fwimage.h"
#include "ui/settings/setup_state.h"
#include "ui/widgets/notify_sink.h"

namespace tavrik::ui {

class CBackButton;
class CCloseButton;
class CInfoButton;
class CLanguageSelButton;
class CMyCheckButton;
class CPictureButton;
class CStartUpgradeButton;
class CUsbPollButton;
class ClickSdMsgButton;
class SetupHost;

inline constexpr int kSetupDlgWidth = 1060;
inline constexpr int kSetupDlgHeight = 560;

// Commands of the version table's buttons (lParam of UM_START_UPGRADE).
inline constexpr int kCmdDownloadApp = 1;
inline constexpr int kCmdUpgradeKbmc = 2;
inline constexpr int kCmdUpgradeKeys = 3;

// Switch numbers (lParam of UM_CHECK_BUTTON).
inline constexpr int kSwitchStartWithWin = 1;
inline constexpr int kSwitchMinAfterStart = 2;
inline constexpr int kSwitchCheckUpdates = 3;
inline constexpr int kSwitchNkro = 4;
inline constexpr int kSwitchOverload = 5;

class CSetupDlg : public QDialog, public NotifySink {
    Q_OBJECT
public:
    CSetupDlg(const SetupState& state, SetupHost& host, QWidget* parent = nullptr);
    ~CSetupDlg() override;

    // Runs the window modally (or through the exec hook); returns when it closed.
    void RunModal();
    int OnNotify(uint32_t code, uint32_t wParam, int32_t lParam) override;

    const SetupState& State() const { return state_; }
    bool UpgradeRunning() const { return job_ != 0; }

    // For tests and the screenshot: the controls.
    CMyCheckButton* Switch(int number) const;
    CUsbPollButton* RateSelector() const { return rate_; }
    CLanguageSelButton* LanguageSelector() const { return language_; }
    // Null when the row has no button.
    CStartUpgradeButton* ActionButton(int command) const;
    ClickSdMsgButton* KeyCountButton() const { return keyCount_; }
    CCloseButton* CloseButton() const { return close_; }
    CBackButton* BackButton() const { return back_; }
    CInfoButton* KeyboardLabel(int n) const;    // 1 or 2; null without them
    CInfoButton* CurrentCell(int row) const;    // rows 0..2
    CInfoButton* AvailableCell(int row) const;  // rows 0..2
    CInfoButton* SiteLink() const { return site_; }

    // Replaces exec() in RunModal; the hook gets the shown window. Empty: exec() again.
    using ExecHook = std::function<void(CSetupDlg& dialog)>;
    static void SetExecHook(ExecHook hook);
    // Progress polls of an upgrade before it counts as not finished (one a second).
    static constexpr int kUpgradePollLimit = 240;
    static void SetUpgradePollLimit(int polls);

protected:
    void paintEvent(QPaintEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void done(int result) override;

private:
    void CreateControls();
    void CreateVersionTable();
    void CreateLinks();
    CInfoButton* Label(const QString& text, int l, int t, int r, int b);
    void OnSwitch(int number);
    void OnOverloadSwitch();
    void OnKeyCount();
    // The upgrade workflow (setup_upgrade.cpp).
    void OnUpgradeCommand(int command);
    FirmwareImagePtr LoadCheckedImage(bool& bigChange);
    void PollUpgrade();
    void UpgradeEnded();
    void ShowRowDone(int command);
    QString UpgradeText(int command, const char* moment) const;
    bool RefuseWhileUpgrading();

    SetupState state_;
    SetupHost& host_;
    bool shiftNow_ = false;

    CCloseButton* close_ = nullptr;
    CBackButton* back_ = nullptr;
    std::array<CMyCheckButton*, 5> switches_{};
    CUsbPollButton* rate_ = nullptr;
    CLanguageSelButton* language_ = nullptr;
    ClickSdMsgButton* keyCount_ = nullptr;
    std::array<CStartUpgradeButton*, 3> actions_{};
    std::array<CInfoButton*, 3> current_{};
    std::array<CInfoButton*, 3> available_{};
    std::array<CInfoButton*, 2> keyboardLabels_{};
    CInfoButton* site_ = nullptr;

    // The running upgrade.
    uint32_t job_ = 0;
    int jobCommand_ = 0;
    bool bigChange_ = false;
    QTimer poll_;
};

}  // namespace tavrik::ui
