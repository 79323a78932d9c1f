// Slow and silent keyboards: the scan says what it does not know, and a backup is never
// written from it.
#include <fstream>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "hostile.h"

namespace tavrik::hostile {
namespace {

using namespace std::chrono_literals;

// A simulated keyboard of `keys` modules, changed by `edit` (its JSON entry).
template <typename Edit>
void MakeKeyboard(const Sandbox& box, int keys, Edit edit) {
    const CtlRun r = box.Ctl(
        {"sim", "init", box.SimFile().string(), "--keys", std::to_string(keys)}, 60s, false);
    ASSERT_EQ(r.status, 0) << r.err;
    auto j = nlohmann::json::parse(std::ifstream(box.SimFile()));
    edit(j["keyboards"][0]);
    std::ofstream(box.SimFile()) << j.dump(1);
}

TEST(HostileScan, AKeyboardThatNeverAnswersTheScanIsNoAnswerAndWritesNoBackup) {
    Sandbox box;
    MakeKeyboard(box, 20, [](nlohmann::json&) {});
    ASSERT_EQ(box.Ctl({"backup", "good.json"}).status, 0);
    const FileFacts good = Facts(box / "good.json");
    ASSERT_NE(good.bytes.find("modules"), std::string::npos);

    MakeKeyboard(box, 20, [](nlohmann::json& k) { k["faults"]["silentCodes"] = {4}; });
    const CtlRun scan = box.Ctl({"scan"});
    EXPECT_EQ(scan.status, 1);
    EXPECT_NE(scan.err.find("does not answer the scan"), std::string::npos) << scan.err;
    EXPECT_NE(scan.out.find("Keys: no answer"), std::string::npos) << scan.out;
    EXPECT_EQ(scan.out.find("0 in all"), std::string::npos) << scan.out;

    const CtlRun backup = box.Ctl({"backup", "good.json"});
    EXPECT_EQ(backup.status, 1);
    EXPECT_NE(backup.err.find("does not answer the scan"), std::string::npos) << backup.err;
    EXPECT_EQ(Facts(box / "good.json"), good);
}

TEST(HostileScan, AKeyboardSlowerThanTheReplyWaitScansAndBacksUpInFull) {
    Sandbox box;
    MakeKeyboard(box, 12, [](nlohmann::json& k) { k["latencyMs"] = 80; });
    const CtlRun scan = box.Ctl({"scan", "--json"}, 180s);
    ASSERT_EQ(scan.status, 0) << scan.err;
    const auto j = nlohmann::json::parse(scan.out);
    EXPECT_EQ(j["counts"]["total"], 12);
    EXPECT_TRUE(j["unanswered"].empty());

    const CtlRun backup = box.Ctl({"backup", "slow.json"}, 180s);
    EXPECT_EQ(backup.status, 0) << backup.err;
    const auto b = nlohmann::json::parse(box.ReadFile("slow.json"));
    EXPECT_EQ(b["modules"].size(), 12u);
}

}  // namespace
}  // namespace tavrik::hostile
