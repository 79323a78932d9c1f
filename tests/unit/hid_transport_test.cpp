#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <fstream>
#include <memory>
#include <mutex>
#include <regex>
#include <set>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "device/kind_features.h"
#include "hid/ccusb.h"
#include "hid/device_table.h"
#include "hid/hidapi_backend.h"
#include "hid/known_devices.h"
#include "hid/native_libs.h"
#include "log_capture.h"

namespace tavrik {
namespace {

using std::chrono::milliseconds;
using Clock = std::chrono::steady_clock;
using Bytes = std::vector<uint8_t>;

// ---- An in-memory backend; every field is guarded by the backend's mutex ----

struct FakeDevice {
    HidDeviceInfo info;
    bool present = true;
    std::deque<HidOpenError> openErrors;  // one per Open call; empty means success
    int opens = 0;
    int openHandles = 0;
    std::deque<Bytes> input;
    std::vector<Bytes> written;
    bool loopback = false;      // every written payload comes back as input
    bool refuseWrites = false;  // writes fail as not supported
    int claimedReadCount = 0;   // when set, Read reports this count whatever it copied
};

class FakeBackend : public HidBackend {
public:
    FakeDevice& Add(HidDeviceInfo info) {
        std::lock_guard lock(mutex_);
        devices_.push_back(std::make_shared<FakeDevice>());
        devices_.back()->info = std::move(info);
        return *devices_.back();
    }
    template <class F>
    void With(FakeDevice& d, F&& change) {
        {
            std::lock_guard lock(mutex_);
            change(d);
        }
        cv_.notify_all();
    }
    std::vector<HidDeviceInfo> Enumerate() override {
        std::lock_guard lock(mutex_);
        std::vector<HidDeviceInfo> out;
        for (const auto& d : devices_) {
            if (d->present) {
                out.push_back(d->info);
            }
        }
        return out;
    }
    std::unique_ptr<HidHandle> Open(const std::string& path, HidOpenError* error) override;

private:
    class Handle;
    std::mutex mutex_;
    std::condition_variable cv_;
    std::vector<std::shared_ptr<FakeDevice>> devices_;
};

class FakeBackend::Handle : public HidHandle {
public:
    Handle(FakeBackend& b, std::shared_ptr<FakeDevice> d) : b_(b), d_(std::move(d)) {}
    ~Handle() override {
        std::lock_guard lock(b_.mutex_);
        --d_->openHandles;
    }
    int Read(uint8_t* payload, size_t size, int timeoutMs) override {
        std::unique_lock lock(b_.mutex_);
        // Negative means "until something happens", as in hidapi; bounded so that a
        // faulty caller fails the test instead of hanging it.
        b_.cv_.wait_for(lock, milliseconds(timeoutMs < 0 ? 5000 : timeoutMs),
                        [&] { return !d_->present || !d_->input.empty(); });
        if (!d_->present) {
            return -1;
        }
        if (d_->input.empty()) {
            return 0;
        }
        const Bytes report = std::move(d_->input.front());
        d_->input.pop_front();
        const size_t n = std::min(size, report.size());
        std::copy_n(report.begin(), n, payload);
        return d_->claimedReadCount > 0 ? d_->claimedReadCount : static_cast<int>(n);
    }
    int Write(const uint8_t* report, size_t size) override {
        {
            std::lock_guard lock(b_.mutex_);
            if (!d_->present || d_->refuseWrites) {
                lastError_ = d_->present ? HidWriteError::NotSupported : HidWriteError::Gone;
                return -1;
            }
            d_->written.emplace_back(report, report + size);
            if (d_->loopback) {
                d_->input.emplace_back(report + 1, report + size);
            }
        }
        b_.cv_.notify_all();
        return static_cast<int>(size);
    }
    HidWriteError LastWriteError() const override { return lastError_; }
    std::string ProductString() override { return d_->info.product; }
    std::string SerialString() override { return d_->info.serial; }

private:
    FakeBackend& b_;
    std::shared_ptr<FakeDevice> d_;
    HidWriteError lastError_ = HidWriteError::Other;
};

std::unique_ptr<HidHandle> FakeBackend::Open(const std::string& path, HidOpenError* error) {
    std::lock_guard lock(mutex_);
    *error = HidOpenError::NotFound;
    for (const auto& d : devices_) {
        if (d->info.path == path && d->present) {
            ++d->opens;
            *error = d->openErrors.empty() ? HidOpenError::None : d->openErrors.front();
            if (!d->openErrors.empty()) {
                d->openErrors.pop_front();
            }
            if (*error != HidOpenError::None) {
                return nullptr;
            }
            ++d->openHandles;
            return std::make_unique<Handle>(*this, d);
        }
    }
    return nullptr;
}

HidDeviceInfo Info(std::string path, uint16_t vid, uint16_t pid, uint16_t ver, int iface) {
    return HidDeviceInfo{std::move(path), vid, pid, ver, iface, "Tavrik K1", "SN0001"};
}

// The vendor interface of a keyboard of table row `row`.
HidDeviceInfo Keyboard(std::string path, int row) {
    const auto& r = kDeviceTable[static_cast<size_t>(row)];
    return Info(std::move(path), r.vendorId, r.productId, r.version, r.interfaceNumber);
}

class CcusbTest : public ::testing::Test {
protected:
    std::unique_ptr<CCUSB> Transport(int devIdx) {
        auto t = std::make_unique<CCUSB>(backend, known);
        t->m_nDevIdx = devIdx;
        t->m_bLogOn = 1;
        return t;
    }
    // A transport that has found and opened the keyboard `dev`.
    std::unique_ptr<CCUSB> Opened(FakeDevice*& dev) {
        dev = &backend.Add(Keyboard("/dev/hidraw0", 2));
        auto t = Transport(0);
        EXPECT_EQ(t->FindDevice(), 1);
        EXPECT_EQ(t->OpenReadWrite(), 1);
        return t;
    }

