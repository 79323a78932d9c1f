#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <random>

#include "protocol/fwimage.h"

namespace tavrik {
namespace {

// Builds images independently of the code under test: plain bytes with the sums
// fixed, the vector patch applied by hand, then scrambled by hand.
class FirmwareImageTest : public ::testing::Test {
protected:
    std::unique_ptr<FirmwareBuffer> plain = std::make_unique<FirmwareBuffer>();

    void SetUp() override {
        std::mt19937 rng(42);
        for (auto& b : *plain) {
            b = static_cast<uint8_t>(rng());
        }
        FixSum(0x00000, 0xE000, 0x01, 0x0DFFF);
        FixSum(0x0EA00, 4608, 0, 0x0FBFF);
        FixSum(0x10000, 0xE000, 0x02, 0x1DFFF);
    }

    // Sets the last byte of a region so that its sum, as seen after patching, is 0xFF.
    void FixSum(size_t offset, size_t size, uint8_t bank, size_t fixAt) {
        auto patched = *plain;
        if (bank != 0) {
            for (size_t at = offset + 4; at <= offset + 292; at += 4) {
                patched[at + 2] = bank;
                patched[at + 3] = 0x08;
            }
        }
        unsigned sum = 0;
        for (size_t i = offset; i < offset + size; ++i) {
            if (i != fixAt) {
                sum += patched[i];
            }
        }
        (*plain)[fixAt] = static_cast<uint8_t>(0xFF - (sum & 0xFF));
    }

    FirmwareBuffer Stored() const {
        FirmwareBuffer s = *plain;
        for (size_t i = 0; i < s.size(); ++i) {
            s[i] = static_cast<uint8_t>(s[i] ^ (1u << (i & 7)));
        }
        return s;
    }

