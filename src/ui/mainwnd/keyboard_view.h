// The part of the main window that shows the selected keyboard: 90 key buttons in two
// pages of 45, the keyboard tabs, the layer buttons, the page buttons, the all-keys colour
// button, the optional one-click button and the prompt picture that stands in for the keys
// while there is nothing to show. It draws from snapshots the window hands it; it never
// reads a session.
#pragma once

#include <QRect>
#include <array>
#include <cstdint>

#include "protocol/protocol.h"

class QLabel;
class QWidget;

namespace tavrik {
struct SessionSnapshot;
}

namespace tavrik::ui {

class CChAllLightColorButton;
class CInfoButton;
class CKeyBoardButton;
class CMyButton;
class CPromptPictureButton;
class ClickSdMsgButton;

inline constexpr int kKeysPerPage = 45;

// Where slot s's key button sits: page s / 45, row (s % 45) / 9, column s % 9.
QRect KeyButtonRect(int slot);
inline int PageOfSlot(int slot) {
    return slot / kKeysPerPage;
}

class KeyboardView {
public:
    // Creates every control as a child of `window`; `oneClick` adds the one-click button.
    KeyboardView(QWidget* window, bool oneClick);

    // The selected keyboard's page (0 or 1) as last shown for each slot.
    int DevPage(int dev) const { return m_nDevPage[static_cast<size_t>(dev & 3)]; }
    void SetDevPage(int dev, int page) { m_nDevPage[static_cast<size_t>(dev & 3)] = page & 1; }
    int ShownPage() const { return m_nShownPage; }

    // The selected keyboard's page on its layer, refreshed from the snapshot.
    void ShowPage(const SessionSnapshot& snap);
    // Layer, colour and page buttons as the keyboard's kind wants them.
    void UpdatePageControls(const SessionSnapshot& snap);
    // The keys in place of the prompt picture (after a scan found keys).
    void ShowKeysView(const SessionSnapshot& snap);
    // Keys and everything that belongs to them hidden.
    void HideKeysView();
    // 0 default, 1 connect, 2 install keys; others ignored.
    void SetPromptPicture(int state);
    // A help text too long for the status line (the permission help, a controller waiting
    // for its firmware) in a panel over the prompt picture, wrapped and selectable so its
    // commands can be copied. Only while no keys are shown; showing the keys hides it.
    // False when keys are shown (the caller says it another way).
    bool ShowHelp(const QString& text);
    void HideHelp();
    QLabel& HelpPanel() { return *help_; }
    // Every other selected key button of the shown page loses its selection.
    void DeselectKeys(int slot);
    // The key buttons of the shown page take the snapshot's codes and colours (0x41A).
    void RefreshShownKeys(const SessionSnapshot& snap);

    bool KeysShown() const { return keysShown_; }
    // The key buttons are made at the first use, not before the window's first frame,
    // which shows none of them.
    CMyButton& Key(int slot);
    CKeyBoardButton& KeyboardTab(int i) { return *tabs_[static_cast<size_t>(i)]; }
    CKeyBoardButton& LayerButton(int layer) { return *layers_[static_cast<size_t>(layer)]; }
    ClickSdMsgButton& PrevPageButton() { return *prevPage_; }
    ClickSdMsgButton& NextPageButton() { return *nextPage_; }
    CChAllLightColorButton& AllColorButton() { return *allColor_; }
    CPromptPictureButton& PromptPicture() { return *prompt_; }
    ClickSdMsgButton* OneClickButton() { return oneClick_; }
    // Layer buttons show `layer` selected.
    void SelectLayer(int layer);

private:
    void ShowPageButtons(bool hidePages, int page);
    void MakeKeys();

    QWidget* window_ = nullptr;
    std::array<CMyButton*, kKeySlots> keys_{};
    std::array<CKeyBoardButton*, 4> tabs_{};
    std::array<CKeyBoardButton*, 4> layers_{};
    ClickSdMsgButton* prevPage_ = nullptr;
    ClickSdMsgButton* nextPage_ = nullptr;
    CChAllLightColorButton* allColor_ = nullptr;
    ClickSdMsgButton* oneClick_ = nullptr;
    CPromptPictureButton* prompt_ = nullptr;
    QLabel* help_ = nullptr;
    std::array<CInfoButton*, 2> promptLines_{};
    std::array<int, 4> m_nDevPage{};
    int m_nShownPage = 0;
    bool keysShown_ = false;
    bool hideLayers_ = false;
    bool hideAllColor_ = false;
    bool hidePages_ = true;
};

}  // namespace tavrik::ui
