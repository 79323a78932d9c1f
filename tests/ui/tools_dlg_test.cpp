// The layout and profile dialogs on a simulated keyboard behind the window: what they
// write, what the preview says, and that they stay with the keyboard they were opened for.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTest>

#include <fstream>

#include <sstream>
#include "device/session.h"

#include <nlohmann/json.hpp>

#include "cli_test_util.h"
#include "ui/app/app_style.h"
#include "ui/tools/layout_dlg.h"
#include "ui/tools/profile_dlg.h"
#include "ui/widgets/ui_prompts.h"
#include "window_rig.h"

namespace tavrik::ui::test {
namespace {

using nlohmann::json;
namespace fs = std::filesystem;

std::string ReadText(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// The module settings of the simulated keyboard as its file holds them.
json Modules(const fs::path& simFile) {
    json modules = json::parse(ReadText(simFile))["keyboards"][0]["modules"];
    for (auto& m : modules) {
        m.erase("pressed");
    }
    return modules;
}

struct ToolsRig : WindowRig {
    ToolsRig() : WindowRig(1, 12) {
        EXPECT_TRUE(UntilDevices([this] { return W().Hub().Count() == 1; }));
        EXPECT_TRUE(UntilKeysShown());
        UiPrompts::SetQuestionHook([](QWidget*, const QString&) { return true; });
    }
    ~ToolsRig() { UiPrompts::SetQuestionHook({}); }
    testing::CliResult Ctl(std::vector<std::string> args) {
        args.insert(args.begin(), "--simulate=" + simFile.string());
        return testing::RunCtl(args);
    }
    // The simulator file once the window's saver has written what the keyboard holds.
    bool UntilFileHas(const std::function<bool(const json&)>& pred) {
        return Until([&] { return pred(Modules(simFile)); }, std::chrono::seconds(30));
    }
};

// With TAVRIK_SHOT_DIR set, the dialog as the user sees it (the program's style) is saved
// there under `name`, for the guide and for a look before a change is called done.
void Shot(QWidget& dialog, const char* name) {
    const char* dir = std::getenv("TAVRIK_SHOT_DIR");
    if (dir == nullptr) {
        return;
    }
    ApplyAppStyle(*qApp);
    dialog.show();
    Until([] { return false; }, std::chrono::milliseconds(200));
    dialog.grab().save(QString("%1/%2.png").arg(dir, name));
}

template <class D>
bool UntilIdle(D& dialog) {
    return Until([&] { return !dialog.Busy(); }, std::chrono::seconds(60));
}

TEST(ProfileDialog, SavedProfileIsPreviewedThenBringsEveryKeyBack) {
    ToolsRig rig;
    const fs::path folder = rig.tmp.path / "profiles";
    CProfileDlg dialog(&rig.W(), rig.W().Hub(), 0, folder);
    EXPECT_EQ(dialog.List().count(), 0);
    EXPECT_FALSE(dialog.SaveButton().isEnabled()) << "nothing to save under yet";
    dialog.NameEdit().setText("../Home");
    QTest::mouseClick(&dialog.SaveButton(), Qt::LeftButton);
    EXPECT_TRUE(dialog.StatusText().contains("may not contain '/'"))
        << dialog.StatusText().toStdString();
    dialog.NameEdit().setText("Home");
    QTest::mouseClick(&dialog.SaveButton(), Qt::LeftButton);
    ASSERT_TRUE(UntilIdle(dialog));
    ASSERT_EQ(dialog.StatusText(), "Saved \"Home\".");
    ASSERT_EQ(dialog.List().count(), 1);
    ASSERT_TRUE(fs::is_regular_file(folder / "Home.json"));
    const json saved = Modules(rig.simFile);

    // Changed in the window: two key codes and a colour.
    CCCDev* dev = rig.W().Hub().Resolve(rig.W().Hub().Ref(0));
    ASSERT_NE(dev, nullptr);
    ASSERT_EQ(dev->AssignKey(3, 0, 0x74), 0);  // F5
    ASSERT_EQ(dev->AssignKey(4, 2, 0x42), 0);  // B
    ASSERT_EQ(dev->SetKeyColor(5, 0x00F000), 0);
    ASSERT_TRUE(rig.UntilFileHas([&](const json& m) { return m != saved; }));

    ASSERT_TRUE(dialog.Select("Home"));
    EXPECT_FALSE(dialog.RestoreButton().isEnabled()) << "only after a preview";
    QTest::mouseClick(&dialog.PreviewButton(), Qt::LeftButton);
    ASSERT_TRUE(UntilIdle(dialog));
    EXPECT_EQ(dialog.PreviewText(), "Restoring \"Home\" would change: 2 keys, 1 colour")
        << dialog.StatusText().toStdString();
    Shot(dialog, "profile-preview");
    ASSERT_TRUE(dialog.RestoreButton().isEnabled());
    QTest::mouseClick(&dialog.RestoreButton(), Qt::LeftButton);
    ASSERT_TRUE(UntilIdle(dialog));
    EXPECT_EQ(dialog.StatusText(), "Restored \"Home\".");
    EXPECT_TRUE(rig.UntilFileHas([&](const json& m) { return m == saved; }))
        << Modules(rig.simFile).dump() << "\n"
        << saved.dump();

    // Renamed and deleted through the same list.
    dialog.NameEdit().setText("Office");
    QTest::mouseClick(&dialog.RenameButton(), Qt::LeftButton);
    EXPECT_TRUE(fs::exists(folder / "Office.json"));
    EXPECT_FALSE(fs::exists(folder / "Home.json"));
    ASSERT_TRUE(dialog.Select("Office"));
    QTest::mouseClick(&dialog.DeleteButton(), Qt::LeftButton);
    EXPECT_EQ(dialog.List().count(), 0);
    EXPECT_FALSE(fs::exists(folder / "Office.json"));
}

TEST(ProfileDialog, PreviewNamesMissingAndUnsavedModulesAndWritesNothingToThem) {
    ToolsRig rig;
    const fs::path folder = rig.tmp.path / "profiles";
    CProfileDlg dialog(&rig.W(), rig.W().Hub(), 0, folder);
    dialog.NameEdit().setText("Before");
    QTest::mouseClick(&dialog.SaveButton(), Qt::LeftButton);
    ASSERT_TRUE(UntilIdle(dialog));
    ASSERT_EQ(rig.Ctl({"sim", "remove", "0", "2"}).status, 0);
    ASSERT_EQ(rig.Ctl({"sim", "insert", "0", "40"}).status, 0);
    // The file has them as soon as tavrikctl returns; the window's keyboard takes them in
    // a little later, and a preview before that would find nothing changed.
    ASSERT_TRUE(Until([&] {
        const SessionSnapshot snap = rig.W().Hub().Session(0).Snapshot();
        return snap.slots[40].Present() && !snap.slots[2].Present();
    }));
    ASSERT_TRUE(dialog.Select("Before"));
    QTest::mouseClick(&dialog.PreviewButton(), Qt::LeftButton);
    ASSERT_TRUE(UntilIdle(dialog));
    const QString text = dialog.PreviewText();
    EXPECT_TRUE(text.contains("The keyboard already matches \"Before\": nothing to change."))
        << text.toStdString();
    EXPECT_TRUE(text.contains("1 saved module is not attached: 0x")) << text.toStdString();
    EXPECT_TRUE(text.contains("1 attached module has no saved state and stays as it is: 0x"))
        << text.toStdString();
    EXPECT_TRUE(text.contains("(slot 40)")) << text.toStdString();
    Shot(dialog, "profile-mismatch");
    EXPECT_FALSE(dialog.RestoreButton().isEnabled()) << "nothing to write";
}

TEST(ProfileDialog, AKeyboardPulledOutIsSaidAndNothingIsWrittenToAnother) {
    ToolsRig rig;
    const fs::path folder = rig.tmp.path / "profiles";
    CProfileDlg dialog(&rig.W(), rig.W().Hub(), 0, folder);
    ASSERT_EQ(rig.Ctl({"sim", "unplug", "0"}).status, 0);
    ASSERT_TRUE(rig.UntilDevices([&] { return rig.W().Hub().Count() == 0; }));
    dialog.NameEdit().setText("Late");
    EXPECT_TRUE(Until([&] { return dialog.StatusText().contains("no longer connected"); }))
        << dialog.StatusText().toStdString();
    EXPECT_FALSE(dialog.SaveButton().isEnabled());
    // Plugged in again, it is a new attach: the dialog stays with the one it knew.
    ASSERT_EQ(rig.Ctl({"sim", "plug", "0"}).status, 0);
    ASSERT_TRUE(rig.UntilDevices([&] { return rig.W().Hub().Count() == 1; }));
    Until([] { return false; }, std::chrono::milliseconds(700));
    EXPECT_FALSE(dialog.SaveButton().isEnabled());
    QTest::mouseClick(&dialog.SaveButton(), Qt::LeftButton);
    EXPECT_FALSE(dialog.Busy());
    EXPECT_FALSE(fs::exists(folder / "Late.json"));
}

TEST(LayoutDialog, WritesTheChosenLayersAndSaysWhenItCannot) {
    ToolsRig rig;
    CLayoutDlg dialog(&rig.W(), rig.W().Hub(), 0);
    const fs::path out = rig.tmp.path / "keys.svg";
    dialog.FormatBox().setCurrentIndex(1);  // SVG
    dialog.FileEdit().setText(QString::fromStdString(out.string()));
    dialog.LayerBox(1).setChecked(false);
    dialog.LayerBox(3).setChecked(false);
    Shot(dialog, "layout-dialog");
    QTest::mouseClick(&dialog.SaveButton(), Qt::LeftButton);
    ASSERT_TRUE(UntilIdle(dialog));
    ASSERT_EQ(dialog.StatusText(),
              QString("Written: %1").arg(QString::fromStdString(out.string())));
    const std::string svg = ReadText(out);
    EXPECT_NE(svg.find("\u2013 layer 0</text>"), std::string::npos);
    EXPECT_NE(svg.find("\u2013 layer 2</text>"), std::string::npos);
    EXPECT_EQ(svg.find("\u2013 layer 1</text>"), std::string::npos);

    fs::create_directory(rig.tmp.path / "folder.svg");
    dialog.FileEdit().setText(QString::fromStdString((rig.tmp.path / "folder.svg").string()));
    QTest::mouseClick(&dialog.SaveButton(), Qt::LeftButton);
    ASSERT_TRUE(UntilIdle(dialog));
    EXPECT_TRUE(dialog.StatusText().startsWith("The layout was not written:"))
        << dialog.StatusText().toStdString();
    EXPECT_TRUE(fs::is_directory(rig.tmp.path / "folder.svg"));

    for (int l = 0; l < 4; ++l) {
        dialog.LayerBox(l).setChecked(false);
    }
    QTest::mouseClick(&dialog.SaveButton(), Qt::LeftButton);
    EXPECT_EQ(dialog.StatusText(), "Choose at least one layer.");
    EXPECT_FALSE(dialog.Busy());
}

TEST(ToolButtons, TheMainWindowOffersBothWithTooltips) {
    ToolsRig rig;
    for (const char* name : {"layoutButton", "profilesButton"}) {
        auto* button = rig.W().findChild<QWidget*>(name);
        ASSERT_NE(button, nullptr) << name;
        EXPECT_FALSE(button->toolTip().isEmpty()) << name;
    }
}

}  // namespace
}  // namespace tavrik::ui::test
