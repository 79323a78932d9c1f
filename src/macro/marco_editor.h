// What the macro editor window edits, without the window: the step list shown as two lines
// per step, the playing mode, the recorder and the guarded editing operations. Every
// operation returns the key of the message to show ("PromptInfo" section), empty when
// there is nothing to tell; a refused operation leaves list and counters unchanged.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "macro/marco.h"
#include "macro/marco_steps.h"

namespace tavrik {

// A key message as the recorder sees it. `keyCode` is a key code (keycodes.h); the generic
// modifier codes 0x10 (Shift), 0x11 (Ctrl) and 0x12 (Alt) are resolved to a side by
// `leftDown` (the left key of that kind is down now) and the recorder's own bookkeeping.
struct MarcoKeyEvent {
    bool down = true;
    uint8_t keyCode = 0;
    bool extended = false;  // Enter on the keypad
    bool leftDown = false;
    uint32_t timeMs = 0;  // a millisecond tick count; wraps
};

inline constexpr uint8_t kKeyCodeShift = 0x10;
inline constexpr uint8_t kKeyCodeCtrl = 0x11;
inline constexpr uint8_t kKeyCodeAlt = 0x12;
inline constexpr uint8_t kKeyCodeEnter = 0x0D;
inline constexpr uint8_t kKeyCodeKeypadEnter = 0x6C;
inline constexpr uint8_t kHidLeftGui = 0xE3;

// The recorder's guess of which modifier sides are down (bits: 0x01 left Shift, 0x02
// right Shift, 0x04 left Ctrl, 0x08 right Ctrl, 0x10 left Alt, 0x20 right Alt) and the
// side-specific key code of an event. Side-specific codes (0xA0..0xA5) only update the
// mask; a generic code is given the side the mask and `leftDown` point to.
uint8_t ResolveMarcoKeyCode(const MarcoKeyEvent& event, uint8_t& mask);

class MarcoEditor {
public:
    MarcoEditor(int baseLimit = kMarcoMaxSteps, int defaultDelay = kMarcoDefaultDelay,
                bool autoLoopAllowed = true);

    // ---- State ----
    MarcoMode Mode() const { return mode_; }
    int ModeIndex() const { return static_cast<int>(mode_) - 1; }
    int StepLimit() const { return stepLimit_; }
    int BaseLimit() const { return baseLimit_; }
    int DefaultDelay() const { return defaultDelay_; }
    const MarcoSteps& Steps() const { return steps_; }
    bool Recording() const { return recording_; }
    // The newest recorded step still waits for the pause after it (no delay line yet).
    bool LastStepOpen() const { return open_; }
    // 0: every recorded step gets the default delay; 1: the measured pause.
    int DelayMode() const { return delayMode_; }
    uint8_t ModifierMask() const { return mask_; }

    // The list box: a text line per step and, unless the step is open, its delay line.
    // Line k belongs to step k / 2.
    std::vector<std::string> Lines() const;
    int LineCount() const;

    // ---- Recording ----
    void StartRecording();
    // Settles the open step with the default delay.
    void StopRecording();
    struct RecordResult {
        bool swallowed = false;    // the event was taken (recorded or an auto-repeat)
        bool recorded = false;     // a step was appended
        std::string_view message;  // shown to the user; the recording stopped
    };
    RecordResult RecordKey(const MarcoKeyEvent& event);

    // ---- Editing; `line` is the selected line, -1 for none ----
    void Clear();
    // Down or up of the left GUI key.
    std::string_view InsertGui(int line, bool down);
    std::string_view InsertSwitch(int line);
    // Whether a loop start may go at `line`; the count is asked only when it may.
    std::string_view CheckLoopStart(int line) const;
    std::string_view InsertLoopStart(int line, int count);
    std::string_view InsertLoopEnd(int line);
    std::string_view DeleteLine(int line);
    // Whether the delay of the step at `line` may be changed; the value is asked only then.
    std::string_view CheckDelayChange(int line) const;
    std::string_view ChangeDelay(int line, int delayMs);
    void ToggleDelayMode() { delayMode_ ^= 1; }
    // Index 0..4 in the mode list; a refusal keeps the mode in force.
    std::string_view SelectMode(int index);

    // ---- Transfers ----
    // The record to write to a key or a file; nullopt with the message key (possibly
    // empty) when the list cannot be made into a macro. Stops a recording first.
    std::optional<MarcoRecord> Encode(std::string_view& message);
    // Replaces list and mode by a macro read from a key or a file. A macro that fails
    // CheckMarcoEntries is not taken: the list is left empty and the message key of the
    // rule it breaks is returned (empty when taken). An empty macro is taken as empty.
    std::string_view Load(const MarcoRecord& record);

    // ---- Undo ----
    // The list and the mode, which undo takes back together (a mode sets the step limit).
    struct Content {
        MarcoSteps steps;
        MarcoMode mode = MarcoMode::SingleShot;
        friend bool operator==(const Content&, const Content&) = default;
    };
    Content Contents() const { return {steps_, mode_}; }
    // Puts back contents taken earlier; a recording stops without adding to them.
    void Restore(const Content& content);

private:
    int InsertIndex(int line) const;
    std::string_view Insert(int line, MarcoEntry e);
    void SetMode(MarcoMode mode);

    MarcoMode mode_ = MarcoMode::SingleShot;
    int baseLimit_;
    int defaultDelay_;
    bool autoLoopAllowed_;
    int stepLimit_;
    MarcoSteps steps_;
    bool recording_ = false;
    bool open_ = false;
    bool lastDown_ = false;
    uint8_t lastKey_ = 0;
    uint8_t mask_ = 0;
    uint32_t lastTime_ = 0;
    int delayMode_ = 0;
};

}  // namespace tavrik
