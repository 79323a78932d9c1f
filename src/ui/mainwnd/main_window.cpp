#include "ui/mainwnd/main_window.h"

#include <QApplication>
#include <QCloseEvent>
#include <QGuiApplication>
#include <QIcon>
#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>
#include <QSettings>
#include <QSocketNotifier>
#include <QSystemTrayIcon>
#include <QTimer>
#include <QWindow>
#include <chrono>
#include <cstdio>
#include <cstdlib>

#include "app/app_globals.h"
#include "app/app_id.h"
#include "app/applog.h"
#include "app/paths.h"
#include "app/texts.h"
#include "device/keyboard_hub.h"
#include "device/session.h"
#include "hid/device_monitor.h"
#include "ui/common/keyboard_guard.h"
#include "ui/macroedit/marco_dlg.h"
#include "ui/mainwnd/keyboard_view.h"
#include "ui/mainwnd/my_button.h"
#include "ui/mainwnd/update_bridge.h"
#include "ui/pictures/picture_cache.h"
#include "ui/tools/tool_buttons.h"
#include "ui/widgets/control_codes.h"
#include "ui/widgets/icon_buttons.h"
#include "ui/widgets/info_button.h"
#include "ui/widgets/keyboard_tab.h"
#include "ui/widgets/picture_buttons.h"
#include "ui/widgets/text_buttons.h"
#include "ui/widgets/ui_prompts.h"
#include "ui/widgets/ui_texts.h"
#include "update/update_config.h"
#include "update/update_service.h"