    FakeBackend backend;
    KnownDevices known;
    test::LogCapture log;
};

// ---- Device table ----

TEST(DeviceTableTest, MatchesIdsVersionAndInterface) {
    EXPECT_EQ(MatchDeviceTable(0x0483, 0x5710, 0xCC00), 0);
    EXPECT_EQ(MatchDeviceTable(0xBCD0, 0x1100, 0xCC01), 1);
    EXPECT_EQ(MatchDeviceTable(0xBCD0, 0x1100, 0xCC03), 3);
    EXPECT_EQ(MatchDeviceTable(0xBCD0, 0x1100, 0xCC04), -1);
    EXPECT_EQ(MatchDeviceTable(0x0483, 0x5710, 0xCC01), -1);

    EXPECT_TRUE(MatchRowPath(2, Info("/dev/hidraw3", 0xBCD0, 0x1100, 0xCC02, 1)));
    EXPECT_FALSE(MatchRowPath(2, Info("/dev/hidraw3", 0xBCD0, 0x1100, 0xCC02, 0)));
    EXPECT_FALSE(MatchRowPath(0, Info("/dev/hidraw3", 0xBCD0, 0x1100, 0xCC00, 1)));
    // No interface number known: the path text decides.
    EXPECT_TRUE(MatchRowPath(1, Info("\\\\?\\HID#VID_BCD0&PID_1100&MI_02#x", 0, 0, 0, -1)));
    EXPECT_FALSE(MatchRowPath(1, Info("/dev/hidraw3", 0xBCD0, 0x1100, 0xCC01, -1)));
}

TEST(DeviceTableTest, WindowsPathPatterns) {
    const std::string upper = "\\\\?\\HID#VID_BCD0&PID_1100&MI_01#7&1a2b&0&0000#{4d1e55b2}";
    const std::string lower = "\\\\?\\hid#vid_bcd0&pid_1100&mi_01#7&1a2b&0&0000#{4d1e55b2}";
    const std::string mixed = "\\\\?\\HID#vid_bcd0&PID_1100&mi_01#7&1a2b&0&0000#{4d1e55b2}";
    for (int row = 0; row < 4; ++row) {
        const bool interface1 = row >= 2;  // rows 0 and 1 are other IDs or interface 2
        EXPECT_EQ(MatchRowPath(row, upper), interface1) << row;
        EXPECT_EQ(MatchRowPath(row, lower), interface1) << row;
        EXPECT_FALSE(MatchRowPath(row, mixed)) << row;
    }
    EXPECT_FALSE(IsOwnDevicePath(mixed));
    EXPECT_TRUE(IsOwnDevicePath("\\\\?\\hid#vid_bcd0&pid_1100&mi_02#x"));
    EXPECT_FALSE(IsOwnDevicePath("\\\\?\\HID#VID_0483&PID_5710&MI_0"));  // shorter than it
    EXPECT_FALSE(MatchRowPath(4, upper));
}

TEST(DeviceTableTest, IsOwnDevicePathLooksUpTheArrivalPath) {
    FakeBackend backend;
    backend.Add(Info("/dev/hidraw4", 0xBCD0, 0x1100, 0x1234, 2));  // version not considered
    backend.Add(Info("/dev/hidraw5", 0xBCD0, 0x1100, 0xCC02, 0));  // its keyboard interface
    backend.Add(Info("/dev/hidraw6", 0x046D, 0xC077, 0x7200, 0));  // a mouse
    EXPECT_TRUE(IsOwnDevicePath(backend, "/dev/hidraw4"));
    EXPECT_FALSE(IsOwnDevicePath(backend, "/dev/hidraw5"));
    EXPECT_FALSE(IsOwnDevicePath(backend, "/dev/hidraw6"));
    EXPECT_FALSE(IsOwnDevicePath(backend, "/dev/hidraw9"));
    EXPECT_TRUE(IsOwnDevicePath(backend, "\\\\?\\HID#VID_BCD0&PID_1100&MI_02#x"));
}

// The installed udev rule opens exactly the vendor interfaces of the table's keyboards: a
// row added without a rule could not be opened by an ordinary user, and a rule for another
// interface would hand out what is typed on the keyboard.
TEST(DeviceTableTest, UdevRuleOpensExactlyTheTablesVendorInterfaces) {
    std::ifstream in(std::string(TAVRIK_SOURCE_DIR) + "/packaging/udev/70-tavrik.rules");
    ASSERT_TRUE(in) << "packaging/udev/70-tavrik.rules";
    using Ids = std::pair<std::string, std::string>;
    std::set<Ids> imported;
    std::set<std::tuple<std::string, std::string, std::string>> opened;
    const std::regex import(
        R"re(^SUBSYSTEM=="hidraw", ATTRS\{idVendor\}=="([0-9a-f]{4})", ATTRS\{idProduct\}=="([0-9a-f]{4})", IMPORT\{builtin\}="usb_id"$)re");
    const std::regex open(
        R"re(^SUBSYSTEM=="hidraw", ENV\{ID_VENDOR_ID\}=="([0-9a-f]{4})", ENV\{ID_MODEL_ID\}=="([0-9a-f]{4})", ENV\{ID_USB_INTERFACE_NUM\}=="([0-9a-f]{2})", TAG\+="uaccess"$)re");
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#') {
            continue;
        }
        std::smatch m;
        if (std::regex_match(line, m, import)) {
            EXPECT_TRUE(imported.insert({m[1], m[2]}).second) << "listed twice: " << line;
        } else {
            ASSERT_TRUE(std::regex_match(line, m, open)) << line;
            EXPECT_TRUE(opened.insert({m[1], m[2], m[3]}).second) << "listed twice: " << line;
            EXPECT_TRUE(imported.count({m[1], m[2]})) << "no usb_id import before: " << line;
        }
    }
    std::set<std::tuple<std::string, std::string, std::string>> table;
    for (const auto& r : kDeviceTable) {
        char vid[8], pid[8], iface[8];
        std::snprintf(vid, sizeof vid, "%04x", unsigned{r.vendorId});
        std::snprintf(pid, sizeof pid, "%04x", unsigned{r.productId});
        std::snprintf(iface, sizeof iface, "%02x", static_cast<unsigned>(r.interfaceNumber));
        table.insert({vid, pid, iface});
    }
    EXPECT_EQ(opened, table);
}

