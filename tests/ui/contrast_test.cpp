// Captions are readable in every state: text against its own plate at least 4.5:1 (WCAG
// AA), measured on what the buttons draw, in both languages and at 2x.
#include <gtest/gtest.h>

#include <QPainter>
#include <QPixmap>
#include <cmath>

#include "ui/settings/setup_dlg.h"
#include "ui/widgets/control_codes.h"
#include "ui/widgets/info_button.h"
#include "ui/widgets/keyboard_tab.h"
#include "ui/widgets/pic_button.h"
#include "ui/widgets/text_buttons.h"
#include "window_rig.h"

namespace tavrik::ui {
namespace {

double Luminance(const QColor& c) {
    const auto channel = [](double v) {
        v /= 255.0;
        return v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * channel(c.red()) + 0.7152 * channel(c.green()) + 0.0722 * channel(c.blue());
}

double Contrast(const QColor& a, const QColor& b) {
    const double la = Luminance(a);
    const double lb = Luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

TEST(UiContrast, EveryLookOfTheTextButtonsPaletteMeetsAA) {
    for (const bool selected : {false, true}) {
        for (const bool hovered : {false, true}) {
            for (const bool focused : {false, true}) {
                const ButtonLook look{selected, hovered, focused, false};
                EXPECT_GE(Contrast(CaptionColor(look), PlateColor(look)), 4.5)
                    << selected << hovered << focused;
            }
        }
    }
    // The selected look stands out most: its contrast is above the plain one's.
    EXPECT_GT(Contrast(CaptionColor({true}), PlateColor({true})),
              Contrast(CaptionColor({}), PlateColor({})));
}

// The caption pixel farthest from the plate against the plate, as drawn; the plate is
// sampled at `plateAt` (logical pixels), where no text reaches.
double DrawnContrast(QWidget& button, qreal dpr, QPoint plateAt = {8, 8}) {
    QPixmap picture(button.size() * dpr);
    picture.setDevicePixelRatio(dpr);
    button.render(&picture);
    const QImage image = picture.toImage();
    const QColor plate =
        image.pixelColor(static_cast<int>(plateAt.x() * dpr), static_cast<int>(plateAt.y() * dpr));
    double best = 1.0;
    for (int y = static_cast<int>(6 * dpr); y < image.height() - 6 * dpr; ++y) {
        for (int x = static_cast<int>(8 * dpr); x < image.width() - 8 * dpr; ++x) {
            best = std::max(best, Contrast(image.pixelColor(x, y), plate));
        }
    }
    return best;
}

TEST(UiContrast, TheSelectedTabAndLayerAreTheEasiestToRead) {
    QWidget window;
    window.resize(400, 100);
    for (const QString& caption : {QString("KB 1"), QString("Layer 2"), QString::fromUtf8("键盘 1"),
                                   QString::fromUtf8("层 2")}) {
        for (const qreal dpr : {1.0, 2.0}) {
            CKeyBoardButton tab(&window, caption, UM_KEYBOARD_SELECT, 0);
            tab.setGeometry(0, 0, 70, 32);
            tab.SetDisabled(false);
            const double plain = DrawnContrast(tab, dpr);
            tab.SetSelected(true);
            const double selected = DrawnContrast(tab, dpr);
            // Thin Chinese strokes at 1x are all edge: no pixel reaches the full text colour
            // (the colours themselves are held above); at 2x they do.
            const bool hairlines = dpr < 2 && caption.at(0).unicode() > 0x2000;
            if (!hairlines) {
                EXPECT_GE(plain, 4.5) << caption.toStdString() << " at " << dpr;
            }
            EXPECT_GE(selected, 4.5) << caption.toStdString() << " at " << dpr;
            EXPECT_GT(selected, plain) << caption.toStdString() << " at " << dpr;
        }
    }
}

// The settings window's web-site link on its grey label plate, as drawn.
TEST(UiContrast, TheSettingsWebSiteLinkMeetsAA) {
    test::WindowRig rig(0);
    CSetupDlg::SetExecHook([](CSetupDlg& dlg) {
        CInfoButton* site = dlg.SiteLink();
        ASSERT_NE(site, nullptr);
        ASSERT_FALSE(site->Link().isEmpty());
        for (const qreal dpr : {1.0, 2.0}) {
            EXPECT_GE(DrawnContrast(*site, dpr, {site->width() - 2, 2}), 4.5) << "at " << dpr;
        }
    });
    rig.W().OpenSettings();
    CSetupDlg::SetExecHook({});
}

}  // namespace
}  // namespace tavrik::ui
