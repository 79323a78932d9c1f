#include "device/report_steps.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <variant>

#include "device/notify.h"
#include "device/notify_payload.h"
#include "hid/device_table.h"
#include "keys/keycodes.h"

namespace tavrik {

namespace {

#if defined(__GNUC__)
__attribute__((format(printf, 3, 4)))
#endif
void Log(ReportEffects& fx, const ReportContext& ctx, const char* fmt, ...) {
    if (!ctx.verbose) {
        return;
    }
    char text[256];
    va_list args;
    va_start(args, fmt);
    std::vsnprintf(text, sizeof text, fmt, args);
    va_end(args);
    fx.log.emplace_back(text);
}

// A reply the scan or a user operation waits for in one of its mailboxes.
ReportStep Reply(KeyTable table, uint32_t mailbox) {
    ReportStep step{std::move(table), {}};
    step.effects.mailboxes = mailbox;
    return step;
}

ReportStep ScanReply(KeyTable table, int slot, uint8_t bit) {
    ReportStep step = Reply(std::move(table), kMailboxScan);
    step.effects.scanSlot = slot;
    step.effects.scanReply = bit;
    return step;
}

void NoteSlot(ReportEffects& fx, uint32_t code, int slot, int dev, uint32_t lParam) {
    fx.notes.push_back({code, PackSlotDev(slot, dev), lParam});
}

}  // namespace

ReportStep Step(const KeyInfoReport& r, KeyTable table, const ReportContext& ctx) {
    KeySlot& k = table.slots[r.slot];
    k.hid = r.hid;
    k.flag = r.flag;
    k.shortMac = r.shortMac;
    k.macGuessed = false;
    k.uid = r.uid;
    k.stage = r.bootloader ? 'B' : 'A';
    const bool chainEnd = r.chainEnd;
    if (chainEnd) {
        // Stored as it came; the pass clears this slot and the rest.
    } else if (k.Present()) {
        if (r.bootloader) {
            k.vk.fill(VK_WAIT_UPGRADE);
            k.flag = 0;
        } else {
            for (size_t l = 0; l < 4; ++l) {
                k.vk[l] = KeyCodeOfReportedHid(r.hid[l]);
            }
        }
    } else {
        ClearSlot(k, true, false);
    }
    ReportStep step = ScanReply(std::move(table), r.slot, kScanReplyKeyInfo);
    step.effects.chainEnd = chainEnd;
    Log(step.effects, ctx, "RS Report MAC");
    return step;
}

ReportStep Step(const KeyVerReport& r, KeyTable table, const ReportContext& ctx) {
    if (r.HasVersion()) {
        table.slots[r.slot].verHi = r.verHi;
        table.slots[r.slot].verLo = r.verLo;
    }
    ReportStep step = ScanReply(std::move(table), r.slot, kScanReplyVersion);
    Log(step.effects, ctx, "Key Ver response, idx=%d, data=%x %x %x", r.slot, r.marker, r.verHi,
        r.verLo);
    return step;
}

ReportStep Step(const KeyRequestEvent& r, KeyTable table, const ReportContext& ctx) {
    ReportEffects fx;
    Log(fx, ctx, "Key %08x request set key value", r.uid);
    auto& slots = table.slots;
    auto it =
        std::find_if(slots.begin(), slots.end(), [&](const KeySlot& k) { return k.uid == r.uid; });
    if (it == slots.end()) {
        // A module not in the table takes the first free row.
        it = std::find_if(slots.begin(), slots.end(), [](const KeySlot& k) { return k.uid == 0; });
        if (it != slots.end()) {
            it->uid = r.uid;
            it->shortMac = r.shortMac;
            it->macGuessed = false;
        }
    }
    if (it != slots.end()) {
        const int slot = static_cast<int>(it - slots.begin());
        Log(fx, ctx, "Key %08x idx is %d, short mac %d", r.uid, slot, it->shortMac);
        NoteSlot(fx, UM_KEY_PRESSED, slot, ctx.dev, 0);
    }
    return {std::move(table), std::move(fx)};
}

ReportStep Step(const ReadyReport& r, KeyTable table, const ReportContext& ctx) {
    if (!r.Ready()) {
        return {std::move(table), {}};
    }
    ReportStep step = Reply(std::move(table), kMailboxReady);
    Log(step.effects, ctx, "VL7 is ready to download, ret data=0x%02x", r.value);
    return step;
}

ReportStep Step(const ChunkAckReport& r, KeyTable table, const ReportContext&) {
    return Reply(std::move(table), r.accepted ? uint32_t{kMailboxAck} : 0u);
}

ReportStep Step(const KeyUpgradeStateReport& r, KeyTable table, const ReportContext& ctx) {
    ReportStep step = Reply(std::move(table), kMailboxState);
    step.effects.keyProgress = r.progress;
    Log(step.effects, ctx, "Key upgrade state reply, progress %d", r.progress);
    return step;
}

ReportStep Step(const KeyInsertEvent& r, KeyTable table, const ReportContext& ctx) {
    // While an upgrade runs, modules restarting into new firmware announce themselves;
    // the upgrade owns the bus then.
    if (ctx.upgrading) {
        return {std::move(table), {}};
    }
    ReportEffects fx;
    KeySlot& k = table.slots[r.slot];
    k.hid = r.hid;
    k.flag = r.flag;
    k.shortMac = r.slotNumber;
    k.macGuessed = true;
    k.uid = r.uid;
    // 0 and 0xFF leave a layer's key code as it was.
    const auto reported = [&](size_t l) { return r.hid[l] != 0x00 && r.hid[l] != 0xFF; };
    if (r.uid != 0) {
        for (size_t l = 0; l < 4; ++l) {
            if (reported(l)) {
                k.vk[l] = KeyCodeOfReportedHid(r.hid[l]);
            }
        }
    }
    Log(fx, ctx, "Key Insert, bIdx=%d UID=%08X, HID=%d", r.slot, r.uid, r.hid[0]);
    if (r.uid != 0) {
        for (size_t l = 0; l < 4; ++l) {
            const uint8_t v = r.hid[l];
            if (reported(l)) {
                NoteSlot(fx, UM_INFO_DLG_VK_CHANGE, r.slot, ctx.dev, k.vk[l]);
                Log(fx, ctx, "New Key, UID=%08X, HID=%d, name=%s, layer=%zu", r.uid, v,
                    std::string(HidKeyName(v)).c_str(), l);
            } else {
                Log(fx, ctx, "New Key, UID=%08X, HID=%d, layer=%zu", r.uid, v, l);
            }
        }
    }
    NoteSlot(fx, UM_INFO_DLG_VK_CHANGE, r.slot, ctx.dev, k.vk[0]);
    fx.requestScan = true;
    return {std::move(table), std::move(fx)};
}

ReportStep Step(const KeyLostEvent& r, KeyTable table, const ReportContext& ctx) {
    ReportEffects fx;
    KeySlot& k = table.slots[r.slot];
    Log(fx, ctx, "Key lost, UID=%08X, HID=%d", k.uid, k.hid[0]);
    k.hid = {};
    k.vk = {};
    k.shortMac = 0;
    k.macGuessed = false;
    k.uid = 0;
    NoteSlot(fx, UM_INFO_DLG_VK_CHANGE, r.slot, ctx.dev, 0);
    fx.requestScan = true;
    return {std::move(table), std::move(fx)};
}

ReportStep Step(const BackupChecksumReport& r, KeyTable table, const ReportContext& ctx) {
    ReportEffects fx;
    if (r.correct) {
        Log(fx, ctx, "KBMC backup bank checksum is Correct %d", ctx.kbmcProgress);
    } else {
        Log(fx, ctx, "KBMC backup bank checksum is Incorrect%d", ctx.kbmcProgress);
    }
    return {std::move(table), std::move(fx)};
}

ReportStep Step(const KbmcUpgradeStateReport& r, KeyTable table, const ReportContext& ctx) {
    ReportStep step = Reply(std::move(table), kMailboxState);
    step.effects.kbmcProgress = r.progress;
    Log(step.effects, ctx, "KBMC update state reply, progress %d", r.progress);
    return step;
}

ReportStep Step(const KeyColorReport& r, KeyTable table, const ReportContext& ctx) {
    const uint32_t colour = r.Colour();
    table.slots[r.slot].colour = colour;
    ReportStep step = ScanReply(std::move(table), r.slot, kScanReplyColour);
    Log(step.effects, ctx, "Key color reponse, idx=%d, color=%d %d %d", r.slot, colour & 0xFF,
        (colour >> 8) & 0xFF, (colour >> 16) & 0xFF);
    return step;
}

ReportStep Step(const KbmcVerReport& r, KeyTable table, const ReportContext& ctx) {
    const KbmcVersionUpdate u = InterpretKbmcVer(r);
    if (u.stage) {
        table.kbmcStage = static_cast<char>(*u.stage);
    }
    if (u.verHi) {
        table.kbmcVerHi = *u.verHi;
        table.kbmcVerLo = u.verLo.value_or(0);
    }
    table.usbRate = u.usbRate.value_or(table.usbRate);
    table.keyMaxStd = u.keyMaxStd.value_or(table.keyMaxStd);
    table.keyMaxOver = u.keyMaxOver.value_or(table.keyMaxOver);
    table.keyMax = u.keyMax.value_or(table.keyMax);
    table.nkro = u.nkro.value_or(table.nkro);
    table.hwVariant = u.hwVariant.value_or(table.hwVariant);
    table.overload = u.overload.value_or(table.overload);
    table.cipherKey = u.cipherKey;
    ReportStep step = Reply(std::move(table), kMailboxRsp);
    Log(step.effects, ctx, "KBMC Version %c %d %d", r.stage, r.verHi, r.verLo);
    return step;
}

ReportStep Step(const UsbRateReport& r, KeyTable table, const ReportContext& ctx) {
    if (r.Valid()) {
        table.usbRate = r.rate;
    }
    ReportStep step = Reply(std::move(table), kMailboxRsp);
    Log(step.effects, ctx, "KBMC USB parameter reply %d %d", r.status, r.rate);
    return step;
}

ReportStep Step(const BusShortEvent&, KeyTable table, const ReportContext& ctx) {
    ReportEffects fx;
    Log(fx, ctx, "KBMC Bus short");
    // Flags and colours stay: the modules come back as they were.
    for (KeySlot& k : table.slots) {
        k.hid = {};
        k.vk = {};
        k.shortMac = 0;
        k.macGuessed = false;
        k.uid = 0;
    }
    for (int s = 0; s < static_cast<int>(kKeySlots); ++s) {
        NoteSlot(fx, UM_INFO_DLG_VK_CHANGE, s, ctx.dev, 0);
    }
    return {std::move(table), std::move(fx)};
}

ReportStep Step(const BusShortGoneEvent&, KeyTable table, const ReportContext& ctx) {
    ReportEffects fx;
    Log(fx, ctx, "KBMC Bus short dismissed");
    // A new request alone restarts the count; the receive thread must not wait for the
    // pass, which waits for its replies.
    fx.requestScan = true;
    return {std::move(table), std::move(fx)};
}

ReportStep Step(const KeyDownEvent& r, KeyTable table, const ReportContext& ctx) {
    ReportEffects fx;
    Log(fx, ctx, "Key %d is report pressed", r.slot);
    NoteSlot(fx, UM_KEY_PRESSED, r.slot, ctx.dev, 0);
    if (r.LayerKeyPressed()) {
        Log(fx, ctx, "Fn Key %d is report pressed", r.slot);
        if (IsLayerKeyHid(r.layerKey)) {
            Log(fx, ctx, "Info other keyboard switch to layer %d", r.layerKey & 3);
            if (KindRelaysLayers(table.kind)) {
                fx.notes.push_back(
                    {UM_OTHER_KEYBOARD_SWITCH_LAYER,
                     PackLayerEvent(LayerPressEvent(r.slot, r.layerKey, r.ExtraFlag(), ctx.dev)),
                     0});
            }
        }
    }
    return {std::move(table), std::move(fx)};
}

ReportStep Step(const KeyUpEvent& r, KeyTable table, const ReportContext& ctx) {
    ReportEffects fx;
    Log(fx, ctx, "Key %d is report released", r.slot);
    NoteSlot(fx, UM_KEY_RELEASED, r.slot, ctx.dev, r.slot);
    if (r.LayerKeyReleased()) {
        Log(fx, ctx, "Fn Key %d is report released", r.slot);
        if (IsLayerKeyHid(r.layerKey)) {
            Log(fx, ctx, "Info other keyboard switch to previous layer %d", r.returnLayer);
            if (KindRelaysLayers(table.kind)) {
                fx.notes.push_back(
                    {UM_OTHER_KEYBOARD_SWITCH_LAYER,
                     PackLayerEvent(LayerReleaseEvent(r.slot, r.layerKey, r.returnLayer, ctx.dev)),
                     0});
            }
        }
    }
    return {std::move(table), std::move(fx)};
}

ReportStep Step(const MarcoReport& r, KeyTable table, const ReportContext& ctx) {
    ReportStep step = Reply(std::move(table), kMailboxMarco);
    step.effects.marcoReply = r.raw;
    Log(step.effects, ctx, "Get marco responsed");
    return step;
}

ReportStep Step(const EnableKbmcReport& r, KeyTable table, const ReportContext&) {
    ReportStep step = Reply(std::move(table), kMailboxEnable);
    step.effects.enableOk = r.accepted;
    return step;
}

ReportStep Step(const IgnoredReport&, KeyTable table, const ReportContext&) {
    // Carries nothing the host uses.
    return {std::move(table), {}};
}

ReportStep Step(const MalformedReport& r, KeyTable table, const ReportContext& ctx) {
    ReportEffects fx;
    Log(fx, ctx, "Recv report 0x%02x with a slot outside the key table or too short, dropped",
        r.code);
    return {std::move(table), std::move(fx)};
}

ReportStep Step(const UndefinedReport&, KeyTable table, const ReportContext& ctx) {
    ReportEffects fx;
    Log(fx, ctx, "Recv undefined commands");
    return {std::move(table), std::move(fx)};
}

ReportStep StepReport(const Report& report, const KeyTable& table, const ReportContext& ctx) {
    return std::visit([&](const auto& r) { return Step(r, table, ctx); }, report);
}

}  // namespace tavrik