namespace tavrik::ui {
namespace {

// The per-user profile store of the window position.
constexpr const char* kProfileKey = "Tavrik App";
constexpr const char* kProfileGroup = "SETTING";
// A tray tip holds at most this many characters.
constexpr int kTrayTipMax = 127;

QSettings Profile() {
    return QSettings(kProfileKey, QString::fromStdString(ApplicationName()));
}

}  // namespace

void ReportTiming(const char* what) {
    static const bool on = std::getenv("TAVRIK_TIMING") != nullptr;
    if (!on) {
        return;
    }
    const auto now = std::chrono::system_clock::now().time_since_epoch();
    std::fprintf(
        stderr, "tavrik-timing %s %lld\n", what,
        static_cast<long long>(std::chrono::duration_cast<std::chrono::nanoseconds>(now).count()));
}

CTavrikDlg::CTavrikDlg(QWidget* parent) : QWidget(parent, Qt::FramelessWindowHint | Qt::Window) {
    setWindowTitle("Tavrik");
    setFixedSize(kWindowWidth, kWindowHeight);
    setAttribute(Qt::WA_InputMethodEnabled, false);
    setFocusPolicy(Qt::ClickFocus);
    setAccessibleName("Tavrik");
}

// Where the window manager does not take the icon from the desktop file: the program's
// own, at the sizes it is drawn in.
static QIcon ProgramIcon() {
    QIcon icon = QIcon::fromTheme(QString::fromLatin1(kAppId));
    if (!icon.isNull()) {
        return icon;
    }
    for (const int size : {16, 24, 32, 48, 64, 128, 256}) {
        const QPixmap picture =
            Pictures::Get(QString("res/uipics/icons/%1x%1/apps/tavrik.png").arg(size), 1.0);
        if (!picture.isNull()) {
            icon.addPixmap(picture);
        }
    }
    return icon;
}

CTavrikDlg::~CTavrikDlg() {
    shutDown_ = true;
    g_bAppExit = 1;
    StopUpdates();
    StorePosition();
    m_bHidePending = 0;
    {
        std::lock_guard lock(minimizeMutex_);
        minimizeStop_ = true;
    }
    minimizeCv_.notify_all();
    if (minimizeThread_.joinable()) {
        minimizeThread_.join();
    }
    delete monitorNotifier_;
    monitor_.reset();
    // Closing the sessions releases workers waiting to deliver to this window first.
    hub_.reset();
    if (tray_ != nullptr) {
        tray_->hide();
    }
}

bool CTavrikDlg::Init(MainWindowSetup setup) {
    DlgLog("Tavrik App Start\n");
    // Keys reach the window before the control that has the focus.
    qApp->installEventFilter(this);
    autoBoot_ = setup.autoBoot;
    assumeTray_ = setup.assumeTray;
    commandLine_ = setup.commandLine;
    settings_ =
        std::make_unique<AppSettings>(setup.dataFolder.empty() ? DataFolder() : setup.dataFolder);
    if (setup.askLanguage) {
        settings_->SetHooks({[](const std::string&, const std::string& text) {
                                 return UiPrompts::Question(nullptr, QString::fromStdString(text));
                             },
                             [](const std::string&, const std::string& text) {
                                 UiPrompts::Message(nullptr, QString::fromStdString(text));
                             }});
    }
    settings_->LoadSettings(autoBoot_);
    ReportTiming("settings");
    {
        QSettings profile = Profile();
        profile.beginGroup(kProfileGroup);
        const WindowPosition pos = SettleWindowPosition(settings_->SettingsFileExisted(),
                                                        profile.value("left", -1).toInt(),
                                                        profile.value("top", -1).toInt());
        storedLeft_ = pos.left;
        storedTop_ = pos.top;
    }

    HubOptions options;
    options.verbose = settings_->Debug();
    options.simPauseScale = setup.simPauseScale;
    options.simReplySlackMs = setup.simReplySlackMs;
    hub_ = std::make_unique<KeyboardHub>(std::move(setup.backend), *this, options);
    for (int i = 0; i < kHubSlots; ++i) {
        // Workers queue their notifications for this thread and wait until handled.
        hub_->Session(i).Channel().SetOwnerThread([this] {
            QMetaObject::invokeMethod(
                this, [this] { DeliverNotifications(); }, Qt::QueuedConnection);
        });
    }
    ReportTiming("hub");
    CreateControls();
    ReportTiming("controls");
    onlineUpdate_ = setup.onlineUpdate;
    startPending_ =
        setup.attachAfterFirstFrame && !(settings_->GetMinAfterStart() != 0 && autoBoot_);
    if (!startPending_) {
        FinishStart();
    }
    PlaceWindow();
    ReportTiming("placed");
    return true;
}

// What the first frame need not wait for: opening the keyboards holds the UI thread about
// 100 ms, the tray asks the desktop, and the first update check starts the download helper,
// a process of its own, which on two cores held the first frame back.
void CTavrikDlg::FinishStart() {
    AttachAtStart();
    ReportTiming("attached");
    StartDeviceMonitor();
    if (settings_->CloseToTray()) {
        DlgDebugLog("Add ICON to sys tray\n");
        AddTrayIcon();
        DlgDebugLog("Add ICON to sys tray Done\n");
    }
    if (onlineUpdate_) {
        StartUpdates(LoadUpdateConfig(settings_->DataFolderPath()), UpdateTimings{});
    }
}

void CTavrikDlg::CreateControls() {
    auto* logo = new CLogoButton(this);
    logo->setGeometry(Ltrb(450, 30, 610, 62));
    setup_ = new CSetupButton(this);
    setup_->setGeometry(Ltrb(862, 30, 902, 70));
    connect(setup_, &CSetupButton::openSettings, this, [this] { OpenSettings(); });
    AddToolButtons(this, [this] { return hub_.get(); });
    auto* refresh = new CRefreshButton(this);
    refresh->setGeometry(Ltrb(914, 30, 964, 70));
    auto* close = new CCloseButton(this);
    close->setGeometry(Ltrb(974, 30, 1014, 70));
    // With close-to-tray off the close button ends the program.
    close->SetCloseDirectly(!settings_->CloseToTray());
    CreateUndoControls();
    status_ = new CInfoButton(this, PromptText("scanning"));
    status_->setGeometry(Ltrb(50, 86, 850, 112));
    status_->setAccessibleName("Status");
    view_ = std::make_unique<KeyboardView>(this, settings_->OneClickProgramKey());
    view_->SetPromptPicture(0);
    view_->AllColorButton().SetClickHandler([this] { ChooseAllKeysColour(); });
    countsTimer_ = new QTimer(this);
    countsTimer_->setSingleShot(true);
    countsTimer_->setInterval(3000);
    connect(countsTimer_, &QTimer::timeout, this, [this] { ShowCounts(); });
}

void CTavrikDlg::DeliverNotifications() {
    if (!hub_) {
        return;
    }
    for (int i = 0; i < kHubSlots; ++i) {
        hub_->Session(i).Channel().DeliverPending();
    }
}

// ---------------------------------------------------------------- placement, tray

void CTavrikDlg::PlaceWindow() {
    const QScreen* screen = QGuiApplication::primaryScreen();
    const QRect work = screen ? screen->availableGeometry() : QRect(0, 0, 1280, 800);
    int left = storedLeft_;
    int top = storedTop_;
    if (left < 0 || top < 0) {
        left = work.x() + work.width() - kWindowWidth;
        top = work.y() + work.height() - kWindowHeight;
    }
    DlgDebugLog("CommandLine=" + commandLine_ + "\n");
    DlgDebugLog("bMinAfterStart=" + std::to_string(settings_->GetMinAfterStart()) +
                " IsAutoBoot return " + std::to_string(autoBoot_ ? 1 : 0) + "\n");
    move(left, top);
    if (settings_->GetMinAfterStart() != 0 && autoBoot_) {
        DlgDebugLog("Auto boot and minimum after start\n");
        // Never shown, so no task-bar entry comes and goes. Without a tray the window
        // lives minimised, the only place it can be reached from.
        if (!trayAdded_) {
            setWindowIcon(ProgramIcon());
            showMinimized();
        }
        StartMinimizeThread();
    } else {
        DlgDebugLog("Not Auto boot and minimum after start, show window\n");
        show();
    }
}

// Hides the window half a second after an autostart, from a thread of its own; the
// window may close before then, which ends the wait early.
void CTavrikDlg::StartMinimizeThread() {
    minimizeThread_ = std::thread([this] {
        std::unique_lock lock(minimizeMutex_);
        if (minimizeCv_.wait_for(lock, std::chrono::milliseconds(500),
                                 [this] { return minimizeStop_; })) {
            return;
        }
        if (m_bHidePending.exchange(0) == 1) {
            QMetaObject::invokeMethod(
                this, [this] { OnNotify(UM_HIDE_TO_TRAY, 0, 0); }, Qt::QueuedConnection);
        }
    });
}

void CTavrikDlg::AddTrayIcon() {
    if (!QSystemTrayIcon::isSystemTrayAvailable() && !assumeTray_) {
        // Hiding then minimises, so the window stays reachable.
        DlgLog("No system tray on this desktop: hiding minimises the window\n");
        return;
    }
    tray_ = new QSystemTrayIcon(this);
    QIcon icon(Pictures::Get("res/uipics/tavrik.png", devicePixelRatioF()));
    tray_->setIcon(icon);
    tray_->setToolTip(TaskBarText("KBName").left(kTrayTipMax));
    trayMenu_ = new QMenu(this);
    trayMenu_->addAction(TaskBarText("exit"), this, [this] { ExitProgram(); });
    tray_->setContextMenu(trayMenu_);
    connect(tray_, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason r) {
        if (r == QSystemTrayIcon::Trigger || r == QSystemTrayIcon::DoubleClick) {
            ShowFromTray();
        }
    });
    tray_->show();
    trayAdded_ = true;
}

