#include "ui/keypicker/key_picker.h"

#include <QPainter>

#include "app/app_globals.h"
#include "app/texts.h"
#include "keys/keycodes.h"
#include "keys/picker_table.h"
#include "ui/pictures/picture_cache.h"
#include "ui/widgets/control_codes.h"
#include "ui/widgets/icon_buttons.h"
#include "ui/widgets/info_button.h"
#include "ui/widgets/key_hot_spot.h"
#include "ui/widgets/picture_buttons.h"
#include "ui/widgets/result_show_button.h"
#include "ui/widgets/text_buttons.h"
#include "ui/widgets/ui_texts.h"

namespace tavrik::ui {
namespace {

QString Text(std::string (*fetch)(std::string_view, std::string_view), const char* key) {
    return QString::fromStdString(fetch(key, g_strLanguage));
}

}  // namespace

CCVKBDlg::CCVKBDlg(QWidget* parent)
    : ModalDialog(KeyboardGuard(), parent), shownColor_(kPanelGrey) {
    colorButton_ = new CChAllLightColorButton(this, Text(GetButtonText, "chOneColor"));
    colorButton_->setGeometry(Ltrb(790, 490, 1010, 520));
    marcoButton_ = new CMarcoSetButton(this, Text(GetButtonText, "MarcoSetting"));
    marcoButton_->setGeometry(Ltrb(790, 445, 1010, 475));
    marcoButton_->SetRefusalText(Text(GetPromptText, "limitationMarcoCount"));
    display_ = new CResultShowButton(this, "N/A");
    display_->setGeometry(Ltrb(675, 442, 775, 512));
    prompt_ = new CInfoButton(this, Text(GetPromptText, "vkPrompt1"));
    prompt_->setGeometry(Ltrb(50, 508, 750, 534));
    // The prompt line overlaps the cap's lower edge by a few pixels: the cap stays whole.
    display_->raise();
}

CCVKBDlg::~CCVKBDlg() = default;

void CCVKBDlg::PrepareControls() {
    m_bVkChange = m_bColorChange = m_bMarco = false;
    MakeKeyButtons();
    marcoButton_->SetLayerCodes(m_layer, m_layerCodes);
    ContextLine()->setText(m_context);
    // The chooser starts at the key's colour.
    colorButton_->SetColor(m_color);
    shownVk_ = startVk_ = m_vk;
    ShowChoice();
}

void CCVKBDlg::MakeKeyButtons() {
    for (CKeyButton* key : keys_) {
        delete key;
    }
    keys_.assign(PickerKeyTable().size(), nullptr);
    for (size_t i = 0; i < PickerKeyTable().size(); ++i) {
        if (!PickerKeyOffered(static_cast<int>(i), m_layer)) {
            continue;
        }
        const PickerKey& entry = PickerKeyTable()[i];
        auto* key = new CKeyButton(this, entry.keyCode);
        key->setObjectName(QString::number(kPickerKeyIdBase + static_cast<int>(i)));
        key->setGeometry(entry.x, entry.y, entry.width, entry.height);
        connect(key, &CKeyButton::picked, this, [this](int code) {
            m_vk = code;
            m_bVkChange = true;
            close();
        });
        key->show();
        keys_[i] = key;
    }
}

CKeyButton* CCVKBDlg::KeyButton(int index) const {
    return index >= 0 && index < static_cast<int>(keys_.size()) ? keys_[index] : nullptr;
}

void CCVKBDlg::ShowChoice() {
    display_->SetKeyValue(shownVk_ == 0 ? 0 : HidOfKeyCode(static_cast<unsigned>(shownVk_) & 0xFF));
    display_->SetFillColor(shownColor_);
}

int CCVKBDlg::OnNotify(uint32_t code, uint32_t, int32_t lParam) {
    switch (code) {
        case UM_CHANGE_ONE_KEY_LIGHT_COLOR:
            m_bColorChange = true;
            // Shown, and sent, as the LED will show it.
            m_color = LedColorRef(static_cast<uint32_t>(lParam) & 0xFFFFFF);
            shownColor_ = m_color;
            colorButton_->SetColor(m_color);
            break;
        case UM_CHANGE_ONE_KEY_VK:
            shownVk_ = lParam;
            m_bVkChange = true;
            break;
        case UM_SHOW_VK:
            shownVk_ = lParam;
            break;
        case UM_RESTORE_VK:
            shownVk_ = startVk_;
            break;
        case UM_MARCO_SET:
            m_bMarco = true;
            return 1;
        default:
            return 0;
    }
    ShowChoice();
    return 1;
}

QString CCVKBDlg::KeyboardPicture() const {
    const QString language = g_strLanguage == "en" ? "en" : "ch";
    return "res/uipics/vk-" + language + (m_layer == 0 ? "-L0" : "") + ".png";
}

void CCVKBDlg::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), ColorOf(kPanelGrey));
    const qreal dpr = devicePixelRatioF();
    const QPixmap background = Pictures::Get("res/uipics/bg.png", dpr);
    const QPixmap keyboard = Pictures::Get(KeyboardPicture(), dpr);
    if (background.isNull() || keyboard.isNull()) {
        return;
    }
    // Both stretched from the keyboard picture's size: the hot spots lie on that layout.
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    const QRectF source(QPointF(0, 0), keyboard.size());
    painter.drawPixmap(QRectF(rect()), background, source);
    painter.drawPixmap(QRectF(rect()), keyboard, source);
}

}  // namespace tavrik::ui
