#include "protocol/fwimage.h"

#include <algorithm>
#include <cstring>

#include "platform/bounded_read.h"
#include "protocol/firmware_features.h"

namespace tavrik {

namespace {

constexpr uint8_t kWrapperHead[16] = {0x50, 0x4B, 0x03, 0x04, 0x14, 0x00, 0x00, 0x00,
                                      0x08, 0x00, 0x22, 0x91, 0x2E, 0x4D, 0x7D, 0x7B};
constexpr size_t kVectorCount = 73;

// Shared head of both checks: plain image, controller image patched and summed.
int PrepareAndCheckKbmc(FirmwareBuffer& buf) {
    if (HasFirmwareWrapper(buf)) {
        RemoveFirmwareWrapper(buf);
    }
    ScrambleFirmware(buf);
    PatchFirmwareVectors(buf, kFwKbmcOffset, 0x01);
    return FirmwareSum(buf, kFwKbmcOffset, kFwKbmcSize) == 0xFF ? kFwImageOk : kFwImageBadKbmcSum;
}

int CheckKeyImage(const FirmwareBuffer& buf) {
    return FirmwareSum(buf, kFwKeyAppOffset, kFwKeyAppSize) == 0xFF ? kFwImageOk
                                                                    : kFwImageBadKeySum;
}

}  // namespace

bool HasFirmwareWrapper(const FirmwareBuffer& buf) {
    return std::equal(std::begin(kWrapperHead), std::end(kWrapperHead), buf.begin());
}

void RemoveFirmwareWrapper(FirmwareBuffer& buf) {
    std::memmove(buf.data(), buf.data() + kFwWrapperSkip, kFwBufferSize - kFwWrapperSkip);
    std::fill(buf.end() - kFwWrapperSkip, buf.end(), uint8_t{0});
}

void ScrambleFirmware(FirmwareBuffer& buf) {
    for (size_t i = 0; i < buf.size(); ++i) {
        buf[i] ^= static_cast<uint8_t>(1u << (i % 8));
    }
}

void PatchFirmwareVectors(FirmwareBuffer& buf, size_t imageOffset, uint8_t bank) {
    for (size_t k = 1; k <= kVectorCount; ++k) {
        const size_t at = imageOffset + 4 * k;
        buf[at + 2] = bank;
        buf[at + 3] = 0x08;
    }
}

uint8_t FirmwareSum(const FirmwareBuffer& buf, size_t offset, size_t size) {
    unsigned sum = 0;
    for (size_t i = offset; i < offset + size && i < buf.size(); ++i) {
        sum += buf[i];
    }
    return static_cast<uint8_t>(sum);
}

int CheckSingleImage(FirmwareBuffer& buf) {
    int result = PrepareAndCheckKbmc(buf);
    if (result == kFwImageOk) {
        result = CheckKeyImage(buf);
    }
    ScrambleFirmware(buf);
    return result;
}

int CheckDualImage(FirmwareBuffer& buf) {
    int result = PrepareAndCheckKbmc(buf);
    if (result == kFwImageOk) {
        PatchFirmwareVectors(buf, kFwKbmcVariantOffset, 0x02);
        result = FirmwareSum(buf, kFwKbmcVariantOffset, kFwKbmcSize) == 0xFF ? CheckKeyImage(buf)
                                                                             : kFwImageBadKbmcSum;
    }
    ScrambleFirmware(buf);
    return result;
}

FirmwareCheckPlan PlanFirmwareCheck(int stageVer) {
    FirmwareCheckPlan plan;
    if (stageVer < 0) {
        return plan;
    }
    const int stage = stageVer >> 16;
    const int version = stageVer & 0xFFFF;
    if (stage == 'A' && ReportsFlashLayout(version)) {
        plan.dual = true;
        plan.bigChange = UpgradeNeedsReplug(version);
    }
    return plan;
}

bool FirmwarePathAllowed(int keyboardKind, std::string_view path) {
    return keyboardKind != 3 || path.find("ZPN31") != std::string_view::npos;
}

FirmwareLoadResult LoadFirmwareFile(const std::string& path, FirmwareBuffer& buf, size_t* length,
                                    std::string* error) {
    buf.fill(0);
    const BoundedRead read = ReadBoundedFile(path, kFwBufferSize);
    if (error != nullptr) {
        *error = read.error;
    }
    switch (read.failure) {
        case ReadFailure::None:
            break;
        case ReadFailure::TooLarge:
            return FirmwareLoadResult::TooLarge;
        case ReadFailure::CannotRead:
            return FirmwareLoadResult::ReadError;
        default:
            return FirmwareLoadResult::CannotOpen;
    }
    std::copy(read.bytes.begin(), read.bytes.end(), buf.begin());
    if (length != nullptr) {
        *length = read.bytes.size();
    }
    return FirmwareLoadResult::Ok;
}

}  // namespace tavrik
