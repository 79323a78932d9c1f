#include "device/mode_rules.h"

#include <algorithm>

#include "device/session_result.h"
#include "protocol/firmware_features.h"

namespace tavrik {

int StandardModuleCount(const SessionSnapshot& s) {
    return s.kbmcStage == 'A' && ReportsUsbRateInVersion(s.KbmcWord()) ? s.keyMaxStd : 0;
}

int ModeRefusal(const ModeChange& change, int standardCount) {
    if (change.usbRate &&
        std::find(kUsbRates.begin(), kUsbRates.end(), *change.usbRate) == kUsbRates.end()) {
        return kErrUsbRate;
    }
    if (change.overloadCount == 0) {
        return kSessionOk;
    }
    if (change.overload != true) {
        return kErrCountWithoutOverload;
    }
    if (change.overloadCount < kOverloadCountMin || change.overloadCount > kOverloadCountMax) {
        return kErrOverloadCountRange;
    }
    if (standardCount != 0 && change.overloadCount <= standardCount) {
        return kErrOverloadCountNotAbove;
    }
    return kSessionOk;
}

bool IsModeRefusal(int result) {
    return result == kErrUsbRate || result == kErrCountWithoutOverload ||
           result == kErrOverloadCountRange || result == kErrOverloadCountNotAbove;
}

}  // namespace tavrik
