// UI tests run headless: one QApplication for the whole program, on the offscreen platform
// unless the caller chose another.
#include <gtest/gtest.h>

#include <QApplication>
#include <QTimer>
#include <cstdlib>

namespace {

// A test that asks the application to quit while no application loop runs (the program's
// own exit, a watchdog) leaves Qt quitting: every later nested loop, such as a dialog's
// modal run, would return at once. Running and ending one application loop before each
// test clears that, so no test depends on the order the tests ran in.
class FreshApplicationLoop : public testing::EmptyTestEventListener {
    void OnTestStart(const testing::TestInfo&) override {
        QTimer::singleShot(0, [] { QCoreApplication::exit(0); });
        QCoreApplication::exec();
    }
};

}  // namespace

int main(int argc, char** argv) {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);
    testing::InitGoogleTest(&argc, argv);
    testing::UnitTest::GetInstance()->listeners().Append(new FreshApplicationLoop);
    return RUN_ALL_TESTS();
}
