#include "cli/keyboards.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>

#include "app/keyboard_backend.h"
#include "app/udev_access.h"
#include "cli/format.h"
#include "cli/job_wait.h"
#include "device/session_jobs.h"
#include "sim/sim_backend.h"

namespace tavrik::cli {

std::string Keyboards::SimFile(const Context& ctx) {
    return ctx.global.simFile.empty() ? DefaultSimFile().string() : ctx.global.simFile;
}

std::unique_ptr<Keyboards> Keyboards::Open(Context& ctx, int& status) {
    std::unique_ptr<HidBackend> backend;
    if (ctx.global.simulate) {
        const std::string path = SimFile(ctx);
        std::string error;
        sim::SimFileError failure = sim::SimFileError::None;
        backend = SimulatedBackend(path, ctx.global.simFile.empty(), &error, &failure);
        if (!backend) {
            ctx.err << "tavrikctl: cannot load the simulator file '" << path << "': " << error
                    << "\n";
            // A file that is there but is no simulator file is bad input, not a failure.
            status = failure == sim::SimFileError::Malformed ? kExitBadData : kExitFailed;
            return nullptr;
        }
    } else {
        backend = RealBackend();
        if (const std::string why = backend->Unavailable(); !why.empty()) {
            // Not "no keyboard found": none could have been.
            ctx.err << "tavrikctl: " << UnreachableKeyboardsText(why, CliLanguage()) << "\n";
            status = kExitFailed;
            return nullptr;
        }
    }
    std::unique_ptr<Keyboards> kb(new Keyboards(ctx));
    HubOptions options;
    options.verbose = ctx.global.verbose;
    options.scanOnAttach = false;
    options.simPauseScale = SimPauseScaleFromEnv();
    options.simReplySlackMs = SimReplySlackFromEnv();
    std::array<NotifyTarget*, kHubSlots> targets{};
    for (size_t i = 0; i < targets.size(); ++i) {
        targets[i] = &kb->events_[i];
    }
    kb->hub_ = std::make_unique<KeyboardHub>(std::move(backend), targets, options);
    KeyboardHub& hub = *kb->hub_;
    hub.AttachPresent();
    // A keyboard that is there but may not be opened is not "no keyboard".
    if (!hub.DeniedPaths().empty()) {
        ctx.err << "tavrikctl: "
                << DeniedKeyboardsText(hub.DeniedPaths(), FindUdevRule(), CliLanguage()) << "\n";
        if (hub.Count() == 0) {
            status = kExitFailed;
            return nullptr;
        }
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

Keyboards::~Keyboards() {
    // A change counts only once it is in the file. Closing the sessions first: a session
    // may still be sending what a finished job queued.
    sim::SimBackend* sim = hub_ ? sim::SimOf(hub_->Backend()) : nullptr;
    if (sim == nullptr) {
        return;
    }
    hub_->DetachAll();
    std::string error;
    if (sim->Flush(&error) != sim::SimFileError::None) {
        ctx_.err << "tavrikctl: the simulated keyboards could not be saved to '"
                 << sim->BoundFile().string() << "': " << error << "\n";
        ctx_.unsaved = true;
    }
}

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
    // The pass itself gives up after 30 s; the limit only bounds the wait for the job.
    const JobStatus job = WaitForJob(ctx, Session(i), SubmitScanOnceJob(Session(i)),
                                     JobProgress::None, std::chrono::minutes(2));
    if (job.state == JobState::Done) {
        return true;
    }
    ctx.err << "tavrikctl: "
            << (job.Finished() && !job.message.empty()
                    ? job.message
                    : "keyboard " + std::to_string(i) + " did not finish its scan")
            << "\n";
    return false;
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
