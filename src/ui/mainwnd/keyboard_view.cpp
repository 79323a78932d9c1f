#include "ui/mainwnd/keyboard_view.h"

#include <QLabel>
#include <QWidget>

#include "app/app_globals.h"
#include "app/texts.h"
#include "device/snapshot.h"
#include "keys/keycodes.h"
#include "ui/mainwnd/my_button.h"
#include "ui/widgets/control_codes.h"
#include "ui/widgets/info_button.h"
#include "ui/widgets/keyboard_tab.h"
#include "ui/widgets/picture_buttons.h"
#include "ui/widgets/text_buttons.h"
#include "ui/widgets/ui_texts.h"

namespace tavrik::ui {
namespace {

// The words of the key tooltips, looked up once per refresh, not for every key of a page:
// each lookup looks at the text table's file.
struct KeyTipTexts {
    std::string key = GetButtonText("tipKey", g_strLanguage);
    QString module = ButtonText("tipModule");
    QString firmware = ButtonText("tipFirmware");
    QString colour = ButtonText("tipColor");
    QString bootloader = ButtonText("tipBootloader");
    QString unassigned = ButtonText("tipUnassigned");
    QString noCode = ButtonText("tipNoCode");
};

// Slot, module, firmware, colour, and what a "?", "–" or warning sign means there.
QString KeyTip(const KeyTipTexts& t, int slot, const KeySlot& k, const CMyButton& key) {
    QString tip = QString::fromStdString(FillNumbers(t.key, {slot + 1}));
    if (!k.Present()) {
        return tip;
    }
    tip += QString::fromUtf8(" · ") + t.module +
           QString(" %1").arg(k.uid, 8, 16, QChar('0')).toUpper();
    tip += QString::fromUtf8(" · ") + t.firmware + QString(" V%1.%2").arg(k.verHi).arg(k.verLo);
    tip += QString::fromUtf8(" · ") + t.colour +
           QString(" #%1%2%3")
               .arg(k.colour & 0xFF, 2, 16, QChar('0'))
               .arg((k.colour >> 8) & 0xFF, 2, 16, QChar('0'))
               .arg((k.colour >> 16) & 0xFF, 2, 16, QChar('0'))
               .toUpper();
    if (k.stage == 'B' || k.vk[0] == VK_WAIT_UPGRADE) {
        tip += "\n" + t.bootloader;
    } else if (key.ModuleUnassigned()) {
        tip += "\n" + t.unassigned;
    } else if (key.NoCodeOnLayer()) {
        tip += "\n" + t.noCode;
    }
    return tip;
}

}  // namespace

QRect KeyButtonRect(int slot) {
    const int onPage = slot % kKeysPerPage;
    return QRect(92 + 102 * (onPage % 9), 110 + 70 * (onPage / 9), 100, 70);
}

KeyboardView::KeyboardView(QWidget* window, bool oneClick) : window_(window) {
    for (int i = 0; i < 4; ++i) {
        auto* tab = new CKeyBoardButton(
            window, ButtonText("KeyBoardCommonName") + QString(" %1").arg(i + 1),
            UM_KEYBOARD_SELECT, i);
        tab->setGeometry(60 + 80 * i, 34, 70, 32);
        tabs_[static_cast<size_t>(i)] = tab;

        auto* layer = new CKeyBoardButton(window, ButtonText("LayerName") + QString::number(i),
                                          UM_LAYER_SELECT, i);
        layer->setGeometry(20, 170 + 82 * (3 - i), 70, 32);
        layer->SetDisabled(false);
        layers_[static_cast<size_t>(i)] = layer;
    }
    SelectLayer(0);
    prevPage_ = new ClickSdMsgButton(window, "Pre  Page", UM_PAGE_SWITCH);
    prevPage_->setGeometry(Ltrb(794, 470, 1014, 500));
    prevPage_->hide();
    nextPage_ = new ClickSdMsgButton(window, "Next Page", UM_PAGE_SWITCH);
    nextPage_->setGeometry(Ltrb(794, 470, 1014, 500));
    nextPage_->hide();
    allColor_ = new CChAllLightColorButton(window, ButtonText("chAllColor"));
    allColor_->setGeometry(Ltrb(794, 510, 1014, 540));
    if (oneClick) {
        // The same words in every language.
        oneClick_ = new ClickSdMsgButton(window, QString::fromUtf8("一键烧录键值"),
                                         UM_ONE_CLICK_PROGRAM_KEY);
        oneClick_->setGeometry(Ltrb(150, 40, 350, 80));
    }
    prompt_ =
        new CPromptPictureButton(window, {"res/uipics/sBgDefault.png", "res/uipics/sBgConnect.png",
                                          "res/uipics/sBgInstallKeys.png"});
    prompt_->setGeometry(Ltrb(349, 116, 711, 489));
    promptLines_[0] = new CInfoButton(window, PromptText("mainPrompt1"));
    promptLines_[0]->setGeometry(Ltrb(50, 484, 750, 508));
    promptLines_[1] = new CInfoButton(window, PromptText("mainPrompt2"));
    promptLines_[1]->setGeometry(Ltrb(50, 510, 750, 536));
    help_ = new QLabel(window);
    help_->setObjectName("helpPanel");
    help_->setAccessibleName("Help");
    help_->setGeometry(Ltrb(150, 130, 910, 470));
    help_->setWordWrap(true);
    help_->setTextFormat(Qt::PlainText);
    help_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    help_->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    help_->setMargin(16);
    help_->setStyleSheet(
        "QLabel#helpPanel { background: #1e1e22; color: #ffffff; border: 2px solid #ffffff;"
        " font-size: 17px; }");
    help_->hide();
}

bool KeyboardView::ShowHelp(const QString& text) {
    if (keysShown_) {
        return false;
    }
    help_->setText(text);
    help_->show();
    help_->raise();
    return true;
}

void KeyboardView::HideHelp() {
    help_->hide();
}

void KeyboardView::SelectLayer(int layer) {
    for (int i = 0; i < 4; ++i) {
        layers_[static_cast<size_t>(i)]->SetSelected(i == layer);
    }
}

void KeyboardView::ShowPageButtons(bool hidePages, int page) {
    if (hidePages) {
        prevPage_->hide();
        nextPage_->hide();
    } else if (page == 1) {
        prevPage_->setText(ButtonText("ShowPrePage"));
        prevPage_->show();
        prevPage_->update();
        nextPage_->hide();
    } else {
        nextPage_->setText(ButtonText("ShowNextPage"));
        nextPage_->show();
        nextPage_->update();
        prevPage_->hide();
    }
}

void KeyboardView::UpdatePageControls(const SessionSnapshot& snap) {
    hideLayers_ = snap.hideLayerBtn;
    hideAllColor_ = snap.hideAllColorBtn;
    hidePages_ = snap.hidePageBtn;
    if (!keysShown_) {
        // No keys to edit (none fitted, no keyboard): nothing that works on them. A scan
        // round's end would otherwise bring the buttons back over the prompt picture.
        allColor_->hide();
        for (auto* layer : layers_) {
            layer->hide();
        }
        ShowPageButtons(true, 0);
        return;
    }
    allColor_->setVisible(!hideAllColor_);
    for (auto* layer : layers_) {
        layer->setVisible(!hideLayers_);
    }
    ShowPageButtons(hidePages_, DevPage(snap.devIdx));
}

CMyButton& KeyboardView::Key(int slot) {
    if (keys_[0] == nullptr) {
        MakeKeys();
    }
    return *keys_[static_cast<size_t>(slot)];
}

void KeyboardView::MakeKeys() {
    for (int s = 0; s < static_cast<int>(kKeySlots); ++s) {
        auto* key = new CMyButton(window_, s);
        key->setGeometry(KeyButtonRect(s));
        key->hide();
        keys_[static_cast<size_t>(s)] = key;
    }
    // Stacked where they were when the view made them first: over the status line, whose
    // bottom edge they overlap, and under the view's other controls.
    for (CMyButton* key : keys_) {
        key->stackUnder(tabs_[0]);
    }
}

void KeyboardView::RefreshShownKeys(const SessionSnapshot& snap) {
    const int layer = snap.curLayer & 3;
    const KeyTipTexts texts;
    for (int s = m_nShownPage * kKeysPerPage; s < (m_nShownPage + 1) * kKeysPerPage; ++s) {
        const KeySlot& slot = snap.slots[static_cast<size_t>(s)];
        CMyButton& key = Key(s);
        key.SetLayer(layer);
        key.SetVk(slot.vk[static_cast<size_t>(layer)]);
        key.SetColor(slot.colour);
        key.SetModuleUnassigned(slot.vk[0] == VK_WAIT_SET);
        key.setToolTip(KeyTip(texts, s, slot, key));
        key.update();
    }
}

void KeyboardView::ShowPage(const SessionSnapshot& snap) {
    UpdatePageControls(snap);
    m_nShownPage = DevPage(snap.devIdx);
    for (int s = 0; s < static_cast<int>(kKeySlots); ++s) {
        if (PageOfSlot(s) != m_nShownPage) {
            Key(s).hide();
        }
    }
    RefreshShownKeys(snap);
    if (keysShown_) {
        for (int s = m_nShownPage * kKeysPerPage; s < (m_nShownPage + 1) * kKeysPerPage; ++s) {
            Key(s).show();
        }
    }
}

void KeyboardView::ShowKeysView(const SessionSnapshot& snap) {
    HideHelp();
    if (prompt_->isVisible()) {
        prompt_->SetState(0);
        prompt_->repaint();
        prompt_->hide();
    }
    keysShown_ = true;
    allColor_->show();
    for (auto* line : promptLines_) {
        line->show();
    }
    UpdatePageControls(snap);
    m_nShownPage = DevPage(snap.devIdx);
    for (int s = 0; s < static_cast<int>(kKeySlots); ++s) {
        Key(s).setVisible(PageOfSlot(s) == m_nShownPage);
        Key(s).update();
    }
}

void KeyboardView::HideKeysView() {
    keysShown_ = false;
    for (auto* key : keys_) {
        if (key == nullptr) {
            break;  // none made yet
        }
        key->SetVk(0);
        key->SetColor(kPanelGrey);
        key->hide();
    }
    for (auto* layer : layers_) {
        layer->hide();
    }
    allColor_->hide();
    for (auto* line : promptLines_) {
        line->hide();
    }
    prevPage_->hide();
    nextPage_->hide();
}

void KeyboardView::SetPromptPicture(int state) {
    if (state < 0 || state > 2) {
        return;
    }
    prompt_->SetState(state);
    prompt_->update();
    prompt_->show();
}

void KeyboardView::DeselectKeys(int slot) {
    for (int s = m_nShownPage * kKeysPerPage; s < (m_nShownPage + 1) * kKeysPerPage; ++s) {
        if (s != slot && Key(s).Selected()) {
            Key(s).SetSelected(false);
        }
    }
}

}  // namespace tavrik::ui
