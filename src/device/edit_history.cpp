#include "device/edit_history.h"

#include <algorithm>

#include "device/key_assign.h"
#include "device/keyboard_hub.h"
#include "device/session_jobs.h"

namespace tavrik {

// EditHistories keeps one entry per hub slot.
static_assert(kHubSlots == 4);

bool SameOnKeyboard(KeyEdit::Kind kind, uint32_t a, uint32_t b) {
    if (kind == KeyEdit::Kind::Colour) {
        return ToRgb4(a) == ToRgb4(b);
    }
    if (a == b) {
        return true;
    }
    const uint8_t hid = HidOfKeyCode(a & 0xFF);
    return hid != 0 && hid == HidOfKeyCode(b & 0xFF);
}

uint32_t ValueIn(const KeyTable& table, const KeyEdit& edit) {
    const KeySlot& slot = table.slots[static_cast<size_t>(edit.slot)];
    return edit.kind == KeyEdit::Kind::Colour ? slot.colour
                                              : slot.vk[static_cast<size_t>(edit.layer & 3)];
}

namespace {

bool Valid(const KeyEdit& edit) {
    return edit.slot >= 0 && static_cast<size_t>(edit.slot) < kKeySlots && edit.layer >= 0 &&
           edit.layer < 4;
}

// A code that cannot be written back (a key's state mark, a macro) cannot be undone to.
bool Undoable(const KeyEdit& edit) {
    return edit.kind == KeyEdit::Kind::Colour ||
           KeyCodeRefusal(edit.layer, static_cast<uint8_t>(edit.before)) == 0;
}

}  // namespace

bool EditHistory::InFlight(KeyEdit::Kind kind, int slot, int layer) const {
    return std::any_of(pending_.begin(), pending_.end(), [&](const Pending& p) {
        return p.edit.kind == kind && p.edit.slot == slot &&
               (kind == KeyEdit::Kind::Colour || p.edit.layer == layer);
    });
}

bool EditHistory::Observe(const KeyTable& table) {
    if (!expected_) {
        End(table);
        return false;
    }
    bool changed = false;
    for (size_t s = 0; s < kKeySlots && !changed; ++s) {
        const KeySlot& now = table.slots[s];
        const Expected& want = (*expected_)[s];
        const int slot = static_cast<int>(s);
        for (int l = 0; l < 4 && !changed; ++l) {
            changed = !SameOnKeyboard(KeyEdit::Kind::Code, now.vk[static_cast<size_t>(l)],
                                      want.vk[static_cast<size_t>(l)]) &&
                      !InFlight(KeyEdit::Kind::Code, slot, l);
        }
        changed = changed || (!SameOnKeyboard(KeyEdit::Kind::Colour, now.colour, want.colour) &&
                              !InFlight(KeyEdit::Kind::Colour, slot, 0));
    }
    if (changed) {
        End(table);
    }
    return changed;
}

void EditHistory::End(const KeyTable& table) {
    done_.clear();
    undone_.clear();
    ++ends_;
    expected_.emplace();
    for (size_t s = 0; s < kKeySlots; ++s) {
        (*expected_)[s] = {table.slots[s].vk, table.slots[s].colour};
    }
}

void EditHistory::Expect(const KeyEdit& edit, uint32_t value) {
    if (!expected_) {
        return;
    }
    Expected& e = (*expected_)[static_cast<size_t>(edit.slot)];
    if (edit.kind == KeyEdit::Kind::Colour) {
        e.colour = value;
    } else {
        e.vk[static_cast<size_t>(edit.layer)] = static_cast<uint8_t>(value);
    }
}

uint64_t EditHistory::BeginEdit(const KeyEdit& edit) {
    if (!Valid(edit)) {
        return 0;
    }
    const uint64_t ticket = nextTicket_++;
    pending_.push_back({ticket, Dir::Edit, edit, 0, edits_, ends_});
    return ticket;
}

bool EditHistory::Busy() const {
    return std::any_of(pending_.begin(), pending_.end(),
                       [](const Pending& p) { return p.dir != Dir::Edit; });
}

std::optional<KeyWrite> EditHistory::Start(Dir dir, std::vector<KeyEdit>& from) {
    if (from.empty() || Busy()) {
        return std::nullopt;
    }
    const KeyEdit edit = from.back();
    from.pop_back();
    const uint64_t ticket = nextTicket_++;
    pending_.push_back({ticket, dir, edit, done_.size(), edits_, ends_});
    return KeyWrite{ticket, edit, dir == Dir::Undo ? edit.before : edit.after};
}

std::optional<KeyWrite> EditHistory::BeginUndo() {
    return Start(Dir::Undo, done_);
}

std::optional<KeyWrite> EditHistory::BeginRedo() {
    return Start(Dir::Redo, undone_);
}

EditHistory::Outcome EditHistory::Finish(uint64_t ticket, const KeyTable& table, bool written) {
    const auto it = std::find_if(pending_.begin(), pending_.end(),
                                 [&](const Pending& p) { return p.ticket == ticket; });
    if (it == pending_.end()) {
        return Outcome::NotApplied;
    }
    const Pending p = *it;
    pending_.erase(it);
    const KeyEdit& e = p.edit;
    const uint32_t now = ValueIn(table, e);
    const uint32_t target = p.dir == Dir::Undo ? e.before : e.after;
    const uint32_t origin = p.dir == Dir::Undo ? e.after : e.before;
    const bool sameSince = p.edits == edits_ && p.ends == ends_;
    if (SameOnKeyboard(e.kind, now, target) &&
        (written || SameOnKeyboard(e.kind, origin, target))) {
        Expect(e, now);
        switch (p.dir) {
            case Dir::Edit:
                if (SameOnKeyboard(e.kind, e.before, e.after)) {
                    break;
                }
                if (!Undoable(e)) {
                    // Nothing before this change can be reached again.
                    End(table);
                    break;
                }
                done_.push_back(e);
                undone_.clear();
                ++edits_;
                break;
            case Dir::Undo:
                if (sameSince) {
                    undone_.push_back(e);
                }
                break;
            case Dir::Redo:
                if (p.ends == ends_) {
                    done_.insert(done_.begin() +
                                     static_cast<std::ptrdiff_t>(std::min(p.index, done_.size())),
                                 e);
                }
                break;
        }
        return Outcome::Applied;
    }
    if (SameOnKeyboard(e.kind, now, origin) && !SameOnKeyboard(e.kind, origin, target)) {
        // Nothing changed on the keyboard: the step goes back where it was.
        if (p.dir == Dir::Undo && p.ends == ends_) {
            done_.insert(
                done_.begin() + static_cast<std::ptrdiff_t>(std::min(p.index, done_.size())), e);
        } else if (p.dir == Dir::Redo && sameSince) {
            undone_.push_back(e);
        }
        return Outcome::NotApplied;
    }
    End(table);
    return Outcome::Ended;
}

void EditHistory::Clear() {
    done_.clear();
    undone_.clear();
    pending_.clear();
    expected_.reset();
}

uint32_t SubmitKeyWriteJob(CCCDev& dev, const KeyWrite& write) {
    const KeyEdit& e = write.edit;
    return e.kind == KeyEdit::Kind::Colour
               ? SubmitKeyColorJob(dev, e.slot, write.value)
               : SubmitAssignKeyJob(dev, e.slot, e.layer, static_cast<uint8_t>(write.value), true);
}

EditHistory& EditHistories::For(const KeyboardRef& ref) {
    Entry& entry = entries_[static_cast<size_t>(std::clamp(ref.slot, 0, kHubSlots - 1))];
    if (!(entry.ref == ref)) {
        entry.ref = ref;
        entry.history.Clear();
    }
    return entry.history;
}

void EditHistories::Drop(int slot) {
    if (slot >= 0 && slot < kHubSlots) {
        entries_[static_cast<size_t>(slot)] = {};
    }
}

}  // namespace tavrik
