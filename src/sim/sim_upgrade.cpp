// The simulated controller's side of a firmware upgrade: its bootloader, which takes the
// controller image block by block, and the application's relay of a key module image to
// the modules.
#include <algorithm>
#include <utility>

#include "sim/sim_keyboard.h"

namespace tavrik::sim {
namespace {

using Clock = std::chrono::steady_clock;

constexpr unsigned kChunk = 32;
constexpr unsigned kBlockSize = 2048;
constexpr int kKeyProgressFirst = 2560;  // the modules' application area starts here
constexpr int kKeyProgressLast = 7168;
constexpr int kKeySteps = 2;  // state queries from the first word to the last

SimPayload Report(ReportCode code) {
    SimPayload p{};
    p[0] = CodeByte(code);
    return p;
}

void PutU16(SimPayload& p, size_t at, unsigned v) {
    p[at] = static_cast<uint8_t>(v & 0xFF);
    p[at + 1] = static_cast<uint8_t>((v >> 8) & 0xFF);
}

}  // namespace

bool SimKeyboard::TakeVanished() {
    return std::exchange(upgrade_.vanished, false);
}

bool SimKeyboard::Restarting() const {
    return Clock::now() < upgrade_.deafUntil;
}

void SimKeyboard::Restart(char stage) {
    if (state_.stage != stage) {
        state_.stage = stage;
        changed_ = true;
    }
    PowerCycle();
    upgrade_.programming = false;
    upgrade_.keyUpgrading = false;
    upgrade_.deafUntil = Clock::now() + std::chrono::milliseconds(state_.restartMs);
}

std::optional<SimPayload> SimKeyboard::AnswerUpgrade(const SimPayload& cmd) {
    const bool bootloader = state_.stage != 'A';
    switch (static_cast<ReportCode>(cmd[0])) {
        case ReportCode::CmdEnterBootloader:
            Restart('B');
            return std::nullopt;
        case ReportCode::CmdQueryReady: {
            // The bootloader for its own image, the application for the modules'.
            auto r = Report(ReportCode::RspReady);
            r[1] = 1;
            return r;
        }
        case ReportCode::CmdWriteChunk:
            return Chunk(cmd);
        case ReportCode::CmdErase:
            if (bootloader) {
                std::fill(upgrade_.kbmcFlash.begin(), upgrade_.kbmcFlash.end(), uint8_t{0xFF});
                upgrade_.programming = false;
            }
            return std::nullopt;
        case ReportCode::CmdProgramStart:
            if (bootloader) {
                upgrade_.programming = true;
                upgrade_.block = 0;
                upgrade_.received = 0;
                upgrade_.busyQueries = 0;
                upgrade_.stalled = false;
            }
            return std::nullopt;
        case ReportCode::CmdKbmcUpgradeState:
            return bootloader ? std::optional(KbmcStateReply()) : std::nullopt;
        case ReportCode::CmdUpgradeEnd:
            if (bootloader) {
                EndUpgrade();
            }
            return std::nullopt;
        case ReportCode::CmdKeyUpgradeStart:
            if (!bootloader) {
                upgrade_.keyUpgrading = true;
                upgrade_.keyStep = 0;
            }
            return std::nullopt;
        case ReportCode::CmdKeyUpgradeState:
            return bootloader ? std::nullopt : std::optional(KeyStateReply());
        default:
            return std::nullopt;
    }
}

std::optional<SimPayload> SimKeyboard::Chunk(const SimPayload& cmd) {
    auto& f = state_.faults;
    ++upgrade_.chunks;
    const unsigned address = cmd[2] | cmd[3] << 8;
    bool accepted = upgrade_.chunks != f.refuseChunk && cmd[1] == 0 && address % kChunk == 0;
    if (accepted) {
        accepted = state_.stage != 'A' ? StoreKbmcChunk(address, cmd.data() + 4)
                                       : StoreKeyChunk(address, cmd.data() + 4);
    }
    if (f.vanishAfterChunks != 0 && upgrade_.chunks >= f.vanishAfterChunks) {
        // Pulled out once; plugged in again it behaves.
        f.vanishAfterChunks = 0;
        upgrade_.vanished = true;
        changed_ = true;
    }
    auto r = Report(ReportCode::RspChunkAck);
    r[1] = accepted ? 1 : 0;
    return r;
}

// The address counts within the block; the bootloader keeps track of the block itself.
bool SimKeyboard::StoreKbmcChunk(unsigned address, const uint8_t* data) {
    auto& u = upgrade_;
    if (!u.programming || address >= kBlockSize || u.block >= kSimKbmcBlocks) {
        return false;
    }
    const size_t at = static_cast<size_t>(u.block) * kBlockSize + address;
    std::copy_n(data, kChunk, u.kbmcFlash.begin() + static_cast<std::ptrdiff_t>(at));
    u.received = static_cast<int>(at + kChunk);
    u.busyQueries = 0;
    u.stalled = false;
    if (address + kChunk == kBlockSize) {
        // A full block is programmed over the next state queries, or never.
        u.stalled = u.block == state_.faults.stallBlock;
        u.busyQueries = state_.programQueries;
        ++u.block;
    }
    return true;
}

bool SimKeyboard::StoreKeyChunk(unsigned address, const uint8_t* data) {
    if (address + kChunk > upgrade_.keyImage.size()) {
        return false;
    }
    std::copy_n(data, kChunk, upgrade_.keyImage.begin() + address);
    return true;
}

// The progress word counts the bytes programmed: a full block's last chunk counts once
// the block is written, so the word reaches the block's multiple of 2048 only then.
SimPayload SimKeyboard::KbmcStateReply() {
    auto& u = upgrade_;
    int progress = u.received;
    if (progress % static_cast<int>(kBlockSize) == 0 && progress != 0 &&
        (u.stalled || u.busyQueries > 0)) {
        progress -= static_cast<int>(kChunk);
        if (u.busyQueries > 0) {
            --u.busyQueries;
        }
    }
    auto r = Report(ReportCode::RspKbmcUpgradeState);
    PutU16(r, 2, static_cast<unsigned>(progress));
    return r;
}

SimPayload SimKeyboard::KeyStateReply() {
    auto& u = upgrade_;
    if (u.keyUpgrading) {
        int step = std::min(u.keyStep++, kKeySteps);
        if (state_.faults.stallKeyUpgrade) {
            step = std::min(step, kKeySteps - 1);
        }
        u.keyProgress = static_cast<uint16_t>(
            kKeyProgressFirst + step * (kKeyProgressLast - kKeyProgressFirst) / kKeySteps);
        if (u.keyProgress == kKeyProgressLast) {
            u.keyUpgrading = false;
            // Every module now runs the new firmware, bootloader ones included.
            for (auto& m : state_.modules) {
                if (m) {
                    m->stage = 'A';
                    if (state_.keyUpgradeToVersion) {
                        m->verHi = (*state_.keyUpgradeToVersion)[0];
                        m->verLo = (*state_.keyUpgradeToVersion)[1];
                    }
                }
            }
            changed_ = true;
        }
    }
    auto r = Report(ReportCode::RspKeyUpgradeState);
    PutU16(r, 2, u.keyProgress);
    return r;
}

// Restarts into the new application when every block was programmed; otherwise the
// bootloader comes back, as there is nothing to start.
void SimKeyboard::EndUpgrade() {
    const bool complete = upgrade_.block == kSimKbmcBlocks && !upgrade_.stalled;
    if (complete && state_.upgradeToVersion) {
        state_.verHi = (*state_.upgradeToVersion)[0];
        state_.verLo = (*state_.upgradeToVersion)[1];
        changed_ = true;
    }
    Restart(complete ? 'A' : 'B');
}

}  // namespace tavrik::sim
