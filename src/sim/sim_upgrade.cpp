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
constexpr int kKeySteps = 2;  // state queries from the first word to the last, at best
constexpr int kKeyStepBytes = (kKeyProgressLast - kKeyProgressFirst) / kKeySteps;

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
    upgrade_.keyTransfer = false;
    upgrade_.keyUpgrading = false;
    upgrade_.deafUntil =
        Clock::now() +
        std::chrono::microseconds(static_cast<long long>(state_.restartMs * 1000.0 * pauseScale_));
}

std::optional<SimPayload> SimKeyboard::AnswerUpgrade(const SimPayload& cmd) {
    const bool bootloader = state_.stage != 'A';
    switch (static_cast<ReportCode>(cmd[0])) {
        case ReportCode::CmdEnterBootloader:
            Restart('B');
            return std::nullopt;
        case ReportCode::CmdQueryReady:
            return ReadyReply();
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
            // Programs the modules with what the transfer brought; without one, nothing.
            if (!bootloader && upgrade_.keyTransfer) {
                upgrade_.keyTransfer = false;
                upgrade_.keyUpgrading = true;
                upgrade_.keyStep = 0;
                upgrade_.keyProgress = static_cast<uint16_t>(kKeyProgressFirst);
            }
            return std::nullopt;
        case ReportCode::CmdKeyUpgradeState:
            return bootloader ? std::nullopt : std::optional(KeyStateReply());
        default:
            return std::nullopt;
    }
}

// The bootloader is ready for its own image until programming starts; the application
// opens a transfer of a key module image, unless its modules are being programmed.
std::optional<SimPayload> SimKeyboard::ReadyReply() {
    auto& u = upgrade_;
    if (state_.stage != 'A') {
        if (u.programming) {
            return std::nullopt;
        }
    } else {
        if (u.keyUpgrading) {
            return std::nullopt;
        }
        u.keyTransfer = true;
        std::fill(u.keyChunks.begin(), u.keyChunks.end(), false);
    }
    auto r = Report(ReportCode::RspReady);
    r[1] = 1;
    return r;
}

// Chunks are heard only in the stage that takes them: by the bootloader once
// programming started, by the application while a key image transfer is open.
std::optional<SimPayload> SimKeyboard::Chunk(const SimPayload& cmd) {
    auto& f = state_.faults;
    const bool taken = state_.stage != 'A' ? upgrade_.programming : upgrade_.keyTransfer;
    if (!taken) {
        return std::nullopt;
    }
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
    upgrade_.keyChunks[address / kChunk] = true;
    return true;
}

// Bytes of the modules' application area that arrived, each chunk counted once.
int SimKeyboard::KeyAppBytesReceived() const {
    const auto& got = upgrade_.keyChunks;
    const auto first = got.begin() + kKeyProgressFirst / static_cast<int>(kChunk);
    return static_cast<int>(std::count(first, got.end(), true)) * static_cast<int>(kChunk);
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
        // The modules get only what arrived: a transfer with gaps never reaches the end.
        u.keyProgress = static_cast<uint16_t>(
            kKeyProgressFirst + std::min(step * kKeyStepBytes, KeyAppBytesReceived()));
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
