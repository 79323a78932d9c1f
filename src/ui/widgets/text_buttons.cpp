#include "ui/widgets/text_buttons.h"

#include "keys/keycodes.h"
#include "ui/widgets/control_codes.h"
#include "ui/widgets/notify_sink.h"
#include "ui/widgets/ui_prompts.h"

namespace tavrik::ui {

CStartUpgradeButton::CStartUpgradeButton(QWidget* parent, const QString& caption, int value)
    : CTextButton(parent, caption), value_(value) {}

void CStartUpgradeButton::OnClick() {
    setFocus(Qt::MouseFocusReason);
    SendToOwner(this, UM_START_UPGRADE, 0, value_);
    update();
}

CChAllLightColorButton::CChAllLightColorButton(QWidget* parent, const QString& caption)
    : CTextButton(parent, caption), color_(kPanelGrey) {}

void CChAllLightColorButton::OnClick() {
    setFocus(Qt::MouseFocusReason);
    if (handler_) {
        handler_();
        return;
    }
    const std::optional<QColor> chosen = UiPrompts::ChooseColor(window(), ColorOf(color_));
    if (!chosen) {
        return;
    }
    color_ = ColorRefOf(*chosen);
    SendToOwner(this, UM_CHANGE_ONE_KEY_LIGHT_COLOR, kAllKeys, static_cast<int32_t>(color_));
}

CMarcoSetButton::CMarcoSetButton(QWidget* parent, const QString& caption)
    : CTextButton(parent, caption) {}

void CMarcoSetButton::SetLayerCodes(int layer, const std::array<int, 4>& codes) {
    layer_ = layer;
    codes_ = codes;
}

bool CMarcoSetButton::MarcoAllowed() const {
    for (int i = 0; i < 4; ++i) {
        if (i != layer_ && codes_[i] == VK_MARCO) {
            return false;
        }
    }
    return true;
}

void CMarcoSetButton::OnClick() {
    if (!MarcoAllowed()) {
        UiPrompts::Message(window(), refusal_);
        return;
    }
    SendToOwner(this, UM_MARCO_SET);
    window()->close();
}

}  // namespace tavrik::ui
