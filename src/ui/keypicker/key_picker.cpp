#include "ui/keypicker/key_picker.h"

#include <QKeyEvent>
#include <QLineEdit>
#include <QPainter>

#include "app/app_globals.h"
#include "app/texts.h"
#include "keys/keycodes.h"
#include "keys/picker_find.h"
#include "keys/picker_table.h"
#include "ui/common/key_event_code.h"
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

bool IsEnter(const QKeyEvent& event) {
    return event.key() == Qt::Key_Return || event.key() == Qt::Key_Enter;
}

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
    prompt_->setAccessibleName("Prompt");
    search_ = new QLineEdit(this);
    search_->setGeometry(Ltrb(700, 36, 950, 64));
    search_->setPlaceholderText(Text(GetButtonText, "vkFind"));
    search_->setAccessibleName("Find a key");
    // Only a click (or Ctrl+F) gives it the keys: until then they pick by being pressed.
    search_->setFocusPolicy(Qt::ClickFocus);
    search_->setStyleSheet("QLineEdit { background: #202020; color: white; padding: 0 6px; }");
    connect(search_, &QLineEdit::textEdited, this, &CCVKBDlg::Search);
    search_->installEventFilter(this);
    // The prompt line overlaps the cap's lower edge by a few pixels: the cap stays whole.
    display_->raise();
}

CCVKBDlg::~CCVKBDlg() = default;

void CCVKBDlg::PrepareControls() {
    m_bVkChange = m_bColorChange = m_bMarco = false;
    found_ = -1;
    search_->clear();
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
        connect(key, &CKeyButton::picked, this, &CCVKBDlg::Pick);
        key->show();
        keys_[i] = key;
    }
}

void CCVKBDlg::Pick(int keyCode) {
    m_vk = keyCode;
    m_bVkChange = true;
    close();
}

void CCVKBDlg::keyPressEvent(QKeyEvent* event) {
    event->accept();
    if (event->key() == Qt::Key_Escape) {
        QDialog::keyPressEvent(event);
        return;
    }
    if (event->isAutoRepeat()) {
        return;
    }
    if (event->matches(QKeySequence::Find)) {
        search_->setFocus(Qt::ShortcutFocusReason);
        search_->selectAll();
        return;
    }
    if (IsEnter(*event) && found_ >= 0) {
        Pick(FoundCode());
        return;
    }
    KeyPressed(*event);
}

// Enter in the search field takes its only match, and goes no further: the field would
// pass it on, and the picker would take it for the Enter key pressed to pick.
bool CCVKBDlg::eventFilter(QObject* watched, QEvent* event) {
    if (watched != search_ || event->type() != QEvent::KeyPress ||
        !IsEnter(*static_cast<QKeyEvent*>(event))) {
        return ModalDialog::eventFilter(watched, event);
    }
    if (found_ >= 0) {
        Pick(FoundCode());
    }
    return true;
}

void CCVKBDlg::KeyPressed(const QKeyEvent& event) {
    const int entry = PickerEntryOfKeyCode(KeyCodeOfEvent(event).keyCode, m_layer);
    if (entry < 0) {
        ForgetFound();
        Say(Text(GetPromptText, "vkNoCode"));
        return;
    }
    search_->clear();
    Find(entry, {entry});
}

void CCVKBDlg::Search(const QString& text) {
    const PickerMatches matches = FindPickerKeys(text.toStdString(), m_layer);
    if (matches.Pick() >= 0) {
        Find(matches.Pick(), matches.entries);
        return;
    }
    ForgetFound();
    Mark(matches.entries);
    if (text.trimmed().isEmpty()) {
        Say(Text(GetPromptText, "vkPrompt1"));
    } else if (matches.entries.empty()) {
        Say(Text(GetPromptText, "vkFoundNone"));
    } else {
        Say(QString::fromStdString(FillNumbers(GetPromptText("vkFound", g_strLanguage),
                                               {static_cast<long>(matches.entries.size())})));
    }
}

void CCVKBDlg::Find(int entry, const std::vector<int>& marked) {
    ForgetFound();
    found_ = entry;
    Mark(marked);
    shownVk_ = FoundCode();
    ShowChoice();
    const std::string_view name = HidKeyName(HidOfKeyCode(static_cast<unsigned>(shownVk_)));
    Say(QString::fromStdString(FillTexts(GetPromptText("vkPressed", g_strLanguage), {name})));
}

void CCVKBDlg::Mark(const std::vector<int>& entries) {
    for (const int i : entries) {
        if (CKeyButton* key = KeyButton(i)) {
            key->SetMarked(true);
        }
    }
}

int CCVKBDlg::FoundCode() const {
    return found_ < 0 ? 0 : PickerKeyTable()[static_cast<size_t>(found_)].keyCode;
}

void CCVKBDlg::ForgetFound() {
    found_ = -1;
    for (CKeyButton* key : keys_) {
        if (key != nullptr) {
            key->SetMarked(false);
        }
    }
    shownVk_ = startVk_;
    ShowChoice();
}

void CCVKBDlg::Say(const QString& text) {
    prompt_->setText(text);
    prompt_->update();
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
            shownVk_ = found_ >= 0 ? FoundCode() : startVk_;
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
