#include "device/session_jobs.h"

#include <algorithm>
#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "device/mode_rules.h"
#include "device/session.h"
#include "keys/keycodes.h"
#include "protocol/firmware_features.h"

namespace tavrik {

namespace {

using namespace std::chrono_literals;

// A request brings two scan passes; a pass over 90 silent slots takes about 14 s.
constexpr int kPassesPerRequest = 2;
constexpr auto kScanLimit = 120s;
// The upgrade engine ends by itself within its own limits; this only bounds the wait.
constexpr auto kUpgradeLimit = 2h;
// After 100 % the engine still resets the controller; the window allows a minute.
constexpr int kUpgradeClosingPolls = 600;

std::string OfKeys(int done) {
    return std::to_string(done) + " of " + std::to_string(kKeySlots) + " keys";
}

JobResult AllKeyColor(JobContext& ctx, uint32_t colour) {
    CCCDev& dev = ctx.Dev();
    int result = 0;
    const int total = static_cast<int>(kKeySlots);
    for (int slot = 0; slot < total; ++slot) {
        // Between keys nothing is half written, so this is where the job may stop.
        if (ctx.Cancelled()) {
            return JobResult::Cancelled("cancelled after " + OfKeys(slot));
        }
        if (dev.TransportGone()) {
            return JobResult::Error(kJobKeyboardGone,
                                    "the keyboard went away after " + OfKeys(slot));
        }
        // Slots without a key to colour are passed over; a refused key is not.
        if (const int r = dev.SetKeyColor(slot, colour); IsMacroReadFailure(r) || r == kErrBusy) {
            result = r;
        }
        ctx.Progress(slot + 1, total);
    }
    if (result != 0) {
        return JobResult::Error(result,
                                "a key's macro could not be read back; that key kept "
                                "its colour");
    }
    return JobResult::Ok();
}

// The mode commands end with a pause the controller needs to settle; the session's pause
// ends early only when the session closes, never for a cancel.
JobResult AfterModeChange(const JobContext& ctx) {
    if (ctx.Dev().TransportGone()) {
        return JobResult::Error(kJobKeyboardGone, "the keyboard went away");
    }
    if (ctx.Stopping()) {
        return JobResult::Cancelled("stopped: the keyboard was closed");
    }
    return JobResult::Ok();
}

// The controller does not acknowledge a mode command: after its pause the job asks the
// controller for its state, whose reply carries the modes its firmware reports.
JobResult ModeReadBack(JobContext& ctx, int result) {
    CCCDev& d = ctx.Dev();
    if (d.TransportGone()) {
        return JobResult::Error(kJobKeyboardGone, "the keyboard went away");
    }
    if (result == kErrBusy) {
        return JobResult::Error(kJobNoAnswer, "the keyboard was busy with another operation");
    }
    if (ctx.Stopping()) {
        return JobResult::Cancelled("stopped: the keyboard was closed");
    }
    if (d.GetKbmcStageVer() < 0) {
        return d.TransportGone() ? JobResult::Error(kJobKeyboardGone, "the keyboard went away")
                                 : JobResult::Error(kJobNoAnswer, "the keyboard did not answer");
    }
    return JobResult::Ok();
}

// The controller's mode rules hold for every front end: a change they refuse is not sent.
std::optional<JobResult> RefusedModes(JobContext& ctx, const ModeChange& change) {
    const int r = ModeRefusal(change, StandardModuleCount(ctx.Dev().Snapshot()));
    if (r == kSessionOk) {
        return std::nullopt;
    }
    return JobResult::Error(r, std::string(SessionResultText(r)) + "; nothing was changed");
}

JobResult NkroStep(JobContext& ctx, bool on) {
    const int r = ctx.Dev().SetNkro(on ? 1 : 0);
    if (r == 0 && on) {
        return JobResult::Error(kJobNotSupported,
                                "the controller firmware is too old for full-key rollover");
    }
    if (r == 0) {
        // Off on firmware without it: nothing was sent, nothing to read back.
        return AfterModeChange(ctx);
    }
    JobResult back = ModeReadBack(ctx, r);
    if (back.code == 0 && ctx.Dev().Snapshot().nkro != on) {
        return JobResult::Error(-1, "the keyboard did not take the change");
    }
    return back;
}

JobResult OverloadStep(JobContext& ctx, bool on, int count) {
    CCCDev& d = ctx.Dev();
    const int r = d.SetOverload(on ? 1 : 0, count);
    JobResult back = ModeReadBack(ctx, r);
    const SessionSnapshot s = d.Snapshot();
    if (back.code == 0 && count != 0 && ReportsModuleCount(s.KbmcWord()) && s.keyMax != count) {
        return JobResult::Error(-1, "the keyboard did not take the key count");
    }
    return back;
}

JobResult UsbRateStep(JobContext& ctx, int rate) {
    CCCDev& d = ctx.Dev();
    d.SetUsbRate(rate);
    if (d.ReadUsbRate() < 0) {
        return d.TransportGone() ? JobResult::Error(kJobKeyboardGone, "the keyboard went away")
                                 : JobResult::Error(kJobNoAnswer, "the keyboard did not answer");
    }
    if (d.GetUsbRate() != rate) {
        return JobResult::Error(-1, "the keyboard did not take the rate");
    }
    return JobResult::Ok();
}

JobResult MarcoRead(JobContext& ctx, int slot, MarcoRecord& out) {
    const CCCDev::MarcoReadResult read = ctx.Dev().ReadMacro(slot);
    if (read.error != 0) {
        return JobResult::Error(read.error, SessionResultText(read.error));
    }
    out = read.record;
    return JobResult::Ok();
}

// A key's rewrite keeps its macro; the keyboard going meanwhile is a failure of its own.
JobResult KeyRewrite(JobContext& ctx, int result) {
    if (result == 0 && !ctx.Dev().WaitTxWritten(std::chrono::seconds(5))) {
        result = kJobKeyboardGone;
    }
    if (result != 0 && ctx.Dev().TransportGone()) {
        return JobResult::Error(kJobKeyboardGone, "the keyboard went away");
    }
    if (result != 0) {
        return JobResult::Error(result, SessionResultText(result));
    }
    return JobResult::Ok();
}

JobResult MarcoWrite(JobContext& ctx, int slot, int layer, const MarcoRecord& record) {
    CCCDev& dev = ctx.Dev();
    if (const int r = dev.WriteMacro(slot, layer, record); r != 0) {
        return JobResult::Error(r, SessionResultText(r));
    }
    // The entries are only queued: a cable pulled before the last one was written must
    // not pass for a stored macro.
    if (!dev.WaitTxWritten(std::chrono::seconds(5)) || dev.TransportGone()) {
        return JobResult::Error(kJobKeyboardGone, "the keyboard went away");
    }
    return JobResult::Ok();
}

}  // namespace

// A pass over 90 silent slots takes about 14 s; a keyboard that does not answer its
// version query makes the scan idle at once.
bool ScanOnePass(JobContext& ctx, std::string& error) {
    CCCDev& dev = ctx.Dev();
    const int before = dev.Snapshot().scanPasses;
    dev.RequestScan();
    dev.StartScanThread();
    const auto passed = [&] { return dev.Snapshot().scanPasses != before; };
    ctx.WaitFor(
        [&] {
            return passed() || dev.TransportGone() || (dev.Snapshot().verFail && !dev.IsScanBusy());
        },
        std::chrono::seconds(30), 20);
    dev.PauseScan();
    const std::string name = "keyboard " + std::to_string(dev.DevIdx());
    if (dev.TransportGone()) {
        error = name + " was unplugged during the scan";
    } else if (!passed()) {
        error = name + (dev.Snapshot().verFail ? " does not answer" : " did not finish its scan");
    } else {
        return true;
    }
    return false;
}

namespace {

JobResult Rescan(JobContext& ctx) {
    CCCDev& dev = ctx.Dev();
    const int before = dev.Snapshot().scanPasses;
    dev.RequestScan();
    const auto passes = [&] { return std::clamp(dev.Snapshot().scanPasses - before, 0, 2); };
    const bool ended = ctx.WaitFor(
        [&] {
            ctx.Progress(passes(), kPassesPerRequest);
            return !dev.IsScanBusy() || dev.TransportGone() || ctx.CancelRequested();
        },
        kScanLimit, 20);
    if (dev.TransportGone()) {
        return JobResult::Error(kJobKeyboardGone, "the keyboard went away during the scan");
    }
    if (ctx.Cancelled()) {
        dev.PauseScan();
        return JobResult::Cancelled(ctx.Stopping() ? "stopped: the keyboard was closed"
                                                   : "cancelled during the scan");
    }
    if (!ended) {
        return JobResult::Error(-1, "the scan did not finish");
    }
    if (passes() == 0) {
        return dev.Snapshot().verFail ? JobResult::Error(-3, "the keyboard does not answer")
                                      : JobResult::Error(-1, "the scan was stopped early");
    }
    return JobResult::Ok();
}

JobResult Upgrade(JobContext& ctx, bool controller, const FirmwareImagePtr& image, int pollLimit) {
    CCCDev& dev = ctx.Dev();
    if (ctx.Cancelled()) {
        return JobResult::Cancelled();
    }
    const auto error = [&] {
        return controller ? dev.GetKbmcUpgradeError() : dev.GetKeyUpgradeError();
    };
    const auto percent = [&] {
        return controller ? dev.GetKbmcUpgradePercent() : dev.GetKeyUpgradePercent();
    };
    dev.PauseScan();
    if ((controller ? dev.StartKbmcUpgrade(image) : dev.StartKeyUpgrade(image)) != 1) {
        dev.RequestScan();
        return JobResult::Error(kJobUpgradeNotStarted, "the upgrade could not start");
    }
    // From here on a cancel is refused: the upgrade thread cannot stop between blocks
    // without leaving the keyboard without a working firmware.
    const auto interval = std::chrono::ceil<std::chrono::milliseconds>(dev.Clock().Pause(1000)) +
                          std::chrono::milliseconds(1);
    const auto until = std::chrono::steady_clock::now() + kUpgradeLimit;
    int failed = 0;
    bool finished = false;
    bool outOfPolls = false;
    for (int polls = 1; std::chrono::steady_clock::now() < until; ++polls) {
        const bool running = dev.IsUpgrading() != 0;
        failed = error();
        if (failed != 0) {
            break;
        }
        const int p = percent();
        ctx.Percent(p);
        if (p >= 100) {
            finished = true;
            break;
        }
        if (!running) {
            break;
        }
        if (pollLimit > 0 && polls >= pollLimit) {
            outOfPolls = true;
            break;
        }
        if (!ctx.Idle(interval)) {
            return JobResult::Cancelled("stopped: the keyboard was closed during the upgrade");
        }
    }
    // The engine still resets the controller and asks for a scan; let it finish.
    for (int i = 0; i < kUpgradeClosingPolls && dev.IsUpgrading() != 0; ++i) {
        if (!ctx.Idle(interval / 10 + std::chrono::milliseconds(1))) {
            return JobResult::Cancelled("stopped: the keyboard was closed during the upgrade");
        }
    }
    dev.RequestScan();
    const std::string refused =
        ctx.CancelRequested() ? " (cancel refused: firmware blocks were being sent)" : "";
    if (failed != 0) {
        return JobResult::Error(-failed, "upgrade error " + std::to_string(failed) + refused);
    }
    if (!finished) {
        return JobResult::Error(
            kJobUpgradeUnfinished,
            (outOfPolls ? "the upgrade did not finish in " + std::to_string(pollLimit) + " polls"
                        : std::string("the upgrade ended before it finished")) +
                refused);
    }
    return JobResult::Ok("upgrade done" + refused);
}

}  // namespace

uint32_t SubmitAllKeyColorJob(CCCDev& dev, uint32_t colour) {
    return dev.Jobs().Submit("colour all keys",
                             [colour](JobContext& ctx) { return AllKeyColor(ctx, colour); });
}

uint32_t SubmitNkroJob(CCCDev& dev, bool on) {
    return dev.Jobs().Submit(on ? "nkro on" : "nkro off",
                             [on](JobContext& ctx) { return NkroStep(ctx, on); });
}

uint32_t SubmitOverloadJob(CCCDev& dev, bool on, int count) {
    return dev.Jobs().Submit(on ? "overload on" : "overload off", [on, count](JobContext& ctx) {
        ModeChange change;
        change.overload = on;
        change.overloadCount = count;
        if (std::optional<JobResult> refused = RefusedModes(ctx, change)) {
            return *refused;
        }
        return OverloadStep(ctx, on, count);
    });
}

uint32_t SubmitUsbRateJob(CCCDev& dev, int rate) {
    return dev.Jobs().Submit("usb rate " + std::to_string(rate), [rate](JobContext& ctx) {
        ModeChange change;
        change.usbRate = rate;
        if (std::optional<JobResult> refused = RefusedModes(ctx, change)) {
            return *refused;
        }
        return UsbRateStep(ctx, rate);
    });
}

uint32_t SubmitModeChangesJob(CCCDev& dev, const ModeChanges& changes) {
    return dev.Jobs().Submit("mode changes", [changes](JobContext& ctx) {
        // Refused as a whole before anything is sent.
        ModeChange all;
        all.nkro = changes.nkro;
        all.usbRate = changes.usbRate;
        if (changes.overload) {
            all.overload = changes.overload->first;
            all.overloadCount = changes.overload->second;
        }
        if (std::optional<JobResult> refused = RefusedModes(ctx, all)) {
            return *refused;
        }
        std::vector<std::function<JobResult()>> steps;
        std::vector<std::string> names;
        if (changes.overload) {
            // Not a structured binding: clang 14 cannot capture one.
            const bool on = changes.overload->first;
            const int count = changes.overload->second;
            steps.emplace_back([&ctx, on, count] { return OverloadStep(ctx, on, count); });
            names.emplace_back("overload mode");
        }
        if (changes.usbRate) {
            const int rate = *changes.usbRate;
            steps.emplace_back([&ctx, rate] { return UsbRateStep(ctx, rate); });
            names.emplace_back("report rate");
        }
        if (changes.nkro) {
            const bool on = *changes.nkro;
            steps.emplace_back([&ctx, on] { return NkroStep(ctx, on); });
            names.emplace_back("full-key rollover");
        }
        int code = 0;
        std::string failed;
        const int total = static_cast<int>(steps.size());
        for (int i = 0; i < total; ++i) {
            ctx.Progress(i, total);
            const JobResult r = steps[static_cast<size_t>(i)]();
            if (r.code != 0) {
                code = code != 0 ? code : r.code;
                failed +=
                    (failed.empty() ? "" : "; ") + names[static_cast<size_t>(i)] + ": " + r.message;
            }
            if (r.code == kJobKeyboardGone || ctx.Stopping()) {
                break;
            }
        }
        ctx.Progress(total, total);
        return code == 0 ? JobResult::Ok() : JobResult::Error(code, failed);
    });
}

uint32_t SubmitAssignKeyJob(CCCDev& dev, int slot, int layer, uint8_t keyCode, bool replaceMacro) {
    return dev.Jobs().Submit("key code", [=](JobContext& ctx) {
        ctx.Progress(0, 1);
        return KeyRewrite(ctx, ctx.Dev().AssignKey(slot, layer, keyCode, replaceMacro));
    });
}

uint32_t SubmitKeyColorJob(CCCDev& dev, int slot, uint32_t colour) {
    return dev.Jobs().Submit("key colour", [=](JobContext& ctx) {
        ctx.Progress(0, 1);
        return KeyRewrite(ctx, ctx.Dev().SetKeyColor(slot, colour));
    });
}

uint32_t SubmitMarcoReadJob(CCCDev& dev, int slot, std::shared_ptr<MarcoRecord> out) {
    return dev.Jobs().Submit("macro read " + std::to_string(slot),
                             [slot, out = std::move(out)](JobContext& ctx) {
                                 return out ? MarcoRead(ctx, slot, *out)
                                            : JobResult::Error(-1, "nowhere to put the macro");
                             });
}

uint32_t SubmitMarcoWriteJob(CCCDev& dev, int slot, int layer, const MarcoRecord& record) {
    return dev.Jobs().Submit(
        "macro write " + std::to_string(slot),
        [slot, layer, record](JobContext& ctx) { return MarcoWrite(ctx, slot, layer, record); });
}

uint32_t SubmitScanOnceJob(CCCDev& dev) {
    return dev.Jobs().Submit("scan", [](JobContext& ctx) {
        std::string error;
        return ScanOnePass(ctx, error) ? JobResult::Ok() : JobResult::Error(-1, error);
    });
}

uint32_t SubmitRescanJob(CCCDev& dev) {
    return dev.Jobs().Submit("rescan", Rescan);
}

uint32_t SubmitKbmcUpgradeJob(CCCDev& dev, FirmwareImagePtr image, int pollLimit) {
    return dev.Jobs().Submit("controller upgrade",
                             [image = std::move(image), pollLimit](JobContext& ctx) {
                                 return Upgrade(ctx, true, image, pollLimit);
                             });
}

uint32_t SubmitKeyUpgradeJob(CCCDev& dev, FirmwareImagePtr image, int pollLimit) {
    return dev.Jobs().Submit("key upgrade", [image = std::move(image), pollLimit](JobContext& ctx) {
        return Upgrade(ctx, false, image, pollLimit);
    });
}

}  // namespace tavrik
