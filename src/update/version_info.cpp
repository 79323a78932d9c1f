#include "update/version_info.h"

#include "update/ini_text.h"

namespace tavrik {

namespace {

constexpr std::string_view kSection = "upgrade_config";

}  // namespace

VersionInfo ParseVersionInfo(std::string_view text) {
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

std::string VersionInfoProblem(std::string_view text) {
    struct Number {
        std::string_view key;
        bool required;
    };
    for (const Number n : {Number{"LatestAppVersion", true}, Number{"LatestFwVersion", true},
                           Number{"ZPN31LatestFwVersion", false}}) {
        const auto value = IniLookup(text, kSection, n.key);
        if (!value) {
            if (n.required) {
                return std::string(n.key) + " is missing from [upgrade_config]";
            }
            continue;
        }
        if (value->empty() || (*value)[0] < '0' || (*value)[0] > '9') {
            return std::string(n.key) + " is not a number";
        }
    }
    return {};
}

}  // namespace tavrik
