// What each report from the controller means to a session, as pure steps: a step takes
// the decoded report and the key table, and gives back the next table and the effects
// the session then carries out (mailboxes to raise, notifications, a scan request, log
// lines). No step waits, locks or sends anything, so each is tested on its own.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "device/key_table.h"
#include "protocol/reports.h"

namespace tavrik {

// A slot's scan replies, as bits of the session's per-slot reply record.
inline constexpr uint8_t kScanReplyKeyInfo = 1;
inline constexpr uint8_t kScanReplyColour = 2;
inline constexpr uint8_t kScanReplyVersion = 4;

// The reply mailboxes a report may raise, as bits of ReportEffects::mailboxes.
enum ReplyMailbox : uint32_t {
    kMailboxRsp = 1u << 0,     // controller version, USB rate
    kMailboxScan = 1u << 1,    // key info, colour, version of a slot
    kMailboxReady = 1u << 2,   // ready for an upgrade download
    kMailboxAck = 1u << 3,     // a firmware chunk accepted
    kMailboxState = 1u << 4,   // an upgrade's progress word
    kMailboxMarco = 1u << 5,   // one macro entry read back
    kMailboxEnable = 1u << 6,  // the enable report's answer
};

struct Notification {
    uint32_t code = 0;
    uint32_t wParam = 0;
    uint32_t lParam = 0;
    friend bool operator==(const Notification&, const Notification&) = default;
};

// What a step may know besides the table.
struct ReportContext {
    int dev = 0;
    // Log lines are only made when they will be written.
    bool verbose = false;
    // An upgrade owns the bus: modules restarting into new firmware are not news.
    bool upgrading = false;
    // The controller upgrade's last progress word, for the checksum line.
    int kbmcProgress = 0;
};

struct ReportEffects {
    uint32_t mailboxes = 0;  // ReplyMailbox bits
    // The scan reply bit (kScanReply*) that arrived for `scanSlot`.
    int scanSlot = -1;
    uint8_t scanReply = 0;
    bool chainEnd = false;  // no module at this or a later slot
    std::optional<uint16_t> kbmcProgress;
    std::optional<uint16_t> keyProgress;
    // Written where the macro reader looks before kMailboxMarco rises.
    std::optional<std::array<uint8_t, 8>> marcoReply;
    bool enableOk = false;
    // Sent after the table lock is released: their handlers read the table.
    std::vector<Notification> notes;
    bool requestScan = false;
    std::vector<std::string> log;  // verbose lines, without the "Dev %d: " prefix
};

struct ReportStep {
    KeyTable table;
    ReportEffects effects;
};

ReportStep Step(const KeyInfoReport& r, KeyTable table, const ReportContext& ctx);
ReportStep Step(const KeyVerReport& r, KeyTable table, const ReportContext& ctx);
ReportStep Step(const KeyRequestEvent& r, KeyTable table, const ReportContext& ctx);
ReportStep Step(const ReadyReport& r, KeyTable table, const ReportContext& ctx);
ReportStep Step(const ChunkAckReport& r, KeyTable table, const ReportContext& ctx);
ReportStep Step(const KeyUpgradeStateReport& r, KeyTable table, const ReportContext& ctx);
ReportStep Step(const KeyInsertEvent& r, KeyTable table, const ReportContext& ctx);
ReportStep Step(const KeyLostEvent& r, KeyTable table, const ReportContext& ctx);
ReportStep Step(const BackupChecksumReport& r, KeyTable table, const ReportContext& ctx);
ReportStep Step(const KbmcUpgradeStateReport& r, KeyTable table, const ReportContext& ctx);
ReportStep Step(const KeyColorReport& r, KeyTable table, const ReportContext& ctx);
ReportStep Step(const KbmcVerReport& r, KeyTable table, const ReportContext& ctx);
ReportStep Step(const UsbRateReport& r, KeyTable table, const ReportContext& ctx);
ReportStep Step(const BusShortEvent& r, KeyTable table, const ReportContext& ctx);
ReportStep Step(const BusShortGoneEvent& r, KeyTable table, const ReportContext& ctx);
ReportStep Step(const KeyDownEvent& r, KeyTable table, const ReportContext& ctx);
ReportStep Step(const KeyUpEvent& r, KeyTable table, const ReportContext& ctx);
ReportStep Step(const MarcoReport& r, KeyTable table, const ReportContext& ctx);
ReportStep Step(const EnableKbmcReport& r, KeyTable table, const ReportContext& ctx);
ReportStep Step(const IgnoredReport& r, KeyTable table, const ReportContext& ctx);
ReportStep Step(const MalformedReport& r, KeyTable table, const ReportContext& ctx);
ReportStep Step(const UndefinedReport& r, KeyTable table, const ReportContext& ctx);

// The step of whichever kind `report` is.
ReportStep StepReport(const Report& report, const KeyTable& table, const ReportContext& ctx);

}  // namespace tavrik
