#include <gtest/gtest.h>

#include <QTest>
#include <QWidget>

#include "ui/widgets/control_codes.h"
#include "ui/widgets/notify_sink.h"
#include "ui/widgets/pic_button.h"

namespace tavrik::ui {
namespace {

struct Recorder : QWidget, NotifySink {
    struct Call {
        uint32_t code;
        uint32_t wParam;
        int32_t lParam;
    };
    std::vector<Call> calls;
    int OnNotify(uint32_t code, uint32_t wParam, int32_t lParam) override {
        calls.push_back({code, wParam, lParam});
        return 0;
    }
};

TEST(UiWidgets, TextButtonSendsItsCodeToTheNearestWindowOnRelease) {
    Recorder window;
    QWidget middle(&window);
    ClickSdMsgButton button(&middle, "Next Page", UM_PAGE_SWITCH);
    button.setGeometry(0, 0, 220, 30);
    window.show();
    QTest::mousePress(&button, Qt::LeftButton);
    EXPECT_TRUE(window.calls.empty());
    QTest::mouseRelease(&button, Qt::LeftButton);
    ASSERT_EQ(window.calls.size(), 1u);
    EXPECT_EQ(window.calls[0].code, UM_PAGE_SWITCH);
    EXPECT_EQ(window.calls[0].wParam, 0u);
}

}  // namespace
}  // namespace tavrik::ui