// Knowledge about kinds that the session and the tools read from the rows.
TEST(DeviceTableTest, KindRowsAndTheirRules) {
    std::set<int> kinds;
    for (const auto& r : kDeviceTable) {
        EXPECT_TRUE(kinds.insert(r.kind).second) << "two rows of kind " << r.kind;
        EXPECT_EQ(RowOfKind(r.kind), &r);
    }
    EXPECT_EQ(RowOfKind(0), nullptr);
    // An unknown device is the standard keyboard; so is an unrecognised kind for layers.
    EXPECT_EQ(KindRowFor(0xBCD0, 0x1100, 0xCC04).kind, 1);
    EXPECT_EQ(KindRowFor(0xBCD0, 0x1100, 0xCC03).kind, 4);
    EXPECT_TRUE(KindRelaysLayers(0));
    EXPECT_FALSE(KindRelaysLayers(2));
    EXPECT_FALSE(KindRelaysLayers(4));

    const auto& standard = *RowOfKind(1);
    EXPECT_TRUE(HidePageButtons(standard, 45));
    EXPECT_FALSE(HidePageButtons(standard, 46));
    EXPECT_TRUE(AutoLoopAllowed(standard, 0));
    EXPECT_FALSE(AutoLoopAllowed(*RowOfKind(2), 306));
    EXPECT_TRUE(AutoLoopAllowed(*RowOfKind(2), 307));
    EXPECT_FALSE(AutoLoopAllowed(*RowOfKind(3), 400));
}

