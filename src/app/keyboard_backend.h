// Which keyboards a front end talks to: the real ones through hidapi, or the simulated
// keyboards of a file. The front end chooses and hands the backend to its KeyboardHub.
#pragma once

#include <filesystem>
#include <memory>
#include <string>
#include <string_view>

#include "hid/hid_backend.h"

namespace tavrik {

namespace sim {
class SimBackend;
enum class SimFileError;
}  // namespace sim

// The real keyboards. When hidapi is missing or cannot be set up, the backend finds
// nothing and its Unavailable() says why.
std::unique_ptr<HidBackend> RealBackend();

// What to tell a user whose backend can reach no keyboard (`reason`, from Unavailable()),
// in `language` (the text tables): the reason and what to install.
std::string UnreachableKeyboardsText(const std::string& reason, std::string_view language = "en");
// Simulated keyboards kept in `file`. When `create` and the file does not exist, it is
// made first with one keyboard to try things on. Null, with `error` and `failure`, on
// failure.
std::unique_ptr<sim::SimBackend> SimulatedBackend(const std::filesystem::path& file, bool create,
                                                  std::string* error,
                                                  sim::SimFileError* failure = nullptr);
// The file `--simulate` uses when none is named: in the data folder.
std::filesystem::path DefaultSimFile();
// TAVRIK_SIM_PAUSE_SCALE as a number 0..1; 1 when unset or not a number.
double SimPauseScaleFromEnv();
// TAVRIK_SIM_REPLY_SLACK_MS, 0..5000; 0 when unset or not a number.
int SimReplySlackFromEnv();

}  // namespace tavrik
