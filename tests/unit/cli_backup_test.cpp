// backup and restore against a simulated keyboard that is changed behind their back by
// editing its file.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>

#include <nlohmann/json.hpp>

#include "cli_test_util.h"

namespace tavrik {
namespace {

using nlohmann::json;
using testing::RunCtl;

std::string ReadText(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

class CliDeviceBackup : public ::testing::Test {
protected:
    std::filesystem::path dir =
        std::filesystem::path(::testing::TempDir()) /
        ("cli_backup_" +
         std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
    std::string file = (dir / "sim.json").string();
    std::string sim = "--simulate=" + file;
    std::string b1 = (dir / "b1.json").string();
    std::string b2 = (dir / "b2.json").string();

    void SetUp() override {
        setenv("TAVRIK_SIM_PAUSE_SCALE", "0.05", 1);
        std::filesystem::remove_all(dir);
        std::filesystem::create_directories(dir);
    }
    void Init(const std::string& version) {
        ASSERT_EQ(RunCtl({"sim", "init", file, "--keys", "12", "--version", version}).status, 0);
    }
    testing::CliResult Run(std::vector<std::string> args) {
        args.insert(args.begin(), sim);
        return RunCtl(args);
    }
    // Edits the simulated keyboard; `edit` gets the keyboard and its modules by slot.
    template <class F>
    void EditSim(F edit) {
        json j = json::parse(ReadText(file));
        json& kb = j["keyboards"][0];
        std::map<int, json*> bySlot;
        for (auto& m : kb["modules"]) {
            bySlot[m["slot"].get<int>()] = &m;
        }
        edit(kb, bySlot);
        std::ofstream(file) << j.dump();
    }
    static json Module(const json& backup, const std::string& uid) {
        for (const auto& m : backup["modules"]) {
            if (m["uid"] == uid) {
                return m;
            }
        }
        return nullptr;
    }
};

const json kTapC = json::array({{{"entry", 0}, {"flag", 1}, {"kv", 6}, {"delay", 25}},
                                {{"entry", 1}, {"flag", 2}, {"kv", 6}, {"delay", 25}},
                                {{"entry", 2}, {"flag", 0}, {"kv", 0}, {"delay", 0}}});

TEST_F(CliDeviceBackup, RestoreUndoesEveryChangeAndThenHasNothingLeftToDo) {
    Init("1.60");
    // A second macro key, on layer 1, so one macro can be replaced and another removed.
    EditSim([](json&, auto& slot) {
        (*slot[10])["hid"] = {0x15, 3, 0, 0};
        (*slot[10])["marco"] = kTapC;
    });
    auto r = Run({"backup", b1});
    ASSERT_EQ(r.status, 0) << r.err;
    const json before = json::parse(ReadText(b1));
    ASSERT_EQ(before["modules"].size(), 12u);
    EXPECT_EQ(before["modules"][9]["stage"], "B");
    EXPECT_FALSE(before["modules"][9].contains("hid"));
    EXPECT_TRUE(before["modules"][6]["color"].is_null());  // waiting for an assignment
    ASSERT_EQ(before["modules"][10]["macro"].size(), 3u);
    EXPECT_EQ(before["modules"][10]["macro"][2], json({{"flag", 0}, {"kv", 0}, {"delay", 0}}));
    ASSERT_EQ(before["modules"][8]["macro"].size(), 5u);

    EditSim([](json& kb, auto& slot) {
        kb["nkro"] = true;
        kb["configuredModules"] = 60;
        kb["usbRate"] = 4;
        (*slot[0])["hid"] = {0, 0, 0, 0};  // lost its assignment: needs it before a colour
        (*slot[0])["colour"] = "0x00000000";
        (*slot[1])["colour"] = "0x00102030";
        (*slot[2])["hid"] = {0x2C, 0x2D, 0x2E, 0x2F};
        (*slot[2])["flag"] = 0x0F;
        (*slot[3])["hid"] = {3, 0, 0, 0};  // gained a macro the backup does not have
        (*slot[3])["marco"] = kTapC;
        (*slot[8])["marco"] = kTapC;  // replaced
        (*slot[10])["hid"] = {0x15, 0x16, 0, 0};
        slot[10]->erase("marco");  // removed with its layer
    });
    const std::string changed = ReadText(file);

    r = Run({"restore", b1, "--dry-run", "--json"});
    ASSERT_EQ(r.status, 0) << r.err;
    const json plan = json::parse(r.out);
    EXPECT_EQ(ReadText(file), changed) << "a dry run wrote to the keyboard";
    std::multiset<std::string> what;
    for (const auto& c : plan["changes"]) {
        EXPECT_EQ(c["status"], "planned");
        what.insert(c["what"].get<std::string>());
    }
    EXPECT_EQ(what,
              (std::multiset<std::string>{"nkro", "usbRate", "overload", "layers", "layers",
                                          "layers", "layers", "color", "color", "macro", "macro"}));

    r = Run({"restore", b1, "--json"});
    ASSERT_EQ(r.status, 0) << r.err << r.out;
    const json done = json::parse(r.out);
    EXPECT_EQ(done["changes"].size(), plan["changes"].size());
    for (const auto& c : done["changes"]) {
        EXPECT_EQ(c["status"], "done") << c.dump();
    }

    ASSERT_EQ(Run({"backup", b2}).status, 0);
    EXPECT_EQ(json::parse(ReadText(b2)), before) << ReadText(b2);

    const std::string restored = ReadText(file);
    r = Run({"restore", b1, "--json"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(json::parse(r.out)["changes"].empty()) << r.out;
    EXPECT_EQ(ReadText(file), restored) << "a restore of an unchanged keyboard wrote to it";
}

TEST_F(CliDeviceBackup, RestorePlacesModulesByUidAndReportsWhatItCannotPlace) {
    Init("1.10");  // too old for full-key rollover
    ASSERT_EQ(Run({"backup", b1}).status, 0);
    json backup = json::parse(ReadText(b1));
    backup["modes"]["nkro"] = true;      // refused by the session
    backup["modes"]["overload"] = true;  // sent, but ignored by this firmware
    backup["modes"]["modules"] = 60;
    std::ofstream(b1) << backup.dump();
    const auto uid = [&](int slot) { return backup["modules"][slot]["uid"].get<std::string>(); };

    EditSim([](json& kb, auto& slot) {
        (*slot[2])["slot"] = 20;  // moved, and changed
        (*slot[2])["hid"] = {0x10, 0, 0, 0};
        (*slot[5])["stage"] = "B";
        auto& modules = kb["modules"];
        for (size_t i = 0; i < modules.size(); ++i) {
            if (modules[i]["slot"] == 4) {
                modules.erase(i);
                break;
            }
        }
        modules.push_back(
            {{"slot", 30}, {"uid", "0x12345678"}, {"shortMac", 99}, {"hid", {4, 0, 0, 0}}});
    });

    auto r = Run({"restore", b1, "--json"});
    EXPECT_EQ(r.status, 1);
    const json report = json::parse(r.out);
    std::map<std::string, std::string> notPlaced;
    for (const auto& p : report["notPlaced"]) {
        notPlaced[p["uid"]] = p["reason"];
    }
    ASSERT_EQ(notPlaced.size(), 2u) << r.out;
    EXPECT_NE(notPlaced[uid(4)].find("not attached"), std::string::npos);
    EXPECT_NE(notPlaced[uid(5)].find("bootloader"), std::string::npos);
    EXPECT_EQ(report["notInBackup"], json::parse(R"([{"uid": "0x12345678", "slot": 30}])"));
    std::set<std::string> failedModes;
    bool sawMoved = false;
    for (const auto& c : report["changes"]) {
        if (c["what"] == "nkro" || c["what"] == "overload") {
            failedModes.insert(c["what"].get<std::string>());
            EXPECT_EQ(c["status"], "failed");
            if (c["what"] == "overload") {
                EXPECT_EQ(c["error"], "the keyboard did not take it");
            }
        } else {
            EXPECT_EQ(c["what"], "layers");
            EXPECT_EQ(c["uid"], uid(2));
            EXPECT_EQ(c["slot"], 20);
            EXPECT_EQ(c["status"], "done");
            sawMoved = true;
        }
    }
    EXPECT_EQ(failedModes.size(), 2u) << r.out;
    EXPECT_TRUE(sawMoved) << r.out;

    ASSERT_EQ(Run({"backup", b2}).status, 0);
    const json after = json::parse(ReadText(b2));
    json moved = Module(after, uid(2));
    EXPECT_EQ(moved["slot"], 20);
    moved["slot"] = 2;
    EXPECT_EQ(moved, backup["modules"][2]);
    EXPECT_EQ(Module(after, "0x12345678")["hid"], json({4, 0, 0, 0}));  // left as it was
}

TEST_F(CliDeviceBackup, BadFilesAreRefusedAndAnUnreadableMacroWritesNoBackup) {
    Init("1.60");
    const json valid = {
        {"format", "tavrik-keyboard-backup"},
        {"version", 1},
        {"keyboard", json::object()},
        {"modes", {{"nkro", false}, {"overload", false}, {"modules", 44}, {"usbRate", 1}}},
        {"modules", json::array()}};
    const json module = {{"uid", "0x00000042"}, {"slot", 1}, {"stage", "A"},
                         {"hid", {4, 0, 0, 0}}, {"flag", 0}, {"color", "#F00000"},
                         {"macro", nullptr}};
    const std::string path = (dir / "in.json").string();
    const auto restore = [&](const std::string& text) {
        std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
        return Run({"restore", path, "--dry-run"});
    };
    // The base documents are read: the keyboard's own modules are merely not in them, the
    // one module listed is not attached.
    json withModule = valid;
    withModule["modules"] = {module};
    ASSERT_EQ(restore(valid.dump()).status, 0);
    ASSERT_EQ(restore(withModule.dump()).status, 1);

    const auto mutated = [&](auto change) {
        json j = withModule;
        change(j, j["modules"][0]);
        return j.dump();
    };
    const std::vector<std::string> bad = {
        "",
        "garbage",
        std::string("\xFF\xFE{\0\x01", 5),
        "[]",
        R"({"format": "tavrik-keyboard-backup"})",
        valid.dump().substr(0, 40),
        mutated([](json& j, json&) { j["format"] = "something else"; }),
        mutated([](json& j, json&) { j["version"] = 2; }),
        mutated([](json& j, json&) { j["modes"]["usbRate"] = "fast"; }),
        mutated([](json& j, json& m) { j["modules"].push_back(m); }),  // UID twice
        mutated([](json&, json& m) { m["uid"] = "0x0"; }),
        mutated([](json&, json& m) {
            m["hid"] = {4, 0, 0};
        }),
        mutated([](json&, json& m) { m["hid"][1] = 256; }),
        mutated([](json&, json& m) { m["color"] = "red"; }),
        mutated([](json&, json& m) { m["hid"][0] = 0; }),  // a colour on an unassigned key
        mutated([](json&, json& m) { m["hid"][2] = 3; }),  // a macro layer without its macro
        mutated([](json&, json& m) {                       // no End entry
            m["hid"][2] = 3;
            m["macro"] = json::parse(R"([{"flag":1,"kv":4,"delay":9}])");
        }),
        mutated([](json&, json& m) {  // a macro on a key without a macro layer
            m["macro"] = json::parse(R"([{"flag":0,"kv":0,"delay":0}])");
        }),
        mutated([](json&, json& m) {
            m["hid"][2] = 3;
            m["macro"] =
                json::parse(R"([{"flag":0,"kv":0,"delay":0},{"flag":1,"kv":4,"delay":9}])");
        }),
    };
    for (size_t i = 0; i < bad.size(); ++i) {
        const auto r = restore(bad[i]);
        EXPECT_EQ(r.status, 2) << i << ": " << bad[i] << "\n" << r.err;
        EXPECT_NE(r.err.find("not a valid backup"), std::string::npos) << i << ": " << r.err;
    }
    EXPECT_EQ(Run({"restore", (dir / "missing.json").string()}).status, 1);

    // The macro key answers for the wrong entry: the backup fails and the old one stays.
    EditSim([](json& kb, auto&) { kb["faults"]["wrongMarcoEntry"] = true; });
    std::ofstream(b1) << "an earlier backup";
    const auto r = Run({"backup", b1});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("could not be read"), std::string::npos) << r.err;
    EXPECT_EQ(ReadText(b1), "an earlier backup");
    for (const auto& entry : std::filesystem::directory_iterator(dir)) {
        EXPECT_EQ(entry.path().filename().string().find(".tmp"), std::string::npos) << entry.path();
    }
}

}  // namespace
}  // namespace tavrik
