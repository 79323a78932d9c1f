#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <initializer_list>
#include <variant>
#include <vector>

#include "protocol/cipher.h"
#include "protocol/commands.h"
#include "protocol/enable_report.h"
#include "protocol/protocol.h"
#include "protocol/reports.h"

namespace tavrik {
namespace {

std::vector<uint8_t> Bytes(const Command& c) {
    return {c.Payload().begin(), c.Payload().end()};
}

// A 64-byte payload starting with `head`, zeros after it.
std::array<uint8_t, kPayloadSize> Payload64(std::initializer_list<uint8_t> head) {
    std::array<uint8_t, kPayloadSize> p{};
    std::copy(head.begin(), head.end(), p.begin());
    return p;
}

// ---- Commands ----

TEST(ProtocolTest, CommandCodesAndLengths) {
    const std::array<uint8_t, kChunkSize> chunk{};
    const struct {
        Command command;
        uint8_t code;
        size_t size;
    } cases[] = {
        {CmdScanKey(1), 0x04, 2},
        {CmdGetKeyVer(1), 0x06, 2},
        {CmdWriteKeyConfig(1, {}, 0), 0x09, 7},
        {CmdQueryReady(UpgradeTarget::KeyModule), 0x0A, 1},
        {CmdQueryReady(UpgradeTarget::Kbmc), 0x0A, 8},
        {CmdWriteChunk(0, chunk), 0x0C, 36},
        {CmdKeyUpgradeStart(), 0x10, 2},
        {CmdKeyUpgradeState(), 0x12, 2},
        {CmdEnterBootloader(), 0x1C, 8},
        {CmdErase(), 0x1E, 8},
        {CmdProgramStart(), 0x20, 8},
        {CmdUpgradeEnd(), 0x22, 8},
        {CmdKbmcUpgradeState(), 0x26, 2},
        {CmdBlinkKey(1, BlinkMode::Blink, {}), 0x2A, 6},
        {CmdGetKeyColor(1), 0x2C, 2},
        {CmdSetKeyColor(1, {}), 0x2E, 6},
        {CmdGetKbmcVer(), 0x30, 6},
        {CmdGetUsbRate(), 0x32, 6},
        {CmdSetUsbRate(2), 0x34, 6},
        {CmdHostActive(true), 0x3A, 2},
        {CmdWriteMarco(1, 0, 0, 0, 0), 0x40, 64},
        {CmdReadMarco(1, 0), 0x42, 64},
        {CmdSetMode(ModeSetting::KeyMax, 60), 0x44, 6},
        {CmdLayerSwitch(LayerSwitchKind::SwitchTo, 0, 0, 0xD0, 1), 0x46, 8},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.code);
        EXPECT_EQ(c.command.Code(), c.code);
        EXPECT_EQ(c.command.Size(), c.size);
    }
}

TEST(ProtocolTest, ShortCommandSitsBehindReportIdInZeroFilledReport) {
    const OutputReport report = ToOutputReport(CmdScanKey(7));
    OutputReport expected{};
    expected[1] = 0x04;
    expected[2] = 7;
    EXPECT_EQ(report, expected);
}

TEST(ProtocolTest, CommandFromBytesRefusesEmptyAndOversizedPayloads) {
    const std::vector<uint8_t> tooLong(kPayloadSize + 1, 0x40);
    EXPECT_FALSE(Command::FromBytes({}).has_value());
    EXPECT_FALSE(Command::FromBytes(tooLong).has_value());
    const auto full = Command::FromBytes(std::span(tooLong).first(kPayloadSize));
    ASSERT_TRUE(full.has_value());
    EXPECT_EQ(full->Size(), kPayloadSize);
}

TEST(ProtocolTest, KeyConfigCarriesLayersOneToThreeThenFlagThenLayerZero) {
    EXPECT_EQ(Bytes(CmdWriteKeyConfig(0x21, {0x04, 0x05, 0x06, 0x07}, 0x80)),
              (std::vector<uint8_t>{0x09, 0x21, 0x05, 0x06, 0x07, 0x80, 0x04}));
}

TEST(ProtocolTest, MarcoCommandsOffsetEntryAndSendDelayHighByteFirst) {
    const auto write = Bytes(CmdWriteMarco(12, 3, 0x01, 0x04, 0x012C));
    EXPECT_EQ(std::vector<uint8_t>(write.begin(), write.begin() + 7),
              (std::vector<uint8_t>{0x40, 12, 8, 0x01, 0x04, 0x01, 0x2C}));
    EXPECT_TRUE(std::all_of(write.begin() + 7, write.end(), [](uint8_t b) { return b == 0; }));

    const auto read = Bytes(CmdReadMarco(12, 0));
    EXPECT_EQ(read[1], 12);
    EXPECT_EQ(read[2], 5);
    EXPECT_TRUE(std::all_of(read.begin() + 3, read.end(), [](uint8_t b) { return b == 0; }));
}

TEST(ProtocolTest, SetModeAppendsTheFixedPairOfItsSetting) {
    EXPECT_EQ(Bytes(CmdSetMode(ModeSetting::KeyMax, 60)),
              (std::vector<uint8_t>{0x44, 1, 3, 60, 0x16, 0x25}));
    EXPECT_EQ(Bytes(CmdSetMode(ModeSetting::FullKeyRollover, 1)),
              (std::vector<uint8_t>{0x44, 1, 4, 1, 0x17, 0x20}));
}

TEST(ProtocolTest, LayerSwitchOffsetsDeviceAndSlotAndMasksLayerByte) {
    EXPECT_EQ(Bytes(CmdLayerSwitch(LayerSwitchKind::SwitchTo, 1, 4, 0xD1, 0xFD)),
              (std::vector<uint8_t>{0x46, 1, 2, 2, 5, 0xD1, 0x81, 0}));
    EXPECT_EQ(Bytes(CmdLayerSwitch(LayerSwitchKind::ReturnToPrevious, 3, 89, 0xD2, 0x40))[2], 3);
}

TEST(ProtocolTest, ChunkCarriesLittleEndianAddressThenData) {
    std::array<uint8_t, kChunkSize> data{};
    for (size_t i = 0; i < data.size(); ++i) {
        data[i] = static_cast<uint8_t>(0xA0 + i);
    }
    const auto bytes = Bytes(CmdWriteChunk(0x1234, data));
    EXPECT_EQ(bytes[1], 0);
    EXPECT_EQ(bytes[2], 0x34);
    EXPECT_EQ(bytes[3], 0x12);
    EXPECT_TRUE(std::equal(data.begin(), data.end(), bytes.begin() + 4));
}

TEST(ProtocolTest, ColourTravelsAsTopNibblesAndComesBackShifted) {
    const Rgb4 rgb = ToRgb4(0x00F08A1F);
    EXPECT_EQ(rgb, (Rgb4{1, 8, 15}));
    EXPECT_EQ(FromRgb4(rgb), 0x00F08010u);
    // Intensities above 15 wrap like the controller's bytes do.
    EXPECT_EQ(FromRgb4({0x1F, 0x10, 0xFF}), 0x00F000F0u);
    EXPECT_EQ(Bytes(CmdSetKeyColor(9, rgb)), (std::vector<uint8_t>{0x2E, 9, 0, 1, 8, 15}));
    EXPECT_EQ(Bytes(CmdBlinkKey(9, BlinkMode::RestoreColour, rgb)),
              (std::vector<uint8_t>{0x2A, 9, 2, 1, 8, 15}));
}

// ---- Reports ----

template <typename T>
T Expect(const Report& r) {
    EXPECT_TRUE(std::holds_alternative<T>(r)) << "variant index " << r.index();
    return std::holds_alternative<T>(r) ? std::get<T>(r) : T{};
}

TEST(ReportTest, DecodesFieldsAndByteOrders) {
    const auto info = Expect<KeyInfoReport>(DecodeReport(
        Payload64({0x05, 0x85, 0x78, 0x56, 0x34, 0x12, 0xA1, 0x04, 0x05, 0x06, 0x07, 0x42})));
    EXPECT_EQ(info.slot, 5);
    EXPECT_TRUE(info.chainEnd);
    EXPECT_EQ(info.uid, 0x12345678u);
    EXPECT_EQ(info.shortMac, 0x21);
    EXPECT_TRUE(info.bootloader);
    EXPECT_EQ(info.hid, (std::array<uint8_t, 4>{4, 5, 6, 7}));
    EXPECT_EQ(info.flag, 0x42);

    const auto insert = Expect<KeyInsertEvent>(
        DecodeReport(Payload64({0x18, 0, 0x78, 0x56, 0x34, 0x12, 90, 4, 0, 0xFF, 0xE0, 1})));
    EXPECT_EQ(insert.uid, 0x12345678u);
    EXPECT_EQ(insert.slot, 89);
    EXPECT_EQ(insert.hid, (std::array<uint8_t, 4>{4, 0, 0xFF, 0xE0}));

    EXPECT_EQ(
        Expect<KeyUpgradeStateReport>(DecodeReport(Payload64({0x13, 0, 0x00, 0x1C}))).progress,
        7168);
    EXPECT_EQ(
        Expect<KbmcUpgradeStateReport>(DecodeReport(Payload64({0x27, 0, 0x00, 0xE0}))).progress,
        0xE000);

    const auto marco =
        Expect<MarcoReport>(DecodeReport(Payload64({0x43, 7, 8, 1, 0x04, 0x01, 0x2C, 0x99})));
    EXPECT_EQ(marco.EntryNumber(), 3);
    EXPECT_EQ(marco.delay, 0x012C);
    EXPECT_EQ(marco.raw[7], 0x99);

    const auto colour = Expect<KeyColorReport>(DecodeReport(Payload64({0x2D, 89, 0, 1, 8, 15})));
    EXPECT_EQ(colour.Colour(), 0x00F08010u);

    const auto down = Expect<KeyDownEvent>(DecodeReport(Payload64({0x3C, 4, 3, 0xD1})));
    EXPECT_TRUE(down.LayerKeyPressed());
    EXPECT_TRUE(down.ExtraFlag());
    const auto up = Expect<KeyUpEvent>(DecodeReport(Payload64({0x3E, 4, 1, 0xD2, 2})));
    EXPECT_TRUE(up.LayerKeyReleased());
    EXPECT_EQ(up.returnLayer, 2);

    EXPECT_TRUE(Expect<EnableKbmcReport>(DecodeReport(Payload64({0x49, 0, 1}))).accepted);
    EXPECT_FALSE(Expect<EnableKbmcReport>(DecodeReport(Payload64({0x49, 1, 1}))).accepted);
    EXPECT_TRUE(Expect<BackupChecksumReport>(DecodeReport(Payload64({0x25, 0, 1}))).correct);
    EXPECT_FALSE(Expect<UsbRateReport>(DecodeReport(Payload64({0x33, 1, 4}))).Valid());
}

TEST(ReportTest, RefusesPayloadsShorterThanTheirFields) {
    // Smallest payload each report needs.
    const std::pair<uint8_t, size_t> needs[] = {
        {0x05, 12}, {0x07, 5}, {0x08, 6}, {0x0B, 2}, {0x0D, 2}, {0x0F, 1},  {0x13, 4},
        {0x18, 12}, {0x1A, 7}, {0x25, 3}, {0x27, 4}, {0x2D, 6}, {0x31, 16}, {0x33, 3},
        {0x36, 1},  {0x38, 1}, {0x3C, 4}, {0x3E, 5}, {0x43, 8}, {0x49, 3},
    };
    for (const auto& [code, size] : needs) {
        SCOPED_TRACE(code);
        // A slot number that is valid for every report that has one.
        std::vector<uint8_t> p(size, 1);
        p[0] = code;
        EXPECT_FALSE(std::holds_alternative<MalformedReport>(DecodeReport(p)));
        p.pop_back();
        if (!p.empty()) {
            const Report r = DecodeReport(p);
            ASSERT_TRUE(std::holds_alternative<MalformedReport>(r));
            EXPECT_EQ(std::get<MalformedReport>(r).code, code);
        }
    }
}

TEST(ReportTest, RefusesSlotsOutsideTheKeyTable) {
    const auto malformed = [](std::initializer_list<uint8_t> head) {
        return std::holds_alternative<MalformedReport>(DecodeReport(Payload64(head)));
    };
    EXPECT_TRUE(malformed({0x05, 90}));
    EXPECT_TRUE(malformed({0x05, 0x80 | 90}));
    EXPECT_FALSE(malformed({0x05, 0x80 | 89}));
    EXPECT_TRUE(malformed({0x07, 90}));
    EXPECT_TRUE(malformed({0x2D, 90}));
    EXPECT_TRUE(malformed({0x2D, 200}));
    EXPECT_FALSE(malformed({0x2D, 89}));
    EXPECT_TRUE(malformed({0x3C, 90}));
    EXPECT_TRUE(malformed({0x3E, 255}));
    EXPECT_TRUE(malformed({0x43, 90}));
    // Insert and lost events count slots from 1.
    EXPECT_TRUE(malformed({0x18, 0, 1, 2, 3, 4, 0}));
    EXPECT_TRUE(malformed({0x18, 0, 1, 2, 3, 4, 91}));
    EXPECT_TRUE(malformed({0x1A, 0, 0, 0, 0, 0, 0}));
    EXPECT_TRUE(malformed({0x1A, 0, 0, 0, 0, 0, 91}));
    EXPECT_EQ(Expect<KeyLostEvent>(DecodeReport(Payload64({0x1A, 0, 0, 0, 0, 0, 1}))).slot, 0);
}

TEST(ReportTest, CodesOutsideTheTableAreUndefined) {
    for (uint8_t code : {0x00, 0x04, 0x30, 0x4A, 0xFF}) {
        const Report r = DecodeReport(Payload64({code}));
        ASSERT_TRUE(std::holds_alternative<UndefinedReport>(r));
        EXPECT_EQ(std::get<UndefinedReport>(r).code, code);
    }
    EXPECT_TRUE(std::holds_alternative<UndefinedReport>(DecodeReport({})));
}

KbmcVersionUpdate Version(uint8_t secondary, uint8_t stage, uint16_t w, uint8_t b6 = 44,
                          uint8_t b7 = 0x0C, uint8_t b8 = 60) {
    const auto p =
        Payload64({0x31, secondary, stage, static_cast<uint8_t>(w >> 8),
                   static_cast<uint8_t>(w & 0xFF), 3, b6, b7, b8, 9, 10, 11, 12, 13, 14, 15});
    const auto report = DecodeKbmcVer(p);
    EXPECT_TRUE(report.has_value());
    return report ? InterpretKbmcVer(*report) : KbmcVersionUpdate{};
}

TEST(ReportTest, VersionReplyFieldsFollowTheVersionWord) {
    const std::array<uint8_t, 8> key = {60, 9, 10, 11, 12, 13, 14, 15};

    const auto v264 = Version(0, 'A', 264);
    EXPECT_EQ(v264.stage, 'A');
    EXPECT_EQ(v264.verHi, 1);
    EXPECT_EQ(v264.verLo, 8);
    EXPECT_EQ(v264.cipherKey, key);
    EXPECT_FALSE(v264.usbRate || v264.keyMax || v264.keyMaxStd || v264.keyMaxOver || v264.nkro);

    const auto v265 = Version(0, 'A', 265);
    EXPECT_EQ(v265.usbRate, 3);
    EXPECT_EQ(v265.keyMax, 44);
    EXPECT_EQ(v265.keyMaxStd, 44);
    EXPECT_EQ(v265.keyMaxOver, 60);
    EXPECT_FALSE(v265.nkro.has_value());
    EXPECT_FALSE(Version(0, 'A', 266).nkro.has_value());

    const auto v267 = Version(0, 'A', 267);
    EXPECT_EQ(v267.nkro, true);
    EXPECT_FALSE(v267.hwVariant.has_value());
    EXPECT_EQ(Version(0, 'A', 267, 44, 0x08).nkro, false);
    EXPECT_EQ(Version(0, 'A', 276, 44, 0x0C).hwVariant, 1);
    EXPECT_FALSE(Version(0, 'A', 305).overload.has_value());

    const auto over = Version(0, 'A', 306, 44, 0, 60);
    EXPECT_EQ(over.overload, true);
    EXPECT_EQ(over.keyMax, 60);
    EXPECT_EQ(over.keyMaxStd, 44);
    const auto standard = Version(0, 'A', 306, 44, 0, 44);
    EXPECT_EQ(standard.overload, false);
    EXPECT_EQ(standard.keyMax, 44);
}

TEST(ReportTest, VersionReplyAlwaysDeliversTheCipherKey) {
    const auto secondary = Version(1, 'A', 306);
    EXPECT_FALSE(secondary.stage || secondary.verHi || secondary.usbRate || secondary.keyMax);
    EXPECT_EQ(secondary.cipherKey[7], 15);

    const auto boot = Version(0, 'B' + 1, 306);
    EXPECT_EQ(boot.stage, 'B');
    EXPECT_FALSE(boot.verHi || boot.usbRate || boot.keyMax || boot.overload);
    EXPECT_EQ(boot.cipherKey[1], 9);
}

// ---- Enable/disable report ----

constexpr std::array<uint8_t, 8> kKey = {0x3C, 0x5A, 0x7E, 0x91, 0x02, 0x46, 0x8A, 0xCE};

RandomSource Counter() {
    return [n = uint8_t{0}]() mutable { return n++; };
}

std::array<uint8_t, 8> PlainBlock(const Command& c, size_t block) {
    std::array<uint8_t, 8> plain{};
    DecipherBlock(kKey.data(), &c.Payload()[8 + 8 * block], plain.data());
    return plain;
}

TEST(EnableReportTest, CarriesMarkersInSeparatelyEncipheredBlocks) {
    const Command on = BuildEnableKbmc(true, kKey, Counter());
    ASSERT_EQ(on.Size(), kPayloadSize);
    EXPECT_EQ((std::vector<uint8_t>(on.Payload().begin(), on.Payload().begin() + 8)),
              (std::vector<uint8_t>{0x48, 0, 1, 0, 1, 2, 3, 4}));
    const char markerOn[] = {'k', ' ', 'o', 'n'};
    for (size_t b = 0; b < 7; ++b) {
        const auto plain = PlainBlock(on, b);
        // Filler continues the injected sequence; blocks 1..4 start with a marker.
        const uint8_t firstFiller = static_cast<uint8_t>(5 + 8 * b);
        EXPECT_EQ(plain[0], b < 4 ? static_cast<uint8_t>(markerOn[b]) : firstFiller);
        EXPECT_EQ(plain[7], firstFiller + 7);
    }
    EXPECT_EQ(CheckEnableKbmc(on.Payload(), kKey), true);

    const Command off = BuildEnableKbmc(false, kKey, Counter());
    EXPECT_EQ(off.Payload()[2], 0);
    EXPECT_EQ(PlainBlock(off, 1)[0], 'o');
    EXPECT_EQ(CheckEnableKbmc(off.Payload(), kKey), false);
}

TEST(EnableReportTest, DefaultFillerDiffersBetweenReportsButStillChecks) {
    const Command a = BuildEnableKbmc(true, kKey);
    const Command b = BuildEnableKbmc(true, kKey, RandomSource{});
    EXPECT_NE(a, b);
    EXPECT_EQ(CheckEnableKbmc(a.Payload(), kKey), true);
    EXPECT_EQ(CheckEnableKbmc(b.Payload(), kKey), true);
}

TEST(EnableReportTest, RefusesTamperedShortOrForeignReports) {
    const Command on = BuildEnableKbmc(true, kKey, Counter());
    const auto mutated = [&on](size_t index, uint8_t value) {
        std::vector<uint8_t> p(on.Payload().begin(), on.Payload().end());
        p[index] = value;
        return p;
    };

    std::array<uint8_t, 8> otherKey = kKey;
    otherKey[0] ^= 0x02;  // a bit the key schedule uses
    EXPECT_FALSE(CheckEnableKbmc(on.Payload(), otherKey).has_value());
    EXPECT_FALSE(CheckEnableKbmc(mutated(17, on.Payload()[17] ^ 0x01), kKey).has_value());
    EXPECT_FALSE(CheckEnableKbmc(mutated(2, 0), kKey).has_value());
    EXPECT_FALSE(CheckEnableKbmc(mutated(0, 0x46), kKey).has_value());
    EXPECT_FALSE(CheckEnableKbmc(on.Payload().first(63), kKey).has_value());
}

}  // namespace
}  // namespace tavrik
