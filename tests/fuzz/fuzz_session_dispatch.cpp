// Arbitrary reports through a session's receive-side decoder: whatever arrives, the key
// table is only written inside its bounds (the sanitizers watch) and every slot handed
// to the window addresses one of its key buttons.
#include <algorithm>
#include <cstdlib>
#include <memory>

#include "device/session.h"
#include "session_test_access.h"

namespace {

class CountingTarget : public tavrik::NotifyTarget {
public:
    void Notify(uint32_t code, uint32_t wParam, uint32_t) override {
        // Slot indices handed to the window must address its 90 key buttons.
        if (code != tavrik::UM_OTHER_KEYBOARD_SWITCH_LAYER && ((wParam >> 8) & 0xFF) >= 90) {
            std::abort();
        }
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static CountingTarget target;
    static auto dev = [] {
        auto d = std::make_unique<tavrik::CCCDev>(1, &target);
        d->Clock().SetPauseScale(0.0);
        return d;
    }();
    // The input is a stream of reports: a length byte, then that many payload bytes.
    size_t at = 0;
    while (at < size) {
        const size_t len = std::min<size_t>(data[at], size - at - 1);
        tavrik::SessionTestAccess::Dispatch(*dev, {data + at + 1, len});
        at += 1 + len;
    }
    // Scan requests from the reports may only ever leave a valid scan state.
    if (const int state = dev->Snapshot().scanState;
        state < tavrik::kScanRequested || state > tavrik::kScanIdle) {
        std::abort();
    }
    return 0;
}
