#include "backup/profiles.h"

#include <algorithm>
#include <chrono>
#include <system_error>

#include "backup/backup_file.h"

namespace tavrik::backup {

namespace fs = std::filesystem;

std::string ProfileNameRefusal(std::string_view name) {
    if (name.find_first_not_of(' ') == std::string_view::npos) {
        return "a profile needs a name";
    }
    if (name.size() > kProfileNameMaxBytes) {
        return "a profile name may have at most " + std::to_string(kProfileNameMaxBytes) + " bytes";
    }
    for (const char c : name) {
        const auto u = static_cast<unsigned char>(c);
        if (u < 0x20 || u == 0x7F) {
            return "a profile name may not contain control characters";
        }
        // Separators make a path of the name; the rest trip up file managers and shells.
        if (std::string_view("/\\:*?\"<>|").find(c) != std::string_view::npos) {
            return std::string("a profile name may not contain '") + c + "'";
        }
    }
    if (name.front() == '.' || name.front() == ' ' || name.back() == ' ') {
        return "a profile name may not start with '.' nor start or end with a space";
    }
    return {};
}

fs::path ProfileStore::PathOf(std::string_view name) const {
    return folder_ / (std::string(name) + kProfileSuffix);
}

std::vector<ProfileInfo> ProfileStore::List() const {
    std::vector<ProfileInfo> out;
    std::error_code ec;
    fs::directory_iterator it(folder_, ec);
    for (; !ec && it != fs::directory_iterator(); it.increment(ec)) {
        const fs::path& p = it->path();
        const std::string file = p.filename().string();
        const std::string_view suffix = kProfileSuffix;
        if (file.size() <= suffix.size() || !file.ends_with(suffix)) {
            continue;
        }
        const std::string name = file.substr(0, file.size() - suffix.size());
        std::error_code fileEc;
        if (!ProfileNameRefusal(name).empty() || !it->is_regular_file(fileEc)) {
            continue;
        }
        const auto written = it->last_write_time(fileEc);
        out.push_back({name, fileEc ? 0
                                    : std::chrono::system_clock::to_time_t(
                                          std::chrono::file_clock::to_sys(written))});
    }
    std::sort(out.begin(), out.end(),
              [](const ProfileInfo& a, const ProfileInfo& b) { return a.name < b.name; });
    return out;
}

bool ProfileStore::Exists(std::string_view name) const {
    std::error_code ec;
    return ProfileNameRefusal(name).empty() && fs::is_regular_file(PathOf(name), ec);
}

bool ProfileStore::Prepare(std::string& error) const {
    std::error_code ec;
    fs::create_directories(folder_, ec);
    if (ec || !fs::is_directory(folder_, ec)) {
        error =
            "cannot make the profile folder " + folder_.string() + (ec ? ": " + ec.message() : "");
        return false;
    }
    return true;
}

namespace {

bool CheckExisting(const ProfileStore& store, std::string_view name, std::string& error) {
    if (error = ProfileNameRefusal(name); !error.empty()) {
        return false;
    }
    if (!store.Exists(name)) {
        error = "there is no profile named \"" + std::string(name) + "\"";
        return false;
    }
    return true;
}

}  // namespace

bool ProfileStore::Remove(std::string_view name, std::string& error) const {
    if (!CheckExisting(*this, name, error)) {
        return false;
    }
    std::error_code ec;
    if (!fs::remove(PathOf(name), ec) || ec) {
        error = "cannot delete " + PathOf(name).string() + (ec ? ": " + ec.message() : "");
        return false;
    }
    return true;
}

bool ProfileStore::Rename(std::string_view from, std::string_view to, std::string& error) const {
    if (!CheckExisting(*this, from, error)) {
        return false;
    }
    if (error = ProfileNameRefusal(to); !error.empty()) {
        return false;
    }
    if (from == to) {
        return true;
    }
    std::error_code ec;
    // Only a profile that differs in case alone may stand at the new name: itself.
    if (fs::exists(fs::symlink_status(PathOf(to), ec)) &&
        !fs::equivalent(PathOf(from), PathOf(to), ec)) {
        error = "a profile named \"" + std::string(to) + "\" already exists";
        return false;
    }
    fs::rename(PathOf(from), PathOf(to), ec);
    if (ec) {
        error = "cannot rename " + PathOf(from).string() + ": " + ec.message();
        return false;
    }
    return true;
}

namespace {

std::string Count(size_t n, const char* one, const char* many) {
    return std::to_string(n) + " " + (n == 1 ? one : many);
}

}  // namespace

std::string PlanSummary(const Plan& plan) {
    size_t keys = 0, colours = 0, macros = 0;
    std::vector<std::string> parts;
    std::vector<std::string> modes;
    for (const Change& c : plan.changes) {
        switch (c.what) {
            case What::Layers:
                ++keys;
                break;
            case What::Colour:
                ++colours;
                break;
            case What::Macro:
                ++macros;
                break;
            case What::Nkro:
                modes.push_back("rollover " + SideText(c.what, c.to));
                break;
            case What::UsbRate:
                modes.push_back("USB rate " + SideText(c.what, c.to));
                break;
            case What::Overload:
                modes.push_back("overload " + SideText(c.what, c.to));
                break;
        }
    }
    if (keys) {
        parts.push_back(Count(keys, "key", "keys"));
    }
    if (colours) {
        parts.push_back(Count(colours, "colour", "colours"));
    }
    if (macros) {
        parts.push_back(Count(macros, "macro", "macros"));
    }
    parts.insert(parts.end(), modes.begin(), modes.end());
    if (parts.empty()) {
        return "nothing to change";
    }
    std::string out;
    for (const std::string& p : parts) {
        out += (out.empty() ? "" : ", ") + p;
    }
    return out;
}

namespace {

std::string UidList(const std::vector<const Placement*>& places, bool withSlot) {
    std::string out;
    for (const Placement* p : places) {
        out += (out.empty() ? "" : ", ") + UidText(p->uid);
        if (withSlot) {
            out += " (slot " + std::to_string(p->slot) + ")";
        }
    }
    return out;
}

}  // namespace

std::string MissingModulesText(const Plan& plan) {
    std::vector<const Placement*> missing;
    for (const Placement& p : plan.notPlaced) {
        if (p.missing) {
            missing.push_back(&p);
        }
    }
    if (missing.empty()) {
        return {};
    }
    return Count(missing.size(), "saved module is", "saved modules are") +
           " not attached: " + UidList(missing, false);
}

std::string UnsavedModulesText(const Plan& plan) {
    if (plan.unknown.empty()) {
        return {};
    }
    std::vector<const Placement*> unsaved;
    for (const Placement& p : plan.unknown) {
        unsaved.push_back(&p);
    }
    return Count(unsaved.size(), "attached module has", "attached modules have") +
           " no saved state and stays as it is: " + UidList(unsaved, true);
}

}  // namespace tavrik::backup
