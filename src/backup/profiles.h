// Profiles: whole-keyboard backups kept under a name in one folder, so the window and
// the command line see the same list. A profile is a backup file (backup_file.h) named
// NAME.json; the name is the user's, so it is checked before it becomes a path.
#pragma once

#include <ctime>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "backup/restore_plan.h"

namespace tavrik::backup {

inline constexpr const char* kProfileSuffix = ".json";
inline constexpr size_t kProfileNameMaxBytes = 64;

// Why `name` cannot name a profile ("a profile name may not contain '/'"), or empty.
// Refused: nothing or only spaces, more than 64 bytes, a leading '.' or space, path
// separators, control characters and characters file managers trip over.
std::string ProfileNameRefusal(std::string_view name);

struct ProfileInfo {
    std::string name;
    std::time_t saved = 0;  // when the file was last written
};

class ProfileStore {
public:
    explicit ProfileStore(std::filesystem::path folder) : folder_(std::move(folder)) {}

    const std::filesystem::path& Folder() const { return folder_; }
    // The file of a name that ProfileNameRefusal accepts.
    std::filesystem::path PathOf(std::string_view name) const;
    // Regular files with a name we accept, by name; a missing folder is an empty list.
    std::vector<ProfileInfo> List() const;
    bool Exists(std::string_view name) const;
    // Makes the folder for a save; false with `error` when it cannot.
    bool Prepare(std::string& error) const;
    // False, with `error`, when the name is refused, the profile is missing, or the file
    // cannot be removed or renamed. Rename never replaces another profile.
    bool Remove(std::string_view name, std::string& error) const;
    bool Rename(std::string_view from, std::string_view to, std::string& error) const;

private:
    std::filesystem::path folder_;
};

// What a restore plan would change, in a few words: "12 keys, 3 colours, 1 macro,
// rollover on"; "nothing to change" when empty.
std::string PlanSummary(const Plan& plan);
// "2 saved modules are not attached: 0x1A2B3C4D, 0x..." and "1 attached module has no
// saved state: 0x... (slot 4)"; empty when there is none.
std::string MissingModulesText(const Plan& plan);
std::string UnsavedModulesText(const Plan& plan);

}  // namespace tavrik::backup