// ---- Finding and claiming ----

TEST_F(CcusbTest, TwoKeyboardsWithEqualIdsGoToTwoTransports) {
    backend.Add(Keyboard("/dev/hidraw1", 2));
    backend.Add(Keyboard("/dev/hidraw3", 2));
    auto a = Transport(0);
    auto b = Transport(1);
    auto c = Transport(2);
    EXPECT_EQ(a->FindDevice(), 1);
    EXPECT_EQ(b->FindDevice(), 1);
    EXPECT_EQ(b->m_strPath, "/dev/hidraw3");
    EXPECT_EQ(b->m_nVer, 0xCC02);
    EXPECT_TRUE(log.HasLine("Dev 1: Device /dev/hidraw1 already in known list, skip", "CCUSB"));
    EXPECT_TRUE(log.HasLine("Dev 1: Set 1 to known device"));

    EXPECT_EQ(c->FindDevice(), 0);
    EXPECT_EQ(c->IsDevFound(), 0);
    EXPECT_EQ(c->m_strPath, "NoDevice");
    EXPECT_TRUE(log.HasLine("Dev 2: Device not found, Return FALSE"));
    EXPECT_EQ(known.Entry(2), "NoDevice");
}

TEST_F(CcusbTest, RejectsOtherInterfacesAndUnknownVersions) {
    backend.Add(Info("/dev/hidraw0", 0xBCD0, 0x1100, 0xCC02, 0));
    backend.Add(Info("/dev/hidraw1", 0xBCD0, 0x1100, 0xCC04, 1));
    auto t = Transport(0);
    EXPECT_EQ(t->FindDevice(), 0);
    EXPECT_TRUE(log.HasLine("Dev 0: Not Tavrik Ctrl Dev, skip, /dev/hidraw0"));
    EXPECT_TRUE(log.HasLine("Dev 0: Not CC dev, continue. VID=0xbcd0, PID=0x1100, PVN=0xcc04"));
    EXPECT_EQ(t->m_nVid, 0);

    // Verbose lines stay out of the log while the flag is off.
    log.Clear();
    t->m_bLogOn = 0;
    EXPECT_EQ(t->FindDevice(), 0);
    EXPECT_TRUE(log.Texts().empty());
}

