// The device paths the transports have taken, so that no two transports drive the same
// interface. One list is shared by the process's transports; tests make their own.
#pragma once

#include <array>
#include <cstddef>
#include <mutex>
#include <string>
#include <string_view>

namespace tavrik {

class KnownDevices {
public:
    static constexpr size_t kSize = 4;
    static constexpr std::string_view kNoDevice = "NoDevice";  // a free entry

    // Results of Claim besides an entry index.
    static constexpr int kAlreadyKnown = -1;
    static constexpr int kFull = -2;
    static constexpr int kInvalidPath = -3;

    KnownDevices();
    KnownDevices(const KnownDevices&) = delete;
    KnownDevices& operator=(const KnownDevices&) = delete;

    // Puts the path into the first free entry and returns its index. Checking and taking
    // happen under one lock, so two transports never take the same path.
    int Claim(std::string_view path);
    // Frees entry `index` if it still holds `path`.
    bool Release(int index, std::string_view path);
    bool Contains(std::string_view path) const;
    // The entry's text; kNoDevice when free or out of range.
    std::string Entry(int index) const;
    // Frees every entry.
    void Clear();

    // The list shared by the process's transports.
    static KnownDevices& Default();

private:
    mutable std::mutex mutex_;
    std::array<std::string, kSize> entries_;
};

}  // namespace tavrik
