#include "update/version_info.h"

#include "update/ini_text.h"

namespace tavrik {

VersionInfo ParseVersionInfo(std::string_view text) {
    constexpr std::string_view kSection = "upgrade_config";
    VersionInfo v;
    v.latestAppVersion = IniUInt(text, kSection, "LatestAppVersion", kVersionInfoAbsent);
    v.latestFwVersion = IniUInt(text, kSection, "LatestFwVersion", kVersionInfoAbsent);
    v.fwUrl = IniString(text, kSection, "FwURL", kIniNotFound);
    v.fwMd5 = IniString(text, kSection, "FwMd5", kIniNotFound);
    v.fwBlUrl = IniString(text, kSection, "FwBlURL", kIniNotFound);
    v.fwBlMd5 = IniString(text, kSection, "FwBlMd5", kIniNotFound);
    v.zpn31LatestFwVersion = IniUInt(text, kSection, "ZPN31LatestFwVersion", kVersionInfoAbsent);
    v.zpn31FwUrl = IniString(text, kSection, "ZPN31FwURL", kIniNotFound);
    v.zpn31FwMd5 = IniString(text, kSection, "ZPN31FwMd5", kIniNotFound);
    return v;
}

}  // namespace tavrik
