#include "ui/app/tavrik_app.h"

#include <sys/socket.h>
#include <unistd.h>

#include <QApplication>
#include <QSocketNotifier>
#include <csignal>
#include <cstdio>
#include <future>

#include "app/app_id.h"
#include "app/keyboard_backend.h"
#include "app/paths.h"
#include "app/settings.h"
#include "app/startup.h"
#include "app/texts.h"
#include "device/keyboard_hub.h"
#include "platform/process.h"
#include "sim/sim_backend.h"
#include "ui/app/app_style.h"
#include "ui/mainwnd/main_window.h"
#include "ui/widgets/pic_button.h"

namespace tavrik::ui {
namespace {

constexpr const char* kUsage =
    "Usage: tavrik [--simulate[=FILE]] [-auto]\n"
    "       tavrik --version\n"
    "  --simulate[=FILE]  use simulated keyboards kept in FILE (default: a file in the\n"
    "                     data folder, made on first use)\n"
    "  -auto              started by the autostart entry\n";

// SIGTERM and SIGINT end the program as the tray's exit does. The handler only writes a
// byte; the UI thread reads it through a socket notifier.
int g_signalFds[2] = {-1, -1};

void OnSignal(int) {
    const char byte = 1;
    [[maybe_unused]] const ssize_t n = ::write(g_signalFds[0], &byte, 1);
}

void WatchSignals(CTavrikDlg& window) {
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, g_signalFds) != 0) {
        return;
    }
    auto* notifier = new QSocketNotifier(g_signalFds[1], QSocketNotifier::Read, &window);
    QObject::connect(notifier, &QSocketNotifier::activated, &window, [&window] {
        char buffer[16];
        while (::read(g_signalFds[1], buffer, sizeof buffer) > 0) {
        }
        window.ExitProgram(false);
    });
    CatchStopSignals(OnSignal);
}

}  // namespace

UiArgs ParseUiArgs(int argc, const char* const* argv) {
    UiArgs out;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i] != nullptr ? argv[i] : "";
        if (a == "--simulate") {
            out.simulate = true;
        } else if (a.rfind("--simulate=", 0) == 0) {
            out.simulate = true;
            out.simFile = a.substr(11);
            if (out.simFile.empty()) {
                out.error = "--simulate= needs a FILE";
            }
        } else if (a == "--help" || a == "-h") {
            out.help = true;
        } else if (a == "--version") {
            out.version = true;
        } else if (IsAutoBoot({a})) {
            out.shellArgs.push_back(a);
        } else if (out.error.empty()) {
            // A typo of --simulate must not start on the real keyboards.
            out.error = "unknown option '" + a + "'";
            out.unknownOption = true;
        }
    }
    return out;
}

int RunTavrik(int argc, char** argv) {
    ReportTiming("main");
    const UiArgs args = ParseUiArgs(argc, argv);
    if (args.help) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    if (args.version) {
        std::printf("tavrik %s\n", TAVRIK_VERSION);
        return 0;
    }
    if (!args.error.empty()) {
        std::fprintf(stderr, "tavrik: %s\n%s", args.error.c_str(), kUsage);
        return args.unknownOption ? kExitUnknownOption : 2;
    }
    // A relative simulator file means the folder tavrik was started in, not the resource
    // root the shell changes to.
    std::string simFile = args.simFile;
    if (!simFile.empty()) {
        simFile = std::filesystem::absolute(simFile).string();
    }
    std::vector<const char*> shellArgv{argv[0]};
    for (const std::string& a : args.shellArgs) {
        shellArgv.push_back(a.c_str());
    }
    Application shell(static_cast<int>(shellArgv.size()), shellArgv.data());
    if (!shell.Start()) {
        // A copy runs already; it was asked to show itself.
        const std::string said = GetPromptText("alreadyRunning", GetLanguageSetting());
        std::fprintf(stderr, "tavrik: %s\n", said.c_str());
        shell.Exit();
        return 0;
    }

    ReportTiming("shell");
    // The keyboards' backend is made beside the application object, which mostly waits for
    // the display. It cannot hang: the simulator file's lock wait and its read are limited.
    std::string simPath;
    if (args.simulate) {
        simPath = simFile.empty() ? DefaultSimFile().string() : simFile;
    }
    std::string simError;
    auto loading = std::async(std::launch::async, [&] {
        return args.simulate ? std::unique_ptr<HidBackend>(
                                   SimulatedBackend(simPath, simFile.empty(), &simError))
                             : RealBackend();
    });
    QApplication app(argc, argv);
    std::unique_ptr<HidBackend> backend = loading.get();
    if (!backend) {
        std::fprintf(stderr, "tavrik: cannot load the simulator file '%s': %s\n", simPath.c_str(),
                     simError.c_str());
        shell.Exit();
        return 1;
    }
    ReportTiming("backend");
    QApplication::setApplicationName(QString::fromStdString(ApplicationName()));
    QApplication::setDesktopFileName(kAppId);
    ApplyAppStyle(app);
    QApplication::setQuitOnLastWindowClosed(false);

    ReportTiming("qapp");
    int code = 0;
    {
        CTavrikDlg window;
        MainWindowSetup setup;
        setup.backend = std::move(backend);
        setup.simPauseScale = SimPauseScaleFromEnv();
        setup.simReplySlackMs = SimReplySlackFromEnv();
        setup.autoBoot = shell.AutoBoot();
        setup.commandLine = shell.CommandLine();
        setup.attachAfterFirstFrame = true;
        window.Init(std::move(setup));
        shell.Instance().StartListening([&window] {
            QMetaObject::invokeMethod(
                &window, [&window] { window.ShowFromTray(); }, Qt::QueuedConnection);
        });
        WatchSignals(window);
        code = QApplication::exec();
        // Nobody may raise a window that is going.
        shell.Instance().StopListening();
    }
    shell.Exit();
    return code;
}

}  // namespace tavrik::ui
