// Arbitrary bytes as the update server's version information: reading it must never fail,
// and whatever it names must either resolve to an http(s) address or be refused.
#include <cstdlib>
#include <string>
#include <string_view>

#include "update/ini_text.h"
#include "update/update_rules.h"
#include "update/update_url.h"
#include "update/version_info.h"

namespace {

void CheckLink(const std::string& link) {
    // Cut to 259 characters, of at most four bytes each.
    if (link.size() > tavrik::kIniValueMax * 4) {
        std::abort();
    }
    const std::string url = tavrik::ResolveLink("https://update.tavrik.invalid/base", link);
    if (!url.empty() && !tavrik::IsUpdateUrl(url)) {
        std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > tavrik::kVersionInfoMaxBytes) {
        return 0;
    }
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const tavrik::VersionInfo v = tavrik::ParseVersionInfo(text);
    for (const std::string* s :
         {&v.fwUrl, &v.fwMd5, &v.fwBlUrl, &v.fwBlMd5, &v.zpn31FwUrl, &v.zpn31FwMd5}) {
        CheckLink(*s);
    }
    // The version words feed only comparisons; they must stay within their fields.
    if (tavrik::FwKbmcPart(v.latestFwVersion) > 0xFFFF ||
        tavrik::FwKeyPart(v.zpn31LatestFwVersion) > 0xFFFF) {
        std::abort();
    }
    return 0;
}
