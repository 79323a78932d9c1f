#include "device/key_assign.h"

#include "device/session.h"
#include "keys/keycodes.h"

namespace tavrik {

uint8_t UpdatedKeyFlag(uint8_t flag, uint8_t hid, int layer) {
    if (IsLayerKeyHid(hid)) {
        if ((hid & 0x08) != 0) {
            flag = static_cast<uint8_t>(flag & ~0x01);
        } else {
            flag = static_cast<uint8_t>(flag | 0x01);
        }
    } else if (layer == 0) {
        flag = static_cast<uint8_t>(flag | 0x01);
    }
    if (layer >= 1 && layer <= 3) {
        flag = static_cast<uint8_t>(flag | (1u << layer));
    }
    return flag;
}

int AssignKeyCode(CCCDev& dev, int slot, uint8_t keyCode) {
    if (!IsKeySlot(static_cast<unsigned>(slot))) {
        return -1;
    }
    const int layer = dev.m_nCurLayer & 3;
    const uint8_t hid = HidOfKeyCode(keyCode);
    {
        std::lock_guard lock(dev.m_TableLock);
        dev.m_KeyFlag[slot] = UpdatedKeyFlag(dev.m_KeyFlag[slot], hid, layer);
        if (hid == 0) {
            return 0;
        }
        dev.m_KeyVk[slot][layer] = keyCode;
        dev.m_KeyHid[slot][layer] = hid;
    }
    return dev.WriteKeyConfig(slot, hid);
}

}  // namespace tavrik
