// What a keyboard may do by its kind's row and its controller's firmware together: the
// row is the transport's (hid), the version thresholds the wire's (protocol).
#pragma once

#include "hid/device_table.h"
#include "protocol/firmware_features.h"

namespace tavrik {

// Whether a macro may loop by itself (AutoLoop mode) on this keyboard.
inline bool AutoLoopAllowed(const DeviceTableRow& row, int version) {
    switch (row.autoLoop) {
        case AutoLoop::Always:
            return true;
        case AutoLoop::WithNewFirmware:
            return FirmwareLoopsMarco(version);
        case AutoLoop::Never:
            break;
    }
    return false;
}

}  // namespace tavrik
