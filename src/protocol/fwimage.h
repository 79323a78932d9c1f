// Firmware image files: one file carries the controller image, the key module image and
// a controller variant image, stored scrambled and optionally behind a wrapper. These
// checks run before an upgrade and leave the buffer as the upgrade engine sends it.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace tavrik {

inline constexpr size_t kFwBufferSize = 0x24000;  // 147456
using FirmwareBuffer = std::array<uint8_t, kFwBufferSize>;

// Regions of the plain image.
inline constexpr size_t kFwKbmcOffset = 0x00000;
inline constexpr size_t kFwKbmcSize = 0xE000;
inline constexpr size_t kFwKeyOffset = 0x0E000;
inline constexpr size_t kFwKeySize = 7168;
inline constexpr size_t kFwKeyAppOffset = 0x0EA00;  // key image bytes 2560..7167
inline constexpr size_t kFwKeyAppSize = 4608;
inline constexpr size_t kFwKbmcVariantOffset = 0x10000;
inline constexpr size_t kFwWrapperSkip = 4094;

// Check results.
inline constexpr int kFwImageOk = 1;
inline constexpr int kFwImageBadKbmcSum = -1;
inline constexpr int kFwImageBadKeySum = -3;

// A checked image as an upgrade sends it. Shared and never changed once made, so each
// upgrade keeps the image it was started with, whatever else is loaded meanwhile.
using FirmwareImage = FirmwareBuffer;
using FirmwareImagePtr = std::shared_ptr<const FirmwareImage>;

bool HasFirmwareWrapper(const FirmwareBuffer& buf);
// Moves the image proper to the front and clears the bytes it leaves behind.
void RemoveFirmwareWrapper(FirmwareBuffer& buf);
// Scrambling and descrambling are the same operation.
void ScrambleFirmware(FirmwareBuffer& buf);
// Sets bytes 2 and 3 of the 73 vector entries of the controller image at `imageOffset`.
void PatchFirmwareVectors(FirmwareBuffer& buf, size_t imageOffset, uint8_t bank);
uint8_t FirmwareSum(const FirmwareBuffer& buf, size_t offset, size_t size);

// Both checks leave the buffer scrambled again, with the vectors patched, whatever
// the result: 1 accepted, -1 controller image sum wrong, -3 key module image sum wrong.
int CheckSingleImage(FirmwareBuffer& buf);
int CheckDualImage(FirmwareBuffer& buf);

// Which check a controller gets, from the GetKbmcStageVer answer
// (stage * 65536 + version, negative when there was no answer).
struct FirmwareCheckPlan {
    bool dual = false;
    bool bigChange = true;  // tell the user to re-plug after a controller upgrade
};
FirmwareCheckPlan PlanFirmwareCheck(int stageVer);

// Keyboards of kind 3 take only files whose path carries their marker.
bool FirmwarePathAllowed(int keyboardKind, std::string_view path);

enum class FirmwareLoadResult { Ok, CannotOpen, TooLarge, ReadError };
// Clears the buffer, then reads the whole file into it; a file over the buffer size is
// refused before anything is read, and so is anything but a regular file. `error` names
// the file and says why it was refused.
FirmwareLoadResult LoadFirmwareFile(const std::string& path, FirmwareBuffer& buf,
                                    size_t* length = nullptr, std::string* error = nullptr);

}  // namespace tavrik
