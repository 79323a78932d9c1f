#include <gtest/gtest.h>

#include "keys/keycodes.h"
#include "keys/native_keys.h"
#include "macro/marco_codec.h"
#include "macro/marco_editor.h"

namespace tavrik {
namespace {

constexpr uint8_t kA = 0x41;  // key codes
constexpr uint8_t kB = 0x42;
constexpr uint8_t kLShift = 0xA0;

MarcoKeyEvent Key(bool down, uint8_t code, uint32_t time = 0, bool leftDown = false) {
    return {down, code, false, leftDown, time};
}

std::vector<std::pair<uint8_t, uint8_t>> FlagsAndKvs(const MarcoEditor& ed) {
    std::vector<std::pair<uint8_t, uint8_t>> out;
    for (const MarcoEntry& e : ed.Steps().Steps()) {
        out.push_back({e.flag, e.kv});
    }
    return out;
}

using Pairs = std::vector<std::pair<uint8_t, uint8_t>>;

TEST(MarcoEditorRecord, ModifiersAutoRepeatAndOpenStep) {
    MarcoEditor ed(64, 20);
    ed.StartRecording();
    EXPECT_TRUE(ed.RecordKey(Key(true, kLShift)).recorded);
    EXPECT_TRUE(ed.RecordKey(Key(true, kA)).recorded);
    const auto repeat = ed.RecordKey(Key(true, kA));
    EXPECT_TRUE(repeat.swallowed);
    EXPECT_FALSE(repeat.recorded);
    ed.RecordKey(Key(false, kA));
    ed.RecordKey(Key(false, kLShift));
    EXPECT_EQ(FlagsAndKvs(ed), (Pairs{{1, 0xE1}, {1, 0x04}, {2, 0x04}, {2, 0xE1}}));
    // The newest step has no delay line until the recording stops.
    EXPECT_EQ(ed.LineCount(), 7);
    ed.StopRecording();
    ASSERT_EQ(ed.Lines().size(), 8u);
    EXPECT_EQ(ed.Lines()[7], "    Delay 20 ms");
    EXPECT_EQ(ed.ModifierMask(), 0);
    // Not recording: nothing is taken.
    EXPECT_FALSE(ed.RecordKey(Key(true, kB)).swallowed);
}

// A key without a HID value is said and left out, never recorded as a step of 0.
TEST(MarcoEditorRecord, KeysWithoutAHidValueAreRefusedNotRecordedAsZero) {
    MarcoEditor ed(64, 20);
    ed.StartRecording();
    const auto down = ed.RecordKey(Key(true, 0));
    EXPECT_TRUE(down.swallowed);
    EXPECT_FALSE(down.recorded);
    EXPECT_EQ(down.message, "marcoKeyNotRecorded");
    EXPECT_TRUE(ed.RecordKey(Key(false, 0)).message.empty());
    EXPECT_TRUE(ed.RecordKey(Key(true, 0xAF)).recorded);  // volume up
    EXPECT_TRUE(ed.Recording());
    EXPECT_EQ(FlagsAndKvs(ed), (Pairs{{1, HidOfKeyCode(0xAF)}}));
}

TEST(MarcoEditorRecord, GenericModifiersFindTheirSide) {
    uint8_t mask = 0;
    // Both shifts down, the right one released first while the left is still held.
    EXPECT_EQ(ResolveMarcoKeyCode(Key(true, 0x10, 0, true), mask), 0xA0);
    EXPECT_EQ(ResolveMarcoKeyCode(Key(true, 0x10, 0, false), mask), 0xA1);
    EXPECT_EQ(mask, 0x03);
    EXPECT_EQ(ResolveMarcoKeyCode(Key(false, 0x10, 0, true), mask), 0xA1);
    EXPECT_EQ(ResolveMarcoKeyCode(Key(false, 0x10, 0, false), mask), 0xA0);
    EXPECT_EQ(mask, 0);
    // One Alt side believed down: that side goes up.
    ResolveMarcoKeyCode(Key(true, 0x12, 0, true), mask);
    EXPECT_EQ(ResolveMarcoKeyCode(Key(false, 0x12), mask), 0xA4);
    // Side-specific codes keep the mask.
    EXPECT_EQ(ResolveMarcoKeyCode(Key(true, 0xA3), mask), 0xA3);
    EXPECT_EQ(mask, 0x08);
    MarcoKeyEvent enter = Key(true, 0x0D);
    enter.extended = true;
    EXPECT_EQ(ResolveMarcoKeyCode(enter, mask), 0x6C);
}

TEST(MarcoEditorRecord, MeasuredPausesAndTheirLimit) {
    MarcoEditor ed(64, 10);
    ed.ToggleDelayMode();
    ed.StartRecording();
    ed.RecordKey(Key(true, kA, 1000));
    ed.RecordKey(Key(false, kA, 1250));
    ed.RecordKey(Key(true, kB, 1300));
    // Too long a pause: the late key is dropped and the list settled.
    const auto late = ed.RecordKey(Key(false, kB, 1300 + 60001));
    EXPECT_EQ(late.message, "InfoDelayIsTooLongInMarco");
    EXPECT_FALSE(ed.Recording());
    ASSERT_EQ(ed.Steps().Size(), 3);
    EXPECT_EQ(ed.Steps()[0].delay, 250);
    EXPECT_EQ(ed.Steps()[1].delay, 50);
    EXPECT_EQ(ed.Steps()[2].delay, 10);
}

TEST(MarcoEditorRecord, StopsAtTheModeLimit) {
    MarcoEditor ed(64, 10);
    ASSERT_EQ(ed.SelectMode(3), "");  // AutoLoop leaves 61 steps
    ed.StartRecording();
    std::string_view last;
    for (int i = 0; i < 70 && ed.Recording(); ++i) {
        last = ed.RecordKey(Key(i % 2 == 0, static_cast<uint8_t>(kA + i / 2 % 20))).message;
    }
    EXPECT_EQ(last, "InfoMarcoMaxNumReach");
    EXPECT_EQ(ed.Steps().Size(), 61);
    EXPECT_EQ(ed.InsertGui(-1, true), "InfoMarcoMaxNumReach");
}

MarcoEditor WithSteps(int count) {
    MarcoEditor ed(64, 10);
    ed.StartRecording();
    for (int i = 0; i < count; ++i) {
        ed.RecordKey(Key(i % 2 == 0, static_cast<uint8_t>(kA + i / 2)));
    }
    ed.StopRecording();
    return ed;
}

TEST(MarcoEditorEdit, InsertsAtTheSelectionOrAtTheEnd) {
    MarcoEditor ed = WithSteps(2);
    EXPECT_EQ(ed.InsertGui(-1, true), "");
    EXPECT_EQ(ed.InsertGui(3, false), "");  // the delay line of step 1: before step 1
    EXPECT_EQ(FlagsAndKvs(ed), (Pairs{{1, 0x04}, {2, 0xE3}, {2, 0x04}, {1, 0xE3}}));
    EXPECT_EQ(ed.LineCount(), 8);
    // Appending while recording: the open step is settled, the new one is open.
    ed.StartRecording();
    ed.RecordKey(Key(true, kA));
    ed.InsertGui(-1, true);
    EXPECT_TRUE(ed.LastStepOpen());
    EXPECT_EQ(ed.LineCount(), 3);
}

TEST(MarcoEditorEdit, SwitchAndModeRefusals) {
    MarcoEditor ed = WithSteps(2);
    ASSERT_EQ(ed.SelectMode(1), "");
    EXPECT_EQ(ed.InsertSwitch(-1), "");
    EXPECT_EQ(ed.InsertSwitch(-1), "InfoFlagForDualSecMarcoHadExist");
    EXPECT_EQ(ed.SelectMode(0), "InfoDelSwitchFlagFirst");
    EXPECT_EQ(ed.Mode(), MarcoMode::DualSec);
    EXPECT_EQ(ed.DeleteLine(4), "");
    EXPECT_EQ(ed.SelectMode(0), "");
    EXPECT_EQ(ed.Mode(), MarcoMode::SingleShot);

    MarcoEditor noAuto(64, 10, false);
    EXPECT_EQ(noAuto.SelectMode(2), "");
    EXPECT_EQ(noAuto.SelectMode(3), "InfoAutoLoopNotSupport");
    EXPECT_EQ(noAuto.Mode(), MarcoMode::ManualLoop);
    EXPECT_EQ(noAuto.StepLimit(), 63);
}

TEST(MarcoEditorEdit, LoopsAreGuarded) {
    MarcoEditor ed = WithSteps(2);
    EXPECT_EQ(ed.InsertLoopEnd(-1), "InfoMarcoLoopLimitation");  // no loop open
    EXPECT_EQ(ed.InsertLoopStart(0, 1), "InfoMarcoLoopRange");
    EXPECT_EQ(ed.InsertLoopStart(0, 3), "");
    EXPECT_EQ(ed.CheckLoopStart(-1), "InfoMarcoLoopLimitation");  // one is open
    EXPECT_EQ(ed.InsertLoopEnd(2), "InfoMarcoLoopLimitation");    // empty body
    EXPECT_EQ(ed.InsertLoopEnd(-1), "");
    EXPECT_EQ(ed.Steps()[3], (MarcoEntry{MarcoFlag::LoopEnd, 3, 10}));
    EXPECT_EQ(ed.CheckLoopStart(2), "InfoMarcoLoopLimitation");  // inside the loop
    EXPECT_EQ(ed.CheckLoopStart(-1), "");
    // Deleting the start reopens nothing: the counters follow the list.
    EXPECT_EQ(ed.DeleteLine(0), "");
    EXPECT_EQ(ed.Steps().LoopStarts(), 0);
    EXPECT_EQ(ed.Steps().LoopEnds(), 1);
}

TEST(MarcoEditorEdit, DeleteAndDelayChanges) {
    MarcoEditor ed = WithSteps(3);
    EXPECT_EQ(ed.DeleteLine(-1), "InfoNoMarcoItemSelect");
    EXPECT_EQ(ed.ChangeDelay(-1, 100), "InfoNoMarcoItemSelect");
    EXPECT_EQ(ed.ChangeDelay(5, 100), "InfoNoDelayChangeForLastMarco");
    EXPECT_EQ(ed.ChangeDelay(1, 9), "InfoNoMarcoDelayRange");
    EXPECT_EQ(ed.ChangeDelay(1, 60001), "InfoNoMarcoDelayRange");
    EXPECT_EQ(ed.ChangeDelay(2, 500), "");
    EXPECT_EQ(ed.Lines()[3], "    Delay 500 ms");
    EXPECT_EQ(ed.DeleteLine(99), "");
    EXPECT_EQ(ed.Steps().Size(), 3);
    EXPECT_EQ(ed.DeleteLine(3), "");
    EXPECT_EQ(FlagsAndKvs(ed), (Pairs{{1, 0x04}, {1, 0x05}}));
    // Deleting the open step during a recording opens the one before it.
    ed.StartRecording();
    ed.RecordKey(Key(true, kA));
    ed.RecordKey(Key(false, kA));
    EXPECT_EQ(ed.DeleteLine(2), "");
    EXPECT_TRUE(ed.LastStepOpen());
    EXPECT_EQ(ed.LineCount(), 1);
    EXPECT_EQ(ed.DeleteLine(0), "");
    EXPECT_FALSE(ed.LastStepOpen());
    EXPECT_EQ(ed.LineCount(), 0);
}

TEST(MarcoEditorTransfer, EncodeChecksAndLoadRoundTrips) {
    MarcoEditor ed = WithSteps(4);
    ed.SelectMode(1);
    std::string_view message;
    EXPECT_FALSE(ed.Encode(message));
    EXPECT_EQ(message, "InfoNoFlagForDualSecMarco");
    ed.InsertSwitch(4);
    const auto record = ed.Encode(message);
    ASSERT_TRUE(record) << message;
    EXPECT_EQ(record->flag, 1);

    MarcoEditor other(64, 10);
    other.Load(*record);
    EXPECT_EQ(other.Mode(), MarcoMode::DualSec);
    EXPECT_EQ(other.Steps(), ed.Steps());
    EXPECT_EQ(other.StepLimit(), 63);
    EXPECT_EQ(other.LineCount(), 10);

    // A macro no key may play (a loop of count 0 inside a SingleShot) is not taken, so
    // it can never be written from here; the list keeps what it held and the rule is said.
    MarcoRecord endless = *record;
    endless.entries = {};
    endless.entries[0] = {MarcoFlag::KeyDown, 0x04, 10};
    endless.entries[1] = {MarcoFlag::LoopStart, 0, 10};
    endless.entries[2] = {MarcoFlag::KeyUp, 0x04, 10};
    endless.entries[3] = {MarcoFlag::LoopEnd, 2, 10};
    const MarcoSteps held = other.Steps();
    EXPECT_EQ(other.Load(endless), "InfoMarcoLoopRange");
    EXPECT_EQ(other.Steps(), held);
    // An empty key is read as an empty list.
    EXPECT_EQ(other.Load(MarcoRecord{}), "");
}

TEST(NativeKeys, PhysicalKeysToKeyCodes) {
    EXPECT_EQ(KeyCodeOfXkbKeycode(30 + 8), 0x41);   // A
    EXPECT_EQ(KeyCodeOfXkbKeycode(42 + 8), 0xA0);   // left Shift
    EXPECT_EQ(KeyCodeOfXkbKeycode(54 + 8), 0xA1);   // right Shift
    EXPECT_EQ(KeyCodeOfXkbKeycode(100 + 8), 0xA5);  // right Alt
    EXPECT_EQ(KeyCodeOfXkbKeycode(96 + 8), 0x6C);   // keypad Enter
    EXPECT_EQ(KeyCodeOfXkbKeycode(125 + 8), 0x5B);  // left GUI
    // Media and launch keys: volume up, play, mail, calculator, browser.
    for (const auto& [input, code] : std::vector<std::pair<unsigned, uint8_t>>{
             {115, 0xAF}, {164, 0xB3}, {155, 0xB4}, {140, 0xB7}, {150, 0xAC}, {172, 0xAC}}) {
        EXPECT_EQ(KeyCodeOfXkbKeycode(input + 8), code) << input;
        EXPECT_NE(HidOfKeyCode(code), 0) << input;
    }
    EXPECT_EQ(KeyCodeOfXkbKeycode(0), 0);
    EXPECT_EQ(KeyCodeOfXkbKeycode(5), 0);
    EXPECT_EQ(KeyCodeOfXkbKeycode(100000), 0);
}

}  // namespace
}  // namespace tavrik
