#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "platform/atomic_file.h"

namespace tavrik {
namespace {

namespace fs = std::filesystem;

class AtomicFileTest : public ::testing::Test {
protected:
    fs::path dir = fs::path(::testing::TempDir()) /
                   ("atomic_file_" +
                    std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));

    void SetUp() override {
        fs::remove_all(dir);
        fs::create_directories(dir);
    }
    void TearDown() override { fs::remove_all(dir); }

    fs::path Put(const std::string& name, const std::string& text) {
        std::ofstream(dir / name, std::ios::binary) << text;
        return dir / name;
    }
    static std::string Read(const fs::path& p) {
        std::ifstream in(p, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), {}};
    }
    std::vector<std::string> Listing() const {
        std::vector<std::string> names;
        for (const auto& e : fs::directory_iterator(dir)) {
            names.push_back(e.path().filename().string());
        }
        std::sort(names.begin(), names.end());
        return names;
    }
};

TEST_F(AtomicFileTest, ReplacesRegularFilesKeepingPermissionsAndFollowsLinks) {
    std::string error;
    ASSERT_TRUE(WriteFileAtomically(dir / "new.txt", "fresh", &error)) << error;
    EXPECT_EQ(Read(dir / "new.txt"), "fresh");

    const fs::path old = Put("old.txt", std::string(5000, 'x'));
    fs::permissions(old, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    ASSERT_TRUE(WriteFileAtomically(old, "short", &error)) << error;
    EXPECT_EQ(Read(old), "short");
    EXPECT_EQ(fs::status(old).permissions(),
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);

    // Through a chain of links: the file at the end is replaced, the links stay.
    const fs::path target = Put("target.txt", "before");
    fs::create_symlink("target.txt", dir / "link1");
    fs::create_symlink(dir / "link1", dir / "link2");
    ASSERT_TRUE(WriteFileAtomically(dir / "link2", "after", &error)) << error;
    EXPECT_TRUE(fs::is_symlink(dir / "link1"));
    EXPECT_TRUE(fs::is_symlink(dir / "link2"));
    EXPECT_EQ(Read(target), "after");

    EXPECT_EQ(Listing(),
              (std::vector<std::string>{"link1", "link2", "new.txt", "old.txt", "target.txt"}));
}

TEST_F(AtomicFileTest, RefusesWhatIsNotOursToReplace) {
    FileWriteFailure failure = FileWriteFailure::None;
    std::string error;

    fs::create_directory(dir / "folder");
    EXPECT_FALSE(WriteFileAtomically(dir / "folder", "x", &error, &failure));
    EXPECT_EQ(failure, FileWriteFailure::Refused);
    EXPECT_NE(error.find("folder"), std::string::npos) << error;
    EXPECT_TRUE(fs::is_directory(dir / "folder"));

    const int sock = ::socket(AF_UNIX, SOCK_STREAM, 0);
    ASSERT_GE(sock, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    const std::string sockPath = (dir / "sock").string();
    ASSERT_LT(sockPath.size(), sizeof(addr.sun_path));
    std::copy(sockPath.begin(), sockPath.end(), addr.sun_path);
    ASSERT_EQ(::bind(sock, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)), 0);
    EXPECT_FALSE(WriteFileAtomically(dir / "sock", "x", &error, &failure));
    EXPECT_EQ(failure, FileWriteFailure::Refused);
    EXPECT_NE(error.find("socket"), std::string::npos) << error;
    EXPECT_TRUE(fs::is_socket(dir / "sock"));
    ::close(sock);

    // A link to nothing: where it points is not created.
    fs::create_symlink(dir / "nowhere", dir / "dangling");
    EXPECT_FALSE(WriteFileAtomically(dir / "dangling", "x", &error, &failure));
    EXPECT_EQ(failure, FileWriteFailure::Refused);
    EXPECT_NE(error.find("does not exist"), std::string::npos) << error;
    EXPECT_TRUE(fs::is_symlink(dir / "dangling"));
    EXPECT_FALSE(fs::exists(dir / "nowhere"));

    EXPECT_FALSE(WriteFileAtomically(dir / "no" / "such" / "file", "x", &error, &failure));
    EXPECT_EQ(failure, FileWriteFailure::CannotCreate);
    EXPECT_NE(error.find((dir / "no" / "such").string()), std::string::npos) << error;
    EXPECT_FALSE(WriteFileAtomically("", "x", &error, &failure));

    // A file made read-only, also behind a link, stays as it is.
    const fs::path locked = Put("locked.txt", "kept");
    fs::permissions(locked, fs::perms::owner_read | fs::perms::group_read);
    fs::create_symlink("locked.txt", dir / "to-locked");
    for (const fs::path& p : {locked, dir / "to-locked"}) {
        EXPECT_FALSE(WriteFileAtomically(p, "x", &error, &failure));
        EXPECT_EQ(failure, FileWriteFailure::Refused);
        EXPECT_NE(error.find("read-only"), std::string::npos) << error;
    }
    EXPECT_EQ(Read(locked), "kept");
    EXPECT_EQ(fs::status(locked).permissions(), fs::perms::owner_read | fs::perms::group_read);

    EXPECT_EQ(Listing(),
              (std::vector<std::string>{"dangling", "folder", "locked.txt", "sock", "to-locked"}));
}

TEST_F(AtomicFileTest, StreamsAreWrittenIntoAndNeverReplaced) {
    std::string error;
    // /dev/null only written into: as root, a rename over it would break the system.
    ASSERT_TRUE(WriteFileAtomically("/dev/null", "gone", &error)) << error;
    fs::create_symlink("/dev/null", dir / "null-link");
    ASSERT_TRUE(WriteFileAtomically(dir / "null-link", "gone", &error)) << error;
    EXPECT_TRUE(fs::is_character_file("/dev/null"));
    EXPECT_TRUE(fs::is_symlink(dir / "null-link"));

    // A device that fails a write is reported, not taken for done.
    if (fs::is_character_file("/dev/full")) {
        EXPECT_FALSE(WriteFileAtomically("/dev/full", "x", &error));
        EXPECT_NE(error.find("/dev/full"), std::string::npos) << error;
        EXPECT_TRUE(fs::is_character_file("/dev/full"));
    }

    const fs::path fifo = dir / "fifo";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    // Downloads read their file back: a FIFO is refused for them.
    FileWriteFailure failure = FileWriteFailure::None;
    EXPECT_FALSE(AtomicFile::Open(fifo, &error, &failure, StreamTargets::Refuse));
    EXPECT_EQ(failure, FileWriteFailure::Refused);

    // The reader opens first, without blocking, so the writer finds it there.
    const int reader = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    auto stream = AtomicFile::Open(fifo, &error);
    ASSERT_TRUE(stream) << error;
    EXPECT_TRUE(stream->IsStream());
    ASSERT_TRUE(stream->Write("through the pipe", &error)) << error;
    ASSERT_TRUE(stream->Commit(&error)) << error;
    char buf[64] = {};
    const ssize_t got = ::read(reader, buf, sizeof(buf));
    ::close(reader);
    EXPECT_EQ(std::string(buf, got > 0 ? size_t(got) : 0), "through the pipe");
    struct stat st {};
    ASSERT_EQ(::lstat(fifo.c_str(), &st), 0);
    EXPECT_TRUE(S_ISFIFO(st.st_mode));
    EXPECT_EQ(Listing(), (std::vector<std::string>{"fifo", "null-link"}));
}

TEST_F(AtomicFileTest, AFailedWriteLeavesTheOldFileAndNoTemporary) {
    const fs::path old = Put("keep.txt", "the old text");

    // Given up before Commit: nothing changes.
    {
        auto file = AtomicFile::Open(old);
        ASSERT_TRUE(file);
        ASSERT_TRUE(file->Write("half"));
        EXPECT_TRUE(fs::exists(file->Path()));
    }
    EXPECT_EQ(Read(old), "the old text");
    EXPECT_EQ(Listing(), std::vector<std::string>{"keep.txt"});

    // A write the file system refuses (here: over the file size limit).
    struct sigaction ignore {
    }, before{};
    ignore.sa_handler = SIG_IGN;
    ASSERT_EQ(::sigaction(SIGXFSZ, &ignore, &before), 0);
    rlimit was{};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &was), 0);
    rlimit small = was;
    small.rlim_cur = 8;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    std::string error;
    FileWriteFailure failure = FileWriteFailure::None;
    const bool wrote = WriteFileAtomically(old, "far more than eight bytes", &error, &failure);
    ::setrlimit(RLIMIT_FSIZE, &was);
    ::sigaction(SIGXFSZ, &before, nullptr);

    EXPECT_FALSE(wrote);
    EXPECT_EQ(failure, FileWriteFailure::CannotWrite);
    EXPECT_NE(error.find("cannot write"), std::string::npos) << error;
    EXPECT_EQ(Read(old), "the old text");
    EXPECT_EQ(Listing(), std::vector<std::string>{"keep.txt"});

    // A temporary left by a process that died is recognised for clean-up.
    auto file = AtomicFile::Open(old);
    ASSERT_TRUE(file);
    EXPECT_TRUE(IsAtomicFileTemporary(file->Path()));
    EXPECT_FALSE(IsAtomicFileTemporary(old));
}

TEST_F(AtomicFileTest, TemporariesOfDeadProcessesGoOnTheNextWrite) {
    const fs::path old = Put("keep.txt", "the old text");
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::_exit(0);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    const std::string dead = ".keep.txt.tmp-" + std::to_string(child) + "-0-1";
    const std::string alive = ".keep.txt.tmp-" + std::to_string(::getppid()) + "-0-1";
    const std::string folder = ".keep.txt.tmp-" + std::to_string(child) + "-0-2";
    Put(dead, "half");
    Put(alive, "being written");
    fs::create_directory(dir / folder);
    Put(".other.txt.tmp-" + std::to_string(child) + "-0-1", "not this target's");

    ASSERT_TRUE(WriteFileAtomically(old, "new"));
    EXPECT_EQ(Read(old), "new");
    EXPECT_FALSE(fs::exists(dir / dead));
    EXPECT_TRUE(fs::exists(dir / alive)) << "a running process keeps its temporary";
    EXPECT_TRUE(fs::is_directory(dir / folder)) << "only regular files are removed";
    EXPECT_TRUE(fs::exists(dir / (".other.txt.tmp-" + std::to_string(child) + "-0-1")));
}

}  // namespace
}  // namespace tavrik
