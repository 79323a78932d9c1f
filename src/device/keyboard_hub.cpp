#include "device/keyboard_hub.h"

#include <algorithm>
#include <cstdlib>
#include <stdexcept>
#include <thread>

#include "hid/device_table.h"
#include "log/log.h"

// The main window's log lines: attach and detach are its business.
#define TV_HUBLOG(...) ::tavrik::LogLinef("TavrikDlg", __LINE__, __VA_ARGS__)

namespace tavrik {

namespace {

std::array<NotifyTarget*, kHubSlots> Same(NotifyTarget& target) {
    return {&target, &target, &target, &target};
}

}  // namespace

KeyboardHub::KeyboardHub(std::unique_ptr<HidBackend> backend,
                         std::array<NotifyTarget*, kHubSlots> targets, HubOptions options)
    : backend_(std::move(backend)), options_(options) {
    const bool simulated = backend_->Simulated();
    const double scale = std::clamp(options_.simPauseScale, 0.0, 1.0);
    if (simulated) {
        // The simulated controller's restarts shrink with the sessions' pauses.
        backend_->SetPauseScale(scale);
    }
    for (int i = 0; i < kHubSlots; ++i) {
        const size_t at = Index(i);
        usb_[at] = std::make_unique<CCUSB>(*backend_, known_);
        usb_[at]->m_nDevIdx = i;
        usb_[at]->m_bLogOn = options_.verbose ? 1 : 0;
        dev_[at] = std::make_unique<CCCDev>(i, targets[at]);
        dev_[at]->SetVerbose(options_.verbose);
        if (simulated) {
            // Simulated keyboards may run on a faster clock (tests, demos).
            dev_[at]->Clock().SetPauseScale(scale);
            dev_[at]->Clock().SetReplySlack(
                std::chrono::milliseconds(std::clamp(options_.simReplySlackMs, 0, 5000)));
        }
    }
}

KeyboardHub::KeyboardHub(std::unique_ptr<HidBackend> backend, NotifyTarget& target,
                         HubOptions options)
    : KeyboardHub(std::move(backend), Same(target), options) {}

KeyboardHub::~KeyboardHub() {
    DetachAll();
}

size_t KeyboardHub::Index(int slot) {
    if (slot < 0 || slot >= kHubSlots) {
        throw std::out_of_range("keyboard slot outside 0..3");
    }
    return static_cast<size_t>(slot);
}

std::unique_ptr<DeviceMonitor> KeyboardHub::MakeMonitor(std::string* error) {
    return backend_->MakeMonitor(error);
}

bool KeyboardHub::IsAttached(int slot) const {
    return slot >= 0 && slot < kHubSlots && m_bSlotUsed[static_cast<size_t>(slot)] != 0;
}

bool KeyboardHub::Select(int slot) {
    if (!IsAttached(slot)) {
        return false;
    }
    m_nSelDev = slot;
    return true;
}

KeyboardRef KeyboardHub::Ref(int slot) const {
    if (!IsAttached(slot)) {
        return {};
    }
    return {slot, attachSerial_[static_cast<size_t>(slot)]};
}

bool KeyboardHub::Holds(const KeyboardRef& ref) const {
    return !ref.Empty() && IsAttached(ref.slot) &&
           attachSerial_[static_cast<size_t>(ref.slot)] == ref.serial;
}

CCCDev* KeyboardHub::Resolve(const KeyboardRef& ref) {
    return Holds(ref) ? &Session(ref.slot) : nullptr;
}

bool KeyboardHub::FindAndAttach(int slot, bool holdFailure) {
    CCUSB& usb = Transport(slot);
    const int found = usb.FindDevice();
    for (const auto& path : usb.DeniedPaths()) {
        if (std::find(denied_.begin(), denied_.end(), path) == denied_.end()) {
            denied_.push_back(path);
        }
    }
    if (found != 1) {
        return false;
    }
    if (usb.OpenReadWrite() != 1) {
        // A session without traffic would look attached and do nothing: leave the slot
        // free, so the keyboard's next arrival tries again.
        openFailures_.push_back({slot, usb.m_strPath});
        if (!holdFailure) {
            usb.CloseDevice();
        }
        return false;
    }
    StartSession(slot);
    return true;
}

void KeyboardHub::StartSession(int slot) {
    const size_t at = Index(slot);
    m_bSlotUsed[at] = 1;
    attachSerial_[at] = ++lastSerial_;
    CCCDev& dev = Session(slot);
    dev.SetTransport(&Transport(slot));
    dev.StartRx();
    dev.StartTx();
    if (options_.scanOnAttach) {
        dev.Pause(50);
        dev.RequestScan();
        dev.StartScanThread();
    }
    if (m_nDevCount == 0) {
        m_nSelDev = slot;
    }
    ++m_nDevCount;
}

int KeyboardHub::AttachPresent() {
    denied_.clear();
    openFailures_.clear();
    // A keyboard that is found but will not open must not hide the ones after it: its
    // slot keeps the claim on it until the search ends, so the next slot finds the next.
    std::vector<int> held;
    for (int i = 0; i < kHubSlots; ++i) {
        if (IsAttached(i)) {
            continue;
        }
        const size_t failures = openFailures_.size();
        if (FindAndAttach(i, true)) {
            TV_HUBLOG("Start Read/write thread");
            continue;
        }
        if (openFailures_.size() == failures) {
            break;  // no keyboard left to find
        }
        held.push_back(i);
    }
    for (const int i : held) {
        Transport(i).CloseDevice();
    }
    return m_nDevCount;
}

int KeyboardHub::OnArrival(const std::string& path) {
    if (m_nDevCount >= kHubSlots) {
        return -1;
    }
    TV_HUBLOG("DBT_DEVICEARRIVAL, arrival dev =%s", path.c_str());
    if (!IsOwnDevicePath(*backend_, path)) {
        TV_HUBLOG("Not Tavrik Dev, skip, %s", path.c_str());
        return -1;
    }
    // Its old slot when it comes back, else the first free one.
    int slot = -1;
    for (int i = 0; i < kHubSlots && slot < 0; ++i) {
        if (!IsAttached(i) && Transport(i).m_strPath == path) {
            slot = i;
        }
    }
    for (int i = 0; i < kHubSlots && slot < 0; ++i) {
        if (!IsAttached(i)) {
            slot = i;
        }
    }
    denied_.clear();
    openFailures_.clear();
    if (!FindAndAttach(slot)) {
        return -1;
    }
    TV_HUBLOG("Tavrik Dev Found");
    return slot;
}

int KeyboardHub::OnRemoval(const std::string& path) {
    TV_HUBLOG("DBT_DEVICEREMOVECOMPLETE, dev =%s", path.c_str());
    for (int i = 0; i < kHubSlots; ++i) {
        if (IsAttached(i) && Transport(i).m_strPath == path) {
            TV_HUBLOG("USB device change, Remove device %s", path.c_str());
            // The node is gone: the session need not wait for it while it closes.
            Transport(i).MarkGone();
            Detach(i);
            return i;
        }
    }
    return -1;
}

void KeyboardHub::Handle(const std::vector<DeviceEvent>& events) {
    for (const auto& e : events) {
        switch (e.change) {
            case DeviceChange::Arrived:
                OnArrival(e.path);
                break;
            case DeviceChange::Removed:
                OnRemoval(e.path);
                break;
            case DeviceChange::Changed:
                OnChanged(e.path);
                break;
        }
    }
}

// Read back what changed behind the host's back, as a scan the user asks for would.
void KeyboardHub::OnChanged(const std::string& path) {
    for (int i = 0; i < kHubSlots; ++i) {
        if (IsAttached(i) && Transport(i).m_strPath == path) {
            Session(i).RequestScan();
        }
    }
}

void KeyboardHub::Detach(int slot) {
    if (!IsAttached(slot)) {
        return;
    }
    Session(slot).Close();
    Transport(slot).CloseDevice();
    m_bSlotUsed[Index(slot)] = 0;
    --m_nDevCount;
    if (slot != m_nSelDev) {
        return;
    }
    m_nSelDev = 0;
    for (int i = 0; i < kHubSlots; ++i) {
        if (IsAttached(i)) {
            // The keyboard shown now: its summary again, and it learns the host shows it.
            m_nSelDev = i;
            Session(i).RefreshSummary();
            Session(i).SetHostActive(1);
            break;
        }
    }
}

void KeyboardHub::DetachAll() {
    // Each session says goodbye to its keyboard with pauses of its own: side by side, so
    // the program ends in the time of one rather than of all. Transports close afterwards,
    // on this thread, since they share the list of claimed devices.
    std::vector<std::thread> closing;
    for (int i = 0; i < kHubSlots; ++i) {
        if (IsAttached(i)) {
            closing.emplace_back([this, i] { Session(i).Close(); });
        }
    }
    for (std::thread& t : closing) {
        t.join();
    }
    for (int i = 0; i < kHubSlots; ++i) {
        if (IsAttached(i)) {
            Transport(i).CloseDevice();
            m_bSlotUsed[Index(i)] = 0;
        }
    }
    m_nDevCount = 0;
    m_nSelDev = 0;
}

}  // namespace tavrik
