// Undo and redo of the key codes and colours a window wrote to one keyboard. The history
// only records and judges; the window carries out each undo or redo as a job and hands
// the key table back when it ends, so what the history holds is always what the keyboard
// reported, never what a write hoped for. A change nobody here made (another program, a
// restore, a module put in) ends the history where it was seen: nothing before it can be
// undone over it.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "device/key_table.h"
#include "device/keyboard_ref.h"

namespace tavrik {

class CCCDev;

// One change of one key: its code on a layer, or its colour.
struct KeyEdit {
    enum class Kind : uint8_t { Code, Colour };
    Kind kind = Kind::Code;
    int slot = 0;
    int layer = 0;  // codes only
    uint32_t before = 0;
    uint32_t after = 0;
    friend bool operator==(const KeyEdit&, const KeyEdit&) = default;
};

// What an undo or redo writes: `value` to the edit's key.
struct KeyWrite {
    uint64_t ticket = 0;
    KeyEdit edit;
    uint32_t value = 0;
};

class EditHistory {
public:
    // How a write ended, judged by the key table after it.
    enum class Outcome : uint8_t {
        Applied,     // the key holds the written value
        NotApplied,  // the key holds what it held before: the history is as it was
        Ended,       // the key holds something else: the history ends here
    };

    // The key table as the keyboard reports it now. A code or colour that differs from
    // what the history expects, and that no write in flight explains, was changed from
    // outside: the history ends. True when it ended now.
    bool Observe(const KeyTable& table);

    // A window's own write starts; Finish records it when the key holds the new value.
    uint64_t BeginEdit(const KeyEdit& edit);
    // The newest step to take back / to take again, as a write; nothing when there is none
    // or an undo or redo is still in flight.
    std::optional<KeyWrite> BeginUndo();
    std::optional<KeyWrite> BeginRedo();
    // A write begun here ended; `table` is the key table after it and `written` whether
    // the write reported success. The table decides; only a failed write whose key shows
    // the new value leaves it unknown what the keyboard holds (the session may have taken
    // the value before it was sent), which ends the history.
    Outcome Finish(uint64_t ticket, const KeyTable& table, bool written = true);

    size_t UndoCount() const { return done_.size(); }
    size_t RedoCount() const { return undone_.size(); }
    // An undo or redo is in flight.
    bool Busy() const;
    // Forgets everything, including the table it expected.
    void Clear();

private:
    enum class Dir : uint8_t { Edit, Undo, Redo };
    struct Pending {
        uint64_t ticket = 0;
        Dir dir = Dir::Edit;
        KeyEdit edit;
        size_t index = 0;  // where an undone step sat in the undo list
        uint64_t edits = 0;
        uint64_t ends = 0;
    };
    // No member initialisers: clang cannot yet see them where the optional below asks
    // whether the array can be made; emplace() zeroes it all the same.
    struct Expected {
        std::array<uint8_t, 4> vk;
        uint32_t colour;
    };

    bool InFlight(KeyEdit::Kind kind, int slot, int layer) const;
    void End(const KeyTable& table);
    void Expect(const KeyEdit& edit, uint32_t value);
    std::optional<KeyWrite> Start(Dir dir, std::vector<KeyEdit>& from);

    std::vector<KeyEdit> done_;
    std::vector<KeyEdit> undone_;
    std::vector<Pending> pending_;
    std::optional<std::array<Expected, kKeySlots>> expected_;
    uint64_t nextTicket_ = 1;
    uint64_t edits_ = 0;  // edits recorded so far
    uint64_t ends_ = 0;   // times the history ended
};

// Whether two values of a key's field are the same on the keyboard: codes by their HID
// value (two codes may stand for one key), colours by the four bits the LED keeps.
bool SameOnKeyboard(KeyEdit::Kind kind, uint32_t a, uint32_t b);
// The value of the edit's field in `table`.
uint32_t ValueIn(const KeyTable& table, const KeyEdit& edit);

// Carries out an undo's or redo's write on `dev` as a job (the key's code on its layer, a
// macro of the key kept; or its colour); the job's id.
uint32_t SubmitKeyWriteJob(CCCDev& dev, const KeyWrite& write);

// One history per keyboard slot, for the keyboard attached there: another keyboard in the
// slot, or the same one plugged in again (a new attach serial), starts with none.
class EditHistories {
public:
    EditHistory& For(const KeyboardRef& ref);
    // The keyboard of `slot` went.
    void Drop(int slot);

private:
    struct Entry {
        KeyboardRef ref;
        EditHistory history;
    };
    std::array<Entry, 4> entries_{};
};

}  // namespace tavrik
