#include "app/paths.h"

#include <cstdlib>

namespace tavrik {

namespace {

std::filesystem::path FromEnv(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr && *value != '\0' ? std::filesystem::path(value)
                                              : std::filesystem::path();
}

}  // namespace

std::filesystem::path DataFolder() {
    if (auto local = FromEnv("LOCALAPPDATA"); !local.empty()) {
        return local / "Tavrik";
    }
    if (auto xdg = FromEnv("XDG_DATA_HOME"); !xdg.empty()) {
        return xdg / "Tavrik";
    }
    if (auto home = FromEnv("HOME"); !home.empty()) {
        return home / ".local" / "share" / "Tavrik";
    }
    return std::filesystem::temp_directory_path() / "Tavrik";
}

}  // namespace tavrik
