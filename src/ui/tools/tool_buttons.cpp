#include "ui/tools/tool_buttons.h"

#include "device/keyboard_hub.h"
#include "ui/tools/layout_dlg.h"
#include "ui/tools/profile_dlg.h"
#include "ui/widgets/pic_button.h"
#include "ui/widgets/ui_prompts.h"
#include "ui/widgets/ui_texts.h"

namespace tavrik::ui {

namespace {

class CToolButton : public CTextButton {
public:
    CToolButton(QWidget* parent, const QString& caption, std::function<void()> click)
        : CTextButton(parent, caption), click_(std::move(click)) {}

protected:
    void OnClick() override { click_(); }

private:
    std::function<void()> click_;
};

bool HasKeyboard(QWidget* window, KeyboardHub* hub) {
    if (hub == nullptr || hub->Count() == 0) {
        UiPrompts::Message(window, PromptText("toolNoKeyboard"));
        return false;
    }
    return true;
}

}  // namespace

void OpenLayoutDialog(QWidget* window, KeyboardHub* hub) {
    if (HasKeyboard(window, hub)) {
        CLayoutDlg dialog(window, *hub, hub->Selected());
        dialog.exec();
    }
}

void OpenProfileDialog(QWidget* window, KeyboardHub* hub) {
    if (HasKeyboard(window, hub)) {
        CProfileDlg dialog(window, *hub, hub->Selected());
        dialog.exec();
    }
}

void AddToolButtons(QWidget* window, std::function<KeyboardHub*()> hub) {
    auto* layout = new CToolButton(window, ButtonText("toolPrint"),
                                   [window, hub] { OpenLayoutDialog(window, hub()); });
    layout->setObjectName("layoutButton");
    layout->setToolTip(ButtonText("tipToolLayout"));
    // Between the logo and the undo arrows before the gear: the bottom row holds the help
    // lines. Short captions, so that all four fit there.
    layout->setGeometry(Ltrb(618, 36, 684, 66));
    auto* profiles = new CToolButton(window, ButtonText("toolProfiles"),
                                     [window, hub] { OpenProfileDialog(window, hub()); });
    profiles->setObjectName("profilesButton");
    profiles->setToolTip(ButtonText("tipToolProfiles"));
    profiles->setGeometry(Ltrb(690, 36, 774, 66));
}

}  // namespace tavrik::ui
