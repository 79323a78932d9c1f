#include "ui/tools/layout_dlg.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDate>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

#include "app/paths.h"
#include "app/texts.h"
#include "device/session.h"
#include "layout/paper_renderer.h"
#include "ui/tools/job_follower.h"
#include "ui/widgets/ui_texts.h"

namespace tavrik::ui {

namespace {

struct FormatChoice {
    const char* caption;
    layout::PaperFormat format;
    int scale;
    const char* suffix;
};
constexpr FormatChoice kFormats[] = {
    {"PDF", layout::PaperFormat::Pdf, 1, "pdf"},
    {"SVG", layout::PaperFormat::Svg, 1, "svg"},
    {"PNG", layout::PaperFormat::Png, 1, "png"},
    {"PNG 2x", layout::PaperFormat::Png, 2, "png"},
};

QString Filled(const char* key, const QString& value) {
    return QString::fromStdString(
        FillTexts(GetPromptText(key, g_strLanguage), {value.toStdString()}));
}

}  // namespace

CLayoutDlg::CLayoutDlg(QWidget* parent, KeyboardHub& hub, int slot)
    : QDialog(parent), guard_(hub, slot) {
    setWindowTitle(ButtonText("toolLayout"));
    setObjectName("layoutDialog");
    if (CCCDev* dev = guard_.Session()) {
        const std::string product = hub.Transport(slot).m_szProduct;
        keyboardName_ = (product.empty() ? std::string("Keyboard") : product) + " (" +
                        guard_.Context().toStdString() + ")";
        viewPages_ = dev->Snapshot().hidePageBtn ? 1 : 2;
    }
    auto* top = new QVBoxLayout(this);
    context_ = new QLabel(guard_.Context(), this);
    top->addWidget(context_);
    auto* form = new QFormLayout;
    auto* layerRow = new QHBoxLayout;
    for (int l = 0; l < 4; ++l) {
        auto* box = new QCheckBox(ButtonText("LayerName") + QString::number(l), this);
        box->setChecked(true);
        box->setObjectName(QString("layer%1").arg(l));
        layerRow->addWidget(box);
        layers_[static_cast<size_t>(l)] = box;
    }
    form->addRow(ButtonText("layoutLayers"), layerRow);
    format_ = new QComboBox(this);
    for (const FormatChoice& f : kFormats) {
        format_->addItem(f.caption);
    }
    form->addRow(ButtonText("layoutFormat"), format_);
    paper_ = new QComboBox(this);
    paper_->addItems({"A4", "Letter"});
    // Letter where people buy Letter paper.
    if (QLocale::system().measurementSystem() == QLocale::ImperialUSSystem) {
        paper_->setCurrentIndex(1);
    }
    form->addRow(ButtonText("layoutPaper"), paper_);
    auto* fileRow = new QHBoxLayout;
    file_ = new QLineEdit(QDir::home().filePath("keyboard-layout.pdf"), this);
    file_->setObjectName("layoutFile");
    browse_ = new QPushButton(ButtonText("layoutBrowse"), this);
    fileRow->addWidget(file_, 1);
    fileRow->addWidget(browse_);
    form->addRow(ButtonText("layoutFile"), fileRow);
    top->addLayout(form);
    bar_ = AddProgressRow(top, this);
    status_ = AddMessageRow(top, this);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    save_ = new QPushButton(ButtonText("layoutSave"), this);
    save_->setDefault(true);
    auto* close = new QPushButton(ButtonText("tipClose"), this);
    buttons->addWidget(save_);
    buttons->addWidget(close);
    top->addLayout(buttons);
    setMinimumWidth(520);

    follower_ = new JobFollower(this, bar_);
    drawTimer_ = new QTimer(this);
    drawTimer_->setInterval(50);
    connect(drawTimer_, &QTimer::timeout, this, &CLayoutDlg::PollDrawing);
    connect(browse_, &QPushButton::clicked, this, &CLayoutDlg::Browse);
    connect(save_, &QPushButton::clicked, this, &CLayoutDlg::Start);
    connect(close, &QPushButton::clicked, this, &CLayoutDlg::reject);
    // The file's extension follows the format.
    connect(format_, &QComboBox::currentIndexChanged, this, [this](int i) {
        QFileInfo info(file_->text());
        if (!file_->text().isEmpty() && i >= 0) {
            file_->setText(info.dir().filePath(info.completeBaseName() + "." +
                                               kFormats[static_cast<size_t>(i)].suffix));
        }
    });
    if (guard_.Gone()) {
        SetStatus(PromptText("toolNoKeyboard"));
        save_->setEnabled(false);
    }
    auto* watch = new QTimer(this);
    watch->setInterval(500);
    connect(watch, &QTimer::timeout, this, [this] {
        if (guard_.Gone() && !guard_.Ref().Empty() && !Busy() &&
            StatusText() != guard_.GoneText()) {
            SetStatus(guard_.GoneText());
            context_->setText(guard_.Context());
            SetBusy(false);
        }
    });
    watch->start();
}

CLayoutDlg::~CLayoutDlg() {
    follower_->CancelRead();
    // Drawing ends by itself; the file is whole or not there.
    if (drawing_.valid()) {
        drawing_.wait();
    }
}

void CLayoutDlg::reject() {
    follower_->CancelRead();
    QDialog::reject();
}

QString CLayoutDlg::StatusText() const {
    return status_->text();
}

bool CLayoutDlg::Busy() const {
    return follower_->Busy() || drawing_.valid();
}

void CLayoutDlg::SetStatus(const QString& text) {
    status_->setText(text);
}

void CLayoutDlg::SetBusy(bool busy) {
    save_->setEnabled(!busy && !guard_.Gone());
    browse_->setEnabled(!busy);
    if (!busy) {
        bar_->hide();
    }
}

layout::PaperOptions CLayoutDlg::Options() const {
    const FormatChoice& f = kFormats[static_cast<size_t>(std::max(0, format_->currentIndex()))];
    layout::PaperOptions o;
    o.format = f.format;
    o.scale = f.scale;
    o.paper = paper_->currentIndex() == 1 ? layout::PaperSize::Letter : layout::PaperSize::A4;
    return o;
}

void CLayoutDlg::Browse() {
    const FormatChoice& f = kFormats[static_cast<size_t>(std::max(0, format_->currentIndex()))];
    const QString filter = QString("%1 (*.%2)").arg(f.caption, f.suffix);
    const QString chosen =
        QFileDialog::getSaveFileName(this, ButtonText("toolLayout"), file_->text(), filter);
    if (!chosen.isEmpty()) {
        file_->setText(chosen);
    }
}

void CLayoutDlg::Start() {
    bool any = false;
    for (QCheckBox* box : layers_) {
        any |= box->isChecked();
    }
    if (!any) {
        SetStatus(PromptText("layoutNoLayer"));
        return;
    }
    if (file_->text().trimmed().isEmpty()) {
        SetStatus(PromptText("layoutNoFile"));
        return;
    }
    CCCDev* dev = guard_.Session();
    if (dev == nullptr) {
        SetStatus(guard_.GoneText());
        context_->setText(guard_.Context());
        SetBusy(false);
        return;
    }
    target_ = file_->text().trimmed();
    read_ = std::make_shared<backup::BackupJobOutcome>();
    const CCUSB& usb = *dev->Transport();
    const uint32_t id = backup::SubmitReadStateJob(*dev, usb.m_szProduct, usb.m_szSerial, read_);
    SetBusy(true);
    SetStatus(PromptText("layoutReading"));
    follower_->Follow(guard_, id, true, [this, read = read_](const JobStatus* status) {
        if (status == nullptr) {
            SetStatus(guard_.GoneText());
            context_->setText(guard_.Context());
            SetBusy(false);
            return;
        }
        if (status->state != JobState::Done || read->end != backup::BackupEnd::Done) {
            const QString why =
                QString::fromStdString(!read->error.empty() ? read->error : status->message);
            SetStatus(Filled("layoutFailed", why));
            SetBusy(false);
            return;
        }
        Draw(read->state);
    });
}

void CLayoutDlg::Draw(const backup::KeyboardState& state) {
    std::vector<int> layers;
    for (int l = 0; l < 4; ++l) {
        if (layers_[static_cast<size_t>(l)]->isChecked()) {
            layers.push_back(l);
        }
    }
    layout::LayoutSheet sheet =
        layout::MakeSheet(state, std::move(layers), keyboardName_,
                          QDate::currentDate().toString(Qt::ISODate).toStdString(), viewPages_);
    SetStatus(PromptText("layoutDrawing"));
    drawing_ = std::async(std::launch::async, [sheet = std::move(sheet), options = Options(),
                                               path = target_.toStdString()] {
        std::string bytes, error;
        // Qt's SVG writer is loaded here, at the first drawing, not with the window.
        if (!layout::RenderOnPaper(ExePath().parent_path(), sheet, options, bytes, error) ||
            !layout::WriteSheetFile(path, bytes, error)) {
            return error.empty() ? std::string("unknown error") : error;
        }
        return std::string();
    });
    drawTimer_->start();
}

void CLayoutDlg::PollDrawing() {
    if (!drawing_.valid() ||
        drawing_.wait_for(std::chrono::seconds(0)) != std::future_status::ready) {
        return;
    }
    drawTimer_->stop();
    const std::string error = drawing_.get();
    SetStatus(error.empty() ? Filled("layoutWritten", target_)
                            : Filled("layoutFailed", QString::fromStdString(error)));
    SetBusy(false);
}

}  // namespace tavrik::ui
