// The report steps on their own: a decoded report and a table in, the next table and the
// effects out, without a session, threads or a keyboard.
#include "device/report_steps.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "device/notify.h"
#include "device/notify_payload.h"
#include "keys/keycodes.h"

namespace tavrik {
namespace {

constexpr int kDev = 1;

ReportContext Ctx(bool upgrading = false) {
    return ReportContext{kDev, false, upgrading, 0};
}

// Slot 3 holds an assigned module with a colour and a version; slot 10 a second one.
KeyTable FilledTable() {
    KeyTable t;
    KeySlot& k = t.slots[3];
    k.uid = 0x11223344;
    k.shortMac = 5;
    k.hid = {0x04, 0x05, 0, 0};
    k.vk = {'A', 'B', 0, 0};
    k.flag = 7;
    k.colour = 0x0080F0;
    k.stage = 'A';
    k.verHi = 1;
    k.verLo = 2;
    t.slots[10] = k;
    t.slots[10].uid = 0x55;
    return t;
}

struct MailboxCase {
    const char* what;
    Report report;
    uint32_t mailboxes;
    int scanSlot;
    uint8_t scanReply;
};

TEST(ReportSteps, EachReplyRaisesItsOwnMailbox) {
    const MailboxCase cases[] = {
        {"key info", KeyInfoReport{3, false, 1, 2}, kMailboxScan, 3, kScanReplyKeyInfo},
        {"key version", KeyVerReport{4, 'A', 1, 2}, kMailboxScan, 4, kScanReplyVersion},
        {"key version without one", KeyVerReport{4, 0, 1, 2}, kMailboxScan, 4, kScanReplyVersion},
        {"key colour", KeyColorReport{5, Rgb4{1, 2, 3}}, kMailboxScan, 5, kScanReplyColour},
        {"controller version", KbmcVerReport{0, 'A', 1, 20}, kMailboxRsp, -1, 0},
        {"USB rate", UsbRateReport{0, 4}, kMailboxRsp, -1, 0},
        {"USB rate refused", UsbRateReport{1, 4}, kMailboxRsp, -1, 0},
        {"ready", ReadyReport{1}, kMailboxReady, -1, 0},
        {"not ready", ReadyReport{0}, 0, -1, 0},
        {"chunk accepted", ChunkAckReport{true}, kMailboxAck, -1, 0},
        {"chunk refused", ChunkAckReport{false}, 0, -1, 0},
        {"key upgrade state", KeyUpgradeStateReport{3000}, kMailboxState, -1, 0},
        {"controller upgrade state", KbmcUpgradeStateReport{2048}, kMailboxState, -1, 0},
        {"macro entry", MarcoReport{}, kMailboxMarco, -1, 0},
        {"enable answer", EnableKbmcReport{false}, kMailboxEnable, -1, 0},
        {"key down", KeyDownEvent{4, 0, 0}, 0, -1, 0},
        {"checksum", BackupChecksumReport{true}, 0, -1, 0},
        {"ignored", IgnoredReport{}, 0, -1, 0},
        {"malformed", MalformedReport{0x05}, 0, -1, 0},
        {"undefined", UndefinedReport{0x4A}, 0, -1, 0},
    };
    for (const MailboxCase& c : cases) {
        const ReportStep step = StepReport(c.report, FilledTable(), Ctx());
        EXPECT_EQ(step.effects.mailboxes, c.mailboxes) << c.what;
        EXPECT_EQ(step.effects.scanSlot, c.scanSlot) << c.what;
        EXPECT_EQ(step.effects.scanReply, c.scanReply) << c.what;
    }

    // The payloads a waiter reads once its mailbox rose.
    EXPECT_EQ(StepReport(KeyUpgradeStateReport{3000}, {}, Ctx()).effects.keyProgress, 3000);
    EXPECT_EQ(StepReport(KbmcUpgradeStateReport{2048}, {}, Ctx()).effects.kbmcProgress, 2048);
    MarcoReport marco;
    marco.raw = {0x43, 2, 5, 1, 4, 0, 100, 0};
    EXPECT_EQ(StepReport(marco, {}, Ctx()).effects.marcoReply, marco.raw);
    EXPECT_TRUE(StepReport(EnableKbmcReport{true}, {}, Ctx()).effects.enableOk);
    EXPECT_FALSE(StepReport(EnableKbmcReport{false}, {}, Ctx()).effects.enableOk);
}

TEST(ReportSteps, RepliesThatCarryNoTableFactsLeaveItAsItWas) {
    const Report reports[] = {ReadyReport{1},
                              ChunkAckReport{true},
                              KeyUpgradeStateReport{},
                              KbmcUpgradeStateReport{},
                              MarcoReport{},
                              EnableKbmcReport{true},
                              KeyDownEvent{3, 3, 0xD1},
                              KeyUpEvent{3, 1, 0xD2, 0},
                              BackupChecksumReport{},
                              BusShortGoneEvent{},
                              IgnoredReport{},
                              MalformedReport{0x2D},
                              UndefinedReport{0}};
    for (const Report& r : reports) {
        EXPECT_EQ(StepReport(r, FilledTable(), Ctx()).table, FilledTable()) << r.index();
    }
}

struct KeyInfoCase {
    const char* what;
    KeyInfoReport report;
    KeySlot slot;  // slot 3 after the step
    bool chainEnd;
};

TEST(ReportSteps, KeyInfoWritesTheSlotItNames) {
    const std::array<uint8_t, 4> hid{0x04, 0x03, 0xFF, 0xD9};
    const std::array<uint8_t, 4> waiting{VK_WAIT_UPGRADE, VK_WAIT_UPGRADE, VK_WAIT_UPGRADE,
                                         VK_WAIT_UPGRADE};
    const KeyInfoCase cases[] = {
        // Key codes follow the reported HID values; colour and version stay for their replies.
        {"module",
         {3, false, 0x99, 6, false, hid, 9},
         {0x99, 6, hid, {'A', VK_MARCO, VK_WAIT_SET, VK_WAIT_SET}, 9, 0x0080F0, 'A', 1, 2},
         false},
        // Every layer waits for an upgrade, the flag is dropped.
        {"module in its bootloader",
         {3, false, 0x99, 6, true, hid, 9},
         {0x99, 6, hid, waiting, 0, 0x0080F0, 'B', 1, 2},
         false},
        // Stored as it came: the pass clears the rest.
        {"end of the chain",
         {3, true, 0, 0, false, hid, 9},
         {0, 0, hid, {'A', 'B', 0, 0}, 9, 0x0080F0, 'A', 1, 2},
         true},
        // Cleared, but the UID and short mac it gave stay.
        {"empty slot", {3, false, 0, 9, false, hid, 9}, {0, 9, {}, {}, 0, 0, 0, 0, 0}, false},
    };
    for (const KeyInfoCase& c : cases) {
        KeyTable before = FilledTable();
        before.slots[3].macGuessed = true;
        const ReportStep step = StepReport(c.report, before, Ctx());
        EXPECT_EQ(step.table.slots[3], c.slot) << c.what;
        EXPECT_EQ(step.effects.chainEnd, c.chainEnd) << c.what;
        EXPECT_EQ(step.table.slots[10], before.slots[10]) << c.what;
        EXPECT_TRUE(step.effects.notes.empty()) << c.what;
        EXPECT_FALSE(step.effects.requestScan) << c.what;
    }
}

TEST(ReportSteps, ColourAndVersionRepliesFillTheirSlot) {
    KeyTable t = StepReport(KeyColorReport{3, Rgb4{0xF, 0x8, 0x1}}, FilledTable(), Ctx()).table;
    EXPECT_EQ(t.slots[3].colour, FromRgb4(Rgb4{0xF, 0x8, 0x1}));
    t = StepReport(KeyVerReport{3, 'A', 2, 7}, t, Ctx()).table;
    EXPECT_EQ(t.slots[3].VersionWord(), 0x0207);
    // Without the marker the version is not there: the old one stays.
    t = StepReport(KeyVerReport{3, 0, 9, 9}, t, Ctx()).table;
    EXPECT_EQ(t.slots[3].VersionWord(), 0x0207);
}

TEST(ReportSteps, InsertAndLostChangeTheSlotNotifyAndAskForAScan) {
    const uint32_t w = PackSlotDev(5, kDev);
    // Slot number 6 is slot 5; layers 1 and 2 report nothing and keep their key codes.
    const KeyInsertEvent insert{0x12345678, 6, 5, {0x04, 0x00, 0xFF, 0xE0}, 1};
    KeyTable before;
    before.slots[5].vk = {0, 'Q', 'R', 0};
    ReportStep step = StepReport(insert, before, Ctx());
    const KeySlot& k = step.table.slots[5];
    EXPECT_EQ(k.uid, 0x12345678u);
    EXPECT_EQ(k.shortMac, 6);
    EXPECT_TRUE(k.macGuessed);
    EXPECT_EQ(k.flag, 1);
    EXPECT_EQ(k.vk, (std::array<uint8_t, 4>{'A', 'Q', 'R', 0xA2}));
    EXPECT_EQ(step.effects.notes, (std::vector<Notification>{{UM_INFO_DLG_VK_CHANGE, w, 'A'},
                                                             {UM_INFO_DLG_VK_CHANGE, w, 0xA2},
                                                             {UM_INFO_DLG_VK_CHANGE, w, 'A'}}));
    EXPECT_TRUE(step.effects.requestScan);

    step = StepReport(KeyLostEvent{6, 5}, step.table, Ctx());
    EXPECT_FALSE(step.table.slots[5].Present());
    EXPECT_FALSE(step.table.slots[5].macGuessed);
    EXPECT_EQ(step.table.slots[5].vk, (std::array<uint8_t, 4>{}));
    EXPECT_EQ(step.effects.notes, (std::vector<Notification>{{UM_INFO_DLG_VK_CHANGE, w, 0}}));
    EXPECT_TRUE(step.effects.requestScan);

    // While an upgrade owns the bus an insert is no news.
    step = StepReport(insert, before, Ctx(true));
    EXPECT_EQ(step.table, before);
    EXPECT_TRUE(step.effects.notes.empty());
    EXPECT_FALSE(step.effects.requestScan);
}

TEST(ReportSteps, KeyRequestFindsTheModuleOrTheFirstFreeSlot) {
    KeyTable t;
    for (uint8_t s = 0; s < 7; ++s) {
        t.slots[s].uid = s + 1u;
        t.slots[s].shortMac = s + 1;
    }
    struct Case {
        const char* what;
        KeyRequestEvent request;
        int slot;
        uint8_t shortMac;
    } const cases[] = {
        {"a new module", {42, 0xDEADBEEF}, 7, 42},
        {"a known module keeps its slot and mac", {43, 3}, 2, 3},
    };
    for (const Case& c : cases) {
        const ReportStep step = StepReport(c.request, t, Ctx());
        EXPECT_EQ(step.table.slots[c.slot].uid, c.request.uid) << c.what;
        EXPECT_EQ(step.table.slots[c.slot].shortMac, c.shortMac) << c.what;
        EXPECT_EQ(step.effects.notes,
                  (std::vector<Notification>{{UM_KEY_PRESSED, PackSlotDev(c.slot, kDev), 0}}))
            << c.what;
    }
    // No free slot: nothing to say.
    for (KeySlot& k : t.slots) {
        k.uid = 0x77;
    }
    const ReportStep full = StepReport(KeyRequestEvent{1, 0x1234}, t, Ctx());
    EXPECT_EQ(full.table, t);
    EXPECT_TRUE(full.effects.notes.empty());
}

TEST(ReportSteps, ControllerVersionTakesWhatItsWordAllows) {
    KbmcVerReport r;
    r.stage = 'A';
    r.verHi = 306 >> 8;
    r.verLo = 306 & 0xFF;
    r.usbRate = 4;
    r.stdCount = 44;
    r.modeBits = 0x04 | 0x10;
    r.configuredCount = 60;
    r.cipherKey = {60, 9, 10, 11, 12, 13, 14, 15};
    const KeyTable t = StepReport(r, KeyTable{}, Ctx()).table;
    EXPECT_EQ(t.kbmcStage, 'A');
    EXPECT_EQ(t.KbmcWord(), 306);
    EXPECT_TRUE(t.overload);
    EXPECT_EQ(t.keyMax, 60);
    EXPECT_EQ(t.keyMaxOver, 60);
    EXPECT_TRUE(t.nkro);
    EXPECT_EQ(t.hwVariant, 2);
    EXPECT_EQ(t.usbRate, 4);
    EXPECT_EQ(t.cipherKey, r.cipherKey);

    // A reply about the secondary image only hands over the key.
    KbmcVerReport second = r;
    second.secondary = 1;
    second.verHi = 0;
    second.verLo = 1;
    second.cipherKey[0] = 0x99;
    const KeyTable after = StepReport(second, t, Ctx()).table;
    EXPECT_EQ(after.KbmcWord(), 306);
    EXPECT_EQ(after.cipherKey[0], 0x99);
    KeyTable onlyKey = t;
    onlyKey.cipherKey = second.cipherKey;
    EXPECT_EQ(after, onlyKey);
}

TEST(ReportSteps, UsbRateIsTakenOnlyWhenTheControllerAccepted) {
    EXPECT_EQ(StepReport(UsbRateReport{0, 4}, KeyTable{}, Ctx()).table.usbRate, 4);
    EXPECT_EQ(StepReport(UsbRateReport{1, 4}, KeyTable{}, Ctx()).table.usbRate, 1);
}

TEST(ReportSteps, LayerKeysAreRelayedOnlyByKindsThatRelayThem) {
    const Notification press{UM_OTHER_KEYBOARD_SWITCH_LAYER, 0x05D18101, 0};
    const Notification release{UM_OTHER_KEYBOARD_SWITCH_LAYER, 0x05D24001, 0};
    struct Case {
        int kind;
        bool relays;
    } const cases[] = {{0, true}, {2, false}, {4, false}};
    for (const Case& c : cases) {
        KeyTable t;
        t.kind = c.kind;
        const auto down = StepReport(KeyDownEvent{4, 3, 0xD1}, t, Ctx()).effects.notes;
        const auto up = StepReport(KeyUpEvent{4, 1, 0xD2, 0}, t, Ctx()).effects.notes;
        std::vector<Notification> wantDown{{UM_KEY_PRESSED, 0x0401, 0}};
        std::vector<Notification> wantUp{{UM_KEY_RELEASED, 0x0401, 4}};
        if (c.relays) {
            wantDown.push_back(press);
            wantUp.push_back(release);
        }
        EXPECT_EQ(down, wantDown) << c.kind;
        EXPECT_EQ(up, wantUp) << c.kind;
    }
    // A key that is not a layer key, or a press without the layer bit, is only a key.
    EXPECT_EQ(StepReport(KeyDownEvent{4, 3, 0x04}, KeyTable{}, Ctx()).effects.notes.size(), 1u);
    EXPECT_EQ(StepReport(KeyDownEvent{4, 2, 0xD1}, KeyTable{}, Ctx()).effects.notes.size(), 1u);
}

TEST(ReportSteps, BusShortEmptiesEverySlotButKeepsFlagsAndColours) {
    const ReportStep step = StepReport(BusShortEvent{}, FilledTable(), Ctx());
    for (size_t s = 0; s < kKeySlots; ++s) {
        EXPECT_FALSE(step.table.slots[s].Present()) << s;
        EXPECT_EQ(step.table.slots[s].vk, (std::array<uint8_t, 4>{})) << s;
    }
    EXPECT_EQ(step.table.slots[3].flag, 7);
    EXPECT_EQ(step.table.slots[3].colour, 0x0080F0u);
    ASSERT_EQ(step.effects.notes.size(), kKeySlots);
    EXPECT_EQ(step.effects.notes[89], (Notification{UM_INFO_DLG_VK_CHANGE, PackSlotDev(89, 1), 0}));
    EXPECT_FALSE(step.effects.requestScan);
    EXPECT_TRUE(StepReport(BusShortGoneEvent{}, FilledTable(), Ctx()).effects.requestScan);
}

TEST(ReportSteps, LogLinesAreMadeOnlyForAVerboseSession) {
    ReportContext verbose = Ctx();
    verbose.verbose = true;
    EXPECT_EQ(StepReport(UndefinedReport{0x4A}, {}, verbose).effects.log,
              std::vector<std::string>{"Recv undefined commands"});
    EXPECT_TRUE(StepReport(UndefinedReport{0x4A}, {}, Ctx()).effects.log.empty());
    const auto insert =
        StepReport(KeyInsertEvent{0x12, 1, 0, {0x04, 0, 0, 0}, 0}, {}, verbose).effects.log;
    ASSERT_EQ(insert.size(), 5u);
    EXPECT_EQ(insert[0], "Key Insert, bIdx=0 UID=00000012, HID=4");
    EXPECT_EQ(insert[2], "New Key, UID=00000012, HID=0, layer=1");
}

}  // namespace
}  // namespace tavrik
