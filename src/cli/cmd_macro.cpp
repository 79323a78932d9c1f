// Macros: files made and shown without a keyboard, and a key's macro read into a file
// or written from one.
#include <chrono>
#include <memory>

#include <nlohmann/json.hpp>

#include "cli/command.h"
#include "cli/format.h"
#include "cli/job_wait.h"
#include "cli/key_args.h"
#include "cli/keyboards.h"
#include "device/session_jobs.h"
#include "device/session_result.h"
#include "keys/keycodes.h"
#include "macro/marco_codec.h"
#include "macro/marco_file.h"
#include "macro/marco_step_words.h"
#include "macro/marco_text.h"
#include "macro/marco_validate.h"

namespace tavrik::cli {

namespace {

using namespace std::chrono_literals;

std::optional<int> LimitOption(const Args& args, Context& ctx, const char* command) {
    const auto limit = ParseNumber(args.Get("limit", "64"), 1, kMarcoMaxSteps);
    if (!limit) {
        ctx.err << "tavrikctl macro " << command << ": --limit takes 1.." << kMarcoMaxSteps << "\n";
        return std::nullopt;
    }
    return static_cast<int>(*limit);
}

int RunMacroShow(const Args& args, Context& ctx) {
    const auto limit = LimitOption(args, ctx, "show");
    if (!limit) {
        return kExitUsage;
    }
    const std::string& path = args.Positional()[0];
    int status = kExitOk;
    const auto record = LoadMacroFileArg(ctx, "macro show", path, status);
    if (!record) {
        return status;
    }
    const DecodedMarco macro = DecodeMarco(record->entries, *limit);
    if (const DecodedMarco whole = DecodeMarco(record->entries, kMarcoMaxSteps); whole != macro) {
        ctx.err << "tavrikctl macro show: warning: " << path << " holds "
                << CountText(whole.steps.Size(), "step", "steps") << " as "
                << MarcoModeName(whole.mode) << "; --limit " << *limit << " shows it cut\n";
    }

    // A macro no key may take is still shown, with the rule it breaks. The file's own
    // rules: a macro too long for --limit is already warned of above.
    const MarcoRecordCheck check = CheckMarcoEntries(record->entries, kMarcoMaxSteps);
    const int broken = check.Ok() ? kExitOk : kExitBadData;
    if (!check.Ok()) {
        ctx.err << "tavrikctl macro show: " << path << ": " << MarcoValidationText(check) << "\n";
    }

    if (args.Has("json")) {
        nlohmann::json steps = nlohmann::json::array();
        for (const MarcoEntry& e : macro.steps.Steps()) {
            steps.push_back(
                {{"flag", e.flag}, {"kv", e.kv}, {"delay", e.delay}, {"text", MacroStepLine(e)}});
        }
        ctx.out << nlohmann::json{{"mode", MarcoModeName(macro.mode)},
                                  {"steps", steps},
                                  {"switchPresent", macro.steps.SwitchPresent()}}
                       .dump(1)
                << "\n";
        return broken;
    }
    ctx.out << "Mode: " << MarcoModeName(macro.mode) << ", "
            << CountText(macro.steps.Size(), "step", "steps") << "\n";
    for (const MarcoEntry& e : macro.steps.Steps()) {
        ctx.out << MacroStepLine(e) << "\n" << MarcoDelayText(e.delay) << "\n";
    }
    return broken;
}

int RunMacroMake(const Args& args, Context& ctx) {
    if (!args.Has("mode") || !args.Has("output")) {
        ctx.err << "tavrikctl macro make: --mode and -o FILE are required\n";
        return kExitUsage;
    }
    const auto mode = ParseMarcoMode(args.Get("mode"));
    if (!mode) {
        ctx.err << "tavrikctl macro make: unknown mode '" << args.Get("mode")
                << "' (SingleShot, DualSec, ManualLoop, AutoLoop, Combination)\n";
        return kExitUsage;
    }
    const auto delay = ParseNumber(args.Get("delay", "10"), kMarcoDelayMin, kMarcoDelayMax);
    if (!delay) {
        ctx.err << "tavrikctl macro make: --delay takes " << kMarcoDelayMin << ".."
                << kMarcoDelayMax << " ms\n";
        return kExitUsage;
    }
    const auto limit = LimitOption(args, ctx, "make");
    if (!limit) {
        return kExitUsage;
    }
    MarcoSteps steps;
    for (const std::string& word : args.Positional()) {
        const std::string error = AppendMarcoStepWord(word, static_cast<int>(*delay), steps);
        if (!error.empty()) {
            ctx.err << "tavrikctl macro make: " << error << ". Nothing was written.\n";
            return kExitBadData;
        }
    }
    const MarcoRecordCheck check{{*mode, steps}, ValidateMarco(*mode, steps, *limit)};
    if (!check.Ok()) {
        ctx.err << "tavrikctl macro make: " << MarcoValidationText(check)
                << " Nothing was written.\n";
        return kExitBadData;
    }
    const auto record = EncodeMarco(*mode, steps, static_cast<int>(*delay), *limit);
    if (!record) {
        ctx.err
            << "tavrikctl macro make: the macro does not fit the keyboard. Nothing was written.\n";
        return kExitBadData;
    }
    const std::string path = args.Get("output");
    std::ostream& report = WroteLineStream(ctx, path);
    if (SaveMarcoFile(path, *record) != MarcoFileStatus::Ok) {
        ctx.err << "tavrikctl: cannot write macro file '" << path << "'\n";
        return kExitFailed;
    }
    report << "wrote " << path << ": " << MarcoModeName(*mode) << ", "
           << CountText(steps.Size(), "step", "steps") << ", "
           << CountText(MarcoEncodedLength(*mode, steps), "entry", "entries") << "\n";
    return kExitOk;
}

int RunMacroRead(const Args& args, Context& ctx) {
    const auto& pos = args.Positional();
    if (!args.Has("output")) {
        return RefusePositionals(ctx, args);
    }
    const auto slot = SlotArg(ctx, pos[0]);
    if (!slot) {
        return kExitUsage;
    }
    int status = kExitOk;
    auto p = OpenSelectedKeyboard(ctx, status, true);
    if (!p) {
        return status;
    }
    CCCDev& dev = p->Dev();
    auto read = std::make_shared<MarcoRecord>();
    const JobStatus job =
        WaitForJob(ctx, dev, SubmitMarcoReadJob(dev, *slot, read), JobProgress::None, 1min);
    if (job.state != JobState::Done) {
        return Refused(ctx, "macro read", *slot, job);
    }
    MarcoRecord record = *read;
    record.flag = 1;
    if (RefuseInvalidMacro(ctx, "macro read", "slot " + std::to_string(*slot), record.entries,
                           dev.Snapshot().marcoMax, "Nothing was written.")) {
        return kExitBadData;
    }
    const std::string path = args.Get("output");
    std::ostream& report = WroteLineStream(ctx, path);
    if (SaveMarcoFile(path, record) != MarcoFileStatus::Ok) {
        ctx.err << "tavrikctl: cannot write macro file '" << path << "'\n";
        return kExitFailed;
    }
    const DecodedMarco macro = DecodeMarco(record.entries, dev.Snapshot().marcoMax);
    report << "wrote " << path << ": " << MarcoModeName(macro.mode) << ", "
           << CountText(macro.steps.Size(), "step", "steps") << " from slot " << *slot << "\n";
    return kExitOk;
}

int RunMacroWrite(const Args& args, Context& ctx) {
    const auto& pos = args.Positional();
    const auto slot = SlotArg(ctx, pos[0]);
    const auto layer = LayerArg(ctx, args.Get("layer", "0"));
    if (!slot || !layer) {
        return kExitUsage;
    }
    int status = kExitOk;
    const auto file = LoadMacroFileArg(ctx, "macro write", pos[1], status);
    if (!file) {
        return status;
    }
    // The file's own rules first, then the keyboard's length: nothing is sent either way.
    if (RefuseInvalidMacro(ctx, "macro write", pos[1], file->entries, kMarcoMaxSteps,
                           "Nothing was sent.")) {
        return kExitBadData;
    }
    auto p = OpenSelectedKeyboard(ctx, status, true);
    if (!p) {
        return status;
    }
    CCCDev& dev = p->Dev();
    const MarcoRecord& record = *file;
    DeferStopSignals(ctx);
    if (RefuseInvalidMacro(ctx, "macro write", pos[1], record.entries, dev.Snapshot().marcoMax,
                           "Nothing was sent.")) {
        return kExitBadData;
    }
    const JobStatus job = WaitForJob(ctx, dev, SubmitMarcoWriteJob(dev, *slot, *layer, record),
                                     JobProgress::None, 1min);
    if (job.state != JobState::Done) {
        Refused(ctx, "macro write", *slot, job);
        return job.result == kErrMacroEmpty || job.result == kErrMacroTooLong ||
                       job.result == kErrMacroInvalid
                   ? kExitBadData
                   : kExitFailed;
    }
    const DecodedMarco macro = DecodeMarco(record.entries, dev.Snapshot().marcoMax);
    ctx.out << "slot " << *slot << " layer " << *layer << ": " << MarcoModeName(macro.mode)
            << " macro, " << CountText(macro.steps.Size(), "step", "steps") << "\n";
    if (const int signo = StopSignalNoted(); signo != 0) {
        // The key holds the whole macro; the status says the run was stopped after it.
        ctx.err << "tavrikctl macro write: stopped by signal " << signo
                << " after the macro was written whole\n";
        return 128 + signo;
    }
    return kExitOk;
}

}  // namespace

bool RefuseInvalidMacro(Context& ctx, const char* command, const std::string& what,
                        const MarcoEntries& entries, int limit, const char* outcome) {
    const MarcoRecordCheck check = CheckMarcoEntries(entries, limit);
    if (!check.Ok()) {
        ctx.err << "tavrikctl " << command << ": " << what << ": " << MarcoValidationText(check)
                << " " << outcome << "\n";
    }
    return !check.Ok();
}

std::optional<MarcoRecord> LoadMacroFileArg(Context& ctx, const char* command,
                                            const std::string& path, int& status) {
    const MarcoFileResult file = LoadMarcoFile(path);
    switch (file.status) {
        case MarcoFileStatus::Ok:
            return file.record;
        case MarcoFileStatus::InvalidData:
            ctx.err << "tavrikctl " << command << ": " << path << ": "
                    << CliText("macroFileInvalid") << "\n";
            status = kExitBadData;
            return std::nullopt;
        default:
            ctx.err << "tavrikctl " << command << ": macro file " << file.error << "\n";
            status = kExitFailed;
            return std::nullopt;
    }
}

void AddMacroCommands(std::vector<CommandDef>& table) {
    table.push_back(
        {"macro show",
         "FILE [--limit N] [--json]",
         {1, 1, "expected one FILE"},
         "Show the mode and steps of a macro file",
         "Decodes a macro file (.tvm or .macro) as the macro editor shows it: the mode, and\n"
         "each step with its delay line. A file that is not a macro file prints the\n"
         "invalid-data message and exits with status 2; a macro that breaks a rule of its\n"
         "mode (a loop count, a loop end, an unknown entry, a delay over 60000 ms, ...) is\n"
         "shown, followed by the rule on standard error, and exits with status 2.\n\n"
         "  --limit N  steps the keyboard holds, used for decoding (1..64, default 64;\n"
         "             24 for keyboards that hold fewer)\n"
         "  --json     {\"mode\", \"steps\": [{\"flag\", \"kv\", \"delay\", \"text\"}], "
         "\"switchPresent\"}\n",
         {{"limit", true}, {"json"}},
         RunMacroShow});
    table.push_back(
        {"macro make",
         "--mode MODE [--delay MS] [--limit N] -o FILE STEP...",
         {1, kAnyCount, "no steps given. Nothing was written."},
         "Write a macro file from a list of steps",
         "MODE is SingleShot, DualSec, ManualLoop, AutoLoop or Combination. The steps are\n"
         "checked as the macro editor checks them and encoded for the mode; a list that\n"
         "fails says what is wrong and writes nothing (exit status 2).\n\n"
         "A STEP is one of (DELAY in ms, default the --delay value):\n"
         "  down:KEY[:DELAY]  up:KEY[:DELAY]  press or release a key (name as in\n"
         "                    'tavrikctl keys', an alias like LShift, or a HID number)\n"
         "  tap:KEY[:DELAY]   down and up\n"
         "  loop:N[:DELAY]    start a loop played N times (2..250)\n"
         "  endloop[:DELAY]   end the open loop\n"
         "  switch[:DELAY]    the DualSec switch between the two sections\n"
         "  FLAG:KV[:DELAY]   a raw entry (numbers in decimal or 0x hex)\n\n"
         "  --delay MS  default delay of steps and of the mode's markers (10..60000, "
         "default 10)\n"
         "  --limit N   steps the keyboard holds (default 64)\n"
         "  -o FILE     the macro file to write\n",
         {{"mode", true}, {"delay", true}, {"limit", true}, {"output", true, 'o'}},
         RunMacroMake});
    table.push_back({"macro read",
                     "SLOT -o FILE",
                     {1, 1},
                     "Save the macro of a key to a macro file",
                     "Reads the macro stored on the key in SLOT and writes it as a macro file.\n",
                     {{"output", true, 'o'}},
                     RunMacroRead});
    table.push_back(
        {"macro write",
         "SLOT FILE [--layer L]",
         {2, 2},
         "Store a macro file's macro on a key",
         "Makes LAYER (default 0) of the key in SLOT play the macro of FILE. A key holds\n"
         "one macro on one layer: a key that plays a macro on another layer is refused.\n"
         "A macro that breaks a rule of its mode (see 'macro show') is refused before\n"
         "anything is sent (exit status 2, the rule named). Once the keyboard is open,\n"
         "SIGINT and SIGTERM no longer cut the write: the macro is written whole, then\n"
         "the command exits with status 128 + the signal (130, 143).\n",
         {{"layer", true}},
         RunMacroWrite});
}

}  // namespace tavrik::cli
