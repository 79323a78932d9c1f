#include "app/autoboot.h"

#include "app/paths.h"
#include "platform/xdg_autostart.h"

namespace tavrik {

std::filesystem::path AutoBootEntryFile() {
    return AutostartEntryFile(ApplicationName());
}

// The whole path is written and compared: unlike a 260-character registry buffer, the entry
// has no length limit, so a deep install folder still gets a working entry.
std::string AutoBootExecValue() {
    return DesktopExecValue(ExePath(), kAutoBootArgument);
}

int SetAutoBootEntry() {
    if (ExePath().empty()) {
        return 0;
    }
    return WriteAutostartEntry(AutoBootEntryFile(), ApplicationName(), AutoBootExecValue()) ? 1 : 0;
}

int IsAutoBootEntryPresent() {
    return AutostartEntryMatches(AutoBootEntryFile(), AutoBootExecValue()) ? 1 : 0;
}

int DeleteAutoBootEntry() {
    return RemoveAutostartEntry(AutoBootEntryFile()) ? 1 : 0;
}

}  // namespace tavrik