TEST_F(CcusbTest, FoundAgainAfterCloseAndReleasedOnDestruction) {
    backend.Add(Keyboard("/dev/hidraw2", 0));
    auto a = Transport(0);
    auto b = Transport(1);
    ASSERT_EQ(a->FindDevice(), 1);
    EXPECT_EQ(b->FindDevice(), 0);
    a->CloseDevice();
    EXPECT_EQ(a->m_strPath, "/dev/hidraw2");  // kept, so the keyboard returns to its slot
    EXPECT_EQ(a->FindDevice(), 1);
    a.reset();
    EXPECT_TRUE(log.HasLine("Dev 0: Set 0 to blank device"));
    EXPECT_EQ(b->FindDevice(), 1);
}

TEST_F(CcusbTest, ASecondSearchHoldsOneClaimAndReleasesOnlyItsOwn) {
    backend.Add(Keyboard("/dev/hidraw1", 3));
    auto& second = backend.Add(Keyboard("/dev/hidraw2", 3));
    auto a = Transport(0);
    auto b = Transport(1);
    ASSERT_EQ(a->FindDevice(), 1);
    // The held path is skipped as taken; the old entry is given up for the new one.
    ASSERT_EQ(a->FindDevice(), 1);
    EXPECT_EQ(a->m_strPath, "/dev/hidraw2");
    EXPECT_FALSE(known.Contains("/dev/hidraw1"));

    // c's failed search ends on a's path (its probe fails there); c must not free it.
    ASSERT_EQ(b->FindDevice(), 1);
    backend.With(second, [](FakeDevice& d) { d.openErrors = {HidOpenError::Other}; });
    auto c = Transport(2);
    EXPECT_EQ(c->FindDevice(), 0);
    EXPECT_EQ(c->m_strPath, "/dev/hidraw2");
    c->CloseDevice();
    c.reset();
    EXPECT_TRUE(known.Contains("/dev/hidraw1"));
    EXPECT_TRUE(known.Contains("/dev/hidraw2"));
}

TEST_F(CcusbTest, PermissionDeniedNodesAreRecorded) {
    auto& locked = backend.Add(Keyboard("/dev/hidraw5", 1));
    backend.With(locked, [](FakeDevice& d) { d.openErrors = {HidOpenError::PermissionDenied}; });
    auto& broken = backend.Add(Keyboard("/dev/hidraw6", 1));
    backend.With(broken, [](FakeDevice& d) { d.openErrors = {HidOpenError::Other}; });
    auto t = Transport(0);
    t->m_bLogOn = 0;
    EXPECT_EQ(t->FindDevice(), 0);
    EXPECT_EQ(t->DeniedPaths(), std::vector<std::string>{"/dev/hidraw5"});
    EXPECT_EQ(t->FindDevice(), 1);  // the rule is in place now
    EXPECT_TRUE(t->DeniedPaths().empty());
}

// ---- Opening ----

TEST_F(CcusbTest, OpenRetriesTheReadHandleAndReadsStrings) {
    auto& dev = backend.Add(Keyboard("/dev/hidraw0", 2));
    auto t = Transport(0);
    EXPECT_EQ(t->OpenReadWrite(), 0);  // nothing found yet
    ASSERT_EQ(t->FindDevice(), 1);
    backend.With(dev, [](FakeDevice& d) {
        d.opens = 0;
        d.openErrors.assign(3, HidOpenError::Other);
    });
    EXPECT_EQ(t->OpenReadWrite(), 1);
    EXPECT_EQ(dev.opens, 5);  // four for reading, one for writing
    EXPECT_EQ(log.Count("Dev 0: Open device with read fail, continue, read handle=-1"), 3u);
    EXPECT_EQ(t->m_szProduct, "Tavrik K1");
    EXPECT_TRUE(log.HasLine("Dev 0: ProductString: Tavrik K1, Len=256"));
    EXPECT_TRUE(log.HasLine("Dev 0: Serial Num: SN0001, Len=256"));
    t->CloseDevice();
    EXPECT_EQ(dev.openHandles, 0);

    ASSERT_EQ(t->FindDevice(), 1);
    backend.With(dev, [](FakeDevice& d) { d.openErrors.assign(4, HidOpenError::Other); });
    EXPECT_EQ(t->OpenReadWrite(), 0);
    EXPECT_EQ(t->IsDevFound(), 1);  // the caller decides
    // Write handle refused: the read handle is closed again.
    backend.With(dev, [](FakeDevice& d) { d.openErrors = {{}, HidOpenError::Other}; });
    t->m_bLogOn = 0;  // the failure is written regardless
    EXPECT_EQ(t->OpenReadWrite(), 0);
    EXPECT_TRUE(log.HasLine("Dev 0: Open device with write fail, continue"));
    EXPECT_EQ(dev.openHandles, 0);
}

