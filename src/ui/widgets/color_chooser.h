// The colour chooser of the keys: the full palette, and under it the colour the key's LED
// will really show. The LED has 16 levels per channel, so the user sees before confirming
// that a picked #FF8000 becomes #F08000; that is also the colour the chooser returns.
#pragma once

#include <QColor>
#include <QDialog>

class QColorDialog;
class QLabel;

namespace tavrik::ui {

class CColorChooser : public QDialog {
    Q_OBJECT
public:
    CColorChooser(QWidget* parent, const QColor& initial);

    // The colour as picked in the palette, and as the LED shows it.
    QColor Picked() const;
    QColor LedColor() const;
    // The line under the palette that names the LED's colour.
    QString LedText() const;
    QColorDialog& Palette() const { return *palette_; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void ShowLed(const QColor& picked);

    QColorDialog* palette_;
    QLabel* swatch_;
    QLabel* text_;
};

}  // namespace tavrik::ui
