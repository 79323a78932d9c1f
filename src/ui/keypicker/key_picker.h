// The key code picker: a picture of a whole keyboard with a hot spot on every key, a colour
// button, a macro button and a display of the current choice. It is run modally for one
// key slot; the caller fills the inputs, runs it, and reads the result flags afterwards.
// A key is picked by a click on it; or found first, by pressing it on the computer's
// keyboard or by its name in the search field, and then taken with Enter or a click.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "ui/widgets/keyboard_dialog.h"

class QLineEdit;

namespace tavrik::ui {

class CChAllLightColorButton;
class CMarcoSetButton;
class CResultShowButton;
class CInfoButton;
class CKeyButton;

inline constexpr int kPickerWidth = kKeyboardDialogWidth;
inline constexpr int kPickerHeight = kKeyboardDialogHeight;
// Control ids: hot spot i is kPickerKeyIdBase + i (its object name).
inline constexpr int kPickerKeyIdBase = 15000;

class CCVKBDlg : public ModalDialog<CCVKBDlg> {
    Q_OBJECT
public:
    explicit CCVKBDlg(QWidget* parent = nullptr);
    ~CCVKBDlg() override;

    // Inputs (and m_position of the shell).
    int m_layer = 0;
    int m_vk = 0;
    std::array<int, 4> m_layerCodes{};
    uint32_t m_color = 0;
    // What the picker edits ("KB 1 · key 12 · layer 2"), shown at the top.
    QString m_context;

    // Results, false at entry.
    bool m_bVkChange = false;
    bool m_bColorChange = false;
    bool m_bMarco = false;

    int OnNotify(uint32_t code, uint32_t wParam, int32_t lParam) override;

    // The hot spot of table entry i, null when that entry has none on this layer.
    CKeyButton* KeyButton(int index) const;
    CResultShowButton* Display() const { return display_; }
    CChAllLightColorButton* ColorButton() const { return colorButton_; }
    CMarcoSetButton* MarcoButton() const { return marcoButton_; }
    int ShownKeyCode() const { return shownVk_; }
    uint32_t ShownColor() const { return shownColor_; }
    // The keyboard picture for the layer and the UI language.
    QString KeyboardPicture() const;
    CInfoButton* Prompt() const { return prompt_; }
    QLineEdit* SearchField() const { return search_; }
    // The entry a pressed key or the search found, which Enter takes; -1 for none.
    int FoundEntry() const { return found_; }

protected:
    // The results start false; the hot spots, the context and the chooser's colour come
    // from the inputs.
    void PrepareControls() override;
    void paintEvent(QPaintEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void MakeKeyButtons();
    void ShowChoice();
    void Pick(int keyCode);
    // The key pressed on the computer's keyboard.
    void KeyPressed(const QKeyEvent& event);
    void Search(const QString& text);
    // Shows entry `entry` in the preview and marks it (with the others of `marked`).
    void Find(int entry, const std::vector<int>& marked);
    void Mark(const std::vector<int>& entries);
    void ForgetFound();
    int FoundCode() const;
    void Say(const QString& text);

    CChAllLightColorButton* colorButton_;
    CMarcoSetButton* marcoButton_;
    CResultShowButton* display_;
    CInfoButton* prompt_;
    QLineEdit* search_;
    int found_ = -1;
    std::vector<CKeyButton*> keys_;  // by table index; null where there is no hot spot
    int shownVk_ = 0;
    int startVk_ = 0;
    uint32_t shownColor_;
};

}  // namespace tavrik::ui
