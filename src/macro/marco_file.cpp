#include "macro/marco_file.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <memory>
#include <string>
#include <system_error>

#if defined(__unix__) || defined(__APPLE__)
#include <unistd.h>
#endif

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

// A name beside the target that no other file has; "x" makes the open fail otherwise.
FilePtr CreateTempBeside(const fs::path& target, fs::path& tempPath) {
    static std::atomic<unsigned> counter{0};
    const auto seed = uint64_t(std::chrono::steady_clock::now().time_since_epoch().count());
    for (unsigned attempt = 0; attempt < 16; ++attempt) {
        const uint64_t tag = seed ^ (uint64_t(counter.fetch_add(1)) << 40) ^ attempt;
        std::string name = ".";
        name.append(target.filename().string()).append(".tmp");
        name.append(std::to_string(tag % 100000000));
        fs::path candidate = target;
        candidate.replace_filename(name);
        if (FilePtr f{std::fopen(candidate.string().c_str(), "wbx")}) {
            tempPath = candidate;
            return f;
        }
    }
    return nullptr;
}

bool FlushToDisk(std::FILE* f) {
    if (std::fflush(f) != 0) {
        return false;
    }
#if defined(__unix__) || defined(__APPLE__)
    // The rename must not reach the disk before the bytes it publishes.
    return ::fsync(::fileno(f)) == 0;
#else
    return true;
#endif
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
    // A version read partly from zero fill is no version.
    const bool valid =
        bytes.size() >= 8 && rec.magic == kMarcoMagic && rec.version == kMarcoVersion;
    result.status = valid ? MarcoFileStatus::Ok : MarcoFileStatus::InvalidData;
    return result;
}

MarcoFileStatus SaveMarcoFile(const fs::path& path, const MarcoRecord& record) {
    if (path.empty() || !path.has_filename()) {
        return MarcoFileStatus::CannotOpen;
    }
    std::error_code ec;
    // Saving through a link updates the file it points to, not the link.
    fs::path target = path;
    if (fs::is_symlink(path, ec)) {
        if (fs::path resolved = fs::canonical(path, ec); !ec) {
            target = resolved;
        }
    }

    fs::path tempPath;
    FilePtr f = CreateTempBeside(target, tempPath);
    if (!f) {
        return MarcoFileStatus::CannotOpen;
    }
    const MarcoFileBytes bytes = SerializeMarcoRecord(record);
    bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f.get()) == bytes.size();
    ok = ok && FlushToDisk(f.get());
    ok = (std::fclose(f.release()) == 0) && ok;
    if (ok) {
        // A replaced file keeps its permissions.
        const auto existing = fs::status(target, ec);
        if (!ec && fs::is_regular_file(existing)) {
            fs::permissions(tempPath, existing.permissions(), ec);
        }
        fs::rename(tempPath, target, ec);
        ok = !ec;
    }
    if (!ok) {
        fs::remove(tempPath, ec);
        return MarcoFileStatus::WriteError;
    }
    return MarcoFileStatus::Ok;
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
