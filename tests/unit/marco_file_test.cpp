#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

#include "macro/marco_codec.h"
#include "macro/marco_file.h"

namespace tavrik {
namespace {

namespace fs = std::filesystem;

class MarcoFileTest : public ::testing::Test {
protected:
    fs::path dir;

    void SetUp() override {
        dir = fs::path(::testing::TempDir()) /
              ("marco_file_" +
               std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
        fs::remove_all(dir);
        fs::create_directories(dir);
    }
    void TearDown() override { fs::remove_all(dir); }

    fs::path Write(const std::string& name, const std::vector<uint8_t>& bytes) {
        const auto path = dir / name;
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
        return path;
    }

    static std::vector<uint8_t> Read(const fs::path& path) {
        std::ifstream in(path, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), {}};
    }

    std::vector<fs::path> Listing() const {
        std::vector<fs::path> out;
        for (const auto& e : fs::directory_iterator(dir)) {
            out.push_back(e.path().filename());
        }
        return out;
    }
};

MarcoRecord ThreeStepSingleShot() {
    const std::vector<MarcoEntry> steps{{1, 0x04, 10}, {2, 0x04, 10}, {1, 0x05, 10}};
    return *EncodeMarco(MarcoMode::SingleShot, MarcoSteps::FromEntries(steps), 10);
}

std::vector<uint8_t> ThreeStepFile() {
    std::vector<uint8_t> f = {0x43, 0x41, 0x4D, 0x43, 0x01, 0x00, 0x00, 0x00, 0,    0,    0,
                              0,    0,    0,    0,    0,    0x01, 0x00, 0x00, 0x00, 0x01, 0x04,
                              0x0A, 0x00, 0x02, 0x04, 0x0A, 0x00, 0x01, 0x05, 0x0A, 0x00};
    f.resize(280, 0);
    return f;
}

TEST_F(MarcoFileTest, WritesTheExactFileImage) {
    const auto bytes = SerializeMarcoRecord(ThreeStepSingleShot());
    EXPECT_EQ(std::vector<uint8_t>(bytes.begin(), bytes.end()), ThreeStepFile());

    // The head is the file's own even for a record that never had one, and delays are
    // little-endian whatever the host.
    MarcoRecord bare;
    bare.entries[64] = {0x02, 0x29, 0xEA60};
    const auto b = SerializeMarcoRecord(bare);
    EXPECT_EQ(b[0], 0x43);
    EXPECT_EQ(b[4], 0x01);
    EXPECT_EQ(b[276], 0x02);
    EXPECT_EQ(b[277], 0x29);
    EXPECT_EQ(b[278], 0x60);
    EXPECT_EQ(b[279], 0xEA);

    const auto path = dir / "three.tvm";
    ASSERT_EQ(SaveMarcoFile(path, ThreeStepSingleShot()), MarcoFileStatus::Ok);
    EXPECT_EQ(Read(path), ThreeStepFile());
    EXPECT_EQ(Listing(), std::vector<fs::path>{"three.tvm"});  // no temporary left over
}

TEST_F(MarcoFileTest, ParseChecksTheHeadAndToleratesAnyLength) {
    auto file = ThreeStepFile();
    auto ok = ParseMarcoFileBytes(file);
    ASSERT_EQ(ok.status, MarcoFileStatus::Ok);
    EXPECT_EQ(ok.record, ThreeStepSingleShot());

    auto v2 = file;
    v2[4] = 2;
    EXPECT_EQ(ParseMarcoFileBytes(v2).status, MarcoFileStatus::InvalidData);
    auto badMagic = file;
    badMagic[3] = 0x44;
    EXPECT_EQ(ParseMarcoFileBytes(badMagic).status, MarcoFileStatus::InvalidData);
    EXPECT_EQ(ParseMarcoFileBytes({}).status, MarcoFileStatus::InvalidData);
    EXPECT_EQ(ParseMarcoFileBytes(std::span(file).first(7)).status, MarcoFileStatus::InvalidData);

    // Flag and reserved bytes are not tested.
    auto odd = file;
    odd[10] = 0x99;
    odd[16] = 0;
    EXPECT_EQ(ParseMarcoFileBytes(odd).status, MarcoFileStatus::Ok);

    // A short file that holds its End mark loads; what it does not reach reads as zero.
    for (size_t size : {33u, 36u, 100u}) {
        const auto shortRec = ParseMarcoFileBytes(std::span(file).first(size));
        ASSERT_EQ(shortRec.status, MarcoFileStatus::Ok) << size;
        EXPECT_EQ(shortRec.record, ThreeStepSingleShot()) << size;
    }
    // One cut before its End was cut off inside the macro: the keys it pressed would
    // never be released. A head without entries is no macro either.
    for (size_t size : {20u, 26u, 32u}) {
        EXPECT_EQ(ParseMarcoFileBytes(std::span(file).first(size)).status,
                  MarcoFileStatus::InvalidData)
            << size;
    }
}

TEST_F(MarcoFileTest, ACombinationCutAfterItsKeyDownsIsRefused) {
    MarcoSteps steps;
    ASSERT_TRUE(steps.Insert(0, {MarcoFlag::KeyDown, 0xE0, 10}));
    ASSERT_TRUE(steps.Insert(1, {MarcoFlag::KeyDown, 0x06, 10}));
    const auto bytes = SerializeMarcoRecord(*EncodeMarco(MarcoMode::Combination, steps, 10));
    const auto cut = LoadMarcoFile(Write("ctrl-c.tvm", {bytes.begin(), bytes.begin() + 30}));
    EXPECT_EQ(cut.status, MarcoFileStatus::InvalidData);
    // 280 bytes or more load as they always did, whatever the list holds.
    EXPECT_EQ(LoadMarcoFile(Write("whole.tvm", {bytes.begin(), bytes.end()})).status,
              MarcoFileStatus::Ok);
}

TEST_F(MarcoFileTest, LoadsTheFirst280BytesOfAnyFile) {
    auto big = ThreeStepFile();
    big.resize(1000, 0x77);  // trailing bytes would decode as steps if read
    const auto loaded = LoadMarcoFile(Write("big.macro", big));
    ASSERT_EQ(loaded.status, MarcoFileStatus::Ok);
    EXPECT_EQ(loaded.record, ThreeStepSingleShot());

    EXPECT_EQ(LoadMarcoFile(Write("empty.tvm", {})).status, MarcoFileStatus::InvalidData);
    auto head = ThreeStepFile();
    head.resize(20);
    head.resize(24, 0);  // the head and an End
    const auto headOnly = LoadMarcoFile(Write("head.tvm", head));
    ASSERT_EQ(headOnly.status, MarcoFileStatus::Ok);
    EXPECT_TRUE(DecodeMarco(headOnly.record.entries, 64).steps.Empty());

    EXPECT_EQ(LoadMarcoFile(dir / "missing.tvm").status, MarcoFileStatus::CannotOpen);
    const auto dirLoad = LoadMarcoFile(dir);
    EXPECT_EQ(dirLoad.status, MarcoFileStatus::CannotOpen);
    EXPECT_EQ(dirLoad.error, "'" + dir.string() + "' is not a regular file");
}

TEST_F(MarcoFileTest, AutoLoopFileSavedAgainIsIdentical) {
    const std::vector<MarcoEntry> steps{{1, 0x04, 35}, {2, 0x04, 300}, {1, 0xE1, 10}};
    const auto rec = EncodeMarco(MarcoMode::AutoLoop, MarcoSteps::FromEntries(steps), 12);
    ASSERT_TRUE(rec);
    const auto first = dir / "auto.tvm";
    ASSERT_EQ(SaveMarcoFile(first, *rec), MarcoFileStatus::Ok);

    const auto loaded = LoadMarcoFile(first);
    ASSERT_EQ(loaded.status, MarcoFileStatus::Ok);
    const auto decoded = DecodeMarco(loaded.record.entries, kMarcoMaxSteps);
    EXPECT_EQ(decoded.mode, MarcoMode::AutoLoop);
    EXPECT_EQ(decoded.steps, MarcoSteps::FromEntries(steps));

    const auto again = EncodeMarco(decoded.mode, decoded.steps, 12);
    ASSERT_TRUE(again);
    const auto second = dir / "again.tvm";
    ASSERT_EQ(SaveMarcoFile(second, *again), MarcoFileStatus::Ok);
    EXPECT_EQ(Read(first), Read(second));
}

TEST_F(MarcoFileTest, FailedSaveLeavesNothingBehind) {
    EXPECT_EQ(SaveMarcoFile(dir / "no" / "such" / "folder.tvm", ThreeStepSingleShot()),
              MarcoFileStatus::CannotOpen);
    EXPECT_EQ(SaveMarcoFile("", ThreeStepSingleShot()), MarcoFileStatus::CannotOpen);

    // A folder in the way: the bytes cannot replace it, and no temporary stays.
    fs::create_directory(dir / "taken.tvm");
    EXPECT_EQ(SaveMarcoFile(dir / "taken.tvm", ThreeStepSingleShot()), MarcoFileStatus::WriteError);
    EXPECT_EQ(Listing(), std::vector<fs::path>{"taken.tvm"});

    // Replacing a file writes the new bytes in full, however long the old file was.
    const auto old = Write("old.tvm", std::vector<uint8_t>(5000, 0xAA));
    ASSERT_EQ(SaveMarcoFile(old, ThreeStepSingleShot()), MarcoFileStatus::Ok);
    EXPECT_EQ(Read(old), ThreeStepFile());

    // Saving through a link replaces the file it points to and keeps the link.
    const auto target = Write("target.tvm", {1, 2, 3});
    fs::create_symlink(target, dir / "link.tvm");
    ASSERT_EQ(SaveMarcoFile(dir / "link.tvm", ThreeStepSingleShot()), MarcoFileStatus::Ok);
    EXPECT_TRUE(fs::is_symlink(dir / "link.tvm"));
    EXPECT_EQ(Read(target), ThreeStepFile());
}

}  // namespace
}  // namespace tavrik
