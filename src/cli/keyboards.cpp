#include "cli/keyboards.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>

#include "sim/sim_backend.h"

namespace tavrik::cli {

void CliNotifyTarget::Notify(uint32_t code, uint32_t, uint32_t) {
    {
        std::lock_guard lock(mutex_);
        codes_.push_back(code);
    }
    cv_.notify_all();
}

int CliNotifyTarget::Count(uint32_t code) const {
    std::lock_guard lock(mutex_);
    return static_cast<int>(std::count(codes_.begin(), codes_.end(), code));
}

bool CliNotifyTarget::WaitFor(uint32_t code, int count, int limitMs,
                              const std::function<bool()>& giveUp) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs);
    std::unique_lock lock(mutex_);
    while (std::count(codes_.begin(), codes_.end(), code) < count) {
        if (std::chrono::steady_clock::now() >= until) {
            return false;
        }
        lock.unlock();
        const bool stop = giveUp && giveUp();
        lock.lock();
        if (stop) {
            return std::count(codes_.begin(), codes_.end(), code) >= count;
        }
        cv_.wait_for(lock, std::chrono::milliseconds(20));
    }
    return true;
}

std::string Keyboards::SimFile(const Context& ctx) {
    return ctx.global.simFile.empty() ? KeyboardHub::DefaultSimFile().string() : ctx.global.simFile;
}

std::unique_ptr<Keyboards> Keyboards::Open(Context& ctx, int& status) {
    std::unique_ptr<HidBackend> backend;
    if (ctx.global.simulate) {
        const std::string path = SimFile(ctx);
        std::string error;
        backend = KeyboardHub::SimulatedBackend(path, ctx.global.simFile.empty(), &error);
        if (!backend) {
            ctx.err << "tavrikctl: cannot load the simulator file '" << path << "': " << error
                    << "\n";
            status = kExitFailed;
            return nullptr;
        }
    } else {
        backend = KeyboardHub::RealBackend();
    }
    std::unique_ptr<Keyboards> kb(new Keyboards());
    HubOptions options;
    options.verbose = ctx.global.verbose;
    options.scanOnAttach = false;
    options.simPauseScale = KeyboardHub::SimPauseScaleFromEnv();
    std::array<NotifyTarget*, kHubSlots> targets{};
    for (size_t i = 0; i < targets.size(); ++i) {
        targets[i] = &kb->events_[i];
    }
    kb->hub_ = std::make_unique<KeyboardHub>(std::move(backend), targets, options);
    KeyboardHub& hub = *kb->hub_;
    hub.AttachPresent();
    if (hub.Count() == 0 && !hub.DeniedPaths().empty()) {
        for (const auto& node : hub.DeniedPaths()) {
            ctx.err << "tavrikctl: " << node
                    << " is a keyboard, but this user may not open it (permission "
                       "denied).\nInstall the udev rule: sudo cp "
                       "packaging/udev/70-tavrik.rules /etc/udev/rules.d/ && sudo "
                       "udevadm control --reload && sudo udevadm trigger; then plug "
                       "the keyboard in again.\n";
        }
        status = kExitFailed;
        return nullptr;
    }
    if (!hub.OpenFailures().empty()) {
        const auto& failure = hub.OpenFailures().front();
        ctx.err << "tavrikctl: cannot open keyboard " << failure.slot << " at " << failure.path
                << "\n";
        status = kExitFailed;
        return nullptr;
    }
    status = kExitOk;
    return kb;
}

Keyboards::~Keyboards() = default;

std::optional<int> Keyboards::Selected(Context& ctx) const {
    if (Count() == 0) {
        ctx.err << "tavrikctl: no keyboard found"
                << (ctx.global.simulate ? " in the simulator file" : "") << "\n";
        return std::nullopt;
    }
    if (ctx.global.device >= Count()) {
        ctx.err << "tavrikctl: there is no keyboard " << ctx.global.device << " (" << Count()
                << " attached)\n";
        return std::nullopt;
    }
    return ctx.global.device;
}

bool Keyboards::ScanOnce(Context& ctx, int i) {
    CCCDev& dev = Session(i);
    CliNotifyTarget& events = Events(i);
    const int before = events.Count(UM_INFO_DLG_UPDATE_ALL_KEY_DISPLAY);
    dev.RequestScan();
    dev.StartScanThread();
    // A pass over 90 silent slots takes about 14 s; a keyboard that does not answer its
    // version query makes the scan idle at once.
    const bool done = events.WaitFor(UM_INFO_DLG_UPDATE_ALL_KEY_DISPLAY, before + 1, 30000, [&] {
        return (dev.Snapshot().verFail && !dev.IsScanBusy()) || Transport(i).IsGone();
    });
    dev.PauseScan();
    if (Transport(i).IsGone()) {
        ctx.err << "tavrikctl: keyboard " << i << " was unplugged during the scan\n";
        return false;
    }
    if (!done) {
        ctx.err << "tavrikctl: keyboard " << i
                << (dev.Snapshot().verFail ? " does not answer" : " did not finish its scan")
                << "\n";
        return false;
    }
    return true;
}

std::optional<SelectedKeyboard> OpenSelectedKeyboard(Context& ctx, int& status, bool scan) {
    SelectedKeyboard s;
    s.keyboards = Keyboards::Open(ctx, status);
    if (!s.keyboards) {
        return std::nullopt;
    }
    const auto selected = s.keyboards->Selected(ctx);
    if (!selected || (scan && !s.keyboards->ScanOnce(ctx, *selected))) {
        status = kExitFailed;
        return std::nullopt;
    }
    s.index = *selected;
    return s;
}

}  // namespace tavrik::cli
