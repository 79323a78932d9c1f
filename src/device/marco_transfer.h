// A key's macro to and from the keyboard, entry by entry. The caller holds the session's
// operation lock, since the reads wait on the macro reply mailbox.
#pragma once

#include "device/session_port.h"
#include "macro/marco.h"

namespace tavrik {

class MarcoTransfer {
public:
    explicit MarcoTransfer(SessionPort& port) : port_(port) {}

    // Reads the macro of `slot` into `entries` (which the caller gives empty), up to its end
    // entry or the keyboard's limit: 0, -1 for a bad slot, kErrMacroNoAnswer or
    // kErrMacroWrongAnswer.
    int Read(int slot, MarcoEntries& entries);
    // Read, tried again after a failure; `entries` starts empty at every try.
    int ReadWithRetry(int slot, MarcoEntries& entries);
    // Sends `entries` as the macro of `slot`, up to the end entry or the keyboard's limit.
    void Write(int slot, const MarcoEntries& entries);

private:
    int MarcoMax() const;

    SessionPort& port_;
};

}  // namespace tavrik
