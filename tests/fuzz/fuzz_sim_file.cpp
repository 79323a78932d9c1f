// Simulator file text through parsing, writing and parsing again, and through the
// three-way merge that two programs sharing the file rely on.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "fuzz_require.h"
#include "sim/sim_file.h"
#include "sim/sim_keyboard.h"
#include "sim/sim_merge.h"

namespace {

using tavrik::fuzz::Require;

using namespace tavrik::sim;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    std::string error;
    const auto parsed = ParseSimFile(text, &error);
    Require(parsed.has_value() == error.empty());
    if (!parsed) {
        return 0;
    }
    Require(parsed->size() <= size_t(kSimMaxKeyboards));

    // What is read is written and read again unchanged.
    const auto again = ParseSimFile(FormatSimFile(*parsed));
    Require(again.has_value() && *again == *parsed);

    // A side that changed nothing gives way to the other; both unchanged is the base.
    const SimFileSlots slots = ToSlots(*parsed);
    auto byIndex = *parsed;
    std::sort(byIndex.begin(), byIndex.end(),
              [](const auto& a, const auto& b) { return a.index < b.index; });
    Require(FromSlots(slots) == byIndex);
    for (const SimFileSlot& s : slots) {
        const SimFileSlot none;
        Require(MergeSimKeyboard(s, s, s) == s);
        Require(MergeSimKeyboard(none, none, s) == s);
        Require(MergeSimKeyboard(s, s, none) == none);
    }

    // Every keyboard read can be plugged in and answers as one.
    for (const SimFileKeyboard& k : *parsed) {
        SimKeyboard keyboard(k.state);
        Require(keyboard.State().modules == k.state.modules);
    }
    return 0;
}