// ---- Reports ----

TEST_F(CcusbTest, WriteSends65BytesReportIdFirstAndRefusesOversize) {
    FakeDevice* dev = nullptr;
    auto t = Opened(dev);
    std::array<uint8_t, 66> full;
    full.fill(0xEE);
    EXPECT_EQ(t->WriteReport(full.data(), 65), 0);
    EXPECT_EQ(t->WriteReport(full.data(), -1), 0);
    EXPECT_EQ(t->WriteReport(nullptr, 3), 0);
    EXPECT_TRUE(dev->written.empty());

    ASSERT_EQ(t->WriteReport(full.data(), 64), 1);
    const uint8_t cmd[2] = {0x04, 0x2A};
    ASSERT_EQ(t->WriteReport(cmd, 2), 1);
    ASSERT_EQ(dev->written.size(), 2u);
    Bytes expected(65, 0xEE);
    expected[0] = 0;
    EXPECT_EQ(dev->written[0], expected);
    expected.assign(65, 0);
    expected[1] = 0x04;
    expected[2] = 0x2A;
    EXPECT_EQ(dev->written[1], expected);  // nothing of the earlier command is left
}

TEST_F(CcusbTest, WriteFailuresTellRefusalFromRemoval) {
    FakeDevice* dev = nullptr;
    auto t = Opened(dev);
    const uint8_t cmd[2] = {0x04, 0x01};
    t->m_bLogOn = 0;
    backend.With(*dev, [](FakeDevice& d) { d.refuseWrites = true; });
    EXPECT_EQ(t->WriteReport(cmd, 2), 0);
    EXPECT_TRUE(log.HasLine("Dev 0: This device doesn't support Write file", "CCUSB"));
    EXPECT_FALSE(t->IsGone());
    backend.With(*dev, [](FakeDevice& d) { d.present = false; });
    EXPECT_EQ(t->WriteReport(cmd, 2), 0);
    EXPECT_TRUE(t->IsGone());
    t->CloseDevice();
    EXPECT_FALSE(t->IsGone());
    EXPECT_EQ(t->WriteReport(cmd, 2), 0);  // closed
}

TEST_F(CcusbTest, ReadDeliversPayloadWithinTheCallersBuffer) {
    FakeDevice* dev = nullptr;
    auto t = Opened(dev);
    Bytes report(64);
    for (size_t i = 0; i < report.size(); ++i) {
        report[i] = static_cast<uint8_t>(i + 5);
    }
    backend.With(*dev, [&](FakeDevice& d) { d.input = {report, report, {0x1A, 0x03}}; });
    std::array<uint8_t, 64> buf{};
    EXPECT_EQ(t->ReadReport(buf.data(), buf.size(), 100), 64);
    EXPECT_TRUE(std::equal(buf.begin(), buf.end(), report.begin()));
    std::array<uint8_t, 11> small{};
    EXPECT_EQ(t->ReadReport(small.data(), 10, 100), 10);
    EXPECT_EQ(small[10], 0);
    // A backend claiming more than a report holds is not believed.
    backend.With(*dev, [](FakeDevice& d) { d.claimedReadCount = 300; });
    EXPECT_EQ(t->ReadReport(buf.data(), buf.size(), 100), 64);
    EXPECT_EQ(buf[0], 0x1A);
}