    std::string WriteFile(const std::string& name, const uint8_t* data, size_t size) {
        const auto path = std::filesystem::path(::testing::TempDir()) / name;
        std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(data), size);
        return path.string();
    }
};

TEST_F(FirmwareImageTest, GoodImagePassesBothChecksAndStaysStoredAndPatched) {
    auto buf = std::make_unique<FirmwareBuffer>(Stored());
    EXPECT_EQ(CheckSingleImage(*buf), kFwImageOk);
    // The engine gets the stored form with the controller vectors patched.
    const FirmwareBuffer stored = Stored();
    EXPECT_EQ((*buf)[4 + 2], static_cast<uint8_t>(0x01 ^ (1u << 6)));
    EXPECT_EQ((*buf)[292 + 3], static_cast<uint8_t>(0x08 ^ (1u << 7)));
    EXPECT_EQ((*buf)[296 + 2], stored[296 + 2]);  // past the 73 entries
    EXPECT_EQ((*buf)[0x10004 + 2], stored[0x10004 + 2]);

    *buf = Stored();
    EXPECT_EQ(CheckDualImage(*buf), kFwImageOk);
    EXPECT_EQ((*buf)[0x10124 + 2], static_cast<uint8_t>(0x02 ^ (1u << 6)));
    EXPECT_EQ(CheckDualImage(*buf), kFwImageOk);  // checking again changes nothing
}

TEST_F(FirmwareImageTest, WrongSumsGiveTheirCodes) {
    auto buf = std::make_unique<FirmwareBuffer>();

    (*plain)[0x100] ^= 0x10;  // controller image
    *buf = Stored();
    EXPECT_EQ(CheckSingleImage(*buf), kFwImageBadKbmcSum);
    (*plain)[0x100] ^= 0x10;

    (*plain)[0x0EA00] ^= 0x01;  // key module application area
    *buf = Stored();
    EXPECT_EQ(CheckSingleImage(*buf), kFwImageBadKeySum);
    *buf = Stored();
    EXPECT_EQ(CheckDualImage(*buf), kFwImageBadKeySum);
    (*plain)[0x0EA00] ^= 0x01;

    (*plain)[0x0E000] ^= 0x01;  // key image head is outside the summed area
    (*plain)[0x0FC00] ^= 0x01;  // not examined
    *buf = Stored();
    EXPECT_EQ(CheckSingleImage(*buf), kFwImageOk);

    (*plain)[0x12345] ^= 0x04;  // variant image: only the dual check sees it
    *buf = Stored();
    EXPECT_EQ(CheckSingleImage(*buf), kFwImageOk);
    *buf = Stored();
    EXPECT_EQ(CheckDualImage(*buf), kFwImageBadKbmcSum);
}

TEST_F(FirmwareImageTest, WrappedImageIsCheckedFromItsOffset) {
    const FirmwareBuffer stored = Stored();
    std::vector<uint8_t> file(kFwBufferSize, 0x5A);
    const uint8_t head[16] = {0x50, 0x4B, 0x03, 0x04, 0x14, 0x00, 0x00, 0x00,
                              0x08, 0x00, 0x22, 0x91, 0x2E, 0x4D, 0x7D, 0x7B};
    std::copy(std::begin(head), std::end(head), file.begin());
    std::copy(stored.begin(), stored.end() - kFwWrapperSkip, file.begin() + kFwWrapperSkip);

    auto buf = std::make_unique<FirmwareBuffer>();
    const auto path = WriteFile("wrapped.bin", file.data(), file.size());
    ASSERT_EQ(LoadFirmwareFile(path, *buf), FirmwareLoadResult::Ok);
    EXPECT_TRUE(HasFirmwareWrapper(*buf));
    EXPECT_EQ(CheckDualImage(*buf), kFwImageOk);
    EXPECT_FALSE(HasFirmwareWrapper(*buf));

    file[1] = 0x4C;  // not the wrapper: checked from offset 0 and refused
    const auto plainPath = WriteFile("unwrapped.bin", file.data(), file.size());
    ASSERT_EQ(LoadFirmwareFile(plainPath, *buf), FirmwareLoadResult::Ok);
    EXPECT_EQ(CheckSingleImage(*buf), kFwImageBadKbmcSum);
}

TEST_F(FirmwareImageTest, LoadingClearsWhatAnEarlierFileLeft) {
    const FirmwareBuffer stored = Stored();
    auto buf = std::make_unique<FirmwareBuffer>();
    size_t length = 0;
    const auto full = WriteFile("full.bin", stored.data(), stored.size());
    ASSERT_EQ(LoadFirmwareFile(full, *buf, &length), FirmwareLoadResult::Ok);
    EXPECT_EQ(length, kFwBufferSize);
    ASSERT_EQ(CheckSingleImage(*buf), kFwImageOk);

    // A truncated copy must not pass on the bytes the full file left behind.
    const auto part = WriteFile("part.bin", stored.data(), 1000);
    ASSERT_EQ(LoadFirmwareFile(part, *buf, &length), FirmwareLoadResult::Ok);
    EXPECT_EQ(length, 1000u);
    EXPECT_EQ((*buf)[1000], 0);
    EXPECT_EQ(CheckSingleImage(*buf), kFwImageBadKbmcSum);
}

TEST_F(FirmwareImageTest, FileSizeLimits) {
    std::vector<uint8_t> big(kFwBufferSize + 1, 0);
    auto buf = std::make_unique<FirmwareBuffer>();
    EXPECT_EQ(LoadFirmwareFile(WriteFile("big.bin", big.data(), big.size()), *buf),
              FirmwareLoadResult::TooLarge);
    EXPECT_EQ(LoadFirmwareFile(WriteFile("exact.bin", big.data(), kFwBufferSize), *buf),
              FirmwareLoadResult::Ok);
    EXPECT_EQ(LoadFirmwareFile(WriteFile("empty.bin", big.data(), 0), *buf),
              FirmwareLoadResult::Ok);
    EXPECT_EQ(LoadFirmwareFile("/nonexistent/fw.bin", *buf), FirmwareLoadResult::CannotOpen);
    EXPECT_EQ(LoadFirmwareFile(::testing::TempDir(), *buf), FirmwareLoadResult::CannotOpen);
}

TEST(FirmwareCheckPlan, ChoosesCheckAndBigChangeByStageAndVersion) {
    auto plan = [](int stageVer) {
        const auto p = PlanFirmwareCheck(stageVer);
        return std::make_pair(p.dual, p.bigChange);
    };
    EXPECT_EQ(plan(('B' << 16) | 0x0128), std::make_pair(false, true));
    EXPECT_EQ(plan(-1), std::make_pair(false, true));
    EXPECT_EQ(plan(('A' << 16) | 0x0113), std::make_pair(false, true));
    EXPECT_EQ(plan(('A' << 16) | 0x0114), std::make_pair(true, true));   // V1.20
    EXPECT_EQ(plan(('A' << 16) | 0x011E), std::make_pair(true, true));   // V1.30
    EXPECT_EQ(plan(('A' << 16) | 0x0128), std::make_pair(true, false));  // V1.40
}

TEST(FirmwarePath, KindThreeNeedsItsMarker) {
    EXPECT_TRUE(FirmwarePathAllowed(3, "/home/u/.local/share/Tavrik/ZPN31newFw.bin"));
    EXPECT_FALSE(FirmwarePathAllowed(3, "/home/u/newFw.bin"));
    EXPECT_FALSE(FirmwarePathAllowed(3, "/home/u/zpn31.bin"));  // case matters
    EXPECT_TRUE(FirmwarePathAllowed(1, "/home/u/newFw.bin"));
}

}  // namespace
}  // namespace tavrik