void CTavrikDlg::ShowFromTray() {
    hiddenToTray_ = false;
    m_bHidePending = 0;
    setWindowState(windowState() & ~Qt::WindowMinimized);
    show();
    raise();
    activateWindow();
    if (CCCDev* dev = SelSession()) {
        dev->RequestScan();
    }
}

void CTavrikDlg::ExitProgram(bool ask) {
    if (DeferExitForUpgrade(ask)) {
        return;
    }
    g_bAppExit = 1;
    exiting_ = true;
    close();
}

void CTavrikDlg::StorePosition() {
    if (!hub_ || positionStored_) {
        return;
    }
    positionStored_ = true;
    QSettings profile = Profile();
    profile.beginGroup(kProfileGroup);
    profile.setValue("left", x());
    profile.setValue("top", y());
    profile.sync();
}

int CTavrikDlg::OnHideToTray() {
    if (!settings_->CloseToTray()) {
        return 0;
    }
    hiddenToTray_ = true;
    if (trayAdded_) {
        hide();
    } else {
        showMinimized();
    }
    if (CCCDev* dev = SelSession()) {
        dev->SetHostActive(0);
        dev->PauseScan();
    }
    return 0;
}

void CTavrikDlg::closeEvent(QCloseEvent* event) {
    // A close from the desktop (keyboard shortcut, task bar) or the close button: to the
    // tray when that is the setting, else the program ends as by the tray's "exit". The
    // end is asked here and not through close(): Qt drops a close nested in this one.
    if (!exiting_ && settings_ && settings_->CloseToTray()) {
        event->ignore();
        OnHideToTray();
        return;
    }
    g_bAppExit = 1;
    exiting_ = true;
    StorePosition();
    event->accept();
    QCoreApplication::exit(0);
}