TEST_F(CcusbTest, ReadTimesOutAndEndsWhenTheKeyboardVanishes) {
    FakeDevice* dev = nullptr;
    auto t = Opened(dev);
    std::array<uint8_t, 64> buf;
    buf.fill(0x77);
    const auto start = Clock::now();
    EXPECT_EQ(t->ReadReport(buf.data(), buf.size(), 30), 0);
    EXPECT_EQ(t->ReadReport(buf.data(), buf.size(), -1), 0);  // not "forever"
    EXPECT_LT(Clock::now() - start, milliseconds(3000));

    std::thread unplug([&] {
        std::this_thread::sleep_for(milliseconds(20));
        backend.With(*dev, [](FakeDevice& d) { d.present = false; });
    });
    EXPECT_EQ(t->ReadReport(buf.data(), buf.size(), 3000), -1);
    unplug.join();
    EXPECT_EQ(buf[0], 0x77);  // nothing stale delivered
    EXPECT_TRUE(t->IsGone());
    t->CloseDevice();
    EXPECT_EQ(t->ReadReport(buf.data(), buf.size(), 3000), -1);  // closed: at once
}

TEST_F(CcusbTest, ConcurrentReadAndWrite) {
    FakeDevice* dev = nullptr;
    auto t = Opened(dev);
    backend.With(*dev, [](FakeDevice& d) { d.loopback = true; });
    constexpr int kReports = 300;
    std::atomic<bool> stop{false};
    std::atomic<int> received{0};
    Bytes seen;  // receive thread only until joined
    std::thread rx([&] {
        std::array<uint8_t, 64> buf{};
        while (!stop) {
            const int n = t->ReadReport(buf.data(), buf.size(), 20);
            if (n < 0) {
                break;
            }
            if (n > 0) {
                seen.push_back(buf[1]);
                ++received;
            }
        }
    });
    std::thread tx([&] {
        for (int i = 0; i < kReports; ++i) {
            const uint8_t cmd[2] = {0x04, static_cast<uint8_t>(i)};
            EXPECT_EQ(t->WriteReport(cmd, 2), 1);
            t->m_bLogOn = i & 1;
        }
    });
    tx.join();
    const auto deadline = Clock::now() + milliseconds(10000);
    while (received < kReports && Clock::now() < deadline) {
        std::this_thread::sleep_for(milliseconds(1));
    }
    stop = true;  // the session's order: stop the reader, then close
    rx.join();
    t->CloseDevice();
    ASSERT_EQ(seen.size(), static_cast<size_t>(kReports));
    for (int i = 0; i < kReports; ++i) {
        EXPECT_EQ(seen[static_cast<size_t>(i)], static_cast<uint8_t>(i));
    }
}

// ---- hidapi ----

// They are loaded by name at their first use: a misspelt function would leave the real
// keyboards unseen, with the tests above skipped as if hidapi were missing here.
TEST(NativeLibs, HidapiAndUdevLoadWithEveryFunction) {
    std::string error;
    EXPECT_NE(LoadHidapi(&error), nullptr) << error;
    EXPECT_NE(LoadUdev(&error), nullptr) << error;
    EXPECT_EQ(LoadHidapi(), LoadHidapi()) << "loaded once";
}

TEST(HidapiBackendTest, EnumeratesAndRefusesMissingNodes) {
    HidapiBackend backend;
    if (!backend.Ok()) {
        GTEST_SKIP() << "hidapi could not be initialised here";
    }
    for (const auto& info : backend.Enumerate()) {
        EXPECT_FALSE(info.path.empty());
    }
    HidOpenError err = HidOpenError::None;
    EXPECT_EQ(backend.Open("/dev/tavrik-no-such-hidraw", &err), nullptr);
    EXPECT_EQ(err, HidOpenError::NotFound);
}

TEST(HidapiBackendTest, WideStringsBecomeUtf8) {
    EXPECT_EQ(WideToUtf8(L"K1 \u00e9\u4e2d\U0001F600"), "K1 \xC3\xA9\xE4\xB8\xAD\xF0\x9F\x98\x80");
    const wchar_t bad[] = {static_cast<wchar_t>(0xD800), static_cast<wchar_t>(0x110000), L'A', 0};
    EXPECT_EQ(WideToUtf8(bad),
              "\xEF\xBF\xBD\xEF\xBF\xBD"
              "A");
}

}  // namespace
}  // namespace tavrik
