#include "app/paths.h"

#include <cstdlib>
#include <mutex>
#include <optional>
#include <system_error>

#include "platform/process.h"

namespace tavrik {

namespace {

std::filesystem::path FromEnv(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr && *value != '\0' ? std::filesystem::path(value)
                                              : std::filesystem::path();
}

bool HasResFolder(const std::filesystem::path& folder) {
    std::error_code ec;
    return !folder.empty() && std::filesystem::is_directory(folder / "res", ec);
}

std::filesystem::path FindResourceRoot() {
    const std::filesystem::path exeFolder = ExePath().parent_path();
    if (HasResFolder(exeFolder)) {
        return exeFolder;
    }
    const std::filesystem::path installed = exeFolder.parent_path() / "share" / "tavrik";
#ifdef TAVRIK_DATADIR
    // A build that knows its install prefix looks there when the executable was moved.
    if (!HasResFolder(installed) && HasResFolder(TAVRIK_DATADIR)) {
        return TAVRIK_DATADIR;
    }
#endif
    return installed;
}

std::mutex g_rootMutex;
std::optional<std::filesystem::path> g_resourceRoot;

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

std::filesystem::path ProfileFolder() {
    return DataFolder() / kProfileFolderName;
}

std::filesystem::path ExePath() {
    return ExecutablePath();
}

std::string GetExeFolder() {
    return ExePath().parent_path().string();
}

std::string ApplicationName() {
    const std::filesystem::path exe = ExePath();
    return exe.empty() ? std::string("tavrik") : exe.stem().string();
}

std::filesystem::path ResourceRoot() {
    std::lock_guard lock(g_rootMutex);
    if (!g_resourceRoot) {
        g_resourceRoot = FindResourceRoot();
    }
    return *g_resourceRoot;
}

void SetResourceRoot(const std::filesystem::path& root) {
    std::lock_guard lock(g_rootMutex);
    g_resourceRoot = root;
}

}  // namespace tavrik
