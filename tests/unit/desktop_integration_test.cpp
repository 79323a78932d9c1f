// What makes the program usable as an ordinary user: the words for a keyboard that may not
// be opened, the autostart entry's name, and the shipped desktop files agreeing with the code.
#include <gtest/gtest.h>

#include <cstdio>
#include <regex>
#include <set>
#include <string>

#include "app/app_id.h"
#include "app/autoboot.h"
#include "app/paths.h"
#include "app/profile_ini.h"
#include "app/settings.h"
#include "app/udev_access.h"
#include "app_test_env.h"
#include "hid/device_table.h"
#include "platform/xdg_autostart.h"

namespace tavrik {
namespace {

using test::AppTestEnv;
using test::ReadAll;
using test::WriteAll;

bool Has(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

TEST(UdevAccess, MissingRuleNamesNodesTheRuleItsPlacesAndTheCommands) {
    UdevRuleFacts rule;
    rule.copy = "/usr/local/lib/udev/rules.d/70-tavrik.rules";
    const std::string text = DeniedKeyboardsText({"/dev/hidraw3"}, rule);
    EXPECT_EQ(text.rfind("/dev/hidraw3 is a keyboard, but this user may not open it", 0), 0u);
    EXPECT_TRUE(
        Has(text, "sudo cp /usr/local/lib/udev/rules.d/70-tavrik.rules /etc/udev/rules.d/"));
    EXPECT_TRUE(Has(text, "/usr/lib/udev/rules.d"));
    EXPECT_TRUE(Has(text, "udevadm control --reload"));
    EXPECT_TRUE(Has(text, "udevadm trigger"));
    EXPECT_FALSE(Has(text, "\n"));  // one paragraph: it is also a status line

    // No copy found: the sources' one.
    const std::string unknown =
        DeniedKeyboardsText({"/dev/hidraw1", "/dev/hidraw2", "/dev/hidraw4"}, {});
    EXPECT_EQ(unknown.rfind("/dev/hidraw1, /dev/hidraw2 and /dev/hidraw4 are keyboards", 0), 0u);
    EXPECT_TRUE(Has(unknown, "sudo cp packaging/udev/70-tavrik.rules /etc/udev/rules.d/"));

    EXPECT_EQ(DeniedKeyboardsText({}, rule), "");
}

// The rule in place but the node still closed: installing it again would not help.
TEST(UdevAccess, InstalledRuleAsksOnlyToApplyIt) {
    UdevRuleFacts rule;
    rule.active = "/usr/lib/udev/rules.d/70-tavrik.rules";
    const std::string text = DeniedKeyboardsText({"/dev/hidraw0"}, rule);
    EXPECT_TRUE(Has(text, "/dev/hidraw0"));
    EXPECT_TRUE(Has(text, "/usr/lib/udev/rules.d/70-tavrik.rules is installed"));
    EXPECT_TRUE(Has(text, "udevadm control --reload && sudo udevadm trigger"));
    EXPECT_FALSE(Has(text, "sudo cp"));
}

// The same facts in the user's language, from the text tables; the paths and commands
// stay as they are, to be copied.
TEST(UdevAccess, TheHelpIsInTheUsersLanguage) {
    const test::ResourceRootScope root(
        std::filesystem::path(__FILE__).parent_path().parent_path().parent_path());
    UdevRuleFacts rule;
    rule.copy = "/usr/local/lib/udev/rules.d/70-tavrik.rules";
    const std::string zh = DeniedKeyboardsText({"/dev/hidraw3"}, rule, "zh-cn");
    EXPECT_EQ(zh.rfind("/dev/hidraw3 是一个键盘", 0), 0u) << zh;
    EXPECT_TRUE(Has(zh,
                    "sudo cp /usr/local/lib/udev/rules.d/70-tavrik.rules /etc/udev/rules.d/ && "
                    "sudo udevadm control --reload && sudo udevadm trigger"))
        << zh;
    EXPECT_FALSE(Has(zh, "plug the keyboard")) << zh;
    const std::string many = DeniedKeyboardsText({"/dev/hidraw1", "/dev/hidraw2"}, {}, "zh-cn");
    EXPECT_EQ(many.rfind("/dev/hidraw1 和 /dev/hidraw2 是键盘", 0), 0u) << many;
    EXPECT_TRUE(Has(many, "sudo cp packaging/udev/70-tavrik.rules")) << many;
    rule.active = "/usr/lib/udev/rules.d/70-tavrik.rules";
    EXPECT_TRUE(Has(DeniedKeyboardsText({"/dev/hidraw0"}, rule, "zh-cn"),
                    "udev 规则 /usr/lib/udev/rules.d/70-tavrik.rules 已经安装"));
}

TEST(UdevAccess, FindsTheRuleWhereUdevReadsIt) {
    AppTestEnv env;
    const auto root = env.Root() / "sys";
    EXPECT_TRUE(FindUdevRule(root).active.empty());
    WriteAll(root / "usr/lib/udev/rules.d/70-tavrik.rules", "x\n");
    EXPECT_EQ(FindUdevRule(root).active, "/usr/lib/udev/rules.d/70-tavrik.rules");
    WriteAll(root / "etc/udev/rules.d/70-tavrik.rules", "x\n");  // overrides the package's
    EXPECT_EQ(FindUdevRule(root).active, "/etc/udev/rules.d/70-tavrik.rules");
    // Only a regular file counts.
    std::filesystem::remove(root / "etc/udev/rules.d/70-tavrik.rules");
    std::filesystem::create_directories(root / "etc/udev/rules.d/70-tavrik.rules");
    EXPECT_EQ(FindUdevRule(root).active, "/usr/lib/udev/rules.d/70-tavrik.rules");
}

// Named after the executable, an older version's entry would start a second copy at log-in.
TEST(AppAutostart, EntryCarriesTheIdAndAnOlderEntryGoes) {
    AppTestEnv env;
    const auto legacy = AutostartEntryFile(ApplicationName());
    ASSERT_EQ(AutoBootEntryFile().filename(), std::string(kAppId) + ".desktop");
    ASSERT_NE(legacy, AutoBootEntryFile());

    ASSERT_EQ(SetAutoBootEntry(), 1);
    WriteAll(legacy, "[Desktop Entry]\nExec=/old/place/tavrik -auto\n");
    EXPECT_EQ(IsAutoBootEntryPresent(), 0);
    ASSERT_EQ(SetAutoBootEntry(), 1);
    EXPECT_FALSE(std::filesystem::exists(legacy));
    EXPECT_EQ(IsAutoBootEntryPresent(), 1);

    WriteAll(legacy, "[Desktop Entry]\nExec=/old/place/tavrik -auto\n");
    EXPECT_EQ(DeleteAutoBootEntry(), 1);
    EXPECT_FALSE(std::filesystem::exists(legacy));
    EXPECT_FALSE(std::filesystem::exists(AutoBootEntryFile()));

    // A start with autostart on moves an upgraded user's entry over.
    WriteAll(legacy, "[Desktop Entry]\nExec=/old/place/tavrik -auto\n");
    WriteAll(DataFolder() / kSettingsFileName, "[Config1]\nAutoStart=Y\nLanguage=en\n");
    AppSettings settings;
    settings.LoadSettings(/*autoBoot=*/true);
    EXPECT_FALSE(std::filesystem::exists(legacy));
    EXPECT_EQ(IsAutoBootEntryPresent(), 1);
}

std::string Shipped(const std::string& relative) {
    const std::string text = ReadAll(std::string(TAVRIK_SOURCE_DIR) + "/packaging/" + relative);
    EXPECT_FALSE(text.empty()) << relative;
    return text;
}

// The desktop file, the icon and the window name one id; the metainfo offers the program
// for exactly the keyboards the udev rule opens.
TEST(Packaging, DesktopFilesCarryTheIdAndTheTableIds) {
    const std::string desktop = Shipped(std::string(kAppId) + ".desktop");
    EXPECT_TRUE(Has(desktop, "\nIcon=" + std::string(kAppId) + "\n"));
    EXPECT_TRUE(Has(desktop, "\nExec=tavrik\n"));

    const std::string meta = Shipped(std::string(kAppId) + ".metainfo.xml");
    EXPECT_TRUE(Has(meta, "<id>" + std::string(kAppId) + "</id>"));
    EXPECT_TRUE(Has(meta, ">" + std::string(kAppId) + ".desktop</launchable>"));
    std::set<std::string> offered;
    const std::regex modalias("<modalias>([^<]*)</modalias>");
    for (std::sregex_iterator it(meta.begin(), meta.end(), modalias), end; it != end; ++it) {
        offered.insert((*it)[1]);
    }
    std::set<std::string> table;
    for (const auto& r : kDeviceTable) {
        char alias[32];
        // The kernel writes USB modaliases in upper-case hex.
        std::snprintf(alias, sizeof alias, "usb:v%04Xp%04X*", unsigned{r.vendorId},
                      unsigned{r.productId});
        table.insert(alias);
    }
    EXPECT_EQ(offered, table);

    // The rule must run before the seat rules (73) that turn its tag into access.
    const std::string rule = Shipped(std::string("udev/") + kUdevRuleName);
    EXPECT_LT(std::stoi(kUdevRuleName), 73);
    EXPECT_FALSE(Has(rule, "MODE="));
    EXPECT_TRUE(Has(rule, "TAG+=\"uaccess\""));
}

}  // namespace
}  // namespace tavrik
