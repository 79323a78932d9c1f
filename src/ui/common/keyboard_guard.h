// What every dialog that writes to a keyboard keeps: the keyboard it was opened for, by
// the identity of that attach (slot and the hub's attach serial), not by whatever keyboard
// is selected or sits in the slot when the user finally acts. Other keyboards coming and
// going leave it alone; once its own keyboard went, Session() is null and GoneText() says
// so in the user's language. Owner thread only (the UI thread drives the hub).
#pragma once

#include <QString>

#include "device/keyboard_hub.h"

namespace tavrik::ui {

class KeyboardGuard {
public:
    KeyboardGuard() = default;
    // The keyboard attached in `slot` now (empty when none is).
    KeyboardGuard(KeyboardHub& hub, int slot) : hub_(&hub), ref_(hub.Ref(slot)) {}
    KeyboardGuard(KeyboardHub& hub, KeyboardRef ref) : hub_(&hub), ref_(ref) {}

    // The session while the very keyboard the dialog was opened for is attached; null
    // once it went, even when another keyboard took its slot. Look it up at each write.
    CCCDev* Session() const { return hub_ != nullptr ? hub_->Resolve(ref_) : nullptr; }
    bool Gone() const { return Session() == nullptr; }
    // Made for a keyboard (not the empty guard of a dialog tied to none).
    bool Bound() const { return hub_ != nullptr; }
    const KeyboardRef& Ref() const { return ref_; }
    // The tab's number the user knows the keyboard by (1..4); 0 for none.
    int Number() const { return ref_.Empty() ? 0 : ref_.slot + 1; }

    // "KB 2 is no longer connected: nothing was written to it."
    QString GoneText() const;
    // What a dialog edits, for its context line: "KB 1 · key 12 · layer 2"; a negative
    // `slot` or `layer` leaves that part out.
    QString Context(int slot = -1, int layer = -1) const;

private:
    KeyboardHub* hub_ = nullptr;
    KeyboardRef ref_;
};

}  // namespace tavrik::ui
