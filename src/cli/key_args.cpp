#include "cli/key_args.h"

#include "app/texts.h"
#include "cli/format.h"
#include "keys/keycodes.h"
#include "protocol/protocol.h"

namespace tavrik::cli {

std::optional<int> SlotArg(Context& ctx, const std::string& text) {
    const auto slot = ParseNumber(text, 0, static_cast<long>(kKeySlots) - 1);
    if (!slot) {
        ctx.err << "tavrikctl: SLOT is a number 0..89, not '" << text << "'\n";
        return std::nullopt;
    }
    return static_cast<int>(*slot);
}

std::optional<int> LayerArg(Context& ctx, const std::string& text) {
    const auto layer = ParseNumber(text, 0, 3);
    if (!layer) {
        ctx.err << "tavrikctl: LAYER is a number 0..3, not '" << text << "'\n";
        return std::nullopt;
    }
    return static_cast<int>(*layer);
}

int Refused(Context& ctx, const char* command, int slot, int result) {
    ctx.err << "tavrikctl " << command << ": slot " << slot << ": "
            << SessionResultText(result, CliLanguage()) << "\n";
    return kExitFailed;
}

int Refused(Context& ctx, const char* command, int slot, const JobStatus& job) {
    ctx.err << "tavrikctl " << command << ": slot " << slot << ": "
            << (job.Finished() ? job.message : "the keyboard did not finish in time") << "\n";
    return kExitFailed;
}

}  // namespace tavrik::cli
