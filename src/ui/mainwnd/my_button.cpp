#include "ui/mainwnd/my_button.h"

#include <QPainter>
#include <QPointer>

#include "app/applog.h"
#include "keys/keycodes.h"
#include "ui/keypicker/key_picker.h"
#include "ui/mainwnd/my_button_host.h"
#include "ui/pictures/picture_cache.h"
#include "ui/widgets/control_codes.h"
#include "ui/widgets/notify_sink.h"
#include "ui/widgets/ui_prompts.h"

namespace tavrik::ui {
namespace {

// Shown for a damaged key module in every language.
const char* const kDamagedKeyText = "物理按键固件损坏，请先到配置界面升级固件";

}  // namespace

CMyButton::CMyButton(QWidget* parent, int slot)
    : CPicButton(parent, "N/A"),
      slot_(slot),
      colour_(kPanelGrey),
      normalPicture_("res/uipics/keyInactive.png"),
      focusPicture_("res/uipics/keyActive.png") {
    hoverTimer_.setSingleShot(true);
    hoverTimer_.setInterval(kHoverDelayMs);
    connect(&hoverTimer_, &QTimer::timeout, this, &CMyButton::HoverSettled);
    UpdateAccessibleName();
}

void CMyButton::SetSlot(int slot) {
    slot_ = slot;
    UpdateAccessibleName();
}

void CMyButton::SetVk(int vk) {
    m_vk = vk < 0 || vk > 255 ? 0 : vk;
    UpdateAccessibleName();
    update();
}

void CMyButton::SetModuleUnassigned(bool on) {
    moduleUnassigned_ = on;
    update();
}

bool CMyButton::NoCodeOnLayer() const {
    return m_vk == VK_WAIT_SET && !moduleUnassigned_;
}

void CMyButton::SetColor(uint32_t colorref) {
    colour_ = colorref & 0xFFFFFF;
    update();
}

void CMyButton::SetSelected(bool on) {
    selected_ = on;
    if (on) {
        setFocus(Qt::OtherFocusReason);
    } else if (hasFocus()) {
        clearFocus();
    }
    update();
}

void CMyButton::focusOutEvent(QFocusEvent* event) {
    selected_ = false;
    CPicButton::focusOutEvent(event);
}

void CMyButton::UpdateAccessibleName() {
    QString legend = "empty";
    if (m_vk != 0) {
        const std::string_view name = HidKeyName(HidOfKeyCode(static_cast<unsigned>(m_vk)));
        legend = name.empty() ? QString("0x%1").arg(m_vk, 2, 16, QChar('0'))
                              : QString::fromUtf8(name.data(), qsizetype(name.size()));
    }
    setAccessibleName(QString("Key %1: %2").arg(slot_).arg(legend));
}

MyButtonHost* CMyButton::Host() const {
    for (QWidget* w = parentWidget(); w; w = w->parentWidget()) {
        if (auto* host = dynamic_cast<MyButtonHost*>(w)) {
            return host;
        }
    }
    return nullptr;
}

// A code whose picture file is missing keeps the pictures loaded before; the next paint
// tries again.
void CMyButton::LoadPictures() {
    if (m_vk == pictureKey_) {
        return;
    }
    const uint8_t hid = HidOfKeyCode(static_cast<unsigned>(m_vk));
    const QString normal = QString::fromStdString(KeyPicturePath(hid, false));
    if (!Pictures::Exists(normal)) {
        return;
    }
    normalPicture_ = normal;
    const QString focus = QString::fromStdString(KeyPicturePath(hid, true));
    if (Pictures::Exists(focus)) {
        focusPicture_ = focus;
    }
    pictureKey_ = m_vk;
}

void CMyButton::paintEvent(QPaintEvent*) {
    LoadPictures();
    QPainter painter(this);
    painter.fillRect(rect(), ColorOf(colour_));
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    if (NoCodeOnLayer()) {
        // Not the "?" of a module waiting for its key: an empty cap with a dash.
        DrawPicture(painter, rect(), "res/uipics/keyInactive.png");
        painter.setPen(Qt::white);
        painter.setFont(UiFont(34, 14, 700));
        painter.drawText(rect(), Qt::AlignCenter, QString::fromUtf8("–"));
    } else {
        DrawPicture(painter, rect(), Selected() ? focusPicture_ : normalPicture_);
    }
    // Selected and hovered each have their own frame: white and inside, magenta at the rim.
    if (Selected() && m_vk != 0) {
        DrawFrame(painter, rect().adjusted(4, 4, -4, -4), Qt::white, 3);
    }
    if (Hovered() && m_vk != 0) {
        DrawFrame(painter, rect().adjusted(1, 1, -1, -1), ColorOf(kMagenta), 2);
    }
}

void CMyButton::SetHovered(bool on) {
    if (on) {
        // Lit only once the mouse rests; passing over a row of keys lights nothing.
        if (!Hovered() && !hoverTimer_.isActive()) {
            hoverTimer_.start();
        }
        return;
    }
    hoverTimer_.stop();
    CPicButton::SetHovered(false);
    if (ledRequested_) {
        ledRequested_ = false;
        if (MyButtonHost* host = Host()) {
            host->LedHighlightOff(slot_, colour_);
        }
    }
}

void CMyButton::HoverSettled() {
    CPicButton::SetHovered(true);
    if (!ledRequested_) {
        ledRequested_ = true;
        if (MyButtonHost* host = Host()) {
            host->LedHighlightOn(slot_, kWhite);
        }
    }
}

void CMyButton::OnClick() {
    MyButtonHost* host = Host();
    if (host) {
        host->DeselectKeys(slot_);
    }
    if (m_vk == 0) {
        return;
    }
    if (m_vk == VK_WAIT_UPGRADE) {
        UiPrompts::Message(window(), QString::fromUtf8(kDamagedKeyText));
        return;
    }

    KeyPickInputs inputs;
    inputs.layer = layer_;
    inputs.layerCodes[static_cast<size_t>(layer_ & 3)] = static_cast<uint8_t>(m_vk);
    QPoint position(-1, -1);
    const KeyboardRef keyboard = host ? host->ShownKeyboard() : KeyboardRef{};
    if (host) {
        inputs = host->PickInputs(slot_);
        position = host->DialogPosition();
    }
    const int layer = inputs.layer;

    // Made for this click only. The window may go away while the picker runs (the program
    // quits): nothing of it is touched then.
    QPointer<CMyButton> self(this);
    QPointer<CCVKBDlg> dlg(new CCVKBDlg(window()));
    dlg->m_position = position;
    dlg->m_layer = layer;
    dlg->m_vk = m_vk;
    for (size_t i = 0; i < 4; ++i) {
        dlg->m_layerCodes[i] = inputs.layerCodes[i];
    }
    dlg->m_color = colour_;
    dlg->m_context = inputs.context;
    // The window writes the choice; while this keyboard stays, it stays the selected one
    // (the picker is modal; only its going moves the selection).
    if (host) {
        dlg->SetKeyboardCheck([host, keyboard] { return host->ConfirmKeyboard(keyboard); });
    }
    dlg->RunModal();
    if (!self || !dlg) {
        delete dlg.data();
        return;
    }
    const int pickedVk = dlg->m_vk;
    const uint32_t pickedColor = dlg->m_color;
    bool vkChange = dlg->m_bVkChange;
    const bool colorChange = dlg->m_bColorChange;
    const bool marco = dlg->m_bMarco;
    const bool stays = dlg->KeyboardStays();
    delete dlg.data();
    if (!stays) {
        DlgLog("The keyboard went while the picker was open: nothing is written");
        return;
    }

    if (marco) {
        if (host) {
            host->RunMarcoEditor(MarcoEditInputs{slot_, layer, static_cast<uint8_t>(m_vk), colour_,
                                                 position, keyboard});
        }
        if (!self) {
            return;
        }
        // The editor wrote the key itself; its code comes back from the keyboard.
        vkChange = false;
    }

    bool wspState = false;
    if (vkChange) {
        DlgLog("dlg.m_bVkChange == true");
        if (m_vk == VK_WAIT_SET && layer == 0) {
            DlgLog("m_vk == VK_WAIT_SET, set bWspState to true");
            wspState = true;
        }
        SetVk(pickedVk);
        if (host) {
            host->KeyCodePicked(slot_, m_vk);
        }
    }
    uint32_t colour = 0;
    if (colorChange) {
        DlgLog("dlg.m_bColorChange == true");
        colour = pickedColor;
    } else if (wspState) {
        DlgLog("Set color due to bWspState");
        colour = kWhite;
    } else {
        return;
    }
    SetColor(colour);
    if (host) {
        host->KeyColourPicked(slot_, colour_);
    }
}

}  // namespace tavrik::ui
