#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "hid/device_table.h"
#include "protocol/commands.h"
#include "protocol/enable_report.h"
#include "protocol/protocol.h"
#include "protocol/reports.h"
#include "sim/sim_backend.h"
#include "sim/sim_file.h"
#include "sim/sim_init.h"
#include "sim/sim_keyboard.h"
#include "sim/sim_state.h"

namespace tavrik::sim {
namespace {

using Key8 = std::array<uint8_t, 8>;
namespace fs = std::filesystem;

SimModule Module(uint32_t uid, uint8_t mac, std::array<uint8_t, 4> hid, uint32_t colour = 0) {
    SimModule m;
    m.uid = uid;
    m.shortMac = mac;
    m.hid = hid;
    m.colour = colour;
    m.verHi = 1;
    m.verLo = 3;
    return m;
}

// Modules at 0, 1, 3 (2 empty), one in its bootloader at 5; nothing from 6 on.
SimKeyboardState SmallKeyboard() {
    SimKeyboardState s;
    s.latencyMs = 0;
    s.modules[0] = Module(0x11223344, 40, {0x04, 0x1E, 0, 0xD1}, 0x00F08010);
    s.modules[1] = Module(0x55667788, 17, {0x05, 0, 0, 0});
    s.modules[3] = Module(0x0A0B0C0D, 99, {0, 0, 0, 0});
    s.modules[5] = Module(0x01020304, 7, {0x06, 0, 0, 0});
    s.modules[5]->stage = 'B';
    return s;
}

fs::path TempDir() {
    static std::atomic<int> counter{0};
    const auto dir =
        fs::temp_directory_path() /
        ("tavrik-sim-" + std::to_string(std::random_device{}()) + "-" + std::to_string(counter++));
    fs::create_directories(dir);
    return dir;
}

// Talks to keyboard 0 of a backend through its vendor interface. With latency 0 every
// reply is queued before Write returns, so a read with timeout 0 sees exactly the replies.
class SimTest : public ::testing::Test {
protected:
    void Plug(SimKeyboardState state) {
        handle_.reset();
        ASSERT_TRUE(backend_.Attach(0, std::move(state)));
        handle_ = backend_.Open(backend_.VendorPath(0), nullptr);
        ASSERT_NE(handle_, nullptr);
    }

    std::vector<SimPayload> Ask(const Command& c) {
        const auto report = ToOutputReport(c);
        EXPECT_EQ(handle_->Write(report.data(), report.size()), static_cast<int>(kReportSize));
        std::vector<SimPayload> out;
        SimPayload p{};
        while (handle_->Read(p.data(), p.size(), 0) > 0) {
            out.push_back(p);
        }
        return out;
    }

    // The single reply to `c`.
    SimPayload One(const Command& c) {
        const auto replies = Ask(c);
        EXPECT_EQ(replies.size(), 1u);
        return replies.empty() ? SimPayload{} : replies.front();
    }

    KeyInfoReport Scan(uint8_t slot) { return DecodeKeyInfo(One(CmdScanKey(slot))).value(); }

    Key8 VersionKey() { return DecodeKbmcVer(One(CmdGetKbmcVer())).value().cipherKey; }

