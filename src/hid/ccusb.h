// The transport of one keyboard slot: finds the keyboard's vendor HID interface, claims
// it in the shared known-device list, opens it and moves 65-byte reports through it.
#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "hid/hid_backend.h"
#include "hid/known_devices.h"

namespace tavrik {

class CCUSB {
public:
    static constexpr size_t kReportSize = 65;  // report ID 0 and 64 payload bytes
    static constexpr size_t kPayloadSize = 64;
    static constexpr int kOpenAttempts = 4;

    CCUSB(HidBackend& backend, KnownDevices& known);
    ~CCUSB();
    CCUSB(const CCUSB&) = delete;
    CCUSB& operator=(const CCUSB&) = delete;

    // Searches for a table interface no other transport holds and claims it.
    // 1 found, 0 not found, -2 out of memory (state unchanged).
    int FindDevice();
    int IsDevFound() const { return DevFound.load(); }
    // Opens the found interface twice (read, write) and reads its strings. 1 / 0.
    int OpenReadWrite();
    // Closes both handles and releases the claim. Only once the reading and writing
    // threads have stopped.
    void CloseDevice();

    // Receive thread only. Payload bytes delivered (at most `size`), 0 when nothing came
    // within `timeoutMs`, -1 when the read failed or the transport is closed (IsGone
    // tells whether the device went with it). The caller's buffer is untouched unless
    // bytes are delivered.
    int ReadReport(uint8_t* payload, size_t size = kPayloadSize, int timeoutMs = 100);
    // Sending thread only. Sends report ID 0, the `len` command bytes and zeros up to 65
    // bytes. 1 written, 0 failed or refused (len outside 0..64).
    int WriteReport(const uint8_t* cmd, int len);

    // A read or write failed and the device no longer enumerates, or the hot-plug
    // monitor said it left; callers stop waiting for it. A failed transfer of a device
    // that is still listed is not its removal.
    bool IsGone() const { return m_bGone.load(); }
    void MarkGone() { m_bGone = true; }
    // Table interfaces the last FindDevice could not open for lack of permission.
    std::vector<std::string> DeniedPaths() const { return m_deniedPaths; }

    int m_nDevIdx = 0;             // slot 0..3, prefix of every log line
    std::atomic<int> m_bLogOn{0};  // verbose log lines
    std::string m_strPath;         // interface in use, or the one last examined
    std::string m_szProduct;       // product string of the opened device (UTF-8)
    std::string m_szSerial;        // serial number string of the opened device (UTF-8)
    std::atomic<int> DevFound{0};
    int m_nVid = 0;
    int m_nPid = 0;
    int m_nVer = 0;

private:
    static constexpr int kStrLen = 256;  // size the strings were asked with, for the log

    void ReleaseClaim(bool log);
    // The claimed interface is still among the backend's devices.
    bool StillEnumerated();

    HidBackend& backend_;
    KnownDevices& known_;
    int claimIdx_ = -1;  // entry of `known_` this transport holds
    std::string claimedPath_;
    std::vector<std::string> m_deniedPaths;
    std::unique_ptr<HidHandle> m_hRead;
    std::unique_ptr<HidHandle> m_hWrite;
    std::array<uint8_t, kPayloadSize> m_InReport{};
    std::array<uint8_t, kReportSize> m_OutReport{};
    std::atomic<bool> m_bGone{false};
};

}  // namespace tavrik
