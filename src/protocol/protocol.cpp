#include "protocol/protocol.h"

#include <algorithm>

namespace tavrik {

Command::Command(ReportCode code, size_t length)
    : size_(std::clamp<size_t>(length, 1, kPayloadSize)) {
    bytes_[0] = CodeByte(code);
}

std::optional<Command> Command::FromBytes(std::span<const uint8_t> payload) {
    if (payload.empty() || payload.size() > kPayloadSize) {
        return std::nullopt;
    }
    Command command;
    std::copy(payload.begin(), payload.end(), command.bytes_.begin());
    command.size_ = payload.size();
    return command;
}

OutputReport ToOutputReport(const Command& command) {
    OutputReport report{};
    const auto payload = command.Payload();
    std::copy(payload.begin(), payload.end(), report.begin() + 1);
    return report;
}

}  // namespace tavrik
