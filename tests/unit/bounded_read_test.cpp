#include <sys/stat.h>

#include <filesystem>
#include <fstream>

#include <gtest/gtest.h>

#include "platform/bounded_read.h"

namespace tavrik {
namespace {

namespace fs = std::filesystem;

class BoundedReadTest : public ::testing::Test {
protected:
    fs::path dir;

    void SetUp() override {
        dir = fs::path(::testing::TempDir()) /
              ("bounded_read_" +
               std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
        fs::remove_all(dir);
        fs::create_directories(dir);
    }
    void TearDown() override { fs::remove_all(dir); }

    fs::path Write(const std::string& name, const std::string& bytes) {
        std::ofstream(dir / name, std::ios::binary) << bytes;
        return dir / name;
    }
};

TEST_F(BoundedReadTest, ReadsARegularFileUpToItsLimit) {
    const auto exact = Write("exact", std::string(100, 'x'));
    BoundedRead r = ReadBoundedFile(exact, 100);
    ASSERT_TRUE(r.Ok()) << r.error;
    EXPECT_EQ(r.bytes, std::string(100, 'x'));

    r = ReadBoundedFile(exact, 99);
    EXPECT_EQ(r.failure, ReadFailure::TooLarge);
    EXPECT_TRUE(r.bytes.empty());
    EXPECT_EQ(r.error, "'" + exact.string() + "' is larger than 99 bytes");

    // Or only its head, the rest never read.
    r = ReadBoundedFile(Write("long", "head" + std::string(1 << 20, 'y')), 4, BeyondLimit::Ignore);
    ASSERT_TRUE(r.Ok()) << r.error;
    EXPECT_EQ(r.bytes, "head");
    r = ReadBoundedFile(Write("short", "he"), 4, BeyondLimit::Ignore);
    EXPECT_EQ(r.bytes, "he");

    r = ReadBoundedFile(Write("empty", ""), 0);
    EXPECT_TRUE(r.Ok());
    EXPECT_TRUE(r.bytes.empty());

    // Through a link to it.
    fs::create_symlink(exact, dir / "link");
    EXPECT_TRUE(ReadBoundedFile(dir / "link", 100).Ok());
}

TEST_F(BoundedReadTest, RefusesWhatIsNotARegularFileWithoutWaiting) {
    // A FIFO with no writer would hold an ordinary open for ever.
    ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0600), 0);
    for (const fs::path& p : {dir / "fifo", fs::path("/dev/zero"), dir}) {
        const BoundedRead r = ReadBoundedFile(p, 1 << 20, BeyondLimit::Ignore);
        EXPECT_EQ(r.failure, ReadFailure::NotRegular) << p;
        EXPECT_EQ(r.error, "'" + p.string() + "' is not a regular file");
        EXPECT_EQ(r.why, "is not a regular file");
    }
    const BoundedRead missing = ReadBoundedFile(dir / "missing", 10);
    EXPECT_EQ(missing.failure, ReadFailure::NotFound);
    EXPECT_NE(missing.error.find("missing"), std::string::npos);
    fs::create_symlink(dir / "nowhere", dir / "dangling");
    EXPECT_EQ(ReadBoundedFile(dir / "dangling", 10).failure, ReadFailure::NotFound);
}

TEST(BoundedReadSize, NamesLimitsInTheirUnit) {
    EXPECT_EQ(SizeText(4u << 20), "4 MiB");
    EXPECT_EQ(SizeText(64 * 1024), "64 KiB");
    EXPECT_EQ(SizeText(147456), "144 KiB");
    EXPECT_EQ(SizeText(280), "280 bytes");
    EXPECT_EQ(SizeText(1), "1 byte");
}

}  // namespace
}  // namespace tavrik
