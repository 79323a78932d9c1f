#include "macro/marco_file.h"

#include <algorithm>
#include <string>

#include "platform/atomic_file.h"
#include "platform/bounded_read.h"

namespace tavrik {
namespace {

namespace fs = std::filesystem;

constexpr size_t kEntriesOffset = 20;

void Put32(MarcoFileBytes& out, size_t at, uint32_t v) {
    for (size_t k = 0; k < 4; ++k) {
        out[at + k] = uint8_t(v >> (8 * k));
    }
}

// Reads little-endian values from an input of any length; bytes beyond it read as 0.
class ByteReader {
public:
    explicit ByteReader(std::span<const uint8_t> bytes)
        : bytes_(bytes.first(std::min(bytes.size(), kMarcoRecordSize))) {}

    uint8_t U8(size_t at) const { return at < bytes_.size() ? bytes_[at] : 0; }
    uint16_t U16(size_t at) const { return uint16_t(U8(at) | U8(at + 1) << 8); }
    uint32_t U32(size_t at) const { return uint32_t(U16(at)) | uint32_t(U16(at + 2)) << 16; }

private:
    std::span<const uint8_t> bytes_;
};

// Whether the entries present include an end mark: an entry whose flag byte is there
// and says End (or the keyboard's 0xFF), as the decoder reads it.
bool HoldsListEnd(std::span<const uint8_t> bytes) {
    for (size_t at = kEntriesOffset; at < bytes.size() && at < kMarcoRecordSize; at += 4) {
        if (IsMarcoListEnd(bytes[at])) {
            return true;
        }
    }
    return false;
}

}  // namespace

MarcoFileBytes SerializeMarcoRecord(const MarcoRecord& record) {
    MarcoFileBytes out{};
    Put32(out, 0, kMarcoMagic);
    Put32(out, 4, kMarcoVersion);
    Put32(out, 16, uint32_t(record.flag));
    for (size_t i = 0; i < record.entries.size(); ++i) {
        const MarcoEntry& e = record.entries[i];
        const size_t at = kEntriesOffset + 4 * i;
        out[at] = e.flag;
        out[at + 1] = e.kv;
        out[at + 2] = uint8_t(e.delay);
        out[at + 3] = uint8_t(e.delay >> 8);
    }
    return out;
}

MarcoFileResult ParseMarcoFileBytes(std::span<const uint8_t> bytes) {
    const ByteReader in(bytes);
    MarcoFileResult result;
    MarcoRecord& rec = result.record;
    rec.magic = in.U32(0);
    rec.version = in.U32(4);
    for (size_t k = 0; k < rec.reserved.size(); ++k) {
        rec.reserved[k] = in.U8(8 + k);
    }
    rec.flag = int32_t(in.U32(16));
    for (size_t i = 0; i < rec.entries.size(); ++i) {
        const size_t at = kEntriesOffset + 4 * i;
        rec.entries[i] = {in.U8(at), in.U8(at + 1), in.U16(at + 2)};
    }
    // A version read partly from zero fill is no version. A file we write always holds all
    // 280 bytes; a shorter one whose list stops before its End mark was cut off, and read
    // with zero fill it would end after steps that press keys and never release them.
    const bool valid = bytes.size() >= 8 && rec.magic == kMarcoMagic &&
                       rec.version == kMarcoVersion &&
                       (bytes.size() >= kMarcoRecordSize || HoldsListEnd(bytes));
    result.status = valid ? MarcoFileStatus::Ok : MarcoFileStatus::InvalidData;
    return result;
}

MarcoFileStatus SaveMarcoFile(const fs::path& path, const MarcoRecord& record) {
    FileWriteFailure failure = FileWriteFailure::None;
    const MarcoFileBytes bytes = SerializeMarcoRecord(record);
    if (WriteFileAtomically(path, {reinterpret_cast<const char*>(bytes.data()), bytes.size()},
                            nullptr, &failure)) {
        return MarcoFileStatus::Ok;
    }
    return failure == FileWriteFailure::CannotCreate ? MarcoFileStatus::CannotOpen
                                                     : MarcoFileStatus::WriteError;
}

MarcoFileResult LoadMarcoFile(const fs::path& path) {
    // A longer file is read as its first 280 bytes; the rest is never read.
    const BoundedRead read = ReadBoundedFile(path, kMarcoRecordSize, BeyondLimit::Ignore);
    if (!read.Ok()) {
        MarcoFileResult result;
        result.status = read.failure == ReadFailure::CannotRead ? MarcoFileStatus::ReadError
                                                                : MarcoFileStatus::CannotOpen;
        result.error = read.error;
        return result;
    }
    return ParseMarcoFileBytes(
        {reinterpret_cast<const uint8_t*>(read.bytes.data()), read.bytes.size()});
}

}  // namespace tavrik
