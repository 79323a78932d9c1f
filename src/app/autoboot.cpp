#include "app/autoboot.h"

#include <system_error>

#include "app/app_id.h"
#include "app/paths.h"
#include "platform/xdg_autostart.h"

namespace tavrik {

namespace {

// Older versions named the entry after the executable. Left beside the new one it would start
// a second copy at log-in, so it goes whenever the entry is written, checked or deleted.
std::filesystem::path LegacyEntryFile() {
    const std::filesystem::path legacy = AutostartEntryFile(ApplicationName());
    return legacy == AutoBootEntryFile() ? std::filesystem::path() : legacy;
}

bool LegacyEntryGone() {
    const std::filesystem::path legacy = LegacyEntryFile();
    return legacy.empty() || RemoveAutostartEntry(legacy);
}

bool LegacyEntryAbsent() {
    const std::filesystem::path legacy = LegacyEntryFile();
    std::error_code ec;
    return legacy.empty() || std::filesystem::symlink_status(legacy, ec).type() ==
                                 std::filesystem::file_type::not_found;
}

}  // namespace

std::filesystem::path AutoBootEntryFile() {
    return AutostartEntryFile(kAppId);
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
    if (!WriteAutostartEntry(AutoBootEntryFile(), ApplicationName(), AutoBootExecValue())) {
        return 0;
    }
    return LegacyEntryGone() ? 1 : 0;
}

int IsAutoBootEntryPresent() {
    return AutostartEntryMatches(AutoBootEntryFile(), AutoBootExecValue()) && LegacyEntryAbsent()
               ? 1
               : 0;
}

int DeleteAutoBootEntry() {
    const bool legacyGone = LegacyEntryGone();
    return RemoveAutostartEntry(AutoBootEntryFile()) && legacyGone ? 1 : 0;
}

}  // namespace tavrik
