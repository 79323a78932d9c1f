// "Print Layout": the keyboard it was opened for read as a job (its macros too), then
// drawn and written on a thread of its own, so the window keeps painting.
#pragma once

#include <future>
#include <memory>
#include <string>

#include <QDialog>

#include "backup/backup_device.h"
#include "layout/layout_sheet.h"
#include "ui/common/keyboard_guard.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QTimer;

namespace tavrik::ui {

class JobFollower;

class CLayoutDlg : public QDialog {
    Q_OBJECT
public:
    CLayoutDlg(QWidget* parent, KeyboardHub& hub, int slot);
    ~CLayoutDlg() override;

    // For tests and the file chooser: the file, the layers, the format.
    QLineEdit& FileEdit() { return *file_; }
    QCheckBox& LayerBox(int layer) { return *layers_[static_cast<size_t>(layer & 3)]; }
    QComboBox& FormatBox() { return *format_; }
    QComboBox& PaperBox() { return *paper_; }
    QPushButton& SaveButton() { return *save_; }
    QString StatusText() const;
    bool Busy() const;

protected:
    void reject() override;

private:
    void Browse();
    void Start();
    void Draw(const backup::KeyboardState& state);
    void PollDrawing();
    void SetStatus(const QString& text);
    void SetBusy(bool busy);
    layout::PaperOptions Options() const;

    KeyboardGuard guard_;
    std::string keyboardName_;
    int viewPages_ = 2;
    QLabel* context_ = nullptr;
    std::array<QCheckBox*, 4> layers_{};
    QComboBox* format_ = nullptr;
    QComboBox* paper_ = nullptr;
    QLineEdit* file_ = nullptr;
    QPushButton* browse_ = nullptr;
    QPushButton* save_ = nullptr;
    QProgressBar* bar_ = nullptr;
    QLabel* status_ = nullptr;
    JobFollower* follower_ = nullptr;
    std::shared_ptr<backup::BackupJobOutcome> read_;
    // The drawing and writing; its result is an error text, empty on success.
    std::future<std::string> drawing_;
    QTimer* drawTimer_ = nullptr;
    QString target_;
};

}  // namespace tavrik::ui
