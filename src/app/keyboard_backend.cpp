#include "app/keyboard_backend.h"

#include <algorithm>
#include <cstdlib>

#include "app/paths.h"
#include "app/texts.h"
#include "hid/hidapi_backend.h"
#include "sim/sim_backend.h"
#include "sim/sim_init.h"

namespace tavrik {

std::unique_ptr<HidBackend> RealBackend() {
    return std::make_unique<HidapiBackend>();
}

std::string UnreachableKeyboardsText(const std::string& reason, std::string_view language) {
    return FillTexts(GetPromptText("unreachableHidapi", language),
                     {reason, "sudo apt install libhidapi-hidraw0"});
}

std::unique_ptr<sim::SimBackend> SimulatedBackend(const std::filesystem::path& file, bool create,
                                                  std::string* error, sim::SimFileError* failure) {
    auto backend = std::make_unique<sim::SimBackend>();
    sim::SimFileError result = sim::SimFileError::None;
    std::error_code ec;
    if (create && !std::filesystem::exists(file, ec)) {
        // First use: a keyboard to try things on.
        if (file.has_parent_path()) {
            std::filesystem::create_directories(file.parent_path(), ec);
        }
        backend->Attach(0, *sim::MakeInitialState(60, 2, 1, 40, 1));
        result = backend->SaveSimFile(file, error);
    }
    if (result == sim::SimFileError::None) {
        result = backend->LoadSimFile(file, error);
    }
    if (failure != nullptr) {
        *failure = result;
    }
    return result == sim::SimFileError::None ? std::move(backend) : nullptr;
}

std::filesystem::path DefaultSimFile() {
    return DataFolder() / kSimFileName;
}

double SimPauseScaleFromEnv() {
    const char* text = std::getenv("TAVRIK_SIM_PAUSE_SCALE");
    if (text == nullptr || *text == '\0') {
        return 1.0;
    }
    char* end = nullptr;
    const double scale = std::strtod(text, &end);
    if (*end != '\0' || !(scale >= 0.0)) {
        return 1.0;
    }
    return std::min(scale, 1.0);
}

int SimReplySlackFromEnv() {
    const char* text = std::getenv("TAVRIK_SIM_REPLY_SLACK_MS");
    if (text == nullptr || *text == '\0') {
        return 0;
    }
    char* end = nullptr;
    const long ms = std::strtol(text, &end, 10);
    return *end != '\0' ? 0 : static_cast<int>(std::clamp(ms, 0L, 5000L));
}

}  // namespace tavrik
