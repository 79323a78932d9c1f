// profile: whole-keyboard backups kept under a name in the data folder, the same list
// the window's profile dialog shows. Saving and restoring are `backup` and `restore` on
// the profile's file.
#include <chrono>
#include <ctime>
#include <iomanip>
#include <sstream>

#include <nlohmann/json.hpp>

#include "app/paths.h"
#include "backup/profiles.h"
#include "cli/backup_run.h"
#include "cli/format.h"

namespace tavrik::cli {

namespace {

using backup::ProfileStore;

ProfileStore Store() {
    return ProfileStore(ProfileFolder());
}

// The user's name for a profile, or nothing after saying why it is refused.
bool NameAccepted(Context& ctx, const char* command, const std::string& name) {
    if (const std::string why = backup::ProfileNameRefusal(name); !why.empty()) {
        ctx.err << "tavrikctl profile " << command << ": \"" << name << "\": " << why << "\n";
        return false;
    }
    return true;
}

std::string TimeText(std::time_t tt) {
    std::tm tm{};
    localtime_r(&tt, &tm);
    std::ostringstream os;
    os << std::put_time(&tm, "%Y-%m-%d %H:%M");
    return os.str();
}

int RunList(const Args& args, Context& ctx) {
    const ProfileStore store = Store();
    const auto list = store.List();
    if (args.Has("json")) {
        nlohmann::json out = nlohmann::json::array();
        for (const auto& p : list) {
            out.push_back({{"name", p.name},
                           {"file", store.PathOf(p.name).string()},
                           {"saved", TimeText(p.saved)}});
        }
        ctx.out << out.dump(1, ' ', false, nlohmann::json::error_handler_t::replace) << "\n";
        return kExitOk;
    }
    if (list.empty()) {
        ctx.out << "No profiles in " << store.Folder().string() << "\n";
        return kExitOk;
    }
    for (const auto& p : list) {
        ctx.out << p.name << "  (" << TimeText(p.saved) << ")\n";
    }
    return kExitOk;
}

int RunSave(const Args& args, Context& ctx) {
    const std::string& name = args.Positional()[0];
    if (!NameAccepted(ctx, "save", name)) {
        return kExitUsage;
    }
    const ProfileStore store = Store();
    std::string error;
    if (!store.Prepare(error)) {
        ctx.err << "tavrikctl profile save: " << error << "\n";
        return kExitFailed;
    }
    return BackupToFile(args, ctx, store.PathOf(name).string());
}

int RunRestore(const Args& args, Context& ctx) {
    const std::string& name = args.Positional()[0];
    if (!NameAccepted(ctx, "restore", name)) {
        return kExitUsage;
    }
    const ProfileStore store = Store();
    if (!store.Exists(name)) {
        ctx.err << "tavrikctl profile restore: there is no profile named \"" << name << "\"\n";
        return kExitFailed;
    }
    return RestoreFromFile(args, ctx, store.PathOf(name).string());
}

int RunDelete(const Args& args, Context& ctx) {
    std::string error;
    if (!Store().Remove(args.Positional()[0], error)) {
        ctx.err << "tavrikctl profile delete: " << error << "\n";
        return kExitFailed;
    }
    return kExitOk;
}

int RunRename(const Args& args, Context& ctx) {
    std::string error;
    if (!Store().Rename(args.Positional()[0], args.Positional()[1], error)) {
        ctx.err << "tavrikctl profile rename: " << error << "\n";
        return kExitFailed;
    }
    return kExitOk;
}

}  // namespace

void AddProfileCommands(std::vector<CommandDef>& table) {
    table.push_back({"profile list",
                     "[--json]",
                     {0, 0},
                     "List the saved keyboard profiles",
                     "Profiles are backups (docs/backup.md) kept under a name in the data\n"
                     "folder's \"profiles\" folder; the window's profile list shows the same.\n\n"
                     "  --json  [{\"name\", \"file\", \"saved\"}]\n",
                     {{"json"}},
                     RunList});
    table.push_back({"profile save",
                     "NAME [--json]",
                     {1, 1},
                     "Save the selected keyboard's whole state as a profile",
                     "As `backup`, into the profile NAME, which it replaces when it exists.\n"
                     "A name may not contain path separators or control characters, nor start\n"
                     "with '.'.\n",
                     {{"json"}},
                     RunSave});
    table.push_back({"profile restore",
                     "NAME [--dry-run] [--json]",
                     {1, 1},
                     "Put a saved profile back on the selected keyboard",
                     "As `restore` with the profile's file: modules are matched by UID; saved\n"
                     "modules that are not attached and attached modules without saved state\n"
                     "are named, and nothing is written to them.\n\n"
                     "  --dry-run  show what would change, write nothing\n",
                     {{"json"}, {"dry-run"}},
                     RunRestore});
    table.push_back(
        {"profile delete", "NAME", {1, 1}, "Delete a saved profile", "", {}, RunDelete});
    table.push_back({"profile rename",
                     "OLD NEW",
                     {2, 2},
                     "Rename a saved profile",
                     "Never replaces another profile.\n",
                     {},
                     RunRename});
}

}  // namespace tavrik::cli