void CTavrikDlg::changeEvent(QEvent* event) {
    if (event->type() == QEvent::WindowStateChange) {
        const auto* change = static_cast<QWindowStateChangeEvent*>(event);
        const bool wasMin = change->oldState() & Qt::WindowMinimized;
        const bool isMin = windowState() & Qt::WindowMinimized;
        if (isMin && !wasMin) {
            DlgDebugLog("min window, stop scan");
        } else if (wasMin && !isMin) {
            DlgDebugLog("show window, start scan");
        }
    }
    QWidget::changeEvent(event);
}

// ---------------------------------------------------------------- painting, input

void CTavrikDlg::paintEvent(QPaintEvent*) {
    if (!painted_) {
        painted_ = true;
        ReportTiming("first-frame");
        // The controls paint after the window, and the frame goes to the display before
        // the event loop turns again: then the whole frame is drawn.
        QTimer::singleShot(0, this, [] { ReportTiming("frame-done"); });
        // Finding and decoding the icon took about a tenth of the start: it follows the
        // first frame, like the keyboards.
        QTimer::singleShot(0, this, [this] { setWindowIcon(ProgramIcon()); });
        if (startPending_) {
            startPending_ = false;
            QTimer::singleShot(0, this, [this] { FinishStart(); });
        }
    }
    QPainter painter(this);
    const QPixmap bg = Pictures::Get("res/uipics/bg.bmp", devicePixelRatioF());
    if (bg.isNull()) {
        painter.fillRect(rect(), QColor(40, 40, 44));
    } else {
        painter.drawTiledPixmap(rect(), bg);
    }
}

void CTavrikDlg::mousePressEvent(QMouseEvent* event) {
    // Any free spot of the background drags the whole window: through the window manager
    // when there is one, else by hand.
    if (event->button() == Qt::LeftButton) {
        dragging_ = windowHandle() == nullptr || !windowHandle()->startSystemMove();
        dragOffset_ = event->globalPosition().toPoint() - pos();
    }
    QWidget::mousePressEvent(event);
}

void CTavrikDlg::mouseMoveEvent(QMouseEvent* event) {
    if (dragging_ && (event->buttons() & Qt::LeftButton)) {
        move(event->globalPosition().toPoint() - dragOffset_);
    }
    QWidget::mouseMoveEvent(event);
}

void CTavrikDlg::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) {
        dragging_ = false;
        // The window takes the focus: a selected key loses its selection.
        setFocus(Qt::MouseFocusReason);
        DeselectKeys(-1);
    }
    QWidget::mouseReleaseEvent(event);
}

