#include "hid/ccusb.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <new>
#include <thread>
#include <utility>

#include "hid/device_table.h"
#include "log/log.h"

namespace tavrik {

namespace {

constexpr const char* kSrc = "CCUSB";
// A failed open is often a node udev is still setting up; give it a moment.
constexpr auto kOpenRetryPause = std::chrono::milliseconds(20);

}  // namespace

CCUSB::CCUSB(HidBackend& backend, KnownDevices& known) : backend_(backend), known_(known) {}

CCUSB::~CCUSB() {
    ReleaseClaim(true);
}

void CCUSB::ReleaseClaim(bool log) {
    if (claimIdx_ < 0) {
        return;
    }
    if (known_.Release(claimIdx_, claimedPath_) && log) {
        TV_DEVLOG_V(m_bLogOn, kSrc, m_nDevIdx, "Set %d to blank device", claimIdx_);
    }
    claimIdx_ = -1;
    claimedPath_.clear();
}

int CCUSB::FindDevice() {
    // Handles still open here would otherwise leak.
    m_hRead.reset();
    m_hWrite.reset();
    TV_DEVLOG_V(m_bLogOn, kSrc, m_nDevIdx, "Start to search HID devices");

    int newIdx = -1;
    std::string newPath;
    int vid = 0;
    int pid = 0;
    int ver = 0;
    try {
        std::vector<std::string> denied;
        const std::vector<HidDeviceInfo> devices = backend_.Enumerate();
        for (size_t i = 0;; ++i) {
            if (i >= devices.size()) {
                TV_DEVLOG_V(m_bLogOn, kSrc, m_nDevIdx, "No more devices, return");
                break;
            }
            const HidDeviceInfo& info = devices[i];
            m_strPath = info.path;
            if (info.path.empty()) {
                TV_DEVLOG_V(m_bLogOn, kSrc, m_nDevIdx, "Continue to scan next dev");
                continue;
            }
            const int row = MatchDeviceTable(info.vendorId, info.productId, info.release);
            if (row < 0) {
                TV_DEVLOG_V(m_bLogOn, kSrc, m_nDevIdx,
                            "Not CC dev, continue. VID=0x%04x, PID=0x%04x, PVN=0x%04x\n",
                            unsigned{info.vendorId}, unsigned{info.productId},
                            unsigned{info.release});
                continue;
            }
            TV_DEVLOG_V(m_bLogOn, kSrc, m_nDevIdx,
                        "Found Device,VID=0x%04x, PID=0x%04x, PVN=0x%04x\n",
                        unsigned{info.vendorId}, unsigned{info.productId}, unsigned{info.release});
            TV_DEVLOG_V(m_bLogOn, kSrc, m_nDevIdx, "%s", info.path.c_str());
            if (!MatchRowPath(row, info)) {
                TV_DEVLOG_V(m_bLogOn, kSrc, m_nDevIdx, "Not Tavrik Ctrl Dev, skip, %s",
                            info.path.c_str());
                continue;
            }
            HidOpenError err = HidOpenError::None;
            if (std::unique_ptr<HidHandle> probe = backend_.Open(info.path, &err); !probe) {
                TV_DEVLOG_V(m_bLogOn, kSrc, m_nDevIdx,
                            "Open device with read fail, maybe this is HID device, continue");
                if (err == HidOpenError::PermissionDenied) {
                    denied.push_back(info.path);
                    TV_DEVLOG(kSrc, m_nDevIdx, "Cannot open %s: permission denied",
                              info.path.c_str());
                }
                continue;
            }
            TV_DEVLOG_V(m_bLogOn, kSrc, m_nDevIdx, "Open device with read succeed\n");

            newPath = info.path;  // copied before claiming, so nothing below can fail
            const int idx = known_.Claim(newPath);
            if (idx == KnownDevices::kAlreadyKnown) {
                TV_DEVLOG_V(m_bLogOn, kSrc, m_nDevIdx, "Device %s already in known list, skip",
                            info.path.c_str());
                m_strPath = KnownDevices::kNoDevice;
                continue;
            }
            if (idx < 0) {
                // Every entry is taken; no later interface can be claimed either.
                TV_DEVLOG(kSrc, m_nDevIdx, "Known device list full, skip %s", info.path.c_str());
                break;
            }
            TV_DEVLOG_V(m_bLogOn, kSrc, m_nDevIdx, "Set %d to known device", idx);
            newIdx = idx;
            vid = info.vendorId;
            pid = info.productId;
            ver = info.release;
            break;
        }
        m_deniedPaths = std::move(denied);
    } catch (const std::bad_alloc&) {
        TV_DEVLOG(kSrc, m_nDevIdx, "Allocate memory fail");
        return -2;
    }

    // One claim per transport: a search made while holding one skipped that path as
    // taken, and now gives it up whatever the outcome.
    ReleaseClaim(false);
    m_bGone = false;
    if (newIdx >= 0) {
        claimIdx_ = newIdx;
        claimedPath_.swap(newPath);
        m_nVid = vid;
        m_nPid = pid;
        m_nVer = ver;
        DevFound = 1;
        TV_DEVLOG_V(m_bLogOn, kSrc, m_nDevIdx, "Device found, Return TRUE");
        return 1;
    }
    m_nVid = m_nPid = m_nVer = 0;
    DevFound = 0;
    TV_DEVLOG_V(m_bLogOn, kSrc, m_nDevIdx, "Device not found, Return FALSE");
    return 0;
}

int CCUSB::OpenReadWrite() {
    if (DevFound == 0 || claimIdx_ < 0) {
        return 0;
    }
    m_hRead.reset();
    m_hWrite.reset();
    TV_DEVLOG_V(m_bLogOn, kSrc, m_nDevIdx, "Open For Read and Write");
    TV_DEVLOG_V(m_bLogOn, kSrc, m_nDevIdx, "%s", claimedPath_.c_str());

    for (int attempt = 1; attempt <= kOpenAttempts; ++attempt) {
        HidOpenError err = HidOpenError::None;
        m_hRead = backend_.Open(claimedPath_, &err);
        if (m_hRead) {
            break;
        }
        TV_DEVLOG(kSrc, m_nDevIdx, "Open device with read fail, continue, read handle=%d", -1);
        if (attempt < kOpenAttempts) {
            std::this_thread::sleep_for(kOpenRetryPause);
        }
    }
    if (!m_hRead) {
        return 0;
    }
    TV_DEVLOG_V(m_bLogOn, kSrc, m_nDevIdx, "Open device with read succeed\n");

    HidOpenError err = HidOpenError::None;
    m_hWrite = backend_.Open(claimedPath_, &err);
    if (!m_hWrite) {
        TV_DEVLOG(kSrc, m_nDevIdx, "Open device with write fail, continue");
        m_hRead.reset();
        return 0;
    }
    TV_DEVLOG_V(m_bLogOn, kSrc, m_nDevIdx, "Open device with write succeed\n");

    m_szProduct = m_hRead->ProductString();
    TV_DEVLOG_V(m_bLogOn, kSrc, m_nDevIdx, "ProductString: %s, Len=%d", m_szProduct.c_str(),
                kStrLen);
    m_szSerial = m_hRead->SerialString();
    TV_DEVLOG_V(m_bLogOn, kSrc, m_nDevIdx, "Serial Num: %s, Len=%d", m_szSerial.c_str(), kStrLen);
    m_bGone = false;
    return 1;
}

void CCUSB::CloseDevice() {
    m_hRead.reset();
    m_hWrite.reset();
    DevFound = 0;
    m_nVid = m_nPid = m_nVer = 0;
    m_szProduct.clear();
    m_szSerial.clear();
    m_bGone = false;
    ReleaseClaim(false);
}

bool CCUSB::StillEnumerated() {
    if (claimedPath_.empty()) {
        return false;
    }
    try {
        for (const HidDeviceInfo& info : backend_.Enumerate()) {
            if (info.path == claimedPath_) {
                return true;
            }
        }
    } catch (const std::bad_alloc&) {
        // Cannot tell: the failed transfer decides.
    }
    return false;
}

int CCUSB::ReadReport(uint8_t* payload, size_t size, int timeoutMs) {
    if (!m_hRead) {
        return -1;
    }
    if (payload == nullptr || size == 0) {
        return 0;
    }
    // A negative timeout would mean "forever" to the backend; the receive thread must
    // come back to see its stop flag.
    const int n = m_hRead->Read(m_InReport.data(), m_InReport.size(), std::max(timeoutMs, 0));
    if (n < 0) {
        // One failed read of a keyboard that is still there is not its removal.
        if (!StillEnumerated()) {
            m_bGone = true;
        } else {
            TV_DEVLOG_V(m_bLogOn, kSrc, m_nDevIdx, "Read file fail, device still present");
        }
        return -1;
    }
    if (n == 0) {
        return 0;
    }
    // The backend's count is not trusted beyond our buffer or the caller's.
    const size_t got = std::min({static_cast<size_t>(n), m_InReport.size(), size});
    std::memcpy(payload, m_InReport.data(), got);
    return static_cast<int>(got);
}

int CCUSB::WriteReport(const uint8_t* cmd, int len) {
    if (len < 0 || static_cast<size_t>(len) > kPayloadSize || (cmd == nullptr && len > 0)) {
        return 0;
    }
    if (!m_hWrite) {
        return 0;
    }
    m_OutReport[0] = 0;
    if (len > 0) {
        std::memcpy(m_OutReport.data() + 1, cmd, static_cast<size_t>(len));
    }
    // Stale bytes of an earlier command must not reach the controller.
    std::fill(m_OutReport.begin() + 1 + len, m_OutReport.end(), uint8_t{0});

    const int n = m_hWrite->Write(m_OutReport.data(), m_OutReport.size());
    if (n > 0) {
        return 1;
    }
    switch (n < 0 ? m_hWrite->LastWriteError() : HidWriteError::Other) {
        case HidWriteError::NotSupported:
            TV_DEVLOG(kSrc, m_nDevIdx, "This device doesn't support Write file");
            break;
        case HidWriteError::Gone:
            // A handle that cannot tell says gone; the device list has the last word.
            if (!StillEnumerated()) {
                m_bGone = true;
                TV_DEVLOG_V(m_bLogOn, kSrc, m_nDevIdx, "Write file fail, device gone");
            } else {
                TV_DEVLOG_V(m_bLogOn, kSrc, m_nDevIdx, "Write file fail");
            }
            break;
        case HidWriteError::Other:
            TV_DEVLOG_V(m_bLogOn, kSrc, m_nDevIdx, "Write file fail");
            break;
    }
    return 0;
}

}  // namespace tavrik
