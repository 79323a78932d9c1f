// Command-line step words ("tap:A:100 loop:3 ... endloop") through the word parser, then
// the checks and the encoding `macro make` runs on the list they give.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "fuzz_require.h"
#include "macro/marco_codec.h"
#include "macro/marco_step_words.h"
#include "macro/marco_validate.h"

namespace {

using tavrik::fuzz::Require;

using namespace tavrik;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) {
        return 0;
    }
    // The first two bytes pick the mode and the keyboard's step limit; the rest are words
    // separated by blanks, as a shell would hand them over.
    const auto mode = static_cast<MarcoMode>(data[0] % 6);
    const int limit = 1 + data[1] % kMarcoMaxSteps;
    const std::string_view text(reinterpret_cast<const char*>(data + 2), size - 2);

    MarcoSteps steps;
    size_t pos = 0;
    while (pos < text.size()) {
        const size_t end = std::min(text.find(' ', pos), text.size());
        const std::string_view word = text.substr(pos, end - pos);
        pos = end + 1;
        if (word.empty()) {
            continue;
        }
        const MarcoSteps before = steps;
        const std::string error = AppendMarcoStepWord(word, kMarcoDelayMin, steps);
        if (!error.empty()) {
            Require(steps == before);  // a refused word adds nothing
            continue;
        }
        Require(steps.Size() > before.Size() && steps.Size() <= before.Size() + 2);
        for (int i = before.Size(); i < steps.Size(); ++i) {
            Require(!IsMarcoListEnd(steps[i].flag));
            Require(steps[i].delay >= kMarcoDelayMin && steps[i].delay <= kMarcoDelayMax);
        }
    }
    if (!IsValidMarcoMode(mode)) {
        return 0;
    }
    const MarcoValidation check = ValidateMarco(mode, steps, limit);
    (void)MarcoProblemText(check.problem);
    const auto record = EncodeMarco(mode, steps, kMarcoDelayMin, limit);
    // What passes the checks can be written: `macro make` has no other answer for it.
    Require(!check.Ok() || record.has_value());
    if (check.Ok()) {
        const DecodedMarco back = DecodeMarco(record->entries, limit);
        Require(back.mode == mode);
        Require(mode == MarcoMode::Combination || back.steps == steps);
    }
    return 0;
}
