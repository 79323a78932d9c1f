#include "macro/marco_editor.h"

#include <algorithm>

#include "keys/keycodes.h"
#include "macro/marco_codec.h"
#include "macro/marco_text.h"
#include "macro/marco_validate.h"

namespace tavrik {
namespace {

constexpr std::string_view kLoopLimitation = "InfoMarcoLoopLimitation";
constexpr std::string_view kNoItemSelect = "InfoNoMarcoItemSelect";
constexpr std::string_view kKeyNotRecorded = "marcoKeyNotRecorded";
constexpr std::string_view kMaxNumReach = "InfoMarcoMaxNumReach";

struct ModifierSides {
    uint8_t generic, left, right, leftBit, rightBit;
};
constexpr ModifierSides kSides[] = {
    {kKeyCodeShift, 0xA0, 0xA1, 0x01, 0x02},
    {kKeyCodeCtrl, 0xA2, 0xA3, 0x04, 0x08},
    {kKeyCodeAlt, 0xA4, 0xA5, 0x10, 0x20},
};

}  // namespace

uint8_t ResolveMarcoKeyCode(const MarcoKeyEvent& event, uint8_t& mask) {
    for (const ModifierSides& m : kSides) {
        if (event.keyCode == m.left || event.keyCode == m.right) {
            const uint8_t bit = event.keyCode == m.left ? m.leftBit : m.rightBit;
            mask = event.down ? mask | bit : mask & ~bit;
            return event.keyCode;
        }
        if (event.keyCode != m.generic) {
            continue;
        }
        if (event.down) {
            const bool left = event.leftDown;
            mask |= left ? m.leftBit : m.rightBit;
            return left ? m.left : m.right;
        }
        const uint8_t both = m.leftBit | m.rightBit;
        // With one side believed down, that one went up; with both, the left one when it
        // is no longer down.
        const bool left = (mask & both) != both ? (mask & m.leftBit) != 0 : !event.leftDown;
        mask &= left ? ~m.leftBit : ~m.rightBit;
        return left ? m.left : m.right;
    }
    if (event.keyCode == kKeyCodeEnter && event.extended) {
        return kKeyCodeKeypadEnter;
    }
    return event.keyCode;
}

MarcoEditor::MarcoEditor(int baseLimit, int defaultDelay, bool autoLoopAllowed)
    : baseLimit_(std::clamp(baseLimit, 0, kMarcoMaxSteps)),
      defaultDelay_(std::clamp(defaultDelay, 0, 0xFFFF)),
      autoLoopAllowed_(autoLoopAllowed),
      stepLimit_(MarcoStepLimit(baseLimit_, mode_)) {}

std::vector<std::string> MarcoEditor::Lines() const {
    std::vector<std::string> lines;
    for (int i = 0; i < steps_.Size(); ++i) {
        lines.push_back(MarcoStepText(steps_[i]));
        if (!(open_ && i == steps_.Size() - 1)) {
            lines.push_back(MarcoDelayText(steps_[i].delay));
        }
    }
    return lines;
}

int MarcoEditor::LineCount() const {
    return steps_.Size() * 2 - (open_ ? 1 : 0);
}

void MarcoEditor::StartRecording() {
    if (recording_) {
        return;
    }
    steps_.Clear();
    open_ = false;
    mask_ = 0;
    recording_ = true;
}

void MarcoEditor::StopRecording() {
    if (!recording_) {
        return;
    }
    if (open_ && !steps_.Empty()) {
        steps_.SetDelay(steps_.Size() - 1, static_cast<uint16_t>(defaultDelay_));
    }
    open_ = false;
    recording_ = false;
}

MarcoEditor::RecordResult MarcoEditor::RecordKey(const MarcoKeyEvent& event) {
    RecordResult result;
    if (!recording_) {
        return result;
    }
    result.swallowed = true;
    // A key without a HID value would be played as nothing: said, never recorded as 0.
    uint8_t probeMask = mask_;
    if (HidOfKeyCode(ResolveMarcoKeyCode(event, probeMask)) == 0) {
        if (event.down) {
            result.message = kKeyNotRecorded;
        }
        return result;
    }
    if (!steps_.Empty() && event.down == lastDown_ && event.keyCode == lastKey_) {
        return result;  // the system repeats a held key
    }
    lastDown_ = event.down;
    lastKey_ = event.keyCode;
    const uint8_t keyCode = ResolveMarcoKeyCode(event, mask_);

    // The pause belongs to the open step; a first key (or one after the list was emptied
    // or edited behind the recorder's back) has no pause before it.
    const bool wasOpen = open_ && !steps_.Empty();
    int pending = defaultDelay_;
    if (wasOpen && delayMode_ == 1) {
        const uint32_t pause = event.timeMs - lastTime_;
        if (pause > static_cast<uint32_t>(kMarcoPauseMax)) {
            StopRecording();
            result.message = "InfoDelayIsTooLongInMarco";
            return result;
        }
        pending = static_cast<int>(pause);
    }
    open_ = true;
    lastTime_ = event.timeMs;
    if (wasOpen) {
        steps_.SetDelay(steps_.Size() - 1, static_cast<uint16_t>(pending));
    }
    const MarcoEntry step{event.down ? MarcoFlag::KeyDown : MarcoFlag::KeyUp, HidOfKeyCode(keyCode),
                          static_cast<uint16_t>(pending)};
    result.recorded = steps_.Append(step);
    if (steps_.Size() >= stepLimit_ || steps_.Full()) {
        StopRecording();
        result.message = kMaxNumReach;
    }
    return result;
}

void MarcoEditor::Clear() {
    steps_.Clear();
    open_ = false;
}

int MarcoEditor::InsertIndex(int line) const {
    return line < 0 ? steps_.Size() : std::min(line / 2, steps_.Size());
}

std::string_view MarcoEditor::Insert(int line, MarcoEntry e) {
    if (line >= LineCount()) {
        return {};
    }
    // Full at the mode's limit rather than the array's: a longer list could not be written.
    if (steps_.Size() >= std::min(stepLimit_, kMarcoMaxSteps)) {
        return kMaxNumReach;
    }
    e.delay = static_cast<uint16_t>(defaultDelay_);
    const int at = InsertIndex(line);
    if (!steps_.Insert(at, e)) {
        return kMaxNumReach;
    }
    // Appended behind an open step: that step is settled, the new one is open instead.
    if (open_ && at == steps_.Size() - 1) {
        steps_.SetDelay(at - 1, e.delay);
    }
    return {};
}

std::string_view MarcoEditor::InsertGui(int line, bool down) {
    return Insert(line, {down ? MarcoFlag::KeyDown : MarcoFlag::KeyUp, kHidLeftGui, 0});
}

std::string_view MarcoEditor::InsertSwitch(int line) {
    if (steps_.SwitchPresent()) {
        return "InfoFlagForDualSecMarcoHadExist";
    }
    return Insert(line, {MarcoFlag::WaitKeyUp, kMarcoSwitchKv, 0});
}

std::string_view MarcoEditor::CheckLoopStart(int line) const {
    if (line >= LineCount()) {
        return {};
    }
    return MarcoCanInsertLoopStart(steps_, InsertIndex(line)) ? std::string_view{}
                                                              : kLoopLimitation;
}

std::string_view MarcoEditor::InsertLoopStart(int line, int count) {
    if (const std::string_view refusal = CheckLoopStart(line); !refusal.empty()) {
        return refusal;
    }
    if (count < kMarcoLoopCountMin || count > kMarcoLoopCountMax) {
        return "InfoMarcoLoopRange";
    }
    return Insert(line, {MarcoFlag::LoopStart, static_cast<uint8_t>(count), 0});
}

std::string_view MarcoEditor::InsertLoopEnd(int line) {
    if (line >= LineCount()) {
        return {};
    }
    const std::optional<uint8_t> distance = MarcoLoopEndDistance(steps_, InsertIndex(line));
    if (!distance) {
        return kLoopLimitation;
    }
    return Insert(line, {MarcoFlag::LoopEnd, *distance, 0});
}

std::string_view MarcoEditor::DeleteLine(int line) {
    if (line < 0) {
        return kNoItemSelect;
    }
    if (line >= LineCount()) {
        return {};
    }
    const int step = line / 2;
    const bool wasLast = step == steps_.Size() - 1;
    steps_.Erase(step);
    if (steps_.Empty()) {
        open_ = false;
    } else if (open_ && wasLast) {
        // The step before becomes the open one: the next recorded key settles its pause.
        steps_.SetDelay(steps_.Size() - 1, static_cast<uint16_t>(defaultDelay_));
    }
    return {};
}

std::string_view MarcoEditor::CheckDelayChange(int line) const {
    if (line < 0) {
        return kNoItemSelect;
    }
    if (line >= LineCount()) {
        return {};
    }
    if (line == LineCount() - 1) {
        return "InfoNoDelayChangeForLastMarco";
    }
    return {};
}

std::string_view MarcoEditor::ChangeDelay(int line, int delayMs) {
    if (const std::string_view refusal = CheckDelayChange(line); !refusal.empty()) {
        return refusal;
    }
    if (line >= LineCount()) {
        return {};
    }
    if (delayMs < kMarcoDelayMin || delayMs > kMarcoDelayMax) {
        return "InfoNoMarcoDelayRange";
    }
    steps_.SetDelay(line / 2, static_cast<uint16_t>(delayMs));
    return {};
}

std::string_view MarcoEditor::SelectMode(int index) {
    if (index == ModeIndex()) {
        return {};
    }
    if (mode_ == MarcoMode::DualSec && steps_.SwitchPresent()) {
        return "InfoDelSwitchFlagFirst";
    }
    if (index == static_cast<int>(MarcoMode::AutoLoop) - 1 && !autoLoopAllowed_) {
        return "InfoAutoLoopNotSupport";
    }
    SetMode(index < 0 || index >= static_cast<int>(kMarcoModes.size())
                ? MarcoMode::SingleShot
                : kMarcoModes[static_cast<size_t>(index)]);
    return {};
}

void MarcoEditor::Restore(const Content& content) {
    recording_ = false;
    open_ = false;
    steps_ = content.steps;
    SetMode(content.mode);
}

void MarcoEditor::SetMode(MarcoMode mode) {
    mode_ = mode;
    stepLimit_ = MarcoStepLimit(baseLimit_, mode_);
}

std::optional<MarcoRecord> MarcoEditor::Encode(std::string_view& message) {
    message = {};
    StopRecording();
    // A loaded list may hold what the editing buttons never make; it passes the same
    // rules as a file or the command line before it is written anywhere.
    const MarcoValidation check = ValidateMarco(mode_, steps_, baseLimit_);
    if (!check.Ok()) {
        message = MarcoProblemMessageKey(check.problem);
        return std::nullopt;
    }
    return EncodeMarco(mode_, steps_, defaultDelay_, baseLimit_);
}

std::string_view MarcoEditor::Load(const MarcoRecord& record) {
    StopRecording();
    // A refused macro leaves the list as it was: nothing the user made is lost to it.
    const MarcoRecordCheck check = CheckMarcoEntries(record.entries, baseLimit_);
    if (!check.Ok() && check.validation.problem != MarcoProblem::Empty) {
        return MarcoProblemMessageKey(check.validation.problem);
    }
    steps_.Clear();
    open_ = false;
    SetMode(check.macro.mode);
    steps_ = check.macro.steps;
    return {};
}

}  // namespace tavrik