bool CTavrikDlg::eventFilter(QObject* watched, QEvent* event) {
    const QEvent::Type type = event->type();
    if (type != QEvent::KeyPress && type != QEvent::KeyRelease) {
        return QWidget::eventFilter(watched, event);
    }
    auto* widget = qobject_cast<QWidget*>(watched);
    if (widget == nullptr || widget->window() != this) {
        return QWidget::eventFilter(watched, event);
    }
    const auto* key = static_cast<QKeyEvent*>(event);
    if (key->key() == Qt::Key_Shift) {
        // X11 scan code 50 is the left Shift key (0 where the platform gives none); the
        // right one (62) leaves the record alone, so releasing it while the left is still
        // held does not clear it.
        if (key->nativeScanCode() == 50 || key->nativeScanCode() == 0) {
            m_bLShiftDown = type == QEvent::KeyPress;
        }
        return false;
    }
    if (type == QEvent::KeyPress) {
        switch (key->key()) {
            case Qt::Key_Escape:
            case Qt::Key_Left:
            case Qt::Key_Up:
            case Qt::Key_Right:
            case Qt::Key_Down:
            case Qt::Key_F1:
                return true;
            default:
                break;
        }
    } else if (key->key() == Qt::Key_F1) {
        return true;
    }
    return false;
}

// ---------------------------------------------------------------- key button host

CCCDev* CTavrikDlg::SelSession() {
    if (!hub_ || hub_->Count() == 0) {
        return nullptr;
    }
    return &hub_->Session(hub_->Selected());
}

int CTavrikDlg::SelDev() const {
    return hub_ ? hub_->Selected() : 0;
}

void CTavrikDlg::DeselectKeys(int slot) {
    view_->DeselectKeys(slot);
}

void CTavrikDlg::LedHighlightOn(int slot, uint32_t colour) {
    if (CCCDev* dev = SelSession()) {
        dev->BlinkKey(slot, colour);
    }
}

void CTavrikDlg::LedHighlightOff(int slot, uint32_t colour) {
    if (CCCDev* dev = SelSession()) {
        dev->StopBlinkKey(slot, colour);
    }
}

QPoint CTavrikDlg::DialogPosition() const {
    return frameGeometry().topLeft();
}

KeyPickInputs CTavrikDlg::PickInputs(int slot) const {
    KeyPickInputs in;
    if (!hub_ || hub_->Count() == 0 || slot < 0 || slot >= static_cast<int>(kKeySlots)) {
        return in;
    }
    const SessionSnapshot snap = hub_->Session(hub_->Selected()).Snapshot();
    in.layer = snap.curLayer & 3;
    in.layerCodes = snap.slots[static_cast<size_t>(slot)].vk;
    in.context = KeyboardGuard(*hub_, hub_->Ref(hub_->Selected())).Context(slot, in.layer);
    return in;
}

KeyboardRef CTavrikDlg::ShownKeyboard() const {
    if (!hub_ || hub_->Count() == 0) {
        return {};
    }
    return hub_->Ref(hub_->Selected());
}

bool CTavrikDlg::ConfirmKeyboard(const KeyboardRef& ref) {
    const KeyboardGuard guard(*hub_, ref);
    if (!guard.Gone()) {
        return true;
    }
    SetStatus(guard.GoneText());
    UiPrompts::Message(this, guard.GoneText());
    return false;
}

void CTavrikDlg::RunMarcoEditor(const MarcoEditInputs& inputs) {
    const KeyboardGuard guard(*hub_, inputs.keyboard.Empty() ? ShownKeyboard() : inputs.keyboard);
    if (guard.Gone()) {
        return;
    }
    CMarcoDlg dlg(guard, inputs.slot, inputs.layer, this);
    dlg.m_position = inputs.position;
    dlg.RunModal();
    // Closed while its write ran: the write goes on to its end, which the status line says.
    if (const uint32_t job = dlg.WriteLeftRunning(); job != 0) {
        FollowJob(guard.Ref().slot, job, ButtonText("SaveRecordMarco"));
    }
}

QString CTavrikDlg::StatusText() const {
    return status_ ? status_->text() : QString();
}

void CTavrikDlg::SetStatus(const QString& text) {
    status_->setText(text);
    status_->update();
}

void CTavrikDlg::SetStatusKey(const char* key) {
    SetStatus(PromptText(key));
}

}  // namespace tavrik::ui
