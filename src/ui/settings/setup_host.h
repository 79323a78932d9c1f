// What the settings window asks of the window that opened it.
#pragma once

#include <cstdint>
#include <string>

#include "ui/settings/setup_state.h"

namespace tavrik {
class CCCDev;
}

namespace tavrik::ui {

class SetupHost {
public:
    virtual ~SetupHost() = default;
    // The session of the keyboard the window was opened for; null once that keyboard went
    // (also when another keyboard now sits in its slot).
    virtual CCCDev* KeyboardFor(const KeyboardRef& ticket) = 0;
    // Recomputes the settings button's update badge from the session flags.
    virtual void RefreshUpdateBadge() {}
    // The address of the tool's installer.
    virtual std::string InstallerUrl() const { return {}; }
    // An upgrade job started: the main window shows its progress too.
    virtual void FollowUpgrade(const KeyboardRef& /*ticket*/, uint32_t /*job*/,
                               bool /*controller*/) {}
};

}  // namespace tavrik::ui
