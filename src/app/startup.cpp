#include "app/startup.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <functional>

#include "app/app_globals.h"
#include "app/applog.h"
#include "app/paths.h"
#include "app/settings.h"
#include "app/texts.h"
#include "platform/process.h"

namespace tavrik {

namespace {

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (size_t i = 0; i < a.size(); ++i) {
        auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; };
        if (lower(a[i]) != lower(b[i])) {
            return false;
        }
    }
    return true;
}

}  // namespace

bool IsAutoBoot(const std::vector<std::string>& args) {
    return args.size() == 1 && EqualsIgnoringCase(args[0], "-auto");
}

bool FolderWritable(const std::filesystem::path& folder) {
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    return ::access(folder.c_str(), W_OK | X_OK) == 0;
}

std::filesystem::path InstanceLockFile() {
    const std::filesystem::path data = DataFolder();
    if (FolderWritable(data)) {
        return data / (ApplicationName() + ".lock");
    }
    // A data folder we may not write (another user's, read-only media): the lock could not
    // be made there and two copies would run on one simulator file. The runtime folder is
    // the user's own; the name keeps one running copy per data folder.
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    std::error_code ec;
    const std::filesystem::path folder = runtime != nullptr && *runtime == '/'
                                             ? std::filesystem::path(runtime)
                                             : std::filesystem::temp_directory_path(ec);
    char tag[17];
    std::snprintf(tag, sizeof tag, "%016zx", std::hash<std::string>{}(data.string()));
    return folder / (ApplicationName() + "-" + std::to_string(::getuid()) + "-" + tag + ".lock");
}

Application::Application(int argc, const char* const* argv, StartOptions options)
    : options_(options),
      instance_(std::make_unique<InstanceLock>(InstanceLockFile(), ApplicationName())) {
    if (argc > 0 && argv != nullptr && argv[0] != nullptr) {
        program_ = argv[0];
    }
    for (int i = 1; i < argc && argv != nullptr; ++i) {
        args_.emplace_back(argv[i] != nullptr ? argv[i] : "");
    }
}

Application::~Application() {
    instance_->StopListening();
}

bool Application::Start() {
    if (options_.changeWorkingFolder) {
        ChangeWorkingFolder(ResourceRoot());
    }
    SetUpLog();
    if (!FolderWritable(DataFolder())) {
        // Said at every start, since not even that it was said can be stored.
        const std::string text =
            GetPromptText("settingsNotSaved", GetLanguageSetting()) + " " + DataFolder().string();
        AppLog(text);
        std::fprintf(stderr, "tavrik: %s\n", text.c_str());
    }
    if (instance_->IsAlreadyRunning()) {
        AppLog("应用程序已经运行");
        instance_->AskFirstToShow(options_.showRequestLimit);
        return false;
    }
    g_strLanguage = GetLanguageSetting();
    return true;
}

std::string Application::CommandLine() const {
    std::string line = program_;
    for (const std::string& a : args_) {
        line += ' ';
        line += a;
    }
    return line;
}

void Application::Exit() {
    instance_->StopListening();
    ShutDownLog();
}

}  // namespace tavrik
