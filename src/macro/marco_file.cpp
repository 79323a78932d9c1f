#include "macro/marco_file.h"

#include <algorithm>
#include <cstdio>
#include <memory>
#include <string>
#include <system_error>

#include "platform/atomic_file.h"

namespace tavrik {
namespace {

namespace fs = std::filesystem;

constexpr size_t kEntriesOffset = 20;

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

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
    // A version read partly from zero fill is no version.
    const bool valid =
        bytes.size() >= 8 && rec.magic == kMarcoMagic && rec.version == kMarcoVersion;
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
    MarcoFileResult result;
    FilePtr f{std::fopen(path.string().c_str(), "rb")};
    if (!f) {
        result.status = MarcoFileStatus::CannotOpen;
        return result;
    }
    MarcoFileBytes bytes{};
    const size_t got = std::fread(bytes.data(), 1, bytes.size(), f.get());
    if (std::ferror(f.get())) {
        result.status = MarcoFileStatus::ReadError;
        return result;
    }
    return ParseMarcoFileBytes(std::span(bytes).first(got));
}

}  // namespace tavrik
