// Arbitrary bytes as a firmware file: the checks must only ever answer 1, -1 or -3.
#include <algorithm>
#include <cstdlib>
#include <memory>

#include "protocol/fwimage.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static auto buf = std::make_unique<tavrik::FirmwareBuffer>();
    if (size > tavrik::kFwBufferSize) {
        return 0;
    }
    buf->fill(0);
    std::copy(data, data + size, buf->begin());
    const bool dual = size > 0 && (data[size - 1] & 1) != 0;
    const int r = dual ? tavrik::CheckDualImage(*buf) : tavrik::CheckSingleImage(*buf);
    if (r != 1 && r != -1 && r != -3) {
        std::abort();
    }
    return 0;
}
