// Macro file bytes through parsing, decoding at several step limits and encoding again.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <span>

#include "fuzz_require.h"
#include "macro/marco_codec.h"
#include "macro/marco_file.h"
#include "macro/marco_text.h"
#include "macro/marco_validate.h"

namespace {

using tavrik::fuzz::Require;

using namespace tavrik;

void Exercise(const DecodedMarco& d, int limit) {
    const int bound = std::clamp(limit, 0, kMarcoMaxSteps);
    Require(d.steps.Size() <= bound);
    Require(d.steps.Entries()[size_t(d.steps.Size())] == MarcoEntry{});
    for (const MarcoEntry& e : d.steps.Steps()) {
        Require(!IsMarcoListEnd(e.flag));
        (void)MarcoStepText(e);
    }
    for (int p = 0; p <= d.steps.Size(); ++p) {
        if (auto dist = MarcoLoopEndDistance(d.steps, p)) {
            Require(*dist >= 2 && *dist <= p);
        }
        (void)MarcoCanInsertLoopStart(d.steps, p);
    }

    const auto valid = ValidateMarco(d.mode, d.steps, limit);
    (void)MarcoProblemText(valid.problem);
    const auto rec = EncodeMarco(d.mode, d.steps, 10, limit);
    Require(rec.has_value() ==
            (CheckMarcoBeforeEncoding(d.mode, d.steps, limit) == MarcoCheck::Ok));
    Require(!valid.Ok() || rec.has_value());
    if (!rec) {
        return;
    }
    Require(rec->entries[size_t(MarcoEncodedLength(d.mode, d.steps))] == MarcoEntry{});
    // A list that passes validation comes back as it went out. (Markers out of place in
    // an arbitrary list may read differently once encoded, so only valid lists count.)
    if (!valid.Ok()) {
        return;
    }
    const auto back = DecodeMarco(rec->entries, limit);
    Require(back.mode == d.mode);
    Require(d.mode == MarcoMode::Combination || back.steps == d.steps);
    const auto again = EncodeMarco(back.mode, back.steps, 10, limit);
    Require(again.has_value() && again->entries == rec->entries);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::span<const uint8_t> bytes(data, size);
    const auto parsed = ParseMarcoFileBytes(bytes);
    Require(parsed.status == MarcoFileStatus::Ok || parsed.status == MarcoFileStatus::InvalidData);

    // Writing gives back the bytes read, the reserved ones zeroed.
    const auto out = SerializeMarcoRecord(parsed.record);
    if (parsed.status == MarcoFileStatus::Ok) {
        for (size_t i = 0; i < out.size(); ++i) {
            const uint8_t in = (i >= 8 && i < 16) || i >= size ? 0 : data[i];
            Require(out[i] == in);
        }
    }

    for (int limit : {-1, 0, 1, 2, 3, 24, 61, 64, 65, 1000}) {
        Exercise(DecodeMarco(parsed.record.entries, limit), limit);
    }
    // Entries every reader takes encode back to themselves: what a key is sent is what the
    // check saw.
    for (int limit : {24, 64}) {
        const auto check = CheckMarcoEntries(parsed.record.entries, limit);
        (void)MarcoValidationText(check);
        if (check.Ok()) {
            const auto again = EncodeMarco(check.macro.mode, check.macro.steps, 10, limit);
            Require(again.has_value());
            const size_t length = size_t(MarcoEncodedLength(check.macro.mode, check.macro.steps));
            for (size_t i = 0; i < length; ++i) {
                Require(again->entries[i].flag == parsed.record.entries[i].flag);
                Require(again->entries[i].kv == parsed.record.entries[i].kv);
                Require(parsed.record.entries[i].delay <= kMarcoPauseMax);
            }
            Require(IsMarcoListEnd(parsed.record.entries[length].flag));
        }
    }
    // A short span as well, as the session might hand over part of a list.
    const size_t part = size % kMarcoEntryCount;
    Exercise(DecodeMarco(std::span(parsed.record.entries).first(part), 64), 64);
    return 0;
}
