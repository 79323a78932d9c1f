// HidBackend over hidapi's hidraw implementation: the real keyboards on Linux.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "hid/hid_backend.h"

namespace tavrik {

struct HidapiLib;

class HidapiBackend final : public HidBackend {
public:
    HidapiBackend();
    // False when hidapi could not be loaded or initialised; then nothing is enumerated or
    // opened.
    bool Ok() const { return lib_ != nullptr; }
    // Why not, when not Ok.
    std::string Unavailable() const override;

    // One entry per device node (hidraw lists a node once per top-level usage).
    std::vector<HidDeviceInfo> Enumerate() override;
    // Opens for reading and writing. PermissionDenied when the node exists but the user
    // may not read and write it, NotFound when it does not exist.
    std::unique_ptr<HidHandle> Open(const std::string& path, HidOpenError* error) override;

private:
    const HidapiLib* lib_ = nullptr;
};

// hidapi hands out wide strings (UTF-32 on Linux). Invalid code points become U+FFFD.
std::string WideToUtf8(const wchar_t* text);

}  // namespace tavrik
