#include <gtest/gtest.h>

#include "device/mode_rules.h"
#include "device/session_result.h"

namespace tavrik {
namespace {

TEST(ModeRules, RefuseWhatTheControllerWouldStoreAndNotRun) {
    struct Case {
        ModeChange change;
        int standard;
        int result;
    };
    const Case cases[] = {
        {{.usbRate = 8}, 44, kSessionOk},
        {{.usbRate = 0}, 44, kErrUsbRate},
        {{.usbRate = 7}, 0, kErrUsbRate},
        {{.overload = true}, 44, kSessionOk},  // the controller's own limits
        {{.overload = false}, 44, kSessionOk},
        {{.overload = false, .overloadCount = 50}, 44, kErrCountWithoutOverload},
        {{.nkro = true, .overloadCount = 50}, 44, kErrCountWithoutOverload},
        {{.overload = true, .overloadCount = 41}, 0, kErrOverloadCountRange},
        {{.overload = true, .overloadCount = 91}, 0, kErrOverloadCountRange},
        {{.overload = true, .overloadCount = 42}, 0, kSessionOk},  // standard count unknown
        {{.overload = true, .overloadCount = 44}, 44, kErrOverloadCountNotAbove},
        {{.overload = true, .overloadCount = 45}, 44, kSessionOk},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ModeRefusal(c.change, c.standard), c.result)
            << c.change.usbRate.value_or(-1) << " " << c.change.overloadCount << " " << c.standard;
    }
}

TEST(ModeRules, TheStandardCountIsKnownOnlyWhenTheControllerReportsIt) {
    SessionSnapshot s;
    s.keyMaxStd = 50;
    s.kbmcStage = 'A';
    s.kbmcVerHi = 1;
    s.kbmcVerLo = 9;  // 265
    EXPECT_EQ(StandardModuleCount(s), 50);
    s.kbmcVerLo = 8;
    EXPECT_EQ(StandardModuleCount(s), 0);
    s.kbmcVerLo = 40;
    s.kbmcStage = 'B';
    EXPECT_EQ(StandardModuleCount(s), 0);
}

}  // namespace
}  // namespace tavrik
