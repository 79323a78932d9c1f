#include "ui/settings/setup_dlg.h"

#include <QCloseEvent>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QPainter>

#include "app/app_globals.h"
#include "app/texts.h"
#include "device/session_result.h"
#include "ui/pictures/picture_cache.h"
#include "ui/settings/setup_host.h"
#include "ui/widgets/check_button.h"
#include "ui/widgets/control_codes.h"
#include "ui/widgets/icon_buttons.h"
#include "ui/widgets/info_button.h"
#include "ui/widgets/keyboard_dialog.h"
#include "ui/widgets/pic_button.h"
#include "ui/widgets/picture_buttons.h"
#include "ui/widgets/selectors.h"
#include "ui/widgets/text_buttons.h"
#include "ui/widgets/ui_prompts.h"
#include "ui/widgets/ui_texts.h"

namespace tavrik::ui {
namespace {

constexpr int kRowTop = 96;
constexpr int kRowStep = 44;
constexpr int kLabelLeft = 60;
constexpr int kLabelRight = 330;
constexpr int kControlLeft = 340;
constexpr int kTableLeft = 540;

// The overload warning, both placeholders the standard module count.
constexpr const char* kOverloadWarning =
    "By default this keyboard support %d key modules, enable overload mode, it can support "
    "more key modules, but this may becomes unstable, like CPU overclock\r\nAfter enable, it "
    "may not be able to recognize all key modules, please remove some key modules. Recommend "
    "un-plug/plug USB cable, and make sure all key moudles are recognized\r\nAre you sure want "
    "to enable it? Recommend again, this may becomes unstable.\r\n"
    "此键盘标准模式支持按键数量位%d个，对于追求按键数量性能极限的玩家，打开超载模式可以支持的按键"
    "数量会多一些，但这可能会不稳定，就像电脑CPU超频一样。\r\n打开超载模式后，若不能正确识别所有按"
    "键"
    "，请移除一些按键模块。建议重新插拔键盘，确保键盘重新上电能够顺利识别所有按键模块。\r\n您确定要"
    "打开超载模式吗？再次提醒这可能会不稳定。\r\n";

CSetupDlg::ExecHook& TheExecHook() {
    static CSetupDlg::ExecHook hook;
    return hook;
}

QString SetupText(const char* key) {
    return QString::fromStdString(GetSetupPromptText(key, g_strLanguage));
}

QString Qs(const std::string& s) {
    return QString::fromStdString(s);
}

}  // namespace

int g_setupUpgradePollLimit = CSetupDlg::kUpgradePollLimit;

void CSetupDlg::SetExecHook(ExecHook hook) {
    TheExecHook() = std::move(hook);
}

void CSetupDlg::SetUpgradePollLimit(int polls) {
    g_setupUpgradePollLimit = polls;
}

CSetupDlg::CSetupDlg(const SetupState& state, SetupHost& host, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::FramelessWindowHint), state_(state), host_(host) {
    setWindowTitle("Tavrik");
    setAccessibleName("Settings");
    setModal(true);
    setFixedSize(kSetupDlgWidth, kSetupDlgHeight);
    setAttribute(Qt::WA_InputMethodEnabled, false);
    setFocusPolicy(Qt::StrongFocus);
    // At the owner's top-left corner, else the lower right of the work area.
    move(PlaceDialog(QPoint(state_.ownerLeft, state_.ownerTop), size()));
    CreateControls();
    poll_.setInterval(50);
    connect(&poll_, &QTimer::timeout, this, [this] { PollUpgrade(); });
}

CSetupDlg::~CSetupDlg() = default;

CInfoButton* CSetupDlg::Label(const QString& text, int l, int t, int r, int b) {
    auto* label = new CInfoButton(this, text);
    label->setGeometry(Ltrb(l, t, r, b));
    label->setAccessibleName(text);
    return label;
}

void CSetupDlg::CreateControls() {
    close_ = new CCloseButton(this, true);
    close_->setGeometry(Ltrb(974, 30, 1014, 70));
    back_ = new CBackButton(this);
    back_->setGeometry(Ltrb(50, 30, 90, 70));
    auto* logo = new CLogoButton(this);
    logo->setGeometry(Ltrb(450, 30, 610, 62));

    if (state_.manual) {
        keyCount_ = new ClickSdMsgButton(this, "改变最大按键数量", UM_CHANGE_MAX_KEY_COUNT);
        keyCount_->setGeometry(Ltrb(kLabelLeft, 418, 330, 450));
        keyCount_->setAccessibleName("Maximum key count");
    }

    struct Row {
        const char* key;
        bool on;
    };
    const std::array<Row, 5> rows = {{{"startWithWin", state_.startWithWin},
                                      {"minAfterStart", state_.minAfterStart},
                                      {"checkUpdate", state_.checkUpdates},
                                      {"NkroModePrompt", state_.nkro},
                                      {"OverLoadSupport", state_.overload}}};
    for (int i = 0; i < 5; ++i) {
        const int top = kRowTop + i * kRowStep;
        const QString caption = SetupText(rows[static_cast<size_t>(i)].key);
        Label(caption, kLabelLeft, top, kLabelRight, top + 32);
        auto* sw = new CMyCheckButton(this, i + 1, rows[static_cast<size_t>(i)].on);
        sw->setGeometry(Ltrb(kControlLeft, top, kControlLeft + 64, top + 32));
        sw->setAccessibleName(caption);
        switches_[static_cast<size_t>(i)] = sw;
    }
    int top = kRowTop + 5 * kRowStep;
    Label(SetupText("usbReportRate"), kLabelLeft, top, kLabelRight, top + 32);
    rate_ = new CUsbPollButton(this);
    rate_->setGeometry(Ltrb(kControlLeft, top, kControlLeft + 180, top + 32));
    // The selector shows the current interval but starts from the table's first entry.
    rate_->SetValue(state_.usbRate);
    rate_->SetPosition(0);
    top += kRowStep;
    Label(SetupText("InfoLanguageSwitch"), kLabelLeft, top, kLabelRight, top + 32);
    language_ = new CLanguageSelButton(this);
    language_->setGeometry(Ltrb(kControlLeft, top, kControlLeft + 180, top + 32));
    const int lang = state_.language == kLanguageEnglish ? kLanguageEnglish : kLanguageChinese;
    language_->SetValue(lang);
    language_->SetPosition(language_->PositionOf(lang));

    CreateVersionTable();
    CreateLinks();
}

void CSetupDlg::CreateVersionTable() {
    constexpr int kCurLeft = kTableLeft + 150;
    constexpr int kNewLeft = kCurLeft + 115;
    constexpr int kButtonLeft = kNewLeft + 115;
    constexpr int kRight = 1035;
    Label(SetupText("curVer"), kCurLeft, kRowTop, kNewLeft, kRowTop + 28);
    Label(SetupText("newVer"), kNewLeft, kRowTop, kButtonLeft, kRowTop + 28);
    const QString noUpdate = SetupText("noUpdate");
    const QString unknown = SetupText("verChkFail");
    const SetupActions actions = ActionsOf(state_);
    const QString manualText = SetupText("updateManual");
    const QString nowText = SetupText("updateNow");

    struct Row {
        const char* heading;
        QString current;
        QString available;
        bool button;
        QString buttonText;
    };
    const std::array<Row, 3> rows = {{
        {"appVer", Qs(VersionText(state_.appVersion)),
         state_.appUpdate ? Qs(VersionText(state_.latestApp)) : noUpdate, actions.app,
         SetupText("downloadNow")},
        {"ctrlVer", state_.kbmcStage == 'U' ? unknown : Qs(VersionText(state_.kbmcVersion)),
         state_.kbmcUpdate ? Qs(VersionText(state_.latestKbmc)) : noUpdate, actions.kbmc,
         state_.manual ? manualText : nowText},
        {"keyVer", state_.keyRangeKnown ? Qs(KeyRangeText(state_.keyRange)) : unknown,
         state_.keyUpdate ? Qs(VersionText(state_.latestKey)) : noUpdate, actions.keys,
         state_.manual ? manualText : nowText},
    }};
    for (int i = 0; i < 3; ++i) {
        const Row& row = rows[static_cast<size_t>(i)];
        const int top = kRowTop + 36 + i * 40;
        Label(SetupText(row.heading), kTableLeft, top, kCurLeft, top + 30);
        current_[static_cast<size_t>(i)] = Label(row.current, kCurLeft, top, kNewLeft, top + 30);
        available_[static_cast<size_t>(i)] =
            Label(row.available, kNewLeft, top, kButtonLeft, top + 30);
        if (row.button) {
            auto* b = new CStartUpgradeButton(this, row.buttonText, i + 1);
            b->setGeometry(Ltrb(kButtonLeft, top, kRight, top + 30));
            b->setAccessibleName(row.buttonText);
            actions_[static_cast<size_t>(i)] = b;
        }
    }
    if (state_.keyboardCount > 1) {
        const int top = kRowTop + 36 + 3 * 40 + 8;
        keyboardLabels_[0] = Label(
            QString("%1 %2").arg(ButtonText("KeyBoardIdxInfo1")).arg(state_.keyboard.slot + 1),
            kTableLeft, top, kRight, top + 26);
        keyboardLabels_[1] =
            Label(ButtonText("KeyBoardIdxInfo2"), kTableLeft, top + 28, kRight, top + 54);
    }
}

void CSetupDlg::CreateLinks() {
    constexpr int kTop = 320;
    for (int n = 1; n <= 4; ++n) {
        const int left = kTableLeft + 20 + (n - 1) * 115;
        const QString url = SetupText(QString("Q%1URL").arg(n).toLatin1().constData());
        auto* picture = new CPictureButton(this, QString("res/uipics/Q%1.png").arg(n));
        picture->setGeometry(Ltrb(left, kTop, left + 100, kTop + 100));
        picture->SetLink(url);
        const QString caption = SetupText(QString("Q%1").arg(n).toLatin1().constData());
        picture->setAccessibleName(caption);
        CInfoButton* label = Label(caption, left - 5, kTop + 102, left + 105, kTop + 126);
        label->SetAlignment(Qt::AlignCenter);
        label->SetLink(url);
    }
    const bool english = g_strLanguage == "en";
    Label(english ? "Keep the USB cable plugged in while an upgrade runs; the keyboard "
                    "restarts when it is done."
                  : "升级过程中请勿拔出USB线；升级完成后键盘会自动重启。",
          kLabelLeft, 470, 1010, 496);
    // As wide as its text: the label's plate does not show beside it on the darker ground.
    const QString siteAddress = "https://tavrik.invalid";
    const int siteWidth = QFontMetrics(LabelFont()).horizontalAdvance(siteAddress) + 4;
    site_ = Label(siteAddress, kLabelLeft, 505, kLabelLeft + siteWidth, 530);
    site_->SetTextColor(LinkColor());
    site_->SetLink(siteAddress);
}

CMyCheckButton* CSetupDlg::Switch(int number) const {
    return number >= 1 && number <= 5 ? switches_[static_cast<size_t>(number - 1)] : nullptr;
}

CStartUpgradeButton* CSetupDlg::ActionButton(int command) const {
    return command >= 1 && command <= 3 ? actions_[static_cast<size_t>(command - 1)] : nullptr;
}

CInfoButton* CSetupDlg::KeyboardLabel(int n) const {
    return n >= 1 && n <= 2 ? keyboardLabels_[static_cast<size_t>(n - 1)] : nullptr;
}

CInfoButton* CSetupDlg::CurrentCell(int row) const {
    return row >= 0 && row < 3 ? current_[static_cast<size_t>(row)] : nullptr;
}

CInfoButton* CSetupDlg::AvailableCell(int row) const {
    return row >= 0 && row < 3 ? available_[static_cast<size_t>(row)] : nullptr;
}

void CSetupDlg::RunModal() {
    if (TheExecHook()) {
        show();
        TheExecHook()(*this);
        // A hook that leaves the window open: it closes as by its close button.
        if (isVisible()) {
            close();
        }
        return;
    }
    exec();
}

int CSetupDlg::OnNotify(uint32_t code, uint32_t /*wParam*/, int32_t lParam) {
    switch (code) {
        case UM_CHECK_BUTTON:
            OnSwitch(lParam);
            return 0;
        case UM_USB_POLL_CHANGE:
            state_.usbRate = lParam;
            return 0;
        case UM_LANGUAGE_SELECT:
            state_.language = lParam & 0xFF;
            return 0;
        case UM_CHANGE_MAX_KEY_COUNT:
            OnKeyCount();
            return 0;
        case UM_START_UPGRADE:
            OnUpgradeCommand(lParam);
            return 0;
        default:
            // UM_BACK: the back button closes the window next.
            return 0;
    }
}

void CSetupDlg::OnSwitch(int number) {
    switch (number) {
        case kSwitchStartWithWin:
            state_.startWithWin = !state_.startWithWin;
            break;
        case kSwitchMinAfterStart:
            state_.minAfterStart = !state_.minAfterStart;
            break;
        case kSwitchCheckUpdates:
            state_.checkUpdates = !state_.checkUpdates;
            break;
        case kSwitchNkro:
            state_.nkro = !state_.nkro;
            break;
        case kSwitchOverload:
            OnOverloadSwitch();
            break;
        default:
            break;
    }
}

void CSetupDlg::OnOverloadSwitch() {
    if (state_.overload) {
        state_.overload = false;
        state_.requestedKeyCount = 0;
        return;
    }
    const std::string text =
        FillNumbers(kOverloadWarning, {state_.normalKeyCount, state_.normalKeyCount});
    if (UiPrompts::Question(this, QString::fromStdString(text))) {
        state_.overload = true;
        state_.requestedKeyCount = 0;
    } else {
        // The switch toggled itself; it goes back.
        Switch(kSwitchOverload)->SetState(false);
    }
}

void CSetupDlg::OnKeyCount() {
    const int v = UiPrompts::AskNumber(this, "  ", PromptText("InfoOverLoadRange"));
    switch (KeyCountRefusal(state_, v)) {
        case kSessionOk:
            state_.requestedKeyCount = v;
            return;
        case kErrCountWithoutOverload:
            UiPrompts::Message(this, PromptText("InfoCountNeedsOverload"));
            return;
        case kErrOverloadCountNotAbove:
            UiPrompts::Message(this, QString::fromStdString(FillNumbers(
                                         GetPromptText("InfoCountNotAbove", g_strLanguage),
                                         {state_.standardCount})));
            return;
        default:
            UiPrompts::Message(this, PromptText("InfoOutOfRange"));
            return;
    }
}

void CSetupDlg::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), QColor(100, 100, 100));
    DrawPicture(painter, rect(), "res/uipics/bg.png");
}

void CSetupDlg::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Shift) {
        shiftNow_ = true;
    }
    QDialog::keyPressEvent(event);
}

void CSetupDlg::keyReleaseEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Shift) {
        shiftNow_ = false;
    }
    QDialog::keyReleaseEvent(event);
}

void CSetupDlg::closeEvent(QCloseEvent* event) {
    if (RefuseWhileUpgrading()) {
        event->ignore();
        return;
    }
    QDialog::closeEvent(event);
}

void CSetupDlg::done(int result) {
    if (RefuseWhileUpgrading()) {
        return;
    }
    QDialog::done(result);
}

}  // namespace tavrik::ui
