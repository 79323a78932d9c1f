// Changing a keyboard: key configurations, colours, blinking, macros on the device,
// controller modes and the layer relay, on the caller's thread. Each operation that waits
// on a reply takes the session's operation lock, so no scan pass or other operation uses
// a reply mailbox meanwhile. Results in session_result.h.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <optional>

#include "device/marco_transfer.h"
#include "device/session_port.h"
#include "device/session_result.h"
#include "macro/marco.h"

namespace tavrik {

struct MarcoReadResult {
    int error = kSessionOk;
    MarcoRecord record{};  // flag 1 and the entries when error is 0
};

class KeyProgrammer {
public:
    explicit KeyProgrammer(SessionPort& port) : port_(port), marco_(port) {}
    KeyProgrammer(const KeyProgrammer&) = delete;
    KeyProgrammer& operator=(const KeyProgrammer&) = delete;

    // Gives `slot` the key code `keyCode` on `layer`: the flag byte follows the new value
    // and the key's configuration goes to the keyboard, a macro on another layer kept.
    // Refused, with the key table unchanged, by the rules of KeyAssignRefusal, for a slot
    // without a usable module, or a macro that could not be read back first.
    int AssignKey(int slot, int layer, uint8_t keyCode, bool replaceMacro);
    // Rewrites all four layers and the flag byte (restore). Same rules as AssignKey.
    int WriteKeyLayers(int slot, std::array<uint8_t, 4> hid, uint8_t flag);
    // Makes `layer` of the key play the macro of `record` and stores the macro.
    int WriteMacro(int slot, int layer, const MarcoRecord& record);
    MarcoReadResult ReadMacro(int slot);
    // 0, kErrKeyUnassigned for a key without assignment (it keeps its waiting colour),
    // or a refusal as above.
    int SetKeyColor(int slot, uint32_t colour);
    // Every assigned key; the last refusal, or 0.
    int SetAllKeyColor(uint32_t colour);
    void BlinkKey(int slot, uint32_t colour);
    void StopBlinkKey(int slot, uint32_t colour);
    int SetUsbRate(int rate);
    int SetOverload(int on, int count);
    int SetNkro(int on);
    int RelayLayerSwitch(uint32_t event);
    bool HasMarcoLayer(int slot) const;

    // Writes the slot's four layers and flag byte as the key table holds them; the caller
    // holds the operation lock. A macro on the key is read back first and written again
    // after, so it survives. Returns 0, or the read's error when the macro could not be
    // read whole: then nothing is written, since the rewrite would cost the key its macro.
    int WriteKeyConfig(int slot, uint8_t hid);

private:
    // Refusal of a user operation on `slot` before anything is sent, or 0.
    int CheckUsableSlot(int slot) const;
    // Runs `op` under the operation lock when the slot holds a usable module; else the
    // refusal.
    int OnUsableSlot(int slot, const std::function<int()>& op);
    int ConfirmShortMacLocked(int slot);
    // Puts `hid`, the key codes it gives and `flag` into the slot and writes the key;
    // on refusal the slot gets its old values back.
    int RewriteKey(int slot, const std::array<uint8_t, 4>& hid, const std::array<uint8_t, 4>& vk,
                   uint8_t flag, uint8_t chosenHid);
    // Reads the key's macro into `kept` before a rewrite; not 0 when it could not be read
    // whole, and then the caller must not go on.
    int KeepMarcoBeforeRewrite(int slot, MarcoEntries& kept);
    // Makes `layer` of the key play a macro and stores `entries` as that macro.
    void SaveMarcoTo(int slot, int layer, const MarcoEntries& entries);
    int SetKeyColorLocked(int slot, uint32_t colour);
    void SendKeyConfig(int slot);
    // A mode change: the command, then the controller's settling pause and a scan request.
    int ChangeMode(const std::function<std::optional<int>()>& send, int on);

    SessionPort& port_;
    MarcoTransfer marco_;
};

}  // namespace tavrik
