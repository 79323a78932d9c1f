#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "hid/device_table.h"
#include "macro/marco.h"
#include "macro/marco_codec.h"
#include "macro/marco_steps.h"
#include "macro/marco_text.h"
#include "macro/marco_validate.h"

namespace tavrik {
namespace {

constexpr uint8_t A = 0x04;
constexpr uint8_t B = 0x05;

MarcoEntry Down(uint8_t kv, uint16_t d = 10) {
    return {MarcoFlag::KeyDown, kv, d};
}
MarcoEntry Up(uint8_t kv, uint16_t d = 10) {
    return {MarcoFlag::KeyUp, kv, d};
}
MarcoEntry Switch() {
    return {MarcoFlag::WaitKeyUp, 0, 10};
}
MarcoEntry LoopStart(uint8_t count) {
    return {MarcoFlag::LoopStart, count, 10};
}
MarcoEntry LoopEnd(uint8_t distance) {
    return {MarcoFlag::LoopEnd, distance, 10};
}

MarcoSteps Steps(std::vector<MarcoEntry> list) {
    return MarcoSteps::FromEntries(list);
}

// The encoded entries up to (not including) the first End.
std::vector<MarcoEntry> Used(const MarcoEntries& entries) {
    std::vector<MarcoEntry> out;
    for (const auto& e : entries) {
        if (e.flag == MarcoFlag::End) {
            break;
        }
        out.push_back(e);
    }
    return out;
}

std::vector<MarcoEntry> EncodeList(MarcoMode mode, const MarcoSteps& s, int d = 10) {
    auto rec = EncodeMarco(mode, s, d);
    EXPECT_TRUE(rec.has_value());
    if (!rec) {
        return {};
    }
    EXPECT_EQ(rec->flag, 1);
    return Used(rec->entries);
}

TEST(MarcoModel, StepLimitsAndModeNames) {
    const int expect64[] = {64, 63, 63, 61, 63};
    const int expect24[] = {24, 23, 23, 21, 23};
    for (size_t i = 0; i < kMarcoModes.size(); ++i) {
        EXPECT_EQ(MarcoStepLimit(kMarcoMaxSteps, kMarcoModes[i]), expect64[i]);
        EXPECT_EQ(MarcoStepLimit(RowOfKind(2)->marcoMaxSteps, kMarcoModes[i]), expect24[i]);
        EXPECT_EQ(ParseMarcoMode(MarcoModeName(kMarcoModes[i])), kMarcoModes[i]);
    }
    // A base from outside is clamped to what the entry array holds.
    EXPECT_EQ(MarcoStepLimit(1000, MarcoMode::SingleShot), 64);
    EXPECT_EQ(MarcoStepLimit(-5, MarcoMode::AutoLoop), 0);
    EXPECT_EQ(ParseMarcoMode("dualsec"), MarcoMode::DualSec);
    EXPECT_EQ(ParseMarcoMode("6"), std::nullopt);
}

TEST(MarcoEncode, EveryModeAddsItsMarkers) {
    const auto plain = Steps({Down(A), Up(A), Down(B)});
    EXPECT_EQ(EncodeList(MarcoMode::SingleShot, plain),
              (std::vector<MarcoEntry>{Down(A), Up(A), Down(B)}));

    const auto withLoop = Steps({LoopStart(3), Down(A), Up(A), LoopEnd(3)});
    EXPECT_EQ(EncodeList(MarcoMode::SingleShot, withLoop),
              (std::vector<MarcoEntry>{LoopStart(3), Down(A), Up(A), LoopEnd(3)}));

    const auto dual = Steps({Down(A), Switch(), Up(A)});
    EXPECT_EQ(EncodeList(MarcoMode::DualSec, dual),
              (std::vector<MarcoEntry>{Down(A), Switch(), Up(A)}));

    // Markers take the default delay, steps keep theirs.
    const auto timed = Steps({Down(A, 100), Up(A, 200), Down(B, 300)});
    EXPECT_EQ(EncodeList(MarcoMode::ManualLoop, timed, 25),
              (std::vector<MarcoEntry>{Down(A, 100), Up(A, 200), Down(B, 300), {7, 4, 25}}));
    EXPECT_EQ(EncodeList(MarcoMode::AutoLoop, timed, 25),
              (std::vector<MarcoEntry>{
                  {5, 0, 25}, {4, 0, 25}, Down(A, 100), Up(A, 200), Down(B, 300), {6, 4, 25}}));

    // Combination keeps only the key-downs, each with the default delay.
    const auto combo = Steps({Down(A, 500), Down(B, 600), Up(B), Up(A)});
    EXPECT_EQ(
        EncodeList(MarcoMode::Combination, combo, 10),
        (std::vector<MarcoEntry>{{1, A, 10}, {1, B, 10}, {4, 0xFF, 10}, {2, B, 10}, {2, A, 10}}));
}

TEST(MarcoEncode, ChecksRefuseWithTheirMessageKeys) {
    EXPECT_EQ(CheckMarcoBeforeEncoding(MarcoMode::SingleShot, MarcoSteps{}), MarcoCheck::Empty);
    EXPECT_EQ(MarcoCheckMessageKey(MarcoCheck::Empty), "");
    EXPECT_FALSE(EncodeMarco(MarcoMode::ManualLoop, MarcoSteps{}, 10));

    const auto noSwitch = Steps({Down(A), Up(A)});
    EXPECT_EQ(CheckMarcoBeforeEncoding(MarcoMode::DualSec, noSwitch),
              MarcoCheck::NoSwitchForDualSec);
    EXPECT_EQ(MarcoCheckMessageKey(MarcoCheck::NoSwitchForDualSec), "InfoNoFlagForDualSecMarco");
    EXPECT_FALSE(EncodeMarco(MarcoMode::DualSec, noSwitch, 10));

    const auto openLoop = Steps({LoopStart(3), Down(A)});
    EXPECT_EQ(CheckMarcoBeforeEncoding(MarcoMode::SingleShot, openLoop), MarcoCheck::LoopMismatch);
    EXPECT_EQ(MarcoCheckMessageKey(MarcoCheck::LoopMismatch), "InfoMarcoLoopLimitation");
    // The loop check belongs to SingleShot only.
    EXPECT_EQ(CheckMarcoBeforeEncoding(MarcoMode::ManualLoop, openLoop), MarcoCheck::Ok);

    // 40 key-downs are within Combination's step limit, but 81 entries are not.
    std::vector<MarcoEntry> downs(40, Down(A));
    EXPECT_EQ(CheckMarcoBeforeEncoding(MarcoMode::Combination, Steps(downs)),
              MarcoCheck::TooManyEntries);
    EXPECT_EQ(MarcoCheckMessageKey(MarcoCheck::TooManyEntries), "InfoMarcoMaxNumReach");
    // A full AutoLoop fits 64 entries exactly; one step more does not.
    std::vector<MarcoEntry> steps61(61, Down(A));
    EXPECT_TRUE(EncodeMarco(MarcoMode::AutoLoop, Steps(steps61), 10));
    steps61.push_back(Up(A));
    EXPECT_FALSE(EncodeMarco(MarcoMode::AutoLoop, Steps(steps61), 10));
    // A keyboard of kind 2 takes 24 entries.
    EXPECT_EQ(CheckMarcoBeforeEncoding(MarcoMode::ManualLoop, Steps(std::vector(24, Down(A))),
                                       RowOfKind(2)->marcoMaxSteps),
              MarcoCheck::TooManyEntries);
}

MarcoEntries Entries(std::vector<MarcoEntry> list) {
    MarcoEntries out{};
    std::copy(list.begin(), list.end(), out.begin());
    return out;
}

TEST(MarcoDecode, FindsEachModeFromItsMarkers) {
    auto autoLoop =
        DecodeMarco(Entries({{5, 0, 10}, {4, 0, 10}, {1, A, 10}, {2, A, 10}, {6, 3, 10}}), 64);
    EXPECT_EQ(autoLoop.mode, MarcoMode::AutoLoop);
    EXPECT_EQ(Used(autoLoop.steps.Entries()), (std::vector<MarcoEntry>{Down(A), Up(A)}));

    auto single = DecodeMarco(Entries({LoopStart(3), Down(A), Up(A), LoopEnd(3)}), 64);
    EXPECT_EQ(single.mode, MarcoMode::SingleShot);
    EXPECT_EQ(single.steps.Size(), 4);
    EXPECT_EQ(single.steps.LoopStarts(), 1);
    EXPECT_EQ(single.steps.LoopEnds(), 1);
    EXPECT_EQ(CheckMarcoBeforeEncoding(single.mode, single.steps), MarcoCheck::Ok);

    auto dual = DecodeMarco(Entries({Down(A), Switch(), Up(A)}), 64);
    EXPECT_EQ(dual.mode, MarcoMode::DualSec);
    EXPECT_TRUE(dual.steps.SwitchPresent());
    EXPECT_EQ(dual.steps[1], Switch());
}

TEST(MarcoDecode, EndlessStartWithoutWaitIsAPlainStep) {
    auto d = DecodeMarco(Entries({{5, 0, 10}, Down(A), Up(A)}), 64);
    EXPECT_EQ(d.mode, MarcoMode::SingleShot);
    EXPECT_EQ(d.steps.Size(), 3);
    EXPECT_EQ(d.steps[0], (MarcoEntry{5, 0, 10}));
    EXPECT_EQ(d.steps.LoopStarts(), 0);
    EXPECT_EQ(MarcoStepText(d.steps[0]), "Marco Loop Start (Infinite)");
}

TEST(MarcoDecode, StopsAtEndMarksAndNeverReadsPastTheLimit) {
    MarcoEntries full;
    full.fill(Down(A));
    EXPECT_EQ(DecodeMarco(full, 24).steps.Size(), 24);
    EXPECT_EQ(DecodeMarco(full, 64).steps.Size(), 64);
    EXPECT_EQ(DecodeMarco(full, 1000).steps.Size(), 64);
    EXPECT_EQ(DecodeMarco(full, -3).steps.Size(), 0);
    EXPECT_EQ(DecodeMarco(full, 0).mode, MarcoMode::SingleShot);

    // A span shorter than the limit bounds the read, even at the AutoLoop head.
    const std::vector<MarcoEntry> lone{{5, 0, 10}};
    EXPECT_EQ(DecodeMarco(lone, 64).steps.Size(), 1);

    // The keyboard ends a list read back with 0xFF.
    EXPECT_EQ(DecodeMarco(Entries({Down(A), {0xFF, 0, 0}, Up(A)}), 64).steps.Size(), 1);
}

TEST(MarcoDecode, AutoLoopKeepsInnerLoopsAndEndsAtItsTail) {
    // A loop inside an AutoLoop body: only the tail (pointing back to the head's
    // WaitKeyUp) is a marker; what follows the tail is never played.
    auto d = DecodeMarco(
        Entries({{5, 0, 10}, {4, 0, 10}, LoopStart(2), Down(A), LoopEnd(2), {6, 4, 10}, Down(B)}),
        64);
    EXPECT_EQ(d.mode, MarcoMode::AutoLoop);
    EXPECT_EQ(Used(d.steps.Entries()),
              (std::vector<MarcoEntry>{LoopStart(2), Down(A), LoopEnd(2)}));
}

TEST(MarcoCodec, EncodeDecodeRoundTripsEveryMode) {
    std::vector<MarcoEntry> full61;
    for (int i = 0; i < 61; ++i) {
        full61.push_back(i % 2 ? Up(uint8_t(A + i / 2), uint16_t(i)) : Down(uint8_t(A + i / 2)));
    }
    const struct {
        MarcoMode mode;
        MarcoSteps steps;
    } cases[] = {
        {MarcoMode::SingleShot, Steps({Down(A), LoopStart(5), Down(B), Up(B), LoopEnd(3)})},
        {MarcoMode::DualSec, Steps({Down(A), Up(A), Switch(), Down(B), Up(B)})},
        {MarcoMode::ManualLoop, Steps({Down(A, 40), Up(A, 50)})},
        {MarcoMode::AutoLoop, Steps({Down(A), Up(A)})},
        // Full lists: a decoding bounded by the mode's own step limit would cut these.
        {MarcoMode::AutoLoop, Steps(full61)},
        {MarcoMode::ManualLoop, Steps(std::vector(63, Down(B)))},
        {MarcoMode::Combination, Steps({Down(A), Down(B), Up(B), Up(A)})},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(MarcoModeName(c.mode));
        const auto rec = EncodeMarco(c.mode, c.steps, 10);
        ASSERT_TRUE(rec);
        const auto back = DecodeMarco(rec->entries, kMarcoMaxSteps);
        EXPECT_EQ(back.mode, c.mode);
        EXPECT_EQ(back.steps, c.steps);
        EXPECT_EQ(EncodeMarco(back.mode, back.steps, 10), rec);
    }
}

TEST(MarcoSteps, EditingKeepsCountersAndLoopDistances) {
    auto s = Steps({LoopStart(3), Down(A), Up(A), LoopEnd(3), Switch()});
    EXPECT_EQ(s.LoopStarts(), 1);
    EXPECT_EQ(s.LoopEnds(), 1);
    EXPECT_TRUE(s.SwitchPresent());

    // A step inserted into the body moves the LoopEnd, which must still reach its start.
    ASSERT_TRUE(s.Insert(1, Down(B)));
    EXPECT_EQ(s[4], LoopEnd(4));
    ASSERT_TRUE(s.Erase(2));
    EXPECT_EQ(s[3], LoopEnd(3));
    // Steps before the loop move start and end together.
    ASSERT_TRUE(s.Insert(0, Down(B)));
    EXPECT_EQ(s[4], LoopEnd(3));

    ASSERT_TRUE(s.Erase(5));
    EXPECT_FALSE(s.SwitchPresent());
    ASSERT_TRUE(s.Erase(1));  // the LoopStart: its orphaned end keeps its distance
    EXPECT_EQ(s.LoopStarts(), 0);
    EXPECT_EQ(s.LoopEnds(), 1);
    EXPECT_EQ(s.Entries()[size_t(s.Size())], MarcoEntry{});

    EXPECT_FALSE(s.Insert(s.Size() + 1, Down(A)));
    EXPECT_FALSE(s.Append({MarcoFlag::End, 0, 0}));

    // A full list refuses an insertion instead of dropping its last step.
    auto full = Steps(std::vector(64, Down(A)));
    EXPECT_TRUE(full.Full());
    EXPECT_FALSE(full.Insert(0, Up(A)));
    EXPECT_EQ(full[63], Down(A));
    EXPECT_EQ(MarcoSteps::FromEntries(std::vector(70, Down(A))).Size(), 64);
}

TEST(MarcoSteps, LoopInsertionRules) {
    // Insert positions are "before step p"; p == Size() appends.
    auto s = Steps({LoopStart(3), Down(A), Up(A), LoopEnd(3), Down(B)});
    EXPECT_FALSE(MarcoCanInsertLoopStart(s, 1));  // inside a loop that starts at step 0
    EXPECT_FALSE(MarcoCanInsertLoopStart(s, 3));
    EXPECT_TRUE(MarcoCanInsertLoopStart(s, 0));
    EXPECT_TRUE(MarcoCanInsertLoopStart(s, 4));
    EXPECT_TRUE(MarcoCanInsertLoopStart(s, 5));
    EXPECT_FALSE(MarcoLoopEndDistance(s, 5));  // no open loop
    EXPECT_FALSE(MarcoLoopEndDistance(s, 2));  // the loop is closed further on

    auto open = Steps({Down(A), LoopStart(3), Down(A), Up(A)});
    EXPECT_FALSE(MarcoCanInsertLoopStart(open, 4));  // a loop is still open
    EXPECT_FALSE(MarcoCanInsertLoopStart(open, 0));
    EXPECT_EQ(MarcoLoopEndDistance(open, 4), 3);
    EXPECT_EQ(MarcoLoopEndDistance(open, 3), 2);
    EXPECT_FALSE(MarcoLoopEndDistance(open, 2));  // empty body
    EXPECT_FALSE(MarcoLoopEndDistance(open, 1));  // before the start
    EXPECT_FALSE(MarcoLoopEndDistance(open, 99));

    EXPECT_EQ(MarcoAutoLoopTailDistance(3), 4);
}

TEST(MarcoText, StepAndDelayLines) {
    EXPECT_EQ(MarcoStepText(Down(A)), "\u2193  A ");
    EXPECT_EQ(MarcoStepText(Up(0xE1)), "\u2191  L Shift");
    EXPECT_EQ(MarcoStepText(Switch()), "Wait Key Up");
    EXPECT_EQ(MarcoStepText({MarcoFlag::WaitKeyUp, 0xFF, 0}), "Wait Key Up");
    EXPECT_EQ(MarcoStepText(LoopStart(250)), "Marco Loop Start (250)");
    EXPECT_EQ(MarcoStepText(LoopEnd(3)), "Marco Loop End");
    EXPECT_EQ(MarcoStepText({MarcoFlag::LoopFromBegin, 4, 0}), "Loop from begain if pressed");
    EXPECT_EQ(MarcoStepText({0x09, 0xAB, 0}), "Flag 09 kv AB");
    EXPECT_EQ(MarcoDelayText(60000), "    Delay 60000 ms");
}

TEST(MarcoValidate, ExplainsWhatIsWrong) {
    const struct {
        MarcoMode mode;
        std::vector<MarcoEntry> steps;
        MarcoProblem problem;
        int step;
    } cases[] = {
        {MarcoMode::SingleShot, {Down(A), LoopStart(2), Up(A), LoopEnd(2)}, MarcoProblem::None, -1},
        {MarcoMode::SingleShot, {}, MarcoProblem::Empty, -1},
        {MarcoMode::AutoLoop, std::vector(62, Down(A)), MarcoProblem::TooManySteps, -1},
        {MarcoMode::Combination, std::vector(32, Down(A)), MarcoProblem::TooManySteps, -1},
        {MarcoMode::SingleShot, {Down(A), {7, 4, 10}}, MarcoProblem::UnexpectedStep, 1},
        {MarcoMode::SingleShot, {{4, 0xFF, 10}}, MarcoProblem::UnexpectedStep, 0},
        {MarcoMode::SingleShot, {Down(A, 60001)}, MarcoProblem::DelayTooLong, 0},
        {MarcoMode::SingleShot, {Down(A), Switch()}, MarcoProblem::SwitchOutsideDualSec, 1},
        {MarcoMode::DualSec, {Down(A), Up(A)}, MarcoProblem::MissingSwitch, -1},
        {MarcoMode::DualSec, {Switch(), Down(A), Switch()}, MarcoProblem::ExtraSwitch, 2},
        {MarcoMode::SingleShot,
         {LoopStart(1), Down(A), LoopEnd(2)},
         MarcoProblem::LoopCountOutOfRange,
         0},
        {MarcoMode::SingleShot,
         {LoopStart(0), Down(A), LoopEnd(2)},
         MarcoProblem::LoopCountOutOfRange,
         0},
        {MarcoMode::SingleShot,
         {LoopStart(2), LoopStart(2), Down(A), LoopEnd(2)},
         MarcoProblem::LoopNested,
         1},
        {MarcoMode::SingleShot, {Down(A), LoopEnd(1)}, MarcoProblem::LoopEndWithoutStart, 1},
        {MarcoMode::SingleShot, {LoopStart(2), LoopEnd(1)}, MarcoProblem::LoopEmpty, 1},
        {MarcoMode::SingleShot,
         {LoopStart(2), Down(A), Up(A), LoopEnd(2)},
         MarcoProblem::LoopDistanceWrong,
         3},
        {MarcoMode::DualSec, {Switch(), LoopStart(2), Down(A)}, MarcoProblem::LoopNotClosed, 1},
        {MarcoMode::AutoLoop, {LoopStart(2), Down(A), LoopEnd(2)}, MarcoProblem::LoopInAutoLoop, 0},
        {MarcoMode::Combination, {Up(A), Switch(), LoopStart(0)}, MarcoProblem::NoKeyDown, -1},
    };
    for (const auto& c : cases) {
        const auto v = ValidateMarco(c.mode, MarcoSteps::FromEntries(c.steps));
        EXPECT_EQ(v.problem, c.problem) << MarcoProblemText(c.problem);
        EXPECT_EQ(v.step, c.step) << MarcoProblemText(c.problem);
    }
    EXPECT_EQ(MarcoProblemMessageKey(MarcoProblem::LoopEmpty), "InfoMarcoLoopLimitation");
    EXPECT_EQ(MarcoProblemMessageKey(MarcoProblem::LoopCountOutOfRange), "InfoMarcoLoopRange");
}

// Entries as a file or a key holds them: the list, then End entries.
MarcoEntries Held(const std::vector<MarcoEntry>& list) {
    MarcoEntries out{};
    std::copy_n(list.begin(), std::min(list.size(), out.size()), out.begin());
    return out;
}

// Macros that hostile files and keys held; every reader refuses each with its rule.
TEST(MarcoValidate, RefusesEntriesNoKeyMayPlay) {
    constexpr uint8_t Sep = kMarcoComboSeparatorKv;
    std::vector<MarcoEntry> unended;
    for (int i = 0; i < kMarcoEntryCount; ++i) {
        unended.push_back(i % 2 ? Up(A) : Down(A));
    }
    const struct {
        const char* what;
        std::vector<MarcoEntry> entries;
        MarcoProblem problem;
    } cases[] = {
        {"loop count 0",
         {Down(A), LoopStart(0), Up(A), LoopEnd(2)},
         MarcoProblem::LoopCountOutOfRange},
        {"loop count 1",
         {LoopStart(1), Down(A), Up(A), LoopEnd(3)},
         MarcoProblem::LoopCountOutOfRange},
        {"loop count 251",
         {LoopStart(251), Down(A), Up(A), LoopEnd(3)},
         MarcoProblem::LoopCountOutOfRange},
        {"loop count 255",
         {LoopStart(255), Down(A), Up(A), LoopEnd(3)},
         MarcoProblem::LoopCountOutOfRange},
        {"loop end 200 back",
         {LoopStart(2), Down(A), Up(A), LoopEnd(200)},
         MarcoProblem::LoopDistanceWrong},
        {"loop end without start", {Down(A), Up(A), LoopEnd(2)}, MarcoProblem::LoopEndWithoutStart},
        {"nested loops",
         {LoopStart(2), LoopStart(3), Down(A), LoopEnd(2), Up(A), LoopEnd(5)},
         MarcoProblem::LoopNested},
        {"unclosed loop", {LoopStart(2), Down(A), Up(A)}, MarcoProblem::LoopNotClosed},
        {"flag 0x03", {Down(A), {0x03, A, 10}, Up(A)}, MarcoProblem::UnexpectedStep},
        {"flag 0x80", {Down(A), {0x80, A, 10}, Up(A)}, MarcoProblem::UnexpectedStep},
        {"delay 65535", {Down(A, 65535), Up(A)}, MarcoProblem::DelayTooLong},
        {"marker delay 65535",
         {{MarcoFlag::LoopStart, kMarcoEndlessLoopKv, 65535}, Switch(), Down(A), Up(A), LoopEnd(3)},
         MarcoProblem::DelayTooLong},
        {"Combination without key-down",
         {{MarcoFlag::WaitKeyUp, Sep, 10}, Up(A)},
         MarcoProblem::NoKeyDown},
        {"Combination that leaves a key held",
         {Down(A), Down(B), {MarcoFlag::WaitKeyUp, Sep, 10}, Up(A)},
         MarcoProblem::NotAsEncoded},
        {"AutoLoop without steps", {LoopStart(0), Switch(), LoopEnd(1)}, MarcoProblem::Empty},
        {"AutoLoop with a loop inside",
         {LoopStart(0), Switch(), LoopStart(2), Down(A), Up(A), LoopEnd(3), LoopEnd(5)},
         MarcoProblem::LoopInAutoLoop},
        {"DualSec with two switches",
         {Down(A), Switch(), Up(A), Switch(), Down(B)},
         MarcoProblem::ExtraSwitch},
        {"ManualLoop marker before steps",
         {Down(A), {MarcoFlag::LoopFromBegin, kMarcoLoopFromBeginKv, 10}, Up(A)},
         MarcoProblem::NotAsEncoded},
        {"no end mark", unended, MarcoProblem::NotAsEncoded},
    };
    for (const auto& c : cases) {
        const MarcoRecordCheck check = CheckMarcoEntries(Held(c.entries));
        EXPECT_EQ(check.validation.problem, c.problem)
            << c.what << ": " << MarcoValidationText(check);
        EXPECT_FALSE(MarcoValidationText(check).empty()) << c.what;
        if (c.problem != MarcoProblem::Empty) {
            EXPECT_FALSE(MarcoProblemMessageKey(c.problem).empty()) << c.what;
        }
    }
}

TEST(MarcoValidate, TakesWhatEncodingGivesInEveryMode) {
    const MarcoSteps body = Steps({Down(A), LoopStart(3), Down(B), Up(B), LoopEnd(3), Up(A)});
    const MarcoSteps dual = Steps({Down(A), Up(A), Switch(), Down(B), Up(B)});
    for (const MarcoMode mode : kMarcoModes) {
        const MarcoSteps& steps = mode == MarcoMode::DualSec    ? dual
                                  : mode == MarcoMode::AutoLoop ? Steps({Down(A), Up(A)})
                                                                : body;
        const auto rec = EncodeMarco(mode, steps, 60000);
        ASSERT_TRUE(rec.has_value()) << MarcoModeName(mode);
        const MarcoRecordCheck check = CheckMarcoEntries(rec->entries);
        EXPECT_TRUE(check.Ok()) << MarcoModeName(mode) << ": " << MarcoValidationText(check);
        EXPECT_EQ(check.macro.mode, mode);
        // A keyboard ends a list it sends back with 0xFF.
        MarcoEntries read = rec->entries;
        read[size_t(MarcoEncodedLength(mode, steps))].flag = MarcoFlag::ListEnd;
        EXPECT_TRUE(CheckMarcoEntries(read).Ok()) << MarcoModeName(mode);
    }
    // Too long for a keyboard that holds 24 steps, fine for one that holds 64.
    const auto rec = EncodeMarco(MarcoMode::SingleShot, Steps(std::vector(30, Down(A))), 10);
    ASSERT_TRUE(rec.has_value());
    EXPECT_TRUE(CheckMarcoEntries(rec->entries).Ok());
    EXPECT_EQ(CheckMarcoEntries(rec->entries, 24).validation.problem, MarcoProblem::TooManySteps);
}

}  // namespace
}  // namespace tavrik
