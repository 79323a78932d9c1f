// What the udev monitor reads from a hidraw node's USB parents, and which nodes it keeps.
#include <gtest/gtest.h>

#include "hid/device_monitor.h"

namespace tavrik {
namespace {

TEST(DeviceMonitorUdev, ReadsTheIdsOfTheUsbParents) {
    const auto ids = ParseUsbParentAttrs({"bcd0\n", "1100\n", "01\n"});
    ASSERT_TRUE(ids);
    EXPECT_EQ(*ids, (UsbInterfaceIds{0xBCD0, 0x1100, 1}));
    EXPECT_EQ(ParseUsbParentAttrs({"0483", "5710", "0a"}), (UsbInterfaceIds{0x0483, 0x5710, 10}));
    // Missing parents (a Bluetooth or virtual node) or odd texts are no keyboard.
    for (const UsbParentAttrs& bad :
         {UsbParentAttrs{"", "1100", "01"}, UsbParentAttrs{"bcd0", "1100", ""},
          UsbParentAttrs{"bcd", "1100", "01"}, UsbParentAttrs{"bcd0x", "1100", "01"},
          UsbParentAttrs{"bcdg", "1100", "01"}, UsbParentAttrs{"bcd0", "1100", "001"}}) {
        EXPECT_FALSE(ParseUsbParentAttrs(bad)) << bad.idVendor << " " << bad.bInterfaceNumber;
    }
}

TEST(DeviceMonitorUdev, KeepsOnlyTheVendorInterfacesOfTableKeyboards) {
    EXPECT_TRUE(IsTableKeyboardInterface({0x0483, 0x5710, 1}));
    EXPECT_TRUE(IsTableKeyboardInterface({0xBCD0, 0x1100, 1}));
    EXPECT_TRUE(IsTableKeyboardInterface({0xBCD0, 0x1100, 2}));
    EXPECT_FALSE(IsTableKeyboardInterface({0xBCD0, 0x1100, 0})) << "the plain keyboard";
    EXPECT_FALSE(IsTableKeyboardInterface({0x0483, 0x5710, 2}));
    EXPECT_FALSE(IsTableKeyboardInterface({0x046D, 0xC52B, 1})) << "a mouse receiver";
}

TEST(DeviceMonitorUdev, ProcessNeverBlocks) {
    std::string error;
    auto monitor = MakeUdevMonitor(&error);
    if (!monitor) {
        GTEST_SKIP() << "no udev here: " << error;
    }
    EXPECT_GE(monitor->Fd(), 0);
    EXPECT_TRUE(monitor->Wait(0).empty());
    EXPECT_TRUE(monitor->Process().empty());
}

}  // namespace
}  // namespace tavrik
