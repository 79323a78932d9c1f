// Macro files (".tvm", ".macro"): one MarcoRecord of 280 bytes, little-endian, the macro
// in the encoded form the keyboard receives so that its mode travels with it.
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <string_view>

#include "macro/marco.h"

namespace tavrik {

// Shown, untranslated, when a file is not a macro file.
inline constexpr std::string_view kMarcoFileInvalidText =
    "The file has not valid Macro data, you may use wrong file or the file is corrupted";

enum class MarcoFileStatus {
    Ok,
    CannotOpen,  // load: missing, not a regular file or not ours to open; save: no file
                 // can be created there
    ReadError,
    WriteError,   // save: writing, flushing or replacing the file failed; nothing was changed
    InvalidData,  // wrong magic or version, or cut off before the End of its list
};

struct MarcoFileResult {
    MarcoFileStatus status = MarcoFileStatus::CannotOpen;
    MarcoRecord record;  // as read, also when the head is refused
    std::string error;   // load: why the file could not be read, naming it
};

using MarcoFileBytes = std::array<uint8_t, kMarcoRecordSize>;

// The file image of a record. The head is always the file's own (magic, version 1,
// reserved zero) so that what is written can be read back; flag and entries come from
// the record.
MarcoFileBytes SerializeMarcoRecord(const MarcoRecord& record);

// Reads the first 280 bytes into a zeroed record: a shorter input leaves the rest zero,
// a longer one is cut. Ok, or InvalidData when magic or version is wrong or missing, or
// when a shorter input ends before an End entry (it was cut off inside the macro).
MarcoFileResult ParseMarcoFileBytes(std::span<const uint8_t> bytes);

// Creates or replaces `path` with exactly 280 bytes. The bytes go to a temporary file in
// the same folder first, which then replaces the target, so a failure never leaves a
// partial file behind and never damages the file that was there.
MarcoFileStatus SaveMarcoFile(const std::filesystem::path& path, const MarcoRecord& record);

MarcoFileResult LoadMarcoFile(const std::filesystem::path& path);

}  // namespace tavrik
