// The keyboards a tavrikctl command works on: real ones through hidapi, or simulated
// ones kept in a file, attached by the keyboard hub as the window attaches them (without
// the scan, which commands start when they need it); everything is closed again when
// this object goes away.
#pragma once

#include <array>
#include <memory>
#include <optional>
#include <string>

#include "cli/command.h"
#include "device/keyboard_hub.h"
#include "device/session.h"
#include "hid/ccusb.h"

namespace tavrik::cli {

// The command line shows nothing as it happens: what it reports comes from snapshots and
// job results, so the sessions' notifications are dropped.
class CliNotifyTarget : public NotifyTarget {
public:
    void Notify(uint32_t, uint32_t, uint32_t) override {}
};

class Keyboards {
public:
    ~Keyboards();
    Keyboards(const Keyboards&) = delete;
    Keyboards& operator=(const Keyboards&) = delete;

    // Finds and attaches every keyboard. On failure says why on ctx.err and returns
    // nothing, with the exit status in `status`. No keyboard at all is not a failure.
    // Simulated keyboards are saved when this object goes away; a failure to do so is
    // said on ctx.err and marks ctx unsaved, so `ctx` must outlive this object.
    static std::unique_ptr<Keyboards> Open(Context& ctx, int& status);

    // Keyboards 0..Count()-1 are attached.
    int Count() const { return hub_->Count(); }
    CCUSB& Transport(int i) { return hub_->Transport(i); }
    CCCDev& Session(int i) { return hub_->Session(i); }
    KeyboardHub& Hub() { return *hub_; }
    // The keyboard --device chose, or nothing (after telling the user) when it is absent.
    std::optional<int> Selected(Context& ctx) const;
    // Runs one scan pass on keyboard i; false (after telling the user) when the keyboard
    // did not answer or went away.
    bool ScanOnce(Context& ctx, int i);

    // The simulator file of this command line: --simulate's FILE or the default one.
    static std::string SimFile(const Context& ctx);

private:
    explicit Keyboards(Context& ctx) : ctx_(ctx) {}

    Context& ctx_;

    std::array<CliNotifyTarget, kHubSlots> events_;
    std::unique_ptr<KeyboardHub> hub_;  // after events_: its sessions notify them
};

// The keyboard a command works on: every keyboard attached, the one --device chose
// selected, and, when asked, scanned once so its key table is filled.
struct SelectedKeyboard {
    std::unique_ptr<Keyboards> keyboards;
    int index = 0;
    CCCDev& Dev() { return keyboards->Session(index); }
};

// Nothing (after telling the user, with the exit status in `status`) when no keyboard
// could be opened, selected or scanned.
std::optional<SelectedKeyboard> OpenSelectedKeyboard(Context& ctx, int& status, bool scan);

}  // namespace tavrik::cli
