#include "cli/keyboards.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <optional>

#include "app/paths.h"
#include "hid/hidapi_backend.h"
#include "sim/sim_backend.h"
#include "sim/sim_init.h"

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

std::string Keyboards::DefaultSimFile() {
    return (DataFolder() / "simulated-keyboards.json").string();
}

namespace {

// Simulated keyboards and their sessions share one faster clock: the controller's
// restarts shrink with the session's pauses.
std::optional<double> SimPauseScale() {
    if (const char* scale = std::getenv("TAVRIK_SIM_PAUSE_SCALE")) {
        return std::clamp(std::atof(scale), 0.0, 1.0);
    }
    return std::nullopt;
}

}  // namespace

std::unique_ptr<Keyboards> Keyboards::Open(Context& ctx, int& status) {
    std::unique_ptr<Keyboards> kb(new Keyboards());
    if (ctx.global.simulate) {
        auto sim = std::make_unique<sim::SimBackend>();
        if (const auto scale = SimPauseScale()) {
            sim->SetPauseScale(*scale);
        }
        const std::string path = ctx.global.simFile.empty() ? DefaultSimFile() : ctx.global.simFile;
        std::string error;
        std::error_code ec;
        if (ctx.global.simFile.empty() && !std::filesystem::exists(path, ec)) {
            // First use: a keyboard to try things on.
            std::filesystem::create_directories(std::filesystem::path(path).parent_path(), ec);
            sim->Attach(0, *sim::MakeInitialState(60, 2, 1, 40, 1));
            if (sim->SaveSimFile(path, &error) != sim::SimFileError::None) {
                ctx.err << "tavrikctl: cannot create the simulator file '" << path << "': " << error
                        << "\n";
                status = kExitFailed;
                return nullptr;
            }
        }
        if (sim->LoadSimFile(path, &error) != sim::SimFileError::None) {
            ctx.err << "tavrikctl: cannot load the simulator file '" << path << "': " << error
                    << "\n";
            status = kExitFailed;
            return nullptr;
        }
        kb->sim_ = sim.get();
        kb->backend_ = std::move(sim);
    } else {
        kb->backend_ = std::make_unique<HidapiBackend>();
    }

    for (int i = 0; i < 4; ++i) {
        auto slot = std::make_unique<Slot>();
        slot->usb = std::make_unique<CCUSB>(*kb->backend_, kb->known_);
        slot->usb->m_nDevIdx = i;
        slot->usb->m_bLogOn = ctx.global.verbose ? 1 : 0;
        if (slot->usb->FindDevice() != 1) {
            if (i == 0) {
                for (const auto& node : slot->usb->DeniedPaths()) {
                    ctx.err << "tavrikctl: " << node
                            << " is a keyboard, but this user may not open it (permission "
                               "denied).\nInstall the udev rule: sudo cp "
                               "packaging/udev/70-tavrik.rules /etc/udev/rules.d/ && sudo "
                               "udevadm control --reload && sudo udevadm trigger; then plug "
                               "the keyboard in again.\n";
                }
                if (!slot->usb->DeniedPaths().empty()) {
                    status = kExitFailed;
                    return nullptr;
                }
            }
            break;
        }
        if (slot->usb->OpenReadWrite() != 1) {
            ctx.err << "tavrikctl: cannot open keyboard " << i << " at " << slot->usb->m_strPath
                    << "\n";
            status = kExitFailed;
            return nullptr;
        }
        slot->dev = std::make_unique<CCCDev>(i, &slot->events);
        slot->dev->SetVerbose(ctx.global.verbose);
        slot->dev->SetTransport(slot->usb.get());
        if (kb->sim_ != nullptr) {
            // Simulated keyboards may run on a faster clock (tests, demos).
            if (const auto scale = SimPauseScale()) {
                slot->dev->Clock().SetPauseScale(*scale);
            }
        }
        slot->dev->StartRx();
        slot->dev->StartTx();
        kb->slots_.push_back(std::move(slot));
    }
    status = kExitOk;
    return kb;
}

Keyboards::~Keyboards() {
    for (auto& slot : slots_) {
        slot->dev->Close();
        slot->usb->CloseDevice();
    }
}

std::optional<int> Keyboards::Selected(Context& ctx) const {
    if (slots_.empty()) {
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
