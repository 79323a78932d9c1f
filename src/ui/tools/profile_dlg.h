// "Profiles": whole-keyboard backups under a name, the list `tavrikctl profile` shows.
// Saving and restoring are jobs on the keyboard the dialog was opened for; a restore is
// first planned (what would change, which modules do not match), then carried out when
// the user confirms, with its progress on a bar.
#pragma once

#include <memory>

#include <QDialog>

#include "backup/backup_device.h"
#include "backup/profiles.h"
#include "ui/common/keyboard_guard.h"

class QLabel;
class QLineEdit;
class QListWidget;
class QProgressBar;
class QPushButton;

namespace tavrik::ui {

class JobFollower;

class CProfileDlg : public QDialog {
    Q_OBJECT
public:
    CProfileDlg(QWidget* parent, KeyboardHub& hub, int slot, std::filesystem::path folder = {});
    ~CProfileDlg() override;

    // For tests.
    QListWidget& List() { return *list_; }
    QLineEdit& NameEdit() { return *name_; }
    QPushButton& SaveButton() { return *save_; }
    QPushButton& PreviewButton() { return *preview_; }
    QPushButton& RestoreButton() { return *restore_; }
    QPushButton& RenameButton() { return *rename_; }
    QPushButton& DeleteButton() { return *delete_; }
    QString StatusText() const;
    QString PreviewText() const;
    bool Busy() const;
    // Selects the profile `name` in the list.
    bool Select(const QString& name);

protected:
    void reject() override;

private:
    void Refresh(const QString& select = {});
    void UpdateButtons();
    QString Selected() const;
    void Save();
    void Preview();
    void Restore();
    void Rename();
    void Delete();
    void SetStatus(const QString& text);
    // The session, or null after saying the keyboard went.
    CCCDev* Keyboard();

    KeyboardGuard guard_;
    backup::ProfileStore store_;
    QLabel* context_ = nullptr;
    QListWidget* list_ = nullptr;
    QLineEdit* name_ = nullptr;
    QPushButton* save_ = nullptr;
    QPushButton* preview_ = nullptr;
    QPushButton* restore_ = nullptr;
    QPushButton* rename_ = nullptr;
    QPushButton* delete_ = nullptr;
    QLabel* previewText_ = nullptr;
    QProgressBar* bar_ = nullptr;
    QLabel* status_ = nullptr;
    JobFollower* follower_ = nullptr;
    // The last preview: the profile it was made for and what it read from the file.
    QString previewed_;
    std::shared_ptr<backup::FileRestoreOutcome> plan_;
};

}  // namespace tavrik::ui
