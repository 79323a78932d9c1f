#include "sim/sim_keyboard.h"

#include <algorithm>
#include <utility>

#include "protocol/enable_report.h"
#include "protocol/firmware_features.h"

namespace tavrik::sim {
namespace {

SimPayload Report(ReportCode code) {
    SimPayload p{};
    p[0] = CodeByte(code);
    return p;
}

void PutU32(SimPayload& p, size_t at, uint32_t v) {
    for (size_t i = 0; i < 4; ++i) {
        p[at + i] = static_cast<uint8_t>(v >> (8 * i));
    }
}

uint16_t Word(uint8_t hi, uint8_t lo) {
    return static_cast<uint16_t>(hi << 8 | lo);
}

constexpr std::array<uint8_t, 2> kKeyMaxPair = {0x16, 0x25};
constexpr std::array<uint8_t, 2> kNkroPair = {0x17, 0x20};
constexpr uint8_t kMarcoEntryOffset = 5;

}  // namespace

SimKeyboard::SimKeyboard(SimKeyboardState state)
    : SimKeyboard(std::move(state),
                  (uint64_t{std::random_device{}()} << 32) ^ uint64_t{std::random_device{}()}) {}

SimKeyboard::SimKeyboard(SimKeyboardState state, uint64_t powerUpSeed)
    : state_(std::move(state)), powerRng_(powerUpSeed), faultRng_(state_.faults.seed) {
    PowerCycle();
}

void SimKeyboard::PowerCycle() {
    for (auto& b : key_) {
        b = static_cast<uint8_t>(powerRng_());
    }
    handedOutKey_ = CipherKey();
    enabled_.reset();
    hostActive_.reset();
    blinks_.fill(std::nullopt);
    layerSwitch_.reset();
    busShort_ = false;
}

void SimKeyboard::SetFaults(const SimFaults& faults) {
    state_.faults = faults;
    faultRng_.seed(faults.seed);
    repliesSent_ = 0;
    changed_ = true;
}

void SimKeyboard::SetPauseScale(double scale) {
    pauseScale_ = std::clamp(scale, 0.0, 1.0);
}

void SimKeyboard::SetLatencyMs(int ms) {
    state_.latencyMs = std::clamp(ms, 0, kMaxLatencyMs);
    changed_ = true;
}

bool SimKeyboard::TakeChanged() {
    return std::exchange(changed_, false);
}

std::array<uint8_t, 8> SimKeyboard::CipherKey() const {
    auto key = key_;
    // The application firmware reports its module count in the key's first byte.
    if (state_.stage == 'A') {
        key[0] = state_.configuredModules;
    }
    return key;
}

std::optional<SimBlink> SimKeyboard::BlinkOf(uint8_t slot) const {
    return IsKeySlot(slot) ? blinks_[slot] : std::nullopt;
}

const SimModule* SimKeyboard::ModuleAt(uint8_t slot) const {
    if (busShort_ || !IsKeySlot(slot) || !state_.modules[slot]) {
        return nullptr;
    }
    return &*state_.modules[slot];
}

SimModule* SimKeyboard::ModuleAt(uint8_t slot) {
    return const_cast<SimModule*>(std::as_const(*this).ModuleAt(slot));
}

std::vector<SimPayload> SimKeyboard::Handle(std::span<const uint8_t> payload) {
    // A restarting controller hears nothing; what is sent meanwhile is lost.
    if (payload.empty() || Restarting()) {
        return {};
    }
    SimPayload cmd{};
    std::copy_n(payload.begin(), std::min(payload.size(), cmd.size()), cmd.begin());
    if (heard_.size() == kHeardCommands) {
        heard_.pop_front();
    }
    heard_.push_back(cmd);
    const auto reply = Answer(cmd);
    if (!reply) {
        return {};
    }
    return ApplyFaults(cmd[0], *reply);
}

std::vector<SimPayload> SimKeyboard::HandleReport(std::span<const uint8_t> report) {
    if (report.size() != kReportSize || report[0] != 0) {
        ++ignoredReports_;
        return {};
    }
    return Handle(report.subspan(1));
}

std::optional<SimPayload> SimKeyboard::Answer(const SimPayload& cmd) {
    const auto code = static_cast<ReportCode>(cmd[0]);
    // A controller in its bootloader knows the version query and the upgrade only.
    if (state_.stage != 'A' && code != ReportCode::CmdGetKbmcVer) {
        return AnswerUpgrade(cmd);
    }
    switch (code) {
        case ReportCode::CmdGetKbmcVer:
            return VersionReply();
        case ReportCode::CmdEnableKbmc:
            return EnableReply(cmd);
        case ReportCode::CmdScanKey: {
            const auto slot = static_cast<uint8_t>(
                state_.faults.wrongScanSlot ? (cmd[1] + 1u) % kKeySlots : cmd[1]);
            return IsKeySlot(cmd[1]) ? ScanReply(slot) : std::nullopt;
        }
        case ReportCode::CmdGetKeyVer:
            return KeyVerReply(cmd[1]);
        case ReportCode::CmdGetKeyColor:
            return ColourReply(cmd[1]);
        case ReportCode::CmdGetUsbRate: {
            auto r = Report(ReportCode::RspUsbRate);
            r[2] = state_.usbRate;
            return r;
        }
        case ReportCode::CmdHostActive:
            hostActive_ = cmd[1] != 0;
            return std::nullopt;
        case ReportCode::CmdWriteKeyConfig:
            WriteKeyConfig(cmd);
            return std::nullopt;
        case ReportCode::CmdSetKeyColor:
            SetColour(cmd);
            return std::nullopt;
        case ReportCode::CmdBlinkKey:
            Blink(cmd);
            return std::nullopt;
        case ReportCode::CmdSetUsbRate:
            if (state_.usbRate != cmd[2]) {
                state_.usbRate = cmd[2];
                changed_ = true;
            }
            return std::nullopt;
        case ReportCode::CmdSetMode:
            SetMode(cmd);
            return std::nullopt;
        case ReportCode::CmdWriteMarco:
            WriteMarco(cmd);
            return std::nullopt;
        case ReportCode::CmdReadMarco:
            return MarcoReply(cmd);
        case ReportCode::CmdLayerSwitch:
            layerSwitch_ = SimLayerSwitch{cmd[2], cmd[3], cmd[4], cmd[5], cmd[6]};
            return std::nullopt;
        default:
            return AnswerUpgrade(cmd);
    }
}

std::vector<SimPayload> SimKeyboard::ApplyFaults(uint8_t code, SimPayload reply) {
    auto& f = state_.faults;
    if (std::find(f.silentCodes.begin(), f.silentCodes.end(), code) != f.silentCodes.end()) {
        return {};
    }
    if (f.dropNext > 0) {
        --f.dropNext;
        changed_ = true;
        return {};
    }
    if (f.dropRate > 0.0) {
        // 24 random bits, so the sequence is the same with every standard library.
        const double draw = static_cast<double>(faultRng_() >> 8) / 16777216.0;
        if (draw < f.dropRate) {
            return {};
        }
    }
    std::vector<SimPayload> out;
    ++repliesSent_;
    if (f.extraReportEvery > 0 && repliesSent_ % static_cast<uint64_t>(f.extraReportEvery) == 0) {
        SimPayload extra{};
        std::copy_n(f.extraReport.begin(), std::min(f.extraReport.size(), extra.size()),
                    extra.begin());
        out.push_back(extra);
    }
    out.push_back(reply);
    return out;
}

SimPayload SimKeyboard::VersionReply() {
    auto r = Report(ReportCode::RspKbmcVer);
    r[1] = 0;  // describes the running firmware
    r[2] = static_cast<uint8_t>(state_.stage);
    if (state_.stage == 'A') {
        r[3] = state_.verHi;
        r[4] = state_.verLo;
        r[5] = state_.usbRate;
        r[6] = state_.standardModules;
        r[7] = static_cast<uint8_t>((state_.nkro ? 0x04 : 0) | (state_.hwVariant & 0x03) << 3);
    }
    handedOutKey_ = CipherKey();
    std::copy(handedOutKey_.begin(), handedOutKey_.end(), r.begin() + 8);
    return r;
}

SimPayload SimKeyboard::EnableReply(const SimPayload& cmd) {
    auto r = Report(ReportCode::RspEnableKbmc);
    if (const auto on = CheckEnableKbmc(cmd, handedOutKey_)) {
        enabled_ = *on;
        r[1] = 0;
        r[2] = 1;
    } else {
        r[1] = 1;
        r[2] = 0;
    }
    return r;
}

std::optional<SimPayload> SimKeyboard::ScanReply(uint8_t slot) const {
    auto r = Report(ReportCode::RspKeyInfo);
    r[1] = slot;
    if (const SimModule* m = ModuleAt(slot)) {
        PutU32(r, 2, m->uid);
        r[6] = static_cast<uint8_t>((m->shortMac & 0x7F) | (m->stage == 'A' ? 0 : 0x80));
        std::copy(m->hid.begin(), m->hid.end(), r.begin() + 7);
        r[11] = m->flag;
        return r;
    }
    bool laterModule = false;
    for (unsigned s = slot + 1u; s < kKeySlots && !laterModule; ++s) {
        laterModule = ModuleAt(static_cast<uint8_t>(s)) != nullptr;
    }
    if (!laterModule) {
        r[1] |= 0x80;  // end of the key chain
    }
    return r;
}

std::optional<SimPayload> SimKeyboard::KeyVerReply(uint8_t slot) const {
    if (!IsKeySlot(slot)) {
        return std::nullopt;
    }
    auto r = Report(ReportCode::RspKeyVer);
    r[1] = slot;
    if (const SimModule* m = ModuleAt(slot)) {
        if (m->stage == 'A') {
            r[2] = 'A';
            r[3] = m->verHi;
            r[4] = m->verLo;
        } else {
            r[2] = 'B';
        }
    }
    return r;
}

std::optional<SimPayload> SimKeyboard::ColourReply(uint8_t slot) const {
    if (!IsKeySlot(slot)) {
        return std::nullopt;
    }
    auto r = Report(ReportCode::RspKeyColor);
    r[1] = slot;
    if (const SimModule* m = ModuleAt(slot)) {
        const Rgb4 rgb = ToRgb4(m->colour);
        r[3] = rgb.red;
        r[4] = rgb.green;
        r[5] = rgb.blue;
    }
    return r;
}

std::optional<SimPayload> SimKeyboard::MarcoReply(const SimPayload& cmd) const {
    const uint8_t slot = cmd[1];
    if (!IsKeySlot(slot)) {
        return std::nullopt;
    }
    const int entry = cmd[2] - kMarcoEntryOffset;
    MarcoEntry e = kErasedMarcoEntry;
    const SimModule* m = ModuleAt(slot);
    if (m && entry >= 0 && entry < kMarcoEntryCount) {
        e = m->marco[static_cast<size_t>(entry)];
    }
    auto r = Report(ReportCode::RspMarco);
    r[1] = slot;
    r[2] = static_cast<uint8_t>(cmd[2] + (state_.faults.wrongMarcoEntry ? 1 : 0));
    r[3] = e.flag;
    r[4] = e.kv;
    r[5] = static_cast<uint8_t>(e.delay >> 8);
    r[6] = static_cast<uint8_t>(e.delay & 0xFF);
    return r;
}

// Like the controller, rewriting a module's configuration or colour rebuilds its
// settings block and loses the macro stored with it; the host writes the macro again.
void SimKeyboard::DropMarco(SimModule& m) {
    if (m.marco != ErasedMarco()) {
        m.marco = ErasedMarco();
        changed_ = true;
    }
}

void SimKeyboard::WriteKeyConfig(const SimPayload& cmd) {
    if (busShort_ || cmd[1] == 0) {
        return;
    }
    for (auto& m : state_.modules) {
        if (m && m->shortMac == cmd[1]) {
            // Layers 1..3 come first on the wire, layer 0 last.
            const std::array<uint8_t, 4> hid = {cmd[6], cmd[2], cmd[3], cmd[4]};
            if (m->hid != hid || m->flag != cmd[5]) {
                m->hid = hid;
                m->flag = cmd[5];
                changed_ = true;
            }
            DropMarco(*m);
            return;
        }
    }
}

void SimKeyboard::SetColour(const SimPayload& cmd) {
    if (SimModule* m = ModuleAt(cmd[1])) {
        const uint32_t colour = FromRgb4(Rgb4{cmd[3], cmd[4], cmd[5]});
        if (m->colour != colour) {
            m->colour = colour;
            changed_ = true;
        }
        DropMarco(*m);
    }
}

void SimKeyboard::Blink(const SimPayload& cmd) {
    if (IsKeySlot(cmd[1])) {
        blinks_[cmd[1]] = SimBlink{cmd[2], Rgb4{cmd[3], cmd[4], cmd[5]}};
    }
}

void SimKeyboard::SetMode(const SimPayload& cmd) {
    const std::array<uint8_t, 2> pair = {cmd[4], cmd[5]};
    const uint16_t word = Word(state_.verHi, state_.verLo);
    if (cmd[1] != 1) {
        return;
    }
    if (cmd[2] == static_cast<uint8_t>(3) && pair == kKeyMaxPair && ReportsModuleCount(word) &&
        cmd[3] >= 1 && cmd[3] <= kKeySlots) {
        changed_ |= state_.configuredModules != cmd[3];
        state_.configuredModules = cmd[3];
    } else if (cmd[2] == static_cast<uint8_t>(4) && pair == kNkroPair &&
               ReportsFullKeyRollover(word) && cmd[3] <= 1) {
        changed_ |= state_.nkro != (cmd[3] == 1);
        state_.nkro = cmd[3] == 1;
    }
}

void SimKeyboard::WriteMarco(const SimPayload& cmd) {
    SimModule* m = ModuleAt(cmd[1]);
    const int entry = cmd[2] - kMarcoEntryOffset;
    if (!m || entry < 0 || entry >= kMarcoEntryCount) {
        return;
    }
    const MarcoEntry e{cmd[3], cmd[4], Word(cmd[5], cmd[6])};
    auto& stored = m->marco[static_cast<size_t>(entry)];
    if (stored != e) {
        stored = e;
        changed_ = true;
    }
}

std::optional<SimPayload> SimKeyboard::InsertModule(uint8_t slot, const SimModule& module) {
    if (!IsKeySlot(slot) || module.uid == 0 || module.shortMac == 0 || module.shortMac > 0x7F) {
        return std::nullopt;
    }
    for (size_t s = 0; s < kKeySlots; ++s) {
        const auto& other = state_.modules[s];
        if (s != slot && other &&
            (other->uid == module.uid || other->shortMac == module.shortMac)) {
            return std::nullopt;
        }
    }
    state_.modules[slot] = module;
    state_.modules[slot]->colour &= 0x00F0F0F0;
    changed_ = true;

    auto r = Report(ReportCode::EvtKeyInsert);
    PutU32(r, 2, module.uid);
    r[6] = static_cast<uint8_t>(slot + 1);
    std::copy(module.hid.begin(), module.hid.end(), r.begin() + 7);
    r[11] = module.flag;
    return r;
}

std::optional<SimPayload> SimKeyboard::InsertModule(uint8_t slot, uint32_t uid, uint8_t shortMac,
                                                    const std::array<uint8_t, 4>& hid,
                                                    uint8_t flag) {
    SimModule m;
    m.uid = uid;
    m.shortMac = shortMac;
    m.hid = hid;
    m.flag = flag;
    return InsertModule(slot, m);
}

std::optional<SimPayload> SimKeyboard::RemoveModule(uint8_t slot) {
    if (!IsKeySlot(slot) || !state_.modules[slot]) {
        return std::nullopt;
    }
    state_.modules[slot].reset();
    blinks_[slot].reset();
    changed_ = true;
    auto r = Report(ReportCode::EvtKeyLost);
    r[6] = static_cast<uint8_t>(slot + 1);
    return r;
}

std::optional<SimPayload> SimKeyboard::KeyDown(uint8_t slot, uint8_t layerKeyHid, bool extraFlag) {
    if (!IsKeySlot(slot)) {
        return std::nullopt;
    }
    auto r = Report(ReportCode::EvtKeyDown);
    r[1] = slot;
    r[2] = static_cast<uint8_t>((layerKeyHid != 0 ? 0x01 : 0) | (extraFlag ? 0x02 : 0));
    r[3] = layerKeyHid;
    return r;
}

std::optional<SimPayload> SimKeyboard::KeyUp(uint8_t slot, uint8_t layerKeyHid,
                                             uint8_t returnLayer) {
    if (!IsKeySlot(slot)) {
        return std::nullopt;
    }
    auto r = Report(ReportCode::EvtKeyUp);
    r[1] = slot;
    r[2] = layerKeyHid != 0 ? 1 : 0;
    r[3] = layerKeyHid;
    r[4] = returnLayer;
    return r;
}

SimPayload SimKeyboard::BusShort() {
    busShort_ = true;
    return Report(ReportCode::EvtBusShort);
}

SimPayload SimKeyboard::BusShortGone() {
    busShort_ = false;
    return Report(ReportCode::EvtBusShortGone);
}

SimPayload SimKeyboard::KeyRequest(uint32_t uid, uint8_t shortMac) {
    auto r = Report(ReportCode::EvtKeyRequest);
    r[1] = shortMac;
    PutU32(r, 2, uid);
    return r;
}

}  // namespace tavrik::sim
