// The key code picker: a picture of a whole keyboard with a hot spot on every key, a colour
// button, a macro button and a display of the current choice. It is run modally for one
// key slot; the caller fills the inputs, runs it, and reads the result flags afterwards.
#pragma once

#include <QDialog>
#include <QPoint>
#include <array>
#include <cstdint>
#include <functional>
#include <vector>

#include "ui/widgets/notify_sink.h"

namespace tavrik::ui {

class CCloseButton;
class CBackButton;
class CLogoButton;
class CChAllLightColorButton;
class CMarcoSetButton;
class CResultShowButton;
class CInfoButton;
class CKeyButton;

inline constexpr int kPickerWidth = 1060;
inline constexpr int kPickerHeight = 560;
// Control ids: hot spot i is kPickerKeyIdBase + i (its object name).
inline constexpr int kPickerKeyIdBase = 15000;

// Where a dialog of `size` opens: at `wanted`, or at the bottom-right of the primary
// screen's work area when a coordinate of `wanted` is negative.
QPoint PlaceDialog(const QPoint& wanted, const QSize& size);

class CCVKBDlg : public QDialog, public NotifySink {
    Q_OBJECT
public:
    explicit CCVKBDlg(QWidget* parent = nullptr);
    ~CCVKBDlg() override;

    // Inputs. A negative coordinate places the dialog at the bottom-right of the work area.
    QPoint m_position{-1, -1};
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

    // Builds the controls for the inputs, places the dialog and runs it modally. Tests may
    // replace the modal run (SetExecHook). Escape closes it like the back button.
    int RunModal();
    // Builds the controls and places the dialog from the inputs (RunModal and the first
    // show call it).
    void Prepare();

    int OnNotify(uint32_t code, uint32_t wParam, int32_t lParam) override;

    // The hot spot of table entry i, null when that entry has none on this layer.
    CKeyButton* KeyButton(int index) const;
    CResultShowButton* Display() const { return display_; }
    CInfoButton* ContextLine() const { return context_; }
    CChAllLightColorButton* ColorButton() const { return colorButton_; }
    CMarcoSetButton* MarcoButton() const { return marcoButton_; }
    CCloseButton* CloseButton() const { return closeButton_; }
    CBackButton* BackButton() const { return backButton_; }
    int ShownKeyCode() const { return shownVk_; }
    uint32_t ShownColor() const { return shownColor_; }
    // The keyboard picture for the layer and the UI language.
    QString KeyboardPicture() const;

    // Replaces exec() in RunModal; the hook gets the prepared dialog. Empty: exec() again.
    using ExecHook = std::function<int(CCVKBDlg& dialog)>;
    static void SetExecHook(ExecHook hook);

protected:
    void paintEvent(QPaintEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    void MakeKeyButtons();
    void ShowChoice();

    CCloseButton* closeButton_;
    CBackButton* backButton_;
    CLogoButton* logo_;
    CChAllLightColorButton* colorButton_;
    CMarcoSetButton* marcoButton_;
    CResultShowButton* display_;
    CInfoButton* prompt_;
    CInfoButton* context_;
    std::vector<CKeyButton*> keys_;  // by table index; null where there is no hot spot
    bool prepared_ = false;
    int shownVk_ = 0;
    int startVk_ = 0;
    uint32_t shownColor_;
};

}  // namespace tavrik::ui
