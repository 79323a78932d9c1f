// The receive side of a session, fed report by report without threads or a keyboard.
#include <gtest/gtest.h>

#include <array>
#include <initializer_list>

#include "device/session.h"
#include "keys/keycodes.h"
#include "log_capture.h"
#include "notify_recorder.h"
#include "session_test_access.h"

namespace tavrik {
namespace {

using test::Note;

std::array<uint8_t, 64> Payload(std::initializer_list<uint8_t> bytes) {
    std::array<uint8_t, 64> p{};
    std::copy(bytes.begin(), bytes.end(), p.begin());
    return p;
}

class DispatchTest : public ::testing::Test {
protected:
    test::NotifyRecorder rec;
    CCCDev dev{1, &rec};
    void Feed(std::initializer_list<uint8_t> bytes) {
        const auto p = Payload(bytes);
        SessionTestAccess::Dispatch(dev, p);
    }
    void SetUp() override { dev.Clock().SetPauseScale(0.01); }
};

TEST_F(DispatchTest, KeyInfoStoresSlotAndDerivesKeyCodes) {
    // Slot 3: UID 0x11223344, mac 5, HID 4 / 3 / 0xFF / 0xD9, flag 7.
    Feed({0x05, 3, 0x44, 0x33, 0x22, 0x11, 5, 0x04, 0x03, 0xFF, 0xD9, 7});
    auto k = dev.GetKeySlot(3);
    EXPECT_EQ(k.uid, 0x11223344u);
    EXPECT_EQ(k.shortMac, 5);
    EXPECT_EQ(k.flag, 7);
    EXPECT_EQ(k.stage, 'A');
    EXPECT_EQ(k.vk, (std::array<uint8_t, 4>{'A', VK_MARCO, VK_WAIT_SET, VK_WAIT_SET}));
    EXPECT_EQ(SessionTestAccess::RspScan(dev), 1);

    // Bootloader module: every layer waits for an upgrade, the flag is dropped.
    Feed({0x05, 4, 1, 0, 0, 0, 0x80 | 6, 0x04, 0x05, 0x06, 0x07, 9});
    k = dev.GetKeySlot(4);
    EXPECT_EQ(k.stage, 'B');
    EXPECT_EQ(k.vk, (std::array<uint8_t, 4>{VK_WAIT_UPGRADE, VK_WAIT_UPGRADE, VK_WAIT_UPGRADE,
                                            VK_WAIT_UPGRADE}));
    EXPECT_EQ(k.flag, 0);

    // End of chain at slot 5: stored, flagged, no key codes derived.
    Feed({0x05, 0x85, 0, 0, 0, 0, 0, 0x04, 0, 0, 0, 0});
    EXPECT_EQ(SessionTestAccess::ChainEnd(dev), 1);
    EXPECT_EQ(dev.GetKeySlot(5).vk[0], 0);

    // An empty slot clears what it held but keeps the new short mac.
    Feed({0x2D, 3, 0, 0xF, 0x8, 0x1});
    Feed({0x07, 3, 'A', 1, 2});
    Feed({0x05, 3, 0, 0, 0, 0, 9, 0x04, 0, 0, 0, 7});
    k = dev.GetKeySlot(3);
    EXPECT_EQ(k.colour, 0u);
    EXPECT_EQ(k.verHi, 0);
    EXPECT_EQ(k.flag, 0);
    EXPECT_EQ(k.hid[0], 0);
    EXPECT_EQ(k.shortMac, 9);
    EXPECT_TRUE(rec.Notes().empty());
}

TEST_F(DispatchTest, InsertAndLostNotifyTheirLayers) {
    Feed({0x18, 0, 0x78, 0x56, 0x34, 0x12, 6, 0x04, 0x00, 0xFF, 0xE0, 1});
    const auto notes = rec.Of(UM_INFO_DLG_VK_CHANGE);
    const uint32_t w = PackSlotDev(5, 1);
    ASSERT_EQ(notes.size(), 3u);
    EXPECT_EQ(notes[0], (Note{UM_INFO_DLG_VK_CHANGE, w, 'A'}));
    EXPECT_EQ(notes[1], (Note{UM_INFO_DLG_VK_CHANGE, w, 0xA2}));  // L Ctrl
    EXPECT_EQ(notes[2], (Note{UM_INFO_DLG_VK_CHANGE, w, 'A'}));
    const auto k = dev.GetKeySlot(5);
    EXPECT_EQ(k.uid, 0x12345678u);
    EXPECT_EQ(k.vk[1], 0);  // 0 and 0xFF leave a layer's key code as it was
    EXPECT_EQ(k.vk[2], 0);
    EXPECT_EQ(dev.Snapshot().scanState, kScanRequested);

    rec.Clear();
    Feed({0x1A, 0, 0, 0, 0, 0, 6});
    EXPECT_EQ(rec.Notes(), (std::vector<Note>{{UM_INFO_DLG_VK_CHANGE, w, 0}}));
    EXPECT_EQ(dev.GetKeySlot(5).uid, 0u);

    // Nothing changes while an upgrade owns the bus.
    rec.Clear();
    SessionTestAccess::SetUpgrading(dev, true);
    Feed({0x18, 0, 1, 0, 0, 0, 7, 0x04, 0, 0, 0, 0});
    EXPECT_TRUE(rec.Notes().empty());
    EXPECT_EQ(dev.GetKeySlot(6).uid, 0u);
}

TEST_F(DispatchTest, KeyRequestTakesTheFirstFreeSlot) {
    for (uint8_t s = 0; s < 7; ++s) {
        Feed({0x05, s, static_cast<uint8_t>(s + 1), 0, 0, 0, static_cast<uint8_t>(s + 1), 4});
    }
    Feed({0x08, 42, 0xEF, 0xBE, 0xAD, 0xDE});
    EXPECT_EQ(rec.Notes(), (std::vector<Note>{{UM_KEY_PRESSED, PackSlotDev(7, 1), 0}}));
    EXPECT_EQ(dev.GetKeySlot(7).uid, 0xDEADBEEFu);
    EXPECT_EQ(dev.GetKeySlot(7).shortMac, 42);
    rec.Clear();
    Feed({0x08, 43, 3, 0, 0, 0});  // a known UID keeps its slot
    EXPECT_EQ(rec.Notes(), (std::vector<Note>{{UM_KEY_PRESSED, PackSlotDev(2, 1), 0}}));
}

TEST_F(DispatchTest, VersionReplyFollowsTheVersionWord) {
    std::array<uint8_t, 64> p{};
    p[0] = 0x31;
    p[2] = 'A';
    p[3] = 306 >> 8;
    p[4] = 306 & 0xFF;
    p[5] = 4;
    p[6] = 44;
    p[7] = 0x04 | 0x10;
    p[8] = 60;
    for (int i = 9; i < 16; ++i) {
        p[i] = static_cast<uint8_t>(i);
    }
    SessionTestAccess::Dispatch(dev, p);
    const SessionSnapshot s = dev.Snapshot();
    EXPECT_EQ(s.kbmcStage, 'A');
    EXPECT_TRUE(s.overload);
    EXPECT_EQ(s.keyMax, 60);
    EXPECT_EQ(s.keyMaxOver, 60);
    EXPECT_TRUE(s.nkro);
    EXPECT_EQ(s.hwVariant, 2);
    EXPECT_EQ(s.usbRate, 4);
    EXPECT_EQ(SessionTestAccess::Rsp(dev), 1);

    // A reply about the secondary image only hands over the key.
    p[1] = 1;
    p[3] = 0;
    p[4] = 1;
    p[8] = 0x99;
    SessionTestAccess::Dispatch(dev, p);
    EXPECT_EQ(dev.Snapshot().kbmcVerLo, 306 & 0xFF);
    const auto key = SessionTestAccess::CipherKey(dev);
    EXPECT_EQ(key[0], 0x99);
    EXPECT_EQ(key[7], 15);
}

TEST_F(DispatchTest, LayerEventsArePackedAndSkippedForSomeKinds) {
    Feed({0x3C, 4, 3, 0xD1});
    Feed({0x3E, 4, 1, 0xD2, 0});
    EXPECT_EQ(rec.Notes(), (std::vector<Note>{
                               {UM_KEY_PRESSED, 0x0401, 0},
                               {UM_OTHER_KEYBOARD_SWITCH_LAYER, 0x05D18101, 0},
                               {UM_KEY_RELEASED, 0x0401, 4},
                               {UM_OTHER_KEYBOARD_SWITCH_LAYER, 0x05D24001, 0},
                           }));
    for (int kind : {2, 4}) {
        rec.Clear();
        SessionTestAccess::SetKind(dev, kind);
        Feed({0x3C, 4, 3, 0xD1});
        Feed({0x3E, 4, 1, 0xD2, 0});
        EXPECT_EQ(rec.Count(UM_OTHER_KEYBOARD_SWITCH_LAYER), 0u) << kind;
        EXPECT_EQ(rec.Notes().size(), 2u) << kind;
    }
}

TEST_F(DispatchTest, BusShortClearsEverySlot) {
    Feed({0x05, 10, 1, 0, 0, 0, 1, 4, 0, 0, 0, 3});
    Feed({0x2D, 10, 0, 1, 2, 3});
    Feed({0x36});
    EXPECT_EQ(rec.Count(UM_INFO_DLG_VK_CHANGE), 90u);
    const auto k = dev.GetKeySlot(10);
    EXPECT_EQ(k.uid, 0u);
    EXPECT_EQ(k.flag, 3);  // flags and colours stay
    EXPECT_NE(k.colour, 0u);
}

TEST_F(DispatchTest, OutOfRangeSlotsAndUnknownCodesTouchNothing) {
    test::LogCapture log;
    dev.SetVerbose(true);
    Feed({0x2D, 200, 0, 1, 2, 3});
    Feed({0x18, 0, 1, 0, 0, 0, 0, 4, 4, 4, 4, 0});   // slot number 0
    Feed({0x18, 0, 1, 0, 0, 0, 91, 4, 4, 4, 4, 0});  // slot number 91
    Feed({0x1A, 0, 0, 0, 0, 0, 0});
    Feed({0x3C, 90, 1, 0xD0});
    Feed({0x4A});
    Feed({0x04, 1});
    EXPECT_TRUE(rec.Notes().empty());
    EXPECT_EQ(log.Count("Recv undefined commands", "CCDev"), 2u);
    EXPECT_TRUE(log.Contains("Dev 1: Recv undefined commands"));
    const std::array<uint8_t, 1> tiny{0x31};
    SessionTestAccess::Dispatch(dev, tiny);  // too short to be a version reply
    SessionTestAccess::Dispatch(dev, {});
    EXPECT_EQ(SessionTestAccess::Rsp(dev), 0);
}

}  // namespace
}  // namespace tavrik