    SimBackend backend_;
    std::unique_ptr<HidHandle> handle_;
};

TEST_F(SimTest, VersionReplyInApplicationAndBootloader) {
    auto s = SmallKeyboard();
    s.verHi = 1;
    s.verLo = 50;
    s.usbRate = 3;
    s.standardModules = 44;
    s.configuredModules = 60;
    s.nkro = true;
    s.hwVariant = 2;
    Plug(s);
    const auto v = DecodeKbmcVer(One(CmdGetKbmcVer())).value();
    EXPECT_EQ(v.secondary, 0);
    EXPECT_EQ(v.stage, 'A');
    EXPECT_EQ(v.Word(), 306);
    EXPECT_EQ(v.usbRate, 3);
    EXPECT_EQ(v.stdCount, 44);
    EXPECT_EQ(v.modeBits, 0x04 | (2 << 3));
    EXPECT_EQ(v.configuredCount, 60);
    const auto u = InterpretKbmcVer(v);
    EXPECT_EQ(u.keyMax, 60);
    EXPECT_EQ(u.overload, true);
    EXPECT_EQ(u.nkro, true);
    EXPECT_EQ(u.hwVariant, 2);

    s.stage = 'B';
    Plug(s);
    const auto b = DecodeKbmcVer(One(CmdGetKbmcVer())).value();
    EXPECT_EQ(b.stage, 'B');
    EXPECT_EQ(b.usbRate, 0);
    EXPECT_EQ(b.stdCount, 0);
    EXPECT_EQ(b.modeBits, 0);
    // A bootloader answers nothing but the version query (and, later, the upgrade).
    EXPECT_TRUE(Ask(CmdScanKey(0)).empty());
}

TEST_F(SimTest, EnableReportCheckedUnderTheHandedOutKey) {
    Plug(SmallKeyboard());
    const Key8 key = VersionKey();
    EXPECT_TRUE(DecodeEnableKbmc(One(BuildEnableKbmc(true, key))).value().accepted);
    bool enabled = false;
    backend_.WithKeyboard(0, [&](SimKeyboard& k) { enabled = k.Enabled().value_or(false); });
    EXPECT_TRUE(enabled);

    Key8 other = key;
    other[3] ^= 0x40;
    EXPECT_FALSE(DecodeEnableKbmc(One(BuildEnableKbmc(false, other))).value().accepted);
    // Disable markers with the enable byte set.
    auto mixed = BuildEnableKbmc(false, key);
    mixed.MutablePayload()[2] = 1;
    EXPECT_FALSE(DecodeEnableKbmc(One(mixed)).value().accepted);
    backend_.WithKeyboard(0, [&](SimKeyboard& k) { enabled = k.Enabled().value_or(false); });
    EXPECT_TRUE(enabled) << "a refused report must not change the state";

    EXPECT_TRUE(DecodeEnableKbmc(One(BuildEnableKbmc(false, key))).value().accepted);
    backend_.WithKeyboard(0, [&](SimKeyboard& k) { enabled = k.Enabled().value_or(true); });
    EXPECT_FALSE(enabled);
}

TEST_F(SimTest, KeyStaysValidUntilTheNextVersionReply) {
    Plug(SmallKeyboard());
    const Key8 before = VersionKey();
    EXPECT_EQ(before[0], 44);  // the module count shares the key's first byte
    Ask(CmdSetMode(ModeSetting::KeyMax, 60));
    EXPECT_TRUE(DecodeEnableKbmc(One(BuildEnableKbmc(true, before))).value().accepted);
    const Key8 after = VersionKey();
    EXPECT_EQ(after[0], 60);
    EXPECT_FALSE(DecodeEnableKbmc(One(BuildEnableKbmc(true, before))).value().accepted);
    EXPECT_TRUE(DecodeEnableKbmc(One(BuildEnableKbmc(true, after))).value().accepted);
}

TEST_F(SimTest, ScanVersionAndColourReplies) {
    Plug(SmallKeyboard());
    const auto k0 = Scan(0);
    EXPECT_FALSE(k0.chainEnd);
    EXPECT_EQ(k0.uid, 0x11223344u);
    EXPECT_EQ(k0.shortMac, 40);
    EXPECT_FALSE(k0.bootloader);
    EXPECT_EQ(k0.hid, (std::array<uint8_t, 4>{0x04, 0x1E, 0, 0xD1}));

    const auto gap = Scan(2);
    EXPECT_EQ(gap.slot, 2);
    EXPECT_FALSE(gap.chainEnd) << "modules follow the empty slot";
    EXPECT_EQ(gap.uid, 0u);

    const auto boot = Scan(5);
    EXPECT_TRUE(boot.bootloader);
    EXPECT_EQ(boot.shortMac, 7);

    const auto end = Scan(6);
    EXPECT_TRUE(end.chainEnd);
    EXPECT_EQ(end.slot, 6);
    EXPECT_TRUE(Scan(89).chainEnd);
    EXPECT_TRUE(Ask(CmdScanKey(90)).empty());

    const auto ver = DecodeKeyVer(One(CmdGetKeyVer(1))).value();
    EXPECT_TRUE(ver.HasVersion());
    EXPECT_EQ(ver.verHi, 1);
    EXPECT_EQ(ver.verLo, 3);
    EXPECT_FALSE(DecodeKeyVer(One(CmdGetKeyVer(5))).value().HasVersion());

    const auto colour = DecodeKeyColor(One(CmdGetKeyColor(0))).value();
    EXPECT_EQ(colour.slot, 0);
    EXPECT_EQ(colour.rgb, (Rgb4{1, 8, 15}));

    SimKeyboardState empty;
    empty.latencyMs = 0;
    Plug(empty);
    EXPECT_TRUE(Scan(0).chainEnd);
}

TEST_F(SimTest, SettingsAreStoredAndReadBack) {
    Plug(SmallKeyboard());
    // Addressed by short address, layers 1..3 first on the wire.
    Ask(CmdWriteKeyConfig(17, {0x07, 0x08, 0x09, 0x0A}, 0x21));
    auto k1 = Scan(1);
    EXPECT_EQ(k1.hid, (std::array<uint8_t, 4>{0x07, 0x08, 0x09, 0x0A}));
    EXPECT_EQ(k1.flag, 0x21);
    Ask(CmdWriteKeyConfig(2, {0x0B, 0, 0, 0}, 0));  // slot number, not a short address
    EXPECT_EQ(Scan(1).hid[0], 0x07);

    Ask(CmdSetKeyColor(3, ToRgb4(0x00102030)));
    EXPECT_EQ(DecodeKeyColor(One(CmdGetKeyColor(3))).value().Colour(), 0x00102030u);

    EXPECT_TRUE(Ask(CmdSetUsbRate(4)).empty());
    EXPECT_EQ(DecodeUsbRate(One(CmdGetUsbRate())).value().rate, 4);

    Ask(CmdSetMode(ModeSetting::FullKeyRollover, 1));
    auto wrongPair = CmdSetMode(ModeSetting::KeyMax, 70);
    wrongPair.MutablePayload()[4] = 0x17;
    Ask(wrongPair);
    auto v = InterpretKbmcVer(DecodeKbmcVer(One(CmdGetKbmcVer())).value());
    EXPECT_EQ(v.nkro, true);
    EXPECT_EQ(v.keyMax, 44);

    Ask(CmdHostActive(true));
    Ask(CmdBlinkKey(3, BlinkMode::Blink, Rgb4{15, 0, 0}));
    Ask(CmdLayerSwitch(LayerSwitchKind::SwitchTo, 1, 4, 0xD1, 0x81));
    backend_.WithKeyboard(0, [](SimKeyboard& k) {
        EXPECT_EQ(k.HostActive(), true);
        ASSERT_TRUE(k.BlinkOf(3));
        EXPECT_EQ(k.BlinkOf(3)->mode, 3);
        ASSERT_TRUE(k.LastLayerSwitch());
        EXPECT_EQ(k.LastLayerSwitch()->slotPlusOne, 5);
        EXPECT_EQ(k.LastLayerSwitch()->layerByte, 0x81);
    });
}

TEST_F(SimTest, OldFirmwareIgnoresModesItDoesNotReport) {
    auto s = SmallKeyboard();
    s.verHi = 1;
    s.verLo = 10;  // 266
    Plug(s);
    Ask(CmdSetMode(ModeSetting::FullKeyRollover, 1));
    Ask(CmdSetMode(ModeSetting::KeyMax, 60));
    EXPECT_FALSE(backend_.StateOf(0)->nkro);
    EXPECT_EQ(backend_.StateOf(0)->configuredModules, 44);
}

TEST_F(SimTest, MarcoEntriesWrittenAndReadBack) {
    Plug(SmallKeyboard());
    const std::vector<MarcoEntry> entries = {
        {MarcoFlag::KeyDown, 0x04, 0x1234}, {MarcoFlag::KeyUp, 0x04, 10}, {MarcoFlag::End, 0, 0}};
    for (size_t i = 0; i < entries.size(); ++i) {
        EXPECT_TRUE(Ask(CmdWriteMarco(1, static_cast<uint8_t>(i), entries[i].flag, entries[i].kv,
                                      entries[i].delay))
                        .empty());
    }
    for (size_t i = 0; i < entries.size(); ++i) {
        const auto r = DecodeMarco(One(CmdReadMarco(1, static_cast<uint8_t>(i)))).value();
        EXPECT_EQ(r.slot, 1);
        EXPECT_EQ(r.EntryNumber(), static_cast<int>(i));
        EXPECT_EQ((MarcoEntry{r.flag, r.keyValue, r.delay}), entries[i]);
    }
    const auto first = One(CmdReadMarco(1, 0));
    EXPECT_EQ(first[2], 5);
    EXPECT_EQ(first[5], 0x12) << "the delay travels high byte first";
    EXPECT_EQ(first[6], 0x34);
    EXPECT_TRUE(IsMarcoListEnd(DecodeMarco(One(CmdReadMarco(1, 10))).value().flag));
    EXPECT_TRUE(IsMarcoListEnd(DecodeMarco(One(CmdReadMarco(2, 0))).value().flag))
        << "an empty slot reads as an end mark";
}

TEST_F(SimTest, EventsProduceTheirReports) {
    Plug(SmallKeyboard());
    ASSERT_TRUE(backend_.InsertModule(0, 7, 0xCAFEF00D, 33, {0x04, 0, 0xFF, 0xE0}, 0x02));
    SimPayload p{};
    ASSERT_GT(handle_->Read(p.data(), p.size(), 0), 0);
    const auto ins = DecodeKeyInsert(p).value();
    EXPECT_EQ(ins.uid, 0xCAFEF00Du);
    EXPECT_EQ(ins.slotNumber, 8);
    EXPECT_EQ(ins.hid, (std::array<uint8_t, 4>{0x04, 0, 0xFF, 0xE0}));
    EXPECT_EQ(ins.flag, 0x02);
    EXPECT_EQ(Scan(7).uid, 0xCAFEF00Du);
    EXPECT_FALSE(backend_.InsertModule(0, 8, 0x12345678, 33, {}, 0)) << "short address in use";

    ASSERT_TRUE(backend_.RemoveModule(0, 7));
    ASSERT_GT(handle_->Read(p.data(), p.size(), 0), 0);
    EXPECT_EQ(DecodeKeyLost(p).value().slotNumber, 8);
    EXPECT_TRUE(Scan(6).chainEnd);
    EXPECT_FALSE(backend_.RemoveModule(0, 7));

    ASSERT_TRUE(backend_.KeyDown(0, 4, 0xD1, true));
    ASSERT_GT(handle_->Read(p.data(), p.size(), 0), 0);
    const auto down = DecodeKeyDown(p).value();
    EXPECT_EQ(down.slot, 4);
    EXPECT_EQ(down.flags, 3);
    EXPECT_EQ(down.layerKey, 0xD1);
    ASSERT_TRUE(backend_.KeyUp(0, 4, 0xD2, 0));
    ASSERT_GT(handle_->Read(p.data(), p.size(), 0), 0);
    const auto up = DecodeKeyUp(p).value();
    EXPECT_TRUE(up.LayerKeyReleased());
    EXPECT_EQ(up.layerKey, 0xD2);
    EXPECT_EQ(up.returnLayer, 0);

    ASSERT_TRUE(backend_.KeyRequest(0, 0x0A0B0C0D, 99));
    ASSERT_GT(handle_->Read(p.data(), p.size(), 0), 0);
    const auto req = DecodeKeyRequest(p).value();
    EXPECT_EQ(req.uid, 0x0A0B0C0Du);
    EXPECT_EQ(req.shortMac, 99);

    ASSERT_TRUE(backend_.BusShort(0));
    ASSERT_GT(handle_->Read(p.data(), p.size(), 0), 0);
    EXPECT_EQ(p[0], 0x36);
    EXPECT_TRUE(Scan(0).chainEnd);
    ASSERT_TRUE(backend_.BusShortGone(0));
    ASSERT_GT(handle_->Read(p.data(), p.size(), 0), 0);
    EXPECT_EQ(p[0], 0x38);
    EXPECT_EQ(Scan(0).uid, 0x11223344u);
}

TEST_F(SimTest, Faults) {
    auto s = SmallKeyboard();
    s.faults.dropNext = 2;
    s.faults.silentCodes = {0x2C};
    Plug(s);
    EXPECT_TRUE(Ask(CmdScanKey(0)).empty());
    EXPECT_TRUE(Ask(CmdScanKey(0)).empty());
    EXPECT_EQ(Scan(0).uid, 0x11223344u);
    EXPECT_TRUE(Ask(CmdGetKeyColor(0)).empty());

    s.faults = {};
    s.faults.wrongScanSlot = true;
    s.faults.wrongMarcoEntry = true;
    Plug(s);
    EXPECT_EQ(Scan(0).slot, 1);
    EXPECT_EQ(DecodeMarco(One(CmdReadMarco(0, 0))).value().EntryNumber(), 1);

    s.faults = {};
    s.faults.extraReportEvery = 2;
    s.faults.extraReport = {0x3C, 9};
    Plug(s);
    EXPECT_EQ(Ask(CmdScanKey(0)).size(), 1u);
    const auto second = Ask(CmdScanKey(0));
    ASSERT_EQ(second.size(), 2u);
    EXPECT_EQ(DecodeKeyDown(second[0]).value().slot, 9);
    EXPECT_EQ(second[1][0], 0x05);
}

TEST(SimKeyboardTest, DropRateIsRepeatableForASeed) {
    auto s = SmallKeyboard();
    s.faults.dropRate = 0.5;
    s.faults.seed = 7;
    SimKeyboard a(s, 1);
    SimKeyboard b(s, 2);
    const auto scan = ToOutputReport(CmdScanKey(0));
    int answered = 0;
    for (int i = 0; i < 200; ++i) {
        const auto ra = a.Handle({scan.data() + 1, kPayloadSize});
        const auto rb = b.Handle({scan.data() + 1, kPayloadSize});
        ASSERT_EQ(ra.size(), rb.size());
        answered += static_cast<int>(ra.size());
    }
    EXPECT_GT(answered, 50);
    EXPECT_LT(answered, 150);
}

TEST(SimBackendTest, EnumeratesTwoInterfacesPerKeyboard) {
    SimBackend backend;
    auto s = SmallKeyboard();
    s.row = 1;
    ASSERT_TRUE(backend.Attach(0, s));
    ASSERT_TRUE(backend.Attach(2, s));  // equal IDs
    const auto list = backend.Enumerate();
    ASSERT_EQ(list.size(), 4u);
    std::set<std::string> paths;
    int vendor = 0;
    for (const auto& d : list) {
        paths.insert(d.path);
        EXPECT_EQ(d.vendorId, 0xBCD0);
        EXPECT_EQ(d.productId, 0x1100);
        EXPECT_EQ(d.release, 0xCC01);
        vendor += d.interfaceNumber == 2 ? 1 : 0;
        EXPECT_EQ(MatchRowPath(1, d), d.interfaceNumber == 2) << d.path;
    }
    EXPECT_EQ(paths.size(), 4u);
    EXPECT_EQ(vendor, 2);

    HidOpenError error = HidOpenError::None;
    EXPECT_EQ(backend.Open("/dev/sim/hidraw99", &error), nullptr);
    EXPECT_EQ(error, HidOpenError::NotFound);

    // The plain keyboard interface opens but carries no vendor reports.
    const auto plain = std::find_if(list.begin(), list.end(),
                                    [](const HidDeviceInfo& d) { return d.interfaceNumber != 2; });
    auto h = backend.Open(plain->path, &error);
    ASSERT_NE(h, nullptr);
    const auto report = ToOutputReport(CmdGetKbmcVer());
    EXPECT_EQ(h->Write(report.data(), report.size()), -1);
    SimPayload p{};
    EXPECT_EQ(h->Read(p.data(), p.size(), 0), 0);
    EXPECT_EQ(h->ProductString(), s.product);
}

// Only full reports with ID 0 reach the controller. A foreign report ID fails the write,
// as the device stalls it; a report of another length goes out but is dropped.
TEST(SimBackendTest, ControllerTakesOnlyFullReportsWithIdZero) {
    SimBackend backend;
    ASSERT_TRUE(backend.Attach(0, SmallKeyboard()));
    auto h = backend.Open(backend.VendorPath(0), nullptr);
    ASSERT_NE(h, nullptr);
    auto report = ToOutputReport(CmdGetKbmcVer());
    SimPayload p{};

    report[0] = 1;
    EXPECT_EQ(h->Write(report.data(), report.size()), -1);
    report[0] = 0;
    EXPECT_EQ(h->Write(report.data(), 1), -1);
    EXPECT_EQ(h->Write(report.data(), 7), 7);
    std::vector<uint8_t> longer(report.begin(), report.end());
    longer.push_back(0);
    EXPECT_EQ(h->Write(longer.data(), longer.size()), static_cast<int>(longer.size()));
    EXPECT_EQ(h->Read(p.data(), p.size(), 50), 0);  // no reply to any of them
    uint64_t ignored = 0;
    backend.WithKeyboard(0, [&](SimKeyboard& k) { ignored = k.IgnoredReports(); });
    EXPECT_EQ(ignored, 2u);

    ASSERT_EQ(h->Write(report.data(), report.size()), static_cast<int>(kReportSize));
    ASSERT_EQ(h->Read(p.data(), p.size(), 10000), static_cast<int>(kPayloadSize));
    EXPECT_EQ(p[0], 0x31);
}

TEST(SimBackendTest, RepliesAreNotReadableBeforeTheLatency) {
    SimBackend backend;
    auto s = SmallKeyboard();
    s.latencyMs = 30;
    ASSERT_TRUE(backend.Attach(0, s));
    auto h = backend.Open(backend.VendorPath(0), nullptr);
    const auto report = ToOutputReport(CmdScanKey(0));
    const auto start = std::chrono::steady_clock::now();
    ASSERT_EQ(h->Write(report.data(), report.size()), static_cast<int>(kReportSize));
    SimPayload p{};
    ASSERT_EQ(h->Read(p.data(), p.size(), 10000), static_cast<int>(kPayloadSize));
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(30));
    EXPECT_EQ(p[0], 0x05);
}

TEST(SimBackendTest, DetachWakesAWaitingReadAndReattachKeepsTheState) {
    SimBackend backend;
    std::mutex mu;
    std::vector<std::pair<SimHotplug, std::string>> seen;
    backend.SetHotplugListener([&](SimHotplug kind, const std::string& path) {
        backend.Enumerate();  // a listener may call back in
        std::lock_guard lock(mu);
        seen.emplace_back(kind, path);
    });
    ASSERT_TRUE(backend.Attach(0, SmallKeyboard()));
    const std::string vendorPath = backend.VendorPath(0);
    auto h = backend.Open(vendorPath, nullptr);
    const auto config = ToOutputReport(CmdWriteKeyConfig(40, {0x2C, 0, 0, 0}, 0));
    ASSERT_GT(h->Write(config.data(), config.size()), 0);

    int result = 0;
    std::thread reader([&] {
        SimPayload p{};
        result = h->Read(p.data(), p.size(), 30000);  // 0 would mean it was never woken
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    ASSERT_TRUE(backend.Detach(0));
    reader.join();
    EXPECT_EQ(result, -1);
    EXPECT_EQ(h->Write(config.data(), config.size()), -1);
    EXPECT_TRUE(backend.Enumerate().empty());

    ASSERT_TRUE(backend.Attach(0));
    SimPayload p{};
    EXPECT_EQ(h->Read(p.data(), p.size(), 0), -1) << "an old handle stays dead";
    EXPECT_EQ(backend.StateOf(0)->modules[0]->hid[0], 0x2C);
    std::lock_guard lock(mu);
    ASSERT_EQ(seen.size(), 6u);
    EXPECT_EQ(seen[2], std::make_pair(SimHotplug::Removed, seen[0].second));
    EXPECT_EQ(seen[3], std::make_pair(SimHotplug::Removed, vendorPath));
    EXPECT_EQ(seen[5].first, SimHotplug::Arrived);
}

// The hook the unplug tests pull cables with: only the chosen command counts, the
// command is obeyed, its reply is lost, and the keyboard is kept for plugging in again.
TEST(SimBackendTest, UnplugAfterTheNthCommandOfACode) {
    SimBackend backend;
    std::atomic<int> removals{0};
    backend.SetHotplugListener([&](SimHotplug kind, const std::string&) {
        removals += kind == SimHotplug::Removed ? 1 : 0;
    });
    ASSERT_TRUE(backend.Attach(0, SmallKeyboard()));
    EXPECT_FALSE(backend.UnplugAfter(1, 0x04, 1)) << "nothing attached there";
    ASSERT_TRUE(backend.UnplugAfter(0, 0x09, 2));
    auto h = backend.Open(backend.VendorPath(0), nullptr);
    const auto scan = ToOutputReport(CmdScanKey(0));
    const auto config = ToOutputReport(CmdWriteKeyConfig(40, {0x2C, 0, 0, 0}, 0));
    SimPayload p{};
    for (int i = 0; i < 3; ++i) {
        ASSERT_GT(h->Write(scan.data(), scan.size()), 0);
        ASSERT_EQ(h->Read(p.data(), p.size(), 10000), static_cast<int>(kPayloadSize));
    }
    ASSERT_GT(h->Write(config.data(), config.size()), 0);
    EXPECT_TRUE(backend.IsAttached(0));
    ASSERT_GT(h->Write(config.data(), config.size()), 0);
    EXPECT_FALSE(backend.IsAttached(0));
    EXPECT_EQ(h->Read(p.data(), p.size(), 0), -1) << "the reply went with the cable";
    EXPECT_EQ(removals.load(), 2);
    EXPECT_EQ(backend.StateOf(0)->modules[0]->hid[0], 0x2C);
    ASSERT_TRUE(backend.Attach(0));
    auto again = backend.Open(backend.VendorPath(0), nullptr);
    ASSERT_GT(again->Write(config.data(), config.size()), 0);
    EXPECT_TRUE(backend.IsAttached(0)) << "a fresh plug-in forgets the trigger";
}

TEST(SimBackendTest, ConcurrentTrafficEventsAndHotplug) {
    SimBackend backend;
    auto s = SmallKeyboard();
    s.latencyMs = 1;
    ASSERT_TRUE(backend.Attach(0, s));
    std::atomic<bool> stop{false};
    std::atomic<int> reads{0};
    auto talker = [&] {
        while (!stop) {
            auto h = backend.Open(backend.VendorPath(0), nullptr);
            if (!h) {
                std::this_thread::yield();
                continue;
            }
            std::thread reader([&] {
                SimPayload p{};
                while (!stop && h->Read(p.data(), p.size(), 5) >= 0) {
                    ++reads;
                }
            });
            const auto r = ToOutputReport(CmdScanKey(0));
            while (!stop && h->Write(r.data(), r.size()) > 0) {
                std::this_thread::sleep_for(std::chrono::microseconds(200));
            }
            reader.join();
        }
    };
    std::thread t(talker);
    for (int i = 0; i < 40; ++i) {
        backend.InsertModule(0, 20, 0xABCD0000u + static_cast<uint32_t>(i), 120, {4, 0, 0, 0}, 0);
        backend.KeyDown(0, 20, 0, false);
        backend.RemoveModule(0, 20);
        if (i % 8 == 7) {
            backend.Detach(0);
            backend.Attach(0);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    stop = true;
    t.join();
    EXPECT_GT(reads.load(), 0);
}

TEST(SimStateTest, JsonRoundTripAndDefaults) {
    auto s = MakeInitialState(20, 2, 1, 50, 42).value();
    s.faults.silentCodes = {0x06};
    s.vendorId = 0x1234;
    std::string error;
    const auto back = ParseSimKeyboardState(SimKeyboardStateToJson(s), &error);
    ASSERT_TRUE(back) << error;
    EXPECT_EQ(*back, s);
    EXPECT_EQ(back->UsbIds().vendorId, 0x1234);
    EXPECT_EQ(back->UsbIds().release, 0xCC02);

    EXPECT_EQ(ParseSimKeyboardState(nlohmann::json::object()).value(), SimKeyboardState{});
    const auto m = ParseSimKeyboardState(nlohmann::json::parse(
        R"({"modules":[{"slot":4,"uid":"0x00C0FFEE","colour":"0x00FFFFFF"}]})"));
    ASSERT_TRUE(m);
    EXPECT_EQ(m->modules[4]->uid, 0x00C0FFEEu);
    EXPECT_EQ(m->modules[4]->shortMac, 5);
    EXPECT_EQ(m->modules[4]->colour, 0x00F0F0F0u);
    EXPECT_EQ(m->modules[4]->marco[0], kErasedMarcoEntry);
}

TEST(SimStateTest, GarbageIsRefusedWithTheField) {
    const struct {
        const char* text;
        const char* mentions;
    } cases[] = {
        {R"({"row": 7})", "row"},
        {R"({"row": "1"})", "row"},
        {R"({"stage": "C"})", "stage"},
        {R"({"version": [1]})", "version"},
        {R"({"latencyMs": -1})", "latencyMs"},
        {R"({"faults": {"dropRate": 2}})", "faults.dropRate"},
        {R"({"faults": {"extraReport": []}})", "faults.extraReport"},
        {R"({"modules": [{"slot": 1}]})", "modules[0]"},
        {R"({"modules": [{"slot": 90, "uid": 1}]})", "modules[0].slot"},
        {R"({"modules": [{"slot": 1, "uid": 0}]})", "uid"},
        {R"({"modules": [{"slot": 1, "uid": "0xZZ"}]})", "uid"},
        {R"({"modules": [{"slot": 1, "uid": 1, "hid": [1, 2, 3]}]})", "hid"},
        {R"({"modules": [{"slot": 1, "uid": 1}, {"slot": 1, "uid": 2}]})", "modules[1]"},
        {R"({"modules": [{"slot": 1, "uid": 1}, {"slot": 2, "uid": 1}]})", "uid"},
        {R"({"modules": [{"slot": 1, "uid": 1, "marco": [{"entry": 65}]}]})", "marco[0].entry"},
        {R"([1, 2])", "keyboard"},
    };
    for (const auto& c : cases) {
        std::string error;
        EXPECT_FALSE(ParseSimKeyboardState(nlohmann::json::parse(c.text), &error)) << c.text;
        EXPECT_NE(error.find(c.mentions), std::string::npos) << c.text << " -> " << error;
    }

    std::string error;
    EXPECT_FALSE(ParseSimFile("{\"keyboards\": [", &error));
    EXPECT_NE(error.find("JSON"), std::string::npos);
    EXPECT_FALSE(ParseSimFile(R"({"keyboards": [{}, {}, {}, {}, {}]})", &error));
    EXPECT_FALSE(ParseSimFile(R"({"keyboards": [{"index": 1}, {"index": 1}]})", &error));
    EXPECT_FALSE(ParseSimFile(R"({"format": 2, "keyboards": []})", &error));
    EXPECT_EQ(ParseSimFile(R"([{"row": 3}])").value().at(0).state.row, 3);
}

TEST(SimBackendTest, FileIsSavedAfterHostChangesAndLoadsBack) {
    const auto dir = TempDir();
    const auto file = dir / "keyboards.json";
    {
        SimBackend backend;
        ASSERT_TRUE(backend.Attach(1, SmallKeyboard()));
        auto kept = SmallKeyboard();
        kept.serial = "UNPLUGGED";
        ASSERT_TRUE(backend.Attach(3, kept));
        ASSERT_TRUE(backend.Detach(3));
        ASSERT_EQ(backend.SaveSimFile(file), SimFileError::None);

        SimBackend other;
        ASSERT_EQ(other.LoadSimFile(file), SimFileError::None);
        auto h = other.Open(other.VendorPath(1), nullptr);
        const auto colour = ToOutputReport(CmdSetKeyColor(0, Rgb4{2, 4, 6}));
        ASSERT_GT(h->Write(colour.data(), colour.size()), 0);
    }
    SimBackend third;
    std::string error;
    ASSERT_EQ(third.LoadSimFile(file, &error), SimFileError::None) << error;
    EXPECT_EQ(third.StateOf(1)->modules[0]->colour, FromRgb4(Rgb4{2, 4, 6}));
    EXPECT_FALSE(third.IsAttached(3));
    EXPECT_EQ(third.StateOf(3)->serial, "UNPLUGGED");
    for (const auto& entry : fs::directory_iterator(dir)) {
        const auto name = entry.path().filename().string();
        EXPECT_TRUE(name == "keyboards.json" || name == "keyboards.json.lock")
            << name << ": no temporary file left behind";
    }

    std::ofstream(dir / "bad.json") << "{\"keyboards\": [{\"row\": 9}]}";
    EXPECT_EQ(third.LoadSimFile(dir / "bad.json", &error), SimFileError::Malformed);
    EXPECT_NE(error.find("keyboards[0].row"), std::string::npos) << error;
    EXPECT_TRUE(third.IsAttached(1)) << "a refused file changes nothing";
    EXPECT_EQ(third.LoadSimFile(dir / "missing.json"), SimFileError::NotFound);
    fs::remove_all(dir);
}

TEST(SimInitTest, InitialKeyboard) {
    const auto s = MakeInitialState(30, 1, 1, 50, 9).value();
    EXPECT_EQ(s, MakeInitialState(30, 1, 1, 50, 9).value());
    EXPECT_EQ(s.ModuleCount(), 30);
    std::set<uint32_t> uids;
    std::set<uint8_t> macs;
    int boot = 0, waiting = 0, layer = 0, marco = 0;
    for (const auto& m : s.modules) {
        if (!m) {
            continue;
        }
        uids.insert(m->uid);
        macs.insert(m->shortMac);
        boot += m->stage == 'B';
        waiting += m->stage == 'A' && m->hid == std::array<uint8_t, 4>{};
        layer += m->hid[0] >= 0xD0 && m->hid[0] <= 0xDF;
        marco += m->hid[0] == 3 && !IsMarcoListEnd(m->marco[0].flag);
        EXPECT_GE(m->shortMac, 1);
        EXPECT_LE(m->shortMac, 127);
    }
    EXPECT_EQ(uids.size(), 30u);
    EXPECT_EQ(uids.count(0), 0u);
    EXPECT_EQ(macs.size(), 30u);
    EXPECT_EQ(boot, 1);
    EXPECT_GE(waiting, 3);
    EXPECT_EQ(layer, 1);
    EXPECT_EQ(marco, 1);

    EXPECT_EQ(MakeInitialState(5, 0, 1, 0, 1).value().ModuleCount(), 5);
    EXPECT_EQ(MakeInitialState(0, 0, 1, 0, 1).value().ModuleCount(), 0);
    EXPECT_FALSE(MakeInitialState(91, 0, 1, 0, 1));
    EXPECT_FALSE(MakeInitialState(10, 4, 1, 0, 1));
    EXPECT_FALSE(MakeInitialState(10, 0, 256, 0, 1));
}

}  // namespace
}  // namespace tavrik::sim
