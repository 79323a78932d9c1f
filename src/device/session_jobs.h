// The session's long operations as jobs (see device/job_runner.h). Each call queues the
// job on the session's runner and returns its id at once; the outcome is the job's
// status: result 0 on success, the operation's negative error code otherwise. Every job
// can be cancelled while it is queued; once running, only where it says so below (the
// others are short, or must not stop halfway).
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>

#include "device/job_runner.h"
#include "macro/marco.h"
#include "protocol/fwimage.h"

namespace tavrik {

class CCCDev;

// The keyboard went away while the job ran.
inline constexpr int kJobKeyboardGone = -1001;
// An upgrade job whose upgrade thread could not be started; other upgrade failures are
// the negated upgrade error code (-1 .. -4).
inline constexpr int kJobUpgradeNotStarted = -100;
// An upgrade thread that ended without 100 % and without an error (it was stopped).
inline constexpr int kJobUpgradeUnfinished = -102;
// A mode change the controller firmware does not offer.
inline constexpr int kJobNotSupported = -101;
// The controller did not acknowledge a mode change (or another operation held it).
inline constexpr int kJobNoAnswer = -3;

// Every key's colour, key by key; progress per key, cancellable between keys.
uint32_t SubmitAllKeyColorJob(CCCDev& dev, uint32_t colour);
// One key's code on `layer` (AssignKey) or its colour (SetKeyColor), for a key whose
// macro on another layer must be read back and written again (about 30 ms per entry):
// too long for a window's thread. The result is the operation's.
uint32_t SubmitAssignKeyJob(CCCDev& dev, int slot, int layer, uint8_t keyCode, bool replaceMacro);
uint32_t SubmitKeyColorJob(CCCDev& dev, int slot, uint32_t colour);
// Mode changes: the command, the controller's settling pause and a rescan request.
uint32_t SubmitNkroJob(CCCDev& dev, bool on);
uint32_t SubmitOverloadJob(CCCDev& dev, bool on, int count);
// The controller does not answer a rate change, so the job reads the rate back.
uint32_t SubmitUsbRateJob(CCCDev& dev, int rate);
// Several mode changes in one job, in this order: overload, report rate, full-key
// rollover. A change that fails does not stop the ones after it, unless the keyboard went;
// the result is the first failure's code, its message names every failed change.
struct ModeChanges {
    std::optional<std::pair<bool, int>> overload;  // on, key count (0: the mode's own)
    std::optional<int> usbRate;
    std::optional<bool> nkro;
    bool Empty() const { return !overload && !usbRate && !nkro; }
};
uint32_t SubmitModeChangesJob(CCCDev& dev, const ModeChanges& changes);
// Reads the macro of `slot` into `out` (which the caller keeps until the job ends).
uint32_t SubmitMarcoReadJob(CCCDev& dev, int slot, std::shared_ptr<MarcoRecord> out);
// Stores `record` as the macro of `slot` and makes `layer` of the key play it.
uint32_t SubmitMarcoWriteJob(CCCDev& dev, int slot, int layer, const MarcoRecord& record);
// One scan pass on the job's keyboard (the scan thread is started if need be), then the
// scan paused. False, with `error` saying why ("keyboard N was unplugged during the
// scan", "... does not answer", "... did not finish its scan"), when no pass completed.
bool ScanOnePass(JobContext& ctx, std::string& error);
// ScanOnePass as a job of its own; a failure's message is that error.
uint32_t SubmitScanOnceJob(CCCDev& dev);
// Asks for a scan and waits until it has gone idle again; needs the scan thread running.
// Cancelling pauses the scan.
uint32_t SubmitRescanJob(CCCDev& dev);
// Firmware upgrades from `image`; progress is the upgrade percent.
// A cancel is refused once the upgrade runs, since stopping between firmware blocks
// would leave the keyboard without a working firmware; the result says so.
// `pollLimit` > 0: after that many progress polls (one a second) without completion or
// error the job fails with kJobUpgradeUnfinished, once the engine has ended.
uint32_t SubmitKbmcUpgradeJob(CCCDev& dev, FirmwareImagePtr image, int pollLimit = 0);
uint32_t SubmitKeyUpgradeJob(CCCDev& dev, FirmwareImagePtr image, int pollLimit = 0);

}  // namespace tavrik
