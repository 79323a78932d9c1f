// The keyboard hub: slots filled in order, arrival and removal, the selected keyboard,
// and what it reports for front ends to explain.
#include <gtest/gtest.h>

#include <cstdlib>

#include "app/keyboard_backend.h"
#include "device/keyboard_hub.h"
#include "keyboard_rig.h"
#include "log_capture.h"
#include "sim/sim_init.h"

namespace tavrik {
namespace {

using test::FastHub;
using test::NotifyRecorder;

sim::SimKeyboardState Keyboard(int row, const std::string& serial) {
    auto s = *sim::MakeInitialState(4, row, 1, 50, 3);
    s.serial = serial;
    return s;
}

// A hub on a backend with keyboards plugged in at the given backend indexes.
struct Hub {
    NotifyRecorder rec;
    KeyboardHub hub;
    sim::SimBackend& sim;

    explicit Hub(std::initializer_list<int> plugged)
        : hub(std::make_unique<sim::SimBackend>(), rec, FastHub()),
          sim(*sim::SimOf(hub.Backend())) {
        for (int i : plugged) {
            sim.Attach(i, Keyboard(i % 4, "KB" + std::to_string(i)));
        }
    }
    std::string Serial(int slot) { return hub.Transport(slot).m_szSerial; }
    bool HostShown(int index) {
        std::optional<bool> shown;
        sim.WithKeyboard(index, [&](sim::SimKeyboard& k) { shown = k.HostActive(); });
        return shown.value_or(false);
    }
};

TEST(HubAttach, FillsSlotsInOrderAndSelectsTheFirst) {
    Hub h({0, 1, 2});
    EXPECT_EQ(h.hub.AttachPresent(), 3);
    for (int i = 0; i < 3; ++i) {
        EXPECT_TRUE(h.hub.IsAttached(i));
        EXPECT_EQ(h.Serial(i), "KB" + std::to_string(i));
        EXPECT_EQ(h.hub.Session(i).Snapshot().running, true);
    }
    EXPECT_FALSE(h.hub.IsAttached(3));
    EXPECT_EQ(h.hub.Selected(), 0);
    EXPECT_EQ(h.hub.Session(3).Snapshot().running, false) << "the search stopped at the empty slot";
    EXPECT_FALSE(h.hub.Select(3));
    EXPECT_TRUE(h.hub.Select(2));
    EXPECT_EQ(h.hub.Selected(), 2);
}

TEST(HubAttach, RemovingTheSelectedKeyboardSelectsTheNextAndPlugInReturnsToTheFreeSlot) {
    Hub h({0, 1});
    ASSERT_EQ(h.hub.AttachPresent(), 2);
    test::LogCapture log;
    const std::string path0 = h.hub.Transport(0).m_strPath;
    h.sim.Detach(0);
    EXPECT_EQ(h.hub.OnRemoval("/dev/sim/hidraw99"), -1) << "not attached: nothing changes";
    EXPECT_EQ(h.hub.OnRemoval(path0), 0);
    EXPECT_TRUE(log.HasLine("DBT_DEVICEREMOVECOMPLETE, dev =" + path0, "TavrikDlg"));
    EXPECT_TRUE(log.HasLine("USB device change, Remove device " + path0, "TavrikDlg"));
    EXPECT_FALSE(h.hub.IsAttached(0));
    EXPECT_EQ(h.hub.Count(), 1);
    EXPECT_EQ(h.hub.Selected(), 1);
    EXPECT_EQ(h.hub.Session(0).Snapshot().running, false);
    // The keyboard shown now hears that the host shows it, and its summary comes again.
    EXPECT_TRUE(test::Eventually([&] { return h.HostShown(1); }));
    EXPECT_GE(h.rec.Count(UM_INFO_DLG_SUMMARY_CHANGE), 1u);

    // Back in: the plain interface is turned away, the vendor one takes the free slot 0.
    h.sim.Attach(0);
    const std::string vendor = h.sim.VendorPath(0);
    std::string plain = vendor;
    for (const auto& info : h.hub.Backend().Enumerate()) {
        if (info.path != vendor && info.serial == "KB0") {
            plain = info.path;
        }
    }
    ASSERT_NE(plain, vendor);
    EXPECT_EQ(h.hub.OnArrival(plain), -1);
    EXPECT_TRUE(log.HasLine("Not Tavrik Dev, skip, " + plain, "TavrikDlg"));
    EXPECT_EQ(h.hub.OnArrival(vendor), 0);
    EXPECT_TRUE(log.HasLine("Tavrik Dev Found", "TavrikDlg"));
    EXPECT_EQ(h.Serial(0), "KB0");
    EXPECT_EQ(h.hub.Count(), 2);
    EXPECT_EQ(h.hub.Selected(), 1) << "an arrival does not take the selection";

    // Removing the last keyboards leaves nothing selected and nothing running.
    h.sim.Detach(0);
    h.sim.Detach(1);
    h.hub.Handle(
        {{DeviceChange::Removed, vendor}, {DeviceChange::Removed, h.hub.Transport(1).m_strPath}});
    EXPECT_EQ(h.hub.Count(), 0);
    EXPECT_EQ(h.hub.Selected(), 0);
}

TEST(HubAttach, FirstArrivalIsSelectedAndAFifthKeyboardIsIgnored) {
    Hub h({});
    EXPECT_EQ(h.hub.AttachPresent(), 0);
    EXPECT_EQ(h.hub.Session(0).Snapshot().running, false);
    h.sim.Attach(2, Keyboard(1, "KB2"));
    EXPECT_EQ(h.hub.OnArrival(h.sim.VendorPath(2)), 0);
    EXPECT_EQ(h.hub.Selected(), 0);
    for (int i : {0, 1, 3}) {
        h.sim.Attach(i, Keyboard(0, "KB" + std::to_string(i)));
        EXPECT_GE(h.hub.OnArrival(h.sim.VendorPath(i)), 0);
    }
    ASSERT_EQ(h.hub.Count(), 4);
    // A fifth interface: the backend has four places, so one is unplugged and stands in
    // for it while all four slots are taken.
    test::LogCapture log;
    EXPECT_EQ(h.hub.OnArrival(h.sim.VendorPath(1)), -1);
    EXPECT_FALSE(log.Contains("DBT_DEVICEARRIVAL"));
}

TEST(HubAttach, WithScanOnAttachTheSessionScansAtOnce) {
    NotifyRecorder rec;
    auto options = FastHub();
    options.scanOnAttach = true;
    KeyboardHub hub(test::SimBackendWith(Keyboard(0, "KB0")), rec, options);
    ASSERT_EQ(hub.AttachPresent(), 1);
    EXPECT_TRUE(rec.WaitFor(UM_INFO_UPDATE_CHECK, 1));
    EXPECT_EQ(hub.Session(0).Snapshot().counts.total, 4);
}

TEST(HubAttach, KeyboardsWithoutPermissionAreReportedNotAttached) {
    NotifyRecorder rec;
    KeyboardHub hub(std::make_unique<test::DeniedBackend>(), rec, FastHub());
    EXPECT_EQ(sim::SimOf(hub.Backend()), nullptr);
    EXPECT_EQ(hub.AttachPresent(), 0);
    EXPECT_EQ(hub.DeniedPaths(), std::vector<std::string>{"/dev/hidraw7"});
    EXPECT_TRUE(hub.OpenFailures().empty());
}

// Simulated keyboards, one of which answers the search's probe but will not open after.
class OpensOnceBackend final : public HidBackend {
public:
    OpensOnceBackend(std::unique_ptr<sim::SimBackend> sim, std::string stuck)
        : sim_(std::move(sim)), stuck_(std::move(stuck)) {}
    std::vector<HidDeviceInfo> Enumerate() override { return sim_->Enumerate(); }
    std::unique_ptr<HidHandle> Open(const std::string& path, HidOpenError* error) override {
        if (path == stuck_ && ++opens_ > 1) {
            *error = HidOpenError::Other;
            return nullptr;
        }
        return sim_->Open(path, error);
    }

private:
    std::unique_ptr<sim::SimBackend> sim_;
    std::string stuck_;
    int opens_ = 0;
};

TEST(HubAttach, AKeyboardThatWillNotOpenDoesNotHideTheNextOne) {
    auto sim = std::make_unique<sim::SimBackend>();
    sim->Attach(0, Keyboard(0, "KB0"));
    sim->Attach(1, Keyboard(1, "KB1"));
    const std::string stuck = sim->VendorPath(0);
    NotifyRecorder rec;
    KeyboardHub hub(std::make_unique<OpensOnceBackend>(std::move(sim), stuck), rec, FastHub());
    EXPECT_EQ(hub.AttachPresent(), 1);
    ASSERT_EQ(hub.OpenFailures().size(), 1u);
    EXPECT_EQ(hub.OpenFailures()[0].path, stuck);
    EXPECT_FALSE(hub.IsAttached(0));
    ASSERT_TRUE(hub.IsAttached(1));
    EXPECT_EQ(hub.Transport(1).m_szSerial, "KB1");
    EXPECT_EQ(hub.Selected(), 1);
}

// A ref names one attach: the keyboard's going ends it, another keyboard in its slot (or
// the same one plugged in again) is not it, and other keyboards do not touch it.
TEST(HubIdentity, ARefResolvesOnlyWhileItsAttachLasts) {
    Hub h({0, 1});
    ASSERT_EQ(h.hub.AttachPresent(), 2);
    const KeyboardRef first = h.hub.Ref(0);
    const KeyboardRef second = h.hub.Ref(1);
    EXPECT_FALSE(first.Empty());
    EXPECT_NE(first, second);
    EXPECT_TRUE(h.hub.Ref(2).Empty());
    EXPECT_EQ(h.hub.Resolve(KeyboardRef{}), nullptr);
    EXPECT_EQ(h.hub.Resolve(first), &h.hub.Session(0));

    const std::string path1 = h.hub.Transport(1).m_strPath;
    h.sim.Detach(1);
    ASSERT_EQ(h.hub.OnRemoval(path1), 1);
    EXPECT_EQ(h.hub.Resolve(second), nullptr);
    EXPECT_EQ(h.hub.Resolve(first), &h.hub.Session(0)) << "another keyboard went, not this one";

    h.sim.Attach(1);
    ASSERT_EQ(h.hub.OnArrival(h.sim.VendorPath(1)), 1);
    EXPECT_EQ(h.hub.Resolve(second), nullptr) << "plugged in again: a new attach";
    EXPECT_NE(h.hub.Ref(1), second);
    EXPECT_EQ(h.hub.Resolve(h.hub.Ref(1)), &h.hub.Session(1));
    EXPECT_TRUE(h.hub.Holds(first));
}

TEST(HubOptionsTest, PauseScaleFromTheEnvironment) {
    struct Case {
        const char* value;
        double scale;
    };
    for (const Case c : {Case{"0.05", 0.05}, Case{"0", 0.0}, Case{"3", 1.0}, Case{"-1", 1.0},
                         Case{"fast", 1.0}, Case{"0.5x", 1.0}, Case{"", 1.0}}) {
        ::setenv("TAVRIK_SIM_PAUSE_SCALE", c.value, 1);
        EXPECT_DOUBLE_EQ(SimPauseScaleFromEnv(), c.scale) << c.value;
    }
    ::unsetenv("TAVRIK_SIM_PAUSE_SCALE");
    EXPECT_DOUBLE_EQ(SimPauseScaleFromEnv(), 1.0);

    NotifyRecorder rec;
    KeyboardHub sim(std::make_unique<sim::SimBackend>(), rec, FastHub(0.25));
    EXPECT_DOUBLE_EQ(sim.Session(3).Clock().PauseScale(), 0.25);
    KeyboardHub real(std::make_unique<test::DeniedBackend>(), rec, FastHub(0.25));
    EXPECT_DOUBLE_EQ(real.Session(0).Clock().PauseScale(), 1.0) << "real keyboards keep time";
}

}  // namespace
}  // namespace tavrik
