#include "ui/tools/profile_dlg.h"

#include <QDateTime>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

#include "app/paths.h"
#include "app/texts.h"
#include "backup/backup_file.h"
#include "device/session.h"
#include "ui/tools/job_follower.h"
#include "ui/widgets/ui_prompts.h"
#include "ui/widgets/ui_texts.h"

namespace tavrik::ui {

namespace {

QString Filled(const char* key, const QString& a, const QString& b = {}) {
    const std::string sa = a.toStdString(), sb = b.toStdString();
    return QString::fromStdString(FillTexts(GetPromptText(key, g_strLanguage), {sa, sb}));
}

QString Q(const std::string& s) {
    return QString::fromStdString(s);
}

}  // namespace

CProfileDlg::CProfileDlg(QWidget* parent, KeyboardHub& hub, int slot, std::filesystem::path folder)
    : QDialog(parent),
      guard_(hub, slot),
      store_(folder.empty() ? ProfileFolder() : std::move(folder)) {
    setWindowTitle(ButtonText("toolProfiles"));
    setObjectName("profileDialog");
    auto* top = new QVBoxLayout(this);
    context_ = new QLabel(guard_.Context(), this);
    top->addWidget(context_);
    auto* middle = new QHBoxLayout;
    list_ = new QListWidget(this);
    list_->setObjectName("profileList");
    list_->setMinimumSize(260, 220);
    middle->addWidget(list_, 1);
    auto* side = new QVBoxLayout;
    side->addWidget(new QLabel(ButtonText("profileName"), this));
    name_ = new QLineEdit(this);
    name_->setObjectName("profileName");
    name_->setMaxLength(static_cast<int>(backup::kProfileNameMaxBytes));
    side->addWidget(name_);
    save_ = new QPushButton(ButtonText("profileSave"), this);
    rename_ = new QPushButton(ButtonText("profileRename"), this);
    preview_ = new QPushButton(ButtonText("profilePreview"), this);
    restore_ = new QPushButton(ButtonText("profileRestore"), this);
    delete_ = new QPushButton(ButtonText("profileDelete"), this);
    for (QPushButton* b : {save_, rename_, preview_, restore_, delete_}) {
        side->addWidget(b);
    }
    side->addStretch(1);
    middle->addLayout(side);
    top->addLayout(middle, 1);
    previewText_ = AddMessageRow(top, this);
    bar_ = AddProgressRow(top, this);
    status_ = AddMessageRow(top, this);
    auto* bottom = new QHBoxLayout;
    bottom->addStretch(1);
    auto* close = new QPushButton(ButtonText("tipClose"), this);
    bottom->addWidget(close);
    top->addLayout(bottom);
    setMinimumWidth(560);

    follower_ = new JobFollower(this, bar_);
    connect(save_, &QPushButton::clicked, this, &CProfileDlg::Save);
    connect(preview_, &QPushButton::clicked, this, &CProfileDlg::Preview);
    connect(restore_, &QPushButton::clicked, this, &CProfileDlg::Restore);
    connect(rename_, &QPushButton::clicked, this, &CProfileDlg::Rename);
    connect(delete_, &QPushButton::clicked, this, &CProfileDlg::Delete);
    connect(close, &QPushButton::clicked, this, &CProfileDlg::reject);
    connect(list_, &QListWidget::currentRowChanged, this, [this] {
        if (!Selected().isEmpty()) {
            name_->setText(Selected());
        }
        UpdateButtons();
    });
    connect(name_, &QLineEdit::textChanged, this, [this] { UpdateButtons(); });
    Refresh();
    if (guard_.Gone()) {
        SetStatus(PromptText("toolNoKeyboard"));
    }
    // A keyboard pulled out while the dialog is open is said at once, not at the next click.
    auto* watch = new QTimer(this);
    watch->setInterval(500);
    connect(watch, &QTimer::timeout, this, [this] {
        if (guard_.Gone() && !guard_.Ref().Empty() && StatusText() != guard_.GoneText() &&
            !follower_->Busy()) {
            SetStatus(guard_.GoneText());
            UpdateButtons();
        }
    });
    watch->start();
}

CProfileDlg::~CProfileDlg() {
    follower_->CancelRead();
}

void CProfileDlg::reject() {
    follower_->CancelRead();
    QDialog::reject();
}

QString CProfileDlg::StatusText() const {
    return status_->text();
}

QString CProfileDlg::PreviewText() const {
    return previewText_->text();
}

bool CProfileDlg::Busy() const {
    return follower_->Busy();
}

bool CProfileDlg::Select(const QString& name) {
    for (int i = 0; i < list_->count(); ++i) {
        if (list_->item(i)->data(Qt::UserRole).toString() == name) {
            list_->setCurrentRow(i);
            return true;
        }
    }
    return false;
}

QString CProfileDlg::Selected() const {
    const QListWidgetItem* item = list_->currentItem();
    return item != nullptr ? item->data(Qt::UserRole).toString() : QString();
}

void CProfileDlg::SetStatus(const QString& text) {
    status_->setText(text);
}

void CProfileDlg::Refresh(const QString& select) {
    const QString keep = select.isEmpty() ? Selected() : select;
    list_->clear();
    for (const backup::ProfileInfo& p : store_.List()) {
        const QDateTime when = QDateTime::fromSecsSinceEpoch(p.saved);
        auto* item = new QListWidgetItem(
            Q(p.name) + "    " + QLocale::system().toString(when, QLocale::ShortFormat), list_);
        item->setData(Qt::UserRole, Q(p.name));
    }
    if (list_->count() == 0) {
        previewText_->setText(PromptText("profileEmpty"));
    } else if (!keep.isEmpty()) {
        Select(keep);
    }
    UpdateButtons();
}

void CProfileDlg::UpdateButtons() {
    const bool idle = !follower_->Busy();
    const bool attached = !guard_.Gone();
    const bool chosen = !Selected().isEmpty();
    const bool named = !name_->text().trimmed().isEmpty();
    save_->setEnabled(idle && attached && named);
    rename_->setEnabled(idle && chosen && named && name_->text() != Selected());
    preview_->setEnabled(idle && attached && chosen);
    restore_->setEnabled(idle && attached && plan_ != nullptr && previewed_ == Selected());
    delete_->setEnabled(idle && chosen);
    list_->setEnabled(idle);
    context_->setText(guard_.Context());
}

CCCDev* CProfileDlg::Keyboard() {
    CCCDev* dev = guard_.Session();
    if (dev == nullptr) {
        SetStatus(guard_.GoneText());
        UpdateButtons();
    }
    return dev;
}

void CProfileDlg::Save() {
    const QString name = name_->text();
    if (const std::string why = backup::ProfileNameRefusal(name.toStdString()); !why.empty()) {
        SetStatus(Filled("profileFailed", Q(why)));
        return;
    }
    if (store_.Exists(name.toStdString()) &&
        !UiPrompts::Question(this, Filled("profileReplace", name))) {
        return;
    }
    std::string error;
    if (!store_.Prepare(error)) {
        SetStatus(Filled("profileFailed", Q(error)));
        return;
    }
    CCCDev* dev = Keyboard();
    if (dev == nullptr) {
        return;
    }
    auto out = std::make_shared<backup::BackupJobOutcome>();
    const CCUSB& usb = *dev->Transport();
    const uint32_t id = backup::SubmitBackupJob(*dev, usb.m_szProduct, usb.m_szSerial,
                                                store_.PathOf(name.toStdString()), out);
    SetStatus(PromptText("profileSaving"));
    follower_->Follow(guard_, id, false, [this, out, name](const JobStatus* status) {
        if (status == nullptr) {
            SetStatus(guard_.GoneText());
        } else if (status->state == JobState::Done && out->end == backup::BackupEnd::Done) {
            SetStatus(Filled("profileSaved", name));
        } else {
            SetStatus(
                Filled("profileFailed", Q(out->error.empty() ? status->message : out->error)));
        }
        bar_->hide();
        Refresh(name);
    });
    UpdateButtons();
}

void CProfileDlg::Preview() {
    const QString name = Selected();
    CCCDev* dev = name.isEmpty() ? nullptr : Keyboard();
    if (dev == nullptr) {
        if (name.isEmpty()) {
            SetStatus(PromptText("profileChoose"));
        }
        return;
    }
    plan_.reset();
    previewed_.clear();
    previewText_->clear();
    auto out = std::make_shared<backup::FileRestoreOutcome>();
    const CCUSB& usb = *dev->Transport();
    const uint32_t id = backup::SubmitRestoreFileJob(*dev, usb.m_szProduct, usb.m_szSerial,
                                                     store_.PathOf(name.toStdString()), true, out);
    SetStatus(PromptText("profileReading"));
    follower_->Follow(guard_, id, true, [this, out, name](const JobStatus* status) {
        bar_->hide();
        const backup::RestoreOutcome& r = out->restore;
        if (status == nullptr) {
            SetStatus(guard_.GoneText());
        } else if (!out->fileError.empty()) {
            SetStatus(Filled("profileFailed", Q(out->fileError)));
        } else if (r.end != backup::RestoreEnd::Done) {
            SetStatus(Filled("profileFailed", Q(r.error.empty() ? status->message : r.error)));
        } else {
            QStringList lines;
            lines << (r.plan.changes.empty()
                          ? Filled("profileSame", name)
                          : Filled("profileChanges", name, Q(backup::PlanSummary(r.plan))));
            for (const std::string& more :
                 {backup::MissingModulesText(r.plan), backup::UnsavedModulesText(r.plan)}) {
                if (!more.empty()) {
                    lines << Q(more) + ".";
                }
            }
            for (const backup::Placement& p : r.plan.notPlaced) {
                if (!p.missing) {
                    lines << Q(backup::UidText(p.uid) + ": " + p.reason);
                }
            }
            previewText_->setText(lines.join("\n"));
            SetStatus({});
            if (!r.plan.changes.empty()) {
                plan_ = out;
                previewed_ = name;
            }
        }
        UpdateButtons();
    });
    UpdateButtons();
}

void CProfileDlg::Restore() {
    if (plan_ == nullptr || previewed_ != Selected()) {
        return;
    }
    CCCDev* dev = Keyboard();
    if (dev == nullptr) {
        return;
    }
    const QString name = previewed_;
    auto out = std::make_shared<backup::RestoreOutcome>();
    const CCUSB& usb = *dev->Transport();
    const uint32_t id =
        backup::SubmitRestoreJob(*dev, usb.m_szProduct, usb.m_szSerial, plan_->want, false, out);
    plan_.reset();
    previewed_.clear();
    SetStatus(PromptText("profileRestoring"));
    follower_->Follow(guard_, id, false, [this, out, name](const JobStatus* status) {
        bar_->hide();
        if (status == nullptr) {
            SetStatus(guard_.GoneText());
        } else if (out->end == backup::RestoreEnd::Done && backup::Succeeded(out->plan)) {
            SetStatus(Filled("profileRestored", name));
        } else {
            QStringList why;
            if (!out->error.empty()) {
                why << Q(out->error);
            }
            for (const backup::Change& c : out->plan.changes) {
                if (!c.failure.empty()) {
                    why << Q(backup::ChangeSubject(c) + ": " + c.failure);
                }
            }
            for (const backup::Placement& p : out->plan.notPlaced) {
                why << Q(backup::UidText(p.uid) + ": " + p.reason);
            }
            SetStatus(Filled("profileRestoreFailed", why.join("; ")));
        }
        UpdateButtons();
    });
    UpdateButtons();
}

void CProfileDlg::Rename() {
    const QString from = Selected();
    const QString to = name_->text();
    std::string error;
    if (!store_.Rename(from.toStdString(), to.toStdString(), error)) {
        SetStatus(Filled("profileFailed", Q(error)));
        return;
    }
    SetStatus({});
    Refresh(to);
}

void CProfileDlg::Delete() {
    const QString name = Selected();
    if (name.isEmpty() || !UiPrompts::Question(this, Filled("profileDeleteAsk", name))) {
        return;
    }
    std::string error;
    if (!store_.Remove(name.toStdString(), error)) {
        SetStatus(Filled("profileFailed", Q(error)));
        return;
    }
    if (previewed_ == name) {
        plan_.reset();
        previewed_.clear();
        previewText_->clear();
    }
    SetStatus({});
    name_->clear();
    Refresh();
}

}  // namespace tavrik::ui
