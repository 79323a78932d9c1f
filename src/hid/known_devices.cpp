#include "hid/known_devices.h"

namespace tavrik {

KnownDevices::KnownDevices() {
    entries_.fill(std::string(kNoDevice));
}

int KnownDevices::Claim(std::string_view path) {
    if (path.empty() || path == kNoDevice) {
        return kInvalidPath;
    }
    std::lock_guard lock(mutex_);
    int free = -1;
    for (size_t i = 0; i < entries_.size(); ++i) {
        if (entries_[i] == path) {
            return kAlreadyKnown;
        }
        if (free < 0 && entries_[i] == kNoDevice) {
            free = static_cast<int>(i);
        }
    }
    if (free < 0) {
        return kFull;
    }
    entries_[static_cast<size_t>(free)] = std::string(path);
    return free;
}

bool KnownDevices::Release(int index, std::string_view path) {
    if (index < 0 || static_cast<size_t>(index) >= entries_.size() || path == kNoDevice) {
        return false;
    }
    std::lock_guard lock(mutex_);
    auto& entry = entries_[static_cast<size_t>(index)];
    if (entry != path) {
        return false;
    }
    entry = std::string(kNoDevice);
    return true;
}

bool KnownDevices::Contains(std::string_view path) const {
    std::lock_guard lock(mutex_);
    for (const auto& e : entries_) {
        if (e == path) {
            return true;
        }
    }
    return false;
}

std::string KnownDevices::Entry(int index) const {
    if (index < 0 || static_cast<size_t>(index) >= entries_.size()) {
        return std::string(kNoDevice);
    }
    std::lock_guard lock(mutex_);
    return entries_[static_cast<size_t>(index)];
}

void KnownDevices::Clear() {
    std::lock_guard lock(mutex_);
    entries_.fill(std::string(kNoDevice));
}

KnownDevices& KnownDevices::Default() {
    static KnownDevices list;
    return list;
}

}  // namespace tavrik
