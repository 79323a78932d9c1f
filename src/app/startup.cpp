#include "app/startup.h"

#include "app/app_globals.h"
#include "app/applog.h"
#include "app/paths.h"
#include "app/settings.h"
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

std::filesystem::path InstanceLockFile() {
    return DataFolder() / (ApplicationName() + ".lock");
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
