#include "ui/widgets/ui_prompts.h"

#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QUrl>

#include "ui/widgets/color_chooser.h"
#include "ui/widgets/number_input.h"
#include "ui/widgets/ui_texts.h"

namespace tavrik::ui {
namespace {

struct Hooks {
    UiPrompts::MessageHook message;
    UiPrompts::QuestionHook question;
    UiPrompts::ColorHook color;
    UiPrompts::UrlHook url;
    UiPrompts::NumberHook number;
    UiPrompts::FileHook file;
    UiPrompts::FirmwareFileHook firmwareFile;
};

Hooks& TheHooks() {
    static Hooks hooks;
    return hooks;
}

}  // namespace

void UiPrompts::Message(QWidget* parent, const QString& text) {
    if (TheHooks().message) {
        TheHooks().message(parent, text);
        return;
    }
    QMessageBox::information(parent, kPromptTitle, text, QMessageBox::Ok);
}

bool UiPrompts::Question(QWidget* parent, const QString& text) {
    if (TheHooks().question) {
        return TheHooks().question(parent, text);
    }
    return QMessageBox::question(parent, kPromptTitle, text, QMessageBox::Yes | QMessageBox::No,
                                 QMessageBox::No) == QMessageBox::Yes;
}

std::optional<QColor> UiPrompts::ChooseColor(QWidget* parent, const QColor& initial) {
    if (TheHooks().color) {
        return TheHooks().color(parent, initial);
    }
    CColorChooser chooser(parent, initial);
    if (chooser.exec() != QDialog::Accepted) {
        return std::nullopt;
    }
    return chooser.LedColor();
}

bool UiPrompts::OpenLink(const QString& address) {
    const QUrl url(address.trimmed(), QUrl::StrictMode);
    const QString scheme = url.scheme().toLower();
    if (!url.isValid() || (scheme != "http" && scheme != "https") || url.host().isEmpty()) {
        return false;
    }
    if (TheHooks().url) {
        TheHooks().url(url.toString());
        return true;
    }
    return QDesktopServices::openUrl(url);
}

int UiPrompts::AskNumber(QWidget* parent, const QString& label, const QString& prompt,
                         int current) {
    if (TheHooks().number) {
        return TheHooks().number(parent, label, prompt);
    }
    CMarcoDelayEditDlg dlg(parent);
    dlg.SetTexts(label, prompt);
    dlg.SetCurrent(current);
    dlg.exec();
    return dlg.Value();
}

QString UiPrompts::ChooseMarcoFile(QWidget* parent, bool save) {
    if (TheHooks().file) {
        return TheHooks().file(parent, save);
    }
    // No default name or extension: a name typed without one is used as typed.
    static QString lastFolder;
    const QString folder = lastFolder.isEmpty() ? QDir::homePath() : lastFolder;
    const QString filter = PromptText("marcoFilesFilter") + " (*.tvm *.macro)";
    const QString name =
        save ? QFileDialog::getSaveFileName(parent, ButtonText("SaveRecordMarcoToFile"), folder,
                                            filter, nullptr, QFileDialog::DontUseNativeDialog)
             : QFileDialog::getOpenFileName(
                   parent, ButtonText("ReadRecordMarcoFromFile"), folder, filter, nullptr,
                   QFileDialog::ReadOnly | QFileDialog::DontUseNativeDialog);
    if (!name.isEmpty()) {
        lastFolder = QFileInfo(name).absolutePath();
    }
    return name;
}

QString UiPrompts::ChooseFirmwareFile(QWidget* parent) {
    if (TheHooks().firmwareFile) {
        return TheHooks().firmwareFile(parent);
    }
    static QString folder = QDir::homePath();
    const QString chosen = QFileDialog::getOpenFileName(
        parent, {}, folder, "Firmware images (*.bin);;All files (*)", nullptr,
        QFileDialog::ReadOnly | QFileDialog::DontUseNativeDialog);
    if (!chosen.isEmpty()) {
        folder = QFileInfo(chosen).absolutePath();
    }
    return chosen;
}

void UiPrompts::SetMessageHook(MessageHook hook) {
    TheHooks().message = std::move(hook);
}
void UiPrompts::SetQuestionHook(QuestionHook hook) {
    TheHooks().question = std::move(hook);
}
void UiPrompts::SetColorHook(ColorHook hook) {
    TheHooks().color = std::move(hook);
}
void UiPrompts::SetUrlHook(UrlHook hook) {
    TheHooks().url = std::move(hook);
}
void UiPrompts::SetNumberHook(NumberHook hook) {
    TheHooks().number = std::move(hook);
}
void UiPrompts::SetFileHook(FileHook hook) {
    TheHooks().file = std::move(hook);
}
void UiPrompts::SetFirmwareFileHook(FirmwareFileHook hook) {
    TheHooks().firmwareFile = std::move(hook);
}

}  // namespace tavrik::ui
