// What a controller firmware can do, by its version word (major x 256 + minor). Every
// decision that depends on the controller's firmware version asks one of these, so the
// thresholds live in one place.
#pragma once

namespace tavrik {

// Firmware up to 1.9 knows nothing of keyboard kinds: the host asks for its USB rate
// separately and keeps the kind and view it had.
constexpr bool PredatesKeyboardKinds(int version) {
    return version <= 265;
}

// The version reply carries the USB report rate and the standard module count (bytes 5, 6).
constexpr bool ReportsUsbRateInVersion(int version) {
    return version >= 265;
}

// Full-key rollover: reported in the version reply (mode bit 2) and taken by 0x44.
constexpr bool ReportsFullKeyRollover(int version) {
    return version >= 267;
}

// The flash layout variant (mode bits 3..4); from here on a firmware file carries a
// second controller image for the variant layout and is checked as a dual image.
constexpr bool ReportsFlashLayout(int version) {
    return version >= 276;
}

// After an upgrade of firmware older than this the keyboard must be plugged in again.
constexpr bool UpgradeNeedsReplug(int version) {
    return version < 296;
}

// The configured module count (byte 8): overload mode can be read back and set by 0x44.
constexpr bool ReportsModuleCount(int version) {
    return version >= 306;
}

// Whether a macro may loop by itself on a keyboard whose kind row says it loops only
// with new enough firmware.
constexpr bool FirmwareLoopsMarco(int version) {
    return version > 306;
}

}  // namespace tavrik
